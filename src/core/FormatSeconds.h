// Times as the preview and the edit dialogs show them: "H:MM:SS".
#pragma once

#include <cstdint>
#include <string>

// Hours without leading zeros, then two-digit minutes and seconds; a negative
// number of seconds shows as 0:00:00.
std::string FormatSeconds(std::int64_t seconds);

// Whole seconds of a time in microseconds, rounded to the nearest (halves
// away from zero).
std::int64_t RoundedSeconds(std::int64_t microseconds);

// A player time in microseconds as the time labels show it: rounded to the
// nearest second, then as FormatSeconds.
std::string FormatMicroseconds(std::int64_t microseconds);
