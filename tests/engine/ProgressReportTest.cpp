// The progress report: its line worked out by hand from given numbers, the
// quantizer histogram, the PSNR figures of the last and of all pictures, and
// the time and timing of reports.
#include "engine/ProgressReport.h"

#include <gtest/gtest.h>

namespace {

TReportPicture Picture(int frames, int fps, float quality) {
    TReportPicture p;
    p.FrameNumber = frames;
    p.Fps = fps;
    p.Quality = quality;
    return p;
}

} // namespace

TEST(ProgressReport, LineShowsSizeTimeRateAndDroppedOrRepeatedPictures) {
    TProgressReport report(false);
    EXPECT_EQ(report.Line(false, nullptr, 1.5, 10.92, 2048),
              "size=       2kB time=1.50 bitrate=  10.9kbits/s");
    report.Dropped();
    report.Duplicated(3);
    report.TakeBack(1);
    EXPECT_EQ(report.Line(false, nullptr, 1.5, 10.92, 2048),
              "size=       2kB time=1.50 bitrate=  10.9kbits/s dup=2 drop=1");
}

TEST(ProgressReport, LineShowsPicturesAndOtherVideoStreamsAndMarksTheLast) {
    TProgressReport report(false);
    TReportPicture picture = Picture(12, 25, 3.0f);
    picture.OtherQualities = {2.5f, -1.0f};
    const std::string tail = "size=     100kB time=4.00 bitrate= 204.8kbits/s";
    EXPECT_EQ(report.Line(false, &picture, 4.0, 204.8, 102400),
              "frame=   12 fps= 25 q=3.0 q=2.5 q=-1.0 " + tail);
    EXPECT_EQ(report.Line(true, &picture, 4.0, 204.8, 102400),
              "frame=   12 fps= 25 q=3.0 Lq=2.5 q=-1.0 " + tail);
    // A line never runs past 1023 characters.
    picture.OtherQualities.assign(300, 2.5f);
    EXPECT_EQ(report.Line(false, &picture, 4.0, 204.8, 102400).size(), 1023u);
}

TEST(ProgressReport, HistogramCountsEachReportsRoundedQuantizer) {
    TProgressReport report(true);
    const TReportPicture two = Picture(5, 0, 2.2f);
    auto histogram = [&](const TReportPicture& p) {
        const std::string line = report.Line(false, &p, 1.0, 0.0, 0);
        const std::string head =
            "frame=    5 fps=  0 q=" + std::string(p.Quality < 0 ? "-1.0 " : "2.2 ");
        EXPECT_EQ(line.rfind(head, 0), 0u) << line;
        return line.substr(head.size(), 32);
    };
    const std::string zeros(29, '0');
    EXPECT_EQ(histogram(two), "001" + zeros); // one report: log2(2)
    EXPECT_EQ(histogram(two), "002" + zeros); // two: log2(3) rounds to 2
    EXPECT_EQ(histogram(two), "002" + zeros); // three: log2(4)
    // No quantizer (a copied stream) counts in no bin.
    EXPECT_EQ(histogram(Picture(5, 0, -1.0f)), "002" + zeros);
    for (int i = 0; i < 12; ++i)
        histogram(two);
    EXPECT_EQ(histogram(two), "004" + zeros); // sixteen: log2(17)
}

TEST(ProgressReport, PsnrOfTheLastPictureAndOfAllInTheFinalLine) {
    TProgressReport report(false);
    TReportPicture picture = Picture(2, 0, 1.0f);
    picture.Psnr = true;
    picture.Width = picture.Height = 20; // Y: 26010000 per picture, U and V a quarter
    picture.Error = {260100, 650250, 65025, 0};
    picture.ErrorSum = {520200, 1300500, 130050, 0};
    const std::string psnr = "PSNR=Y:20.00 U:10.00 V:20.00 *:16.02 ";
    const std::string tail = "size=       0kB time=1.00 bitrate=   0.0kbits/s";
    EXPECT_EQ(report.Line(false, &picture, 1.0, 0.0, 0),
              "frame=    2 fps=  0 q=1.0 " + psnr + tail);
    EXPECT_EQ(report.Line(true, &picture, 1.0, 0.0, 0),
              "frame=    2 fps=  0 q=1.0 L" + psnr + tail);
}

TEST(ProgressReport, TimeNeverGoesBackAndReportsComeAfterTheInterval) {
    TProgressReport report(false);
    EXPECT_DOUBLE_EQ(report.ReportTime(0), 0.01);
    EXPECT_DOUBLE_EQ(report.ReportTime(2.0), 2.0);
    EXPECT_DOUBLE_EQ(report.ReportTime(1.0), 2.0);
    EXPECT_DOUBLE_EQ(report.ReportTime(3.5), 3.5);

    report.Start(1000);
    EXPECT_DOUBLE_EQ(report.Elapsed(2501000), 2.5);
    EXPECT_FALSE(report.Due(501000, 500000));
    EXPECT_TRUE(report.Due(501001, 500000));
    EXPECT_FALSE(report.Due(501010, 500000)); // counted from the last report
    EXPECT_TRUE(report.Due(1001002, 500000));
}

TEST(ProgressReport, ChangeIsTakenOnceAndTakenBackCopiesAreNone) {
    TProgressReport report(false);
    EXPECT_FALSE(report.TakeChanged());
    report.TakeBack(1);
    EXPECT_FALSE(report.TakeChanged());
    report.Duplicated(1);
    EXPECT_TRUE(report.TakeChanged());
    EXPECT_FALSE(report.TakeChanged());
    report.Dropped();
    EXPECT_TRUE(report.TakeChanged());
}
