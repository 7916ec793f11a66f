// The plan of the loudness passes: the stored target, the measuring pass's
// options, its readings and the gain of the conversion.
#include "core/LoudnessPass.h"
#include "core/LoudnessPlan.h"

#include "core/IniFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
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

// The plan's two passes: readings of finished tasks give gains, a failed
// task leaves its row as it is, a stopped task ends the batch; the readings'
// folder goes with the next batch.
TEST(LoudnessPlan, GainsOnlyForRowsMeasuredToTheEnd) {
    TLoudnessPlan plan;
    plan.Begin(0);
    EXPECT_FALSE(plan.Measuring());
    plan.Begin(-16);
    ASSERT_TRUE(plan.Measuring());
    std::string folder;
    for (const int row : {0, 2, 5}) {
        TInputOptions in, measureIn;
        TOutputOptions out, measureOut;
        plan.MeasuringOptions(row, in, out, measureIn, measureOut);
        const std::string& af = measureOut.ExtOptionPairs.at(0).second;
        const std::string readings = af.substr(af.find("file=") + 5);
        folder = std::filesystem::path(readings).parent_path().string();
        WriteText(readings, "lavfi.r128.I=" + std::to_string(-30 - row) + ".000\n");
        plan.AddMeasuringTask(row == 0 ? 0 : row == 2 ? 1 : 2, row);
    }
    EXPECT_EQ(plan.MeasuredRow(1), 2);
    EXPECT_EQ(plan.MeasuredRow(3), -1);
    EXPECT_EQ(plan.MeasuringRows(), (std::vector<int>{0, 2, 5}));
    plan.MeasuringEnded(0, true, false);
    plan.MeasuringEnded(1, false, true); // failed: row 2 unmeasured
    plan.MeasuringEnded(2, true, false);
    ASSERT_TRUE(plan.EndMeasuring());
    EXPECT_FALSE(plan.Measuring());
    const auto gain = [&](int row) {
        TOutputOptions out;
        plan.ApplyTo(row, out);
        return out.ExtOptionPairs.empty() ? std::string() : out.ExtOptionPairs[0].second;
    };
    EXPECT_EQ(gain(0), LoudnessFilters(-30, -16));
    EXPECT_EQ(gain(2), "");
    EXPECT_EQ(gain(5), LoudnessFilters(-35, -16));
    EXPECT_EQ(gain(1), "");

    plan.Begin(-23);
    EXPECT_FALSE(std::filesystem::exists(folder));
    plan.AddMeasuringTask(0, 0);
    plan.MeasuringEnded(0, false, false); // stopped
    EXPECT_FALSE(plan.EndMeasuring());
}
