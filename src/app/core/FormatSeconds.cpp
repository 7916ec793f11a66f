#include "app/core/FormatSeconds.h"

#include <cstdio>

std::string FormatSeconds(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
    return text;
}
