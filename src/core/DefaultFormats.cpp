#include "core/DefaultFormats.h"

#include "core/FormatCatalogue.h"
#include "core/FormatKeys.h"
#include "core/ModernFormats.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>

namespace {

// A choice list of the settings dialog and the preset's item in it. A list
// "null" means the format has no such option; its item is then the value
// the preset uses.
struct TChoice {
    const char* List;
    const char* Item;
};

// Extra settings that the settings dialog copies when the user confirms the
// H.264 encoder.
struct TH264Extras {
    const char* MaxBitrate;
    const char* BufferSize;
    const char* Level;
    const char* Gop;
    const char* Coder;
};

struct TPreset {
    int Code;
    const char* Format;
    const char* FileExt;
    TChoice VideoSize, VideoBitRate, FrameRate, VideoEncoder;
    const char* VideoEncoderName; // converter name of VideoEncoder.Item
    TChoice SampleRate, AudioBitRate, AudioEncoder, Channel;
    const char* AudioEncoderName; // converter name of AudioEncoder.Item
    const TH264Extras* H264;
};

constexpr char kNull[] = "null";
constexpr TChoice kNoChoice = {kNull, ""};
constexpr TChoice kVolume = {"25%,50%,75%,100%,125%,150%,175%,200%,250%,300%,350%,400%", "100%"};
constexpr char kUnchangedVolume[] = "256";
constexpr char kStereo[] = "2";
constexpr char kZoom[] = "lbox";

// Channel lists; "as source" only where the encoder takes any layout.
constexpr TChoice kAnyChannels = {"as source,mono 1 channel,stereo 2 channels",
                                  "stereo 2 channels"};
constexpr TChoice kMonoStereo = {"mono 1 channel,stereo 2 channels", "stereo 2 channels"};
constexpr TChoice kStereoOnly = {"stereo 2 channels", "stereo 2 channels"};

// Sample rates.
constexpr char kAnyRates[] = "as source,8000,11025,16000,22050,32000,44100,48000";
constexpr char kMpegAudioRates[] = "32000,44100,48000";
constexpr char kWmaRates[] = "as source,22050,32000,44100,48000";
constexpr char kDeviceRates[] = "22050,32000,44100,48000";

// Audio bit rates, ascending.
constexpr char kAacBitRates[] = "as source,64,96,128,160,192,256,320";
constexpr char kMp3BitRates[] = "as source,32,64,96,128,160,192,256,320";
constexpr char kMp2BitRates[] = "64,96,128,160,192,224,256,320,384";
constexpr char kWmaBitRates[] = "as source,48,64,96,128,160,192";
constexpr char kVorbisBitRates[] = "as source,64,96,128,160,192,256";
constexpr char kAc3BitRates[] = "96,128,160,192,224,256,320,384,448";

// Video bit rates, ascending.
constexpr char kDeviceVideoBitRates[] = "as source,256,384,512,768,1000,1500";
constexpr char kVideoBitRates[] =
    "as source,256,384,512,768,1000,1200,1500,2000,2500,3000,4000,5000,6000,8000";
constexpr char kMpeg1BitRates[] = "as source,384,512,768,1000,1150,1500,2000";
constexpr char kMpeg2BitRates[] = "as source,1000,2000,3000,4000,5000,6000,8000";

// Frame sizes and rates.
constexpr char kDeviceSizes[] = "320x240,480x272";
constexpr char kVideoSizes[] = "as source,176x144,320x240,352x288,480x272,640x360,640x480,"
                               "720x480,720x576,1280x720,1920x1080";
constexpr char kMpeg1Sizes[] = "as source,320x240,352x240,352x288,640x480";
constexpr char kMpeg2Sizes[] =
    "as source,352x480,480x480,640x480,704x480,720x480,720x576,1280x720,1920x1080";
constexpr char kFrameRates[] = "as source,15,23.976,24,25,29.97,30";
// MPEG-1 and MPEG-2 know only the standard rates.
constexpr char kMpegFrameRates[] = "as source,23.976,24,25,29.97,30";

constexpr TH264Extras kDeviceH264 = {"1500", "2000", "30", "250", "0"};
constexpr TH264Extras kGeneralH264 = {"2500", "4000", "41", "250", "1"};

// Video encoder lists.
constexpr char kMp4Encoders[] = "mpeg-4,xvid,h264";
constexpr char kDeviceMp4Encoders[] = "mpeg-4,h264";
constexpr char kWmvEncoders[] = "wmv1,wmv2";
constexpr char kAviEncoders[] = "mpeg-4,xvid,msmpeg4v2";

constexpr TChoice kAac = {"aac", "aac"};
constexpr TChoice kWma = {"wma1,wma2", "wma2"};
constexpr TChoice kAviAudio = {"mp3,ac-3,mp2", "mp3"};

// ---- The modern formats ------------------------------------------------------

// Their pictures keep the source's size and rate unless the user picks
// others; the bit rate is used only when the user picks it instead of a
// quality step.
constexpr char kModernVideoBitRates[] =
    "as source,500,1000,1500,2000,3000,4000,6000,8000,12000,16000";
constexpr char kModernSizes[] = "as source,640x360,854x480,1280x720,1920x1080,2560x1440,3840x2160";
constexpr char kModernFrameRates[] = "as source,23.976,24,25,29.97,30,50,59.94,60";
constexpr char kLosslessRates[] = "as source,44100,48000,88200,96000,176400,192000";
constexpr char kOpusBitRates[] = "32,48,64,96,128,160,192,256";
constexpr TChoice kModernAac = {"aac", "aac"};
constexpr TChoice kModernAacRate = {kAacBitRates, "160"};
constexpr TChoice kOpusRate = {"48000", "48000"};
constexpr TChoice kModernSize = {kModernSizes, "as source"};
constexpr TChoice kModernFrameRate = {kModernFrameRates, "as source"};
constexpr TChoice kModernVideoRate = {kModernVideoBitRates, "2000"};
// A lossless encoder has no bit rate to choose; the preset's value is only
// what the key needs.
constexpr TChoice kLosslessBitRate = {kNull, "1411"};
constexpr TChoice kCopied = {"copy", "copy"};
constexpr TChoice kCopiedValue = {kNull, "as source"};

// A preset without pictures: no video choices, no video encoder.
constexpr TPreset AudioPreset(int code, const char* format, const char* fileExt, TChoice sampleRate,
                              TChoice audioBitRate, TChoice audioEncoder, TChoice channel,
                              const char* audioEncoderName) {
    const char* noVideoEncoder = "";
    return {code,         format,    fileExt,          kNoChoice,  kNoChoice,
            kNoChoice,    kNoChoice, noVideoEncoder,   sampleRate, audioBitRate,
            audioEncoder, channel,   audioEncoderName, nullptr};
}

// The same preset under another code with another video encoder.
constexpr TPreset WithVideoEncoder(TPreset preset, int code, TChoice encoder,
                                   const char* encoderName) {
    preset.Code = code;
    preset.VideoEncoder = encoder;
    preset.VideoEncoderName = encoderName;
    return preset;
}

// The presets that others repeat with another video encoder.
constexpr TPreset kIpodMpeg4 = {0,
                                "ipod",
                                "mp4",
                                {kDeviceSizes, "320x240"},
                                {kDeviceVideoBitRates, "768"},
                                {kFrameRates, "29.97"},
                                {kDeviceMp4Encoders, "mpeg-4"},
                                "mpeg4",
                                {kDeviceRates, "44100"},
                                {kAacBitRates, "128"},
                                kAac,
                                kMonoStereo,
                                "aac",
                                &kDeviceH264};
constexpr TPreset kMp4Mpeg4 = {102,
                               "mp4",
                               "mp4",
                               {kVideoSizes, "640x480"},
                               {kVideoBitRates, "1200"},
                               {kFrameRates, "29.97"},
                               {kMp4Encoders, "mpeg-4"},
                               "mpeg4",
                               {kAnyRates, "44100"},
                               {kAacBitRates, "128"},
                               {"aac,mp3", "aac"},
                               kAnyChannels,
                               "aac",
                               &kGeneralH264};
constexpr TPreset kAviMpeg4 = {104,
                               "avi",
                               "avi",
                               {kVideoSizes, "640x480"},
                               {kVideoBitRates, "1200"},
                               {kFrameRates, "29.97"},
                               {kAviEncoders, "mpeg-4"},
                               "mpeg4",
                               {kAnyRates, "44100"},
                               {kMp3BitRates, "128"},
                               kAviAudio,
                               kMonoStereo,
                               "libmp3lame",
                               nullptr};
constexpr TPreset kModernMp4Hevc = {300,
                                    "mp4",
                                    "mp4",
                                    kModernSize,
                                    kModernVideoRate,
                                    kModernFrameRate,
                                    {"hevc", "hevc"},
                                    "libx265",
                                    {kAnyRates, "as source"},
                                    kModernAacRate,
                                    kModernAac,
                                    kAnyChannels,
                                    "aac",
                                    nullptr};

const std::array<TPreset, 7> kModernPresets = {{
    kModernMp4Hevc,
    WithVideoEncoder(kModernMp4Hevc, 301, {"av1", "av1"}, "libsvtav1"),
    {302,
     "webm",
     "webm",
     kModernSize,
     kModernVideoRate,
     kModernFrameRate,
     {"vp9", "vp9"},
     "libvpx-vp9",
     kOpusRate,
     {kOpusBitRates, "128"},
     {"opus", "opus"},
     kAnyChannels,
     "libopus",
     nullptr},
    // Every stream is copied: nothing to choose.
    {303, "matroska", "mkv", kCopiedValue, kCopiedValue, kCopiedValue, kCopied, "copy",
     kCopiedValue, kCopiedValue, kCopied, kNoChoice, "copy", nullptr},
    AudioPreset(304, "flac", "flac", {kLosslessRates, "as source"}, kLosslessBitRate,
                {"flac", "flac"}, kAnyChannels, "flac"),
    AudioPreset(305, "ogg", "opus", kOpusRate, {kOpusBitRates, "128"}, {"opus", "opus"},
                kAnyChannels, "libopus"),
    AudioPreset(306, "ipod", "m4a", {kLosslessRates, "as source"}, kLosslessBitRate,
                {"alac", "alac"}, kAnyChannels, "alac"),
}};

const std::array<TPreset, 20> kPresets = {{
    kIpodMpeg4,
    WithVideoEncoder(kIpodMpeg4, 1, {kDeviceMp4Encoders, "h264"}, "libx264"),
    {2,
     "asf",
     "wmv",
     {kDeviceSizes, "320x240"},
     {kDeviceVideoBitRates, "768"},
     {kFrameRates, "29.97"},
     {kWmvEncoders, "wmv2"},
     "wmv2",
     {kWmaRates, "44100"},
     {kWmaBitRates, "128"},
     kWma,
     kMonoStereo,
     "wmav2",
     nullptr},
    {100,
     "mpeg",
     "mpg",
     {kMpeg1Sizes, "352x240"},
     {kMpeg1BitRates, "1150"},
     {kMpegFrameRates, "29.97"},
     {"mpeg1video", "mpeg1video"},
     "mpeg1video",
     {kMpegAudioRates, "44100"},
     {kMp2BitRates, "224"},
     {"mp2,mp3", "mp2"},
     kMonoStereo,
     "mp2",
     nullptr},
    {101,
     "vob",
     "mpg",
     {kMpeg2Sizes, "720x480"},
     {kMpeg2BitRates, "4000"},
     {kMpegFrameRates, "29.97"},
     {"mpeg2video", "mpeg2video"},
     "mpeg2video",
     {kMpegAudioRates, "48000"},
     {kMp2BitRates, "192"},
     {"mp2,ac-3", "mp2"},
     kMonoStereo,
     "mp2",
     nullptr},
    kMp4Mpeg4,
    WithVideoEncoder(kMp4Mpeg4, 103, {kMp4Encoders, "h264"}, "libx264"),
    kAviMpeg4,
    {105,
     "asf",
     "wmv",
     {kVideoSizes, "640x480"},
     {kVideoBitRates, "1200"},
     {kFrameRates, "29.97"},
     {kWmvEncoders, "wmv2"},
     "wmv2",
     {kWmaRates, "44100"},
     {kWmaBitRates, "128"},
     kWma,
     kMonoStereo,
     "wmav2",
     nullptr},
    WithVideoEncoder(kAviMpeg4, 106, {"mpeg-4", "mpeg-4"}, "mpeg4"),
    WithVideoEncoder(kAviMpeg4, 107, {"xvid", "xvid"}, "libxvid"),
    // DV has a fixed picture rate and size per norm and carries 16-bit PCM.
    {108,
     "dv",
     "dv",
     {"720x480", "720x480"},
     {kNull, "25000"},
     {"29.97", "29.97"},
     {"dvvideo", "dvvideo"},
     "dvvideo",
     {"48000", "48000"},
     {kNull, "1536"},
     {"pcm_s16", "pcm_s16"},
     kStereoOnly,
     "pcm_s16le",
     nullptr},
    {109,
     "dv",
     "dv",
     {"720x576", "720x576"},
     {kNull, "25000"},
     {"25", "25"},
     {"dvvideo", "dvvideo"},
     "dvvideo",
     {"48000", "48000"},
     {kNull, "1536"},
     {"pcm_s16", "pcm_s16"},
     kStereoOnly,
     "pcm_s16le",
     nullptr},
    AudioPreset(200, "mp3", "mp3", {kAnyRates, "44100"}, {kMp3BitRates, "128"}, {"mp3", "mp3"},
                kMonoStereo, "libmp3lame"),
    AudioPreset(201, "adts", "aac", {kAnyRates, "44100"}, {kAacBitRates, "128"}, kAac, kAnyChannels,
                "aac"),
    AudioPreset(202, "ipod", "m4a", {kAnyRates, "44100"}, {kAacBitRates, "128"}, kAac, kAnyChannels,
                "aac"),
    AudioPreset(203, "asf", "wma", {kWmaRates, "44100"}, {kWmaBitRates, "128"}, kWma, kMonoStereo,
                "wmav2"),
    // PCM takes its bit rate from the sample rate and channels.
    AudioPreset(
        204, "wav", "wav", {kAnyRates, "44100"}, {kNull, "1411"},
        {"pcm_s16,ccitt a-law(8-bit),ccitt mu-law(8-bit),adpcm_ms,adpcm_ima_wav", "pcm_s16"},
        kAnyChannels, "pcm_s16le"),
    AudioPreset(205, "ogg", "ogg", {kAnyRates, "44100"}, {kVorbisBitRates, "128"}, {"ogg", "ogg"},
                kAnyChannels, "libvorbis"),
    AudioPreset(206, "ac3", "ac3", {kMpegAudioRates, "48000"}, {kAc3BitRates, "192"},
                {"ac-3", "ac-3"}, kAnyChannels, "ac3"),
}};

const TPreset* FindPreset(int code) {
    for (const TPreset& preset : kPresets)
        if (preset.Code == code) return &preset;
    for (const TPreset& preset : kModernPresets)
        if (preset.Code == code) return &preset;
    return nullptr;
}

// A copying format changes no volume.
const TChoice& VolumeOf(const TPreset& preset) {
    return std::string(preset.AudioEncoderName) == "copy" ? kNoChoice : kVolume;
}

bool HasList(const TChoice& choice) {
    return std::string(choice.List) != kNull;
}

bool IsVideo(const TPreset& preset) {
    return *preset.VideoEncoderName != '\0';
}

// Position of the item in the comma-separated list.
int IndexOf(const TChoice& choice) {
    const std::string list = choice.List;
    const std::string item = choice.Item;
    int index = 0;
    std::size_t start = 0;
    for (;;) {
        const auto comma = list.find(',', start);
        if (list.substr(start, comma - start) == item) return index;
        if (comma == std::string::npos) return -1;
        start = comma + 1;
        ++index;
    }
}

// Appends key=index for a choice that has a list.
void AddIndex(TIniFile::TKeyValues& values, const TFormatKey& key, const TChoice& choice) {
    if (HasList(choice)) values.emplace_back(key.Name, std::to_string(IndexOf(choice)));
}

// The preset's H.264 extras, under the keys of the file.
void AddH264Extras(TIniFile::TKeyValues& values, const TH264Extras* extras, TKeyFile file) {
    if (!extras) return;
    const TH264ExtraKeys& keys = file == TKeyFile::Format ? kPresetH264 : kUserH264;
    const std::pair<const TFormatKey&, const char*> inOrder[] = {
        {keys.MaxBitrate, extras->MaxBitrate},
        {keys.BufferSize, extras->BufferSize},
        {keys.Level, extras->Level},
        {keys.Gop, extras->Gop},
        {keys.Coder, extras->Coder}};
    for (const auto& [key, value] : inOrder)
        values.emplace_back(key.Name, value);
}

void AddFormatLists(TIniFile::TKeyValues& values, const TPreset& p) {
    values.insert(values.end(), {{kListVideoSize.Name, p.VideoSize.List},
                                 {kListVideoBitRate.Name, p.VideoBitRate.List},
                                 {kListFrameRate.Name, p.FrameRate.List},
                                 {kListVideoEncoder.Name, p.VideoEncoder.List},
                                 {kListAudioBitRate.Name, p.AudioBitRate.List},
                                 {kListSampleRate.Name, p.SampleRate.List},
                                 {kListAudioEncoder.Name, p.AudioEncoder.List},
                                 {kListChannel.Name, p.Channel.List},
                                 {kListVolume.Name, VolumeOf(p).List}});
}

// Appends the preset's item of every list, as the index keys of the file.
void AddIndexes(TIniFile::TKeyValues& values, const TPreset& p, TKeyFile file) {
    const std::pair<const TChoiceKeys&, const TChoice&> choices[] = {
        {kVideoSizeKeys, p.VideoSize},      {kVideoBitRateKeys, p.VideoBitRate},
        {kFrameRateKeys, p.FrameRate},      {kVideoEncoderKeys, p.VideoEncoder},
        {kSampleRateKeys, p.SampleRate},    {kAudioBitRateKeys, p.AudioBitRate},
        {kChannelKeys, p.Channel},          {kVolumeKeys, VolumeOf(p)},
        {kAudioEncoderKeys, p.AudioEncoder}};
    for (const auto& [keys, choice] : choices)
        AddIndex(values, file == TKeyFile::Format ? keys.PresetIndex : keys.UserIndex, choice);
}

void AddVideoParameters(TIniFile::TKeyValues& values, const TPreset& p) {
    if (!IsVideo(p)) {
        values.emplace_back(kUserVideoEncoder.Name, "");
        return;
    }
    values.insert(values.end(), {{kUserVideoSize.Name, p.VideoSize.Item},
                                 {kUserVideoBitRate.Name, p.VideoBitRate.Item},
                                 {kUserFrameRate.Name, p.FrameRate.Item},
                                 {kUserZoom.Name, kZoom},
                                 {kUserVideoEncoder.Name, p.VideoEncoderName}});
}

void AddAudioParameters(TIniFile::TKeyValues& values, const TPreset& p) {
    values.insert(values.end(), {{kUserSampleRate.Name, p.SampleRate.Item},
                                 {kUserAudioBitRate.Name, p.AudioBitRate.Item},
                                 {kUserChannel.Name, kStereo},
                                 {kUserVolume.Name, kUnchangedVolume},
                                 {kUserAudioEncoder.Name, p.AudioEncoderName}});
}

std::string RenderSection(int code) {
    std::string text = "[" + FormatSectionName(code) + "]\n";
    for (const auto& [key, value] : BuiltInFormatSection(code))
        text += key + "=" + value + "\n";
    return text;
}

bool FileMissing(const std::string& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() ==
           std::filesystem::file_type::not_found;
}

// Why the INI file at the path cannot be used as one: empty when it is a
// regular file or does not exist yet.
std::string UnusableFileReason(const std::string& what, const std::string& path) {
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    if (type == std::filesystem::file_type::not_found ||
        type == std::filesystem::file_type::regular)
        return {};
    const char* reason =
        type == std::filesystem::file_type::directory ? "Is a directory" : "Not a regular file";
    return "Cannot use the " + what + " '" + path + "': " + reason;
}

bool HasKey(const std::vector<std::string>& keys, const std::string& key) {
    const auto same = [&key](const std::string& k) {
        return k.size() == key.size() &&
               std::equal(k.begin(), k.end(), key.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    };
    return std::any_of(keys.begin(), keys.end(), same);
}

// Adds to the format file the built-in keys its sections lack; false when
// a needed rewrite failed.
bool RestoreFormatKeys(TIniFile& formats) {
    bool ok = true;
    for (int code : FormatCodes()) {
        const std::string section = FormatSectionName(code);
        const std::vector<std::string> present = formats.ReadSectionKeys(section);
        TIniFile::TKeyValues missing;
        for (const auto& entry : BuiltInFormatSection(code))
            if (!HasKey(present, entry.first)) missing.push_back(entry);
        if (!missing.empty()) ok = formats.WriteSectionValues(section, missing) && ok;
    }
    return ok;
}

std::string EnsureFormatFile(const TGlobalObject& g) {
    const std::string& path = g.FormatFile();
    std::string problem = UnusableFileReason("format file", path);
    if (!problem.empty()) return problem;
    if (FileMissing(path)) {
        if (!WriteTextFileAtomically(path, BuiltInFormatFileText()))
            return "Cannot write the format file '" + path + "'";
        return {};
    }
    TIniFile formats = g.Formats();
    if (!RestoreFormatKeys(formats)) return "Cannot repair the format file '" + path + "'";
    return {};
}

std::string EnsureSettingsSections(const TGlobalObject& g) {
    const std::string& path = g.SettingsFile();
    std::string problem = UnusableFileReason("settings file", path);
    if (!problem.empty()) return problem;
    TIniFile settings = g.Settings();
    for (int code : FormatCodes()) {
        const std::string section = FormatSectionName(code);
        if (!settings.SectionExists(section) &&
            !settings.WriteSectionValues(section, BuiltInSettingsSection(code)))
            return "Cannot write the settings file '" + path + "'";
    }
    return {};
}

} // namespace

TIniFile::TKeyValues BuiltInFormatSection(int code) {
    TIniFile::TKeyValues values;
    const TPreset* p = FindPreset(code);
    if (!p) return values;
    values.insert(values.end(),
                  {{kPresetFormat.Name, p->Format}, {kPresetFileExt.Name, p->FileExt}});
    AddFormatLists(values, *p);
    AddIndexes(values, *p, TKeyFile::Format);
    values.insert(values.end(), {{kPresetSampleRate.Name, p->SampleRate.Item},
                                 {kPresetAudioBitRate.Name, p->AudioBitRate.Item}});
    if (IsVideo(*p)) values.emplace_back(kPresetVideoBitRate.Name, p->VideoBitRate.Item);
    AddH264Extras(values, p->H264, TKeyFile::Format);
    return values;
}

TIniFile::TKeyValues BuiltInSettingsSection(int code) {
    TIniFile::TKeyValues values;
    const TPreset* p = FindPreset(code);
    if (!p) return values;
    values.emplace_back(kUserDescription.Name, FormatCaptionOf(code));
    AddIndexes(values, *p, TKeyFile::Settings);
    AddVideoParameters(values, *p);
    AddAudioParameters(values, *p);
    if (std::string(p->VideoEncoderName) == "libx264")
        AddH264Extras(values, p->H264, TKeyFile::Settings);
    if (HasQualitySteps(code))
        values.insert(values.end(), {{kUserQualityStep.Name, kUserQualityStep.Default},
                                     {kUserSpeed.Name, kUserSpeed.Default}});
    return values;
}

std::string BuiltInFormatFileText() {
    std::string text;
    for (int code : FormatCodes())
        text += (text.empty() ? "" : "\n") + RenderSection(code);
    return text;
}

std::string EnsureDefaultFormatFiles(const TGlobalObject& g) {
    const std::string formatProblem = EnsureFormatFile(g);
    const std::string settingsProblem = EnsureSettingsSections(g);
    if (formatProblem.empty() || settingsProblem.empty()) return formatProblem + settingsProblem;
    return formatProblem + "\n" + settingsProblem;
}

namespace {

// Letters and digits only: the extension is put after a file's base name,
// so a separator or a dot in it would name a file elsewhere.
bool IsPlainExtension(const std::string& ext) {
    return !ext.empty() && std::all_of(ext.begin(), ext.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

} // namespace

std::string FormatFileExt(const TGlobalObject& g, int code) {
    // A missing extension is the built-in copy's, not the key's default.
    const std::string ext =
        g.Formats().ReadString(FormatSectionName(code), kPresetFileExt.Name, "");
    if (IsPlainExtension(ext)) return ext;
    for (const auto& [key, value] : BuiltInFormatSection(code))
        if (key == kPresetFileExt.Name) return value;
    return kPresetFileExt.Default;
}
