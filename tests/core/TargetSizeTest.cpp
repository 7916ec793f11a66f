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
}

TEST(TargetSize, CorrectionAndAcceptedBand) {
    TSizeGoal goal;
    goal.TargetBytes = 5'000'000;
    goal.LengthUs = 10'000'000;
    EXPECT_TRUE(SizeWithinGoal(goal, 5'000'000));
    EXPECT_TRUE(SizeWithinGoal(goal, 4'500'000));
    EXPECT_FALSE(SizeWithinGoal(goal, 5'000'001));
    EXPECT_FALSE(SizeWithinGoal(goal, 4'499'999));
    // 10 % too large: the rate drops to land at 95 % again.
    const int rate = TargetVideoBitRate(goal);
    const int corrected = CorrectedVideoBitRate(goal, rate, 5'500'000);
    EXPECT_NEAR(corrected, rate * 4.75 / 5.5, 2);
    EXPECT_GT(CorrectedVideoBitRate(goal, rate, 3'000'000), rate);
}
