// The handlers of the option table's rows, the targets and the presets.
#include "engine/OptionHandlers.h"

#include "engine/LibraryOptions.h"
#include "engine/FFmpegPresets.h"
#include "engine/OptionCheck.h"
#include "engine/PresetReader.h"
#include "engine/TargetProfiles.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"

#include <array>
#include <charconv>
#include <ctime>
#include <limits>

namespace {

void Log(TLogLevel level, const std::string& text) {
    GetLogger().Log(nullptr, level, text);
}

// Logs the name of every format of a list ("pix_fmt=list", "sample_fmt=list").
template <typename NameOf> void LogFormatNames(int count, NameOf nameOf) {
    for (int fmt = 0; fmt < count; ++fmt)
        if (const char* name = nameOf(fmt)) Log(llInfo, name);
}

} // namespace

// ---- the option table's handlers ----

void TOptionHandlers::OptDoNothing(const std::string& name, const std::string&) {
    Log(llInfo, "Do nothing: option - " + name);
}

void TOptionHandlers::OptLogLevel(const std::string&, const std::string& value) {
    GetLogger().SetLogLevelText(value);
}

void TOptionHandlers::OptFormat(const std::string&, const std::string& value) {
    FState.FormatName = value;
    if (value == "pgmyuv") {
        FState.FormatName = "image2";
        FState.UsingPgmyuv = true;
        Log(llInfo, "pgmyuv format is deprecated, use image2");
    }
}

void TOptionHandlers::OptMap(const std::string&, const std::string& value) {
    if (FState.StreamMaps.size() >= MAX_STREAM_MAPS)
        throw FFmpegException(FormatText("Too many stream maps (at most %d)", MAX_STREAM_MAPS));
    FState.StreamMaps.push_back(ParseStreamMap(value));
}

void TOptionHandlers::OptMapMetaData(const std::string&, const std::string& value) {
    if (FState.MetaDataMaps.size() >= MAX_META_DATA_MAPS)
        throw FFmpegException(
            FormatText("Too many metadata maps (at most %d)", MAX_META_DATA_MAPS));
    FState.MetaDataMaps.push_back(ParseMetaDataMap(value));
}

void TOptionHandlers::OptTime(const std::string& name, const TOptionValue& value) {
    const int64_t time = std::get<TOptionDuration>(value).Microseconds;
    if (name == "t") {
        FState.RecordingTime = time;
        if (FLinks.RecordingTime) FLinks.RecordingTime(time);
    } else if (name == "ss") {
        FState.StartTime = time;
    } else {
        FState.InputTsOffset = time;
    }
}

void TOptionHandlers::OptTimestamp(const std::string&, const TOptionValue& value) {
    FState.RecordingTimestamp = std::get<TOptionDate>(value).Seconds;
}

void TOptionHandlers::OptFileSize(const std::string&, const TOptionValue& value) {
    FState.LimitFileSize = std::get<int64_t>(value);
}

void TOptionHandlers::OptTsScale(const std::string&, const std::string& value) {
    const auto [stream, scale] = ParseTsScale(value);
    if (stream < 0 || stream >= MAX_STREAMS)
        throw FFmpegException(FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    FState.NextInputTsScale[stream] = scale;
}

void TOptionHandlers::OptMetadata(const std::string&, const TOptionValue& value) {
    const TOptionKeyValue& pair = std::get<TOptionKeyValue>(value);
    FState.Metadata.emplace_back(pair.Key, pair.Value);
}

void TOptionHandlers::OptFrames(const std::string& name, const TOptionValue& value) {
    const int index = name == "vframes" ? 0 : (name == "aframes" ? 1 : 2);
    FState.MaxFrames[index] = static_cast<int>(std::get<int64_t>(value));
}

void TOptionHandlers::OptTimeLimit(const std::string&, const std::string&) {
    Log(llWarning, "Warning: -timelimit not implemented on Windows");
}

void TOptionHandlers::OptTarget(const std::string&, const TOptionValue& value) {
    const TOptionTarget& target = std::get<TOptionTarget>(value);
    SetTarget(target.Type, target.Norm, target.Fallback);
}

// The codecs' thread count: a number, 0 or "auto" for the codec's choice.
void TOptionHandlers::OptThreads(const std::string& name, const std::string& value) {
    constexpr int kMaxThreadCount = 1024;
    const std::string text = Trim(value);
    if (text == "auto") {
        FState.ThreadCount = 0;
        return;
    }
    int count = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || count < 0 ||
        count > kMaxThreadCount)
        throw FFmpegException(InvalidValueText(name, value));
    FState.ThreadCount = count;
}

void TOptionHandlers::OptBitrate(const std::string& name, const std::string& value) {
    if (name.empty() || value.empty()) return;
    // "b" is the video bit rate: the libraries' option of that name also
    // reaches audio, whose own rate ("ab") stays as it was.
    const TQuietOptionRefusals quiet(FStrict); // refused below, once
    if (!FLibrary.SetCodecOption(name, value, TMediaKind::Any)) {
        if (FStrict) throw FFmpegException(InvalidValueText(name, value));
        return;
    }
    AVCodecContext* context = FLibrary.Contexts().CodecOptions[name[0] == 'a' ? 1 : 0];
    int64_t bitRate = 0;
    // 0 asks for no bit rate target at all (constant quality), not a tiny one.
    if (context && ff::avutil.av_opt_get_int(context, "b", 0, &bitRate) >= 0 && bitRate > 0 &&
        bitRate < 1000)
        Log(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as "
                       "argument, not kbits/s");
}

void TOptionHandlers::OptFrameRate(const std::string&, const std::string& value) {
    AVRational rate{0, 0};
    if (ff::avutil.av_parse_video_rate(&rate, value.c_str()) < 0)
        throw FFmpegException("Incorrect frame rate");
    FState.FrameRateNum = rate.num;
    FState.FrameRateDen = rate.den;
}

void TOptionHandlers::OptFrameSize(const std::string&, const std::string& value) {
    int width = 0, height = 0;
    if (ff::avutil.av_parse_video_size(&width, &height, value.c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    // The libraries' own bound: the pixel count of a padded picture, times
    // eight, fits an int (so no later size arithmetic overflows).
    if ((static_cast<int64_t>(width) + 128) * (static_cast<int64_t>(height) + 128) >=
        std::numeric_limits<int>::max() / 8)
        throw FFmpegException(FormatText("Frame size %dx%d is too large", width, height));
    FState.FrameWidth = width;
    FState.FrameHeight = height;
    FState.FrameSizeOfTarget = false;
}

void TOptionHandlers::OptAspect(const std::string&, const std::string& value) {
    if (value.empty()) return;
    const double aspect = AspectFromText(value);
    if (aspect == 0.0) throw FFmpegException("Incorrect aspect ratio specification.");
    FState.FrameAspectRatio = static_cast<float>(aspect);
}

void TOptionHandlers::OptPixFmt(const std::string&, const std::string& value) {
    if (value == "list") {
        LogFormatNames(AV_PIX_FMT_NB, [](int fmt) {
            return ff::avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(fmt));
        });
        return;
    }
    const AVPixelFormat fmt = ff::avutil.av_get_pix_fmt(value.c_str());
    if (fmt == AV_PIX_FMT_NONE)
        throw FFmpegException(FormatText("Unknown pixel format requested: %s", value.c_str()));
    FState.FramePixFmt = fmt;
}

void TOptionHandlers::OptSampleFmt(const std::string&, const std::string& value) {
    if (value == "list") {
        LogFormatNames(AV_SAMPLE_FMT_NB, [](int fmt) {
            return ff::avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(fmt));
        });
        return;
    }
    FState.AudioSampleFmt = ff::avutil.av_get_sample_fmt(value.c_str());
    FState.AudioGiven.SampleFmt = true;
}

void TOptionHandlers::OptCrop(const std::string& name, const TOptionValue& value) {
    const int v = static_cast<int>(std::get<int64_t>(value));
    if (v <= 0) return;
    const bool vertical = name == "croptop" || name == "cropbottom";
    int& size = vertical ? FState.FrameHeight : FState.FrameWidth;
    if (v >= size)
        throw FFmpegException(std::string(vertical ? "Vertical" : "Horizontal") +
                              " crop dimensions are outside the range of the original "
                              "image.\nRemember to crop first and scale second.");
    Log(llWarning, "CropXXX is deprecated in favor of the crop avfilter");
    if (name == "croptop")
        FState.FrameTopBand = v;
    else if (name == "cropbottom")
        FState.FrameBottomBand = v;
    else if (name == "cropleft")
        FState.FrameLeftBand = v;
    else
        FState.FrameRightBand = v;
    size -= v;
}

void TOptionHandlers::OptPad(const std::string&, const std::string&) {
    throw FFmpegException("Please use vfilters=pad");
}

void TOptionHandlers::OptQScale(const std::string&, const TOptionValue& value) {
    const double q = std::get<double>(value);
    if (q <= 0.0 || q > 255.0) throw FFmpegException("qscale must be > 0.0 and <= 255");
    FState.VideoQScale = static_cast<float>(q);
}

void TOptionHandlers::OptCodec(const std::string& name, const std::string& value) {
    SetCodecName(MediaKindOfOption(name), value);
}

void TOptionHandlers::SetCodecName(TMediaKind kind, const std::string& value) {
    if (value.empty()) return;
    bool* has[3] = {&FState.HasVideoCodecName, &FState.HasAudioCodecName,
                    &FState.HasSubtitleCodecName};
    std::string* names[3] = {&FState.VideoCodecName, &FState.AudioCodecName,
                             &FState.SubtitleCodecName};
    bool* copy[3] = {&FState.VideoStreamCopy, &FState.AudioStreamCopy, &FState.SubtitleStreamCopy};
    const std::size_t i = KindIndex(kind);
    *has[i] = false;
    names[i]->clear();
    if (value == "copy") {
        *copy[i] = true;
    } else {
        *has[i] = true;
        *names[i] = value;
    }
}

void TOptionHandlers::OptPass(const std::string&, const TOptionValue& value) {
    const int64_t pass = std::get<int64_t>(value);
    if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
    FState.DoPass = static_cast<int>(pass);
}

void TOptionHandlers::OptVStats(const std::string&, const std::string&) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S", &local);
    FState.VStatsFileName =
        FormatText("%svstats_%s.log", (ExecutableFolder() + "/").c_str(), clock);
    FState.HasVStatsFileName = true;
}

void TOptionHandlers::OptVHook(const std::string&, const std::string& value) {
    const THookModuleWords words = SplitHookWords(value);
    if (words.empty() || !FLinks.AddHookModule || !FLinks.AddHookModule(words))
        throw FFmpegException("Failed to add video hook function: " + value);
    FState.HookModules.push_back(words);
    FState.UsingVhook = true;
}

void TOptionHandlers::OptVFilters(const std::string&, const std::string& value) {
    if (!value.empty()) FState.VFilters = value;
}

void TOptionHandlers::OptMatrix(const std::string& name, const std::string& value) {
    auto& matrix = name == "intra_matrix" ? FState.IntraMatrix : FState.InterMatrix;
    const auto parsed = ParseMatrix(value); // validated before the old matrix is touched
    if (!matrix) matrix = std::make_unique<std::array<uint16_t, 64>>();
    *matrix = parsed;
}

void TOptionHandlers::OptTag(const std::string& name, const std::string& value) {
    if (value.empty()) return;
    const char* kind = name == "vtag" ? "video" : (name == "atag" ? "audio" : "subtitle");
    if (value.size() != 4)
        throw FFmpegException(FormatText("%s tag parameter must be 4 chars", kind));
    uint32_t& tag = name == "vtag"   ? FState.VideoCodecTag
                    : name == "atag" ? FState.AudioCodecTag
                                     : FState.SubtitleCodecTag;
    tag = TagFromText(value);
}

void TOptionHandlers::OptNewStream(const std::string& name, const std::string&) {
    if (!FLinks.NewStream) throw FFmpegException("At least one output file must be specified");
    FLinks.NewStream(MediaKindOfOption(name.substr(3)));
}

void TOptionHandlers::OptStreamId(const std::string& name, const std::string& value) {
    const std::size_t colon = value.find(':');
    const std::string index = colon == std::string::npos ? value : value.substr(0, colon);
    const std::string id = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    if (index.empty() || id.empty())
        throw FFmpegException(
            FormatText("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                       value.c_str(), name.c_str()));
    const int streamIndex = ParseIntValue(index);
    const int streamId = ParseIntValue(id);
    if (streamIndex < 0 || streamIndex >= MAX_STREAMS)
        throw FFmpegException(FormatText("Invalid stream index %d for option \"%s\" (0..%d)",
                                         streamIndex, name.c_str(), MAX_STREAMS - 1));
    FState.StreamIdMap[streamIndex] = streamId;
}

void TOptionHandlers::OptSampleRate(const std::string&, const TOptionValue& value) {
    const int rate = static_cast<int>(std::get<int64_t>(value));
    if (rate <= 0) return;
    FState.AudioSampleRate = rate;
    FState.AudioGiven.SampleRate = true;
}

void TOptionHandlers::OptChannels(const std::string&, const TOptionValue& value) {
    const int channels = static_cast<int>(std::get<int64_t>(value));
    if (channels <= 0) return;
    FState.AudioChannels = channels;
    FState.AudioGiven.Channels = true;
}

void TOptionHandlers::OptBitstreamFilter(const std::string& name, const std::string& value) {
    if (value.empty() || value[0] == '=') return;
    const std::size_t eq = value.find('=');
    const std::string filterName = eq == std::string::npos ? value : value.substr(0, eq);
    const AVBitStreamFilter* filter = ff::avcodec.av_bsf_get_by_name(filterName.c_str());
    if (!filter)
        throw FFmpegException(FormatText("Unknown bitstream filter %s", Trim(value).c_str()));
    const std::string args = eq == std::string::npos ? std::string() : value.substr(eq + 1);
    FState.BitstreamFilters[MediaKindOfOption(name)].push_back({filter, args});
}

void TOptionHandlers::OptPreset(const std::string& name, const std::string& value) {
    LoadPreset(name, value);
}

// ---- targets and presets ----

void TOptionHandlers::SetTarget(const std::string& type, const std::string& norm,
                                const std::string& fallback) {
    const TTargetSettings target = TargetSettings(type, norm,
                                                  {{FState.FrameRateNum, FState.FrameRateDen},
                                                   FLinks.InputVideoRates,
                                                   fallback,
                                                   FState.Verbose > 0});
    SetCodecName(TMediaKind::Video, target.VideoCodec);
    SetCodecName(TMediaKind::Audio, target.AudioCodec);
    FState.FormatName = target.Format;
    OptFrameSize("s", target.FrameSize);
    FState.FrameSizeOfTarget = true;
    if (!target.PixFmt.empty()) OptPixFmt("pix_fmt", target.PixFmt);
    OptFrameRate("r", target.FrameRate);
    for (const auto& [name, value] : target.Options)
        FLibrary.SetDefaultOrPrivateOption(name, value, TMediaKind::Any);
    for (const auto& [name, value] : target.VideoPrivate)
        FLibrary.SetPrivateOption(TMediaKind::Video, name, value);
    FState.AudioSampleRate = target.SampleRate;
    FState.AudioGiven.SampleRate = true;
    if (!target.MonoOnlyToStereo || FState.AudioChannels == 1) {
        FState.AudioChannels = 2;
        FState.AudioGiven.Channels = true;
    }
    if (target.MuxPreload > 0.0f) FState.MuxPreload = target.MuxPreload;
    if (!target.DefaultAspect.empty() && FState.FrameAspectRatio == 0.0f) {
        Log(llInfo, FormatText("Assuming %s for aspect ratio", target.DefaultAspect.c_str()));
        OptAspect("aspect", target.DefaultAspect);
    }
}

void TOptionHandlers::LoadPreset(const std::string& kind, const std::string& value) {
    if (kind.empty() || value.empty()) return;
    const TMediaKind mediaKind = kind[0] == 'f' ? TMediaKind::Any : MediaKindOfOption(kind);
    TPresetSource source{kind, value, {}};
    for (TMediaKind codecKind : kMediaKinds)
        source.CodecNames[codecKind] = ChosenCodecName(FState, codecKind);
    ReadPreset(source, [&](const TPresetLine& line, bool builtin) {
        ApplyPresetLine(value, line, mediaKind, builtin);
    });
}

// Codec lines choose the codecs; a file's other lines go to the option
// contexts as they are, a built-in preset's after their translation for
// the current encoder.
void TOptionHandlers::ApplyPresetLine(const std::string& value, const TPresetLine& line,
                                      TMediaKind kind, bool builtin) {
    const std::string lower = Lower(line.Key);
    if (lower == "acodec" || lower == "vcodec" || lower == "scodec") {
        SetCodecName(MediaKindOfOption(lower), line.Value);
        return;
    }
    auto set = [&](const std::string& k, const std::string& v) {
        const std::string refusal =
            FormatText("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                       value.c_str(), line.Line.c_str(), k.c_str(), v.c_str());
        if (!FLibrary.SetDefaultOrPrivateOption(k, v, kind, refusal))
            throw FFmpegException(refusal);
    };
    if (!builtin) return set(line.Key, line.Value);
    const TMappedPresetLine mapped = MapLegacyPresetLine(line.Key, line.Value);
    for (const std::string& dropped : mapped.Dropped)
        Log(llWarning, FormatText("%s: option \"%s\" of \"%s\" has no equivalent in the "
                                  "current encoder; skipped",
                                  value.c_str(), dropped.c_str(), line.Line.c_str()));
    for (const auto& [k, v] : mapped.Options)
        set(k, v);
}
