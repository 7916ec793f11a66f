// The main window's stored list: the conversion list is written to the
// configuration folder after every change, so that a start after a crash or
// a power cut finds it again, with the progress of a batch that did not
// end. A window that ends normally removes it: a normal start begins with
// an empty list.
#include "app/winMain.h"

#include "core/GlobalUnit.h"
#include "core/MessageSeam.h"
#include "media/FFmpegLogger.h"

#include <QTimer>
#include <filesystem>

namespace {

// Changes that come close together are stored once.
constexpr int kStoreDelayMs = 100;

} // namespace

void TfrmMain::RestoreList() {
    const std::filesystem::path folder =
        std::filesystem::path(GlobalObject->SettingsFile()).parent_path();
    listStore_ = std::make_unique<TListStore>((folder / kListFileName).string());
    listStoreTimer_ = new QTimer(this);
    listStoreTimer_->setSingleShot(true);
    listStoreTimer_->setInterval(kStoreDelayMs);
    connect(listStoreTimer_, &QTimer::timeout, this, &TfrmMain::StoreListNow);
    std::string problem;
    TStoredList list = listStore_->Load(problem);
    if (!problem.empty()) ShowMessageBox("Warning", problem, TMsgIcon::Warning, TMsgButtons::Ok);
    const bool resumed = list.BatchRunning;
    ResumeInterruptedBatch(list);
    for (TStoredRow& stored : list.Rows) {
        TFilesItem* item = lvFIles->AppendRow(std::move(stored.Record));
        item->setCheckState(colSource, stored.Checked ? Qt::Checked : Qt::Unchecked);
        if (!stored.TrimmedLength.empty())
            item->setText(colTrimmed, QString::fromStdString(stored.TrimmedLength));
        if (resumed && stored.Converted) item->setText(colProgress, "100%");
        // The row keeps its mark until a new batch starts.
        item->setData(colProgress, Qt::UserRole, resumed && stored.Converted);
    }
    if (lvFIles->RowCount() > 0) {
        btnStart->setEnabled(true);
        btnClear->setEnabled(true);
        btnRemove->setEnabled(true);
        lvFIles->SelectRow(0);
    }
    connect(lvFIles, &TFilesList::ListChanged, this, &TfrmMain::ListChanged);
    if (resumed) StoreListNow();
}

void TfrmMain::ListChanged() {
    if (listStoreTimer_ && !listStoreTimer_->isActive()) listStoreTimer_->start();
}

void TfrmMain::StoreListNow() {
    if (!listStore_) return;
    if (listStoreTimer_) listStoreTimer_->stop();
    // A store that fails is logged once, not on every change.
    const std::string error = listStore_->LastError();
    if (!error.empty() && error != lastStoreError_)
        GetLogger().Log(nullptr, llWarning, "The conversion list could not be stored: " + error);
    lastStoreError_ = error;
    TStoredList list;
    list.BatchRunning = batchStored_;
    list.Rows = ListRows();
    listStore_->Save(std::move(list));
}

std::vector<TStoredRow> TfrmMain::ListRows() const {
    std::vector<TStoredRow> rows;
    rows.reserve(lvFIles->RowCount());
    for (int row = 0; row < lvFIles->RowCount(); ++row) {
        const TFilesItem* item = lvFIles->Row(row);
        TStoredRow stored;
        stored.Record = item->Record;
        stored.Checked = item->checkState(colSource) == Qt::Checked;
        stored.Converted = item->data(colProgress, Qt::UserRole).toBool();
        stored.TrimmedLength = item->text(colTrimmed).toStdString();
        rows.push_back(std::move(stored));
    }
    return rows;
}

// The batch has built its tasks: from now on the stored list says which of
// its rows are converted, so a crash loses none of that.
void TfrmMain::StoreBatchStart() {
    for (int row = 0; row < lvFIles->RowCount(); ++row)
        lvFIles->Row(row)->setData(colProgress, Qt::UserRole, false);
    batchStored_ = true;
    StoreListNow();
}

void TfrmMain::StoreRowConverted(int row) {
    if (row < 0 || row >= lvFIles->RowCount()) return;
    lvFIles->Row(row)->setData(colProgress, Qt::UserRole, true);
    StoreListNow();
}

void TfrmMain::StoreBatchEnd() {
    batchStored_ = false;
    StoreListNow();
}
