#include "app/WinSettings.h"

#include "app/PassChoices.h"
#include "app/QualityChoice.h"
#include "app/Skin.h"
#include "core/FormatKeys.h"
#include "core/FormatParameters.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"
#include "core/ModernFormats.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kWidth = 475;
constexpr int kHeight = 370;
constexpr int kTitleHeight = 26;
constexpr int kListHeightLimit = 247;
constexpr int kComboRowHeight = 20;
const char* const kSettings = "settings";
// "FormatName" as the chooser shows it when none is stored, and as the
// dialog's own format name when none is stored.
const char* const kChooserDefaultName = "Apple iPod Video MPEG-4 Movie (*.mp4)";
const char* const kDialogDefaultName = "iPod Video MPEG-4";
const char* const kDialogDefaultCode = "1";
const char* const kZoomItems[] = {"Full screen", "Letterbox", "Pan and Scan"};

bool IsChooserControl(const QWidget* widget) {
    for (const QObject* o = widget; o; o = o->parent()) {
        const QString name = o->objectName();
        if (name == "lst1" || name == "imgbtn1" || name == "edt1") return true;
        if (o->isWidgetType() && static_cast<const QWidget*>(o)->isWindow()) break;
    }
    return false;
}

// The item a box shows: for a box that takes typed text, the item equal to
// the text (-1 for none); else the selected item.
int ShownIndex(const QComboBox* combo) {
    if (combo->isEditable())
        return combo->findText(combo->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    return combo->currentIndex();
}

std::string ShownText(const QComboBox* combo) {
    return combo->currentText().toStdString();
}

// Selects the item, or none for an index outside the list.
void SelectIndex(QComboBox* combo, int index) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    if (index < 0 || index >= combo->count()) {
        if (combo->isEditable()) combo->setEditText(QString());
    }
}

void ShowStoredText(QComboBox* combo, const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (combo->isEditable())
        combo->setEditText(shown);
    else
        combo->setCurrentIndex(combo->findText(shown));
}

// The character a key press types, '\b' for backspace, 0 for a key that
// types nothing printable (those are left to the box).
char TypedCharacter(const QKeyEvent* event) {
    if (event->key() == Qt::Key_Backspace) return '\b';
    const QString text = event->text();
    if (text.isEmpty()) return 0;
    const char16_t first = text.at(0).unicode();
    if (first < 0x20 || first == 0x7f) return 0;
    // Anything beyond one ASCII character is refused like any other letter.
    return (text.size() == 1 && first < 0x80) ? static_cast<char>(first) : '\x01';
}

// Watches the mouse over the whole application while the dialog is shown.
class TApplicationWatcher : public QObject {
public:
    explicit TApplicationWatcher(TfrmSettings* dialog) : QObject(dialog), FDialog(dialog) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        FDialog->ApplicationEvents1Message(watched, event);
        return false;
    }

private:
    TfrmSettings* FDialog;
};

} // namespace

namespace {

// One of the nine combos filled from the format file.
// One of the nine combos filled from the format file, and the choice OK
// takes from it.
struct TListCombo {
    QComboBox* TfrmSettings::*Combo;
    const TChoiceKeys& Keys;
    bool KeepsText; // a stored index below 0 shows the stored text
    int TFormatChoices::*Index;
    std::string TFormatChoices::*Text;
};

const TListCombo kListCombos[] = {{&TfrmSettings::cmbVideoSize, kVideoSizeKeys, true,
                                   &TFormatChoices::iVideoSize, &TFormatChoices::VideoSize},
                                  {&TfrmSettings::cmbVideoBitRate, kVideoBitRateKeys, true,
                                   &TFormatChoices::iVideoBitRate, &TFormatChoices::VideoBitRate},
                                  {&TfrmSettings::cmbFrameRate, kFrameRateKeys, true,
                                   &TFormatChoices::iFrameRate, &TFormatChoices::FrameRate},
                                  {&TfrmSettings::cmbVideoEncoder, kVideoEncoderKeys, false,
                                   &TFormatChoices::iVideoEncoder, &TFormatChoices::VideoEncoder},
                                  {&TfrmSettings::cmbSamplerate, kSampleRateKeys, true,
                                   &TFormatChoices::iSampleRate, &TFormatChoices::SampleRate},
                                  {&TfrmSettings::cmbAudioEncoder, kAudioEncoderKeys, false,
                                   &TFormatChoices::iAudioEncoder, &TFormatChoices::AudioEncoder},
                                  {&TfrmSettings::cmbChannel, kChannelKeys, false,
                                   &TFormatChoices::iChannel, &TFormatChoices::Channel},
                                  {&TfrmSettings::cmbAudioBitRate, kAudioBitRateKeys, true,
                                   &TFormatChoices::iAudioBitRate, &TFormatChoices::AudioBitRate},
                                  {&TfrmSettings::cmbVolume, kVolumeKeys, false,
                                   &TFormatChoices::iVolume, &TFormatChoices::Volume}};

} // namespace

// ---------------------------------------------------------------------------
// Row drawing

void TSettingsRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QRect rect = option.rect;
    painter->save();
    skin::PaintDropDownRow(painter, rect, option.state & QStyle::State_Selected, QColor(Qt::white));
    rect.adjust(3, 0, -3, 0);
    const QString text = index.data(Qt::DisplayRole).toString();
    painter->setFont(option.font);
    painter->setPen(Qt::black);
    painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      option.fontMetrics.elidedText(text, Qt::ElideRight, rect.width()));
    painter->restore();
}

QSize TSettingsRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), kComboRowHeight);
}

// ---------------------------------------------------------------------------
// Creation

TfrmSettings::TfrmSettings(QWidget* mainWindow, const TGlobalObject& global)
    : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), FMainWindow(mainWindow),
      FSettingsFile(global.SettingsFile()), FFormatFile(global.FormatFile()),
      FTitle(global.ProductName()), FQuality(std::make_unique<TQualityChoice>(*this)),
      FPasses(std::make_unique<TPassChoices>(*this)) {
    setObjectName("frmSettings");
    setWindowTitle("Settings");
    setFixedSize(kWidth, kHeight);
    setModal(true);
    CreateControls();
    FChooser = new TFormatChooser(
        edt1, imgbtn1, lst1, TFormatChooser::TPlacement{true, kListHeightLimit},
        [this] { return FFormatName; },
        [this](const std::string& caption, int code) { PickFormat(caption, code); }, this);
    ConnectHandlers();
}

QComboBox* NewSettingsCombo(QObject* keyWatcher, const char* name, const char* caption,
                            bool editable, QGroupBox* group, int x, int y) {
    auto* label = new QLabel(caption, group);
    label->setGeometry(x, y, 110, 24);
    auto* combo = new QComboBox(group);
    combo->setObjectName(name);
    combo->setEditable(editable);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setGeometry(x + 112, y, 100, 24);
    combo->setItemDelegate(new TSettingsRowDelegate(combo));
    combo->view()->setMinimumWidth(150);
    label->setBuddy(combo);
    QString accessible = QString(caption).remove(':');
    combo->setAccessibleName(accessible);
    combo->setAccessibleDescription(group->title());
    if (editable) {
        combo->lineEdit()->setAccessibleName(accessible);
        // The box is the focus widget (its edit line is only a proxy), so
        // its keys and its loss of focus are watched on the box itself.
        combo->installEventFilter(keyWatcher);
        // Typed text is never completed from the items.
        combo->setCompleter(nullptr);
    }
    return combo;
}

void TfrmSettings::CreateControls() {
    auto* formatLabel = new QLabel("Output Format:", this);
    formatLabel->setGeometry(16, 38, 100, 22);
    edt1 = new TFormatEdit(this);
    edt1->setGeometry(118, 37, 310, 24);
    edt1->setAccessibleName("Output Format");
    formatLabel->setBuddy(edt1);
    imgbtn1 = new skin::TImageButton("imgbtn1", "", "arrow", 24, 24, 16, this);
    imgbtn1->move(428, 37);
    imgbtn1->setToolTip("Choose the output format");
    imgbtn1->setStyleSheet("QToolButton { background: rgb(246,247,248); border: 1px solid #7a8ea8;"
                           " border-radius: 2px; }");

    grpVideo = new QGroupBox("Video Options", this);
    grpVideo->setObjectName("grpVideo");
    grpVideo->setGeometry(12, 72, 451, 126);
    cmbVideoSize = NewSettingsCombo(this, "cmbVideoSize", "Frame Size:", true, grpVideo, 10, 20);
    cmbVideoBitRate =
        NewSettingsCombo(this, "cmbVideoBitRate", "BitRate (Kbps):", true, grpVideo, 230, 20);
    cmbFrameRate =
        NewSettingsCombo(this, "cmbFrameRate", "FrameRate (Fps):", false, grpVideo, 10, 46);
    cmbVideoEncoder =
        NewSettingsCombo(this, "cmbVideoEncoder", "Encoder:", false, grpVideo, 230, 46);
    cmbZoom = NewSettingsCombo(this, "cmbZoom", "Zoom:", false, grpVideo, 10, 72);
    for (const char* item : kZoomItems)
        cmbZoom->addItem(item);

    grpAudio = new QGroupBox("Audio Options", this);
    grpAudio->setObjectName("grpAudio");
    grpAudio->setGeometry(12, 202, 451, 118);
    cmbSamplerate =
        NewSettingsCombo(this, "cmbSamplerate", "SampleRate (Hz):", true, grpAudio, 10, 22);
    cmbAudioEncoder =
        NewSettingsCombo(this, "cmbAudioEncoder", "Encoder:", false, grpAudio, 230, 22);
    cmbChannel = NewSettingsCombo(this, "cmbChannel", "Channel:", false, grpAudio, 10, 52);
    cmbAudioBitRate =
        NewSettingsCombo(this, "cmbAudioBitRate", "BitRate (Kbps):", true, grpAudio, 230, 52);
    cmbVolume = NewSettingsCombo(this, "cmbVolume", "Volume:", false, grpAudio, 10, 82);
    FQuality->Create();
    FPasses->Create();

    cbOutputFormat = new QComboBox(this);
    cbOutputFormat->setObjectName("cbOutputFormat");
    cbOutputFormat->setAccessibleName("cbOutputFormat");
    cbOutputFormat->hide();

    const std::pair<QPushButton**, std::pair<const char*, const char*>> buttons[] = {
        {&btnDefault, {"btnDefault", "&Default"}},
        {&btnOk, {"btnOk", "&Ok"}},
        {&btnCancel, {"btnCancel", "&Cancel"}}};
    const int xs[] = {12, 283, 377};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(buttons[i].second.second, this);
        button->setObjectName(buttons[i].second.first);
        button->setAccessibleName(QString(buttons[i].second.second).remove('&'));
        button->setGeometry(xs[i], 330, i == 0 ? 90 : 86, 28);
        // Enter in a box must neither confirm nor reset the dialog.
        button->setAutoDefault(false);
        *buttons[i].first = button;
    }

    // Created last, so that the open list lies over the groups.
    lst1 = new TFormatList(this);
    lst1->setAccessibleName("Output formats");
}

TfrmSettings::~TfrmSettings() {
    delete FAppWatcher;
}

void TfrmSettings::ConnectHandlers() {
    connect(btnOk, &QPushButton::clicked, this, &TfrmSettings::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSettings::btnCancelClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmSettings::btnDefaultClick);
    connect(edt1, &QLineEdit::textChanged, this, &TfrmSettings::edt1Change);
    FAppWatcher = new TApplicationWatcher(this);
    qApp->installEventFilter(FAppWatcher);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive) ApplicationEvents1Deactivate();
            });
}

// ---------------------------------------------------------------------------
// Showing and the lists

void TfrmSettings::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TfrmSettings::hideEvent(QHideEvent* event) {
    FChooser->HideList();
    QDialog::hideEvent(event);
}

void TfrmSettings::FormShow() {
    setStyleSheet(skin::StyleSheet() + R"(
        QGroupBox { color: white; border: 1px solid #5d86b8; border-radius: 3px;
            margin-top: 8px; }
        QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }
        QComboBox { background: white; color: black; border: 1px solid #7a8ea8;
            border-radius: 2px; padding-left: 3px; }
        QComboBox:disabled { color: gray; background: rgb(214,220,228); }
        QComboBox QLineEdit { border: none; background: white; }
        QComboBox QLineEdit:disabled { color: gray; background: rgb(214,220,228); }
        QComboBox QAbstractItemView { background: white; color: black; }
    )");
    FShowing = true;
    TIniFile settings(FSettingsFile);
    FChooser->BuildFormatChooser(settings,
                                 settings.ReadString(kSettings, "FormatName", kChooserDefaultName));
    FFormatCode = settings.ReadString(kSettings, "FormatCode", kDialogDefaultCode);
    FFormatName = settings.ReadString(kSettings, "FormatName", kDialogDefaultName);
    LoadFormatLists(true);
    FShowing = false;
    if (FMainWindow) move(FMainWindow->geometry().center() - rect().center());
}

std::string TfrmSettings::Section() const {
    return "formatInfo" + FFormatCode;
}

void TfrmSettings::LoadFormatLists(bool storedTexts) {
    const std::string section = Section();
    const TIniFile formats(FFormatFile);
    const TIniFile settings(FSettingsFile);
    for (const TListCombo& list : kListCombos) {
        QComboBox* combo = this->*list.Combo;
        const TChoiceKeys& keys = list.Keys;
        const std::string text = ReadFormatKey(formats, section, keys.List);
        combo->clear();
        const bool present = FormatListPresent(keys.List.Name, text);
        if (present) {
            for (const std::string& item : SplitFormatList(text))
                combo->addItem(QString::fromStdString(item));
        }
        combo->setEnabled(present);
        combo->setMaxVisibleItems(std::max(1, combo->count()));
        const int index = ReadFormatKeyInteger(settings, section, keys.UserIndex);
        SelectIndex(combo, index);
        if (storedTexts && list.KeepsText && index < 0)
            ShowStoredText(combo, settings.ReadString(section, keys.UserValue.Name,
                                                      keys.UserValue.DialogValue()));
    }
    cmbZoom->setCurrentIndex(
        ZoomIndex(settings.ReadString(section, kUserZoom.Name, kUserZoom.DialogValue())));
    SetGroupEnabled(true, cmbVideoEncoder->count() > 0);
    SetGroupEnabled(false, cmbAudioEncoder->count() > 0);
    if (cmbAudioBitRate->count() == 0) cmbAudioBitRate->setEnabled(false);
    FQuality->Load(settings, section, FFormatCode);
    FPasses->Load(settings, std::atoi(FFormatCode.c_str()));
}

void TfrmSettings::SetGroupEnabled(bool video, bool enabled) {
    QComboBox* const videoCombos[] = {cmbVideoSize, cmbVideoBitRate, cmbFrameRate, cmbVideoEncoder,
                                      cmbZoom};
    QComboBox* const audioCombos[] = {cmbSamplerate, cmbAudioEncoder, cmbChannel, cmbAudioBitRate,
                                      cmbVolume};
    for (QComboBox* combo : video ? videoCombos : audioCombos)
        combo->setEnabled(enabled);
    (video ? cmbTargetSize : cmbLoudness)->setEnabled(enabled);
}

void TfrmSettings::edt1Change() {
    // A value typed earlier for the newly picked format comes back into its
    // box too, so that OK does not replace it by an empty text.
    if (FShowing) return;
    LoadFormatLists(true);
    ReportMissingEncoder();
}

void TfrmSettings::PickFormat(const std::string& caption, int code) {
    FFormatName = caption;
    FFormatCode = std::to_string(code);
}

// ---------------------------------------------------------------------------
// Buttons

void TfrmSettings::btnDefaultClick() {
    const std::pair<QComboBox*, const TChoiceKeys&> indexes[] = {
        {cmbVideoSize, kVideoSizeKeys},
        {cmbFrameRate, kFrameRateKeys},
        {cmbVideoBitRate, kVideoBitRateKeys},
        {cmbVideoEncoder, kVideoEncoderKeys},
        {cmbAudioBitRate, kAudioBitRateKeys},
        {cmbChannel, kChannelKeys},
        {cmbVolume, kVolumeKeys},
        {cmbSamplerate, kSampleRateKeys},
        {cmbAudioEncoder, kAudioEncoderKeys}};
    const TIniFile formats(FFormatFile);
    const std::string section = Section();
    for (const auto& [combo, keys] : indexes)
        SelectIndex(combo, ReadFormatKeyInteger(formats, section, keys.PresetIndex));
    cmbZoom->setCurrentIndex(0);
    FQuality->Default(FFormatCode);
    FPasses->Default();
}

void TfrmSettings::btnOkClick() {
    TFormatChoices c;
    c.Description = FFormatName;
    for (const TListCombo& list : kListCombos) {
        const QComboBox* combo = this->*list.Combo;
        c.*list.Index = ShownIndex(combo);
        c.*list.Text = ShownText(combo);
    }
    c.Zoom = cmbZoom->currentIndex();

    TIniFile settings(FSettingsFile);
    std::string error;
    if (cmbTargetSize->isEnabled() && !FPasses->SaveTargetSize(settings, Section(), error)) {
        if (!error.empty()) ShowPlainMessage(error);
        return;
    }
    if (!WriteFormatChoices(settings, TIniFile(FFormatFile), Section(), c, error) ||
        !FQuality->Write(settings, Section(), FFormatCode)) {
        ShowMessageBox(
            FTitle, error.empty() ? "Cannot write the settings file " + FSettingsFile + "." : error,
            TMsgIcon::Warning, TMsgButtons::Ok);
        return;
    }
    FPasses->SaveLoudness(settings, Section());
    FChooser->SaveChooserState(settings);
    settings.WriteString(kSettings, "FormatName", FFormatName);
    settings.WriteString(kSettings, "FormatCode", FFormatCode);
    accept();
}

void TfrmSettings::btnCancelClick() {
    reject();
}

// ---------------------------------------------------------------------------
// The modern formats

// A format whose encoders the loaded libraries lack stays in the chooser;
// picking it says which encoder is missing.
void TfrmSettings::ReportMissingEncoder() {
    int code = 0;
    if (!ParseIniInteger(FFormatCode, code) || !IsModernFormat(code)) return;
    std::string video, audio;
    TranslateVideoEncoder(ShownText(cmbVideoEncoder), video);
    TranslateAudioEncoder(ShownText(cmbAudioEncoder), audio);
    const std::string missing = MissingEncoderText({video, audio});
    if (!missing.empty()) ShowMessageBox(FTitle, missing, TMsgIcon::Warning, TMsgButtons::Ok);
}

// ---------------------------------------------------------------------------
// Key filters and exit checks

void TfrmSettings::ShowPlainMessage(const std::string& text) {
    ShowMessageBox(FTitle, text, TMsgIcon::None, TMsgButtons::Ok);
}

void TfrmSettings::RefuseValue(QComboBox* combo, const char* message) {
    ShowPlainMessage(message);
    if (combo->count() > 1) combo->setCurrentIndex(1);
}

bool TfrmSettings::cmbVideoSizeKeyPress(char key) {
    if (AcceptFrameSizeKey(ShownText(cmbVideoSize), key)) return false;
    QApplication::beep();
    return true;
}

bool TfrmSettings::cmbVideoBitRateKeyPress(char key) {
    if (AcceptNumericKey(key)) return false;
    ShowPlainMessage(kMsgEnterNumerical);
    QApplication::beep();
    return true;
}

bool TfrmSettings::cmbSamplerateKeyPress(char key) {
    return cmbVideoBitRateKeyPress(key);
}

bool TfrmSettings::cmbAudioBitRateKeyPress(char key) {
    return cmbVideoBitRateKeyPress(key);
}

void TfrmSettings::cmbVideoSizeExit() {
    std::string corrected;
    switch (CheckFrameSize(ShownText(cmbVideoSize), corrected)) {
    case TFrameSizeCheck::Accepted:
        return;
    case TFrameSizeCheck::Invalid:
        RefuseValue(cmbVideoSize, kMsgFrameSizeInvalid);
        return;
    case TFrameSizeCheck::Corrected:
        ShowMessageBox(kInputErrorCaption, FrameSizeCorrectionText(corrected), TMsgIcon::Error,
                       TMsgButtons::Ok);
        cmbVideoSize->setEditText(QString::fromStdString(corrected));
        return;
    }
}

void TfrmSettings::cmbVideoBitRateExit() {
    const std::string text = ShownText(cmbVideoBitRate);
    if (!IsIntegerText(text) && !IsAsSourceText(text))
        RefuseValue(cmbVideoBitRate, kMsgVideoBitRateInvalid);
}

void TfrmSettings::cmbAudioBitRateExit() {
    const std::string text = ShownText(cmbAudioBitRate);
    if (!IsIntegerText(text) && !IsDecimalText(text) && !IsAsSourceText(text))
        RefuseValue(cmbAudioBitRate, kMsgAudioBitRateInvalid);
}

void TfrmSettings::cmbSamplerateExit() {
    const std::string text = ShownText(cmbSamplerate);
    if (!IsIntegerText(text) && !IsAsSourceText(text))
        RefuseValue(cmbSamplerate, kMsgSampleRateInvalid);
}

bool TfrmSettings::FilterKey(QComboBox* combo, QKeyEvent* event) {
    const char key = TypedCharacter(event);
    if (key == 0) return false;
    if (combo == cmbVideoSize) return cmbVideoSizeKeyPress(key);
    if (combo == cmbVideoBitRate) return cmbVideoBitRateKeyPress(key);
    if (combo == cmbSamplerate) return cmbSamplerateKeyPress(key);
    if (combo == cmbAudioBitRate) return cmbAudioBitRateKeyPress(key);
    return false;
}

void TfrmSettings::CheckOnExit(QComboBox* combo) {
    if (combo == cmbVideoSize) cmbVideoSizeExit();
    if (combo == cmbVideoBitRate) cmbVideoBitRateExit();
    if (combo == cmbSamplerate) cmbSamplerateExit();
    if (combo == cmbAudioBitRate) cmbAudioBitRateExit();
}

bool TfrmSettings::eventFilter(QObject* watched, QEvent* event) {
    auto* combo = qobject_cast<QComboBox*>(watched);
    if (!combo || !combo->isEditable()) return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) return FilterKey(combo, static_cast<QKeyEvent*>(event));
    if (event->type() == QEvent::FocusOut) {
        // Leaving the box for another control of the dialog; not its own
        // drop-down, not another window.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && isVisible())
            CheckOnExit(combo);
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Mouse over the whole application

bool TfrmSettings::ApplicationEvents1Message(QObject* receiver, QEvent* event) {
    if (event->type() != QEvent::MouseButtonPress || !receiver->isWidgetType()) return false;
    if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
    auto* widget = static_cast<QWidget*>(receiver);
    if (widget->window() != this) return false;
    if (!IsChooserControl(widget) && lst1->isVisible()) FChooser->HideList();
    return false;
}

void TfrmSettings::ApplicationEvents1Deactivate() {
    FChooser->HideList();
}

void TfrmSettings::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), skin::Background());
    painter.fillRect(QRect(0, 0, width(), kTitleHeight), skin::Band());
    painter.setPen(Qt::white);
    painter.drawText(QRect(10, 0, width() - 20, kTitleHeight), Qt::AlignVCenter, windowTitle());
    painter.setPen(skin::HotFrame());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
