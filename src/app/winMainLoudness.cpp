// The main window's loudness passes: with a loudness target the batch first
// runs a measuring task for each checked row with audio, shown in the row
// and the progress window as "Measuring loudness"; when every measuring
// task has ended without a stop, the conversion tasks follow in the same
// progress window, each measured row with its gain.
#include "app/winMain.h"

#include "app/WinProgress.h"
#include "app/core/MessageSeam.h"
#include "engine/FFmpegVCL.h"

#include <QLabel>
#include <QProgressBar>
#include <stdexcept>

namespace {

const QString kMeasuring = "Measuring loudness";

} // namespace

void TfrmMain::AddFirstPassTasks(int formatCode, int loudnessTarget) {
    batchFormat_ = formatCode;
    loudness_.Begin(loudnessTarget);
    AddBatchTasks(formatCode);
    if (!loudness_.Measuring()) return;
    const std::vector<int> rows = loudness_.MeasuringRows();
    if (!rows.empty()) {
        TaskItems.assign(rows.begin(), rows.end());
        return;
    }
    // No row has audio: the conversion is the only pass.
    loudness_.EndMeasuring();
    CCAVC->ClearTasks();
    TaskItems.assign(lvFIles->CheckedCount(), 0);
    AddBatchTasks(formatCode);
}

void TfrmMain::AddMeasuringTask(int row, const TInputOptions& in, const TOutputOptions& out) {
    if (lastProbed_.Source.AudioStreamIndex < 0) return;
    TInputOptions measureIn;
    TOutputOptions measureOut;
    loudness_.MeasuringOptions(row, in, out, measureIn, measureOut);
    const int task = CCAVC->AddTask(measureIn.FileName, &measureIn);
    if (task < 0) throw FFmpegException(CCAVC->LastErrMsg);
    if (!CCAVC->SetOutputFile(task, measureOut.FileName, &measureOut))
        throw FFmpegException(CCAVC->LastErrMsg);
    loudness_.AddMeasuringTask(task, row);
}

void TfrmMain::ShowMeasuringProgress(const TProgressInfo& info) {
    const int row = loudness_.MeasuredRow(info.TaskIndex);
    if (row < 0 || row >= lvFIles->RowCount()) return;
    const int percent = ProgressPercent(info.CurrentDuration, info.TotalDuration);
    lvFIles->SetProgressText(row, QString("%1 %2%").arg(kMeasuring).arg(percent));
    if (!frmProgress) return;
    const QString caption =
        kMeasuring + ": " +
        ShortFileCaption(QString::fromStdString(lvFIles->Row(row)->Record.SourceFile));
    frmProgress->progbarFile->setValue(percent);
    frmProgress->lblProgress->setText(
        QString("[%1/%2]").arg(info.TaskIndex + 1).arg(CCAVC->TaskCount()));
    frmProgress->lblOutput->setText(caption);
    frmProgress->ShowTaskLine(info.TaskIndex, caption, percent);
}

void TfrmMain::MeasuringTaskEnded(const TTerminateInfo& info) {
    ++tasksEnded_;
    if (info.TaskIndex == previewTask_) previewTask_ = -1;
    if (frmProgress) frmProgress->TaskEnded(info.TaskIndex);
    loudness_.MeasuringEnded(info.TaskIndex, info.Finished, info.ExceptionRaised);
}

// At the measuring pass's end: the conversion tasks, started in the open
// progress window. False when the batch ends here (a stop, a closed
// progress window, or a row that cannot be set up, which is shown).
bool TfrmMain::StartConversionPass() {
    if (!loudness_.EndMeasuring() || !frmProgress || !frmProgress->isVisible()) return false;
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
