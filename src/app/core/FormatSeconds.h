// Times as the preview and the edit dialogs show them: "H:MM:SS".
#pragma once

#include <cstdint>
#include <string>

// Hours without leading zeros, then two-digit minutes and seconds; a negative
// number of seconds shows as 0:00:00.
std::string FormatSeconds(std::int64_t seconds);
