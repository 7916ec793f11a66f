// The keys of a format's sections "formatInfo" + code: the preset in the
// format file and the user's parameters in the settings file. Each key is
// declared here once, with its file, the type and range of its value, the
// default a reader gets when it is missing and who reads it. The writers
// (the built-in format file and its repair at start, the format settings
// dialog) and the readers (the option builder, the dialog, the list) name
// keys only through these rows.
//
// A new key is one row below and its entry in FormatKeys() (FormatKeys.cpp;
// the writers' test fails for a written key that is missing there).
#pragma once

#include <cstdint>
#include <span>
#include <string>

class TIniFile;

// The file whose "formatInfo" + code section holds the key.
enum class TKeyFile : uint8_t { Format, Settings };

enum class TKeyType : uint8_t {
    Text,       // any text
    ChoiceList, // the dialog's items, separated by ","; "null" when the format has no such option
    Index,      // 0-based item of the matching list, -1 for a typed value
    Integer,    // decimal integer within Min..Max
    Decimal,    // decimal number ("." as point) within Min..Max
    FrameSize,  // width "x" height, each within Min..Max
    Word,       // one of the ","-separated Words
};

// Who reads a key: a set of these bits; 0 for a key that is only written.
enum TKeyReader : uint8_t {
    kReadByBuilder = 1, // the option builder (its range test included)
    kReadByDialog = 2,  // the format settings dialog
    kReadByList = 4,    // adding rows to the conversion list
};

// The default of a key whose absence means "none chosen": the reader
// decides what then happens (the builder asks for a frame size, say).
inline constexpr char kNoValue[] = "null";

struct TFormatKey {
    const char* Name;
    TKeyFile File;
    TKeyType Type;
    // What a reader gets for a missing key. The dialog shows DialogDefault
    // instead where it has one.
    const char* Default;
    uint8_t Readers;
    double Min = 0, Max = 0; // Integer, Decimal, FrameSize
    bool AsSource = false;   // "as source" is a value too
    const char* Words = "";  // Word
    const char* DialogDefault = nullptr;
    bool NeedsItems = false; // ChoiceList: an empty list offers no items, like "null"

    const char* DialogValue() const { return DialogDefault ? DialogDefault : Default; }
};

// Row makers, one per kind of value.
constexpr TFormatKey TextKey(const char* name, TKeyFile file, const char* def, uint8_t readers) {
    return {name, file, TKeyType::Text, def, readers};
}
constexpr TFormatKey ListKey(const char* name, uint8_t readers, bool needsItems) {
    TFormatKey key{name, TKeyFile::Format, TKeyType::ChoiceList, kNoValue, readers};
    key.NeedsItems = needsItems;
    return key;
}
constexpr TFormatKey IndexKey(const char* name, TKeyFile file) {
    return {name, file, TKeyType::Index, "0", kReadByDialog, -1, 9999};
}
// `asSource`: "as source" is a value too. `dialogDefault`: what the dialog
// shows for a missing key, when that differs from `def`.
constexpr TFormatKey NumberKey(const char* name, TKeyFile file, TKeyType type, const char* def,
                               uint8_t readers, double min, double max, bool asSource = false,
                               const char* dialogDefault = nullptr) {
    return {name, file, type, def, readers, min, max, asSource, "", dialogDefault};
}
constexpr TFormatKey WordKey(const char* name, TKeyFile file, const char* def, uint8_t readers,
                             const char* words, bool asSource = false,
                             const char* dialogDefault = nullptr) {
    return {name, file, TKeyType::Word, def, readers, 0, 0, asSource, words, dialogDefault};
}

inline constexpr TKeyFile kFormatFile = TKeyFile::Format;
inline constexpr TKeyFile kSettingsFile = TKeyFile::Settings;
inline constexpr TKeyType kInteger = TKeyType::Integer;
inline constexpr TKeyType kDecimal = TKeyType::Decimal;
inline constexpr uint8_t kNotRead = 0;
inline constexpr bool kAsSourceToo = true;
inline constexpr double kMaxInt32 = 2147483647.0;

// ---- Format file: the preset ------------------------------------------------

inline constexpr TFormatKey kPresetFormat =
    TextKey("Format", kFormatFile, kNoValue, kReadByBuilder);
inline constexpr TFormatKey kPresetFileExt = TextKey("FileExt", kFormatFile, "mp4", kReadByList);

// Choice lists; the builder's range test reads the three rate lists.
inline constexpr TFormatKey kListVideoSize = ListKey("VideoSize", kReadByDialog, false);
inline constexpr TFormatKey kListVideoBitRate =
    ListKey("VideoBitRate", kReadByDialog | kReadByBuilder, false);
inline constexpr TFormatKey kListFrameRate = ListKey("FrameRate", kReadByDialog, false);
inline constexpr TFormatKey kListVideoEncoder = ListKey("VideoEncoder", kReadByDialog, true);
inline constexpr TFormatKey kListAudioBitRate =
    ListKey("AudioBitRate", kReadByDialog | kReadByBuilder, true);
inline constexpr TFormatKey kListSampleRate =
    ListKey("SampleRate", kReadByDialog | kReadByBuilder, true);
inline constexpr TFormatKey kListAudioEncoder = ListKey("AudioEncoder", kReadByDialog, true);
inline constexpr TFormatKey kListChannel = ListKey("Channel", kReadByDialog, true);
inline constexpr TFormatKey kListVolume = ListKey("Volume", kReadByDialog, true);

// The item of each list (0-based, -1 for a typed value), under the same
// names in both files: the preset's, for the dialog's Default button, and
// the user's.
struct TIndexKeys {
    TFormatKey VideoSize, VideoBitRate, FrameRate, VideoEncoder, SampleRate, AudioBitRate, Channel,
        Volume, AudioEncoder;
};

constexpr TIndexKeys IndexKeys(TKeyFile file) {
    return {IndexKey("iVideoSize", file),   IndexKey("iVideoBitRate", file),
            IndexKey("iFrameRate", file),   IndexKey("iVideoEncoder", file),
            IndexKey("iSampleRate", file),  IndexKey("iAudioBitRate", file),
            IndexKey("iChannel", file),     IndexKey("iVolume", file),
            IndexKey("iAudioEncoder", file)};
}

inline constexpr TIndexKeys kPresetIndex = IndexKeys(kFormatFile);

// The preset's own rates, used when the user's "as source" does not fit the
// list's range (kbit/s for the bit rates, Hz for the sample rate).
inline constexpr TFormatKey kPresetSampleRate = NumberKey(
    "paraSampleRate", kFormatFile, kInteger, "44100", kReadByBuilder, 1, 768000, kAsSourceToo);
inline constexpr TFormatKey kPresetAudioBitRate = NumberKey(
    "paraAudioBitRate", kFormatFile, kDecimal, "128", kReadByBuilder, 1, 100000, kAsSourceToo);
inline constexpr TFormatKey kPresetVideoBitRate = NumberKey(
    "paraVideoBitRate", kFormatFile, kInteger, "256", kReadByBuilder, 1, 1000000, kAsSourceToo);

// H.264 extras, under the same names and ranges in both files. The
// preset's are read by the dialog, which copies them into the settings file
// when its OK confirms the H.264 encoder: "paraBitExact" when "true", the
// counts when above 0, "paraCoder" when 0 or more (the defaults are never
// copied). Nothing reads the user's copies yet.
struct TH264ExtraKeys {
    TFormatKey BitExact, MaxBitrate, BufferSize, Level, Qscale, Gop, Coder;
};

constexpr TFormatKey H264CountKey(const char* name, TKeyFile file, uint8_t readers) {
    return NumberKey(name, file, kInteger, "0", readers, 0, kMaxInt32);
}
constexpr TH264ExtraKeys H264ExtraKeys(TKeyFile file, uint8_t readers) {
    return {WordKey("paraBitExact", file, "", readers, "true,false"),
            H264CountKey("paraMaxBitrate", file, readers),
            H264CountKey("paraBufferSize", file, readers),
            H264CountKey("paraLevel", file, readers),
            H264CountKey("paraQscale", file, readers),
            H264CountKey("paraGop", file, readers),
            NumberKey("paraCoder", file, kInteger, "-1", readers, -1, 1)};
}

inline constexpr TH264ExtraKeys kPresetH264 = H264ExtraKeys(kFormatFile, kReadByDialog);

// ---- Settings file: the user's parameters -----------------------------------

inline constexpr TFormatKey kUserDescription = TextKey("Description", kSettingsFile, "", kNotRead);

inline constexpr TIndexKeys kUserIndex = IndexKeys(kSettingsFile);

// The user's values, in converter terms. A missing frame size makes the
// builder ask for one.
inline constexpr TFormatKey kUserVideoSize =
    NumberKey("paraVideoSize", kSettingsFile, TKeyType::FrameSize, kNoValue,
              kReadByBuilder | kReadByDialog, 2, 16384, kAsSourceToo, "320x240");
inline constexpr TFormatKey kUserVideoBitRate =
    NumberKey("paraVideoBitRate", kSettingsFile, kInteger, "512", kReadByBuilder | kReadByDialog, 1,
              1000000, kAsSourceToo, "800");
inline constexpr TFormatKey kUserFrameRate =
    NumberKey("paraFrameRate", kSettingsFile, kDecimal, "29.97", kReadByBuilder | kReadByDialog,
              0.001, 1000, kAsSourceToo, "25");
// Written as "paraZoom"; keys compare ignoring case, so "parazoom" is the same key.
inline constexpr TFormatKey kUserZoom =
    WordKey("paraZoom", kSettingsFile, "lbox", kReadByBuilder | kReadByDialog | kReadByList,
            "full,lbox,pan,center", false, "full");
// Empty for an audio format.
inline constexpr TFormatKey kUserVideoEncoder =
    TextKey("paraVideoEncoder", kSettingsFile, "", kReadByBuilder);
inline constexpr TFormatKey kUserSampleRate =
    NumberKey("paraSampleRate", kSettingsFile, kInteger, "44100", kReadByBuilder | kReadByDialog, 1,
              768000, kAsSourceToo);
inline constexpr TFormatKey kUserAudioBitRate =
    NumberKey("paraAudioBitRate", kSettingsFile, kDecimal, "128", kReadByBuilder | kReadByDialog, 1,
              100000, kAsSourceToo, "96");
inline constexpr TFormatKey kUserChannel =
    WordKey("paraChannel", kSettingsFile, "2", kReadByBuilder, "1,2", kAsSourceToo);
// 256 is the unchanged volume.
inline constexpr TFormatKey kUserVolume =
    NumberKey("paraVolume", kSettingsFile, kInteger, "256", kReadByBuilder, 1, 4096);
inline constexpr TFormatKey kUserAudioEncoder =
    TextKey("paraAudioEncoder", kSettingsFile, "", kReadByBuilder);
// The integrated loudness (LUFS) every file of the format is brought to;
// 0: off, the files keep their loudness. The twenty formats never read it.
inline constexpr TFormatKey kUserLoudnessTarget =
    NumberKey("paraLoudnessTarget", kSettingsFile, kInteger, "0", kReadByDialog, -70, 0);
// The size (MB of 1,000,000 bytes) every file of a video format is encoded
// to fit; 0: off, the format's own bit rate. The twenty formats never read it.
inline constexpr TFormatKey kUserTargetSize =
    NumberKey("paraTargetSize", kSettingsFile, kDecimal, "0", kReadByDialog, 0, 1000000);

// The user's copies of the preset's H.264 extras.
inline constexpr TH264ExtraKeys kUserH264 = H264ExtraKeys(kSettingsFile, kNotRead);

// ---- Settings file: the modern formats' own keys -----------------------------

// Only the modern video formats read these; the twenty never do, so a
// settings file written before them keeps its meaning. The quality step is
// a constant-quality setting of the encoder, or "bitrate" for the user's
// video bit rate; the speed picks the encoder's preset.
inline constexpr TFormatKey kUserQualityStep =
    WordKey("paraQualityStep", kSettingsFile, "high", kReadByBuilder | kReadByDialog,
            "veryhigh,high,medium,small,bitrate");
inline constexpr TFormatKey kUserSpeed =
    WordKey("paraSpeed", kSettingsFile, "fast", kReadByBuilder | kReadByDialog, "fast,slower");

// ---- Groups -----------------------------------------------------------------

// The keys of one choice of the dialog: its list and the preset's item in
// the format file, the user's item and value in the settings file.
struct TChoiceKeys {
    const TFormatKey& List;
    const TFormatKey& PresetIndex;
    const TFormatKey& UserIndex;
    const TFormatKey& UserValue;
};

inline constexpr TChoiceKeys kVideoSizeKeys{kListVideoSize, kPresetIndex.VideoSize,
                                            kUserIndex.VideoSize, kUserVideoSize};
inline constexpr TChoiceKeys kVideoBitRateKeys{kListVideoBitRate, kPresetIndex.VideoBitRate,
                                               kUserIndex.VideoBitRate, kUserVideoBitRate};
inline constexpr TChoiceKeys kFrameRateKeys{kListFrameRate, kPresetIndex.FrameRate,
                                            kUserIndex.FrameRate, kUserFrameRate};
inline constexpr TChoiceKeys kVideoEncoderKeys{kListVideoEncoder, kPresetIndex.VideoEncoder,
                                               kUserIndex.VideoEncoder, kUserVideoEncoder};
inline constexpr TChoiceKeys kSampleRateKeys{kListSampleRate, kPresetIndex.SampleRate,
                                             kUserIndex.SampleRate, kUserSampleRate};
inline constexpr TChoiceKeys kAudioBitRateKeys{kListAudioBitRate, kPresetIndex.AudioBitRate,
                                               kUserIndex.AudioBitRate, kUserAudioBitRate};
inline constexpr TChoiceKeys kChannelKeys{kListChannel, kPresetIndex.Channel, kUserIndex.Channel,
                                          kUserChannel};
inline constexpr TChoiceKeys kVolumeKeys{kListVolume, kPresetIndex.Volume, kUserIndex.Volume,
                                         kUserVolume};
inline constexpr TChoiceKeys kAudioEncoderKeys{kListAudioEncoder, kPresetIndex.AudioEncoder,
                                               kUserIndex.AudioEncoder, kUserAudioEncoder};

// The H.264 extras: the preset's key and the user's copy, in copying order.
struct TCopiedKey {
    const TFormatKey& Preset;
    const TFormatKey& User;
};

// ---- The table --------------------------------------------------------------

// Every key of both sections.
std::span<const TFormatKey* const> FormatKeys();

// The counts among the H.264 extras, copied when above 0.
std::span<const TCopiedKey> H264CountKeys();

// The row of a key of the file (names compare ignoring case, as the files
// do); null for a key outside the table.
const TFormatKey* FindFormatKey(TKeyFile file, const std::string& name);

// Whether the text is a value the key's type and range allow.
bool FormatKeyValueAllowed(const TFormatKey& key, const std::string& value);

// The key's value in the section of the file, its Default when missing.
std::string ReadFormatKey(const TIniFile& ini, const std::string& section, const TFormatKey& key);
// The same as an integer: the Default for a missing or non-integer value.
int ReadFormatKeyInteger(const TIniFile& ini, const std::string& section, const TFormatKey& key);
