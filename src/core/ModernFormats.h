// What the modern formats (codes 300 and up) add to the twenty: quality
// steps and speeds of their video encoders mapped onto each encoder's own
// scale, the check that their encoders are in the loaded media libraries,
// and the row edits that stream copying cannot honour.
#pragma once

#include "effects/EditSettings.h"

#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

// One choice of the settings dialog: the word stored in the settings file
// and the caption shown.
struct TModernChoice {
    const char* Word;
    const char* Caption;
};

// From the largest file to the smallest, then the user's bit rate instead.
std::span<const TModernChoice> QualitySteps();
// The real-time preset first, then the slower one that makes smaller files.
std::span<const TModernChoice> SpeedChoices();

inline constexpr char kBitRateStep[] = "bitrate";

// The modern video formats that encode (300 to 302).
bool HasQualitySteps(int code);

using TOptionLines = std::vector<std::pair<std::string, std::string>>;

// The encoder's own options for the step and speed words (unknown words
// count as the defaults): its constant-quality value unless the step is
// "bitrate", its speed preset, and what the format always asks of it.
TOptionLines ModernVideoOptions(int code, const std::string& step, const std::string& speed);

// Whether an encoder of that name is in the media libraries. By default the
// loaded libraries are asked (a name counts as there while they are not
// loaded: the conversion then reports it); tests replace the lookup. Returns
// the previous lookup; an empty one restores the default.
using TEncoderLookup = std::function<bool(const std::string&)>;
TEncoderLookup SetEncoderLookup(TEncoderLookup lookup);
bool EncoderAvailable(const std::string& name);

// "The encoder X is not available in the loaded media libraries" for the
// first of the names (empty ones and "copy" skipped) that is missing; empty
// when all are there.
std::string MissingEncoderText(const std::vector<std::string>& encoders);

// What of the row's edits needs its pictures or sound re-encoded, in words
// ("a crop, effects"); empty when the row can be copied as it is.
std::string EditsNeedingEncoding(const TlvFilesRecord& row);

// The refusal of such a row for the copying format, naming the row's file.
std::string CopyRefusalText(const TlvFilesRecord& row, const std::string& edits);
