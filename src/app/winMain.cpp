#include "app/winMain.h"

#include "app/MainAdd.h"
#include "app/MainFormat.h"
#include "app/MainFrame.h"
#include "app/MainControls.h"
#include "app/MainMenus.h"
#include "app/MainPreview.h"
#include "app/MainThreadPump.h"
#include "app/PlayerSurface.h"
#include "app/PreviewWindow.h"
#include "app/Shell.h"
#include "app/WebLinks.h"
#include "app/WinAbout.h"
#include "app/WinFileInfo.h"
#include "app/WinPreference.h"
#include "app/WinSettings.h"
#include "app/directory.h"
#include "editing/WinTrim.h"
#include "editing/FrameRenderer.h"
#include "editing/WinWaterMark.h"
#include "engine/FFmpegVCL.h"
#include "player/FFPlay.h"
#include "controls/Tracker2.h"
#include "editing/WinCrop.h"
#include "probe/AVProbe.h"
#include "app/ListKeeper.h"
#include "app/MainBatch.h"
#include "app/MainLayout.h"
#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"
#include "media/OutputClaim.h"
#include "media/FFmpegLoader.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTreeWidget>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace {

constexpr int kWidth = 914;
constexpr int kHeight = 566;
const char* const kSettings = "settings";
bool IsNamed(const QObject* object, const char* name) {
    return object->objectName().compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

// Whether the widget or one of its parents is one of the chooser's controls.
bool IsChooserControl(const QWidget* widget) {
    for (const QObject* o = widget; o; o = o->parent()) {
        if (IsNamed(o, "lst1") || IsNamed(o, "imgbtn1") || IsNamed(o, "edt1")) return true;
        if (o->isWidgetType() && static_cast<const QWidget*>(o)->isWindow()) break;
    }
    return false;
}

// The player's libraries from the program's "LibAV" folder; a failure is
// noted in the log.
void LoadMediaLibraries(QPlainTextEdit& log) {
    TFFmpegLoader& loader = FFmpegLoader();
    if (loader.AreLoaded(PlayerLibraries)) return;
    loader.SetLibraryFolder(
        QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString());
    if (!loader.LoadLibraries(PlayerLibraries))
        log.appendPlainText(QString::fromStdString(loader.GetLastError()));
}

} // namespace

TPopupMenu::TPopupMenu(const QString& objectName, QWidget* parent) : QMenu(parent) {
    setObjectName(objectName);
}

// ---------------------------------------------------------------------------
// Creation

TfrmMain::TfrmMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      FAdd(std::make_unique<TMainAdd>(*this)), FPreview(std::make_unique<TMainPreview>(*this)),
      FMenus(std::make_unique<TMainMenus>(*this)) {
    setObjectName("frmMain");
    // The designed size is the smallest; the window grows from there.
    setMinimumSize(kWidth, kHeight);
    resize(kWidth, kHeight);
    setMouseTracking(true);
    setStyleSheet(skin::StyleSheet());
    TMainControls(*this).Build();
    FormCreate();
    // The trim dialog is made once with the window and shown again on every opening.
    frmTrim = new TfrmTrim(this, lvFIles, GlobalObject->SettingsFile());
    // The stored list of a start after a crash (ListKeeper.h).
    FListKeeper = std::make_unique<TListKeeper>(*lvFIles, GlobalObject->SettingsFile());
    FListKeeper->Restore();
    if (lvFIles->RowCount() > 0) {
        btnStart->setEnabled(true);
        btnClear->setEnabled(true);
        btnRemove->setEnabled(true);
        lvFIles->SelectRow(0);
    }
    FLayout = std::make_unique<TMainLayout>(*this);
    FLayout->RecordDesignPlaces();
    FLayout->RestorePlace();
    FLayout->LayOut();
    FFrame = new TMainFrame(*this, *FLayout);
}

TfrmMain::~TfrmMain() {
    // The frame watches nothing once the layout it uses is going.
    delete FFrame;
    FAdd.reset();
    // A window that ends normally leaves no list behind: only after a crash
    // or a power cut does the next start find one.
    if (FListKeeper) FListKeeper->Discard();
    FListKeeper.reset();
    FBatch.reset();
    if (FFPlayer) FFPlayer->Close(true);
    if (qApp) qApp->removeEventFilter(this);
}

// ---------------------------------------------------------------------------
// Life of the window

void TfrmMain::FormCreate() {
    GlobalObject = std::make_unique<TGlobalObject>();
    InitGlobalObject(*GlobalObject);
    QApplication::setApplicationName(QString::fromStdString(GlobalObject->ProductName()));
    setWindowTitle(QString::fromStdString(GlobalObject->ProductName()));
    setWindowIcon(skin::Icon("app", 32));
    const std::string settingsProblem = EnsureDefaultFormatFiles(*GlobalObject);
    if (!settingsProblem.empty())
        ShowMessageBox("Warning", settingsProblem, TMsgIcon::Warning, TMsgButtons::Ok);
    qApp->installEventFilter(this);
    FChooser = new TFormatChooser(
        edt1, imgbtn1, lst1, TFormatChooser::TPlacement{false, 422},
        [this] { return StoredFormatName(GlobalObject->SettingsFile()); },
        [this](const std::string& caption, int code) {
            StorePickedFormat(GlobalObject->SettingsFile(), caption, code);
            FAdd->ShowDestinationNames();
        },
        this);
    InstallMainThreadPump();
    InstallPreviewWindows();
    LoadMediaLibraries(*mmoLog);
    CCAVC = std::make_unique<TFFmpegVCL>();
    CCAVC->SetPreviewBitmap(true);
    FBatch = std::make_unique<TMainBatch>(*this);
}

void TfrmMain::FormShow() {
    imgbtnPlay->setEnabled(true);
    for (QWidget* w : {static_cast<QWidget*>(imgbtnPause), static_cast<QWidget*>(imgbtnStop),
                       static_cast<QWidget*>(imgbtnSnap), static_cast<QWidget*>(imgbtnPre),
                       static_cast<QWidget*>(imgbtnNext), static_cast<QWidget*>(trcPreview)})
        w->setEnabled(false);
    PlayAfterAdd = false;
    Paused = false;
    imgPreview->setGeometry(pan1->rect());
    imgPreview->hide();
    PreviewBitmap = QImage();
    FillOutputFormatCombo(*cbOutputFormat, GlobalObject->SettingsFile());
    CheckFolderAtStart(*GlobalObject, "OutPutDir");
    CheckFolderAtStart(*GlobalObject, "SnapOutPutDir");
    TIniFile settings(GlobalObject->SettingsFile());
    const std::string outputFolder =
        settings.ReadString(kSettings, "OutPutDir", DefaultOutputFolder());
    // What a conversion killed with the window left in the output folder.
    RemoveDeadLeftovers(outputFolder);
    edDirectory->setText(QString::fromStdString(outputFolder));
    edt1->setTextMargins(4, 2, 0, 0);
    FPreview->ShowVolumeAndMute();
    GlobalObject->SetVersionText(GlobalObject->GetVersionText());
    lbl_appname->setText(
        QString::fromStdString(GlobalObject->ProductName() + GlobalObject->VersionText()));
    FChooser->BuildFormatChooser(settings, StoredFormatName(GlobalObject->SettingsFile()));
}

bool TfrmMain::FormCloseQuery() {
    if (ShowMessageBox("Warning", "Do you really want to exit?", TMsgIcon::Question,
                       TMsgButtons::YesNo) != TMsgResult::Yes)
        return false;
    TIniFile settings(GlobalObject->SettingsFile());
    FChooser->SaveChooserState(settings);
    FBatch.reset();
    FFPlayer->Close(true);
    PreviewBitmap = QImage();
    TaskItems.clear();
    return true;
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (FCloseConfirmed || FormCloseQuery()) {
        FCloseConfirmed = true;
        FLayout->StorePlace();
        FAdd->Stop();
        event->accept();
    } else {
        event->ignore();
    }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (ApplicationEvents1Message(watched, event)) return true;
    return QWidget::eventFilter(watched, event);
}

bool TfrmMain::ApplicationEvents1Message(QObject* receiver, QEvent* event) {
    if (!receiver->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(receiver);
    if (widget->window() != this) return false;
    if (FPreview->Message(widget, event)) return true;
    if (event->type() != QEvent::MouseButtonPress) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    FMenus->NotePress(widget);
    if (!IsChooserControl(widget) && lst1->isVisible()) FChooser->HideList();
    return false;
}

void TfrmMain::ApplicationEvents1Deactivate() {
    FChooser->HideList();
}

// ---------------------------------------------------------------------------
// Title row and menus

void TfrmMain::btnSmallClick() {
    showMinimized();
}

void TfrmMain::btnCloseClick() {
    close();
}

void TfrmMain::btnExitClick() {
    close();
}

void TfrmMain::menubtnFileClick() {
    FMenus->PopupFromButton(suiPopupMenuFile, menubtnFile,
                            menubtnFile->mapToGlobal(QPoint(0, menubtnFile->height())));
}

void TfrmMain::menubtnEditClick() {
    FMenus->PopupFromButton(suiPopupMenuEdit, menubtnEdit,
                            menubtnEdit->mapToGlobal(QPoint(0, menubtnEdit->height())));
}

void TfrmMain::menubtnHelpClick() {
    FMenus->PopupFromButton(suiPopupMenuHelp, menubtnHelp,
                            menubtnHelp->mapToGlobal(QPoint(0, menubtnHelp->height())));
}

void TfrmMain::btnEditClick() {
    FMenus->PopupFromButton(
        suiPopupMenuEdit, btnEdit,
        mapToGlobal(QPoint(btnEdit->x() + 4, btnEdit->y() + btnEdit->height() - 5)));
}

void TfrmMain::suiPopupMenuEditPopup() {
    FMenus->EnableRowItems();
}

// ---------------------------------------------------------------------------
// Web links and dialogs

void TfrmMain::Help1Click() {
    OpenInDesktop(GlobalObject->HelpPage());
}

void TfrmMain::SupportandContact1Click() {
    OpenInDesktop(kVantrelSupportPage);
}

void TfrmMain::menubtnWebsiteClick() {
    OpenInDesktop(GlobalObject->ProductPage());
}

void TfrmMain::About1Click() {
    FMenus->ShowAbout();
}

void TfrmMain::Crop2Click() {
    FMenus->ShowCrop();
}

void TfrmMain::Trim1Click() {
    FMenus->ShowTrim();
}

void TfrmMain::WaterMark1Click() {
    FMenus->ShowWaterMark();
}

void TfrmMain::Infomation1Click() {
    FMenus->ShowFileInfo();
}

void TfrmMain::menubtnPreferenceClick() {
    FMenus->ShowPreferences();
}

void TfrmMain::btnSettingsClick() {
    if (!frmSettings) frmSettings = new TfrmSettings(this, *GlobalObject);
    if (frmSettings->exec() != QDialog::Accepted) return;
    cbOutputFormat->setCurrentIndex(frmSettings->cbOutputFormat->currentIndex());
    TIniFile settings(GlobalObject->SettingsFile());
    FChooser->BuildFormatChooser(settings, StoredFormatName(GlobalObject->SettingsFile()));
}

void TfrmMain::btnOptionsClick() {
    TIniFile settings(GlobalObject->SettingsFile());
    FChooser->SaveChooserState(settings);
    btnSettingsClick();
}

void TfrmMain::btnBrowsClick() {
    const std::string shown = edDirectory->text().toStdString();
    const std::string chosen = FMenus->ChooseFolder(shown);
    edDirectory->setText(
        QString::fromStdString(AcceptChosenFolder(*GlobalObject, "OutPutDir", chosen, shown)));
}

void TfrmMain::btnOpenClick() {
    TIniFile settings(GlobalObject->SettingsFile());
    const std::string folder = settings.ReadString(kSettings, "OutPutDir", DefaultOutputFolder());
    if (edDirectory->text().size() > 2) OpenLocalInDesktop(folder);
}
