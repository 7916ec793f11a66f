#include "TargetSizeBatch.h"
#include "BatchRun.h"

#include "app/core/GlobalUnit.h"
#include "engine/FFmpegVCL.h"
#include "media/MyUtils.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr int kCorrections = 2;

int64_t FileSize(const std::string& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

} // namespace

bool TargetSizeApplies(const TFormatRow& row) {
    return TargetSizeApplies(row.Out, row.HasVideo);
}

TSizeGoal RowSizeGoal(const TFormatRow& row, int64_t bytes) {
    return SizeGoalOf(row.In, row.Out, row.Duration, row.HasAudio, bytes);
}

TTargetSizeBatch::TTargetSizeBatch(TFFmpegVCL& converter, TConsole& console,
                                   const TStopSignals& signals, int jobs)
    : FConverter(converter), FConsole(console), FSignals(signals), FJobs(jobs) {
    std::string pattern =
        TGlobalObject::GetSpecialFolder(TSpecialFolder::Temp) + "vantrel-passes-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("Cannot create a folder for the pass logs in " + pattern);
    FDir = pattern;
}

TTargetSizeBatch::~TTargetSizeBatch() {
    std::error_code ec;
    fs::remove_all(FDir, ec);
}

std::string TTargetSizeBatch::Log(std::size_t row) const {
    return (fs::path(FDir) / ("row" + std::to_string(row))).string();
}

bool TTargetSizeBatch::RunFirstPasses(const std::vector<TFormatRow*>& rows,
                                      const std::vector<TSizeGoal>& goals) {
    FConverter.ClearTasks();
    FRates.assign(rows.size(), 0);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (goals[k].TargetBytes <= 0) continue;
        FRates[k] = TargetVideoBitRate(goals[k]);
        TOutputOptions first = rows[k]->Out;
        first.FileName = Log(k) + "-pass1" + fs::path(rows[k]->Out.FileName).extension().string();
        ApplyVideoPass(first, 1, FRates[k], Log(k));
        TInputOptions in = rows[k]->In;
        const int task = FConverter.AddTask(in.FileName, &in);
        if (task < 0 || !FConverter.SetOutputFile(task, first.FileName, &first))
            throw std::runtime_error(rows[k]->Record.SourceFile + ": " + FConverter.LastErrMsg);
    }
    TBatchRun run(FConverter, FConsole, FSignals);
    for (int k = 0; k < FConverter.TaskCount(); ++k)
        run.SetTaskLabel(k, "[" + std::to_string(k + 1) + "/" +
                                std::to_string(FConverter.TaskCount()) + "] First pass: ");
    run.Run(FJobs);
    FConverter.ClearTasks();
    if (run.Interrupted()) return false;
    for (std::size_t k = 0; k < rows.size(); ++k)
        if (FRates[k] > 0) ApplyVideoPass(rows[k]->Out, 2, FRates[k], Log(k));
    return true;
}

bool TTargetSizeBatch::Correct(const std::vector<TFormatRow*>& rows,
                               const std::vector<TSizeGoal>& goals, const TAddRow& addRow) {
    for (int round = 0; round < kCorrections; ++round) {
        FConverter.ClearTasks();
        for (std::size_t k = 0; k < rows.size(); ++k) {
            if (FRates[k] <= 0) continue;
            const int64_t size = FileSize(rows[k]->Out.FileName);
            if (size < 0 || SizeWithinGoal(goals[k], size)) continue;
            FRates[k] = CorrectedVideoBitRate(goals[k], FRates[k], size);
            FConsole.Line(FormatText("%s: %lld bytes for a target of %lld; encoding again at %d "
                                     "bit/s",
                                     rows[k]->Out.FileName.c_str(), static_cast<long long>(size),
                                     static_cast<long long>(goals[k].TargetBytes), FRates[k]));
            std::error_code ec;
            fs::remove(rows[k]->Out.FileName, ec); // this run's own output
            ApplyVideoPass(rows[k]->Out, 2, FRates[k], Log(k));
            addRow(*rows[k]);
        }
        if (FConverter.TaskCount() == 0) break;
        TBatchRun run(FConverter, FConsole, FSignals);
        run.Run(FJobs);
        FConverter.ClearTasks();
        if (run.Interrupted()) return false;
    }
    RemoveUnfit(rows, goals);
    return true;
}

// A file still larger than its target after the corrections (an encoder
// that cannot go lower) is not kept: the target is never exceeded.
void TTargetSizeBatch::RemoveUnfit(const std::vector<TFormatRow*>& rows,
                                   const std::vector<TSizeGoal>& goals) {
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const int64_t size = FRates[k] > 0 ? FileSize(rows[k]->Out.FileName) : -1;
        if (size <= goals[k].TargetBytes) continue;
        std::error_code ec;
        fs::remove(rows[k]->Out.FileName, ec);
        FConsole.Line(FormatText("%s: does not fit in %lld bytes even at the lowest rate (%lld "
                                 "bytes); the file is removed",
                                 rows[k]->Record.SourceFile.c_str(),
                                 static_cast<long long>(goals[k].TargetBytes),
                                 static_cast<long long>(size)));
        ++FUnfit;
    }
}
