// The least bit rate a second pass of the MPEG-family encoders accepts,
// read from their first pass's statistics and checked against the encoder
// itself (the ffmpeg program, whose libraries are the engine's).
#include "engine/PassTwoRate.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

// Above the estimate the encoder takes the rate; at half of it, it refuses.
TEST(PassTwoRate, TheLowestRateLiesJustAboveTheEncodersLimit) {
    testsupport::TempDir dir;
    const std::string source = dir.file("in.avi"), log = dir.file("pass");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i testsrc2=size=320x240:rate=25 -t 2 -c:v mpeg4 -q:v 2"));
    const std::string common = "-i " + testsupport::ShellQuote(source) +
                               " -an -c:v mpeg4 -bf 2 -passlogfile " + testsupport::ShellQuote(log);
    ASSERT_TRUE(testsupport::RunFfmpeg(common + " -b:v 300k -pass 1 -f null -"));
    TPassTwoPicture picture;
    picture.BFrames = 2;
    picture.FrameRate = 25;
    const int64_t lowest = LowestPassTwoBitRate(ReadText(log + "-0.log"), picture);
    ASSERT_GT(lowest, 0);
    auto secondPass = [&](int64_t rate) {
        return testsupport::RunCommand("ffmpeg -hide_banner -loglevel error -y " + common +
                                       " -b:v " + std::to_string(rate) + " -pass 2 " +
                                       testsupport::ShellQuote(dir.file("out.avi")))
            .exitCode;
    };
    EXPECT_EQ(secondPass(lowest), 0) << "refused at " << lowest;
    EXPECT_NE(secondPass(lowest / 2), 0) << "accepted at half of " << lowest;
}

TEST(PassTwoRate, OtherTextsAndEncodersAreLeftToTheEncoder) {
    TPassTwoPicture picture;
    picture.FrameRate = 25;
    EXPECT_EQ(LowestPassTwoBitRate("", picture), -1);
    EXPECT_EQ(LowestPassTwoBitRate("#options: 320x240 fps=25/1\nin:0 out:0 type:I;", picture), -1);
    EXPECT_GT(
        LowestPassTwoBitRate("in:0 out:0 type:1 q:236 itex:10 ptex:0 mv:400 misc:600;", picture),
        0);
    picture.FrameRate = 0;
    EXPECT_EQ(
        LowestPassTwoBitRate("in:0 out:0 type:1 q:236 itex:10 ptex:0 mv:400 misc:600;", picture),
        -1);
    EXPECT_TRUE(KeepsMpegFamilyStatistics("mpeg4"));
    EXPECT_TRUE(KeepsMpegFamilyStatistics("mpeg2video"));
    EXPECT_FALSE(KeepsMpegFamilyStatistics("libx264"));
    EXPECT_FALSE(KeepsMpegFamilyStatistics("libxvid"));
}
