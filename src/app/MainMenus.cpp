#include "app/MainMenus.h"

#include "app/MainPreview.h"
#include "app/Shell.h"
#include "app/WinAbout.h"
#include "app/WinFileInfo.h"
#include "app/WinPreference.h"
#include "app/directory.h"
#include "app/winMain.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "editing/WinCrop.h"
#include "editing/WinTrim.h"
#include "editing/WinWaterMark.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QShortcut>
#include <QTimer>
#include <algorithm>

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

TMainMenus::TMainMenus(TfrmMain& window) : FWindow(window) {
    FClock.start();
}

void TMainMenus::CreateMenus() {
    TfrmMain& w = FWindow;
    const auto add = [&w] { w.btnAdd->click(); };
    const auto remove = [this] { RemoveSelectedRows(); };
    const auto clear = [&w] { w.btnClear->click(); };
    const auto start = [&w] { w.btnStart->click(); };

    TPopupMenu* file = w.suiPopupMenuFile = new TPopupMenu("suiPopupMenuFile", &w);
    WithKey(file->addAction("&Add", &w, add), kAddKey);
    WithKey(file->addAction("&Remove", &w, remove), kRemoveKey);
    file->addAction("&Clear", &w, clear);
    WithKey(file->addAction("&Start", &w, start), kStartKey);
    file->addSeparator();
    file->addAction("Se&ttings", &w, &TfrmMain::btnSettingsClick);
    WithKey(file->addAction("&Exit", &w, &TfrmMain::btnExitClick), kQuitKey);

    TPopupMenu* edit = w.suiPopupMenuEdit = new TPopupMenu("suiPopupMenuEdit", &w);
    QAction* crop = edit->addAction("&Crop", &w, &TfrmMain::Crop2Click);
    QAction* trim = edit->addAction("&Trim", &w, &TfrmMain::Trim1Click);
    QAction* mark = edit->addAction("&Video Effect && Water Mark", &w, &TfrmMain::WaterMark1Click);
    edit->addSeparator();
    WithKey(edit->addAction("&Add", &w, add), kAddKey);
    QAction* removeItem = WithKey(edit->addAction("&Remove", &w, remove), kRemoveKey);
    QAction* clearItem = edit->addAction("&Clear", &w, clear);
    QAction* startItem = WithKey(edit->addAction("&Start", &w, start), kStartKey);
    edit->addSeparator();
    QAction* info = edit->addAction("Video &Information", &w, &TfrmMain::Infomation1Click);
    FRowActions = {crop, trim, mark, removeItem, clearItem, startItem, info};

    TPopupMenu* help = w.suiPopupMenuHelp = new TPopupMenu("suiPopupMenuHelp", &w);
    WithKey(help->addAction("&Help", &w, &TfrmMain::Help1Click), kHelpKey);
    help->addSeparator();
    help->addAction("&Support and Contact", &w, &TfrmMain::SupportandContact1Click);
    help->addAction("&About", &w, &TfrmMain::About1Click);
}

void TMainMenus::CreateShortcuts() {
    TfrmMain& w = FWindow;
    const auto onKey = [&w](const QKeySequence& key, auto action) {
        auto* shortcut = new QShortcut(key, &w);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, &w, action);
    };
    onKey(kAddKey, [&w] { w.btnAdd->click(); });
    onKey(kRemoveKey, [this] { RemoveSelectedRows(); });
    onKey(kSelectAllKey, [&w] { w.lvFIles->selectAll(); });
    onKey(kStartKey, [&w] { w.btnStart->click(); });
    onKey(kStartKeypadKey, [&w] { w.btnStart->click(); });
    onKey(kHelpKey, [&w] { w.Help1Click(); });
    onKey(kQuitKey, [&w] { w.close(); });
}

void TMainMenus::NotePress(QWidget* widget) {
    const TfrmMain& w = FWindow;
    if (widget == w.menubtnFile || widget == w.menubtnEdit || widget == w.menubtnHelp ||
        widget == w.btnEdit)
        FLastButtonPress[widget] = FClock.elapsed();
}

bool TMainMenus::TakeOpeningClick(TPopupMenu* menu, bool pressClosedTheMenu) {
    if (menu->Tag == 1) {
        menu->Tag = 0;
        if (pressClosedTheMenu) return false;
    }
    return true;
}

void TMainMenus::MenuClosed(TPopupMenu* menu, bool dismissedByItsButton) {
    menu->Tag = dismissedByItsButton ? 1 : 0;
}

void TMainMenus::PopupFromButton(TPopupMenu* menu, QWidget* button, const QPoint& pos) {
    // Whether the press of this click is the one that closed the menu: the
    // platform may hand that press on to the button once the menu is gone.
    constexpr qint64 kSlackMs = 100;
    const auto press = FLastButtonPress.find(button);
    const bool pressClosedTheMenu =
        press != FLastButtonPress.end() && press->second <= menu->ClosedAt + kSlackMs;
    if (!TakeOpeningClick(menu, pressClosedTheMenu)) return;
    menu->setStyleSheet(skin::StyleSheet());
    // The button finishes its own click before the menu runs modally.
    QTimer::singleShot(0, &FWindow, [this, menu, button, pos] { RunMenu(menu, button, pos); });
}

void TMainMenus::RunMenu(TPopupMenu* menu, QWidget* button, const QPoint& pos) {
    menu->exec(pos);
    const bool pressedOnButton = (QGuiApplication::mouseButtons() & Qt::LeftButton) &&
                                 button->rect().contains(button->mapFromGlobal(QCursor::pos()));
    menu->ClosedAt = FClock.elapsed();
    MenuClosed(menu, pressedOnButton);
}

void TMainMenus::EnableRowItems() {
    const bool rowSelected = FWindow.lvFIles->RowCount() > 0 && FWindow.lvFIles->SelectedRow() >= 0;
    for (QAction* action : FRowActions)
        action->setEnabled(rowSelected);
}

void TMainMenus::RemoveSelectedRows() {
    TfrmMain& w = FWindow;
    TFilesList& list = *w.lvFIles;
    if (!w.btnRemove->isEnabled()) return;
    std::vector<int> rows;
    for (QTreeWidgetItem* item : list.selectedItems())
        rows.push_back(list.indexOfTopLevelItem(item));
    if (rows.size() <= 1) {
        w.btnRemoveClick();
        return;
    }
    std::sort(rows.begin(), rows.end());
    // Stopped only when the player has one of them open.
    for (int row : rows)
        if (list.Row(row) == w.FPreview->PlayerRow()) w.imgbtnStopClick();
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        list.RemoveRow(*row);
    const int remaining = list.RowCount();
    if (remaining > 0) list.SelectRow(std::min(rows.front(), remaining - 1));
    if (remaining == 0) w.imgbtnStopClick();
    w.FPreview->UpdatePreNextEnabling();
    list.viewport()->update();
}

void TMainMenus::ShowAbout() {
    TGlobalObject& global = FWindow.Global();
    if (!FAbout)
        FAbout = new TfrmAbout(&FWindow, QString::fromStdString(global.ProductName()),
                               QString::fromStdString(global.VersionText()),
                               QString::fromStdString(global.ProductPage()));
    FAbout->exec();
}

// The edit dialogs play the source in their own player: the preview stops.
void TMainMenus::ShowCrop() {
    TfrmMain& w = FWindow;
    if (w.lvFIles->RowCount() == 0) return;
    w.imgbtnStopClick();
    delete w.frmCrop;
    w.frmCrop = new TfrmCrop(&w, w.lvFIles, w.Global().SettingsFile());
    w.frmCrop->exec();
    w.lvFIles->NotifyChanged();
    w.FPreview->ShowVolumeAndMute();
}

void TMainMenus::ShowTrim() {
    TfrmMain& w = FWindow;
    if (w.lvFIles->RowCount() == 0) return;
    w.imgbtnStopClick();
    w.frmTrim->exec();
    w.lvFIles->NotifyChanged();
}

void TMainMenus::ShowWaterMark() {
    TfrmMain& w = FWindow;
    TFilesList& list = *w.lvFIles;
    w.imgbtnStopClick();
    delete w.frmWaterMark;
    if (list.RowCount() > 0 && list.SelectedRow() < 0) list.SelectRow(0);
    const int row = list.SelectedRow();
    const bool mute = TIniFile(w.Global().SettingsFile()).ReadInteger("settings", "mute", 0) == 1;
    w.frmWaterMark = new TfrmWaterMark(
        row >= 0 ? &list.Row(row)->Record : nullptr, mute,
        QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString(), &w);
    w.frmWaterMark->exec();
    list.NotifyChanged();
}

void TMainMenus::ShowFileInfo() {
    TfrmMain& w = FWindow;
    if (!w.frmFileInfo) w.frmFileInfo = new TfrmFileInfo(&w);
    const int row = w.lvFIles->SelectedRow();
    w.frmFileInfo->Execute(row >= 0 ? w.lvFIles->Row(row)->Record.SourceFile : std::string());
}

void TMainMenus::ShowPreferences() {
    if (!FWindow.frmPreference)
        FWindow.frmPreference =
            new TfrmPreference(&FWindow, FWindow.Global(),
                               [this](const std::string& shown) { return ChooseFolder(shown); });
    FWindow.frmPreference->exec();
}

std::string TMainMenus::ChooseFolder(const std::string& shown) {
    if (FWindow.FFolderChooser) return FWindow.FFolderChooser(shown);
    if (!FWindow.fmDirectory) FWindow.fmDirectory = new TfmDirectory(&FWindow);
    return FWindow.fmDirectory->Execute(shown);
}
