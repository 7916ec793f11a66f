// The program's own folder chooser: a path box that takes a typed or pasted
// folder, a tree of the machine's folders (the root folder with the home
// folder and mounted media below it), "New Folder", Ok and Cancel. It opens
// at the folder the caller shows now. One chooser serves the main window's
// and the preferences' Browse; the caller's folder rules then decide
// whether the chosen folder is taken.
#pragma once

#include <QDialog>
#include <QFileIconProvider>
#include <functional>
#include <string>

class QFileSystemModel;
class QLabel;
class QModelIndex;
class QLineEdit;
class QPushButton;
class QTreeView;

class TfmDirectory : public QDialog {
    Q_OBJECT
public:
    explicit TfmDirectory(QWidget* mainWindow);

    // Tells whether a folder lies on a CD or DVD file system.
    using TCdRomCheck = std::function<bool(const std::string& folder)>;
    // Replaces the file-system check (tests); an empty check restores it.
    static void SetCdRomCheck(TCdRomCheck check);
    // The file-system check itself: iso9660 or udf, by statfs.
    static bool IsCdRomFolder(const std::string& folder);

    // Shows the chooser modally, opened at `startFolder` (its nearest
    // existing parent; the home folder when there is none); the chosen
    // folder, or empty.
    std::string Execute(const std::string& startFolder = std::string());
    const std::string& Result() const { return FResult; }
    // Selects the folder in the tree with its parents expanded; false when
    // the tree does not hold it.
    bool SelectFolder(const std::string& folder);
    // The path of the selected entry, empty when none.
    std::string SelectedFolder() const;

    // Event handlers.
    void FormShow();
    void stview_selectdirClick();
    void btnOkClick();
    void btnCancelClick();
    // Makes a folder "New Folder" (or "New Folder 2", ...) in the selected
    // folder, selects it and starts renaming it in the tree.
    void btnNewFolderClick();
    // Enter in the path box: the tree goes to a typed folder that exists.
    void edtPathReturn();

    QLabel* lbl1 = nullptr;
    QLineEdit* edtPath = nullptr;
    QPushButton* btnNewFolder = nullptr;
    QTreeView* stview_selectdir = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The folder Ok takes: the path box's text when the user changed it,
    // else the tree's selection; empty with the reason shown when the typed
    // text names no folder.
    std::string ChosenFolder();
    void ShowSelectedPath();
    // The model lists a folder in the background; a listing taken before a
    // folder was made drops that folder's entry when it arrives, and the
    // tree's selection would move to a neighbour. The selected folder is
    // kept and selected again while it still exists.
    void KeepSelectionThroughRemoval(const QModelIndex& parent, int first, int last);
    void RestoreLostSelection();

    QWidget* FMainWindow;
    QFileSystemModel* FModel = nullptr;
    QFileIconProvider FIcons;
    std::string FResult;
    std::string FStartFolder;
    // The selected folder whose entry the model dropped; empty when none.
    std::string FLostFolder;
};
