// Files that fit: the video bit rate that makes a conversion land at a
// target file size, from the length after trimming, the audio bit rate and
// the container's overhead; the options of the two-pass encode; and the
// corrected rate when a result still came out too large.
#pragma once

#include "engine/FFmpegRecords.h"
#include "engine/PassTwoRate.h"

#include <cstdint>
#include <string>

class TIniFile;

// The presets the settings dialog offers (MB of 1,000,000 bytes).
inline constexpr int kTargetSizePresets[] = {8, 25, 50, 100, 500};

// "--target-size" values and stored values: a decimal number of MB above 0
// and at most 1,000,000 ("7.5"). False for anything else.
bool ParseTargetSize(const std::string& text, double& megabytes);

// The stored target of the format in MB; 0 when the format's files keep
// their bit rate (also for a value that does not parse).
double StoredTargetSize(const TIniFile& settings, int formatCode);

// What a conversion is to fit in.
struct TSizeGoal {
    int64_t TargetBytes = 0;
    int64_t LengthUs = 0; // the length converted (after trimming), microseconds
    int AudioBitRate = 0; // bit/s of the audio written; 0 without audio
    int Width = 0, Height = 0;
    double FrameRate = 25;
    std::string Encoder;         // the video encoder's name
    bool AudioLowerable = false; // a lossy audio encoder whose rate may go down
};

// The goal of a conversion with these options for a target of `bytes`: the
// length after trimming (from the source's `durationUs`), the audio bit
// rate written, the output's frame size and rate.
TSizeGoal SizeGoalOf(const TInputOptions& in, const TOutputOptions& out, int64_t durationUs,
                     bool hasAudio, int64_t bytes);
// Whether a target applies to the conversion (it writes video).
bool TargetSizeApplies(const TOutputOptions& out, bool hasVideo);

// The video bit rate (bit/s) aimed at: a little below the target so that
// the container's overhead and the encoder's spread stay within it.
int TargetVideoBitRate(const TSizeGoal& goal);
// The video bit rate of a constant-rate encode, which lands where it is
// aimed: nearer the target.
int ConstantVideoBitRate(const TSizeGoal& goal);
// The lowest video bit rate that still gives a watchable picture at the
// goal's frame size and rate, and that the goal's encoder can reach at all
// (some need more for their headers and motion alone).
int MinimumVideoBitRate(const TSizeGoal& goal);
// The audio rate to write so that the video gets at least `leastVideoRate`:
// the goal's own when that fits or cannot be lowered, else the highest of
// the usual lower rates (down to 32 kbit/s) that fits, else the goal's own.
int FittingAudioBitRate(const TSizeGoal& goal, int64_t leastVideoRate);
// The smallest target (MB, rounded up to a tenth) whose video rate is at
// least `leastVideoRate` (the minimum when not given) beside the lowest
// audio rate the goal may get.
double SmallestTargetMB(const TSizeGoal& goal, int64_t leastVideoRate = 0);
// The rate a second pass surely gets through at, from the least rate that
// a first pass at `firstPassRate` asks for: a first pass at a higher rate
// asks for more.
int64_t PassTwoWorkingRate(int64_t leastVideoRate, int firstPassRate);
// The refusal of a target for `file`, naming the smallest size that works.
std::string TooSmallTarget(const std::string& file, double smallestMB);
// The refusal of a target below SmallestTargetMB for `file`; empty when it
// fits.
std::string TargetSizeProblem(const TSizeGoal& goal, const std::string& file);

// The MPEG-family encoder's settings of a conversion with these options at
// `frameRate`, for the least rate of its second pass (PassTwoRate.h).
TPassTwoPicture PassTwoPictureOf(const TOutputOptions& out, double frameRate);

// The rate for another encode after one at `rate` gave `producedBytes`:
// scaled so that the file lands at the aim again.
int CorrectedVideoBitRate(const TSizeGoal& goal, int rate, int64_t producedBytes);
// A result is done when it does not exceed the target and lies within 10 %
// below it.
bool SizeWithinGoal(const TSizeGoal& goal, int64_t producedBytes);
// A two-pass result this far below the target shows an encoder at its
// finest quantiser, which a higher rate does not change (the passes miss
// by far less otherwise).
bool SizeFarBelowGoal(const TSizeGoal& goal, int64_t producedBytes);

// The options of pass `pass` (1 or 2) at `rate` with the pass log `log`;
// the first pass writes no audio, into a file of the same container (whose
// timing decides how many pictures the passes encode) that the caller names.
void ApplyVideoPass(TOutputOptions& out, int pass, int rate, const std::string& log);

// The options of a one-pass encode at the constant rate `rate`
// (FillsToRate in TargetSizePlan.h says which encoders pad to it).
void ApplyConstantRate(TOutputOptions& out, int rate);
