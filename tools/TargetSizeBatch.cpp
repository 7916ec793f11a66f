#include "TargetSizeBatch.h"
#include "BatchRun.h"

#include "app/core/GlobalUnit.h"
#include "engine/FFmpegVCL.h"
#include "media/MyUtils.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr int kDefaultAudioRate = 128'000;
constexpr int kCorrections = 2;

bool ParsePair(const std::string& text, char separator, double& a, double& b) {
    const auto at = text.find(separator);
    if (at == std::string::npos) return false;
    const char* end = text.data() + text.size();
    return std::from_chars(text.data(), text.data() + at, a).ec == std::errc() &&
           std::from_chars(text.data() + at + 1, end, b).ec == std::errc() && b != 0;
}

int64_t FileSize(const std::string& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

} // namespace

bool TargetSizeApplies(const TFormatRow& row) {
    return row.HasVideo && !row.Out.DisableVideo && !row.Out.VideoCodec.empty();
}

TSizeGoal RowSizeGoal(const TFormatRow& row, int64_t bytes) {
    TSizeGoal goal;
    goal.TargetBytes = bytes;
    const int64_t start = row.In.StartTime > 0 ? row.In.StartTime : 0;
    goal.LengthUs = row.Out.RecordingTime > 0 ? row.Out.RecordingTime
                                              : std::max<int64_t>(row.Duration - start, 0);
    if (row.HasAudio && !row.Out.DisableAudio)
        goal.AudioBitRate = row.Out.AudioBitrate > 0 ? row.Out.AudioBitrate : kDefaultAudioRate;
    double w = 640, h = 480;
    if (ParsePair(row.Out.FrameSize, 'x', w, h)) {
        goal.Width = static_cast<int>(w);
        goal.Height = static_cast<int>(h);
    } else {
        goal.Width = 640;
        goal.Height = 480;
    }
    double num = 25, den = 1;
    if (ParsePair(row.Out.FrameRate, '/', num, den))
        goal.FrameRate = num / den;
    else if (std::from_chars(row.Out.FrameRate.data(),
                             row.Out.FrameRate.data() + row.Out.FrameRate.size(), num)
                     .ec == std::errc() &&
             num > 0)
        goal.FrameRate = num;
    return goal;
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
        if (FConverter.TaskCount() == 0) return true;
        TBatchRun run(FConverter, FConsole, FSignals);
        run.Run(FJobs);
        FConverter.ClearTasks();
        if (run.Interrupted()) return false;
    }
    return true;
}
