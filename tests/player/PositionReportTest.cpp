// The positions the player reports to its host: small moves held back, the
// end of the file reported exactly once as its duration.
#include "player/PositionReport.h"

#include <gtest/gtest.h>

TEST(PositionReport, MovesOfMoreThanTenMillisecondsInEitherDirectionAreReported) {
    TPositionReport report;
    EXPECT_EQ(report.Current(), -1);
    EXPECT_EQ(report.Update(0, 2000000), 0); // the first one always
    EXPECT_EQ(report.Update(10000, 2000000), std::nullopt);
    EXPECT_EQ(report.Current(), 10000);
    EXPECT_EQ(report.Update(10001, 2000000), 10001); // measured from the last report
    EXPECT_EQ(report.Update(15000, 2000000), std::nullopt);
    EXPECT_EQ(report.Update(500000, 2000000), 500000);
    EXPECT_EQ(report.Update(100000, 2000000), 100000); // back after a seek
    // Without a known duration nothing is clamped.
    EXPECT_EQ(report.Update(5000000, 0), 5000000);

    // After a reset the next position is reported even without a move.
    report.Reset();
    EXPECT_EQ(report.Current(), -1);
    EXPECT_EQ(report.Update(5000000, 0), 5000000);
}

TEST(PositionReport, TheEndIsReportedOnceAsTheDurationHoweverCloseTheLastReport) {
    TPositionReport report;
    ASSERT_EQ(report.Update(1995000, 2000000), 1995000);
    // 5 ms later and past the end: reported, as the duration.
    EXPECT_EQ(report.Update(2000400, 2000000), 2000000);
    EXPECT_EQ(report.Current(), 2000400);
    EXPECT_EQ(report.Update(2100000, 2000000), std::nullopt);
    EXPECT_EQ(report.Update(2000000, 2000000), std::nullopt);
    // A seek back plays to the end again: reported again.
    EXPECT_EQ(report.Update(1000000, 2000000), 1000000);
    EXPECT_EQ(report.Update(2000000, 2000000), 2000000);

    // A file shorter than the smallest move still reports its end.
    TPositionReport shortFile;
    ASSERT_EQ(shortFile.Update(0, 5000), 0);
    EXPECT_EQ(shortFile.Update(6000, 5000), 5000);
    EXPECT_EQ(shortFile.Update(7000, 5000), std::nullopt);
}
