#include "app/winMain.h"

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
#include <QLinearGradient>
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
constexpr int kTitleHeight = 32;
const char* const kSettings = "settings";
const char* const kDefaultFormatName = "Apple iPod Video MPEG-4 Movie (*.mp4)";

// Captions of the never-shown format combo.
const char* const kOutputFormatItems[] = {"ZUNE - MPEG-4 Video ( *.mp4)",
                                          "ZUNE - MPEG-4 AVC Video ( *.mp4)",
                                          "ZUNE WMV -Windows Media Video (*.wmv)",
                                          "MOV - QuickTime (*.mov)",
                                          "WAV - Waveform Audio (*.wav)",
                                          "WMA - Windows Meida Audio (*.wma)",
                                          "M4A MPEG-4 Audio (*.m4a)",
                                          "MP3 MPEG Layer-3 Audio (*.mp3)",
                                          "AAC Advenced Audio Codec (*.aac)",
                                          "OGG Vorbis Audio Codec (*.ogg)"};

// Volume as the player takes it: 0..128, anything else 64. Without a stored
// value it is 64 too: a fresh installation would otherwise play silently.
int StoredVolume(const TIniFile& settings) {
    const int volume = settings.ReadInteger(kSettings, "volume", 64);
    return (volume >= 0 && volume <= 128) ? volume : 64;
}

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

QPushButton* TextButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QLabel* TextLabel(const QString& caption, QWidget* parent, int x, int y, int w, int h) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(x, y, w, h);
    return label;
}

} // namespace

TPopupMenu::TPopupMenu(const QString& objectName, QWidget* parent) : QMenu(parent) {
    setObjectName(objectName);
}

// ---------------------------------------------------------------------------
// Creation

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName("frmMain");
    clock_.start();
    // The designed size is the smallest; the window grows from there.
    setMinimumSize(kWidth, kHeight);
    resize(kWidth, kHeight);
    setMouseTracking(true);
    CentreOnDesktop();
    setStyleSheet(skin::StyleSheet());
    CreateTitleRow();
    CreateMaximizeButton();
    CreateMenuRow();
    CreateToolRow();
    CreateShareButtons();
    CreateListAndPreview();
    CreateAddProgress();
    CreatePlayerButtons();
    CreateBottomRows();
    CreateHiddenControls();
    CreateMenus();
    ConnectHandlers();
    CreateShortcuts();
    FormCreate();
    // The trim dialog is made once with the window and shown again on every opening.
    frmTrim = new TfrmTrim(this, lvFIles, GlobalObject->SettingsFile());
    RestoreList();
    layout_ = std::make_unique<TMainLayout>(*this);
    layout_->RecordDesignPlaces();
    layout_->RestorePlace();
    layout_->LayOut();
}

void TfrmMain::RestoreList() {
    listKeeper_ = std::make_unique<TListKeeper>(*lvFIles, GlobalObject->SettingsFile());
    listKeeper_->Restore();
    if (lvFIles->RowCount() == 0) return;
    btnStart->setEnabled(true);
    btnClear->setEnabled(true);
    btnRemove->setEnabled(true);
    lvFIles->SelectRow(0);
}

TfrmMain::~TfrmMain() {
    adding_.reset();
    // A window that ends normally leaves no list behind: only after a crash
    // or a power cut does the next start find one.
    if (listKeeper_) listKeeper_->Discard();
    listKeeper_.reset();
    batch_.reset();
    if (FFPlayer) FFPlayer->Close(true);
    if (qApp) qApp->removeEventFilter(this);
}

void TfrmMain::CreateTitleRow() {
    imgIcon = new QLabel(this);
    imgIcon->setObjectName("imgIcon");
    imgIcon->setPixmap(skin::Pixmap("app", 22));
    imgIcon->setGeometry(9, 5, 22, 22);
    lbl_appname = new QLabel(this);
    lbl_appname->setObjectName("lbl_appname");
    lbl_appname->setFont(skin::TitleFont(11));
    lbl_appname->setGeometry(38, 4, 400, 24);
    btnSmall = new skin::TImageButton("btnSmall", "", "minimize", 24, 24, 18, this);
    btnSmall->move(kWidth - 58, 4);
    btnSmall->setToolTip("Minimize");
    btnClose = new skin::TImageButton("btnClose", "", "close", 24, 24, 18, this);
    btnClose->move(kWidth - 30, 4);
    btnClose->setToolTip("Close");
}

void TfrmMain::CreateMenuRow() {
    struct Item {
        skin::TMenuRowButton** button;
        const char* name;
        const char* caption;
    };
    const Item items[] = {{&menubtnFile, "menubtnFile", "File"},
                          {&menubtnEdit, "menubtnEdit", "Edit"},
                          {&menubtnPreference, "menubtnPreference", "Preference"},
                          {&menubtnHelp, "menubtnHelp", "Help"},
                          {&menubtnWebsite, "menubtnWebsite", "Website"}};
    int x = 14;
    for (const Item& item : items) {
        *item.button = new skin::TMenuRowButton(item.name, item.caption, this);
        (*item.button)->adjustSize();
        const int w = std::max(54, (*item.button)->sizeHint().width());
        (*item.button)->setGeometry(x, 33, w, 28);
        x += w + 4;
    }
}

void TfrmMain::CreateToolRow() {
    struct Item {
        skin::TImageButton** button;
        const char* name;
        const char* caption;
        const char* icon;
        const char* tip;
    };
    const Item items[] = {
        {&btnAdd, "btnAdd", "Add", "add", "Add video and audio files to the list (Ctrl+O)"},
        {&btnRemove, "btnRemove", "Remove", "remove", "Remove the selected files (Delete)"},
        {&btnClear, "btnClear", "Clear", "clear", "Remove every file from the list"},
        {&btnSettings, "btnSettings", "Settings", "settings",
         "Settings of the output format in use"},
        {&btnEdit, "btnEdit", "Edit", "edit",
         "Crop, trim, effects and watermarks of the selected file"},
        {&btnStart, "btnStart", "Start", "start", "Convert the checked files (Ctrl+Return)"}};
    int x = 21;
    for (const Item& item : items) {
        *item.button = new skin::TImageButton(item.name, item.caption, item.icon, 96, 53, 26, this);
        (*item.button)->move(x, 67);
        // The caption stays the button's name; the tip describes it.
        (*item.button)->setAccessibleName(item.caption);
        (*item.button)->setToolTip(item.tip);
        (*item.button)->setAccessibleDescription(item.tip);
        x += 96;
    }
}

void TfrmMain::CreateShareButtons() {
    struct Item {
        skin::TImageButton** button;
        const char* name;
        const char* hint;
        const char* icon;
    };
    const Item items[] = {
        {&imgbtnfc, "imgbtnfc", "Facebook", "share_facebook"},
        {&imgbtngoogle, "imgbtngoogle", "Google", "share_google"},
        {&imgbtntw, "imgbtntw", "Twitter", "share_twitter"},
        {&imgbtndelicious, "imgbtndelicious", "Delicious", "share_delicious"},
        {&imgbtndigg, "imgbtndigg", "Digg", "share_digg"},
        {&imgbtnstumbleupon, "imgbtnstumbleupon", "Stumbleupon", "share_stumbleupon"},
        {&imgbtnreddit, "imgbtnreddit", "Reddit", "share_reddit"}};
    int x = kWidth - 28 - 7 * 36 + 4;
    for (const Item& item : items) {
        *item.button = new skin::TImageButton(item.name, "", item.icon, 32, 32, 26, this);
        (*item.button)->setToolTip(item.hint);
        (*item.button)->move(x, 78);
        x += 36;
    }
}

void TfrmMain::CreateListAndPreview() {
    lvFIles = new TFilesList(this);
    lvFIles->setGeometry(21, 127, 479, 329);
    CreatePreviewPanel();
}

void TfrmMain::CreateBottomRows() {
    TextLabel("Output Format:", this, 21, 474, 110, 22);
    edt1 = new TFormatEdit(this);
    edt1->setGeometry(132, 472, 334, 26);
    imgbtn1 = new skin::TImageButton("imgbtn1", "", "arrow", 26, 26, 18, this);
    imgbtn1->move(466, 472);
    imgbtn1->setStyleSheet("QToolButton { background: rgb(246,247,248); border: 1px solid #7a8ea8;"
                           " border-radius: 2px; }");
    btnOptions = TextButton("btnOptions", "Settings", this);
    btnOptions->setGeometry(500, 472, 86, 26);
    TextLabel("Output Directory:", this, 21, 510, 110, 22);
    edDirectory = new QLineEdit(this);
    edDirectory->setObjectName("edDirectory");
    edDirectory->setReadOnly(true);
    edDirectory->setGeometry(132, 508, 360, 26);
    edDirectory->setTextMargins(4, 0, 0, 0);
    btnBrows = TextButton("btnBrows", "Browse", this);
    btnBrows->setGeometry(500, 508, 86, 26);
    btnOpen = TextButton("btnOpen", "Open", this);
    btnOpen->setGeometry(592, 508, 70, 26);
    btnStartBelow = new skin::TImageButton("btnStartBelow", "Start", "start", 150, 64, 34, this);
    btnStartBelow->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnStartBelow->setFont(skin::TitleFont(14));
    btnStartBelow->move(736, 470);
    btnStartBelow->setStyleSheet(
        "QToolButton { color: white; border: 1px solid #f5a66b; border-radius: 6px;"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f39a55, stop:1 #d9702b); }"
        "QToolButton:hover { background: #f5a66b; }"
        "QToolButton:pressed { background: #c8621f; }");
    lst1 = new TFormatList(this);
}

void TfrmMain::CreateHiddenControls() {
    cbOutputFormat = new QComboBox(this);
    cbOutputFormat->setObjectName("cbOutputFormat");
    cbOutputFormat->hide();
    mmoLog = new QPlainTextEdit(this);
    mmoLog->setObjectName("mmoLog");
    mmoLog->setReadOnly(true);
    mmoLog->hide();
    btnExit = TextButton("btnExit", "Exit", this);
    btnStop = TextButton("btnStop", "Stop", this);
    btnPause = TextButton("btnPause", "Pause", this);
    btnResume = TextButton("btnResume", "Resume", this);
    for (QPushButton* b : {btnExit, btnStop, btnPause, btnResume})
        b->hide();
    imgPreview = new QLabel(pan1);
    imgPreview->setObjectName("imgPreview");
    imgPreview->hide();
}

namespace {

// Shows the key beside a menu item. The key itself belongs to the window
// (CreateShortcuts), so the item only acts on it while its menu is open.
QAction* WithKey(QAction* action, const QKeySequence& key) {
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
    return action;
}

const QKeySequence kAddKey(Qt::CTRL | Qt::Key_O);
const QKeySequence kRemoveKey(Qt::Key_Delete);
const QKeySequence kSelectAllKey(Qt::CTRL | Qt::Key_A);
const QKeySequence kStartKey(Qt::CTRL | Qt::Key_Return);
const QKeySequence kStartKeypadKey(Qt::CTRL | Qt::Key_Enter);
const QKeySequence kHelpKey(Qt::Key_F1);
const QKeySequence kQuitKey(Qt::CTRL | Qt::Key_Q);

} // namespace

void TfrmMain::CreateMenus() {
    suiPopupMenuFile = new TPopupMenu("suiPopupMenuFile", this);
    WithKey(suiPopupMenuFile->addAction("&Add", this, [this] { btnAdd->click(); }), kAddKey);
    WithKey(suiPopupMenuFile->addAction("&Remove", this, [this] { RemoveSelectedRows(); }),
            kRemoveKey);
    suiPopupMenuFile->addAction("&Clear", this, [this] { btnClear->click(); });
    WithKey(suiPopupMenuFile->addAction("&Start", this, [this] { btnStart->click(); }), kStartKey);
    suiPopupMenuFile->addSeparator();
    suiPopupMenuFile->addAction("Se&ttings", this, &TfrmMain::btnSettingsClick);
    WithKey(suiPopupMenuFile->addAction("&Exit", this, &TfrmMain::btnExitClick), kQuitKey);

    suiPopupMenuEdit = new TPopupMenu("suiPopupMenuEdit", this);
    QAction* crop = suiPopupMenuEdit->addAction("&Crop", this, &TfrmMain::Crop2Click);
    QAction* trim = suiPopupMenuEdit->addAction("&Trim", this, &TfrmMain::Trim1Click);
    QAction* mark = suiPopupMenuEdit->addAction("&Video Effect && Water Mark", this,
                                                &TfrmMain::WaterMark1Click);
    suiPopupMenuEdit->addSeparator();
    WithKey(suiPopupMenuEdit->addAction("&Add", this, [this] { btnAdd->click(); }), kAddKey);
    QAction* remove = WithKey(
        suiPopupMenuEdit->addAction("&Remove", this, [this] { RemoveSelectedRows(); }), kRemoveKey);
    QAction* clear = suiPopupMenuEdit->addAction("&Clear", this, [this] { btnClear->click(); });
    QAction* start = WithKey(
        suiPopupMenuEdit->addAction("&Start", this, [this] { btnStart->click(); }), kStartKey);
    suiPopupMenuEdit->addSeparator();
    QAction* info =
        suiPopupMenuEdit->addAction("Video &Information", this, &TfrmMain::Infomation1Click);
    editRowActions_ = {crop, trim, mark, remove, clear, start, info};

    suiPopupMenuHelp = new TPopupMenu("suiPopupMenuHelp", this);
    WithKey(suiPopupMenuHelp->addAction("&Help", this, &TfrmMain::Help1Click), kHelpKey);
    suiPopupMenuHelp->addSeparator();
    suiPopupMenuHelp->addAction("&Support and Contact", this, &TfrmMain::SupportandContact1Click);
    suiPopupMenuHelp->addAction("&About", this, &TfrmMain::About1Click);
}

void TfrmMain::CreateShortcuts() {
    const auto onKey = [this](const QKeySequence& key, auto action) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    onKey(kAddKey, [this] { btnAdd->click(); });
    onKey(kRemoveKey, [this] { RemoveSelectedRows(); });
    onKey(kSelectAllKey, [this] { lvFIles->selectAll(); });
    onKey(kStartKey, [this] { btnStart->click(); });
    onKey(kStartKeypadKey, [this] { btnStart->click(); });
    onKey(kHelpKey, [this] { Help1Click(); });
    onKey(kQuitKey, [this] { close(); });
}

void TfrmMain::ConnectHandlers() {
    connect(btnSmall, &QToolButton::clicked, this, &TfrmMain::btnSmallClick);
    connect(btnClose, &QToolButton::clicked, this, &TfrmMain::btnCloseClick);
    connect(btnExit, &QPushButton::clicked, this, &TfrmMain::btnExitClick);
    connect(menubtnFile, &QToolButton::clicked, this, &TfrmMain::menubtnFileClick);
    connect(menubtnEdit, &QToolButton::clicked, this, &TfrmMain::menubtnEditClick);
    connect(menubtnHelp, &QToolButton::clicked, this, &TfrmMain::menubtnHelpClick);
    connect(menubtnPreference, &QToolButton::clicked, this, &TfrmMain::menubtnPreferenceClick);
    connect(menubtnWebsite, &QToolButton::clicked, this, &TfrmMain::menubtnWebsiteClick);
    connect(btnEdit, &QToolButton::clicked, this, &TfrmMain::btnEditClick);
    connect(btnSettings, &QToolButton::clicked, this, &TfrmMain::btnSettingsClick);
    connect(btnOptions, &QPushButton::clicked, this, &TfrmMain::btnOptionsClick);
    connect(btnBrows, &QPushButton::clicked, this, &TfrmMain::btnBrowsClick);
    connect(btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
    connect(suiPopupMenuEdit, &QMenu::aboutToShow, this, &TfrmMain::suiPopupMenuEditPopup);
    // Each share button opens its service's page with the product page.
    using TSharePage = std::string (*)(const std::string&);
    const std::pair<skin::TImageButton*, TSharePage> shares[] = {
        {imgbtnfc, weblinks::FacebookShare},
        {imgbtngoogle, weblinks::GoogleShare},
        {imgbtntw, [](const std::string&) { return weblinks::TwitterShare(); }},
        {imgbtndelicious, weblinks::DeliciousShare},
        {imgbtndigg, weblinks::DiggShare},
        {imgbtnstumbleupon, weblinks::StumbleUponShare},
        {imgbtnreddit, weblinks::RedditShare}};
    for (const auto& [button, page] : shares)
        connect(button, &QToolButton::clicked, this,
                [this, page = page] { OpenInDesktop(page(GlobalObject->ProductPage())); });
    connect(lvFIles, &QWidget::customContextMenuRequested, this,
            [this](const QPoint&) { suiPopupMenuEdit->exec(QCursor::pos()); });
    connect(btnAdd, &QToolButton::clicked, this, &TfrmMain::btnAddClick);
    connect(btnRemove, &QToolButton::clicked, this, &TfrmMain::btnRemoveClick);
    connect(btnClear, &QToolButton::clicked, this, &TfrmMain::btnClearClick);
    connect(btnStart, &QToolButton::clicked, this, &TfrmMain::btnStartClick);
    connect(btnStartBelow, &QToolButton::clicked, this, &TfrmMain::btnStartClick);
    connect(lvFIles, &QTreeWidget::itemClicked, this, &TfrmMain::lvFIlesClick);
    connect(lvFIles, &QTreeWidget::itemDoubleClicked, this, &TfrmMain::lvFIlesDblClick);
    ConnectPreview();
    lvFIles->OnFilesDropped = [this](const std::vector<std::string>& files) {
        if (ConverterReady()) AddFiles(files);
    };
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive) ApplicationEvents1Deactivate();
            });
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
    chooser_ = new TFormatChooser(
        edt1, imgbtn1, lst1, TFormatChooser::TPlacement{false, 422},
        [this] { return StoredFormatName(); },
        [this](const std::string& caption, int code) { PickFormat(caption, code); }, this);
    InstallMainThreadPump();
    InstallPreviewWindows();
    LoadMediaLibraries();
    CCAVC = std::make_unique<TFFmpegVCL>();
    CCAVC->SetPreviewBitmap(true);
    batch_ = std::make_unique<TMainBatch>(*this);
}

void TfrmMain::LoadMediaLibraries() {
    TFFmpegLoader& loader = FFmpegLoader();
    if (loader.AreLoaded(PlayerLibraries)) return;
    loader.SetLibraryFolder(
        QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString());
    if (!loader.LoadLibraries(PlayerLibraries))
        mmoLog->appendPlainText(QString::fromStdString(loader.GetLastError()));
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
    FillOutputFormatCombo();
    CheckFolderAtStart(*GlobalObject, "OutPutDir");
    CheckFolderAtStart(*GlobalObject, "SnapOutPutDir");
    TIniFile settings(GlobalObject->SettingsFile());
    const std::string outputFolder =
        settings.ReadString(kSettings, "OutPutDir", DefaultOutputFolder());
    // What a conversion killed with the window left in the output folder.
    RemoveDeadLeftovers(outputFolder);
    edDirectory->setText(QString::fromStdString(outputFolder));
    edt1->setTextMargins(4, 2, 0, 0);
    ShowVolumeAndMute();
    GlobalObject->SetVersionText(GlobalObject->GetVersionText());
    lbl_appname->setText(
        QString::fromStdString(GlobalObject->ProductName() + GlobalObject->VersionText()));
    chooser_->BuildFormatChooser(settings, StoredFormatName());
}

void TfrmMain::FillOutputFormatCombo() {
    cbOutputFormat->clear();
    for (const char* caption : kOutputFormatItems)
        cbOutputFormat->addItem(caption);
    cbOutputFormat->setMaxVisibleItems(std::min(cbOutputFormat->count(), 20));
    TIniFile settings(GlobalObject->SettingsFile());
    cbOutputFormat->setCurrentIndex(settings.ReadInteger(kSettings, "OutPutFormat", 0));
}

void TfrmMain::ShowVolumeAndMute() {
    TIniFile settings(GlobalObject->SettingsFile());
    trcVolume->SetMin(0);
    trcVolume->SetMax(128);
    trcVolume->SetPositionL(StoredVolume(settings));
    Muted = settings.ReadInteger(kSettings, "mute", 0) == 1;
    imgbtnMute->setIcon(QIcon(imglistVolumeMute[Muted ? 1 : 0]));
    trcVolume->update();
}

// Before a format was ever picked the caption shown is that of the format
// in use ("FormatCode", default 1), not a caption the list does not have.
std::string TfrmMain::StoredFormatName() const {
    TIniFile settings(GlobalObject->SettingsFile());
    const std::string stored = settings.ReadString(kSettings, "FormatName", "");
    if (!stored.empty()) return stored;
    const std::string inUse = FormatCaptionOf(settings.ReadInteger(kSettings, "FormatCode", 1));
    return inUse.empty() ? kDefaultFormatName : inUse;
}

void TfrmMain::PickFormat(const std::string& caption, int code) {
    TIniFile settings(GlobalObject->SettingsFile());
    settings.WriteString(kSettings, "FormatName", caption);
    settings.WriteString(kSettings, "FormatCode", std::to_string(code));
    ShowDestinationNames();
}

bool TfrmMain::FormCloseQuery() {
    if (ShowMessageBox("Warning", "Do you really want to exit?", TMsgIcon::Question,
                       TMsgButtons::YesNo) != TMsgResult::Yes)
        return false;
    TIniFile settings(GlobalObject->SettingsFile());
    chooser_->SaveChooserState(settings);
    batch_.reset();
    FFPlayer->Close(true);
    PreviewBitmap = QImage();
    TaskItems.clear();
    return true;
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmMain::CentreOnDesktop() {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (closeConfirmed_ || FormCloseQuery()) {
        closeConfirmed_ = true;
        layout_->StorePlace();
        btnStopAddingClick();
        event->accept();
    } else {
        event->ignore();
    }
}

void TfrmMain::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), skin::Background());
    const int w = width();
    QLinearGradient title(0, 0, 0, kTitleHeight);
    title.setColorAt(0, QColor(52, 96, 152));
    title.setColorAt(1, skin::Band());
    painter.fillRect(QRect(0, 0, w, kTitleHeight), title);
    painter.fillRect(QRect(0, 64, w, 60), QColor(30, 62, 106));
    painter.setPen(QColor(60, 98, 146));
    painter.drawLine(0, kTitleHeight, w, kTitleHeight);
    painter.drawLine(0, 64, w, 64);
    painter.drawLine(0, 123, w, 123);
    // The bottom rows keep their distance from the window's bottom.
    painter.drawLine(0, height() - (kHeight - 462), w, height() - (kHeight - 462));
    painter.setPen(skin::HotFrame());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TfrmMain::mousePressEvent(QMouseEvent* event) {
    if (layout_ && layout_->StartEdgeResize(event)) return;
    // The title row moves the window.
    if (event->button() == Qt::LeftButton && event->position().y() < kTitleHeight && windowHandle())
        windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (ApplicationEvents1Message(watched, event)) return true;
    return QWidget::eventFilter(watched, event);
}

bool TfrmMain::ApplicationEvents1Message(QObject* receiver, QEvent* event) {
    if (!receiver->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(receiver);
    if (widget->window() != this) return false;
    if (PreviewMessage(widget, event)) return true;
    if (event->type() != QEvent::MouseButtonPress) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    if (widget == menubtnFile || widget == menubtnEdit || widget == menubtnHelp ||
        widget == btnEdit)
        lastMenuButtonPress_[widget] = clock_.elapsed();
    if (!IsChooserControl(widget) && lst1->isVisible()) chooser_->HideList();
    return false;
}

void TfrmMain::ApplicationEvents1Deactivate() {
    chooser_->HideList();
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

bool TfrmMain::TakeOpeningClick(TPopupMenu* menu, bool pressClosedTheMenu) {
    if (menu->Tag == 1) {
        menu->Tag = 0;
        if (pressClosedTheMenu) return false;
    }
    return true;
}

void TfrmMain::MenuClosed(TPopupMenu* menu, bool dismissedByItsButton) {
    menu->Tag = dismissedByItsButton ? 1 : 0;
}

void TfrmMain::PopupFromButton(TPopupMenu* menu, QWidget* button, const QPoint& pos) {
    // Whether the press of this click is the one that closed the menu: the
    // platform may hand that press on to the button once the menu is gone.
    constexpr qint64 kSlackMs = 100;
    const auto press = lastMenuButtonPress_.find(button);
    const bool pressClosedTheMenu =
        press != lastMenuButtonPress_.end() && press->second <= menu->ClosedAt + kSlackMs;
    if (!TakeOpeningClick(menu, pressClosedTheMenu)) return;
    menu->setStyleSheet(skin::StyleSheet());
    // The button finishes its own click before the menu runs modally.
    QTimer::singleShot(0, this, [this, menu, button, pos] { RunMenu(menu, button, pos); });
}

void TfrmMain::RunMenu(TPopupMenu* menu, QWidget* button, const QPoint& pos) {
    menu->exec(pos);
    const bool pressedOnButton = (QGuiApplication::mouseButtons() & Qt::LeftButton) &&
                                 button->rect().contains(button->mapFromGlobal(QCursor::pos()));
    menu->ClosedAt = clock_.elapsed();
    MenuClosed(menu, pressedOnButton);
}

void TfrmMain::menubtnFileClick() {
    PopupFromButton(suiPopupMenuFile, menubtnFile,
                    menubtnFile->mapToGlobal(QPoint(0, menubtnFile->height())));
}

void TfrmMain::menubtnEditClick() {
    PopupFromButton(suiPopupMenuEdit, menubtnEdit,
                    menubtnEdit->mapToGlobal(QPoint(0, menubtnEdit->height())));
}

void TfrmMain::menubtnHelpClick() {
    PopupFromButton(suiPopupMenuHelp, menubtnHelp,
                    menubtnHelp->mapToGlobal(QPoint(0, menubtnHelp->height())));
}

void TfrmMain::btnEditClick() {
    PopupFromButton(suiPopupMenuEdit, btnEdit,
                    mapToGlobal(QPoint(btnEdit->x() + 4, btnEdit->y() + btnEdit->height() - 5)));
}

void TfrmMain::suiPopupMenuEditPopup() {
    const bool rowSelected = lvFIles->RowCount() > 0 && lvFIles->SelectedRow() >= 0;
    SetEditItemsEnabled(rowSelected);
}

void TfrmMain::SetEditItemsEnabled(bool enabled) {
    for (QAction* action : editRowActions_)
        action->setEnabled(enabled);
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
    if (!frmAbout_)
        frmAbout_ = new TfrmAbout(this, QString::fromStdString(GlobalObject->ProductName()),
                                  QString::fromStdString(GlobalObject->VersionText()),
                                  QString::fromStdString(GlobalObject->ProductPage()));
    frmAbout_->exec();
}

// The edit dialogs are added with their own windows.
void TfrmMain::Crop2Click() {
    if (lvFIles->RowCount() == 0) return;
    imgbtnStopClick(); // the dialog plays the source in its own player
    delete frmCrop;
    frmCrop = new TfrmCrop(this, lvFIles, GlobalObject->SettingsFile());
    frmCrop->exec();
    lvFIles->NotifyChanged();
    ShowVolumeAndMute();
}
void TfrmMain::Trim1Click() {
    if (lvFIles->RowCount() == 0) return;
    imgbtnStopClick(); // the dialog plays the source in its own player
    frmTrim->exec();
    lvFIles->NotifyChanged();
}
void TfrmMain::WaterMark1Click() {
    imgbtnStopClick();
    delete frmWaterMark;
    if (lvFIles->RowCount() > 0 && lvFIles->SelectedRow() < 0) lvFIles->SelectRow(0);
    const int row = lvFIles->SelectedRow();
    const bool mute =
        TIniFile(GlobalObject->SettingsFile()).ReadInteger("settings", "mute", 0) == 1;
    frmWaterMark = new TfrmWaterMark(
        row >= 0 ? &lvFIles->Row(row)->Record : nullptr, mute,
        QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString(), this);
    frmWaterMark->exec();
    lvFIles->NotifyChanged();
}

void TfrmMain::Infomation1Click() {
    if (!frmFileInfo) frmFileInfo = new TfrmFileInfo(this);
    const int row = lvFIles->SelectedRow();
    frmFileInfo->Execute(row >= 0 ? lvFIles->Row(row)->Record.SourceFile : std::string());
}

void TfrmMain::menubtnPreferenceClick() {
    if (!frmPreference)
        frmPreference = new TfrmPreference(
            this, *GlobalObject, [this](const std::string& shown) { return ChooseFolder(shown); });
    frmPreference->exec();
}

std::string TfrmMain::ChooseFolder(const std::string& shown) {
    if (folderChooser_) return folderChooser_(shown);
    if (!fmDirectory) fmDirectory = new TfmDirectory(this);
    return fmDirectory->Execute(shown);
}

void TfrmMain::btnSettingsClick() {
    if (!frmSettings) frmSettings = new TfrmSettings(this, *GlobalObject);
    if (frmSettings->exec() != QDialog::Accepted) return;
    cbOutputFormat->setCurrentIndex(frmSettings->cbOutputFormat->currentIndex());
    TIniFile settings(GlobalObject->SettingsFile());
    chooser_->BuildFormatChooser(settings, StoredFormatName());
}

void TfrmMain::btnOptionsClick() {
    TIniFile settings(GlobalObject->SettingsFile());
    chooser_->SaveChooserState(settings);
    btnSettingsClick();
}

void TfrmMain::btnBrowsClick() {
    const std::string shown = edDirectory->text().toStdString();
    const std::string chosen = ChooseFolder(shown);
    edDirectory->setText(
        QString::fromStdString(AcceptChosenFolder(*GlobalObject, "OutPutDir", chosen, shown)));
}

// ---------------------------------------------------------------------------
// Files from outside the window

void TfrmMain::OpenFiles(const std::vector<std::string>& files) {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    pendingFiles_.insert(pendingFiles_.end(), files.begin(), files.end());
    if (!pendingTimer_) {
        pendingTimer_ = new QTimer(this);
        pendingTimer_->setObjectName("pendingFilesTimer");
        pendingTimer_->setSingleShot(true);
        connect(pendingTimer_, &QTimer::timeout, this, &TfrmMain::AddPendingFiles);
    }
    pendingTimer_->start(0);
}

void TfrmMain::AddPendingFiles() {
    if (pendingFiles_.empty()) return;
    // A dialog works on the list's rows, a batch on its tasks: wait for them.
    if (QApplication::activeModalWidget() || !btnAdd->isEnabled()) {
        pendingTimer_->start(250);
        return;
    }
    const std::vector<std::string> files = std::move(pendingFiles_);
    pendingFiles_.clear();
    if (ConverterReady()) AddFiles(files);
}

void TfrmMain::RemoveSelectedRows() {
    if (!btnRemove->isEnabled()) return;
    std::vector<int> rows;
    for (QTreeWidgetItem* item : lvFIles->selectedItems())
        rows.push_back(lvFIles->indexOfTopLevelItem(item));
    if (rows.size() <= 1) {
        btnRemoveClick();
        return;
    }
    std::sort(rows.begin(), rows.end());
    // Stopped only when the player has one of them open.
    for (int row : rows)
        if (lvFIles->Row(row) == playerRow_) imgbtnStopClick();
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        lvFIles->RemoveRow(*row);
    const int remaining = lvFIles->RowCount();
    if (remaining > 0) lvFIles->SelectRow(std::min(rows.front(), remaining - 1));
    if (remaining == 0) ListBecameEmpty();
    UpdatePreNextEnabling();
    lvFIles->viewport()->update();
}

void TfrmMain::btnOpenClick() {
    TIniFile settings(GlobalObject->SettingsFile());
    const std::string folder = settings.ReadString(kSettings, "OutPutDir", DefaultOutputFolder());
    if (edDirectory->text().size() > 2) OpenLocalInDesktop(folder);
}
