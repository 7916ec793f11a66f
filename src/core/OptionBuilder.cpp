#include "core/OptionBuilder.h"

#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "core/FormatKeys.h"
#include "core/FrameZoom.h"
#include "core/MessageSeam.h"
#include "core/ModernFormats.h"
#include "core/StandInMedia.h"
#include "media/EncoderLimits.h"
#include "media/TextUtils.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <stdexcept>

namespace {

constexpr char kAsSource[] = "as source";

// ---- Text helpers -----------------------------------------------------------

bool OneOf(const std::string& text, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return text == n; });
}

bool AllDigits(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= to) return false;
    for (std::size_t i = from; i < to; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

std::size_t SignLength(const std::string& text) {
    return !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
}

bool ParseInteger(const std::string& text, int32_t& value) {
    if (!AllDigits(text, SignLength(text), text.size())) return false;
    errno = 0;
    const long long n = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || n < std::numeric_limits<int32_t>::min() ||
        n > std::numeric_limits<int32_t>::max())
        return false;
    value = static_cast<int32_t>(n);
    return true;
}

// Digits with at most one "." among them, then an optional exponent.
bool NumberShape(const std::string& text) {
    std::size_t i = SignLength(text);
    std::size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isdigit(c))
            ++digits;
        else if (c == '.' && !point)
            point = true;
        else
            break;
    }
    if (digits == 0) return false;
    if (i == text.size()) return true;
    if (text[i] != 'e' && text[i] != 'E') return false;
    const std::size_t exponent = i + 1;
    const std::size_t sign =
        exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-');
    return AllDigits(text, exponent + sign, text.size());
}

// The text has the shape NumberShape checked: digits, one ".", an exponent.
long double NumberValue(const std::string& text) {
    const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    long double value = 0;
    const auto [end, error] =
        std::from_chars(begin, text.data() + text.size(), value, std::chars_format::general);
    return error == std::errc() ? value : 0;
}

// ---- Reading the two INI files ----------------------------------------------

// Where a value came from, for error texts.
std::string Origin(const TIniFile& ini, const std::string& section, const std::string& key) {
    return "\"" + key + "\" in section " + section + " of " + ini.FileName();
}

// A plain integer conversion: anything but an integer is an error.
int32_t StrToInt(const std::string& text, const std::string& origin) {
    int32_t value = 0;
    if (!ParseInteger(Trim(text), value))
        throw std::invalid_argument("'" + text + "' is not a valid integer value (" + origin + ")");
    return value;
}

// A plain number conversion: anything but a number is an error.
long double StrToFloat(const std::string& text, const std::string& origin) {
    const std::string t = Trim(text);
    if (!NumberShape(t))
        throw std::invalid_argument("'" + text + "' is not a valid floating point value (" +
                                    origin + ")");
    return NumberValue(t);
}

// Kilo-units to units, truncated; out of the range of int32 is an error.
int32_t Thousandfold(long double value, const std::string& origin) {
    const long double units = std::trunc(value * 1000.0L);
    if (!(units >= std::numeric_limits<int32_t>::min() &&
          units <= std::numeric_limits<int32_t>::max()))
        throw std::out_of_range("value out of range (" + origin + ")");
    return static_cast<int32_t>(units);
}

// The inputs of one build.
struct TBuild {
    const TGlobalObject& Global;
    int FormatCode;
    std::string Section;
    TIniFile Settings;
    TIniFile Formats;
    const TlvFilesRecord& Row;
    const TProbedSource& Probe;

    std::string User(const TFormatKey& key) const { return ReadFormatKey(Settings, Section, key); }
    std::string Preset(const TFormatKey& key) const { return ReadFormatKey(Formats, Section, key); }
    std::string UserOrigin(const TFormatKey& key) const {
        return Origin(Settings, Section, key.Name);
    }
    std::string PresetOrigin(const TFormatKey& key) const {
        return Origin(Formats, Section, key.Name);
    }
    std::string PresetFormat() const { return Preset(kPresetFormat); }
    bool InRange(const char* kind, int64_t value) const {
        return InPresetRange(Global, FormatCode, kind, value);
    }
};

// One more "name=value" line of a record's ExtOptions.
void AppendExtOption(std::string& lines, const std::string& line) {
    lines += lines.empty() || lines.back() == '\n' ? "" : "\n";
    lines += line;
}

void AppendExtOption(TOutputOptions& out, const std::string& line) {
    AppendExtOption(out.ExtOptions, line);
}

// ---- Target -----------------------------------------------------------------

struct TTargetRow {
    const char* Format;
    int32_t Type;
    int32_t Norm;
    const char* WideSize; // frame size that makes the aspect 16:9, or null
};

constexpr TTargetRow kTargets[] = {
    {"ntsc-dvd", 3, 2, "720x480"}, {"pal-dvd", 3, 1, "720x576"}, {"ntsc-vcd", 1, 2, nullptr},
    {"pal-vcd", 1, 1, nullptr},    {"ntsc-svcd", 2, 2, nullptr}, {"pal-svcd", 2, 1, nullptr},
};

void ApplyTarget(const TBuild& b, TOutputOptions& out) {
    const std::string format = b.PresetFormat();
    for (const TTargetRow& row : kTargets) {
        if (!SameText(format, row.Format)) continue;
        out.TargetType = row.Type;
        out.TargetNorm = row.Norm;
        const bool wide = row.WideSize && b.User(kUserVideoSize) == row.WideSize;
        out.FrameAspectRatio = wide ? "16:9" : "4:3";
    }
}

// ---- Audio settings shared by both paths ------------------------------------

// Encoders the libraries of this platform do not have under the stored name:
// the native AAC encoder replaces libfaac, libvorbis the experimental native
// Vorbis encoder.
std::string UsableAudioEncoder(const std::string& name) {
    if (name == "libfaac") return "aac";
    if (name == "vorbis") return "libvorbis";
    return name;
}

void SetAudioEncoder(TOutputOptions& out, const std::string& name) {
    if (!Trim(name).empty()) out.AudioCodec = UsableAudioEncoder(name);
}

void SetChannels(const TBuild& b, TOutputOptions& out, bool positiveOnly) {
    const std::string text = b.User(kUserChannel);
    int32_t n = 0;
    if (text != kAsSource && ParseInteger(text, n) && (n > 0 || !positiveOnly))
        out.AudioChannels = n;
}

void SetVolume(const TBuild& b, TOutputOptions& out) {
    // A section without a volume converts at the unchanged volume.
    const std::string text = b.User(kUserVolume);
    if (text != "256") out.AudioVolume = StrToInt(text, b.UserOrigin(kUserVolume));
}

void SetSampleRate(const TBuild& b, TOutputOptions& out) {
    const std::string text = b.User(kUserSampleRate);
    int32_t n = 0;
    if (text != kAsSource && ParseInteger(text, n)) {
        if (n > 0) out.AudioSampleRate = n;
        return;
    }
    if (b.InRange(kRangeAudioSampleRate, b.Probe.AudioSampleRate)) {
        out.AudioSampleRate = b.Probe.AudioSampleRate;
        return;
    }
    const std::string preset = b.Preset(kPresetSampleRate);
    if (SameText(preset, kAsSource)) return;
    n = StrToInt(preset, b.PresetOrigin(kPresetSampleRate));
    if (n > 0) out.AudioSampleRate = n;
}

void SetAudioBitrate(const TBuild& b, TOutputOptions& out) {
    const std::string text = b.User(kUserAudioBitRate);
    if (text != kAsSource && IsNumber(text)) {
        const int32_t rate = Thousandfold(NumberValue(text), b.UserOrigin(kUserAudioBitRate));
        if (rate > 0) out.AudioBitrate = rate;
        return;
    }
    if (b.InRange(kRangeAudioBitRate, b.Probe.AudioBitRate)) {
        out.AudioBitrate = b.Probe.AudioBitRate;
        return;
    }
    const std::string preset = b.Preset(kPresetAudioBitRate);
    if (SameText(preset, kAsSource) || Trim(preset).empty()) return;
    const std::string origin = b.PresetOrigin(kPresetAudioBitRate);
    const long double kbits = StrToFloat(preset, origin);
    if (kbits > 0) out.AudioBitrate = Thousandfold(kbits, origin);
}

// ---- Audio path -------------------------------------------------------------

void SetAudioContainer(const TBuild& b, TOutputOptions& out) {
    const std::string format = Lower(b.PresetFormat());
    if (OneOf(format,
              {"amr", "ac3", "asf", "aiff", "au", "voc", "flac", "flv", "avi", "matroska", "mmf"}))
        out.ForceFormat = format;
}

// The encoder of an audio format whose section names none (under its old
// name, which UsableAudioEncoder maps to the native AAC encoder).
constexpr char kAudioOnlyEncoder[] = "libfaac";

// A source the probe opened and found no sound in (pictures alone, or only
// empty sound tracks) gives an audio format nothing to write.
void RequireSound(const TBuild& b) {
    if (b.Probe.StreamCount >= 0 && b.Probe.AudioStreamIndex < 0)
        throw std::invalid_argument("The source has no sound to convert");
}

void BuildAudioPath(const TBuild& b, TOutputOptions& out, TInputOptions& in) {
    RequireSound(b);
    SetAudioEncoder(out,
                    b.Settings.ReadString(b.Section, kUserAudioEncoder.Name, kAudioOnlyEncoder));
    SetAudioContainer(b, out);
    SetChannels(b, out, true);
    SetSampleRate(b, out);
    SetAudioBitrate(b, out);
    SetVolume(b, out);
    in.ExtOptions = "vn=1";
    out.DisableVideo = true;
    out.DisableSubtitle = true;
}

// ---- Video path: encoder, rates, container ----------------------------------

// "wmv3" is offered by the settings dialog but these libraries cannot
// encode it: it is asked for by name, so that the batch fails at Start
// naming it instead of silently using the container's default encoder.
bool KnownVideoEncoder(const std::string& encoder) {
    return encoder == "wmv3" ||
           OneOf(encoder,
                 {"mpeg4",     "libxvid", "mpeg1video", "mpeg2video", "msmpeg4",   "msmpeg4v1",
                  "msmpeg4v2", "huffyuv", "dvvideo",    "rawvideo",   "h263p",     "h263",
                  "rv10",      "rv20",    "ljpeg",      "mjpeg",      "svq1",      "zlib",
                  "wmv1",      "wmv2",    "libx264",    "libx265",    "libsvtav1", "libvpx-vp9"});
}

void SetVideoEncoder(const TBuild& b, const std::string& encoder, TOutputOptions& out) {
    if (!KnownVideoEncoder(encoder)) return;
    out.VideoCodec = encoder;
    if (encoder == "mpeg2video") out.TargetType = 3;
    if (encoder != "libx264") return;
    const std::string format = Lower(b.PresetFormat());
    out.VideoPreset = OneOf(format, {"psp", "ipod", "ps3"}) ? "libx264-" + format : "libx264-mp4";
}

void SetVideoBitrate(const TBuild& b, TOutputOptions& out) {
    const std::string text = b.User(kUserVideoBitRate);
    int32_t n = 0;
    if (text != kAsSource && ParseInteger(text, n)) {
        if (n > 0) out.VideoBitrate = Thousandfold(n, b.UserOrigin(kUserVideoBitRate));
        return;
    }
    if (b.InRange(kRangeVideoBitRate, b.Probe.VideoBitRate)) {
        out.VideoBitrate = b.Probe.VideoBitRate;
        return;
    }
    const std::string preset = b.Preset(kPresetVideoBitRate);
    if (SameText(preset, kAsSource)) return;
    const std::string origin = b.PresetOrigin(kPresetVideoBitRate);
    n = StrToInt(preset, origin);
    if (n > 0) out.VideoBitrate = Thousandfold(n, origin);
}

void SetFrameRate(const TBuild& b, TOutputOptions& out) {
    const std::string text = b.User(kUserFrameRate);
    if (text != kAsSource && IsNumber(text) && NumberValue(text) > 0) out.FrameRate = text;
}

void SetVideoContainer(const TBuild& b, TOutputOptions& out) {
    const std::string format = b.PresetFormat();
    if (OneOf(Lower(format), {"ipod", "3gp", "3g2", "avi", "psp", "mov", "vcd", "flv", "mpegts",
                              "vob", "asf", "dv"}))
        out.ForceFormat = format;
}

// ---- Video path: frame size -------------------------------------------------

bool AskDefaultSize() {
    return ShowMessageBox("Warning", "Error output Video Size.Use the default size 320x240?",
                          TMsgIcon::Question, TMsgButtons::YesNo) == TMsgResult::Yes;
}

// The h263 encoder takes only its own sizes.
void FitH263Size(const std::string& sizeText, TFrameGeometry& g) {
    if (std::string("704x576,352x288,176x144,160x120,128x96").find(sizeText) != std::string::npos)
        return;
    if (g.W > 176 && g.W <= 352) g.W = 352, g.H = 288;
    if (g.W > 352 && g.W <= 704) g.W = 704, g.H = 576;
    if (g.W > 704) g.W = 704, g.H = 576;
}

// "as source", width "x" height, or anything else: then the user chooses
// between 320x240 and the source size.
void ChooseFrameSize(const TBuild& b, const std::string& encoder, TFrameGeometry& g) {
    const std::string text = b.User(kUserVideoSize);
    const std::size_t x = text.find('x');
    const bool sized = x != std::string::npos && x > 0 && x + 1 < text.size();
    if (text != kAsSource && sized) {
        int32_t n = 0;
        g.W = ParseInteger(text.substr(0, x), n) ? n : g.SourceFrameWidth();
        g.H = ParseInteger(text.substr(x + 1), n) ? n : g.SourceFrameHeight();
        if (SameText(encoder, "h263")) FitH263Size(text, g);
    } else if (text != kAsSource && AskDefaultSize()) {
        g.W = 320, g.H = 240;
    } else {
        g.W = g.SourceFrameWidth(), g.H = g.SourceFrameHeight();
    }
    // A frame smaller than the encoder opens with is enlarged to it; the
    // zoom then fits the picture into that frame. An empty one stays an error.
    const int32_t least = SmallestPictureSide(encoder);
    if (g.W > 0 && g.H > 0) g.W = std::max(g.W, least), g.H = std::max(g.H, least);
}

void ClearUnsetCrop(TOutputOptions& out) {
    for (int32_t* crop : {&out.CropTop, &out.CropBottom, &out.CropLeft, &out.CropRight})
        if (*crop == -1) *crop = 0;
}

// The DV profile (pixel format, rates) comes with the DV target of the
// option table; its norm follows the frame height.
void SetDvTarget(const TBuild& b, const TFrameGeometry& g, TOutputOptions& out) {
    if (!SameText(b.PresetFormat(), "dv")) return;
    const char* target = g.H == 576 ? "target=pal-dv" : (g.H == 480 ? "target=ntsc-dv" : nullptr);
    if (!target) return;
    AppendExtOption(out, target);
}

// The formats' players decode 8-bit 4:2:0 pictures, so a 10-bit or 4:2:2
// source is not carried through (DV's target sets its norm's own format).
// The modern formats keep a 10-bit source's depth and HDR colours instead.
void SetPlayablePixelFormat(const TBuild& b, TOutputOptions& out) {
    if (HasQualitySteps(b.FormatCode))
        AppendExtOption(out, "keep_hdr=1");
    else if (!SameText(b.PresetFormat(), "dv"))
        AppendExtOption(out, "pix_fmt=yuv420p");
}

// Steps for a source with a video stream; returns the zoom's filter text.
std::string BuildPicture(const TBuild& b, const std::string& encoder, TOutputOptions& out) {
    SetVideoBitrate(b, out);
    SetFrameRate(b, out);
    SetVideoContainer(b, out);
    TFrameGeometry g;
    g.StoredSW = b.Probe.VideoWidth, g.SH = b.Probe.VideoHeight;
    g.SW = b.Probe.VideoDisplayWidth > 0 ? b.Probe.VideoDisplayWidth : g.StoredSW;
    ChooseFrameSize(b, encoder, g);
    ClearUnsetCrop(out);
    SetDvTarget(b, g, out);
    SetPlayablePixelFormat(b, out);
    const TTvAspect tv = TvAspectOf(g, encoder, out);
    const TZoomCrop crop{b.Row.CropTop, b.Row.CropBottom, b.Row.CropLeft, b.Row.CropRight};
    std::string filter = ApplyZoom(b.Row.ZoomMode, g, crop, tv, out);
    MarkTvAspect(tv, out);
    return filter;
}

void AppendFilter(TOutputOptions& out, const std::string& filter) {
    if (filter.empty()) return;
    out.VideoFilters += out.VideoFilters.empty() ? filter : "," + filter;
}

void SetVideoPathAudioEncoder(const TBuild& b, TOutputOptions& out) {
    std::string name = b.User(kUserAudioEncoder);
    if (name == "libamr_nb") name = "libopencore_amrnb";
    SetAudioEncoder(out, name);
    if (Trim(name).empty()) out.DisableAudio = true;
}

bool HasPicture(const TProbedSource& probe) {
    return probe.VideoStreamCount > 0 && probe.VideoStreamIndex >= 0;
}

// The frame height the user's size of the format asks for, 0 without one.
int32_t ChosenFrameHeight(const TBuild& b) {
    const std::string text = b.User(kUserVideoSize);
    const std::size_t x = text.find('x');
    int32_t h = 0;
    return x != std::string::npos && ParseInteger(text.substr(x + 1), h) ? h : 0;
}

bool PalFrame(const TBuild& b) {
    const int32_t h = ChosenFrameHeight(b);
    return h == 576 || h == 288 || Trim(b.User(kUserFrameRate)) == "25";
}

// Without a picture there is no frame rate to tell the TV norm of a DVD,
// SVCD or VCD target: the format's own frame says it.
void SetPicturelessTarget(const TBuild& b, TOutputOptions& out) {
    if (out.TargetType < 1 || out.TargetType > 3 || out.TargetNorm == 1 || out.TargetNorm == 2)
        return;
    out.TargetNorm = PalFrame(b) ? 1 : 2;
}

void BuildVideoPath(const TBuild& b, const std::string& encoder, TOutputOptions& out) {
    SetVideoEncoder(b, encoder, out);
    const bool hasVideo = HasPicture(b.Probe);
    if (!hasVideo) out.DisableVideo = true;
    if (!hasVideo) SetPicturelessTarget(b, out);
    AppendFilter(out, hasVideo ? BuildPicture(b, encoder, out) : std::string());
    SetVideoPathAudioEncoder(b, out);
    SetChannels(b, out, false);
    SetVolume(b, out);
    SetSampleRate(b, out);
    SetAudioBitrate(b, out);
}

// The libraries would take the first sound track even when it is empty
// (and the output silent): with an empty one, the first track that brings
// sound is named. Stream maps, where a row has them, decide instead.
void ChooseSoundTrack(const TBuild& b, TOutputOptions& out) {
    if (!b.Probe.EmptyAudioStreams || b.Probe.AudioStreamIndex < 0 || out.DisableAudio) return;
    AppendExtOption(out, "audio_source=" + std::to_string(b.Probe.AudioStreamIndex));
}

// ---- A black picture for formats that need one ------------------------------

// DV carries a picture in every frame, so a source of sound alone gets a
// black picture of the format's frame. The picture repeats until the sound
// ends: a source without sound (subtitles alone) gets none, else nothing
// would end the conversion.
bool NeedsBlackPicture(const TBuild& b) {
    return SameText(b.PresetFormat(), "dv") && !HasPicture(b.Probe) &&
           b.Probe.AudioStreamIndex >= 0 && !Trim(b.User(kUserVideoEncoder)).empty();
}

// A source whose picture tracks are all empty converts as one without
// pictures: the engine is told to leave those tracks alone, else it would
// take one and wait for a first frame that never comes. Where the black
// picture stands in, the two streams are named (the picture is the second
// input); elsewhere the source's pictures are switched off.
void SkipEmptyPictures(const TBuild& b, TInputOptions& in, TOutputOptions& out) {
    if (!b.Probe.EmptyVideoStreams || HasPicture(b.Probe)) return;
    if (NeedsBlackPicture(b)) {
        AppendExtOption(out, "map=1:0");
        if (!out.DisableAudio)
            AppendExtOption(out, "map=0:" + std::to_string(b.Probe.AudioStreamIndex));
        return;
    }
    if (in.ExtOptions == "vn=1") return;
    AppendExtOption(in.ExtOptions, "vn=1");
}

struct TBlackFrame {
    int32_t W, H;
    const char* Rate;
};

TBlackFrame BlackFrameOf(const TBuild& b) {
    if (ChosenFrameHeight(b) == 576) return {720, 576, "25"};
    return {720, 480, "30000/1001"};
}

// ---- Silence for formats that need sound ------------------------------------

// DV carries sound in every frame as well: a picture without sound gets
// silence at DV's own rate. A still picture (no length) stays without
// sound: the silence would run far ahead of its one frame.
bool NeedsSilence(const TBuild& b) {
    return SameText(b.PresetFormat(), "dv") && HasPicture(b.Probe) && b.Probe.StreamCount >= 0 &&
           b.Probe.AudioStreamIndex < 0 && b.Probe.DurationUS > 0 &&
           !Trim(b.User(kUserAudioEncoder)).empty();
}

// The source's picture and the silence (the second input) are named. The
// muxer writes a frame for each picture and drops the sound no picture
// takes; the silence stops a second after the source's end (unless a trim
// stops both earlier), so that it never runs far ahead of the pictures.
void AddSilenceStreams(const TBuild& b, const TInputOptions& in, TOutputOptions& out) {
    if (!NeedsSilence(b)) return;
    const int64_t left = b.Probe.DurationUS - std::max<int64_t>(in.StartTime, 0);
    if (out.RecordingTime == vantrel_engine_detail::kNoTime && left > 0)
        out.RecordingTime = left + kSilenceMarginUS;
    AppendExtOption(out, "map=0:" + std::to_string(b.Probe.VideoStreamIndex));
    AppendExtOption(out, "map=1:0");
}

void BuildBlackPicturePath(const TBuild& b, const std::string& encoder, TOutputOptions& out) {
    const TBlackFrame frame = BlackFrameOf(b);
    TProbedSource pictured = b.Probe;
    pictured.VideoStreamCount = 1;
    pictured.VideoStreamIndex = 0;
    pictured.VideoWidth = frame.W;
    pictured.VideoHeight = frame.H;
    pictured.VideoBitRate = -1;
    const TBuild withPicture{b.Global,  b.FormatCode, b.Section, b.Settings,
                             b.Formats, b.Row,        pictured};
    BuildVideoPath(withPicture, encoder, out);
    // The picture repeats for ever; the sound decides the length.
    AppendExtOption(out, "shortest=1");
}

// The video encoder of the build, empty for the audio path: the user's
// (an empty one included, which audio formats store; a known name in any
// letter case), or the built-in preset's when the section lacks the key or
// names no known encoder.
std::string ChosenVideoEncoder(const TBuild& b) {
    const TFormatKey& key = kUserVideoEncoder;
    const bool stored = b.Settings.ValueExists(b.Section, key.Name);
    const std::string encoder = Trim(b.User(key));
    if (stored && (encoder.empty() || KnownVideoEncoder(Lower(encoder)))) return Lower(encoder);
    for (const auto& [name, value] : BuiltInSettingsSection(b.FormatCode))
        if (name == key.Name) return value;
    throw std::invalid_argument(
        (stored ? "'" + encoder + "' is not a known video encoder (" : "Missing value (") +
        b.UserOrigin(key) + ")");
}

// ---- Modern formats ---------------------------------------------------------

// The encoder's quality step or the user's bit rate, and its speed preset.
void SetModernVideoOptions(const TBuild& b, TOutputOptions& out) {
    if (!HasQualitySteps(b.FormatCode) || out.DisableVideo) return;
    const std::string step = b.User(kUserQualityStep);
    if (step != kBitRateStep) out.VideoBitrate = -1;
    for (const auto& [name, value] : ModernVideoOptions(b.FormatCode, step, b.User(kUserSpeed)))
        AppendExtOption(out, name + "=" + value);
}

// A modern format whose encoder the loaded libraries lack is refused before
// anything is written, naming the encoder.
void RequireModernEncoders(const TBuild& b, const std::string& videoEncoder) {
    if (!IsModernFormat(b.FormatCode)) return;
    const std::string missing =
        MissingEncoderText({videoEncoder, UsableAudioEncoder(Trim(b.User(kUserAudioEncoder)))});
    if (!missing.empty()) throw std::invalid_argument(missing);
}

// What of the format's own settings a copy cannot honour: a frame size, a
// frame rate or a volume (a settings file edited by hand may hold them).
std::string SettingsNeedingEncoding(const TBuild& b) {
    std::string words;
    const auto changed = [&b](const TFormatKey& key) {
        const std::string value = Trim(b.User(key));
        return !value.empty() && value != kAsSource && value != kNoValue;
    };
    if (changed(kUserVideoSize)) words += "a frame size";
    if (changed(kUserFrameRate)) words += std::string(words.empty() ? "" : ", ") + "a frame rate";
    if (b.Settings.ValueExists(b.Section, kUserVolume.Name) && Trim(b.User(kUserVolume)) != "256")
        words += std::string(words.empty() ? "" : ", ") + "a volume change";
    return words;
}

// Every video, audio and subtitle stream copied with its tags and
// dispositions; a trim starts at the key frame at or before its start.
void BuildCopyPath(const TBuild& b, TOutputOptions& out) {
    std::string edits = EditsNeedingEncoding(b.Row);
    const std::string settings = SettingsNeedingEncoding(b);
    if (!settings.empty()) edits += (edits.empty() ? "" : ", ") + settings;
    if (!edits.empty()) throw std::invalid_argument(CopyRefusalText(b.Row, edits));
    out.ForceFormat = Lower(b.PresetFormat());
    out.VideoCodec = out.AudioCodec = out.SubtitleCodec = "copy";
    AppendExtOption(out, "copy_all_streams=1");
    ClearUnsetCrop(out);
}

// ---- InPresetRange ----------------------------------------------------------

const TFormatKey& RangeListKey(const std::string& kind) {
    if (kind == kRangeAudioSampleRate) return kListSampleRate;
    if (kind == kRangeAudioBitRate) return kListAudioBitRate;
    if (kind == kRangeVideoBitRate) return kListVideoBitRate;
    throw std::invalid_argument("Unknown preset range kind '" + kind + "'");
}

} // namespace

bool IsInteger(const std::string& text) {
    int32_t value = 0;
    return ParseInteger(text, value);
}

bool IsNumber(const std::string& text) {
    return NumberShape(text);
}

bool InPresetRange(const TGlobalObject& g, int formatCode, const std::string& kind, int64_t value) {
    const TFormatKey& key = RangeListKey(kind);
    const TIniFile formats = g.Formats();
    const std::string section = FormatSectionName(formatCode);
    const std::string list = ReadFormatKey(formats, section, key);
    const long double probed =
        kind == kRangeAudioSampleRate ? static_cast<long double>(value) : value / 1000.0L;
    const std::size_t p = list.find(','), q = list.rfind(',');
    if (p == std::string::npos || p == 0) return false;
    std::string low = list.substr(0, p);
    if (SameText(low, kAsSource) && p + 1 < list.size()) {
        const std::size_t second = list.find(',', p + 1);
        low = list.substr(p + 1, second == std::string::npos ? std::string::npos : second - p - 1);
    }
    const std::string high = p < q ? list.substr(q + 1) : low;
    const std::string origin = Origin(formats, section, key.Name);
    return StrToFloat(low, origin) <= probed && probed <= StrToFloat(high, origin);
}

void BuildConversionOptions(const TGlobalObject& g, const TlvFilesRecord& row, int formatCode,
                            TOutputOptions& out, const TProbedSource& probe, TInputOptions& in) {
    const TBuild b{g,   formatCode, FormatSectionName(formatCode), g.Settings(), g.Formats(),
                   row, probe};
    if (formatCode == kModernCopy) {
        BuildCopyPath(b, out);
        return;
    }
    ApplyTarget(b, out);
    const std::string encoder = ChosenVideoEncoder(b);
    RequireModernEncoders(b, encoder);
    if (Trim(encoder).empty())
        BuildAudioPath(b, out, in);
    else if (NeedsBlackPicture(b))
        BuildBlackPicturePath(b, encoder, out);
    else
        BuildVideoPath(b, encoder, out);
    SkipEmptyPictures(b, in, out);
    AddSilenceStreams(b, in, out);
    ChooseSoundTrack(b, out);
    SetModernVideoOptions(b, out);
}

bool BlackPictureInput(const TGlobalObject& g, int formatCode, const TProbedSource& probe,
                       TInputOptions& picture) {
    const TlvFilesRecord row;
    const TBuild b{g,   formatCode, FormatSectionName(formatCode), g.Settings(), g.Formats(),
                   row, probe};
    if (!NeedsBlackPicture(b)) return false;
    const TBlackFrame frame = BlackFrameOf(b);
    picture.Reset();
    picture.FileName = BlackPictureFile(frame.W, frame.H);
    picture.ForceFormat = "image2";
    picture.ExtOptions = std::string("loop_input=1\nr=") + frame.Rate;
    return true;
}

bool SilenceInput(const TGlobalObject& g, int formatCode, const TProbedSource& probe,
                  TInputOptions& sound) {
    const TlvFilesRecord row;
    const TBuild b{g,   formatCode, FormatSectionName(formatCode), g.Settings(), g.Formats(),
                   row, probe};
    if (!NeedsSilence(b)) return false;
    sound.Reset();
    sound.FileName = SilenceFileFor(probe.DurationUS);
    sound.ForceFormat = "concat";
    return true;
}

std::string FormatZoomMode(const TGlobalObject& g, int formatCode) {
    return ReadFormatKey(g.Settings(), FormatSectionName(formatCode), kUserZoom);
}

void HandOverRowEdits(const TlvFilesRecord& row, TInputOptions& in, TOutputOptions& out) {
    if (HandsOverTrimStart(row)) in.StartTime = row.TrimStart;
    if (HandsOverTrimLength(row)) out.RecordingTime = row.TrimLength;
    if (HasCrop(row)) {
        out.CropTop = row.CropTop;
        out.CropBottom = row.CropBottom;
        out.CropLeft = row.CropLeft;
        out.CropRight = row.CropRight;
    }
}
