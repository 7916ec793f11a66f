// Trim times as the trim dialog shows and takes them: microseconds written
// "H:MM:SS" when they are whole seconds, else "H:MM:SS.mmm", and steps of
// one frame at a time.
#pragma once

#include <cstdint>
#include <string>

// "0:00:10" for 10,000,000; "0:00:01.480" for 1,480,000. Negative times
// show as 0:00:00.
std::string TrimTimeText(std::int64_t microseconds);

// Reads "H:MM:SS.mmm", "MM:SS.mmm" or "SS.mmm" (hours, minutes and the
// fraction are optional; minutes and seconds below 60 after the first
// field; up to six decimals). Blanks around the text are ignored. False,
// with `microseconds` untouched, for anything else.
bool ParseTrimTime(const std::string& text, std::int64_t& microseconds);

// The time `frames` frames after (before, when negative) the frame nearest
// to `microseconds`, at `rate` frames per second: the frame's own start
// rounded down to a microsecond, so that a conversion cut there keeps that
// frame. Never below 0.
std::int64_t StepFrames(std::int64_t microseconds, double rate, int frames);
