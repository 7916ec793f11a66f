#include "app/WinProgress.h"

#include "app/Skin.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"
#include "app/Snapshots.h"
#include "core/BatchRunner.h"
#include "engine/FFmpegVCL.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <algorithm>
#include <cmath>

namespace {

const QColor kPreviewBackground(166, 202, 240);
const char* const kConverting = "Converting";
const char* const kPaused = "Paused";
const char* const kKeepCancelledKey = "KeepCancelledFiles";
const char* const kKeepCancelledCaption = "Keep the partly converted files";
constexpr int kHeight = 460;           // one task at a time
constexpr int kTaskLineHeight = 20;    // a line of the running tasks' list
constexpr int kMostTaskLinesShown = 4; // more scroll
constexpr int kTaskIndexRole = Qt::UserRole;

QLabel* Caption(const QString& text, QWidget* parent, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, 90, 20);
    return label;
}

QLabel* Value(const char* name, QWidget* parent, int x, int y, int w) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, 20);
    return label;
}

// Rounds to the nearest integer, halves to the even neighbour.
int RoundEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

} // namespace

QRect FitPreviewRect(const QSize& pictureSize, const QSize& imageSize) {
    const double a = double(pictureSize.width()) / imageSize.width();
    const double b = double(pictureSize.height()) / imageSize.height();
    if (a >= b) {
        const int c = RoundEven((imageSize.height() - pictureSize.height() / a) / 2);
        return QRect(0, c, imageSize.width(), imageSize.height() - 2 * c);
    }
    const int c = RoundEven((imageSize.width() - pictureSize.width() / b) / 2);
    return QRect(c, 0, imageSize.width() - 2 * c, imageSize.height());
}

QString ClockText(qint64 seconds) {
    if (seconds < 0) seconds = 0;
    return QString("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QChar('0'))
        .arg((seconds / 60) % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

TfrmProgress::TfrmProgress(QWidget* mainWindow, TCustomFFmpegVCL* converter,
                           const QImage* previewBitmap, QPushButton* mainPause,
                           QPushButton* mainResume, const TGlobalObject* global)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint),
      FConverter(converter), FGlobal(global), FPreviewBitmap(previewBitmap), FMainPause(mainPause),
      FMainResume(mainResume) {
    if (!FGlobal) {
        FOwnGlobal = std::make_unique<TGlobalObject>();
        InitGlobalObject(*FOwnGlobal);
        FGlobal = FOwnGlobal.get();
    }
    setObjectName("frmProgress");
    setWindowTitle("Progress");
    setModal(true);
    CreateControls();
    Timer1.setInterval(100);
    connect(&Timer1, &QTimer::timeout, this, &TfrmProgress::Timer1Timer);
}

TfrmProgress::~TfrmProgress() = default;

void TfrmProgress::CreateControls() {
    setFixedSize(420, kHeight);
    lblHeading = new QLabel(kConverting, this);
    lblHeading->setObjectName("lblHeading");
    lblHeading->setFont(skin::TitleFont(11));
    lblHeading->setGeometry(18, 8, 300, 24);
    auto* frame = new QFrame(this);
    frame->setGeometry(17, 36, 374, 212);
    frame->setStyleSheet("border: 1px solid #5d7898;");
    imgPreview = new QLabel(this);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setGeometry(18, 37, 372, 210);
    CreateLabels(256);
    progbarFile = new QProgressBar(this);
    progbarFile->setObjectName("progbarFile");
    progbarFile->setGeometry(18, 350, 384, 20);
    progbarFile->setTextVisible(true);
    progbarFile->setStyleSheet(
        "QProgressBar { border: 1px solid #5d7898; background: #f6f7f8; color: black;"
        " text-align: center; } QProgressBar::chunk { background: #f0883e; }");
    ckShutDown = new QCheckBox("Shut down computer after conversion", this);
    ckShutDown->setObjectName("ckShutDown");
    ckShutDown->setGeometry(18, 380, 300, 20);
    ckOpen = new QCheckBox("Open the output folder after conversion", this);
    ckOpen->setObjectName("ckOpen");
    ckOpen->setGeometry(18, 402, 300, 20);
    CreateButtons(428);
    CreateBatchControls();
}

// Below the buttons, shown only for several tasks at a time.
void TfrmProgress::CreateBatchControls() {
    lstTasks = new QListWidget(this);
    lstTasks->setObjectName("lstTasks");
    lstTasks->setAccessibleName("Running conversions");
    lstTasks->setSelectionMode(QAbstractItemView::NoSelection);
    lstTasks->setFocusPolicy(Qt::NoFocus);
    lstTasks->hide();
    progbarBatch = new QProgressBar(this);
    progbarBatch->setObjectName("progbarBatch");
    progbarBatch->setAccessibleName("Whole batch");
    progbarBatch->setTextVisible(true);
    progbarBatch->setStyleSheet(progbarFile->styleSheet());
    progbarBatch->hide();
}

void TfrmProgress::SetConversionsAtATime(int count) {
    FAtATime = count < 1 ? 1 : count;
    const bool several = FAtATime > 1;
    const int lines = std::min(FAtATime, kMostTaskLinesShown);
    const int listTop = kHeight + 2;
    const int listHeight = lines * kTaskLineHeight + 4;
    lstTasks->setGeometry(18, listTop, 384, listHeight);
    progbarBatch->setGeometry(18, listTop + listHeight + 6, 384, 20);
    lstTasks->setVisible(several);
    progbarBatch->setVisible(several);
    setFixedSize(420, several ? listTop + listHeight + 6 + 20 + 10 : kHeight);
}

void TfrmProgress::CreateLabels(int y) {
    Caption("Current Time:", this, 18, y);
    lblTime = Value("lblTime", this, 110, y, 100);
    Caption("Length:", this, 218, y);
    lblLength = Value("lblLength", this, 290, y, 110);
    y += 22;
    Caption("File Size:", this, 18, y);
    lblSize = Value("lblSize", this, 110, y, 100);
    Caption("Progress:", this, 218, y);
    lblProgress = Value("lblProgress", this, 290, y, 110);
    y += 22;
    Caption("Speed:", this, 18, y);
    lblSpeed = Value("lblSpeed", this, 110, y, 100);
    Caption("Time Left:", this, 218, y);
    lblRemaining = Value("lblRemaining", this, 290, y, 110);
    y += 22;
    Caption("File:", this, 18, y);
    lblOutput = Value("lblOutput", this, 110, y, 283);
}

void TfrmProgress::CreateButtons(int y) {
    imgbtnSnap = new skin::TImageButton("imgbtnSnap", "", "snapshot", 30, 28, 20, this);
    imgbtnSnap->setToolTip("Save snapshot picture");
    imgbtnSnap->move(18, y);
    btnPause = new QPushButton("Pause", this);
    btnPause->setObjectName("btnPause");
    btnPause->setGeometry(150, y, 80, 28);
    btnResume = new QPushButton("Resume", this);
    btnResume->setObjectName("btnResume");
    btnResume->setGeometry(236, y, 80, 28);
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(322, y, 80, 28);
    connect(btnPause, &QPushButton::clicked, this, &TfrmProgress::btnPauseClick);
    connect(btnResume, &QPushButton::clicked, this, &TfrmProgress::btnResumeClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);
    connect(imgbtnSnap, &QToolButton::clicked, this, &TfrmProgress::imgbtnSnapClick);
}

void TfrmProgress::FormShow() {
    FCancelled = false;
    FKeepCancelled = false;
    SetConversionsAtATime(FAtATime);
    setStyleSheet(skin::StyleSheet() + "QDialog#frmProgress { background: rgb(24,52,91); }");
    if (parentWidget()) move(parentWidget()->geometry().center() - rect().center());
    for (QLabel* l : {lblTime, lblSize, lblLength, lblProgress, lblOutput, lblSpeed, lblRemaining})
        l->clear();
    ckOpen->setChecked(true);
    lblHeading->setText(kConverting);
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    ClearPreview();
    Timer1.start();
    progbarFile->setRange(0, 100);
    progbarFile->setValue(0);
    FClock.start();
    FPausedMs = 0;
    FPauseClock.invalidate();
    FEstimate.Begin(0, 0, 0);
    lstTasks->clear();
    FLabelTask = -1;
    FBatch.Begin(FConverter->TaskCount());
    ShowBatch();
    emit Shown();
}

void TfrmProgress::StartNextPass() {
    progbarFile->setValue(0);
    FLabelTask = -1;
    lstTasks->clear();
    FBatch.Begin(FConverter->TaskCount());
    ShowBatch();
}

void TfrmProgress::ClearPreview() {
    FPicture = QImage(imgPreview->size(), QImage::Format_RGB32);
    FPicture.fill(kPreviewBackground);
    imgPreview->setPixmap(QPixmap::fromImage(FPicture));
}

void TfrmProgress::Timer1Timer() {
    if (!FPreviewBitmap || FPreviewBitmap->width() < 1 || FPreviewBitmap->height() < 1) return;
    FPicture.fill(kPreviewBackground);
    QPainter painter(&FPicture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(FitPreviewRect(FPreviewBitmap->size(), FPicture.size()), *FPreviewBitmap);
    painter.end();
    imgPreview->setPixmap(QPixmap::fromImage(FPicture));
}

void TTimeLeftEstimate::Begin(int taskIndex, int percent, qint64 ms) {
    FTask = taskIndex;
    FPercent = percent;
    FMs = ms;
}

qint64 TTimeLeftEstimate::Report(int taskIndex, int percent, qint64 ms) {
    if (taskIndex != FTask) {
        Begin(taskIndex, percent, ms);
        return -1;
    }
    if (percent >= 100) return 0;
    if (percent <= FPercent) return -1;
    const qint64 leftMs = (ms - FMs) * (100 - percent) / (percent - FPercent);
    return (leftMs + 999) / 1000;
}

qint64 TfrmProgress::WorkingMs() const {
    const qint64 paused = FPausedMs + (FPauseClock.isValid() ? FPauseClock.elapsed() : 0);
    return FClock.elapsed() - paused;
}

void TfrmProgress::ShowReport(const TTaskReport& report, const QString& file) {
    const TProgressInfo& info = *report.Info;
    FLabelTask = report.Task;
    progbarFile->setValue(report.Percent);
    lblTime->setText(QString::number(info.CurrentDuration / 1000000) + " Second");
    lblLength->setText(QString::number(info.TotalDuration / 1000000) + " Second");
    lblSize->setText(QString::number(info.CurrentSize / 1000) + " kb");
    lblProgress->setText(QString("[%1/%2]").arg(report.Task + 1).arg(report.TaskCount));
    if (!file.isEmpty()) lblOutput->setText(file);
    ShowRate(report.Task, report.Percent, info.FPS);
    ShowTaskLine(report.Task, report.TaskCount, file, report.Percent);
}

void TfrmProgress::ShowRate(int taskIndex, int percent, int framesPerSecond) {
    lblSpeed->setText(framesPerSecond >= 0 ? QString("%1 fps").arg(framesPerSecond) : QString());
    if (FAtATime > 1) return; // the batch's time left, shown with the task lines
    const qint64 left = FEstimate.Report(taskIndex, percent, WorkingMs());
    lblRemaining->setText(left >= 0 ? ClockText(left) : QString());
}

void TBatchProgress::Begin(int taskCount) {
    FPercents.assign(taskCount > 0 ? taskCount : 0, 0);
}

void TBatchProgress::Report(int taskIndex, int percent) {
    if (taskIndex < 0 || taskIndex >= int(FPercents.size()) || FPercents[taskIndex] == 100) return;
    FPercents[taskIndex] = std::clamp(percent, 0, 99); // 100 only once it has ended
}

void TBatchProgress::Ended(int taskIndex) {
    if (taskIndex >= 0 && taskIndex < int(FPercents.size())) FPercents[taskIndex] = 100;
}

int TBatchProgress::Percent() const {
    if (FPercents.empty()) return 0;
    qint64 sum = 0;
    for (int p : FPercents)
        sum += p;
    return int(sum / qint64(FPercents.size()));
}

qint64 TBatchProgress::SecondsLeft(qint64 ms) const {
    qint64 sum = 0;
    for (int p : FPercents)
        sum += p;
    const qint64 all = qint64(FPercents.size()) * 100;
    if (sum <= 0 || all == 0) return -1;
    const qint64 leftMs = ms * (all - sum) / sum;
    return (leftMs + 999) / 1000;
}

void TfrmProgress::ShowTaskLine(int taskIndex, int taskCount, const QString& file, int percent) {
    if (FAtATime <= 1) return;
    const QString text =
        QString("[%1/%2] %3  %4%").arg(taskIndex + 1).arg(taskCount).arg(file).arg(percent);
    QListWidgetItem* line = nullptr;
    int at = 0; // the lines stay in task order
    for (; at < lstTasks->count(); ++at) {
        QListWidgetItem* item = lstTasks->item(at);
        const int task = item->data(kTaskIndexRole).toInt();
        if (task == taskIndex) line = item;
        if (task >= taskIndex) break;
    }
    if (!line) {
        line = new QListWidgetItem;
        line->setData(kTaskIndexRole, taskIndex);
        lstTasks->insertItem(at, line);
    }
    line->setText(text);
    FBatch.Report(taskIndex, percent);
    ShowBatch();
}

void TfrmProgress::TaskEnded(const TTerminateInfo& info) {
    // With several at a time another task's end leaves the bar to the task
    // shown.
    const bool shown = FAtATime <= 1 || info.TaskIndex == FLabelTask;
    if (info.Finished && shown)
        progbarFile->setValue(info.EndedEarly.empty() ? 100 : info.ReachedPercent);
    if (FAtATime <= 1) return;
    const int taskIndex = info.TaskIndex;
    for (int at = 0; at < lstTasks->count(); ++at) {
        if (lstTasks->item(at)->data(kTaskIndexRole).toInt() != taskIndex) continue;
        delete lstTasks->takeItem(at);
        break;
    }
    FBatch.Ended(taskIndex);
    ShowBatch();
}

// The batch bar with the whole batch's time left, also in "Time Left:".
void TfrmProgress::ShowBatch() {
    if (FAtATime <= 1) return;
    progbarBatch->setRange(0, 100);
    progbarBatch->setValue(FBatch.Percent());
    const qint64 left = FBatch.SecondsLeft(WorkingMs());
    const QString leftText = left >= 0 ? ClockText(left) : QString();
    progbarBatch->setFormat(left >= 0 ? QString("Batch %p%, %1 left").arg(leftText)
                                      : QString("Batch %p%"));
    lblRemaining->setText(leftText);
}

void TfrmProgress::btnPauseClick() {
    FConverter->Pause();
    if (!FPauseClock.isValid()) FPauseClock.start();
    lblHeading->setText(kPaused);
    btnPause->setEnabled(false);
    FMainPause->setEnabled(false);
    btnResume->setEnabled(true);
    FMainResume->setEnabled(true);
}

void TfrmProgress::btnResumeClick() {
    FConverter->Resume();
    if (FPauseClock.isValid()) FPausedMs += FPauseClock.elapsed();
    FPauseClock.invalidate();
    lblHeading->setText(kConverting);
    btnPause->setEnabled(true);
    FMainPause->setEnabled(true);
    btnResume->setEnabled(false);
    FMainResume->setEnabled(false);
}

// Cancel asks as Escape and the title bar do: the question carries the
// choice of keeping the partly converted files.
void TfrmProgress::btnCancelClick() {
    if (!FClosing && ConfirmCancel()) CloseWithoutAsking();
}

// The last preview frame and the picture shown; the folder is not opened
// while the batch runs.
void TfrmProgress::imgbtnSnapClick() {
    if (!FPreviewBitmap || FPreviewBitmap->isNull()) return;
    // Before the window has drawn its first picture, what the box shows.
    const QImage small = FPicture.isNull() ? imgPreview->grab().toImage() : FPicture.copy();
    SaveSnapshots(*FGlobal, FPreviewBitmap->copy(), small, false);
}

bool TfrmProgress::FormCloseQuery() {
    FConverter->Stop(true);
    Timer1.stop();
    return true;
}

// The check box's state is kept in the settings file ("KeepCancelledFiles",
// 0 or 1, off at first) and offered again the next time.
bool TfrmProgress::ConfirmCancel() {
    const std::string settingsFile = FGlobal->SettingsFile();
    bool keep = !settingsFile.empty() &&
                TIniFile(settingsFile).ReadInteger("settings", kKeepCancelledKey, 0) == 1;
    if (AskWithCheckBox("Warning", "Do you really want to cancel the conversion?",
                        kKeepCancelledCaption, keep) != TMsgResult::Yes)
        return false;
    if (!settingsFile.empty())
        TIniFile(settingsFile).WriteInteger("settings", kKeepCancelledKey, keep ? 1 : 0);
    FKeepCancelled = keep;
    FCancelled = true;
    return true;
}

void TfrmProgress::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier)
        return QDialog::keyPressEvent(event);
    event->accept();
    if (!FClosing && ConfirmCancel()) reject();
}

void TfrmProgress::closeEvent(QCloseEvent* event) {
    if (FAskOnClose && !FClosing && isVisible() && !ConfirmCancel()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmProgress::CloseWithoutAsking() {
    FAskOnClose = false;
    close();
    FAskOnClose = true;
}

void TfrmProgress::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

// Every way of closing (Cancel, Escape, the title bar, the end of the batch)
// ends here. The wait for the converter keeps the window's messages going,
// so a second close request meanwhile only waits for the first.
void TfrmProgress::done(int result) {
    if (FClosing) return;
    FClosing = true;
    const bool close = FormCloseQuery();
    FClosing = false;
    if (close) QDialog::done(result);
}
