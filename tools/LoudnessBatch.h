// The measuring pass of vantrel-convert --format with a loudness target:
// every row with audio is measured on the batch's converter before the
// conversion, and its options get the gain to the target.
#pragma once

#include "FormatRow.h"

#include <vector>

class TFFmpegVCL;
class TConsole;
class TStopSignals;

// Replaces the converter's tasks with one measuring task per row with
// audio, runs them `jobs` at a time (progress shown as "Measuring
// loudness"), and adds the gain and the limiter to each measured row's
// output options; rows without audio or with silent audio keep theirs. The
// converter has no tasks afterwards. False when a stop ended the
// pass (nothing is to be converted then). Throws when the readings' folder
// cannot be made.
bool MeasureRowsLoudness(TFFmpegVCL& converter, TConsole& console, const TStopSignals& signals,
                         const std::vector<TFormatRow*>& rows, int target, int jobs);
