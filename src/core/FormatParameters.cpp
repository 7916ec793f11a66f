#include "core/FormatParameters.h"

#include "core/FormatKeys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace {

// Display items of the video encoder list. "h264" also brings the preset's
// H.264 extras along.
constexpr std::array<TItemTranslation, 31> kVideoEncoders = {{
    {"mpeg-4", "mpeg4"},
    {"3gp", "3gp"},
    {"3g2", "3g2"},
    {"xvid", "libxvid"},
    {"mov", "mov"},
    {"wmv1", "wmv1"},
    {"wmv2", "wmv2"},
    {"wmv3", "wmv3"},
    {"flv", "flv"},
    {"swf", "swf"},
    {"msmpeg4", "msmpeg4"},
    {"msmpeg4v1", "msmpeg4v1"},
    {"msmpeg4v2", "msmpeg4v2"},
    {"h264", "libx264"},
    {"mpeg1video", "mpeg1video"},
    {"mpeg2video", "mpeg2video"},
    {"h263", "h263"},
    {"h263p", "h263p"},
    {"rawvideo", "rawvideo"},
    {"rv10", "rv10"},
    {"rv20", "rv20"},
    {"dvvideo", "dvvideo"},
    {"huffyuv", "huffyuv"},
    {"ljpeg", "ljpeg"},
    {"mjpeg", "mjpeg"},
    {"svq1", "svq1"},
    {"zlib", "zlib"},
    // The modern formats' encoders; "copy" keeps the source's streams.
    {"hevc", "libx265"},
    {"av1", "libsvtav1"},
    {"vp9", "libvpx-vp9"},
    {"copy", "copy"},
}};

// Display items of the audio encoder list. "aac" is the native encoder and
// "ogg" libvorbis: there is no libfaac, and the native Vorbis encoder is
// experimental and refuses to open by default. "gsm" also fixes the sample
// rate and the channels (see ComposeFormatSection).
constexpr std::array<TItemTranslation, 30> kAudioEncoders = {{
    {"mp3", "libmp3lame"},
    {"ogg", "libvorbis"},
    {"mp2", "mp2"},
    {"aac", "aac"},
    {"ac-3", "ac3"},
    {"flac", "flac"},
    {"alac", "alac"},
    {"libamr_nb", "libopencore_amrnb"},
    {"adpcm_swf", "adpcm_swf"},
    {"adpcm_yamaha", "adpcm_yamaha"},
    {"pcm-8bit", "pcm_s8"},
    {"pcm-16bit", "pcm_s16be"},
    {"pcm-24bit", "pcm_s24be"},
    {"pcm-32bit", "pcm_s32be"},
    {"pcm-32bit float", "pcm_f32be"},
    {"pcm-64bit float", "pcm_f64be"},
    {"ccitt a-law(8-bit)", "pcm_alaw"},
    {"ccitt mu-law(8-bit)", "pcm_mulaw"},
    {"ima adpcm(4-bit)", "adpcm_ima_qt"},
    {"gsm", "libgsm"},
    {"pcm_s16", "pcm_s16le"},
    {"pcm_u16", "pcm_u16le"},
    {"pcm_alaw", "pcm_alaw"},
    {"pcm_mulaw ", "pcm_mulaw"},
    {"adpcm_ms", "adpcm_ms"},
    {"adpcm_ima_wav", "adpcm_ima_wav"},
    {"wma1", "wmav1"},
    {"wma2", "wmav2"},
    // The modern formats' encoders.
    {"opus", "libopus"},
    {"copy", "copy"},
}};

constexpr std::array<TItemTranslation, 3> kChannels = {{
    {"as source", "as source"},
    {"mono 1 channel", "1"},
    {"stereo 2 channels", "2"},
}};

// Percentages of the volume list.
constexpr std::array<int, 12> kVolumePercents = {25,  50,  75,  100, 125, 150,
                                                 175, 200, 250, 300, 350, 400};

constexpr std::array<const char*, 4> kZoomValues = {"full", "lbox", "pan", "center"};

constexpr char kGsmItem[] = "gsm";
constexpr char kH264Item[] = "h264";

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool Lookup(std::span<const TItemTranslation> table, const std::string& item, bool ignoreCase,
            std::string& value) {
    for (const TItemTranslation& row : table) {
        if (ignoreCase ? SameTextIgnoringCase(item, row.Item) : item == row.Item) {
            value = row.Value;
            return true;
        }
    }
    return false;
}

bool ParseDecimal(const std::string& text, int& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    if (first == last) return false;
    const auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && end == last;
}

// Sets the key, keeping the place of an earlier value of it.
void SetValue(TIniFile::TKeyValues& values, const TFormatKey& key, const std::string& value) {
    for (auto& [k, v] : values) {
        if (SameTextIgnoringCase(k, key.Name)) {
            v = value;
            return;
        }
    }
    values.emplace_back(key.Name, value);
}

// The H.264 extras of the preset: "paraBitExact" when "true", the counts
// when above 0, "paraCoder" when 0 or more; absent keys are skipped.
void AddH264Extras(const TIniFile& formatFile, const std::string& section,
                   TIniFile::TKeyValues& values) {
    if (formatFile.ValueExists(section, kPresetH264.BitExact.Name)) {
        const std::string exact = ReadFormatKey(formatFile, section, kPresetH264.BitExact);
        if (SameTextIgnoringCase(exact, "true")) SetValue(values, kUserH264.BitExact, exact);
    }
    for (const TCopiedKey& key : H264CountKeys()) {
        if (!formatFile.ValueExists(section, key.Preset.Name)) continue;
        const int n = ReadFormatKeyInteger(formatFile, section, key.Preset);
        if (n > 0) SetValue(values, key.User, std::to_string(n));
    }
    if (formatFile.ValueExists(section, kPresetH264.Coder.Name)) {
        const int coder = ReadFormatKeyInteger(formatFile, section, kPresetH264.Coder);
        if (coder >= 0) SetValue(values, kUserH264.Coder, std::to_string(coder));
    }
}

void AddIndexes(const TFormatChoices& c, TIniFile::TKeyValues& values) {
    const std::pair<const TFormatKey&, int> indexes[] = {
        {kUserIndex.VideoSize, c.iVideoSize},   {kUserIndex.VideoBitRate, c.iVideoBitRate},
        {kUserIndex.FrameRate, c.iFrameRate},   {kUserIndex.VideoEncoder, c.iVideoEncoder},
        {kUserIndex.SampleRate, c.iSampleRate}, {kUserIndex.AudioEncoder, c.iAudioEncoder},
        {kUserIndex.Channel, c.iChannel},       {kUserIndex.AudioBitRate, c.iAudioBitRate},
        {kUserIndex.Volume, c.iVolume}};
    for (const auto& [key, index] : indexes)
        SetValue(values, key, std::to_string(index));
}

void AddVideo(const TFormatChoices& c, const TIniFile& formatFile, const std::string& section,
              TIniFile::TKeyValues& values) {
    SetValue(values, kUserVideoSize, c.VideoSize);
    SetValue(values, kUserVideoBitRate, c.VideoBitRate);
    SetValue(values, kUserFrameRate, c.FrameRate);
    const std::string zoom = ZoomValue(c.Zoom);
    if (!zoom.empty()) SetValue(values, kUserZoom, zoom);
    std::string encoder;
    if (TranslateVideoEncoder(c.VideoEncoder, encoder)) {
        SetValue(values, kUserVideoEncoder, encoder);
        if (SameTextIgnoringCase(c.VideoEncoder, kH264Item))
            AddH264Extras(formatFile, section, values);
    }
}

void AddAudio(const TFormatChoices& c, const std::string& volume, TIniFile::TKeyValues& values) {
    SetValue(values, kUserSampleRate, c.SampleRate);
    SetValue(values, kUserAudioBitRate, c.AudioBitRate);
    std::string value;
    if (TranslateChannel(c.Channel, value)) SetValue(values, kUserChannel, value);
    if (!volume.empty()) SetValue(values, kUserVolume, volume);
    if (TranslateAudioEncoder(c.AudioEncoder, value)) {
        SetValue(values, kUserAudioEncoder, value);
        if (SameTextIgnoringCase(c.AudioEncoder, kGsmItem)) {
            SetValue(values, kUserSampleRate, "8000");
            SetValue(values, kUserChannel, "1");
        }
    }
}

} // namespace

std::span<const TItemTranslation> VideoEncoderTable() {
    return kVideoEncoders;
}

std::span<const TItemTranslation> AudioEncoderTable() {
    return kAudioEncoders;
}

std::span<const TItemTranslation> ChannelTable() {
    return kChannels;
}

bool TranslateVideoEncoder(const std::string& item, std::string& value) {
    return Lookup(kVideoEncoders, item, true, value);
}

bool TranslateAudioEncoder(const std::string& item, std::string& value) {
    return Lookup(kAudioEncoders, item, true, value);
}

bool TranslateChannel(const std::string& item, std::string& value) {
    return Lookup(kChannels, item, false, value);
}

TVolumeItem TranslateVolume(const std::string& item, std::string& value) {
    if (item.empty()) return TVolumeItem::NoMatch;
    int percent = 0;
    if (!ParseDecimal(item.substr(0, item.size() - 1), percent)) return TVolumeItem::NotANumber;
    if (percent <= 0 ||
        std::find(kVolumePercents.begin(), kVolumePercents.end(), percent) == kVolumePercents.end())
        return TVolumeItem::NoMatch;
    value = std::to_string(percent * 256 / 100);
    return TVolumeItem::Translated;
}

std::vector<std::string> SplitFormatList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

bool FormatListPresent(const std::string& listKey, const std::string& text) {
    if (text == "null") return false;
    if (!text.empty()) return true;
    const TFormatKey* key = FindFormatKey(TKeyFile::Format, listKey);
    return !(key && key->NeedsItems);
}

bool IsAsSourceText(const std::string& text) {
    return SameTextIgnoringCase(text, "as source");
}

bool IsIntegerText(const std::string& text) {
    int value = 0;
    return ParseIniInteger(text, value);
}

bool IsDecimalText(const std::string& text) {
    std::size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    int digits = 0, points = 0;
    for (; i < text.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])))
            ++digits;
        else if (text[i] == '.' && ++points == 1)
            continue;
        else
            return false;
    }
    return digits > 0;
}

TFrameSizeCheck CheckFrameSize(const std::string& text, std::string& corrected) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    if (lower.find("as source") != std::string::npos) return TFrameSizeCheck::Accepted;
    const std::size_t x = text.rfind('x');
    if (x == std::string::npos) return TFrameSizeCheck::Invalid;
    int width = 0, height = 0;
    if (!ParseIniInteger(text.substr(0, x), width) || !ParseIniInteger(text.substr(x + 1), height))
        return TFrameSizeCheck::Invalid;
    const auto good = [](int n) { return n != 0 && n % 2 == 0; };
    if (good(width) && good(height)) return TFrameSizeCheck::Accepted;
    const auto even = [](int n) { return (n - n % 2) == 0 ? 2 : n - n % 2; };
    corrected = std::to_string(even(width)) + "x" + std::to_string(even(height));
    return TFrameSizeCheck::Corrected;
}

bool AcceptFrameSizeKey(const std::string& boxText, char key) {
    if (boxText.empty() || key == '\b') return true;
    if (std::isdigit(static_cast<unsigned char>(key))) return true;
    return key == 'x' && boxText.find('x') == std::string::npos;
}

bool AcceptNumericKey(char key) {
    return key == '\b' || (key >= '0' && key <= '9');
}

std::string FrameSizeCorrectionText(const std::string& corrected) {
    return std::string("Frame Size must be a multiple of 2.") + "\n" +
           "The correct value:" + corrected;
}

std::string VolumeInvalidText(const std::string& item) {
    return "Volume \"" + item + "\" is not a valid value! Choose a percentage such as 100%.";
}

std::string ZoomValue(int zoom) {
    return (zoom >= 0 && zoom < static_cast<int>(kZoomValues.size())) ? kZoomValues[zoom] : "";
}

int ZoomIndex(const std::string& value) {
    for (std::size_t i = 0; i < kZoomValues.size(); ++i)
        if (value == kZoomValues[i]) return static_cast<int>(i);
    return -1;
}

bool ComposeFormatSection(const TFormatChoices& choices, const TIniFile& formatFile,
                          const std::string& section, TIniFile::TKeyValues& values,
                          std::string& error) {
    values.clear();
    error.clear();
    // The volume is checked first, so that a refused item writes nothing.
    std::string volume;
    if (TranslateVolume(choices.Volume, volume) == TVolumeItem::NotANumber) {
        error = VolumeInvalidText(choices.Volume);
        return false;
    }
    SetValue(values, kUserDescription, choices.Description);
    AddIndexes(choices, values);
    AddVideo(choices, formatFile, section, values);
    AddAudio(choices, volume, values);
    return true;
}

bool WriteFormatChoices(TIniFile& settings, const TIniFile& formatFile, const std::string& section,
                        const TFormatChoices& choices, std::string& error) {
    TIniFile::TKeyValues values;
    if (!ComposeFormatSection(choices, formatFile, section, values, error)) return false;
    return settings.WriteSectionValues(section, values);
}
