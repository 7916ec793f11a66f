#include "app/MainBatch.h"

#include "app/ListKeeper.h"
#include "app/MainAdd.h"
#include "app/WinProgress.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/LoudnessPass.h"
#include "core/MessageSeam.h"
#include "core/TargetSize.h"
#include "core/WorkPriority.h"
#include "app/winMain.h"
#include "engine/FFmpegVCL.h"

#include <QCheckBox>
#include <QProcess>
#include <QPushButton>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

const char* const kSettings = "settings";
const char* const kCancelledText = "Cancelled";
const char* const kUnfitText = "Too large, removed";
const char* const kRefusedText = "Target size too small";

} // namespace

std::function<void()>& TMainBatch::PowerOffCommand() {
    static std::function<void()> command = [] {
        QProcess::startDetached("systemctl", {"poweroff"});
    };
    return command;
}

TMainBatch::TMainBatch(TfrmMain& window)
    : FWindow(window), FPlan(*window.CCAVC), FPasses(*window.CCAVC, FPlan),
      FRunner(*window.CCAVC, FPlan) {
    FPlan.KeepLastProbe = true;
    FPlan.Drawer = [this](const TlvFilesRecord& row, THookInfo& frame) {
        RenderRowFrame(row, *frame.Bitmap, frame.PTS, FLayers);
    };
    FRunner.OnTaskProgress = [this](const TTaskReport& report) { ShowTaskProgress(report); };
    FRunner.OnPreview = [this](const TPreviewInfo& info) { KeepPreviewBitmap(info); };
    FRunner.OnTaskEnded = [this](const TTaskEnd& end) { TaskEnded(end); };
    FRunner.OnEndActions = [this] { EndActionsDue(); };
    FRunner.OnBatchEnded = [this] { EndOfBatch(); };
}

TMainBatch::~TMainBatch() = default;

void TMainBatch::Start() {
    TfrmMain& w = FWindow;
    TIniFile settings(w.Global().SettingsFile());
    TThreadPriority priority;
    if (StoredWorkPriority(settings, priority)) w.CCAVC->SetThreadPriority(priority);
    if (w.lvFIles->CheckedCount() == 0) {
        ShowMessageBox("Warning", "Please select a file by clicking the check box!",
                       TMsgIcon::Warning, TMsgButtons::Ok);
        return;
    }
    w.TaskItems.clear();
    FPictureTask = -1;
    ClearCheckedProgress();
    FLayers.Clear();
    w.imgbtnStopClick();
    w.CCAVC->ClearTasks();
    w.CCAVC->SetPreview(true);
    try {
        const int formatCode = settings.ReadInteger(kSettings, "FormatCode", 1);
        AddTasks(formatCode);
        if (!BeginPasses(settings, formatCode)) {
            w.CCAVC->ClearTasks();
            return;
        }
    } catch (...) {
        // A start that stops leaves nothing behind: the tasks set up so far
        // go, and with them the output files they had opened.
        w.CCAVC->ClearTasks();
        throw;
    }
    ShowProgressWindow(StoredConversionsAtATime(settings));
}

// Entry n of TaskItems is the row of task n.
void TMainBatch::AddTasks(int formatCode) {
    TFilesList& list = *FWindow.lvFIles;
    FPlan.Clear();
    for (int row = 0; row < list.RowCount(); ++row) {
        if (!list.IsChecked(row)) continue;
        try {
            const int task = FPlan.AddRow(FWindow.Global(), formatCode, list.Row(row)->Record, row);
            list.SetDestination(row, FPlan.TaskOutput(task));
        } catch (const FFmpegException& e) {
            throw FFmpegException(RowFailureText(row, e.what()));
        } catch (const std::exception& e) {
            throw std::runtime_error(RowFailureText(row, e.what()));
        }
    }
    FWindow.TaskItems = FPlan.TaskRows();
}

// The format's loudness target and target size: the passes before the
// conversion, or the refusal of a target too small for a row (shown).
bool TMainBatch::BeginPasses(const TIniFile& settings, int formatCode) {
    FEndActionsDue = false;
    const std::string problems = FPasses.Begin(StoredLoudnessTarget(settings, formatCode),
                                               StoredTargetSize(settings, formatCode));
    if (!problems.empty()) {
        ShowMessageBox("Warning", problems, TMsgIcon::Warning, TMsgButtons::Ok);
        return false;
    }
    NoteTaskRows();
    return true;
}

// Entry n of TaskItems is the row of the running pass's task n.
void TMainBatch::NoteTaskRows() {
    FWindow.TaskItems.clear();
    for (int task = 0; task < FWindow.CCAVC->TaskCount(); ++task)
        FWindow.TaskItems.push_back(FPlan.TaskRow(task));
}

// Why the start stopped on a row, naming the row's file.
std::string TMainBatch::RowFailureText(int row, const std::string& reason) const {
    return "Cannot convert " +
           TMainAdd::FileReasonText(FWindow.lvFIles->Row(row)->Record.SourceFile, reason);
}

void TMainBatch::ClearCheckedProgress() {
    TFilesList& list = *FWindow.lvFIles;
    for (int row = 0; row < list.RowCount(); ++row)
        if (list.IsChecked(row)) list.SetProgressText(row, QString());
}

// The progress window is made on the first batch and kept.
void TMainBatch::ShowProgressWindow(int atATime) {
    TfrmMain& w = FWindow;
    if (!w.frmProgress) {
        w.frmProgress = new TfrmProgress(&w, w.CCAVC.get(), &w.PreviewBitmap, w.btnPause,
                                         w.btnResume, &w.Global());
        QObject::connect(w.frmProgress, &TfrmProgress::Shown, &w,
                         [this] { FRunner.Start(FWindow.frmProgress->ConversionsAtATime()); });
    }
    w.frmProgress->SetConversionsAtATime(atATime);
    SetListButtonsEnabled(false);
    if (w.FListKeeper) w.FListKeeper->BatchStarted();
    w.frmProgress->exec();
}

// The list's buttons and both Start buttons are off from the start of a
// batch until its end report: a cancelled batch's report arrives after the
// progress window has closed.
void TMainBatch::SetListButtonsEnabled(bool enabled) {
    TfrmMain& w = FWindow;
    for (QWidget* button : {static_cast<QWidget*>(w.btnAdd), static_cast<QWidget*>(w.btnRemove),
                            static_cast<QWidget*>(w.btnClear), static_cast<QWidget*>(w.btnStart),
                            static_cast<QWidget*>(w.btnStartBelow)})
        button->setEnabled(enabled);
    w.btnStop->setEnabled(!enabled);
    w.btnPause->setEnabled(!enabled);
    w.btnResume->setEnabled(false);
}

// The row's "Progress" column; the progress window shows the report itself.
void TMainBatch::ShowTaskProgress(const TTaskReport& report) {
    TFilesList& list = *FWindow.lvFIles;
    const int row = report.Row;
    if (row < 0 || row >= list.RowCount()) return;
    const QString caption = QString::fromStdString(FPasses.TaskCaption(report.Task));
    const QString percent = QString::number(report.Percent) + "%";
    list.SetProgressText(row, caption.isEmpty() ? percent : caption + " " + percent);
    if (!FWindow.frmProgress) return;
    const QString& source = QString::fromStdString(list.Row(row)->Record.SourceFile);
    const QString file = ShortFileCaption(source);
    const QString shown = caption.isEmpty() ? file : caption + ": " + file;
    // Another task's report only moves its line: the labels stay with the
    // picture.
    TfrmProgress& progress = *FWindow.frmProgress;
    if (progress.ConversionsAtATime() > 1 && FPictureTask >= 0 && report.Task != FPictureTask)
        progress.ShowTaskLine(report.Task, report.TaskCount, shown, report.Percent);
    else
        progress.ShowReport(report, shown);
}

void TMainBatch::KeepPreviewBitmap(const TPreviewInfo& info) {
    FPictureTask = info.TaskIndex;
    const Bitmap24& bitmap = *info.Bitmap;
    FWindow.PreviewBitmap = QImage(bitmap.Data.data(), bitmap.Width, bitmap.Height, bitmap.Stride,
                                   QImage::Format_BGR888)
                                .copy();
}

// Every task's report: the row's progress text (how far a source that
// ended well short of its length got, instead of "100%"), the stored list,
// and the progress window's view of the task.
void TMainBatch::TaskEnded(const TTaskEnd& end) {
    TFilesList& list = *FWindow.lvFIles;
    const TTerminateInfo& info = *end.Info;
    if (info.TaskIndex == FPictureTask) FPictureTask = -1;
    if (FWindow.frmProgress) FWindow.frmProgress->TaskEnded(info);
    const int row = end.Row;
    // A task of the preparing pass converts nothing yet.
    if (FPasses.Pass() != TBatchPass::Preparing && info.Finished && row >= 0 &&
        row < list.RowCount()) {
        list.SetProgressText(row, FinishedText(info));
        if (FWindow.FListKeeper) FWindow.FListKeeper->RowConverted(row);
    }
    TaskCutShort(end);
}

// "100%", or how far a source that ended short got; with the audio rate
// when a target size lowered it.
QString TMainBatch::FinishedText(const TTerminateInfo& info) const {
    QString text = info.EndedEarly.empty() ? QString("100%")
                                           : QString("%1% (ended early)").arg(info.ReachedPercent);
    if (const int audio = FPasses.LoweredAudioRate(FPlan.PlanTask(info.TaskIndex)); audio > 0)
        text += QString(" (audio %1 kbit/s)").arg(audio / 1000);
    return text;
}

// A task that ended unfinished, without an error, while the user cancels:
// it was running when the converter stopped if it had reported progress or
// had written its file (the name did not exist when the batch started).
void TMainBatch::TaskCutShort(const TTaskEnd& end) {
    TfrmProgress* progress = FWindow.frmProgress;
    const TTerminateInfo& info = *end.Info;
    if (info.Finished || info.ExceptionRaised || !progress || !progress->Cancelled()) return;
    TFilesList& list = *FWindow.lvFIles;
    const int row = end.Row;
    if (row < 0 || row >= list.RowCount()) return;
    const std::filesystem::path output = list.Row(row)->Record.DestinationFile;
    std::error_code error;
    const bool written = !output.empty() && std::filesystem::is_regular_file(output, error);
    if (!written && list.Row(row)->text(colProgress).isEmpty()) return;
    list.SetProgressText(row, kCancelledText);
    if (written && !progress->KeepCancelledFiles()) std::filesystem::remove(output, error);
}

void TMainBatch::EndOfBatch() {
    if (StartNextPass()) return;
    const std::string refusals = ShowUnfitRows();
    TfrmProgress* shown = FWindow.frmProgress;
    if (FEndActionsDue && shown && !shown->Cancelled()) RunEndActions();
    FEndActionsDue = false;
    if (FWindow.FListKeeper) FWindow.FListKeeper->BatchEnded();
    SetListButtonsEnabled(true);
    FWindow.CCAVC->ClearTasks();
    TfrmProgress* progress = FWindow.frmProgress;
    if (progress && progress->isVisible()) progress->CloseWithoutAsking();
    if (!refusals.empty()) ShowMessageBox("Warning", refusals, TMsgIcon::Warning, TMsgButtons::Ok);
}

// After a pass of the batch: the next one in the open progress window.
// False when the batch ends here (the last pass, a stop, a closed progress
// window, or a task that cannot be set up, which is shown).
bool TMainBatch::StartNextPass() {
    TfrmProgress* progress = FWindow.frmProgress;
    if (!progress || !progress->isVisible() || FPasses.Pass() == TBatchPass::Done) return false;
    try {
        if (!FPasses.Next(FRunner.Results())) return false;
    } catch (const std::exception& e) {
        FWindow.CCAVC->ClearTasks();
        ShowMessageBox("Warning", e.what(), TMsgIcon::Warning, TMsgButtons::Ok);
        return false;
    }
    NoteTaskRows();
    FPictureTask = -1;
    progress->StartNextPass();
    FRunner.Start(progress->ConversionsAtATime());
    return true;
}

// Files that still exceeded the target size were removed; rows whose first
// pass showed their target too small were not converted. Returns what to
// tell of those: the rows and the sizes that work.
std::string TMainBatch::ShowUnfitRows() {
    for (const int task : FPasses.Unfit())
        MarkRowFailed(task, kUnfitText);
    std::string refusals;
    for (const int task : FPasses.Refused()) {
        MarkRowFailed(task, kRefusedText);
        refusals += (refusals.empty() ? "" : "\n") + FPasses.Conversions()[task].ExceptionMsg;
    }
    FPasses.TakeNotes(); // the rows say it
    return refusals;
}

void TMainBatch::MarkRowFailed(int task, const char* text) {
    TFilesList& list = *FWindow.lvFIles;
    const int row = FPlan.TaskRows()[task];
    if (row < 0 || row >= list.RowCount()) return;
    list.SetProgressText(row, text);
    if (FWindow.FListKeeper) FWindow.FListKeeper->RowFailed(row, text);
}

// The end actions follow the conversion, not the preparing pass; when a
// size correction may follow they wait for the batch's end.
void TMainBatch::EndActionsDue() {
    if (FPasses.Pass() == TBatchPass::Preparing) return;
    if (FPasses.LastPass())
        RunEndActions();
    else
        FEndActionsDue = true;
}

void TMainBatch::RunEndActions() {
    TfrmProgress* progress = FWindow.frmProgress;
    if (!progress) return;
    if (progress->ckOpen->isChecked()) FWindow.btnOpenClick();
    if (progress->ckShutDown->isChecked() && PowerOffCommand()) PowerOffCommand()();
}

QString TMainBatch::ShortFileCaption(const QString& path) {
    if (path.size() <= 50) return path;
    const int dot = path.lastIndexOf('.');
    return path.left(44) + ".." + (dot >= 0 ? path.mid(dot) : QString());
}
