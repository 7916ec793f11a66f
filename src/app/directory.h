// The program's own folder chooser: a tree of the machine's folders (the
// root folder with the home folder and mounted media below it), Ok and
// Cancel. One chooser serves the main window's and the preferences' Browse.
#pragma once

#include <QDialog>
#include <QFileIconProvider>
#include <functional>
#include <string>

class QFileSystemModel;
class QLabel;
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

    // Shows the chooser modally; the chosen folder, or empty.
    std::string Execute();
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

    QLabel* lbl1 = nullptr;
    QTreeView* stview_selectdir = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* mainWindow_;
    QFileSystemModel* model_ = nullptr;
    QFileIconProvider icons_;
    std::string FResult;
};
