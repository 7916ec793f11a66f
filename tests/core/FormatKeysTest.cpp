#include "core/FormatKeys.h"

#include "AppCoreTestEnv.h"
#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "core/FormatParameters.h"

#include <gtest/gtest.h>

#include <set>

using appcoretest::TAppCoreTest;

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Each written key is a row of its file, and a non-empty value is one the
// row allows.
void ExpectDeclared(TKeyFile file, const TIniFile::TKeyValues& values, const std::string& where) {
    for (const auto& [name, value] : values) {
        const TFormatKey* key = FindFormatKey(file, name);
        ASSERT_NE(key, nullptr) << where << ": " << name << " is not in the table";
        if (!value.empty()) {
            EXPECT_TRUE(FormatKeyValueAllowed(*key, value))
                << where << ": " << name << "=" << value;
        }
    }
}

// The dialog's OK with every box showing the preset's own item.
TFormatChoices PresetChoices(const TIniFile& formats, const std::string& section) {
    const auto item = [&](const TChoiceKeys& keys, int& index) {
        index = ReadFormatKeyInteger(formats, section, keys.PresetIndex);
        const std::string list = ReadFormatKey(formats, section, keys.List);
        if (!FormatListPresent(keys.List.Name, list)) return std::string();
        const auto items = SplitFormatList(list);
        return index >= 0 && index < static_cast<int>(items.size()) ? items[index] : "";
    };
    TFormatChoices c;
    c.Description = "preset";
    c.VideoSize = item(kVideoSizeKeys, c.iVideoSize);
    c.VideoBitRate = item(kVideoBitRateKeys, c.iVideoBitRate);
    c.FrameRate = item(kFrameRateKeys, c.iFrameRate);
    c.VideoEncoder = item(kVideoEncoderKeys, c.iVideoEncoder);
    c.SampleRate = item(kSampleRateKeys, c.iSampleRate);
    c.AudioBitRate = item(kAudioBitRateKeys, c.iAudioBitRate);
    c.Channel = item(kChannelKeys, c.iChannel);
    c.Volume = item(kVolumeKeys, c.iVolume);
    c.AudioEncoder = item(kAudioEncoderKeys, c.iAudioEncoder);
    c.Zoom = 1;
    return c;
}

std::set<std::string> KeyNames(const TIniFile::TKeyValues& values) {
    std::set<std::string> names;
    for (const auto& entry : values)
        names.insert(Lower(entry.first));
    return names;
}

} // namespace

TEST(FormatKeysTable, NamesAreUniqueWithinAFileAndDefaultsLieInTheirRanges) {
    std::set<std::pair<TKeyFile, std::string>> seen;
    for (const TFormatKey* key : FormatKeys()) {
        EXPECT_TRUE(seen.insert({key->File, Lower(key->Name)}).second) << key->Name << " twice";
        EXPECT_EQ(FindFormatKey(key->File, Lower(key->Name)), key) << key->Name;
        const std::string def = key->Default;
        // An empty default or "null" stands for "none chosen".
        if (!def.empty() && def != kNoValue) {
            EXPECT_TRUE(FormatKeyValueAllowed(*key, def)) << key->Name << " default " << def;
        }
        if (key->DialogDefault) {
            EXPECT_TRUE(FormatKeyValueAllowed(*key, key->DialogDefault))
                << key->Name << " dialog default " << key->DialogDefault;
        }
    }
    EXPECT_EQ(FindFormatKey(TKeyFile::Format, "paraVolume"), nullptr);
    EXPECT_EQ(FindFormatKey(TKeyFile::Settings, "parazoom"), &kUserZoom);
}

TEST(FormatKeysTable, RangesRefuseWhatTheReadersWouldRefuse) {
    EXPECT_TRUE(FormatKeyValueAllowed(kUserVideoSize, "as source"));
    EXPECT_TRUE(FormatKeyValueAllowed(kUserVideoSize, "640x480"));
    EXPECT_FALSE(FormatKeyValueAllowed(kUserVideoSize, "640x"));
    EXPECT_FALSE(FormatKeyValueAllowed(kUserVideoSize, "0x480"));
    EXPECT_TRUE(FormatKeyValueAllowed(kUserAudioBitRate, "1411.2"));
    EXPECT_FALSE(FormatKeyValueAllowed(kUserVideoBitRate, "1200.5"));
    EXPECT_FALSE(FormatKeyValueAllowed(kUserVolume, "as source"));
    EXPECT_FALSE(FormatKeyValueAllowed(kUserVolume, "0"));
    EXPECT_TRUE(FormatKeyValueAllowed(kUserChannel, "as source"));
    EXPECT_FALSE(FormatKeyValueAllowed(kUserChannel, "6"));
    EXPECT_FALSE(FormatKeyValueAllowed(kUserZoom, "lbox,pan"));
    EXPECT_TRUE(FormatKeyValueAllowed(kPresetH264.Coder, "-1"));
    // Every zoom the dialog can write is a word of the key.
    for (int zoom = 0; !ZoomValue(zoom).empty(); ++zoom)
        EXPECT_TRUE(FormatKeyValueAllowed(kUserZoom, ZoomValue(zoom))) << ZoomValue(zoom);
}

// The built-in files, the repair at start and the dialog's OK write only
// keys of the table, with values in range; the keys the builder reads are
// all written by the dialog for a video format with the H.264 encoder.
TEST_F(TAppCoreTest, WritersUseOnlyTheTableAndWriteWhatTheBuilderReads) {
    ASSERT_EQ(EnsureDefaultFormatFiles(Global), "");
    const TIniFile formats = Global.Formats();
    for (int code : FormatCodes()) {
        const std::string section = FormatSectionName(code);
        ExpectDeclared(TKeyFile::Format, BuiltInFormatSection(code),
                       section + " of the format file");
        ExpectDeclared(TKeyFile::Settings, BuiltInSettingsSection(code), section + " of settings");
        TIniFile::TKeyValues values;
        std::string error;
        ASSERT_TRUE(
            ComposeFormatSection(PresetChoices(formats, section), formats, section, values, error))
            << section << ": " << error;
        ExpectDeclared(TKeyFile::Settings, values, section + " as the dialog writes it");
    }
    TIniFile::TKeyValues h264;
    std::string error;
    ASSERT_TRUE(ComposeFormatSection(PresetChoices(formats, FormatSectionName(103)), formats,
                                     FormatSectionName(103), h264, error));
    std::set<std::string> written = KeyNames(h264);
    // The modern formats' own keys come with their built-in sections (and
    // the dialog's block of its own for them).
    const std::set<std::string> modern = KeyNames(BuiltInSettingsSection(300));
    for (const TFormatKey* key : {&kUserQualityStep, &kUserSpeed}) {
        EXPECT_TRUE(modern.count(Lower(key->Name))) << key->Name;
        EXPECT_FALSE(written.count(Lower(key->Name))) << key->Name << " written for H.264";
        written.insert(Lower(key->Name));
    }
    for (const TFormatKey* key : FormatKeys())
        if (key->File == TKeyFile::Settings && (key->Readers & kReadByBuilder)) {
            EXPECT_TRUE(written.count(Lower(key->Name))) << key->Name << " is never written";
        }
}
