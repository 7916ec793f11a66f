#include "media/EncoderLimits.h"

#include "media/TextUtils.h"

int SmallestPictureSide(std::string_view encoder) {
    if (SameText(encoder, "libx265")) return 16;
    if (SameText(encoder, "libsvtav1")) return 64;
    return 0;
}

int MostSoundChannels(std::string_view encoder) {
    if (SameText(encoder, "flac") || SameText(encoder, "libopus")) return 8;
    if (SameText(encoder, "wmav1") || SameText(encoder, "wmav2")) return 2;
    return 0;
}
