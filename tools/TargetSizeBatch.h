// The target file size of vantrel-convert --format: every row with video
// is checked against the target, encoded in two passes at the rate the
// target leaves for the video, and encoded again at a corrected rate while
// its file exceeds the target or lies more than 10 % below it.
#pragma once

#include "FormatRow.h"

#include "app/core/TargetSize.h"

#include <functional>
#include <string>
#include <vector>

class TFFmpegVCL;
class TConsole;
class TStopSignals;

// The goal of one row for a target of `bytes`: the length after trimming,
// the audio bit rate written, the output's frame size and rate.
TSizeGoal RowSizeGoal(const TFormatRow& row, int64_t bytes);

// Whether the target applies to the row (it writes video).
bool TargetSizeApplies(const TFormatRow& row);

// Threads: made and used on the tool's main thread only (the batches it
// runs hand their reports over to it).
class TTargetSizeBatch {
public:
    // Adds a row's conversion task; returns the task (throws on failure).
    using TAddRow = std::function<int(TFormatRow&)>;

    TTargetSizeBatch(TFFmpegVCL& converter, TConsole& console, const TStopSignals& signals,
                     int jobs);
    ~TTargetSizeBatch();
    TTargetSizeBatch(const TTargetSizeBatch&) = delete;
    TTargetSizeBatch& operator=(const TTargetSizeBatch&) = delete;

    // Replaces the converter's tasks by the first passes of `rows` (each
    // with its goal; rows whose target does not apply are left out), runs
    // them, and sets the second pass on each row. False when a stop ended
    // the pass. The converter has no tasks afterwards.
    bool RunFirstPasses(const std::vector<TFormatRow*>& rows, const std::vector<TSizeGoal>& goals);
    // After the conversion: encodes rows whose file missed its goal again
    // at a corrected rate, at most twice. False when a stop ended it.
    bool Correct(const std::vector<TFormatRow*>& rows, const std::vector<TSizeGoal>& goals,
                 const TAddRow& addRow);
    // Rows whose file still exceeded the target and was removed.
    int Unfit() const { return FUnfit; }

private:
    std::string Log(std::size_t row) const;
    void RemoveUnfit(const std::vector<TFormatRow*>& rows, const std::vector<TSizeGoal>& goals);

    TFFmpegVCL& FConverter;
    TConsole& FConsole;
    const TStopSignals& FSignals;
    int FJobs;
    std::string FDir;        // the pass logs
    std::vector<int> FRates; // the video rate of each row; 0: no goal
    int FUnfit = 0;          // rows whose file was removed as too large
};
