#pragma once

#include <string_view>

// The smallest picture side an encoder opens with, as the encoders the
// program runs on behave: HEVC's libx265 refuses a side under 16 pixels,
// SVT-AV1 one under 64. 0 for an encoder without such a limit. The name is
// compared without regard to case.
int SmallestPictureSide(std::string_view encoder);

// The most sound channels an encoder that lists no channel layouts opens
// with: FLAC and Opus (in its usual channel mapping) take eight, the
// Windows Media Audio encoders two. 0 where no limit is known.
int MostSoundChannels(std::string_view encoder);
