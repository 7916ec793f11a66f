#include "effects/AdjustmentRanges.h"

const std::array<TAdjustmentRange, 4>& AdjustmentRanges() {
    static const std::array<TAdjustmentRange, 4> ranges = {{
        {"Contrast", -100, 100, 0, 0},
        {"Brightness", 0, 512, 255, 256},
        {"Saturation", 0, 512, 255, 256},
        {"Exposure", -255, 512, 0, 0},
    }};
    return ranges;
}

std::string AdjustmentHint(const std::string& name) {
    for (const TAdjustmentRange& range : AdjustmentRanges()) {
        if (name != range.Name) continue;
        std::string hint = std::string(range.Name) + ": " + std::to_string(range.Min) + " to " +
                           std::to_string(range.Max) + "; " + std::to_string(range.Neutral) +
                           " leaves the picture untouched";
        if (range.UnchangedWhileAdjusting != 0)
            hint += " (" + std::to_string(range.UnchangedWhileAdjusting) +
                    " while another adjustment is in use)";
        return hint + ".";
    }
    return {};
}
