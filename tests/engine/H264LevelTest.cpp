// The H.264 level a stream needs: the picture size, the picture rate, the
// rate control's ceiling and buffer, and the pictures the decoder keeps each
// can raise it.
#include "engine/H264Level.h"

#include <gtest/gtest.h>

namespace {

TH264Demand Demand(int width, int height, double rate) {
    TH264Demand d;
    d.Width = width;
    d.Height = height;
    d.FrameRate = rate;
    return d;
}

} // namespace

TEST(H264Level, FollowsSizeAndRate) {
    EXPECT_EQ(LowestH264Level(Demand(176, 144, 15)), 10);
    EXPECT_EQ(LowestH264Level(Demand(320, 240, 29.97)), 13);
    EXPECT_EQ(LowestH264Level(Demand(640, 480, 30)), 30);
    EXPECT_EQ(LowestH264Level(Demand(720, 576, 25)), 30);
    EXPECT_EQ(LowestH264Level(Demand(1280, 720, 30)), 31);
    EXPECT_EQ(LowestH264Level(Demand(1280, 720, 60)), 32);
    EXPECT_EQ(LowestH264Level(Demand(1920, 1080, 30)), 40);
    EXPECT_EQ(LowestH264Level(Demand(1920, 1080, 60)), 42);
    EXPECT_EQ(LowestH264Level(Demand(3840, 2160, 30)), 51);
    // Beyond every level: the highest.
    EXPECT_EQ(LowestH264Level(Demand(8192, 8192, 120)), 52);
}

TEST(H264Level, LongSidesRatesAndBuffersRaiseIt) {
    // 1620 macroblocks fit level 3.0 by count, but a 2048-pixel side does not.
    EXPECT_EQ(LowestH264Level(Demand(2048, 96, 25)), 31);
    TH264Demand rated = Demand(320, 240, 29.97);
    rated.MaxBitRate = 1500000; // over level 1.3's 960 kbit/s in the High profile
    EXPECT_EQ(LowestH264Level(rated), 20);
    rated.HighProfile = false;
    rated.MaxBitRate = 2400000;
    EXPECT_EQ(LowestH264Level(rated), 21);
    TH264Demand buffered = Demand(1280, 720, 25);
    buffered.BufferSize = 20000000;
    EXPECT_EQ(LowestH264Level(buffered), 32);
    TH264Demand kept = Demand(1280, 720, 25);
    kept.ReferenceFrames = 5; // 18000 macroblocks: level 3.1's buffer
    EXPECT_EQ(LowestH264Level(kept), 31);
    kept.ReferenceFrames = 6; // 21600: over level 3.1's 18000 and 3.2's 20480
    EXPECT_EQ(LowestH264Level(kept), 40);
}
