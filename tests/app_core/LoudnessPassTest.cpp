// The plan of the loudness passes: the stored target, the measuring pass's
// options, its readings and the gain of the conversion.
#include "app/core/LoudnessPass.h"

#include "app/core/IniFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

void WriteText(const std::string& file, const std::string& text) {
    std::ofstream(file) << text;
}

} // namespace

TEST(LoudnessPass, TargetsParsedAndStoredPerFormat) {
    int target = 0;
    EXPECT_TRUE(ParseLoudnessTarget("-16", target));
    EXPECT_EQ(target, -16);
    for (const char* bad : {"", "-4", "-71", "16", "-16.5", "-16dB", "0"})
        EXPECT_FALSE(ParseLoudnessTarget(bad, target)) << bad;

    const testsupport::TempDir dir;
    TIniFile settings(dir.file("vantrel.ini"));
    EXPECT_EQ(StoredLoudnessTarget(settings, 200), 0); // no key: off
    ASSERT_TRUE(settings.WriteString("formatInfo200", "paraLoudnessTarget", "-23"));
    ASSERT_TRUE(settings.WriteString("formatInfo103", "paraLoudnessTarget", "12"));
    EXPECT_EQ(StoredLoudnessTarget(settings, 200), -23);
    EXPECT_EQ(StoredLoudnessTarget(settings, 202), 0);
    EXPECT_EQ(StoredLoudnessTarget(settings, 103), 0); // out of range: off
}

TEST(LoudnessPass, MeasuringPassReadsTheRowsStretchOfAudioOnly) {
    TInputOptions in;
    in.FileName = "/media/a.mp4";
    in.StartTime = 2'000'000;
    TOutputOptions out;
    out.RecordingTime = 5'000'000;
    out.VideoCodec = "libx264";
    TInputOptions measureIn;
    TOutputOptions measureOut;
    BuildMeasuringOptions(in, out, "/tmp/it's: a, [b].txt", measureIn, measureOut);
    EXPECT_EQ(measureIn.StartTime, 2'000'000);
    EXPECT_EQ(measureOut.RecordingTime, 5'000'000);
    EXPECT_TRUE(measureOut.DisableVideo);
    EXPECT_TRUE(measureOut.DisableSubtitle);
    EXPECT_EQ(measureOut.ForceFormat, "null");
    EXPECT_TRUE(measureOut.VideoCodec.empty());
    ASSERT_EQ(measureOut.ExtOptionPairs.size(), 1u);
    EXPECT_EQ(measureOut.ExtOptionPairs[0].first, "af");
    // The file name escaped for the option and again for the graph.
    const std::string& af = measureOut.ExtOptionPairs[0].second;
    EXPECT_NE(af.find("file=/tmp/it\\\\\\'s\\\\: a\\, \\[b\\].txt"), std::string::npos) << af;
}

TEST(LoudnessPass, LastReadingCountsAndSilenceOrNothingIsNoReading) {
    const testsupport::TempDir dir;
    const std::string readings = dir.file("r.txt");
    WriteText(readings, "frame:0    pts:0       pts_time:0\nlavfi.r128.I=-70.000\n"
                        "frame:9    pts:9000    pts_time:0.9\nlavfi.r128.I=-31.250\n"
                        "frame:19   pts:19000   pts_time:1.9\nlavfi.r128.I=-30.500\n");
    const auto loudness = ReadMeasuredLoudness(readings);
    ASSERT_TRUE(loudness.has_value());
    EXPECT_DOUBLE_EQ(*loudness, -30.5);
    WriteText(readings, "frame:0    pts:0       pts_time:0\nlavfi.r128.I=-70.000\n");
    EXPECT_FALSE(ReadMeasuredLoudness(readings).has_value());
    WriteText(readings, "");
    EXPECT_FALSE(ReadMeasuredLoudness(readings).has_value());
    EXPECT_FALSE(ReadMeasuredLoudness(dir.file("none.txt")).has_value());
}

TEST(LoudnessPass, GainBringsTheMeasuredLoudnessToTheTargetUnderALimiter) {
    EXPECT_EQ(LoudnessFilters(-30.5, -16), "volume=14.500dB,alimiter=limit=0.794:level=0");
    EXPECT_EQ(LoudnessFilters(-8.25, -23), "volume=-14.750dB,alimiter=limit=0.794:level=0");
    TOutputOptions out;
    out.ExtOptionPairs.emplace_back("b", "1");
    ApplyLoudness(out, -20, -14);
    ASSERT_EQ(out.ExtOptionPairs.size(), 2u);
    EXPECT_EQ(out.ExtOptionPairs[1].first, "af");
}
