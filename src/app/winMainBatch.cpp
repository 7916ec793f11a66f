// The main window's batch driver: building one converter task per checked
// row, and the converter's progress, preview and termination reports.
#include "app/winMain.h"

#include "app/WinProgress.h"
#include "app/core/DefaultFormats.h"
#include "app/core/DestinationName.h"
#include "app/core/GlobalUnit.h"
#include "app/core/IniFile.h"
#include "app/core/LoudnessPass.h"
#include "app/core/TargetSize.h"
#include "app/core/MessageSeam.h"
#include "app/core/OptionBuilder.h"
#include "app/core/ProbedSource.h"
#include "app/core/WorkPriority.h"
#include "editing/FrameRenderer.h"
#include "engine/FFmpegVCL.h"
#include "media/MainThread.h"
#include "probe/AVProbe.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <set>
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
    if (total <= 0) return 0;
    return static_cast<int>(current * 100 / total);
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
    CCAVC->OnProgress = [this](TCustomFFmpegVCL* s, TProgressInfo* i) { CCAVCProgress(s, i); };
    CCAVC->OnPreviewBitmap = [this](TCustomFFmpegVCL* s, const TPreviewInfo& i) {
        CCAVCPreviewBitmap(s, i);
    };
    // Reports that arrive on another thread are carried out on this one, in
    // the order they were raised; the token drops those still queued when
    // the window has gone.
    std::weak_ptr<char> alive = alive_;
    CCAVC->OnTerminate = [this, alive](TCustomFFmpegVCL* s, const TTerminateInfo& i) {
        if (IsMainThread()) return CCAVCTerminate(s, i);
        QueueInMainThread([this, alive, s, i] {
            if (alive.lock()) CCAVCTerminate(s, i);
        });
    };
    CCAVC->OnCustomHook = [this](TCustomFFmpegVCL* s, THookInfo* i) { CCAVCCustomHook(s, i); };
}

// Waits for every task to end, then lets go of the handlers: no worker can
// be inside one of them afterwards.
void TfrmMain::DetachConverter() {
    if (!CCAVC) return;
    CCAVC->Stop(true);
    CCAVC->OnCustomHook = nullptr;
    CCAVC->OnProgress = nullptr;
    CCAVC->OnPreviewBitmap = nullptr;
    CCAVC->OnTerminate = nullptr;
}

void TfrmMain::btnStartClick() {
    TIniFile settings(GlobalObject->SettingsFile());
    TThreadPriority priority;
    if (StoredWorkPriority(settings, priority)) CCAVC->SetThreadPriority(priority);
    const int checked = lvFIles->CheckedCount();
    if (checked == 0) {
        ShowMessageBox("Warning", "Please select a file by clicking the check box!",
                       TMsgIcon::Warning, TMsgButtons::Ok);
        return;
    }
    TaskItems.assign(checked, 0);
    tasksEnded_ = 0;
    lastTaskFinished_ = false;
    previewTask_ = -1;
    ClearCheckedProgress();
    ResetHookCache();
    imgbtnStopClick();
    CCAVC->ClearTasks();
    CCAVC->SetPreview(true);
    try {
        const int formatCode = settings.ReadInteger(kSettings, "FormatCode", 1);
        AddFirstPassTasks(formatCode, StoredLoudnessTarget(settings, formatCode),
                          StoredTargetSize(settings, formatCode));
    } catch (...) {
        // A start that stops leaves nothing behind: the tasks set up so far
        // go, and with them the output files they had opened.
        CCAVC->ClearTasks();
        throw;
    }
    if (!frmProgress)
        frmProgress = new TfrmProgress(this, CCAVC.get(), &PreviewBitmap, btnPause, btnResume);
    frmProgress->SetConversionsAtATime(StoredConversionsAtATime(settings));
    SetListButtonsEnabled(false);
    StoreBatchStart();
    frmProgress->exec();
}

namespace {

// Closes the converter's probe however the task's set-up ends.
struct TProbeCloser {
    TAVProbe* Probe;
    ~TProbeCloser() { Probe->CloseFile(); }
};

} // namespace

// One task per checked row, in list order; entry n of TaskItems is the row
// of task n.
void TfrmMain::AddBatchTasks(int formatCode) {
    rowRecords_.clear();
    for (int row = 0; row < lvFIles->RowCount(); ++row)
        rowRecords_.push_back(&lvFIles->Row(row)->Record);
    int task = 0;
    std::set<std::string> taken;
    for (int row = 0; row < lvFIles->RowCount(); ++row) {
        if (!lvFIles->IsChecked(row)) continue;
        TaskItems[task++] = row;
        try {
            AddBatchTask(row, formatCode, taken);
        } catch (const FFmpegException& e) {
            throw FFmpegException(RowFailureText(row, e.what()));
        } catch (const std::exception& e) {
            throw std::runtime_error(RowFailureText(row, e.what()));
        }
    }
}

// Why the start stopped on a row, naming the row's file.
std::string TfrmMain::RowFailureText(int row, const std::string& reason) const {
    return "Cannot convert " + FileReasonText(lvFIles->Row(row)->Record.SourceFile, reason);
}

void TfrmMain::ClearCheckedProgress() {
    for (int row = 0; row < lvFIles->RowCount(); ++row)
        if (lvFIles->IsChecked(row)) lvFIles->SetProgressText(row, QString());
}

void TfrmMain::AddBatchTask(int row, int formatCode, std::set<std::string>& taken) {
    TlvFilesRecord& record = lvFIles->Row(row)->Record;
    TInputOptions in;
    in.Reset();
    in.FileName = record.SourceFile;
    TAVProbe* probe = CCAVC->AVProbe();
    const TProbeCloser closer{probe};
    if (probe->LoadFile(record.SourceFile)) {
        CurrentProbe = probe;
        lastProbed_ = {probe->GetFileName(), probe->GetFormatName(), ProbedSourceOf(*probe)};
    }
    in.ForceFormat = lastProbed_.FormatName;
    const std::string ext = FormatFileExt(*GlobalObject, formatCode);
    TOutputOptions out;
    out.Reset();
    out.FileName = MakeDestinationName(*GlobalObject, lastProbed_.FileName, "." + ext, taken);
    taken.insert(out.FileName);
    lvFIles->SetDestination(row, out.FileName);
    record.ZoomMode = FormatZoomMode(*GlobalObject, formatCode);
    HandOverRowEdits(record, in, out);
    BuildConversionOptions(*GlobalObject, record, formatCode, out, lastProbed_.Source, in);
    if (Preparing()) return AddPreparingTasks(row, in, out);
    loudness_.ApplyTo(row, out);
    sizes_.ApplySecondPass(row, out);
    const int task = CCAVC->AddTask(in.FileName, &in);
    // A task that could not be added makes the output fail below; the
    // reason worth showing is why the source did not open.
    const std::string addError = CCAVC->LastErrMsg;
    TInputOptions picture;
    if (task >= 0 && BlackPictureInput(*GlobalObject, formatCode, lastProbed_.Source, picture) &&
        !CCAVC->AddInput(task, picture.FileName, &picture))
        throw FFmpegException(CCAVC->LastErrMsg);
    out.CustomHook = NeedsFrameHook(record);
    if (!CCAVC->SetOutputFile(task, out.FileName, &out))
        throw FFmpegException(task < 0 ? addError : CCAVC->LastErrMsg);
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
    if (AProgressInfo) ShowTaskProgress(*AProgressInfo);
}

void TfrmMain::ShowTaskProgress(const TProgressInfo& info) {
    if (Preparing()) return ShowPreparingProgress(info);
    const int k = info.TaskIndex;
    if (k < 0 || k >= static_cast<int>(TaskItems.size())) return;
    const int row = TaskItems[k];
    const int percent = ProgressPercent(info.CurrentDuration, info.TotalDuration);
    lvFIles->SetProgressText(row, QString::number(percent) + "%");
    if (!frmProgress) return;
    frmProgress->progbarFile->setValue(percent);
    frmProgress->lblTime->setText(QString::number(info.CurrentDuration / 1000000) + " Second");
    frmProgress->lblLength->setText(QString::number(info.TotalDuration / 1000000) + " Second");
    frmProgress->lblSize->setText(QString::number(info.CurrentSize / 1000) + " kb");
    frmProgress->lblProgress->setText(QString("[%1/%2]").arg(k + 1).arg(CCAVC->TaskCount()));
    const QString caption =
        row >= 0 && row < lvFIles->RowCount()
            ? ShortFileCaption(QString::fromStdString(lvFIles->Row(row)->Record.SourceFile))
            : QString();
    if (!caption.isEmpty()) frmProgress->lblOutput->setText(caption);
    frmProgress->ShowRate(k, percent, info.FPS);
    frmProgress->ShowTaskLine(k, caption, percent);
}

void TfrmMain::CCAVCPreviewBitmap(TCustomFFmpegVCL*, const TPreviewInfo& APreviewInfo) {
    const Bitmap24* bitmap = APreviewInfo.Bitmap;
    if (!bitmap || bitmap->Width < 1 || bitmap->Height < 1) return;
    if (frmProgress && frmProgress->ConversionsAtATime() > 1) {
        if (previewTask_ >= 0 && APreviewInfo.TaskIndex != previewTask_) return;
        previewTask_ = APreviewInfo.TaskIndex;
    }
    PreviewBitmap = QImage(bitmap->Data.data(), bitmap->Width, bitmap->Height, bitmap->Stride,
                           QImage::Format_BGR888)
                        .copy();
}

void TfrmMain::CCAVCTerminate(TCustomFFmpegVCL*, const TTerminateInfo& ATerminateInfo) {
    if (ATerminateInfo.TaskIndex < 0) {
        EndOfBatch();
        return;
    }
    TaskEnded(ATerminateInfo);
}

// Every task's report: the progress window's task lines, and the end
// actions once all tasks have ended when the last one finished (with one
// task at a time: right after the last task's report, as that ends last).
void TfrmMain::TaskEnded(const TTerminateInfo& info) {
    if (Preparing()) return PreparingTaskEnded(info);
    ++tasksEnded_;
    if (info.TaskIndex == previewTask_) previewTask_ = -1;
    if (frmProgress) frmProgress->TaskEnded(info.TaskIndex);
    if (info.Finished) TaskFinished(info.TaskIndex);
    // A source that ended well short of its length (the engine has logged
    // where): the row shows how far it got instead of "100%".
    if (info.Finished && !info.EndedEarly.empty() &&
        info.TaskIndex < static_cast<int>(TaskItems.size())) {
        lvFIles->SetProgressText(TaskItems[info.TaskIndex],
                                 QString("%1% (ended early)").arg(info.ReachedPercent));
        if (frmProgress) frmProgress->progbarFile->setValue(info.ReachedPercent);
    }
    TaskCutShort(info);
    if (tasksEnded_ >= TaskItems.size() && lastTaskFinished_) {
        lastTaskFinished_ = false;
        RunEndActions();
    }
}

void TfrmMain::EndOfBatch() {
    if (Preparing() && StartConversionPass()) return;
    StoreBatchEnd();
    SetListButtonsEnabled(true);
    CCAVC->ClearTasks();
    if (frmProgress && frmProgress->isVisible()) frmProgress->CloseWithoutAsking();
}

void TfrmMain::TaskFinished(int taskIndex) {
    if (taskIndex < static_cast<int>(TaskItems.size())) {
        lvFIles->SetProgressText(TaskItems[taskIndex], "100%");
        StoreRowConverted(TaskItems[taskIndex]);
    }
    if (frmProgress) frmProgress->progbarFile->setValue(100);
    if (taskIndex + 1 == lvFIles->CheckedCount()) lastTaskFinished_ = true;
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

// Runs on the converter's worker thread, one call at a time under the
// converter's hook lock. It reaches the rows through the records noted at
// the start, never through the list's widgets, and reads them without a
// lock: the modal progress window keeps every dialog from changing them
// during the batch. A layer file that cannot be read raises its error to
// the converter, which logs it.
void TfrmMain::CCAVCCustomHook(TCustomFFmpegVCL*, THookInfo* AHookInfo) {
    if (!AHookInfo || !AHookInfo->Bitmap) return;
    const int k = AHookInfo->TaskIndex;
    if (k < 0 || k >= static_cast<int>(TaskItems.size())) return;
    const int row = TaskItems[k];
    if (row < 0 || row >= static_cast<int>(rowRecords_.size())) return;
    RenderRowFrame(*rowRecords_[row], *AHookInfo->Bitmap, AHookInfo->PTS, *hookCache_);
}
