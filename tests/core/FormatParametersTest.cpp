#include "core/FormatParameters.h"

#include "AppCoreTestEnv.h"
#include "support/TestSupport.h"
#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using appcoretest::TAppCoreTest;

namespace {

std::string Translated(bool (*translate)(const std::string&, std::string&),
                       const std::string& item) {
    std::string value = "<unchanged>";
    translate(item, value);
    return value;
}

std::string ValueOf(const TIniFile::TKeyValues& values, const std::string& key) {
    for (const auto& [k, v] : values)
        if (k == key) return v;
    return "<missing>";
}

std::vector<std::string> KeysOf(const TIniFile::TKeyValues& values) {
    std::vector<std::string> keys;
    for (const auto& [k, v] : values)
        keys.push_back(k);
    return keys;
}

// Choices as the dialog shows them for the general MPEG-4 preset.
TFormatChoices Mpeg4Choices() {
    TFormatChoices c;
    c.Description = "MPEG-4 Video (*.mp4)";
    c.iVideoSize = 5;
    c.iVideoBitRate = -1;
    c.iFrameRate = 5;
    c.iVideoEncoder = 0;
    c.iSampleRate = 6;
    c.iAudioEncoder = 0;
    c.iChannel = 2;
    c.iAudioBitRate = 3;
    c.iVolume = 3;
    c.VideoSize = "640x360";
    c.VideoBitRate = "900";
    c.FrameRate = "29.97";
    c.Zoom = 1;
    c.VideoEncoder = "mpeg-4";
    c.SampleRate = "44100";
    c.AudioBitRate = "128";
    c.Channel = "stereo 2 channels";
    c.Volume = "75%";
    c.AudioEncoder = "aac";
    return c;
}

} // namespace

TEST(FormatParameters, EncoderItemsTranslateIgnoringCaseAndChannelsExactly) {
    EXPECT_EQ(Translated(TranslateVideoEncoder, "mpeg-4"), "mpeg4");
    EXPECT_EQ(Translated(TranslateVideoEncoder, "XviD"), "libxvid");
    EXPECT_EQ(Translated(TranslateVideoEncoder, "H264"), "libx264");
    EXPECT_EQ(Translated(TranslateVideoEncoder, "wmv3"), "wmv3");
    EXPECT_EQ(Translated(TranslateVideoEncoder, "vp8"), "<unchanged>");
    EXPECT_EQ(Translated(TranslateVideoEncoder, "HEVC"), "libx265");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "opus"), "libopus");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "MP3"), "libmp3lame");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "aac"), "aac");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "ogg"), "libvorbis");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "gsm"), "libgsm");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "pcm-16bit"), "pcm_s16be");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "wma2"), "wmav2");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "libamr_nb"), "libopencore_amrnb");
    // The mu-law item of the table carries a trailing space.
    EXPECT_EQ(Translated(TranslateAudioEncoder, "pcm_mulaw "), "pcm_mulaw");
    EXPECT_EQ(Translated(TranslateAudioEncoder, "pcm_mulaw"), "<unchanged>");
    EXPECT_EQ(Translated(TranslateChannel, "mono 1 channel"), "1");
    EXPECT_EQ(Translated(TranslateChannel, "stereo 2 channels"), "2");
    EXPECT_EQ(Translated(TranslateChannel, "as source"), "as source");
    EXPECT_EQ(Translated(TranslateChannel, "Mono 1 channel"), "<unchanged>");
}

TEST(FormatParameters, VolumePercentagesBecomeConverterVolumes) {
    const std::pair<const char*, const char*> listed[] = {
        {"25%", "64"},   {"50%", "128"},  {"75%", "192"},  {"100%", "256"},
        {"125%", "320"}, {"150%", "384"}, {"175%", "448"}, {"200%", "512"},
        {"250%", "640"}, {"300%", "768"}, {"350%", "896"}, {"400%", "1024"}};
    for (const auto& [item, expected] : listed) {
        std::string value;
        EXPECT_EQ(TranslateVolume(item, value), TVolumeItem::Translated) << item;
        EXPECT_EQ(value, expected) << item;
    }
    std::string value = "kept";
    EXPECT_EQ(TranslateVolume("60%", value), TVolumeItem::NoMatch);
    EXPECT_EQ(TranslateVolume("0%", value), TVolumeItem::NoMatch);
    EXPECT_EQ(TranslateVolume("-25%", value), TVolumeItem::NoMatch);
    EXPECT_EQ(TranslateVolume("", value), TVolumeItem::NoMatch);
    EXPECT_EQ(TranslateVolume("loud%", value), TVolumeItem::NotANumber);
    EXPECT_EQ(TranslateVolume("%", value), TVolumeItem::NotANumber);
    EXPECT_EQ(value, "kept");
}

TEST(FormatParameters, ListsSplitAtEveryCommaAndNullOrEmptyListsAreAbsent) {
    EXPECT_EQ(SplitFormatList("a,b,c"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitFormatList("a,b,"), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(SplitFormatList("as source"), (std::vector<std::string>{"as source"}));
    EXPECT_FALSE(FormatListPresent("VideoSize", "null"));
    EXPECT_TRUE(FormatListPresent("VideoSize", ""));
    EXPECT_TRUE(FormatListPresent("FrameRate", ""));
    for (const char* key :
         {"VideoEncoder", "AudioBitRate", "SampleRate", "AudioEncoder", "Channel", "Volume"}) {
        EXPECT_FALSE(FormatListPresent(key, "")) << key;
        EXPECT_TRUE(FormatListPresent(key, "x")) << key;
    }
}

TEST(FormatParameters, FrameSizesAreCheckedAndCorrectedToEvenParts) {
    std::string corrected;
    EXPECT_EQ(CheckFrameSize("321x241", corrected), TFrameSizeCheck::Corrected);
    EXPECT_EQ(corrected, "320x240");
    EXPECT_EQ(CheckFrameSize("0x0", corrected), TFrameSizeCheck::Corrected);
    EXPECT_EQ(corrected, "2x2");
    EXPECT_EQ(CheckFrameSize("640x1", corrected), TFrameSizeCheck::Corrected);
    EXPECT_EQ(corrected, "640x2");
    EXPECT_EQ(CheckFrameSize("640x480", corrected), TFrameSizeCheck::Accepted);
    EXPECT_EQ(CheckFrameSize("As Source", corrected), TFrameSizeCheck::Accepted);
    EXPECT_EQ(CheckFrameSize("320", corrected), TFrameSizeCheck::Invalid);
    EXPECT_EQ(CheckFrameSize("", corrected), TFrameSizeCheck::Invalid);
    EXPECT_EQ(CheckFrameSize("320x", corrected), TFrameSizeCheck::Invalid);
    EXPECT_EQ(CheckFrameSize("ax240", corrected), TFrameSizeCheck::Invalid);
    // Split at the last "x": "32x24" is not an integer.
    EXPECT_EQ(CheckFrameSize("32x24x2", corrected), TFrameSizeCheck::Invalid);
    EXPECT_EQ(FrameSizeCorrectionText("320x240"),
              "Frame Size must be a multiple of 2.\nThe correct value:320x240");
}

TEST(FormatParameters, KeyFiltersAndNumberChecks) {
    EXPECT_TRUE(AcceptFrameSizeKey("", 'q'));
    EXPECT_TRUE(AcceptFrameSizeKey("32", '0'));
    EXPECT_TRUE(AcceptFrameSizeKey("320", 'x'));
    EXPECT_FALSE(AcceptFrameSizeKey("320x", 'x'));
    EXPECT_FALSE(AcceptFrameSizeKey("320", 'X'));
    EXPECT_FALSE(AcceptFrameSizeKey("320", ' '));
    EXPECT_TRUE(AcceptFrameSizeKey("320x", '\b'));
    EXPECT_TRUE(AcceptNumericKey('7'));
    EXPECT_TRUE(AcceptNumericKey('\b'));
    EXPECT_FALSE(AcceptNumericKey('a'));
    EXPECT_FALSE(AcceptNumericKey('.'));
    EXPECT_TRUE(IsIntegerText("800"));
    EXPECT_FALSE(IsIntegerText("80.5"));
    EXPECT_FALSE(IsIntegerText(""));
    EXPECT_TRUE(IsDecimalText("80.5"));
    EXPECT_TRUE(IsDecimalText("96"));
    EXPECT_FALSE(IsDecimalText("1.2.3"));
    EXPECT_FALSE(IsDecimalText("."));
    EXPECT_FALSE(IsDecimalText("9a"));
    EXPECT_TRUE(IsAsSourceText("AS SOURCE"));
    EXPECT_FALSE(IsAsSourceText("as source "));
}

TEST_F(TAppCoreTest, OkComposesTheKeysInWritingOrder) {
    EnsureDefaultFormatFiles(Global);
    TIniFile::TKeyValues values;
    std::string error;
    ASSERT_TRUE(ComposeFormatSection(Mpeg4Choices(), Global.Formats(), FormatSectionName(102),
                                     values, error));
    const std::vector<std::string> expected = {
        "Description",    "iVideoSize",       "iVideoBitRate", "iFrameRate",    "iVideoEncoder",
        "iSampleRate",    "iAudioEncoder",    "iChannel",      "iAudioBitRate", "iVolume",
        "paraVideoSize",  "paraVideoBitRate", "paraFrameRate", "paraZoom",      "paraVideoEncoder",
        "paraSampleRate", "paraAudioBitRate", "paraChannel",   "paraVolume",    "paraAudioEncoder"};
    EXPECT_EQ(KeysOf(values), expected);
    EXPECT_EQ(ValueOf(values, "iVideoBitRate"), "-1");
    EXPECT_EQ(ValueOf(values, "paraVideoBitRate"), "900");
    EXPECT_EQ(ValueOf(values, "paraZoom"), "lbox");
    EXPECT_EQ(ValueOf(values, "paraVideoEncoder"), "mpeg4");
    EXPECT_EQ(ValueOf(values, "paraChannel"), "2");
    EXPECT_EQ(ValueOf(values, "paraVolume"), "192");
    EXPECT_EQ(ValueOf(values, "paraAudioEncoder"), "aac");
}

TEST_F(TAppCoreTest, GsmFixesRateAndChannelsAndUnknownItemsKeepStoredValues) {
    TFormatChoices c = Mpeg4Choices();
    c.AudioEncoder = "GSM";
    c.SampleRate = "44100";
    c.Channel = "stereo 2 channels";
    c.VideoEncoder = "theora";
    c.Volume = "60%";
    c.Zoom = -1;
    TIniFile::TKeyValues values;
    std::string error;
    ASSERT_TRUE(ComposeFormatSection(c, Global.Formats(), FormatSectionName(102), values, error));
    EXPECT_EQ(ValueOf(values, "paraAudioEncoder"), "libgsm");
    EXPECT_EQ(ValueOf(values, "paraSampleRate"), "8000");
    EXPECT_EQ(ValueOf(values, "paraChannel"), "1");
    EXPECT_EQ(ValueOf(values, "paraVideoEncoder"), "<missing>");
    EXPECT_EQ(ValueOf(values, "paraVolume"), "<missing>");
    EXPECT_EQ(ValueOf(values, "paraZoom"), "<missing>");
    // The overwritten keys keep their places.
    const auto keys = KeysOf(values);
    EXPECT_LT(std::find(keys.begin(), keys.end(), "paraSampleRate"),
              std::find(keys.begin(), keys.end(), "paraAudioBitRate"));
}

TEST_F(TAppCoreTest, H264CopiesOnlyTheUsableExtrasOfThePreset) {
    TIniFile formats = Global.Formats();
    const std::string section = FormatSectionName(102);
    ASSERT_TRUE(formats.WriteSectionValues(section, {{"paraBitExact", "TRUE"},
                                                     {"paraMaxBitrate", "2500"},
                                                     {"paraLevel", "0"},
                                                     {"paraQscale", "-1"},
                                                     {"paraGop", "250"},
                                                     {"paraCoder", "0"}}));
    TFormatChoices c = Mpeg4Choices();
    c.VideoEncoder = "h264";
    TIniFile::TKeyValues values;
    std::string error;
    ASSERT_TRUE(ComposeFormatSection(c, formats, FormatSectionName(102), values, error));
    EXPECT_EQ(ValueOf(values, "paraVideoEncoder"), "libx264");
    EXPECT_EQ(ValueOf(values, "paraBitExact"), "TRUE");
    EXPECT_EQ(ValueOf(values, "paraMaxBitrate"), "2500");
    EXPECT_EQ(ValueOf(values, "paraGop"), "250");
    EXPECT_EQ(ValueOf(values, "paraCoder"), "0");
    EXPECT_EQ(ValueOf(values, "paraLevel"), "<missing>");
    EXPECT_EQ(ValueOf(values, "paraQscale"), "<missing>");
    EXPECT_EQ(ValueOf(values, "paraBufferSize"), "<missing>");

    ASSERT_TRUE(formats.WriteString(section, "paraBitExact", "false"));
    c.VideoEncoder = "mpeg-4";
    ASSERT_TRUE(ComposeFormatSection(c, formats, FormatSectionName(102), values, error));
    EXPECT_EQ(ValueOf(values, "paraGop"), "<missing>");
    c.VideoEncoder = "h264";
    ASSERT_TRUE(ComposeFormatSection(c, formats, FormatSectionName(102), values, error));
    EXPECT_EQ(ValueOf(values, "paraBitExact"), "<missing>");
}

TEST_F(TAppCoreTest, AVolumeThatIsNotAPercentageWritesNothing) {
    EnsureDefaultFormatFiles(Global);
    TIniFile settings = Global.Settings();
    const std::string before = testsupport::ReadFileText(settings.FileName());
    TFormatChoices c = Mpeg4Choices();
    c.Volume = "loud!";
    std::string error;
    EXPECT_FALSE(WriteFormatChoices(settings, Global.Formats(), FormatSectionName(102), c, error));
    EXPECT_NE(error.find("loud!"), std::string::npos) << error;
    EXPECT_EQ(testsupport::ReadFileText(settings.FileName()), before);

    c.Volume = "125%";
    ASSERT_TRUE(WriteFormatChoices(settings, Global.Formats(), FormatSectionName(102), c, error));
    EXPECT_EQ(settings.ReadString(FormatSectionName(102), "paraVolume", ""), "320");
    EXPECT_EQ(settings.ReadString(FormatSectionName(102), "paraVideoSize", ""), "640x360");
}

// Every encoder, channel and volume item the built-in presets offer has a
// row in its table: an item without one would silently keep the old value.
TEST(FormatParameters, EveryBuiltInItemTranslates) {
    for (int code : FormatCodes()) {
        std::map<std::string, std::string> lists;
        for (const auto& [key, value] : BuiltInFormatSection(code))
            lists[key] = value;
        const std::pair<const char*, bool (*)(const std::string&, std::string&)> tables[] = {
            {"VideoEncoder", TranslateVideoEncoder},
            {"AudioEncoder", TranslateAudioEncoder},
            {"Channel", TranslateChannel}};
        for (const auto& [key, translate] : tables) {
            if (!FormatListPresent(key, lists[key])) continue;
            for (const std::string& item : SplitFormatList(lists[key])) {
                std::string value;
                EXPECT_TRUE(translate(item, value)) << code << " " << key << " " << item;
            }
        }
        if (!FormatListPresent("Volume", lists["Volume"])) continue; // the copying format
        for (const std::string& item : SplitFormatList(lists["Volume"])) {
            std::string value;
            EXPECT_EQ(TranslateVolume(item, value), TVolumeItem::Translated) << code << item;
        }
    }
}
