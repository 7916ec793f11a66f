#include "app/ListKeeper.h"

#include "app/ConversionList.h"
#include "core/MessageSeam.h"
#include "media/FFmpegLogger.h"

#include <filesystem>

namespace {

// Changes that come close together are stored once.
constexpr int kStoreDelayMs = 100;
// Where a row keeps, beside its progress text, whether the batch converted
// it and why it did not.
constexpr int kConvertedRole = Qt::UserRole;
constexpr int kFailureRole = Qt::UserRole + 1;

std::string ListFileBeside(const std::string& settingsFile) {
    return (std::filesystem::path(settingsFile).parent_path() / kListFileName).string();
}

} // namespace

TListKeeper::TListKeeper(TFilesList& list, const std::string& settingsFile)
    : FList(list), FStore(ListFileBeside(settingsFile)) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(kStoreDelayMs);
    connect(&FTimer, &QTimer::timeout, this, &TListKeeper::StoreNow);
}

void TListKeeper::Restore() {
    std::string problem;
    TStoredList list = FStore.Load(problem);
    if (!problem.empty()) ShowMessageBox("Warning", problem, TMsgIcon::Warning, TMsgButtons::Ok);
    const bool resumed = list.BatchRunning;
    ResumeInterruptedBatch(list);
    for (TStoredRow& stored : list.Rows) {
        TFilesItem* item = FList.AppendRow(std::move(stored.Record));
        item->setCheckState(colSource, stored.Checked ? Qt::Checked : Qt::Unchecked);
        if (!stored.TrimmedLength.empty())
            item->setText(colTrimmed, QString::fromStdString(stored.TrimmedLength));
        if (resumed && stored.Converted) item->setText(colProgress, "100%");
        // The row keeps its marks until a new batch starts.
        item->setData(colProgress, kConvertedRole, resumed && stored.Converted);
        const QString failure = QString::fromStdString(stored.Failure);
        item->setData(colProgress, kFailureRole, failure);
        if (!failure.isEmpty()) item->setText(colProgress, failure);
    }
    connect(&FList, &TFilesList::ListChanged, this, [this] {
        if (!FTimer.isActive()) FTimer.start();
    });
    if (resumed) StoreNow();
}

void TListKeeper::Discard() {
    FTimer.stop();
    FStore.Discard();
}

void TListKeeper::StoreNow() {
    FTimer.stop();
    const std::string error = FStore.LastError();
    if (!error.empty() && error != FLastError)
        GetLogger().Log(nullptr, llWarning, "The conversion list could not be stored: " + error);
    FLastError = error;
    TStoredList list;
    list.BatchRunning = FBatchRunning;
    list.Rows = Rows();
    FStore.Save(std::move(list));
}

std::vector<TStoredRow> TListKeeper::Rows() const {
    std::vector<TStoredRow> rows;
    rows.reserve(FList.RowCount());
    for (int row = 0; row < FList.RowCount(); ++row) {
        const TFilesItem* item = FList.Row(row);
        TStoredRow stored;
        stored.Record = item->Record;
        stored.Checked = item->checkState(colSource) == Qt::Checked;
        stored.Converted = item->data(colProgress, kConvertedRole).toBool();
        stored.Failure = item->data(colProgress, kFailureRole).toString().toStdString();
        stored.TrimmedLength = item->text(colTrimmed).toStdString();
        rows.push_back(std::move(stored));
    }
    return rows;
}

// From now on the store says which of the batch's rows are converted, so a
// crash loses none of that.
void TListKeeper::BatchStarted() {
    for (int row = 0; row < FList.RowCount(); ++row) {
        FList.Row(row)->setData(colProgress, kConvertedRole, false);
        FList.Row(row)->setData(colProgress, kFailureRole, QString());
    }
    FBatchRunning = true;
    StoreNow();
}

void TListKeeper::RowConverted(int row) {
    if (row < 0 || row >= FList.RowCount()) return;
    FList.Row(row)->setData(colProgress, kConvertedRole, true);
    StoreNow();
}

void TListKeeper::RowFailed(int row, const QString& reason) {
    if (row < 0 || row >= FList.RowCount()) return;
    FList.Row(row)->setData(colProgress, kConvertedRole, false);
    FList.Row(row)->setData(colProgress, kFailureRole, reason);
    StoreNow();
}

void TListKeeper::BatchEnded() {
    FBatchRunning = false;
    StoreNow();
}
