#include "core/DefaultFormats.h"

#include "AppCoreTestEnv.h"
#include "support/TestSupport.h"
#include "core/FormatCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using appcoretest::TAppCoreTest;

namespace {

std::string ValueOf(const TIniFile::TKeyValues& values, const std::string& key) {
    for (const auto& [k, v] : values)
        if (k == key) return v;
    return "<missing>";
}

bool IsVideoCode(int code) {
    return code < 200 || (code >= 300 && code <= 303);
}

// Numbers of a preset's own value and of its list; "as source" stands for
// none (the modern formats start from the source's values).
bool IsNumberItem(const std::string& item) {
    return item != "as source";
}

// Items the settings dialog translates; a list item outside these would
// never reach the converter.
const std::set<std::string> kVideoEncoderItems = {
    "mpeg-4", "3gp",   "3g2",      "xvid",      "mov",       "wmv1",    "wmv2",       "wmv3",
    "flv",    "swf",   "msmpeg4",  "msmpeg4v1", "msmpeg4v2", "h264",    "mpeg1video", "mpeg2video",
    "h263",   "h263p", "rawvideo", "rv10",      "rv20",      "dvvideo", "huffyuv",    "ljpeg",
    "mjpeg",  "svq1",  "zlib",     "hevc",      "av1",       "vp9",     "copy"};
const std::set<std::string> kAudioEncoderItems = {"mp3",
                                                  "ogg",
                                                  "mp2",
                                                  "aac",
                                                  "ac-3",
                                                  "flac",
                                                  "alac",
                                                  "libamr_nb",
                                                  "adpcm_swf",
                                                  "adpcm_yamaha",
                                                  "pcm-8bit",
                                                  "pcm-16bit",
                                                  "pcm-24bit",
                                                  "pcm-32bit",
                                                  "pcm-32bit float",
                                                  "pcm-64bit float",
                                                  "ccitt a-law(8-bit)",
                                                  "ccitt mu-law(8-bit)",
                                                  "ima adpcm(4-bit)",
                                                  "gsm",
                                                  "pcm_s16",
                                                  "pcm_u16",
                                                  "pcm_alaw",
                                                  "pcm_mulaw ",
                                                  "adpcm_ms",
                                                  "adpcm_ima_wav",
                                                  "wma1",
                                                  "wma2",
                                                  "opus",
                                                  "copy"};
const std::set<std::string> kChannelItems = {"as source", "mono 1 channel", "stereo 2 channels"};

using DefaultFormatFilesTest = TAppCoreTest;

TEST_F(DefaultFormatFilesTest, WrittenAtFirstStart) {
    EnsureDefaultFormatFiles(Global);
    EXPECT_EQ(testsupport::ReadFileText(Global.FormatFile()), BuiltInFormatFileText());
    const TIniFile settings = Global.Settings();
    for (int code : FormatCodes()) {
        const std::string section = FormatSectionName(code);
        for (const auto& [key, value] : BuiltInSettingsSection(code))
            EXPECT_EQ(settings.ReadString(section, key, "<missing>"), value)
                << section << " " << key;
    }
}

TEST_F(DefaultFormatFilesTest, ExistingFilesSectionsAndKeysAreNeverOverwritten) {
    TIniFile settings = Global.Settings();
    ASSERT_TRUE(settings.WriteString("settings", "FormatCode", "204"));
    ASSERT_TRUE(settings.WriteString("formatInfo0", "paraVolume", "128"));
    const std::string myFormats = "[formatInfo0]\nFormat=mine\n";
    std::ofstream(Global.FormatFile()) << myFormats;

    EXPECT_EQ(EnsureDefaultFormatFiles(Global), "");
    const std::string repaired = testsupport::ReadFileText(Global.FormatFile());
    EXPECT_EQ(EnsureDefaultFormatFiles(Global), "");

    EXPECT_EQ(testsupport::ReadFileText(Global.FormatFile()), repaired)
        << "a complete file is left as it is";
    EXPECT_EQ(repaired.rfind(myFormats, 0), 0u) << "the user's lines come first, unchanged";
    EXPECT_EQ(Global.Formats().ReadString("formatInfo0", "Format", ""), "mine");
    EXPECT_EQ(settings.ReadString("settings", "FormatCode", ""), "204");
    EXPECT_EQ(settings.ReadString("formatInfo0", "paraVolume", ""), "128");
    EXPECT_EQ(settings.ReadSectionKeys("formatInfo0"), std::vector<std::string>{"paraVolume"})
        << "an existing section gets no keys added";
    EXPECT_EQ(settings.ReadString("formatInfo1", "paraVideoEncoder", ""), "libx264");
}

TEST_F(DefaultFormatFilesTest, RemovedSectionComesBackAtTheNextStart) {
    EnsureDefaultFormatFiles(Global);
    TIniFile settings = Global.Settings();
    ASSERT_TRUE(settings.WriteString("formatInfo204", "paraSampleRate", "22050"));
    std::string text = testsupport::ReadFileText(Global.SettingsFile());
    const auto start = text.find("[formatInfo205]");
    const auto end = text.find("[formatInfo206]");
    ASSERT_NE(start, std::string::npos);
    text.erase(start, end - start);
    std::ofstream(Global.SettingsFile()) << text;
    ASSERT_FALSE(settings.SectionExists("formatInfo205"));

    EnsureDefaultFormatFiles(Global);
    EXPECT_EQ(settings.ReadString("formatInfo205", "paraAudioEncoder", ""), "libvorbis");
    EXPECT_EQ(settings.ReadString("formatInfo204", "paraSampleRate", ""), "22050");
}

TEST_F(DefaultFormatFilesTest, UnreadableSettingsFileIsLeftAlone) {
    fs::create_directories(Global.SettingsFile());
    const std::string problem = EnsureDefaultFormatFiles(Global);
    EXPECT_NE(problem.find(Global.SettingsFile() + "': Is a directory"), std::string::npos)
        << problem;
    EXPECT_TRUE(fs::is_directory(Global.SettingsFile()));
    EXPECT_TRUE(fs::is_regular_file(Global.FormatFile()));
}

// Every built-in key of every section reads back from the format file,
// unless the user's file has its own value.
void ExpectCompleteFormatFile(const TGlobalObject& g) {
    const TIniFile formats = g.Formats();
    for (int code : FormatCodes())
        for (const auto& [key, value] : BuiltInFormatSection(code))
            EXPECT_TRUE(formats.ValueExists(FormatSectionName(code), key))
                << FormatSectionName(code) << " " << key;
}

TEST_F(DefaultFormatFilesTest, BrokenFormatFileIsRestoredFromTheBuiltInCopy) {
    fs::create_directories(fs::path(Global.FormatFile()).parent_path());
    for (const std::string& broken : {std::string(),
                                      std::string("\x7f"
                                                  "ELF\x01\x01\0\0garbage ==\n[[[\n\xff\xfe",
                                                  17),
                                      std::string("just some words\nno sections = here\n")}) {
        SCOPED_TRACE(testing::PrintToString(broken));
        std::ofstream(Global.FormatFile(), std::ios::binary) << broken;
        EXPECT_EQ(EnsureDefaultFormatFiles(Global), "");
        ExpectCompleteFormatFile(Global);
        EXPECT_EQ(Global.Formats().ReadString("formatInfo200", "FileExt", ""), "mp3");
        EXPECT_EQ(Global.Formats().ReadString("formatInfo101", "Format", ""), "vob");
        EXPECT_EQ(testsupport::ReadFileText(Global.FormatFile()).rfind(broken, 0), 0u)
            << "garbage stays";
    }
}

TEST_F(DefaultFormatFilesTest, MissingSectionsAndKeysComeBackUsersKeysStay) {
    std::string text = BuiltInFormatFileText();
    const auto start = text.find("[formatInfo200]");
    text.erase(start, text.find("[formatInfo201]") - start);
    const auto ext = text.find("FileExt=mpg");
    ASSERT_NE(ext, std::string::npos);
    text.erase(ext, std::string("FileExt=mpg\n").size());
    fs::create_directories(fs::path(Global.FormatFile()).parent_path());
    std::ofstream(Global.FormatFile()) << text << "[formatInfo102]\nMyKey=mine\n";
    ASSERT_TRUE(Global.Formats().WriteString("formatInfo0", "Format", "mp4"));

    EXPECT_EQ(EnsureDefaultFormatFiles(Global), "");
    ExpectCompleteFormatFile(Global);
    const TIniFile formats = Global.Formats();
    EXPECT_EQ(formats.ReadString("formatInfo200", "Format", ""), "mp3");
    EXPECT_EQ(formats.ReadString("formatInfo100", "FileExt", ""), "mpg");
    EXPECT_EQ(formats.ReadString("formatInfo0", "Format", ""), "mp4");
    EXPECT_EQ(formats.ReadString("formatInfo102", "MyKey", ""), "mine");
}

TEST_F(DefaultFormatFilesTest, FormatFileThatIsAFolderIsReported) {
    fs::create_directories(Global.FormatFile());
    const std::string problem = EnsureDefaultFormatFiles(Global);
    EXPECT_NE(problem.find(Global.FormatFile() + "': Is a directory"), std::string::npos)
        << problem;
    EXPECT_TRUE(fs::is_directory(Global.FormatFile()));
    // The extension still comes from the built-in copy.
    EXPECT_EQ(FormatFileExt(Global, 101), "mpg");
    EXPECT_EQ(FormatFileExt(Global, 200), "mp3");
}

TEST_F(DefaultFormatFilesTest, FileExtensionFallsBackToTheBuiltInCopy) {
    fs::create_directories(fs::path(Global.FormatFile()).parent_path());
    std::ofstream(Global.FormatFile())
        << "[formatInfo206]\nFileExt=\n[formatInfo204]\nFileExt=wave\n";
    EXPECT_EQ(FormatFileExt(Global, 206), "ac3");
    EXPECT_EQ(FormatFileExt(Global, 204), "wave");
    EXPECT_EQ(FormatFileExt(Global, 200), "mp3");
    EXPECT_EQ(FormatFileExt(Global, 150), "mp4");
}

TEST_F(DefaultFormatFilesTest, FormatFileReadsBackAsBuilt) {
    EnsureDefaultFormatFiles(Global);
    const TIniFile formats = Global.Formats();
    for (int code : FormatCodes())
        for (const auto& [key, value] : BuiltInFormatSection(code))
            EXPECT_EQ(formats.ReadString(FormatSectionName(code), key, "<missing>"), value)
                << code << " " << key;
}

class PresetTest : public ::testing::TestWithParam<int> {
protected:
    int Code = GetParam();
    TIniFile::TKeyValues Preset = BuiltInFormatSection(Code);
    TIniFile::TKeyValues User = BuiltInSettingsSection(Code);

    // The item of the format list `list` that the index key points at.
    std::string IndexedItem(const TIniFile::TKeyValues& section, const std::string& list) {
        const std::vector<std::string> items = appcoretest::CommaItems(ValueOf(Preset, list));
        const int index = std::stoi(ValueOf(section, "i" + list));
        EXPECT_GE(index, 0) << list;
        EXPECT_LT(index, static_cast<int>(items.size())) << list;
        return (index >= 0 && index < static_cast<int>(items.size())) ? items[index] : "";
    }

    bool HasList(const std::string& list) { return ValueOf(Preset, list) != "null"; }
};

TEST_P(PresetTest, FileExtensionMatchesTheCaption) {
    const std::string caption = FormatCaptionOf(Code);
    EXPECT_EQ("(*." + ValueOf(Preset, "FileExt") + ")", caption.substr(caption.rfind('(')));
    EXPECT_EQ(ValueOf(User, "Description"), caption);
}

TEST_P(PresetTest, IndexesPointAtTheUsersValues) {
    for (const TIniFile::TKeyValues* section : {&Preset, &User}) {
        for (const auto& [list, para] : std::vector<std::pair<std::string, std::string>>{
                 {"VideoSize", "paraVideoSize"},
                 {"VideoBitRate", "paraVideoBitRate"},
                 {"FrameRate", "paraFrameRate"},
                 {"SampleRate", "paraSampleRate"},
                 {"AudioBitRate", "paraAudioBitRate"}}) {
            if (HasList(list)) {
                EXPECT_EQ(IndexedItem(*section, list), ValueOf(User, para)) << list;
            }
        }
        // The copying format changes no volume and no channels.
        if (HasList("Volume")) {
            EXPECT_EQ(IndexedItem(*section, "Volume"), "100%");
        }
        if (HasList("Channel")) {
            EXPECT_EQ(IndexedItem(*section, "Channel"), "stereo 2 channels");
        }
    }
    EXPECT_EQ(ValueOf(User, "paraVolume"), "256");
    EXPECT_EQ(ValueOf(User, "paraChannel"), "2");
}

TEST_P(PresetTest, PresetsOwnValuesLieInsideItsRanges) {
    for (const std::string list : {"SampleRate", "AudioBitRate", "VideoBitRate"}) {
        if (!IsVideoCode(Code) && list == "VideoBitRate") continue;
        EXPECT_EQ(ValueOf(Preset, "para" + list), ValueOf(User, "para" + list)) << list;
        if (!HasList(list)) continue;
        std::vector<std::string> items = appcoretest::CommaItems(ValueOf(Preset, list));
        if (items.front() == "as source") items.erase(items.begin());
        std::vector<double> numbers;
        for (const std::string& item : items)
            numbers.push_back(std::stod(item));
        EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << list;
        if (!IsNumberItem(ValueOf(Preset, "para" + list))) continue;
        const double own = std::stod(ValueOf(Preset, "para" + list));
        EXPECT_GE(own, numbers.front()) << list;
        EXPECT_LE(own, numbers.back()) << list;
    }
}

TEST_P(PresetTest, ListItemsAreInTheDialogsVocabulary) {
    for (const std::string& item : appcoretest::CommaItems(ValueOf(Preset, "AudioEncoder")))
        EXPECT_TRUE(kAudioEncoderItems.count(item)) << item;
    for (const std::string& item : appcoretest::CommaItems(ValueOf(Preset, "Channel")))
        EXPECT_TRUE(item == "null" || kChannelItems.count(item)) << item;
    for (const std::string& size : appcoretest::CommaItems(ValueOf(Preset, "VideoSize"))) {
        if (size == "null" || size == "as source") continue;
        const auto x = size.find('x');
        ASSERT_NE(x, std::string::npos) << size;
        EXPECT_EQ(std::stoi(size.substr(0, x)) % 2, 0) << size;
        EXPECT_EQ(std::stoi(size.substr(x + 1)) % 2, 0) << size;
    }
    if (!IsVideoCode(Code)) return;
    for (const std::string& item : appcoretest::CommaItems(ValueOf(Preset, "VideoEncoder")))
        EXPECT_TRUE(kVideoEncoderItems.count(item)) << item;
}

TEST_P(PresetTest, VideoFormatsCarryBothEncodersAudioFormatsNone) {
    if (IsVideoCode(Code)) {
        EXPECT_FALSE(ValueOf(User, "paraVideoEncoder").empty());
        EXPECT_TRUE(ValueOf(User, "paraZoom") == "lbox" || ValueOf(User, "paraZoom") == "full");
        const std::string size = ValueOf(User, "paraVideoSize");
        EXPECT_TRUE(size.find('x') != std::string::npos || (Code >= 300 && size == "as source"))
            << size;
    } else {
        EXPECT_EQ(ValueOf(User, "paraVideoEncoder"), "");
        EXPECT_EQ(ValueOf(Preset, "VideoEncoder"), "null");
    }
    EXPECT_FALSE(ValueOf(User, "paraAudioEncoder").empty());
}

INSTANTIATE_TEST_SUITE_P(AllFormats, PresetTest, ::testing::ValuesIn(FormatCodes()));

} // namespace
