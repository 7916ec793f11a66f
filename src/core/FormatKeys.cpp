#include "core/FormatKeys.h"

#include "core/IniFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace {

constexpr const TFormatKey* kKeys[] = {
    // Format file.
    &kPresetFormat, &kPresetFileExt, &kListVideoSize, &kListVideoBitRate, &kListFrameRate,
    &kListVideoEncoder, &kListAudioBitRate, &kListSampleRate, &kListAudioEncoder, &kListChannel,
    &kListVolume, &kPresetIndex.VideoSize, &kPresetIndex.VideoBitRate, &kPresetIndex.FrameRate,
    &kPresetIndex.VideoEncoder, &kPresetIndex.SampleRate, &kPresetIndex.AudioBitRate,
    &kPresetIndex.Channel, &kPresetIndex.Volume, &kPresetIndex.AudioEncoder, &kPresetSampleRate,
    &kPresetAudioBitRate, &kPresetVideoBitRate, &kPresetH264.BitExact, &kPresetH264.MaxBitrate,
    &kPresetH264.BufferSize, &kPresetH264.Level, &kPresetH264.Qscale, &kPresetH264.Gop,
    &kPresetH264.Coder,
    // Settings file.
    &kUserDescription, &kUserIndex.VideoSize, &kUserIndex.VideoBitRate, &kUserIndex.FrameRate,
    &kUserIndex.VideoEncoder, &kUserIndex.SampleRate, &kUserIndex.AudioBitRate, &kUserIndex.Channel,
    &kUserIndex.Volume, &kUserIndex.AudioEncoder, &kUserVideoSize, &kUserVideoBitRate,
    &kUserFrameRate, &kUserZoom, &kUserVideoEncoder, &kUserSampleRate, &kUserAudioBitRate,
    &kUserChannel, &kUserVolume, &kUserAudioEncoder, &kUserH264.BitExact, &kUserH264.MaxBitrate,
    &kUserH264.BufferSize, &kUserH264.Level, &kUserH264.Qscale, &kUserH264.Gop, &kUserH264.Coder,
    &kUserQualityStep, &kUserSpeed, &kUserLoudnessTarget, &kUserTargetSize};

constexpr std::array<TCopiedKey, 5> kH264Counts = {{{kPresetH264.MaxBitrate, kUserH264.MaxBitrate},
                                                    {kPresetH264.BufferSize, kUserH264.BufferSize},
                                                    {kPresetH264.Level, kUserH264.Level},
                                                    {kPresetH264.Qscale, kUserH264.Qscale},
                                                    {kPresetH264.Gop, kUserH264.Gop}}};

bool SameName(const std::string& a, const char* b) {
    const std::string other = b;
    return a.size() == other.size() &&
           std::equal(a.begin(), a.end(), other.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool ParseNumber(const std::string& text, double& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    return first != last && ec == std::errc() && end == last;
}

bool NumberAllowed(const TFormatKey& key, const std::string& text) {
    double value = 0;
    if (!ParseNumber(text, value)) return false;
    if (key.Type != TKeyType::Decimal && text.find('.') != std::string::npos) return false;
    return value >= key.Min && value <= key.Max;
}

bool FrameSizeAllowed(const TFormatKey& key, const std::string& text) {
    const std::size_t x = text.find('x');
    return x != std::string::npos && NumberAllowed(key, text.substr(0, x)) &&
           NumberAllowed(key, text.substr(x + 1));
}

bool WordAllowed(const TFormatKey& key, const std::string& text) {
    const std::string words = std::string(",") + key.Words + ",";
    return !text.empty() && text.find(',') == std::string::npos &&
           words.find("," + text + ",") != std::string::npos;
}

} // namespace

std::span<const TFormatKey* const> FormatKeys() {
    return kKeys;
}

std::span<const TCopiedKey> H264CountKeys() {
    return kH264Counts;
}

const TFormatKey* FindFormatKey(TKeyFile file, const std::string& name) {
    for (const TFormatKey* key : kKeys)
        if (key->File == file && SameName(name, key->Name)) return key;
    return nullptr;
}

bool FormatKeyValueAllowed(const TFormatKey& key, const std::string& value) {
    if (key.AsSource && value == "as source") return true;
    switch (key.Type) {
    case TKeyType::Text:
    case TKeyType::ChoiceList:
        return true;
    case TKeyType::Index:
    case TKeyType::Integer:
    case TKeyType::Decimal:
        return NumberAllowed(key, value);
    case TKeyType::FrameSize:
        return FrameSizeAllowed(key, value);
    case TKeyType::Word:
        return WordAllowed(key, value);
    }
    return false;
}

std::string ReadFormatKey(const TIniFile& ini, const std::string& section, const TFormatKey& key) {
    return ini.ReadString(section, key.Name, key.Default);
}

int ReadFormatKeyInteger(const TIniFile& ini, const std::string& section, const TFormatKey& key) {
    int def = 0;
    ParseIniInteger(key.Default, def);
    return ini.ReadInteger(section, key.Name, def);
}
