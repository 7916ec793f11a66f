// The statistics of a first pass written by the libraries' own MPEG-family
// encoders (MPEG-1/2/4, H.263, MS-MPEG-4, WMV 1/2, FLV): what the second pass
// needs of its bit rate.
//
// The encoder refuses a second pass whose rate cannot pay for the pictures
// even at its coarsest quantisers, and the libraries of this generation then
// corrupt their heap and abort the whole program. The engine estimates that
// rate first (the bits no quantiser saves, plus each picture's texture at the
// coarsest quantiser its type may get) and fails the task below it instead.
#pragma once

#include <cstdint>
#include <string>

// The second pass's encoder settings the estimate needs (the libraries'
// defaults as given).
struct TPassTwoPicture {
    int BFrames = 0; // the most B-frames in a row
    double FrameRate = 0;
    int QMax = 31;
    double BQuantFactor = 1.25, BQuantOffset = 1.25;
    double IQuantFactor = 0.8, IQuantOffset = 0; // the factor's size counts
};

// The least bit rate (bit/s) this estimate lets through, with a margin that
// keeps it above the encoder's own limit; -1 when the text is not such
// statistics.
int64_t LowestPassTwoBitRate(const std::string& stats, const TPassTwoPicture& picture);

// Whether the libraries' encoder of this name keeps its rate control in the
// statistics form above.
bool KeepsMpegFamilyStatistics(const std::string& encoderName);
