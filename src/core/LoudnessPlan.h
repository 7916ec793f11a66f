// The two passes of a batch with a loudness target, as a batch driver runs
// them on one converter (BatchPasses.h): first a measuring task for each row with audio,
// then, when every measuring task has ended without a stop, the conversion
// tasks with each measured row's gain. The readings live in a folder of
// the plan's own, removed with the plan or at the next Begin.
//
// Threads: used by the batch's thread only (the one that owns the
// converter's task list), where the converter's reports are carried out.
#pragma once

#include "engine/FFmpegRecords.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

class TLoudnessPlan {
public:
    TLoudnessPlan() = default;
    ~TLoudnessPlan();
    TLoudnessPlan(const TLoudnessPlan&) = delete;
    TLoudnessPlan& operator=(const TLoudnessPlan&) = delete;

    // A new batch with the target in LUFS (0: off, no measuring pass).
    // Throws std::runtime_error when the readings' folder cannot be made.
    void Begin(int target);
    // The measuring pass is being planned or runs.
    bool Measuring() const { return FMeasuring; }
    int Target() const { return FTarget; }

    // The measuring task's options for `row`, whose conversion options are
    // `in` and `out`.
    void MeasuringOptions(int row, const TInputOptions& in, const TOutputOptions& out,
                          TInputOptions& measureIn, TOutputOptions& measureOut) const;
    // Task `task` of the measuring pass measures `row`.
    void AddMeasuringTask(int task, int row);
    // The row that task `task` measures; -1 for none.
    int MeasuredRow(int task) const;
    // The rows of the measuring tasks, in task order.
    std::vector<int> MeasuringRows() const;
    // The report of a measuring task's end: stopped (neither finished nor
    // failed) tasks stop the whole batch.
    void MeasuringEnded(int task, bool finished, bool failed);

    // Ends the measuring pass: reads every row's loudness. False when a
    // task was stopped (the conversion does not follow then).
    bool EndMeasuring();
    // Adds the row's gain and limiter to its conversion options; rows
    // without a reading (no audio, silence, failed measuring) keep theirs.
    void ApplyTo(int row, TOutputOptions& out) const;

private:
    std::string Readings(int row) const;
    void RemoveFolder();

    int FTarget = 0;
    bool FMeasuring = false;
    bool FStopped = false;
    std::filesystem::path FDir;
    std::map<int, int> FTaskRows;    // measuring task -> row
    std::set<int> FFailed;           // measuring tasks that failed
    std::map<int, double> FLoudness; // row -> measured integrated loudness (LUFS)
};
