// The levels of H.264 (ITU-T H.264 Annex A): what a stream of a given
// picture size, rate and decoder buffering needs.
#pragma once

#include <cstdint>

// What a stream asks of its decoder.
struct TH264Demand {
    int Width = 0, Height = 0; // coded picture, pixels
    double FrameRate = 0;      // pictures per second
    int64_t MaxBitRate = 0;    // bit/s of the rate control's ceiling; 0 without one
    int64_t BufferSize = 0;    // bits of the rate control's buffer; 0 without one
    int ReferenceFrames = 1;   // pictures the decoder keeps
    bool HighProfile = true;   // the High profile allows 1.25 times the rates
};

// The lowest level (as level_idc: 30 for 3.0, 31 for 3.1, ...) whose limits
// hold the demand; 52 when none does.
int LowestH264Level(const TH264Demand& demand);
