#include "app/WinFileInfo.h"

#include "app/Skin.h"
#include "controls/NamedWidget.h"
#include "engine/FFmpegVCL.h"
#include "probe/AVProbe.h"
#include "probe/StreamFacts.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kWholeNameLength = 45;
constexpr int kNameHeadLength = 40;
constexpr int kNameWidth = 270;

QLabel* NewLabel(const QString& name, const QString& text, const QRect& geometry, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

QGroupBox* NewGroup(const QString& name, const QString& caption, const QString& accessibleName,
                    const QRect& geometry, QWidget* parent) {
    return Named(new QGroupBox(caption, parent), name, accessibleName, geometry);
}

// One row of a group: its caption and the read-only box of the value.
QLineEdit* NewField(const QString& labelName, const QString& caption, const QString& name, int row,
                    QWidget* group) {
    const int y = 24 + row * 32;
    NewLabel(labelName, caption, QRect(16, y + 2, 96, 22), group);
    auto* edit = Named(new QLineEdit(group), name, caption, QRect(120, y, 250, 24));
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::Text, palette.color(QPalette::ToolTipText));
    edit->setPalette(palette);
    return edit;
}

QString Decimal(int64_t value) {
    return QString::number(value);
}

} // namespace

TfrmFileInfo::TfrmFileInfo(QWidget* mainWindow)
    : QDialog(mainWindow), CCAVC(std::make_unique<TFFmpegVCL>()), FMainWindow(mainWindow) {
    setObjectName("frmFileInfo");
    setWindowTitle("File information");
    setModal(true);
    NewLabel("lbl1", "File Name:", QRect(16, 14, 80, 20), this);
    lblSourceName = NewLabel("lblSourceName", QString(), QRect(100, 14, kNameWidth, 20), this);
    lblSourceName->setAccessibleName("File Name:");
    NewLabel("lbl3", "Duration:", QRect(16, 40, 80, 20), this);
    lblFileLength = NewLabel("lblFileLength", QString(), QRect(100, 40, kNameWidth, 20), this);
    lblFileLength->setAccessibleName("Duration:");
    CreateVideoGroup();
    CreateAudioGroup();
    btn1 = new QPushButton("&Ok", this);
    btn1->setObjectName("btn1");
    btn1->setAccessibleName("Ok");
    btn1->setGeometry(163, 426, 80, 28);
    connect(btn1, &QPushButton::clicked, this, &TfrmFileInfo::btn1Click);
}

TfrmFileInfo::~TfrmFileInfo() = default;

void TfrmFileInfo::CreateVideoGroup() {
    grpbx1 = NewGroup("grpbx1", "Video ", "Video", QRect(12, 70, 383, 188), this);
    edtFormat = NewField("lbl5", "Format:", "edtFormat", 0, grpbx1);
    edtResloution = NewField("lbl6", "Resloution:", "edtResloution", 1, grpbx1);
    edtBitRate = NewField("lbl13", "Bit Rate:", "edtBitRate", 2, grpbx1);
    edtFrameRate = NewField("lbl7", "Frame Rate:", "edtFrameRate", 3, grpbx1);
    edtTotalFrame = NewField("lbl8", "Total Frame:", "edtTotalFrame", 4, grpbx1);
}

void TfrmFileInfo::CreateAudioGroup() {
    grpbx2 = NewGroup("grpbx2", "Audio", "Audio", QRect(12, 264, 383, 156), this);
    edtAudioForamt = NewField("lbl9", "Format:", "edtAudioForamt", 0, grpbx2);
    edtAudioBitRate = NewField("lbl12", "Bit Rate:", "edtAudioBitRate", 1, grpbx2);
    edtSampleRate = NewField("lbl10", "Sample Rate:", "edtSampleRate", 2, grpbx2);
    edtChannel = NewField("lbl11", "Channel:", "edtChannel", 3, grpbx2);
}

void TfrmFileInfo::Execute(const std::string& sourceFile) {
    FSourceFile = sourceFile;
    exec();
}

QString TfrmFileInfo::ShortSourceName(const QString& path) {
    if (path.size() <= kWholeNameLength) return path;
    const QString suffix = QFileInfo(path).suffix();
    return path.left(kNameHeadLength) + ".." + (suffix.isEmpty() ? QString() : "." + suffix) + "  ";
}

QString TfrmFileInfo::DurationText(int64_t duration) {
    if (duration == -1) duration = 0;
    return QString::asprintf("%d.%.3d", static_cast<int>(duration / 1000000),
                             static_cast<int>((duration / 1000) % 1000)) +
           " Second";
}

// Every step that finds nothing stops and leaves the boxes as the previous
// showing left them.
void TfrmFileInfo::FormShow() {
    resize(420, 460);
    setStyleSheet(skin::StyleSheet());
    lblSourceName->clear();
    lblFileLength->clear();
    if (FMainWindow) move(FMainWindow->geometry().center() - rect().center());
    int task = -1;
    if (!OpenSource(task)) return;
    TAVProbe& probe = *CCAVC->AVProbe();
    const QString name = QString::fromStdString(FSourceFile);
    lblSourceName->setText(ShortSourceName(name));
    if (name.size() > kWholeNameLength) lblSourceName->resize(kNameWidth, lblSourceName->height());
    TFileStreamInfo file;
    probe.GetFileStreamInfo(file);
    lblFileLength->setText(DurationText(file.Duration));
    TAVProbe* input = task >= 0 ? CCAVC->InputProbe(task, task) : nullptr;
    ShowVideo(probe, input);
    ShowAudio(probe, input);
}

// Opens the source as the dialog's only task and in the component's probe;
// false when there is no source or it has no video stream.
bool TfrmFileInfo::OpenSource(int& task) {
    if (FSourceFile.empty()) return false;
    const std::string folder =
        QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString();
    if (!CCAVC->LoadAVLib(folder)) return false;
    CCAVC->ClearTasks();
    TInputOptions options;
    options.FileName = FSourceFile;
    task = CCAVC->AddTask(FSourceFile, &options);
    TAVProbe* probe = CCAVC->AVProbe();
    return probe && probe->LoadFile(FSourceFile) && probe->VideoStreamCount() > 0;
}

void TfrmFileInfo::ShowVideo(TAVProbe& probe, TAVProbe* input) {
    const int v = probe.FirstVideoStreamIndex();
    TVideoStreamInfo info;
    TStreamFacts facts;
    if (input && probe.IsVideoStream(v) && input->GetVideoStreamInfo(v, info) &&
        GetStreamFacts(*input, v, facts)) {
        edtFormat->setText(QString::fromStdString(facts.CodecTitle));
        // The picture as it is shown (a 16:9 DVD frame of 720x480 is 853x480).
        edtResloution->setText(Decimal(info.DisplayWidth) + "x" + Decimal(info.DisplayHeight));
        edtBitRate->setText(Decimal(info.BitRate));
        edtFrameRate->setText(QString::fromStdString(FrameRateText(facts.FrameRate)));
        edtTotalFrame->setText(
            QString::fromStdString(FrameCountText(facts.FrameCount, facts.FrameCountEstimated)));
        return;
    }
    for (QLineEdit* edit : {edtFormat, edtResloution, edtBitRate, edtFrameRate, edtTotalFrame})
        edit->clear();
}

void TfrmFileInfo::ShowAudio(TAVProbe& probe, TAVProbe* input) {
    const int a = probe.FirstAudioStreamIndex();
    TAudioStreamInfo info;
    TStreamFacts facts;
    if (!input || !probe.IsAudioStream(a) || !input->GetAudioStreamInfo(a, info) ||
        !GetStreamFacts(*input, a, facts)) {
        for (QLineEdit* edit : {edtAudioForamt, edtAudioBitRate, edtSampleRate, edtChannel})
            edit->clear();
        return;
    }
    edtAudioBitRate->setText(Decimal(info.BitRate));
    edtSampleRate->setText(Decimal(info.SampleRate));
    edtChannel->setText(Decimal(info.Channels));
    edtAudioForamt->setText(QString::fromStdString(facts.CodecTitle));
}

void TfrmFileInfo::btn1Click() {
    accept();
}

bool TfrmFileInfo::FormCloseQuery() {
    CCAVC->ClearTasks();
    if (TAVProbe* probe = CCAVC->AVProbe()) probe->CloseFile();
    return true;
}

void TfrmFileInfo::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmFileInfo::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        QDialog::closeEvent(event);
    else
        event->ignore();
}

// Ok, Escape and the close box all end here.
void TfrmFileInfo::done(int result) {
    FormCloseQuery();
    QDialog::done(result);
}
