#include "app/directory.h"

#include "app/Skin.h"
#include "controls/NamedWidget.h"
#include "core/MessageSeam.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <sys/vfs.h>
#include <utility>

namespace {

// Magic numbers of statfs for the CD and DVD file systems.
constexpr long kIso9660Magic = 0x9660;
constexpr long kUdfMagic = 0x15013346;

// The root of the tree.
constexpr char kRootFolder[] = "/";
constexpr char kNewFolderName[] = "New Folder";

// The folder itself when it exists, else its nearest existing parent; the
// home folder for an empty or relative path.
QString NearestExistingFolder(const std::string& folder) {
    QString path = QString::fromStdString(folder);
    if (path.isEmpty() || QDir::isRelativePath(path)) return QDir::homePath();
    path = QDir::cleanPath(path);
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path) return QDir::homePath();
        path = parent;
    }
    return path;
}

// A typed path as a clean absolute path: blanks around it dropped, "~" the
// home folder, no trailing separator.
QString TypedPath(QString text) {
    text = text.trimmed();
    if (text == "~" || text.startsWith("~/")) text = QDir::homePath() + text.mid(1);
    return text.isEmpty() ? text : QDir::cleanPath(text);
}

TfmDirectory::TCdRomCheck& CdRomCheck() {
    static TfmDirectory::TCdRomCheck check;
    return check;
}

bool OnCdRom(const std::string& folder) {
    const TfmDirectory::TCdRomCheck& check = CdRomCheck();
    return check ? check(folder) : TfmDirectory::IsCdRomFolder(folder);
}

QPushButton* NewButton(const QString& name, const QString& caption, QWidget* parent) {
    return Named(new QPushButton(caption, parent), name, caption);
}

} // namespace

TfmDirectory::TfmDirectory(QWidget* mainWindow) : QDialog(mainWindow), FMainWindow(mainWindow) {
    setObjectName("fmDirectory");
    setWindowTitle("Browse");
    setModal(true);
    lbl1 = new QLabel("Please select an output directory:", this);
    lbl1->setObjectName("lbl1");
    lbl1->setGeometry(12, 10, 298, 20);
    FModel = new QFileSystemModel(this);
    // Before the tree's own handlers, which move its selection off an entry
    // about to go.
    connect(FModel, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            &TfmDirectory::KeepSelectionThroughRemoval);
    FModel->setIconProvider(&FIcons);
    FModel->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    // Writable only so that a new folder can be named in the tree; nothing
    // else edits or moves entries.
    FModel->setReadOnly(false);
    FModel->setRootPath(kRootFolder);
    edtPath = new QLineEdit(this);
    edtPath->setObjectName("edtPath");
    edtPath->setAccessibleName("Folder path");
    edtPath->setToolTip("Type or paste a folder's path");
    edtPath->setGeometry(12, 32, 298, 24);
    stview_selectdir = new QTreeView(this);
    stview_selectdir->setObjectName("stview_selectdir");
    stview_selectdir->setAccessibleName("Please select an output directory:");
    stview_selectdir->setModel(FModel);
    for (int column = 1; column < FModel->columnCount(); ++column)
        stview_selectdir->hideColumn(column);
    stview_selectdir->header()->hide();
    stview_selectdir->setGeometry(12, 62, 298, 236);
    stview_selectdir->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stview_selectdir->setDragDropMode(QAbstractItemView::NoDragDrop);
    btnNewFolder = NewButton("btnNewFolder", "New Folder", this);
    btnNewFolder->setGeometry(12, 310, 100, 28);
    btnNewFolder->setAutoDefault(false);
    btnOk = NewButton("btnOk", "Ok", this);
    btnOk->setDefault(true);
    btnOk->setGeometry(130, 310, 80, 28);
    btnCancel = NewButton("btnCancel", "Cancel", this);
    btnCancel->setGeometry(222, 310, 88, 28);
    btnCancel->setAutoDefault(false);
    connect(stview_selectdir->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        stview_selectdirClick();
        ShowSelectedPath();
    });
    connect(FModel, &QFileSystemModel::fileRenamed, this, [this] { ShowSelectedPath(); });
    connect(edtPath, &QLineEdit::returnPressed, this, &TfmDirectory::edtPathReturn);
    connect(edtPath, &QLineEdit::textEdited, this, [this] { stview_selectdirClick(); });
    connect(btnNewFolder, &QPushButton::clicked, this, &TfmDirectory::btnNewFolderClick);
    connect(btnOk, &QPushButton::clicked, this, &TfmDirectory::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfmDirectory::btnCancelClick);
}

void TfmDirectory::SetCdRomCheck(TCdRomCheck check) {
    CdRomCheck() = std::move(check);
}

bool TfmDirectory::IsCdRomFolder(const std::string& folder) {
    struct statfs fs {};
    if (statfs(folder.c_str(), &fs) != 0) return false;
    const long type = static_cast<long>(fs.f_type);
    return type == kIso9660Magic || type == kUdfMagic;
}

std::string TfmDirectory::Execute(const std::string& startFolder) {
    FResult.clear();
    FStartFolder = startFolder;
    exec();
    return FResult;
}

bool TfmDirectory::SelectFolder(const std::string& folder) {
    const QModelIndex index = FModel->index(QString::fromStdString(folder));
    if (!index.isValid()) return false;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        stview_selectdir->expand(parent);
    stview_selectdir->setCurrentIndex(index);
    stview_selectdir->scrollTo(index);
    stview_selectdirClick();
    return true;
}

std::string TfmDirectory::SelectedFolder() const {
    const QModelIndex index = stview_selectdir->currentIndex();
    return index.isValid() ? FModel->filePath(index).toStdString() : std::string();
}

void TfmDirectory::KeepSelectionThroughRemoval(const QModelIndex& parent, int first, int last) {
    if (!stview_selectdir) return;
    for (QModelIndex entry = stview_selectdir->currentIndex(); entry.isValid();
         entry = entry.parent()) {
        if (entry.parent() != parent || entry.row() < first || entry.row() > last) continue;
        if (FLostFolder.empty()) {
            FLostFolder = SelectedFolder();
            // After the model has finished removing.
            QMetaObject::invokeMethod(this, &TfmDirectory::RestoreLostSelection,
                                      Qt::QueuedConnection);
        }
        return;
    }
}

void TfmDirectory::RestoreLostSelection() {
    const std::string folder = std::exchange(FLostFolder, std::string());
    if (!folder.empty() && QFileInfo(QString::fromStdString(folder)).isDir() &&
        SelectedFolder() != folder)
        SelectFolder(folder);
}

void TfmDirectory::FormShow() {
    resize(322, 351);
    setStyleSheet(skin::StyleSheet());
    SelectFolder(NearestExistingFolder(FStartFolder).toStdString());
    stview_selectdir->expand(stview_selectdir->currentIndex());
    stview_selectdirClick();
    ShowSelectedPath();
    if (FMainWindow) move(FMainWindow->geometry().center() - rect().center());
}

// Every entry of this tree is a real folder; only "nothing selected" with
// an empty path box has no path to give.
void TfmDirectory::stview_selectdirClick() {
    btnOk->setEnabled(stview_selectdir->currentIndex().isValid() ||
                      !edtPath->text().trimmed().isEmpty());
}

void TfmDirectory::ShowSelectedPath() {
    edtPath->setText(QString::fromStdString(SelectedFolder()));
}

void TfmDirectory::edtPathReturn() {
    const QString typed = TypedPath(edtPath->text());
    if (QFileInfo(typed).isDir()) SelectFolder(typed.toStdString());
}

std::string TfmDirectory::ChosenFolder() {
    if (!edtPath->isModified()) return SelectedFolder();
    const QString typed = TypedPath(edtPath->text());
    if (typed.isEmpty()) return SelectedFolder();
    if (QDir::isRelativePath(typed)) {
        ShowMessageBox(QCoreApplication::applicationName().toStdString(),
                       "Type the whole path of a folder, starting with \"/\": " +
                           edtPath->text().toStdString(),
                       TMsgIcon::Information, TMsgButtons::Ok);
        return {};
    }
    if (!QFileInfo(typed).isDir()) {
        ShowMessageBox(QCoreApplication::applicationName().toStdString(),
                       "There is no folder " + typed.toStdString() +
                           ". Type an existing folder, or make it with New Folder.",
                       TMsgIcon::Information, TMsgButtons::Ok);
        return {};
    }
    return typed.toStdString();
}

void TfmDirectory::btnNewFolderClick() {
    QModelIndex parent = stview_selectdir->currentIndex();
    if (!parent.isValid()) parent = FModel->index(QDir::homePath());
    const QDir folder(FModel->filePath(parent));
    QString name = kNewFolderName;
    for (int n = 2; folder.exists(name); ++n)
        name = QString("%1 %2").arg(kNewFolderName).arg(n);
    const QModelIndex made = FModel->mkdir(parent, name);
    if (!made.isValid()) {
        ShowMessageBox(QCoreApplication::applicationName().toStdString(),
                       "Cannot create the folder " + folder.filePath(name).toStdString() + ".",
                       TMsgIcon::Warning, TMsgButtons::Ok);
        return;
    }
    stview_selectdir->expand(parent);
    stview_selectdir->setCurrentIndex(made);
    stview_selectdir->scrollTo(made);
    stview_selectdir->edit(made);
}

void TfmDirectory::btnOkClick() {
    FResult = ChosenFolder();
    if (FResult.empty()) return;
    if (OnCdRom(FResult)) {
        FResult.clear();
        ShowMessageBox(QCoreApplication::applicationName().toStdString(),
                       "Output folder cannot be located in CD-ROM.Please select another folder.",
                       TMsgIcon::Information, TMsgButtons::Ok);
        return;
    }
    accept();
}

void TfmDirectory::btnCancelClick() {
    FResult.clear();
    reject();
}

void TfmDirectory::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}
