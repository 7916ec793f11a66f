// Even loudness for a batch: each file with audio is measured first (a pass
// that decodes its audio only, through the libraries' EBU R128 meter), then
// converted with a linear gain that brings its integrated loudness to the
// format's target and a limiter that keeps the true peak at or below
// -1 dBTP. This unit plans both passes as converter options; the batch
// drivers run them.
#pragma once

#include "engine/FFmpegRecords.h"

#include <optional>
#include <string>

class TIniFile;

// The presets the settings dialog offers (LUFS), with their captions.
struct TLoudnessPreset {
    int Target;
    const char* Caption;
};
inline constexpr TLoudnessPreset kLoudnessPresets[] = {
    {-23, "-23 LUFS (broadcast)"},
    {-16, "-16 LUFS (podcasts, web)"},
    {-14, "-14 LUFS (music streaming)"},
};

// The stored target of the format in LUFS; 0 when the format converts at
// the files' own loudness (also for a value outside -70..-5).
int StoredLoudnessTarget(const TIniFile& settings, int formatCode);

// Parses "--loudness" values: an integer from -70 to -5 ("-16"). False for
// anything else.
bool ParseLoudnessTarget(const std::string& text, int& target);

// The measuring pass of a row whose conversion options are `in` and `out`:
// the same input and stretch of time, audio only, into no file; the meter's
// readings go to `readings` (a file of the caller's own). Video and
// subtitles are neither decoded nor written.
void BuildMeasuringOptions(const TInputOptions& in, const TOutputOptions& out,
                           const std::string& readings, TInputOptions& measureIn,
                           TOutputOptions& measureOut);

// The integrated loudness (LUFS) in the readings a measuring pass wrote;
// nothing when the file holds none (no audio, or the pass did not end) or
// the audio is silent.
std::optional<double> ReadMeasuredLoudness(const std::string& readings);

// The audio filters of the conversion: the gain from `measured` to `target`
// (LUFS) and the peak limiter, in a filter graph's text ("af").
std::string LoudnessFilters(double measured, int target);

// Adds the filters to the conversion's options.
void ApplyLoudness(TOutputOptions& out, double measured, int target);
