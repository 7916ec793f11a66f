// The option builder for the modern formats: quality steps and speeds on
// each encoder's own scale, kept HDR instead of 8-bit pictures, the copying
// format's refusals and missing encoders named before anything starts.
#include "BuilderTestEnv.h"

#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "core/ModernFormats.h"

#include <stdexcept>

using namespace buildertest;

namespace {

// The value of `name` among the lines, empty when absent.
std::string LineValue(const std::string& lines, const std::string& name) {
    const std::string key = name + "=";
    std::size_t at = 0;
    while ((at = lines.find(key, at)) != std::string::npos) {
        if (at == 0 || lines[at - 1] == '\n') {
            const std::size_t end = lines.find('\n', at);
            return lines.substr(at + key.size(),
                                end == std::string::npos ? end : end - at - key.size());
        }
        ++at;
    }
    return {};
}

class ModernOptions : public TBuilderTest {
protected:
    void SetUp() override {
        TBuilderTest::SetUp();
        for (int code : FormatCodes()) {
            ASSERT_TRUE(Global.Settings().WriteSectionValues(FormatSectionName(code),
                                                             BuiltInSettingsSection(code)));
            ASSERT_TRUE(Global.Formats().WriteSectionValues(FormatSectionName(code),
                                                            BuiltInFormatSection(code)));
        }
    }
    void TearDown() override { SetEncoderLookup({}); }

    TBuilt BuildCode(int code, const TlvFilesRecord& row = {},
                     const TProbedSource& src = VideoSource(1280, 720)) {
        TBuilt b;
        b.Out.FileName = Temp.file("out");
        HandOverRowEdits(row, b.In, b.Out);
        BuildConversionOptions(Global, row, code, b.Out, src, b.In);
        return b;
    }
    void SetUser(int code, const std::string& key, const std::string& value) {
        ASSERT_TRUE(Global.Settings().WriteString(FormatSectionName(code), key, value));
    }
    // The message of the builder's refusal; empty when it builds.
    std::string Refusal(int code, const TlvFilesRecord& row = {}) {
        try {
            BuildCode(code, row);
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return {};
    }
};

} // namespace

// Each encoder gets its own constant-quality value, rising (worse) from
// "very high" to "small file", no bit-rate target, and 10-bit-capable
// pictures instead of the twenty formats' forced 8-bit ones.
TEST_F(ModernOptions, QualityStepsMapOntoEachEncodersScale) {
    for (int code : {kModernHevc, kModernAv1, kModernVp9}) {
        SCOPED_TRACE(code);
        int last = -1;
        for (const char* step : {"veryhigh", "high", "medium", "small"}) {
            SetUser(code, "paraQualityStep", step);
            const TBuilt b = BuildCode(code);
            const std::string crf = LineValue(b.Out.ExtOptions, "crf");
            ASSERT_FALSE(crf.empty()) << b.Out.ExtOptions;
            EXPECT_GT(std::stoi(crf), last) << step;
            last = std::stoi(crf);
            EXPECT_EQ(LineValue(b.Out.ExtOptions, "b"), "0");
            EXPECT_EQ(b.Out.VideoBitrate, -1);
            EXPECT_EQ(LineValue(b.Out.ExtOptions, "keep_hdr"), "1");
            EXPECT_EQ(LineValue(b.Out.ExtOptions, "pix_fmt"), "");
        }
        // The bit rate instead of a step: the user's rate, no quality value.
        SetUser(code, "paraQualityStep", "bitrate");
        SetUser(code, "paraVideoBitRate", "3000");
        const TBuilt b = BuildCode(code);
        EXPECT_EQ(LineValue(b.Out.ExtOptions, "crf"), "");
        EXPECT_EQ(b.Out.VideoBitrate, 3000000);
    }
}

// The slower choice picks another preset; the formats' fixed wishes stay.
TEST_F(ModernOptions, SpeedPicksThePresetAndFixedOptionsStay) {
    const TBuilt fast = BuildCode(kModernHevc);
    SetUser(kModernHevc, "paraSpeed", "slower");
    const TBuilt slower = BuildCode(kModernHevc);
    EXPECT_EQ(LineValue(fast.Out.ExtOptions, "preset"), "ultrafast");
    EXPECT_EQ(LineValue(slower.Out.ExtOptions, "preset"), "fast");
    EXPECT_EQ(LineValue(fast.Out.ExtOptions, "vtag"), "hvc1");
    EXPECT_EQ(fast.Out.VideoCodec, "libx265");
    const TBuilt vp9 = BuildCode(kModernVp9);
    EXPECT_EQ(vp9.Out.VideoCodec, "libvpx-vp9");
    EXPECT_EQ(vp9.Out.AudioCodec, "libopus");
    EXPECT_EQ(LineValue(vp9.Out.ExtOptions, "row-mt"), "1");
    EXPECT_EQ(LineValue(vp9.Out.ExtOptions, "deadline"), "realtime");
    EXPECT_EQ(LineValue(vp9.Out.ExtOptions, "cpu-used"), "6");
    SetUser(kModernVp9, "paraSpeed", "slower");
    const TBuilt vp9Slower = BuildCode(kModernVp9);
    EXPECT_EQ(LineValue(vp9Slower.Out.ExtOptions, "deadline"), "good");
    EXPECT_EQ(LineValue(vp9Slower.Out.ExtOptions, "cpu-used"), "4");
    EXPECT_EQ(BuildCode(kModernAv1).Out.VideoCodec, "libsvtav1");
    // The twenty never read the modern keys: a step written into a classic
    // format's section changes nothing.
    SetUser(103, "paraQualityStep", "small");
    EXPECT_EQ(LineValue(BuildCode(103).Out.ExtOptions, "crf"), "");
}

// The audio formats: their encoders and containers.
TEST_F(ModernOptions, AudioFormatsTakeTheirEncoders) {
    const std::pair<int, const char*> cases[] = {
        {kModernFlac, "flac"}, {kModernOpus, "libopus"}, {kModernAlac, "alac"}};
    for (const auto& [code, encoder] : cases) {
        const TBuilt b = BuildCode(code, {}, AudioSource(44100));
        EXPECT_EQ(b.Out.AudioCodec, encoder) << code;
        EXPECT_TRUE(b.Out.DisableVideo) << code;
    }
    EXPECT_EQ(BuildCode(kModernFlac, {}, AudioSource()).Out.ForceFormat, "flac");
}

// The copying format copies every stream; edits that need pictures or
// sound re-encoded are refused naming the row's file and the edits.
TEST_F(ModernOptions, CopyingFormatCopiesOrRefuses) {
    TlvFilesRecord row;
    row.SourceFile = "/films/holiday.mkv";
    const TBuilt b = BuildCode(kModernCopy, row);
    EXPECT_EQ(b.Out.VideoCodec, "copy");
    EXPECT_EQ(b.Out.AudioCodec, "copy");
    EXPECT_EQ(b.Out.SubtitleCodec, "copy");
    EXPECT_EQ(b.Out.ForceFormat, "matroska");
    EXPECT_EQ(LineValue(b.Out.ExtOptions, "copy_all_streams"), "1");
    EXPECT_EQ(Refusal(kModernCopy, row), "");

    row.CropTop = 8;
    EXPECT_EQ(Refusal(kModernCopy, row),
              "'/films/holiday.mkv' cannot be copied as it is (it has a crop): the format "
              "\"Matroska - keep streams, no re-encoding (*.mkv)\" copies the streams without "
              "re-encoding. Remove these edits or choose another format");
    row.CropTop = 0;
    row.Watermarks.emplace_back();
    row.Watermarks.back().Text = "Mine";
    EXPECT_NE(Refusal(kModernCopy, row).find("(it has watermarks)"), std::string::npos);
    row.Watermarks.clear();
    // A volume or a frame size put into the settings by hand is refused too.
    SetUser(kModernCopy, "paraVolume", "512");
    SetUser(kModernCopy, "paraVideoSize", "640x360");
    EXPECT_NE(Refusal(kModernCopy, row).find("(it has a frame size, a volume change)"),
              std::string::npos);
}

// An encoder missing from the libraries is named before the task starts;
// formats that do not need it still build.
TEST_F(ModernOptions, MissingEncoderIsNamed) {
    SetEncoderLookup([](const std::string& name) { return name != "libsvtav1"; });
    EXPECT_EQ(Refusal(kModernAv1),
              "The encoder libsvtav1 is not available in the loaded media libraries");
    EXPECT_EQ(Refusal(kModernHevc), "");
    SetEncoderLookup([](const std::string& name) { return name != "libopus"; });
    EXPECT_EQ(Refusal(kModernVp9),
              "The encoder libopus is not available in the loaded media libraries");
    EXPECT_EQ(MissingEncoderText({"", "copy", "libopus"}),
              "The encoder libopus is not available in the loaded media libraries");
}
