// The main window's menus and their actions: the File, Edit and Help menus,
// the keys of the window, menus opened from their buttons (a click that only
// dismisses a menu does not open it again), the Edit menu's row items, the
// removal of the selected rows and the windows the menus open.
//
// Threads: user-interface thread only.
#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QtGlobal>
#include <map>
#include <string>
#include <vector>

class QAction;
class QWidget;
class TPopupMenu;
class TfrmAbout;
class TfrmMain;

class TMainMenus {
public:
    explicit TMainMenus(TfrmMain& window);

    void CreateMenus();
    // Keys of the window (Ctrl+O, Delete, Ctrl+A, Ctrl+Return, F1, Ctrl+Q).
    void CreateShortcuts();
    // Notes a left press on one of the menu buttons.
    void NotePress(QWidget* widget);
    // Opens `menu` at `pos` (screen coordinates) unless its tag says the click
    // only dismissed it; afterwards records whether `button` dismissed it.
    void PopupFromButton(TPopupMenu* menu, QWidget* button, const QPoint& pos);
    // The Edit menu's row items are enabled only while a row is selected.
    void EnableRowItems();
    // Delete: removes every selected row (one row as Remove does).
    void RemoveSelectedRows();

    // The windows of the menus.
    void ShowCrop();
    void ShowTrim();
    void ShowWaterMark();
    void ShowFileInfo();
    void ShowAbout();
    // The preferences, whose Browse buttons choose folders as below.
    void ShowPreferences();
    // The folder the user picks for a Browse button (the window's folder
    // chooser when a test set one), empty when none.
    std::string ChooseFolder(const std::string& shown);

    // The tag rule on its own: false (and the tag reset) when the click only
    // dismissed the menu, that is when its press is the one that closed it.
    static bool TakeOpeningClick(TPopupMenu* menu, bool pressClosedTheMenu);
    // Called when a menu opened from a button has closed.
    static void MenuClosed(TPopupMenu* menu, bool dismissedByItsButton);

private:
    void RunMenu(TPopupMenu* menu, QWidget* button, const QPoint& pos);

    TfrmMain& FWindow;
    TfrmAbout* FAbout = nullptr;
    // Items of the Edit menu that need a selected row.
    std::vector<QAction*> FRowActions;
    // Last left press on each menu button, on `FClock` (ms).
    QElapsedTimer FClock;
    std::map<QWidget*, qint64> FLastButtonPress;
};
