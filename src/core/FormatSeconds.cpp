#include "core/FormatSeconds.h"

#include <cmath>
#include <cstdio>

std::string FormatSeconds(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
    return text;
}

std::int64_t RoundedSeconds(std::int64_t microseconds) {
    return std::llround(static_cast<double>(microseconds) / 1e6);
}

std::string FormatMicroseconds(std::int64_t microseconds) {
    return FormatSeconds(RoundedSeconds(microseconds));
}
