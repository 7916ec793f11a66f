// The main window's passes before the conversion. With a loudness target
// each checked row with audio is measured first ("Measuring loudness"); with
// a target size each row that writes video gets its first video pass
// ("First pass"), a target too small for a row refusing the start. When
// every preparing task has ended without a stop, the conversion follows in
// the same progress window, each row with its gain and as its second pass.
#include "app/winMain.h"

#include "app/WinProgress.h"
#include "app/core/MessageSeam.h"
#include "engine/FFmpegVCL.h"
#include "probe/AVProbe.h"

#include <QLabel>
#include <QProgressBar>
#include <stdexcept>

namespace {

const QString kMeasuring = "Measuring loudness";
const QString kFirstPass = "First pass";

} // namespace

void TfrmMain::AddFirstPassTasks(int formatCode, int loudnessTarget, double targetSizeMB) {
    batchFormat_ = formatCode;
    preparing_.clear();
    preparingStopped_ = false;
    loudness_.Begin(loudnessTarget);
    sizes_.Begin(targetSizeMB);
    AddBatchTasks(formatCode);
    if (!Preparing()) return;
    if (!preparing_.empty()) {
        TaskItems.clear();
        for (const auto& [row, caption] : preparing_)
            TaskItems.push_back(row);
        return;
    }
    // Nothing to prepare (no audio, no video): the conversion is the only pass.
    loudness_.EndMeasuring();
    sizes_.EndFirstPasses();
    CCAVC->ClearTasks();
    TaskItems.assign(lvFIles->CheckedCount(), 0);
    AddBatchTasks(formatCode);
}

// The row's goal; a target too small for it stops the start.
void TfrmMain::PlanRowSize(int row, const TInputOptions& in, const TOutputOptions& out) {
    if (!sizes_.FirstPassing() || !TargetSizeApplies(out, lastProbed_.Source.VideoStreamIndex >= 0))
        return;
    TAVProbe* probe = CCAVC->AVProbe();
    TFileStreamInfo info;
    if (probe->GetFileName() == in.FileName) probe->GetFileStreamInfo(info);
    const TSizeGoal goal = SizeGoalOf(
        in, out, info.Duration, lastProbed_.Source.AudioStreamIndex >= 0, sizes_.TargetBytes());
    const std::string problem = sizes_.Plan(row, goal, lvFIles->Row(row)->Record.SourceFile);
    if (!problem.empty()) throw std::runtime_error(problem);
}

void TfrmMain::AddPreparingTasks(int row, const TInputOptions& in, const TOutputOptions& out) {
    PlanRowSize(row, in, out);
    const auto add = [&](const TInputOptions& taskIn, const TOutputOptions& taskOut) {
        TInputOptions options = taskIn;
        const int task = CCAVC->AddTask(options.FileName, &options);
        if (task < 0) throw FFmpegException(CCAVC->LastErrMsg);
        if (!CCAVC->SetOutputFile(task, taskOut.FileName, &taskOut))
            throw FFmpegException(CCAVC->LastErrMsg);
        return task;
    };
    if (loudness_.Measuring() && lastProbed_.Source.AudioStreamIndex >= 0) {
        TInputOptions measureIn;
        TOutputOptions measureOut;
        loudness_.MeasuringOptions(row, in, out, measureIn, measureOut);
        loudness_.AddMeasuringTask(add(measureIn, measureOut), row);
        preparing_.emplace_back(row, kMeasuring);
    }
    if (sizes_.Planned(row)) {
        add(in, sizes_.FirstPassOptions(row, out));
        preparing_.emplace_back(row, kFirstPass);
    }
}

void TfrmMain::ShowPreparingProgress(const TProgressInfo& info) {
    const int task = info.TaskIndex;
    if (task < 0 || task >= static_cast<int>(preparing_.size())) return;
    const auto& [row, what] = preparing_[task];
    if (row < 0 || row >= lvFIles->RowCount()) return;
    const int percent = ProgressPercent(info.CurrentDuration, info.TotalDuration);
    lvFIles->SetProgressText(row, QString("%1 %2%").arg(what).arg(percent));
    if (!frmProgress) return;
    const QString caption =
        what + ": " +
        ShortFileCaption(QString::fromStdString(lvFIles->Row(row)->Record.SourceFile));
    frmProgress->progbarFile->setValue(percent);
    frmProgress->lblProgress->setText(QString("[%1/%2]").arg(task + 1).arg(CCAVC->TaskCount()));
    frmProgress->lblOutput->setText(caption);
    frmProgress->ShowTaskLine(task, caption, percent);
}

void TfrmMain::PreparingTaskEnded(const TTerminateInfo& info) {
    ++tasksEnded_;
    if (info.TaskIndex == previewTask_) previewTask_ = -1;
    if (frmProgress) frmProgress->TaskEnded(info.TaskIndex);
    loudness_.MeasuringEnded(info.TaskIndex, info.Finished, info.ExceptionRaised);
    if (!info.Finished && !info.ExceptionRaised) preparingStopped_ = true;
}

// At the preparing tasks' end: the conversion tasks, started in the open
// progress window. False when the batch ends here (a stop, a closed
// progress window, or a row that cannot be set up, which is shown).
bool TfrmMain::StartConversionPass() {
    const bool measured = !loudness_.Measuring() || loudness_.EndMeasuring();
    sizes_.EndFirstPasses();
    if (!measured || preparingStopped_ || !frmProgress || !frmProgress->isVisible()) return false;
    CCAVC->ClearTasks();
    TaskItems.assign(lvFIles->CheckedCount(), 0);
    tasksEnded_ = 0;
    lastTaskFinished_ = false;
    previewTask_ = -1;
    try {
        AddBatchTasks(batchFormat_);
    } catch (const std::exception& e) {
        CCAVC->ClearTasks();
        ShowMessageBox("Warning", e.what(), TMsgIcon::Warning, TMsgButtons::Ok);
        return false;
    }
    frmProgress->StartNextPass();
    return true;
}
