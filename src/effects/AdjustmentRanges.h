// The four picture adjustments of a row as the crop dialog and the
// command-line tool offer them: name, range and neutral value, and the
// sentence that explains them to a user.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct TAdjustmentRange {
    const char* Name; // "Brightness"
    std::int32_t Min, Max;
    std::int32_t Neutral; // the value that leaves the picture untouched
    // Brightness and saturation: while another adjustment is in use, this
    // value changes nothing (the neutral value then darkens or greys a
    // little); 0 when the neutral value is the unchanged one.
    std::int32_t UnchangedWhileAdjusting;
};

// Contrast, brightness, saturation, exposure, in the crop dialog's order.
const std::array<TAdjustmentRange, 4>& AdjustmentRanges();

// "Brightness: 0 to 512; 255 leaves the picture untouched (256 while another
// adjustment is in use)." and the like; empty for an unknown name.
std::string AdjustmentHint(const std::string& name);
