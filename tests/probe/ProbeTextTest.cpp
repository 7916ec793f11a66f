// The description text: header lines, metadata blocks, programs, stream
// lines and the rate rule.
#include "ProbeMedia.h"
#include "media/FFmpegLoader.h"
#include "probe/AVProbe.h"

#include <gtest/gtest.h>
#include <sstream>
#include <vector>

using testsupport::ProbeValue;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
    return lines;
}

int CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    int count = 0;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) ++count;
    return count;
}

class ProbeText : public ProbeTestBase {
protected:
    std::vector<std::string> Describe(const std::string& file) {
        EXPECT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
        return Lines(Prober.GetFormatInfoText());
    }
};

TEST(RateRule, DecimalsOnlyWhereNeededThousandsAsK) {
    EXPECT_EQ(RateText(25, "tbr"), ", 25 tbr");
    EXPECT_EQ(RateText(30000.0 / 1001, "fps"), ", 29.97 fps");
    EXPECT_EQ(RateText(90000, "tbn"), ", 90k tbn");
    EXPECT_EQ(RateText(1000, "tbn"), ", 1k tbn");
    EXPECT_EQ(RateText(1200, "tbn"), ", 1200 tbn");
    EXPECT_EQ(RateText(24000.0 / 1001, "tbr"), ", 23.98 tbr");
    EXPECT_EQ(RateText(0.5, "fps"), ", 0.50 fps");
}

TEST(MetadataKeys, StoredKeysAreTranslatedExactly) {
    EXPECT_EQ(TranslateMetadataKey("TIT2"), "title");
    EXPECT_EQ(TranslateMetadataKey("TT2"), "title");
    EXPECT_EQ(TranslateMetadataKey("TPE1"), "artist");
    EXPECT_EQ(TranslateMetadataKey("TYER"), "year");
    EXPECT_EQ(TranslateMetadataKey("tit2"), "tit2");
    EXPECT_EQ(TranslateMetadataKey("encoder"), "encoder");
}

TEST_F(ProbeText, HeaderLinesOfAnAviFile) {
    const std::string& file = TestMedia().AudioVideo;
    std::vector<std::string> lines = Describe(file);
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[0], "File Name: " + file);
    EXPECT_EQ(lines[1], "Format Name: avi");
    EXPECT_EQ(lines[2], "Format Long Name: " + ProbeValue(file, "format=format_long_name"));
    EXPECT_EQ(lines[3], "File Size: " + SizeToText(std::stoll(ProbeValue(file, "format=size"))));
    EXPECT_EQ(lines[4], "Duration: 00:00:02.011");
    EXPECT_EQ(lines[5], "StartTime: 0.000000");
    EXPECT_EQ(lines[6],
              "Bit Rate: " + std::to_string(std::stoi(ProbeValue(file, "format=bit_rate")) / 1000) +
                  " kb/s");
    EXPECT_EQ(lines[7], "Metadata:");
    EXPECT_EQ(lines[8], "  title           : Hello");
    EXPECT_EQ(CountStartingWith(lines, "Stream #0, 1/25: Video: mpeg4"), 1);
    EXPECT_EQ(CountStartingWith(lines, "Stream #1, "), 1);
    EXPECT_EQ(CountStartingWith(lines, "Program "), 0);
}

TEST_F(ProbeText, StreamLineCarriesAspectRatesAndTimes) {
    std::vector<std::string> lines = Describe(TestMedia().AudioVideo);
    std::string video;
    for (const std::string& line : lines)
        if (line.rfind("Stream #0", 0) == 0) video = line;
    EXPECT_NE(video.find("160x120"), std::string::npos) << video;
    EXPECT_NE(video.find(", 25 fps, 25 tbr, 25 tbn"), std::string::npos) << video;
    EXPECT_NE(video.find(", StartTime: 0.000000, Duration: 00:00:02.000"), std::string::npos)
        << video;
}

TEST_F(ProbeText, ProgramStreamShowsIdsAndTheRateRule) {
    std::vector<std::string> lines = Describe(TestMedia().Program);
    std::string video;
    for (const std::string& line : lines)
        if (line.rfind("Stream #0[0x1e0], 1/90000: Video: mpeg2video", 0) == 0) video = line;
    ASSERT_FALSE(video.empty()) << Prober.GetFormatInfoText();
    EXPECT_NE(video.find(", 29.97 fps, 29.97 tbr, 90k tbn"), std::string::npos) << video;
    EXPECT_EQ(CountStartingWith(lines, "Stream #1[0x1c0], 1/90000: Audio: mp2"), 1);
}

TEST_F(ProbeText, TransportStreamListsItsProgramsStreamsOnce) {
    std::vector<std::string> lines = Describe(TestMedia().Transport);
    auto program = std::find(lines.begin(), lines.end(), "Program 1 FFmpeg@Service01");
    ASSERT_NE(program, lines.end()) << Prober.GetFormatInfoText();
    EXPECT_EQ(*(program + 1), "  Metadata:");
    EXPECT_EQ(CountStartingWith(lines, "Stream #0[0x100]"), 1);
    EXPECT_EQ(CountStartingWith(lines, "Stream #1[0x101](fra)"), 1);
    // The streams follow their program.
    EXPECT_GT(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("Stream #0", 0) == 0; }),
              program);
    // A stream whose metadata is only its language has no metadata block.
    auto audio = std::find_if(lines.begin(), lines.end(),
                              [](const std::string& l) { return l.rfind("Stream #1", 0) == 0; });
    ASSERT_NE(audio, lines.end());
    EXPECT_TRUE(audio + 1 == lines.end() || (audio + 1)->rfind("  Metadata:", 0) != 0);
    TAudioStreamInfo info;
    ASSERT_TRUE(Prober.GetAudioStreamInfo(-1, info));
    EXPECT_EQ(info.Language, "fra");
}

TEST_F(ProbeText, StoredTagKeysAreShownTranslated) {
    std::vector<std::string> lines = Describe(TestMedia().Tagged);
    EXPECT_EQ(CountStartingWith(lines, "  title           : Tagged"), 1)
        << Prober.GetFormatInfoText();
    EXPECT_EQ(CountStartingWith(lines, "  TIT2"), 0);
    EXPECT_EQ(CountStartingWith(lines, "Stream #0(eng), 1/1000: Video: mpeg4"), 1);
    // The stream's block leaves its language out.
    EXPECT_EQ(CountStartingWith(lines, "    language"), 0);
}

} // namespace
