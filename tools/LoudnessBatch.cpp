#include "LoudnessBatch.h"
#include "BatchRun.h"

#include "app/core/LoudnessPlan.h"
#include "engine/FFmpegVCL.h"

namespace {

// One task per row with audio; rows whose task cannot be set up are
// converted at their own loudness.
void AddMeasuringTasks(TFFmpegVCL& converter, TLoudnessPlan& plan,
                       const std::vector<TFormatRow*>& rows) {
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (!rows[k]->HasAudio) continue;
        const int row = static_cast<int>(k);
        TInputOptions in;
        TOutputOptions out;
        plan.MeasuringOptions(row, rows[k]->In, rows[k]->Out, in, out);
        const int task = converter.AddTask(in.FileName, &in);
        if (task < 0) continue;
        if (!converter.SetOutputFile(task, out.FileName, &out)) {
            converter.RemoveTask(task);
            continue;
        }
        plan.AddMeasuringTask(task, row);
    }
}

} // namespace

bool MeasureRowsLoudness(TFFmpegVCL& converter, TConsole& console, const TStopSignals& signals,
                         const std::vector<TFormatRow*>& rows, int target, int jobs) {
    converter.ClearTasks();
    TLoudnessPlan plan;
    plan.Begin(target);
    AddMeasuringTasks(converter, plan, rows);
    TBatchRun run(converter, console, signals);
    const int tasks = converter.TaskCount();
    for (int k = 0; k < tasks; ++k)
        run.SetTaskLabel(k, "[" + std::to_string(k + 1) + "/" + std::to_string(tasks) +
                                "] Measuring loudness: ");
    const std::vector<TTerminateInfo> results = run.Run(jobs);
    converter.ClearTasks();
    if (run.Interrupted()) return false;
    for (std::size_t k = 0; k < results.size(); ++k)
        plan.MeasuringEnded(static_cast<int>(k), results[k].Finished, results[k].ExceptionRaised);
    if (!plan.EndMeasuring()) return false;
    for (std::size_t k = 0; k < rows.size(); ++k)
        plan.ApplyTo(static_cast<int>(k), rows[k]->Out);
    return true;
}
