// The main window's batch driver: building one converter task per checked
// row, and the converter's progress, preview and termination reports.
#include "app/winMain.h"

#include "app/WinProgress.h"
#include "app/core/BatchPlan.h"
#include "app/core/BatchRunner.h"
#include "app/core/GlobalUnit.h"
#include "app/core/IniFile.h"
#include "app/core/MessageSeam.h"
#include "app/core/WorkPriority.h"
#include "editing/FrameRenderer.h"
#include "engine/FFmpegVCL.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <stdexcept>

namespace {

const char* const kSettings = "settings";

std::function<void()>& PowerOffCommand() {
    static std::function<void()> command = [] {
        QProcess::startDetached("systemctl", {"poweroff"});
    };
    return command;
}

} // namespace

void TfrmMain::SetPowerOffCommand(std::function<void()> command) {
    PowerOffCommand() = std::move(command);
}

int TfrmMain::ProgressPercent(int64_t current, int64_t total) {
    return TaskPercent(current, total);
}

QString TfrmMain::ShortFileCaption(const QString& path) {
    if (path.size() <= 50) return path;
    const int dot = path.lastIndexOf('.');
    return path.left(44) + ".." + (dot >= 0 ? path.mid(dot) : QString());
}

void TfrmMain::ConnectConverter() {
    ResetHookCache();
    CCAVC = std::make_unique<TFFmpegVCL>();
    CCAVC->SetPreviewBitmap(true);
    batchPlan_ = std::make_unique<TBatchPlan>(*CCAVC);
    batchPlan_->KeepLastProbe = true;
    // The layer cache is used by one worker at a time (the converter's hook
    // lock) and emptied only between batches.
    batchPlan_->Drawer = [cache = hookCache_.get()](const TlvFilesRecord& row, THookInfo& frame) {
        RenderRowFrame(row, *frame.Bitmap, frame.PTS, *cache);
    };
    batchRunner_ = std::make_unique<TBatchRunner>(*CCAVC, *batchPlan_);
    batchRunner_->OnTaskProgress = [this](const TTaskReport& report) { ShowTaskProgress(report); };
    batchRunner_->OnPreview = [this](const TPreviewInfo& info) { KeepPreviewBitmap(info); };
    batchRunner_->OnTaskEnded = [this](const TTaskEnd& end) { TaskEnded(end); };
    batchRunner_->OnEndActions = [this] { RunEndActions(); };
    batchRunner_->OnBatchEnded = [this] { EndOfBatch(); };
}

// Waits for every task to end, then lets go of the handlers: no worker can
// be inside one of them afterwards.
void TfrmMain::DetachConverter() {
    batchRunner_.reset();
}

void TfrmMain::btnStartClick() {
    TIniFile settings(GlobalObject->SettingsFile());
    TThreadPriority priority;
    if (StoredWorkPriority(settings, priority)) CCAVC->SetThreadPriority(priority);
    if (lvFIles->CheckedCount() == 0) {
        ShowMessageBox("Warning", "Please select a file by clicking the check box!",
                       TMsgIcon::Warning, TMsgButtons::Ok);
        return;
    }
    TaskItems.clear();
    ClearCheckedProgress();
    ResetHookCache();
    imgbtnStopClick();
    CCAVC->ClearTasks();
    CCAVC->SetPreview(true);
    try {
        AddBatchTasks(settings.ReadInteger(kSettings, "FormatCode", 1));
    } catch (...) {
        // A start that stops leaves nothing behind: the tasks set up so far
        // go, and with them the output files they had opened.
        CCAVC->ClearTasks();
        throw;
    }
    ShowProgressWindow(StoredConversionsAtATime(settings));
}

// The progress window's showing starts the batch; it returns when the
// window closes.
void TfrmMain::ShowProgressWindow(int atATime) {
    if (!frmProgress) {
        frmProgress = new TfrmProgress(this, CCAVC.get(), &PreviewBitmap, btnPause, btnResume,
                                       GlobalObject.get());
        connect(frmProgress, &TfrmProgress::Shown, this, [this] {
            if (batchRunner_) batchRunner_->Start(frmProgress->ConversionsAtATime());
        });
    }
    frmProgress->SetConversionsAtATime(atATime);
    SetListButtonsEnabled(false);
    StoreBatchStart();
    frmProgress->exec();
}

// One task per checked row, in list order; entry n of TaskItems is the row
// of task n.
void TfrmMain::AddBatchTasks(int formatCode) {
    batchPlan_->Clear();
    for (int row = 0; row < lvFIles->RowCount(); ++row) {
        if (!lvFIles->IsChecked(row)) continue;
        TlvFilesRecord& record = lvFIles->Row(row)->Record;
        try {
            const int task = batchPlan_->AddRow(*GlobalObject, formatCode, record, row);
            lvFIles->SetDestination(row, batchPlan_->TaskOutput(task));
        } catch (const FFmpegException& e) {
            throw FFmpegException(RowFailureText(row, e.what()));
        } catch (const std::exception& e) {
            throw std::runtime_error(RowFailureText(row, e.what()));
        }
    }
    TaskItems = batchPlan_->TaskRows();
}

// Why the start stopped on a row, naming the row's file.
std::string TfrmMain::RowFailureText(int row, const std::string& reason) const {
    return "Cannot convert " + FileReasonText(lvFIles->Row(row)->Record.SourceFile, reason);
}

void TfrmMain::ClearCheckedProgress() {
    for (int row = 0; row < lvFIles->RowCount(); ++row)
        if (lvFIles->IsChecked(row)) lvFIles->SetProgressText(row, QString());
}

// The list's buttons and both Start buttons are off from the start of a
// batch until its end report: a cancelled batch's report arrives after the
// progress window has closed.
void TfrmMain::SetListButtonsEnabled(bool enabled) {
    for (QWidget* w : {static_cast<QWidget*>(btnAdd), static_cast<QWidget*>(btnRemove),
                       static_cast<QWidget*>(btnClear), static_cast<QWidget*>(btnStart),
                       static_cast<QWidget*>(btnStartBelow)})
        w->setEnabled(enabled);
    btnStop->setEnabled(!enabled);
    btnPause->setEnabled(!enabled);
    btnResume->setEnabled(false);
}

void TfrmMain::CCAVCProgress(TCustomFFmpegVCL*, TProgressInfo* AProgressInfo) {
    if (AProgressInfo && batchRunner_) batchRunner_->Progress(*AProgressInfo);
}

// The row's "Progress" column; the progress window shows the report itself.
void TfrmMain::ShowTaskProgress(const TTaskReport& report) {
    const int row = report.Row;
    if (row < 0 || row >= lvFIles->RowCount()) return;
    lvFIles->SetProgressText(row, QString::number(report.Percent) + "%");
    if (!frmProgress) return;
    frmProgress->ShowReport(
        report, ShortFileCaption(QString::fromStdString(lvFIles->Row(row)->Record.SourceFile)));
}

void TfrmMain::KeepPreviewBitmap(const TPreviewInfo& info) {
    const Bitmap24& bitmap = *info.Bitmap;
    PreviewBitmap = QImage(bitmap.Data.data(), bitmap.Width, bitmap.Height, bitmap.Stride,
                           QImage::Format_BGR888)
                        .copy();
}

// Every task's report: the row's progress text (how far a source that
// ended well short of its length got, instead of "100%"), the stored list,
// and the progress window's view of the task.
void TfrmMain::TaskEnded(const TTaskEnd& end) {
    const TTerminateInfo& info = *end.Info;
    if (frmProgress) frmProgress->TaskEnded(info);
    const int row = end.Row;
    if (info.Finished && row >= 0 && row < lvFIles->RowCount()) {
        lvFIles->SetProgressText(row, info.EndedEarly.empty()
                                          ? QString("100%")
                                          : QString("%1% (ended early)").arg(info.ReachedPercent));
        StoreRowConverted(row);
    }
    TaskCutShort(info);
}

void TfrmMain::EndOfBatch() {
    StoreBatchEnd();
    SetListButtonsEnabled(true);
    CCAVC->ClearTasks();
    if (frmProgress && frmProgress->isVisible()) frmProgress->CloseWithoutAsking();
}

void TfrmMain::RunEndActions() {
    if (!frmProgress) return;
    if (frmProgress->ckOpen->isChecked()) btnOpenClick();
    if (frmProgress->ckShutDown->isChecked() && PowerOffCommand()) PowerOffCommand()();
}

// Makes the layer cache, or empties it for a new batch.
void TfrmMain::ResetHookCache() {
    if (hookCache_)
        hookCache_->Clear();
    else
        hookCache_ = std::make_unique<TLayerImageCache>();
}
