#include "app/directory.h"

#include "app/Skin.h"
#include "app/core/MessageSeam.h"

#include <QCoreApplication>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <sys/vfs.h>

namespace {

// Magic numbers of statfs for the CD and DVD file systems.
constexpr long kIso9660Magic = 0x9660;
constexpr long kUdfMagic = 0x15013346;

// The folder the chooser opens at: the root of the system's file tree.
constexpr char kStartFolder[] = "/";

TfmDirectory::TCdRomCheck& CdRomCheck() {
    static TfmDirectory::TCdRomCheck check;
    return check;
}

bool OnCdRom(const std::string& folder) {
    const TfmDirectory::TCdRomCheck& check = CdRomCheck();
    return check ? check(folder) : TfmDirectory::IsCdRomFolder(folder);
}

QPushButton* NewButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    return button;
}

} // namespace

TfmDirectory::TfmDirectory(QWidget* mainWindow) : QDialog(mainWindow), mainWindow_(mainWindow) {
    setObjectName("fmDirectory");
    setWindowTitle("Browse");
    setModal(true);
    lbl1 = new QLabel("Please select an output directory:", this);
    lbl1->setObjectName("lbl1");
    lbl1->setGeometry(12, 10, 298, 20);
    model_ = new QFileSystemModel(this);
    model_->setIconProvider(&icons_);
    model_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    model_->setReadOnly(true);
    model_->setRootPath(kStartFolder);
    stview_selectdir = new QTreeView(this);
    stview_selectdir->setObjectName("stview_selectdir");
    stview_selectdir->setAccessibleName("Please select an output directory:");
    stview_selectdir->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column)
        stview_selectdir->hideColumn(column);
    stview_selectdir->header()->hide();
    stview_selectdir->setGeometry(12, 34, 298, 264);
    btnOk = NewButton("btnOk", "Ok", this);
    btnOk->setGeometry(130, 310, 80, 28);
    btnCancel = NewButton("btnCancel", "Cancel", this);
    btnCancel->setGeometry(222, 310, 88, 28);
    connect(stview_selectdir->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { stview_selectdirClick(); });
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

std::string TfmDirectory::Execute() {
    FResult.clear();
    exec();
    return FResult;
}

bool TfmDirectory::SelectFolder(const std::string& folder) {
    const QModelIndex index = model_->index(QString::fromStdString(folder));
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
    return index.isValid() ? model_->filePath(index).toStdString() : std::string();
}

void TfmDirectory::FormShow() {
    resize(322, 351);
    setStyleSheet(skin::StyleSheet());
    SelectFolder(kStartFolder);
    stview_selectdir->expand(stview_selectdir->currentIndex());
    stview_selectdirClick();
    if (mainWindow_) move(mainWindow_->geometry().center() - rect().center());
}

// Every entry of this tree is a real folder; only "nothing selected" has no
// path to give.
void TfmDirectory::stview_selectdirClick() {
    btnOk->setEnabled(stview_selectdir->currentIndex().isValid());
}

void TfmDirectory::btnOkClick() {
    FResult = SelectedFolder();
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
