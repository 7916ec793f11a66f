#include "app/MainControls.h"

#include "app/MainLayout.h"

#include "app/ConversionList.h"
#include "app/MainAdd.h"
#include "app/MainMenus.h"
#include "app/MainPreview.h"
#include "app/PlayerSurface.h"
#include "app/Shell.h"
#include "app/WebLinks.h"
#include "app/winMain.h"
#include "core/GlobalUnit.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

namespace {

// The designed width of the window.
constexpr int kWidth = 914;

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

void TMainControls::Build() {
    CentreOnDesktop();
    CreateTitleRow();
    CreateMaximizeButton();
    CreateMenuRow();
    CreateToolRow();
    CreateShareButtons();
    CreateListAndPreview();
    FWindow.FAdd->CreateProgressPanel();
    FWindow.FPreview->CreateButtons();
    CreateBottomRows();
    CreateHiddenControls();
    FWindow.FMenus->CreateMenus();
    ConnectHandlers();
    FWindow.FMenus->CreateShortcuts();
}

void TMainControls::CreateTitleRow() {
    TfrmMain& w = FWindow;
    w.imgIcon = new QLabel(&w);
    w.imgIcon->setObjectName("imgIcon");
    w.imgIcon->setPixmap(skin::Pixmap("app", 22));
    w.imgIcon->setGeometry(9, 5, 22, 22);
    w.lbl_appname = new QLabel(&w);
    w.lbl_appname->setObjectName("lbl_appname");
    w.lbl_appname->setFont(skin::TitleFont(11));
    w.lbl_appname->setGeometry(38, 4, 400, 24);
    w.btnSmall = new skin::TImageButton("btnSmall", "", "minimize", 24, 24, 18, &w);
    w.btnSmall->move(kWidth - 58, 4);
    w.btnSmall->setToolTip("Minimize");
    w.btnClose = new skin::TImageButton("btnClose", "", "close", 24, 24, 18, &w);
    w.btnClose->move(kWidth - 30, 4);
    w.btnClose->setToolTip("Close");
}

void TMainControls::CreateMenuRow() {
    TfrmMain& w = FWindow;
    struct Item {
        skin::TMenuRowButton** button;
        const char* name;
        const char* caption;
    };
    const Item items[] = {{&w.menubtnFile, "menubtnFile", "File"},
                          {&w.menubtnEdit, "menubtnEdit", "Edit"},
                          {&w.menubtnPreference, "menubtnPreference", "Preference"},
                          {&w.menubtnHelp, "menubtnHelp", "Help"},
                          {&w.menubtnWebsite, "menubtnWebsite", "Website"}};
    int x = 14;
    for (const Item& item : items) {
        *item.button = new skin::TMenuRowButton(item.name, item.caption, &w);
        (*item.button)->adjustSize();
        const int w = std::max(54, (*item.button)->sizeHint().width());
        (*item.button)->setGeometry(x, 33, w, 28);
        x += w + 4;
    }
}

void TMainControls::CreateToolRow() {
    TfrmMain& w = FWindow;
    struct Item {
        skin::TImageButton** button;
        const char* name;
        const char* caption;
        const char* icon;
        const char* tip;
    };
    const Item items[] = {
        {&w.btnAdd, "btnAdd", "Add", "add", "Add video and audio files to the list (Ctrl+O)"},
        {&w.btnRemove, "btnRemove", "Remove", "remove", "Remove the selected files (Delete)"},
        {&w.btnClear, "btnClear", "Clear", "clear", "Remove every file from the list"},
        {&w.btnSettings, "btnSettings", "Settings", "settings",
         "Settings of the output format in use"},
        {&w.btnEdit, "btnEdit", "Edit", "edit",
         "Crop, trim, effects and watermarks of the selected file"},
        {&w.btnStart, "btnStart", "Start", "start", "Convert the checked files (Ctrl+Return)"}};
    int x = 21;
    for (const Item& item : items) {
        *item.button = new skin::TImageButton(item.name, item.caption, item.icon, 96, 53, 26, &w);
        (*item.button)->move(x, 67);
        // The caption stays the button's name; the tip describes it.
        (*item.button)->setAccessibleName(item.caption);
        (*item.button)->setToolTip(item.tip);
        (*item.button)->setAccessibleDescription(item.tip);
        x += 96;
    }
}

void TMainControls::CreateShareButtons() {
    TfrmMain& w = FWindow;
    struct Item {
        skin::TImageButton** button;
        const char* name;
        const char* hint;
        const char* icon;
    };
    const Item items[] = {
        {&w.imgbtnfc, "imgbtnfc", "Facebook", "share_facebook"},
        {&w.imgbtngoogle, "imgbtngoogle", "Google", "share_google"},
        {&w.imgbtntw, "imgbtntw", "Twitter", "share_twitter"},
        {&w.imgbtndelicious, "imgbtndelicious", "Delicious", "share_delicious"},
        {&w.imgbtndigg, "imgbtndigg", "Digg", "share_digg"},
        {&w.imgbtnstumbleupon, "imgbtnstumbleupon", "Stumbleupon", "share_stumbleupon"},
        {&w.imgbtnreddit, "imgbtnreddit", "Reddit", "share_reddit"}};
    int x = kWidth - 28 - 7 * 36 + 4;
    for (const Item& item : items) {
        *item.button = new skin::TImageButton(item.name, "", item.icon, 32, 32, 26, &w);
        (*item.button)->setToolTip(item.hint);
        (*item.button)->move(x, 78);
        x += 36;
    }
}

void TMainControls::CreateListAndPreview() {
    TfrmMain& w = FWindow;
    w.lvFIles = new TFilesList(&w);
    w.lvFIles->setGeometry(21, 127, 479, 329);
    w.FPreview->CreatePanel();
}

void TMainControls::CreateBottomRows() {
    TfrmMain& w = FWindow;
    TextLabel("Output Format:", &w, 21, 474, 110, 22);
    w.edt1 = new TFormatEdit(&w);
    w.edt1->setGeometry(132, 472, 334, 26);
    w.imgbtn1 = new skin::TImageButton("imgbtn1", "", "arrow", 26, 26, 18, &w);
    w.imgbtn1->move(466, 472);
    w.imgbtn1->setStyleSheet(
        "QToolButton { background: rgb(246,247,248); border: 1px solid #7a8ea8;"
        " border-radius: 2px; }");
    w.btnOptions = TextButton("btnOptions", "Settings", &w);
    w.btnOptions->setGeometry(500, 472, 86, 26);
    TextLabel("Output Directory:", &w, 21, 510, 110, 22);
    w.edDirectory = new QLineEdit(&w);
    w.edDirectory->setObjectName("edDirectory");
    w.edDirectory->setReadOnly(true);
    w.edDirectory->setGeometry(132, 508, 360, 26);
    w.edDirectory->setTextMargins(4, 0, 0, 0);
    w.btnBrows = TextButton("btnBrows", "Browse", &w);
    w.btnBrows->setGeometry(500, 508, 86, 26);
    w.btnOpen = TextButton("btnOpen", "Open", &w);
    w.btnOpen->setGeometry(592, 508, 70, 26);
    w.btnStartBelow = new skin::TImageButton("btnStartBelow", "Start", "start", 150, 64, 34, &w);
    w.btnStartBelow->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    w.btnStartBelow->setFont(skin::TitleFont(14));
    w.btnStartBelow->move(736, 470);
    w.btnStartBelow->setStyleSheet(
        "QToolButton { color: white; border: 1px solid #f5a66b; border-radius: 6px;"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f39a55, stop:1 #d9702b); }"
        "QToolButton:hover { background: #f5a66b; }"
        "QToolButton:pressed { background: #c8621f; }");
    w.lst1 = new TFormatList(&w);
}

void TMainControls::CreateHiddenControls() {
    TfrmMain& w = FWindow;
    w.cbOutputFormat = new QComboBox(&w);
    w.cbOutputFormat->setObjectName("cbOutputFormat");
    w.cbOutputFormat->hide();
    w.mmoLog = new QPlainTextEdit(&w);
    w.mmoLog->setObjectName("mmoLog");
    w.mmoLog->setReadOnly(true);
    w.mmoLog->hide();
    w.btnExit = TextButton("btnExit", "Exit", &w);
    w.btnStop = TextButton("btnStop", "Stop", &w);
    w.btnPause = TextButton("btnPause", "Pause", &w);
    w.btnResume = TextButton("btnResume", "Resume", &w);
    for (QPushButton* b : {w.btnExit, w.btnStop, w.btnPause, w.btnResume})
        b->hide();
    w.imgPreview = new QLabel(w.pan1);
    w.imgPreview->setObjectName("imgPreview");
    w.imgPreview->hide();
}

void TMainControls::ConnectHandlers() {
    TfrmMain& w = FWindow;
    QObject::connect(w.btnSmall, &QToolButton::clicked, &w, &TfrmMain::btnSmallClick);
    QObject::connect(w.btnClose, &QToolButton::clicked, &w, &TfrmMain::btnCloseClick);
    QObject::connect(w.btnExit, &QPushButton::clicked, &w, &TfrmMain::btnExitClick);
    QObject::connect(w.menubtnFile, &QToolButton::clicked, &w, &TfrmMain::menubtnFileClick);
    QObject::connect(w.menubtnEdit, &QToolButton::clicked, &w, &TfrmMain::menubtnEditClick);
    QObject::connect(w.menubtnHelp, &QToolButton::clicked, &w, &TfrmMain::menubtnHelpClick);
    QObject::connect(w.menubtnPreference, &QToolButton::clicked, &w,
                     &TfrmMain::menubtnPreferenceClick);
    QObject::connect(w.menubtnWebsite, &QToolButton::clicked, &w, &TfrmMain::menubtnWebsiteClick);
    QObject::connect(w.btnEdit, &QToolButton::clicked, &w, &TfrmMain::btnEditClick);
    QObject::connect(w.btnSettings, &QToolButton::clicked, &w, &TfrmMain::btnSettingsClick);
    QObject::connect(w.btnOptions, &QPushButton::clicked, &w, &TfrmMain::btnOptionsClick);
    QObject::connect(w.btnBrows, &QPushButton::clicked, &w, &TfrmMain::btnBrowsClick);
    QObject::connect(w.btnOpen, &QPushButton::clicked, &w, &TfrmMain::btnOpenClick);
    QObject::connect(w.suiPopupMenuEdit, &QMenu::aboutToShow, &w, &TfrmMain::suiPopupMenuEditPopup);
    // Each share button opens its service's page with the product page.
    using TSharePage = std::string (*)(const std::string&);
    const std::pair<skin::TImageButton*, TSharePage> shares[] = {
        {w.imgbtnfc, weblinks::FacebookShare},
        {w.imgbtngoogle, weblinks::GoogleShare},
        {w.imgbtntw, [](const std::string&) { return weblinks::TwitterShare(); }},
        {w.imgbtndelicious, weblinks::DeliciousShare},
        {w.imgbtndigg, weblinks::DiggShare},
        {w.imgbtnstumbleupon, weblinks::StumbleUponShare},
        {w.imgbtnreddit, weblinks::RedditShare}};
    for (const auto& [button, page] : shares)
        QObject::connect(button, &QToolButton::clicked, &w, [win = &w, page = page] {
            OpenInDesktop(page(win->Global().ProductPage()));
        });
    QObject::connect(w.lvFIles, &QWidget::customContextMenuRequested, &w,
                     [win = &w](const QPoint&) { win->suiPopupMenuEdit->exec(QCursor::pos()); });
    QObject::connect(w.btnAdd, &QToolButton::clicked, &w, &TfrmMain::btnAddClick);
    QObject::connect(w.btnRemove, &QToolButton::clicked, &w, &TfrmMain::btnRemoveClick);
    QObject::connect(w.btnClear, &QToolButton::clicked, &w, &TfrmMain::btnClearClick);
    QObject::connect(w.btnStart, &QToolButton::clicked, &w, &TfrmMain::btnStartClick);
    QObject::connect(w.btnStartBelow, &QToolButton::clicked, &w, &TfrmMain::btnStartClick);
    QObject::connect(w.lvFIles, &QTreeWidget::itemClicked, &w, &TfrmMain::lvFIlesClick);
    QObject::connect(w.lvFIles, &QTreeWidget::itemDoubleClicked, &w, &TfrmMain::lvFIlesDblClick);
    w.FPreview->Connect();
    w.lvFIles->OnFilesDropped = [win = &w](const std::vector<std::string>& files) {
        if (win->FAdd->ConverterReady()) win->FAdd->AddFiles(files);
    };
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &w,
                     [win = &w](Qt::ApplicationState state) {
                         if (state != Qt::ApplicationActive) win->ApplicationEvents1Deactivate();
                     });
}

void TMainControls::CentreOnDesktop() {
    TfrmMain& w = FWindow;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w.move(screen->availableGeometry().center() - w.rect().center());
}

void TMainControls::CreateMaximizeButton() {
    TfrmMain& w = FWindow;
    w.btnMaximize = new skin::TImageButton("btnMaximize", "", "maximize", 24, 24, 18, &w);
    w.btnMaximize->setToolTip("Maximize");
    w.btnMaximize->setAccessibleName("Maximize");
    w.btnMaximize->move(w.btnClose->x() - 28, w.btnClose->y());
    w.btnSmall->move(w.btnMaximize->x() - 28, w.btnMaximize->y());
    QObject::connect(w.btnMaximize, &QToolButton::clicked, &w,
                     [win = &w] { win->FLayout->ToggleMaximized(); });
}
