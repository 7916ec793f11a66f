// The arithmetic of target sizes: the goal of a row, the rate aimed at, the
// smallest sane target, the correction after a miss and the accepted band.
#include "core/TargetSize.h"

#include <gtest/gtest.h>

TEST(TargetSize, ValuesParsed) {
    double mb = 0;
    EXPECT_TRUE(ParseTargetSize("7.5", mb));
    EXPECT_DOUBLE_EQ(mb, 7.5);
    for (const char* bad : {"", "0", "-2", "2MB", "1e7", "big", "2,5"})
        EXPECT_FALSE(ParseTargetSize(bad, mb)) << bad;
}

TEST(TargetSize, GoalFollowsTrimmingAudioAndPicture) {
    TInputOptions in;
    in.StartTime = 10'000'000;
    TOutputOptions out;
    out.FrameSize = "320x240";
    out.FrameRate = "30000/1001";
    out.AudioBitrate = 96'000;
    out.VideoCodec = "libx264";
    TSizeGoal goal = SizeGoalOf(in, out, 60'000'000, true, 8'000'000);
    EXPECT_EQ(goal.LengthUs, 50'000'000);
    EXPECT_EQ(goal.AudioBitRate, 96'000);
    EXPECT_EQ(goal.Width, 320);
    EXPECT_NEAR(goal.FrameRate, 29.97, 0.01);
    out.RecordingTime = 20'000'000;
    goal = SizeGoalOf(in, out, 60'000'000, false, 8'000'000);
    EXPECT_EQ(goal.LengthUs, 20'000'000);
    EXPECT_EQ(goal.AudioBitRate, 0);
    EXPECT_TRUE(TargetSizeApplies(out, true));
    EXPECT_FALSE(TargetSizeApplies(out, false));
    out.DisableVideo = true;
    EXPECT_FALSE(TargetSizeApplies(out, true));

    // 8 MB over 20 s: 3.2 Mbit/s in all, 95 % of it aimed at.
    EXPECT_EQ(TargetVideoBitRate(goal), 3'040'000);
}

TEST(TargetSize, TooSmallTargetsNameTheSmallestThatWorks) {
    TSizeGoal goal;
    goal.TargetBytes = 2'000'000;
    goal.LengthUs = 60'000'000;
    goal.AudioBitRate = 128'000;
    goal.Width = 640;
    goal.Height = 480;
    goal.FrameRate = 29.97;
    EXPECT_DOUBLE_EQ(SmallestTargetMB(goal), 2.5);
    EXPECT_EQ(TargetSizeProblem(goal, "a.mp4"),
              "a.mp4: the target size is too small for its length; the smallest size that "
              "works is 2.5 MB");
    goal.TargetBytes = 2'500'000;
    EXPECT_EQ(TargetSizeProblem(goal, "a.mp4"), "");
    // wmv2 cannot go as low as the others even on a black picture.
    goal.Encoder = "wmv2";
    EXPECT_NE(TargetSizeProblem(goal, "a.wmv"), "");
}

TEST(TargetSize, CorrectionAndAcceptedBand) {
    TSizeGoal goal;
    goal.TargetBytes = 5'000'000;
    goal.LengthUs = 10'000'000;
    EXPECT_TRUE(SizeWithinGoal(goal, 5'000'000));
    EXPECT_TRUE(SizeWithinGoal(goal, 4'500'000));
    EXPECT_FALSE(SizeWithinGoal(goal, 5'000'001));
    EXPECT_FALSE(SizeWithinGoal(goal, 4'499'999));
    EXPECT_FALSE(SizeFarBelowGoal(goal, 3'000'000));
    EXPECT_TRUE(SizeFarBelowGoal(goal, 2'999'999));
    // 10 % too large: the rate drops to land at 95 % again.
    const int rate = TargetVideoBitRate(goal);
    const int corrected = CorrectedVideoBitRate(goal, rate, 5'500'000);
    EXPECT_NEAR(corrected, rate * 4.75 / 5.5, 2);
    EXPECT_GT(CorrectedVideoBitRate(goal, rate, 3'000'000), rate);
}

namespace {

// 60 s of 640x480 at 29.97 frames/s with 128 kbit/s of AAC.
TSizeGoal MinuteWithAudio(int64_t bytes) {
    TSizeGoal goal;
    goal.TargetBytes = bytes;
    goal.LengthUs = 60'000'000;
    goal.AudioBitRate = 128'000;
    goal.AudioLowerable = true;
    goal.Width = 640;
    goal.Height = 480;
    goal.FrameRate = 29.97;
    goal.Encoder = "libx264";
    return goal;
}

int Count(const TOutputOptions& out, const std::string& name) {
    int n = 0;
    for (const auto& pair : out.ExtOptionPairs)
        n += pair.first == name;
    return n;
}

std::string Value(const TOutputOptions& out, const std::string& name) {
    std::string value;
    for (const auto& [key, text] : out.ExtOptionPairs)
        if (key == name) value = text;
    return value;
}

} // namespace

// A target that leaves the picture too little beside the audio lowers the
// audio only as far as needed; a lossless or unknown audio encoder keeps
// its rate, and the smallest size named counts on the lowest audio rate.
TEST(TargetSize, AudioGoesDownOnlyAsFarAsTheTargetNeeds) {
    TSizeGoal goal = MinuteWithAudio(2'000'000);
    const int minimum = MinimumVideoBitRate(goal);
    EXPECT_EQ(FittingAudioBitRate(goal, minimum), 64'000);
    goal.AudioBitRate = 64'000;
    EXPECT_GE(TargetVideoBitRate(goal), minimum);
    EXPECT_EQ(TargetSizeProblem(goal, "a.mp4"), "");

    EXPECT_EQ(FittingAudioBitRate(MinuteWithAudio(2'500'000), minimum), 128'000);
    // Not even 32 kbit/s leave enough: the goal's own rate, and a refusal
    // naming the size at 32 kbit/s.
    goal = MinuteWithAudio(1'500'000);
    EXPECT_EQ(FittingAudioBitRate(goal, minimum), 128'000);
    EXPECT_DOUBLE_EQ(SmallestTargetMB(goal), 1.8);
    goal.AudioLowerable = false;
    goal.TargetBytes = 2'000'000;
    EXPECT_EQ(FittingAudioBitRate(goal, minimum), 128'000);

    TOutputOptions out;
    out.VideoCodec = "mpeg4";
    for (const char* codec : {"pcm_s16le", "flac", ""}) {
        out.AudioCodec = codec;
        EXPECT_FALSE(SizeGoalOf({}, out, 60'000'000, true, 2'000'000).AudioLowerable) << codec;
    }
    out.AudioCodec = "mp2";
    EXPECT_TRUE(SizeGoalOf({}, out, 60'000'000, true, 2'000'000).AudioLowerable);
    EXPECT_FALSE(SizeGoalOf({}, out, 60'000'000, false, 2'000'000).AudioLowerable);
}

TEST(TargetSize, EncoderSettingsForTheLeastSecondPassRate) {
    TOutputOptions out;
    EXPECT_EQ(PassTwoPictureOf(out, 25).QMax, 31);
    out.ExtOptions = "g=12\nbf=2\nqmax=20\nb_qfactor=1.5";
    out.ExtOptionPairs = {{"qmax", "24"}}; // applied after the lines
    const TPassTwoPicture picture = PassTwoPictureOf(out, 29.97);
    EXPECT_EQ(picture.BFrames, 2);
    EXPECT_EQ(picture.QMax, 24);
    EXPECT_DOUBLE_EQ(picture.BQuantFactor, 1.5);
    EXPECT_DOUBLE_EQ(picture.IQuantFactor, TPassTwoPicture().IQuantFactor);
}

// Each encode sets its own rate options: a constant-rate encode after a
// second pass is no pass at all, and encodes again add nothing twice.
TEST(TargetSize, ConstantRateReplacesThePasses) {
    TOutputOptions out;
    out.VideoCodec = "libx264";
    out.MaxRate = 4'000'000;
    ApplyVideoPass(out, 2, 900'000, "/tmp/log");
    ApplyVideoPass(out, 2, 800'000, "/tmp/log");
    EXPECT_EQ(Count(out, "b"), 1);
    EXPECT_EQ(Value(out, "b"), "800000");
    EXPECT_EQ(Value(out, "pass"), "2");
    EXPECT_EQ(out.MaxRate, -1);

    ApplyConstantRate(out, 750'000);
    EXPECT_EQ(Count(out, "pass"), 0);
    EXPECT_EQ(Count(out, "passlogfile"), 0);
    for (const char* name : {"b", "minrate", "maxrate", "bufsize"}) {
        EXPECT_EQ(Count(out, name), 1) << name;
        EXPECT_EQ(Value(out, name), "750000") << name;
    }
    EXPECT_EQ(Value(out, "nal-hrd"), "cbr");
    EXPECT_EQ(out.VideoBitrate, 750'000);

    TOutputOptions mpeg;
    mpeg.VideoCodec = "mpeg4";
    ApplyConstantRate(mpeg, 500'000);
    EXPECT_EQ(Count(mpeg, "nal-hrd"), 0);

    const TSizeGoal goal = MinuteWithAudio(5'000'000);
    EXPECT_GT(ConstantVideoBitRate(goal), TargetVideoBitRate(goal));
    EXPECT_LT((ConstantVideoBitRate(goal) + goal.AudioBitRate) * 60.0 / 8, 5'000'000);
}
