// Stand-in media for formats whose files need a picture or sound in every
// frame (DV): a still black picture and a stretch of silence, written once
// into a new temporary folder of this process (its user's alone) and
// removed when it ends.
#pragma once

#include <cstdint>
#include <string>

// Microseconds of silence the silence input runs past the source's end.
inline constexpr int64_t kSilenceMarginUS = 1000000;

// A black picture of w x h pixels (a PPM file). Throws std::runtime_error
// when it cannot be written.
std::string BlackPictureFile(int32_t w, int32_t h);

// A concat list of 16-bit stereo silence at 48 kHz lasting at least
// `durationUS` plus the margin. Throws std::runtime_error when it cannot be
// written.
std::string SilenceFileFor(int64_t durationUS);
