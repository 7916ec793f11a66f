// Shared pieces of the fuzz targets.
#pragma once

#include "media/FFmpegLoader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzsupport {

// Loads the media libraries once for the whole run; a run that cannot load
// them stops at once instead of fuzzing nothing.
inline void LoadMediaLibraries(TLibrarySet set) {
    if (FFmpegLoader().LoadLibraries(set)) return;
    std::fprintf(stderr, "%s\n", FFmpegLoader().GetLastError().c_str());
    std::abort();
}

inline std::string TextOf(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

} // namespace fuzzsupport
