#include "media/EncoderLimits.h"

#include <algorithm>
#include <cctype>

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

int SmallestPictureSide(std::string_view encoder) {
    if (SameName(encoder, "libx265")) return 16;
    if (SameName(encoder, "libsvtav1")) return 64;
    return 0;
}

int MostSoundChannels(std::string_view encoder) {
    if (SameName(encoder, "flac") || SameName(encoder, "libopus")) return 8;
    if (SameName(encoder, "wmav1") || SameName(encoder, "wmav2")) return 2;
    return 0;
}
