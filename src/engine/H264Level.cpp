#include "engine/H264Level.h"

#include <algorithm>
#include <iterator>

namespace {

// Limits of one level: macroblocks per second and per picture, the decoded
// picture buffer in macroblocks, the bit rate and the buffer in kbit (the
// Baseline and Main profile's figures).
struct TLevelLimits {
    int Idc;
    int64_t MacroblocksPerSecond;
    int64_t FrameMacroblocks;
    int64_t BufferMacroblocks;
    int64_t BitRate;
    int64_t Buffer;
};

constexpr TLevelLimits kLevels[] = {
    {10, 1485, 99, 396, 64, 175},
    {11, 3000, 396, 900, 192, 500},
    {12, 6000, 396, 2376, 384, 1000},
    {13, 11880, 396, 2376, 768, 2000},
    {20, 11880, 396, 2376, 2000, 2000},
    {21, 19800, 792, 4752, 4000, 4000},
    {22, 20250, 1620, 8100, 4000, 4000},
    {30, 40500, 1620, 8100, 10000, 10000},
    {31, 108000, 3600, 18000, 14000, 14000},
    {32, 216000, 5120, 20480, 20000, 20000},
    {40, 245760, 8192, 32768, 20000, 25000},
    {41, 245760, 8192, 32768, 50000, 62500},
    {42, 522240, 8704, 34816, 50000, 62500},
    {50, 589824, 22080, 110400, 135000, 135000},
    {51, 983040, 36864, 184320, 240000, 240000},
    {52, 2073600, 36864, 184320, 240000, 240000},
};

int64_t Macroblocks(int pixels) {
    return (std::max(pixels, 0) + 15) / 16;
}

bool Holds(const TLevelLimits& level, const TH264Demand& d) {
    const int64_t width = Macroblocks(d.Width), height = Macroblocks(d.Height);
    const int64_t frame = width * height;
    // A picture may not be longer on one side than the square of eight
    // times the level's picture size allows.
    const int64_t side = 8 * level.FrameMacroblocks;
    const double perSecond = static_cast<double>(frame) * d.FrameRate;
    const int64_t factor = d.HighProfile ? 1250 : 1000; // bit/s per kbit of the table
    return frame <= level.FrameMacroblocks && width * width <= side && height * height <= side &&
           perSecond <= static_cast<double>(level.MacroblocksPerSecond) &&
           frame * std::max(d.ReferenceFrames, 1) <= level.BufferMacroblocks &&
           d.MaxBitRate <= level.BitRate * factor && d.BufferSize <= level.Buffer * factor;
}

} // namespace

int LowestH264Level(const TH264Demand& demand) {
    for (const TLevelLimits& level : kLevels)
        if (Holds(level, demand)) return level.Idc;
    return kLevels[std::size(kLevels) - 1].Idc;
}
