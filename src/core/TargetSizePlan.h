// The passes of a batch with a target size, as the batch core runs them on
// one converter (BatchPasses.h): a first pass for each row that writes video
// (beside the loudness measuring, if any), then the conversion as each
// row's second pass. The pass logs live in a folder of the plan's own,
// removed with the plan or at the next Begin.
//
// Threads: used by the batch's thread only (the one that owns the
// converter's task list).
#pragma once

#include "core/TargetSize.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>

// Whether the encoder can hold a constant rate, padding pictures that need
// fewer bits (libx264's filler data, the MPEG-family encoders' stuffing):
// the way to fill a target that a picture without detail cannot use.
bool FillsToRate(const std::string& encoder);

class TTargetSizePlan {
public:
    TTargetSizePlan() = default;
    ~TTargetSizePlan();
    TTargetSizePlan(const TTargetSizePlan&) = delete;
    TTargetSizePlan& operator=(const TTargetSizePlan&) = delete;

    // A new batch with the target in MB (0: off). Throws
    // std::runtime_error when the pass logs' folder cannot be made.
    void Begin(double megabytes);
    // The first passes are being planned or run.
    bool FirstPassing() const { return FFirstPassing; }
    int64_t TargetBytes() const { return FBytes; }

    // Notes the row's goal; the refusal when the target is too small for
    // it (naming `file`), else empty.
    std::string Plan(int row, const TSizeGoal& goal, const std::string& file);
    bool Planned(int row) const { return FRates.count(row) > 0; }
    // The first pass of a planned row whose conversion options are `out`.
    TOutputOptions FirstPassOptions(int row, const TOutputOptions& out) const;
    // Ends the first passes.
    void EndFirstPasses() { FFirstPassing = false; }
    // The second pass's options on a planned row's conversion.
    void ApplySecondPass(int row, TOutputOptions& out) const;
    // A planned row's video rate (0 for a row not planned), and a corrected
    // one for its next encode.
    int Rate(int row) const;
    void SetRate(int row, int rate) { FRates[row] = rate; }
    // The row's audio rate lowered to `rate` for its target.
    void SetAudioRate(int row, int rate) { FAudioRates[row] = rate; }
    // The row's lowered audio rate; 0 when it keeps its own.
    int AudioRate(int row) const;
    // The row's next encodes hold a constant rate, padded where the
    // pictures need fewer bits, instead of a second pass.
    void SetFilling(int row) { FFilling.insert(row); }
    bool Filling(int row) const { return FFilling.count(row) > 0; }

    // After a planned row's first pass: the least rate the second pass of
    // an MPEG-family encoder takes (PassTwoRate.h); 0 for other encoders
    // or without the first pass's statistics.
    int64_t PassTwoLeastRate(int row, const TOutputOptions& out, double frameRate) const;

private:
    std::string Log(int row) const;
    void RemoveFolder();

    int64_t FBytes = 0;
    bool FFirstPassing = false;
    std::filesystem::path FDir;
    std::map<int, int> FRates;      // row -> video bit rate
    std::map<int, int> FAudioRates; // row -> its lowered audio bit rate
    std::set<int> FFilling;         // rows encoded at a constant rate
};
