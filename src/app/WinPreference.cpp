#include "app/WinPreference.h"

#include "app/Shell.h"
#include "app/Skin.h"
#include "controls/NamedWidget.h"
#include "core/GlobalUnit.h"
#include "core/MessageSeam.h"
#include "core/WorkPriority.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>

namespace {

constexpr int kDefaultQuality = 30;  // "jpgCmp" when nothing is stored
constexpr int kDefaultsQuality = 20; // what the Default button sets
constexpr int kNormalPriority = 1;
constexpr int kDialogHeight = 424; // with the "Conversions at a time" row

const char* const kQualityHint =
    "Quality of the JPG snapshots, from 1 to 100.\n"
    "A higher value keeps more detail of the picture and makes a larger file;\n"
    "a lower value makes a smaller file with visible blocks.\n"
    "Values between 20 and 80 suit most pictures.";

QLabel* NewLabel(const QString& text, const QRect& geometry, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

QCheckBox* NewCheckBox(const QString& name, const QString& caption, const QRect& geometry,
                       QWidget* parent) {
    return Named(new QCheckBox(caption, parent), name, caption, geometry);
}

QPushButton* NewButton(const QString& name, const QString& caption, const QRect& geometry,
                       QWidget* parent) {
    return Named(new QPushButton(caption, parent), name, AccessibleCaption(caption), geometry);
}

} // namespace

TfrmPreference::TfrmPreference(QWidget* mainWindow, const TGlobalObject& global,
                               TFolderChooser chooser)
    : QDialog(mainWindow), FMainWindow(mainWindow), FGlobal(global), FChooser(std::move(chooser)) {
    setObjectName("frmPreference");
    setWindowTitle("Preference");
    setModal(true);
    CreateSnapshotGroup();
    CreatePriorityGroup();
    CreateConcurrentControls();
    CreateButtons();
    ConnectHandlers();
}

void TfrmPreference::CreateSnapshotGroup() {
    grpSnapshot = new QGroupBox("Snapshot", this);
    grpSnapshot->setObjectName("grpSnapshot");
    grpSnapshot->setAccessibleName("Snapshot");
    grpSnapshot->setGeometry(10, 8, 460, 262);
    NewLabel("Snapshot folder:", QRect(12, 26, 110, 22), grpSnapshot);
    edtSnapDirectory = new QLineEdit(grpSnapshot);
    edtSnapDirectory->setObjectName("edtSnapDirectory");
    edtSnapDirectory->setAccessibleName("Snapshot folder:");
    edtSnapDirectory->setReadOnly(true);
    edtSnapDirectory->setGeometry(122, 26, 196, 24);
    btnBrows = NewButton("btnBrows", "&Brows", QRect(324, 25, 60, 26), grpSnapshot);
    btnOpen = NewButton("btnOpen", "&Open", QRect(390, 25, 58, 26), grpSnapshot);
    NewLabel("Snapshot size:", QRect(12, 64, 110, 22), grpSnapshot);
    ckSmallSize = NewCheckBox("ckSmallSize", "Small Size", QRect(122, 64, 100, 22), grpSnapshot);
    ckFullSize = NewCheckBox("ckFullSize", "Full Size", QRect(232, 64, 100, 22), grpSnapshot);
    NewLabel("Snapshot format:", QRect(12, 98, 110, 22), grpSnapshot);
    ckBmp = NewCheckBox("ckBmp", "BMP", QRect(122, 98, 100, 22), grpSnapshot);
    ckJpg = NewCheckBox("ckJpg", "JPG", QRect(232, 98, 100, 22), grpSnapshot);
    CreateQualityControls(grpSnapshot);
}

void TfrmPreference::CreateQualityControls(QWidget* group) {
    NewLabel("Jpg Compression Quality:", QRect(12, 136, 160, 22), group);
    spedCmp = new QSpinBox(group);
    spedCmp->setObjectName("spedCmp");
    spedCmp->setAccessibleName("Jpg Compression Quality:");
    spedCmp->setToolTip(kQualityHint);
    spedCmp->setRange(1, 100);
    spedCmp->setGeometry(176, 134, 64, 26);
    trcCmp = new QSlider(Qt::Horizontal, group);
    trcCmp->setObjectName("trcCmp");
    trcCmp->setAccessibleName("Jpg Compression Quality");
    trcCmp->setRange(1, 100);
    trcCmp->setTickPosition(QSlider::TicksBelow);
    trcCmp->setTickInterval(10);
    trcCmp->setGeometry(12, 170, 436, 32);
    NewLabel("(The higher the value, the better the image quality.)", QRect(12, 214, 436, 22),
             group);
}

void TfrmPreference::CreatePriorityGroup() {
    rdGrpPriority = new QGroupBox("Work priority", this);
    rdGrpPriority->setObjectName("rdGrpPriority");
    rdGrpPriority->setAccessibleName("Work priority");
    rdGrpPriority->setGeometry(10, 278, 460, 58);
    FPriorityButtons = new QButtonGroup(this);
    const char* const captions[4] = {"Idle", "Normal", "Lower", "Lowest"};
    for (int i = 0; i < 4; ++i) {
        rdPriority[i] = new QRadioButton(captions[i], rdGrpPriority);
        rdPriority[i]->setObjectName(QString("rdGrpPriority%1").arg(i));
        rdPriority[i]->setAccessibleName(captions[i]);
        rdPriority[i]->setGeometry(16 + i * 110, 24, 100, 22);
        FPriorityButtons->addButton(rdPriority[i], i);
    }
}

// Below the priority group; the dialog is taller than the snapshot and
// priority controls alone need by this row.
void TfrmPreference::CreateConcurrentControls() {
    NewLabel("Conversions at a time:", QRect(20, 346, 160, 22), this);
    spedConcurrent = new QSpinBox(this);
    spedConcurrent->setObjectName("spedConcurrent");
    spedConcurrent->setAccessibleName("Conversions at a time:");
    spedConcurrent->setToolTip("How many files are converted side by side, at most one for each "
                               "processor core.");
    spedConcurrent->setRange(1, MaxConversionsAtATime());
    spedConcurrent->setGeometry(180, 344, 64, 26);
}

void TfrmPreference::CreateButtons() {
    btnDefault = NewButton("btnDefault", "&Default", QRect(10, 384, 84, 28), this);
    btnOk = NewButton("btnOk", "&Ok", QRect(294, 384, 84, 28), this);
    btnCancel = NewButton("btnCancel", "&Cancel", QRect(386, 384, 84, 28), this);
}

void TfrmPreference::ConnectHandlers() {
    connect(btnBrows, &QPushButton::clicked, this, &TfrmPreference::btnBrowsClick);
    connect(btnOpen, &QPushButton::clicked, this, &TfrmPreference::btnOpenClick);
    connect(ckFullSize, &QCheckBox::clicked, this, &TfrmPreference::ckFullSizeClick);
    connect(ckSmallSize, &QCheckBox::clicked, this, &TfrmPreference::ckSmallSizeClick);
    connect(ckBmp, &QCheckBox::clicked, this, &TfrmPreference::ckBmpClick);
    connect(ckJpg, &QCheckBox::clicked, this, &TfrmPreference::ckJpgClick);
    connect(trcCmp, &QSlider::valueChanged, this, &TfrmPreference::trcCmpChange);
    connect(spedCmp, &QSpinBox::valueChanged, this, &TfrmPreference::spedCmpChange);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmPreference::btnDefaultClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmPreference::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmPreference::btnCancelClick);
}

// The boxes show what the settings file holds each time; a pair stored with
// both boxes off shows its first box on, as the pair rule allows no other.
void TfrmPreference::FormShow() {
    resize(480, kDialogHeight);
    setStyleSheet(skin::StyleSheet());
    CheckFolderAtStart(FGlobal, "SnapOutPutDir");
    const TIniFile settings = FGlobal.Settings();
    edtSnapDirectory->setText(QString::fromStdString(
        settings.ReadString(kSettingsSection, "SnapOutPutDir", DefaultOutputFolder())));
    ckFullSize->setChecked(settings.ReadBool(kSettingsSection, "snapFullSize", true));
    ckSmallSize->setChecked(settings.ReadBool(kSettingsSection, "snapSmallSize", true));
    ckBmp->setChecked(settings.ReadBool(kSettingsSection, "snapBmp", true));
    ckJpg->setChecked(settings.ReadBool(kSettingsSection, "snapJpg", true));
    KeepOneChecked(ckFullSize, ckSmallSize);
    KeepOneChecked(ckBmp, ckJpg);
    SetQualityEnabled(ckJpg->isChecked());
    spedCmp->setValue(settings.ReadInteger(kSettingsSection, "jpgCmp", kDefaultQuality));
    trcCmp->setValue(spedCmp->value());
    SetPriorityIndex(settings.ReadInteger(kSettingsSection, "priority", kNormalPriority));
    spedConcurrent->setValue(StoredConversionsAtATime(settings));
    if (FMainWindow) move(FMainWindow->geometry().center() - rect().center());
}

// All values go to the settings file in one rewrite; when it fails the file
// is as it was, the user is told, and the dialog stays open with the edits.
void TfrmPreference::btnOkClick() {
    const std::string folder = edtSnapDirectory->text().toStdString();
    const auto flag = [](const QCheckBox* box) {
        return std::string(box->isChecked() ? "1" : "0");
    };
    TIniFile::TKeyValues values = {
        {"snapOutPutDir", folder.empty() ? DefaultOutputFolder() : folder},
        {"snapBmp", flag(ckBmp)},
        {"snapJpg", flag(ckJpg)},
        {"snapFullSize", flag(ckFullSize)},
        {"snapSmallSize", flag(ckSmallSize)}};
    if (spedCmp->value() > 0) values.emplace_back("jpgCmp", std::to_string(spedCmp->value()));
    values.emplace_back("priority", std::to_string(PriorityIndex()));
    values.emplace_back("MaxConcurrent", std::to_string(spedConcurrent->value()));
    TIniFile settings = FGlobal.Settings();
    if (!settings.WriteSectionValues(kSettingsSection, values)) {
        ShowMessageBox("Warning", "Cannot write the settings file " + settings.FileName() + ".",
                       TMsgIcon::Warning, TMsgButtons::Ok);
        return;
    }
    accept();
}

void TfrmPreference::btnCancelClick() {
    reject();
}

void TfrmPreference::btnDefaultClick() {
    edtSnapDirectory->setText(QString::fromStdString(DefaultOutputFolder()));
    ckBmp->setChecked(true);
    ckJpg->setChecked(false);
    ckFullSize->setChecked(true);
    ckSmallSize->setChecked(false);
    SetQualityEnabled(false);
    SetPriorityIndex(kNormalPriority);
    spedConcurrent->setValue(1);
    spedCmp->setValue(kDefaultsQuality);
    trcCmp->setValue(kDefaultsQuality);
}

void TfrmPreference::btnBrowsClick() {
    const std::string shown = edtSnapDirectory->text().toStdString();
    const std::string chosen = FChooser ? FChooser(shown) : std::string();
    edtSnapDirectory->setText(
        QString::fromStdString(AcceptChosenFolder(FGlobal, "SnapOutPutDir", chosen, shown)));
}

void TfrmPreference::btnOpenClick() {
    const std::string folder =
        FGlobal.Settings().ReadString(kSettingsSection, "SnapOutPutDir", DefaultOutputFolder());
    if (edtSnapDirectory->text().size() > 2) OpenLocalInDesktop(folder);
}

void TfrmPreference::ckFullSizeClick() {
    KeepOneChecked(ckFullSize, ckSmallSize);
}

void TfrmPreference::ckSmallSizeClick() {
    KeepOneChecked(ckSmallSize, ckFullSize);
}

void TfrmPreference::ckBmpClick() {
    KeepOneChecked(ckBmp, ckJpg);
}

void TfrmPreference::ckJpgClick() {
    KeepOneChecked(ckJpg, ckBmp);
    SetQualityEnabled(ckJpg->isChecked());
}

void TfrmPreference::trcCmpChange() {
    const int value = trcCmp->value();
    if (value >= 1 && value <= 100 && spedCmp->value() != value) spedCmp->setValue(value);
}

void TfrmPreference::spedCmpChange() {
    const int value = spedCmp->value();
    if (value >= 1 && value <= 100 && trcCmp->value() != value) trcCmp->setValue(value);
}

int TfrmPreference::PriorityIndex() const {
    return FPriorityButtons->checkedId();
}

// A stored value without meaning shows the normal priority.
void TfrmPreference::SetPriorityIndex(int index) {
    if (index < 0 || index > 3) index = kNormalPriority;
    rdPriority[index]->setChecked(true);
}

void TfrmPreference::SetQualityEnabled(bool enabled) {
    spedCmp->setEnabled(enabled);
    trcCmp->setEnabled(enabled);
}

void TfrmPreference::KeepOneChecked(QCheckBox* clicked, QCheckBox* other) {
    if (!clicked->isChecked() && !other->isChecked()) clicked->setChecked(true);
}

// Each opening reads the settings again; a window restored from the task
// bar (a spontaneous show) keeps the edits it holds.
void TfrmPreference::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}
