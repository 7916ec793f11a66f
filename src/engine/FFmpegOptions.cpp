// Option parsing of the task engine: the handlers of the option table
// (FFmpegOptionTable.cpp), the option contexts, presets and targets.
#include "engine/FFmpeg.h"

#include "engine/FFmpegPresets.h"
#include "media/FFmpegHeaders.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <filesystem>

TMediaKind MediaKindOf(int mediaType) {
    return mediaType == AVMEDIA_TYPE_VIDEO   ? TMediaKind::Video
           : mediaType == AVMEDIA_TYPE_AUDIO ? TMediaKind::Audio
                                             : TMediaKind::Subtitle;
}

namespace {

// The kind an option name prefix selects: v video, a audio, anything else subtitle.
TMediaKind KindOfName(const std::string& name) {
    if (!name.empty() && name[0] == 'v') return TMediaKind::Video;
    if (!name.empty() && name[0] == 'a') return TMediaKind::Audio;
    return TMediaKind::Subtitle;
}

// Sets `name` in a private option list, replacing an earlier value.
void SetPrivateEntry(TPrivateOptions& options, const std::string& name, const std::string& value) {
    auto it = std::find_if(options.begin(), options.end(),
                           [&](const auto& entry) { return entry.first == name; });
    if (it != options.end())
        it->second = value;
    else
        options.emplace_back(name, value);
}

enum TNorm { nmPal, nmNtsc, nmFilm };

const char* NormFrameRate(int norm) {
    return norm == nmPal ? "25" : (norm == nmNtsc ? "30000/1001" : "24000/1001");
}

// The norm that a frame rate of round(rate x 1000) stands for, or -1.
int NormOfRate(int64_t rate1000) {
    if (rate1000 == 25000) return nmPal;
    if (rate1000 == 29970 || rate1000 == 23976) return nmNtsc;
    return -1;
}

// What a "target" sets. Two values per norm-dependent setting: PAL first,
// then NTSC (and film).
struct TTargetOption {
    const char* Name;
    std::array<const char*, 2> Value;
};

enum TTargetChannels {
    tcStereo,       // two channels
    tcMonoToStereo, // one channel becomes two, more stay
};

struct TTargetProfile {
    const char* Type;
    const char* Format;
    const char* VideoCodec; // nullptr: the codec names stay
    const char* AudioCodec;
    std::array<const char*, 2> FrameSize;
    std::array<const char*, 2> PixFmt;                             // nullptr: unchanged
    std::vector<TTargetOption> Options;                            // the option contexts', in order
    std::vector<std::pair<const char*, const char*>> VideoPrivate; // of the video encoder
    int SampleRate;
    TTargetChannels Channels;
    float MuxPreload;          // seconds; 0: unchanged
    const char* DefaultAspect; // when none was given; nullptr: none
};

const std::vector<TTargetProfile>& TargetProfiles() {
    static const std::vector<TTargetProfile> profiles = {
        {"vcd",
         "vcd",
         "mpeg1video",
         "mp2",
         {"352x288", "352x240"},
         {nullptr, nullptr},
         {{"g", {"15", "18"}},
          {"b", {"1150000", "1150000"}},
          {"maxrate", {"1150000", "1150000"}},
          {"minrate", {"1150000", "1150000"}},
          {"bufsize", {"327680", "327680"}},
          {"ab", {"224000", "224000"}},
          {"packetsize", {"2324", "2324"}},
          {"muxrate", {"1411200", "1411200"}}},
         {},
         44100,
         tcStereo,
         0.44f,
         "4:3"},
        // The scan-offset flag is a private option of the MPEG-2 encoder now.
        {"svcd",
         "svcd",
         "mpeg2video",
         "mp2",
         {"480x576", "480x480"},
         {nullptr, nullptr},
         {{"g", {"15", "18"}},
          {"b", {"2040000", "2040000"}},
          {"maxrate", {"2516000", "2516000"}},
          {"minrate", {"0", "0"}},
          {"bufsize", {"1835008", "1835008"}},
          {"ab", {"224000", "224000"}},
          {"packetsize", {"2324", "2324"}}},
         {{"scan_offset", "1"}},
         44100,
         tcMonoToStereo,
         0.0f,
         "4:3"},
        {"dvd",
         "dvd",
         "mpeg2video",
         "ac3",
         {"720x576", "720x480"},
         {nullptr, nullptr},
         {{"g", {"15", "18"}},
          {"b", {"6000000", "6000000"}},
          {"maxrate", {"9000000", "9000000"}},
          {"minrate", {"0", "0"}},
          {"bufsize", {"1835008", "1835008"}},
          {"packetsize", {"2048", "2048"}},
          {"muxrate", {"10080000", "10080000"}},
          {"ab", {"448000", "448000"}}},
         {},
         48000,
         tcMonoToStereo,
         0.0f,
         "16:9"},
        {"dv",
         "dv",
         nullptr,
         nullptr,
         {"720x576", "720x480"},
         {"yuv420p", "yuv411p"},
         {},
         {},
         48000,
         tcStereo,
         0.0f,
         nullptr},
        {"dv50",
         "dv",
         nullptr,
         nullptr,
         {"720x576", "720x480"},
         {"yuv422p", "yuv422p"},
         {},
         {},
         48000,
         tcStereo,
         0.0f,
         nullptr},
    };
    return profiles;
}

const TTargetProfile* FindTargetProfile(const std::string& type) {
    for (const TTargetProfile& profile : TargetProfiles())
        if (type == profile.Type) return &profile;
    return nullptr;
}

} // namespace

void TCustomFFmpeg::Log(int level, const std::string& text) const {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
}

// ---- generic and private option contexts ----

bool TCustomFFmpeg::SetDefaultOrPrivateOption(const std::string& name, const std::string& value,
                                              TMediaKind kindHint, const std::string& refusal) {
    if (Trim(name).empty() || Trim(value).empty()) return false;
    if (SetCodecOption(name, value, kindHint)) return true;
    if (IsGenericOptionName(name)) return false; // known, but the value was refused
    if (kindHint != TMediaKind::Any) {
        if (HasCodecName(kindHint)) return SetPrivateOption(kindHint, name, value);
        DeferOption(name, value, kindHint, refusal);
        return true;
    }
    for (TMediaKind kind : kMediaKinds)
        if (SetPrivateOption(kind, name, value)) return true;
    if (HasSettableOption(name)) return false; // a named encoder's own, refusing the value
    if (SetFormatPrivateOption(name, value)) return true;
    DeferOption(name, value, TMediaKind::Any, refusal);
    return true;
}

// The generic option contexts; a name the libraries share between kinds
// goes only to the context of the kind it was given for (unprefixed: the
// hint's, else video) and is remembered for that kind.
bool TCustomFFmpeg::SetCodecOption(const std::string& name, const std::string& value,
                                   TMediaKind kindHint) {
    std::string target = name;
    TMediaKind kind = TMediaKind::Any;
    if (IsSharedCodecOption(name)) {
        kind = kindHint != TMediaKind::Any ? kindHint : TMediaKind::Video;
        target = std::string(1, "vas"[KindIndex(kind)]) + name;
    } else if (name.size() > 1 && (name[0] == 'v' || name[0] == 'a') &&
               IsSharedCodecOption(name.substr(1))) {
        kind = KindOfName(name);
    }
    if (!SetDefaultOption(FOptionContexts, target.c_str(), value.c_str())) return false;
    if (kind != TMediaKind::Any)
        FOptions.SharedOptionKinds[target.substr(1)] |= 1 << KindIndex(kind);
    return true;
}

// Whether the generic option contexts know the name (a refused value then
// is the value's fault, not the name's).
bool TCustomFFmpeg::IsGenericOptionName(const std::string& name) const {
    auto known = [](void* context, const std::string& n) {
        return context && ff::avutil.av_opt_find(context, n.c_str(), nullptr, 0, 0);
    };
    if (known(FOptionContexts.CodecOptions[0], name) ||
        known(FOptionContexts.FormatOptions, name) || known(FOptionContexts.ScalerOptions, name))
        return true;
    const bool prefixed = name.size() > 1 && (name[0] == 'v' || name[0] == 'a' || name[0] == 's');
    return prefixed && known(FOptionContexts.CodecOptions[0], name.substr(1));
}

bool TCustomFFmpeg::HasCodecName(TMediaKind kind) const {
    return kind == TMediaKind::Video   ? FOptions.HasVideoCodecName
           : kind == TMediaKind::Audio ? FOptions.HasAudioCodecName
                                       : FOptions.HasSubtitleCodecName;
}

void TCustomFFmpeg::DeferOption(const std::string& name, const std::string& value, TMediaKind kind,
                                const std::string& refusal) {
    auto& pending = FOptions.PendingOptions;
    auto it = std::find_if(pending.begin(), pending.end(), [&](const TPendingOption& p) {
        return p.Name == name && p.Kind == kind;
    });
    if (it != pending.end())
        *it = TPendingOption{name, value, kind, refusal};
    else
        pending.push_back(TPendingOption{name, value, kind, refusal});
}

// A recorded option reaches an encoder of `kind` unless it is one the
// libraries share and it was given for other kinds only.
bool TCustomFFmpeg::RecordedOptionFor(const char* name, TMediaKind kind) const {
    const auto it = FOptions.SharedOptionKinds.find(name);
    return it == FOptions.SharedOptionKinds.end() || (it->second & (1 << KindIndex(kind))) != 0;
}

// The waiting options that the private class of the stream's encoder knows
// become the stream's private options; those given for this kind that it
// does not know are refused.
void TCustomFFmpeg::TakePendingEncoderOptions(TOutputStreamSetup& setup, TMediaKind kind) {
    auto& pending = FOptions.PendingOptions;
    const AVCodec* codec = setup.Encoder;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->Kind != kind && it->Kind != TMediaKind::Any) {
            ++it;
            continue;
        }
        const bool known =
            codec && codec->priv_class &&
            ff::avutil.av_opt_find(const_cast<AVClass**>(&codec->priv_class), it->Name.c_str(),
                                   nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
        if (!known && it->Kind == TMediaKind::Any) {
            ++it;
            continue;
        }
        const TPendingOption option = *it;
        it = pending.erase(it);
        bool valid = false;
        if (known) {
            ff::CodecContextPtr probe(ff::avcodec.avcodec_alloc_context3(codec));
            valid = probe && probe->priv_data &&
                    ff::avutil.av_opt_set(probe->priv_data, option.Name.c_str(),
                                          option.Value.c_str(), 0) >= 0;
        }
        if (valid) {
            SetPrivateEntry(setup.PrivateOptions, option.Name, option.Value);
            continue;
        }
        if (!option.Refusal.empty()) throw FFmpegException(option.Refusal);
        Log(llWarning, known ? FormatText("Invalid value \"%s\" for option \"%s\"",
                                          option.Value.c_str(), option.Name.c_str())
                             : FormatText("Option %s not found for encoder %s", option.Name.c_str(),
                                          codec ? codec->name : "none"));
    }
}

// The waiting options of any kind that the output's muxer knows are set on
// it; whatever is left is refused or reported. Those given for one kind
// wait on for that kind's next stream (this output has none).
void TCustomFFmpeg::TakePendingMuxerOptions(AVFormatContext* context) {
    std::vector<TPendingOption> pending;
    auto& waiting = FOptions.PendingOptions;
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (it->Kind != TMediaKind::Any) {
            ++it;
            continue;
        }
        pending.push_back(*it);
        it = waiting.erase(it);
    }
    const AVOutputFormat* format = context->oformat;
    for (const TPendingOption& option : pending) {
        const bool known =
            format->priv_class &&
            ff::avutil.av_opt_find(const_cast<AVClass**>(&format->priv_class), option.Name.c_str(),
                                   nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
        if (known && ff::avutil.av_opt_set(context, option.Name.c_str(), option.Value.c_str(),
                                           AV_OPT_SEARCH_CHILDREN) >= 0)
            continue;
        if (!option.Refusal.empty()) throw FFmpegException(option.Refusal);
        Log(llWarning, known ? FormatText("Invalid value \"%s\" for option \"%s\"",
                                          option.Value.c_str(), option.Name.c_str())
                             : FormatText("Unrecognized option '%s'", option.Name.c_str()));
    }
}

// An option private to the requested output format's muxer ("muxrate" of
// the MPEG muxers, ...): kept for the next output, which sets it.
bool TCustomFFmpeg::SetFormatPrivateOption(const std::string& name, const std::string& value) {
    if (FOptions.FormatName.empty()) return false;
    const AVOutputFormat* format =
        ff::avformat.av_guess_format(FOptions.FormatName.c_str(), nullptr, nullptr);
    if (!format || !format->priv_class) return false;
    if (!ff::avutil.av_opt_find(const_cast<AVClass**>(&format->priv_class), name.c_str(), nullptr,
                                0, AV_OPT_SEARCH_FAKE_OBJ))
        return false;
    SetPrivateEntry(FOptions.FormatPrivateOptions, name, value);
    return true;
}

// Checks the option against the private class of the kind's current encoder
// (a context of that encoder takes the value) and keeps it for the kind's
// next stream.
bool TCustomFFmpeg::SetPrivateOption(TMediaKind kind, const std::string& name,
                                     const std::string& value) {
    const bool has[3] = {FOptions.HasVideoCodecName, FOptions.HasAudioCodecName,
                         FOptions.HasSubtitleCodecName};
    const std::string* names[3] = {&FOptions.VideoCodecName, &FOptions.AudioCodecName,
                                   &FOptions.SubtitleCodecName};
    const std::size_t i = KindIndex(kind);
    if (!has[i] || !FFmpegLoader().IsLoaded(libAVCodec)) return false;
    const AVCodec* codec = ff::avcodec.avcodec_find_encoder_by_name(names[i]->c_str());
    if (!codec || !codec->priv_class) return false;
    const AVOption* option =
        ff::avutil.av_opt_find(const_cast<AVClass**>(&codec->priv_class), name.c_str(), nullptr, 0,
                               AV_OPT_SEARCH_FAKE_OBJ);
    if (!option) return false;
    ff::CodecContextPtr probe(ff::avcodec.avcodec_alloc_context3(codec));
    if (!probe || !probe->priv_data ||
        ff::avutil.av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) < 0) {
        if (!TQuietOptionRefusals::Active())
            Log(llError,
                FormatText("Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str()));
        return false;
    }
    SetPrivateEntry(FOptions.PrivateOptions[kind], name, value);
    return true;
}

// ---- the option table's handlers ----

void TCustomFFmpeg::OptDoNothing(const std::string& name, const std::string&) {
    Log(llInfo, "Do nothing: option - " + name);
}

void TCustomFFmpeg::OptLogLevel(const std::string&, const std::string& value) {
    GetLogger().SetLogLevelText(value);
}

void TCustomFFmpeg::OptFormat(const std::string&, const std::string& value) {
    FOptions.FormatName = value;
    if (value == "pgmyuv") {
        FOptions.FormatName = "image2";
        FOptions.UsingPgmyuv = true;
        Log(llInfo, "pgmyuv format is deprecated, use image2");
    }
}

void TCustomFFmpeg::OptMap(const std::string&, const std::string& value) {
    if (FOptions.StreamMaps.size() >= MAX_STREAM_MAPS)
        throw FFmpegException(FormatText("Too many stream maps (at most %d)", MAX_STREAM_MAPS));
    FOptions.StreamMaps.push_back(ParseStreamMap(value));
}

void TCustomFFmpeg::OptMapMetaData(const std::string&, const std::string& value) {
    if (FOptions.MetaDataMaps.size() >= MAX_META_DATA_MAPS)
        throw FFmpegException(
            FormatText("Too many metadata maps (at most %d)", MAX_META_DATA_MAPS));
    FOptions.MetaDataMaps.push_back(ParseMetaDataMap(value));
}

void TCustomFFmpeg::OptTime(const std::string& name, const TOptionValue& value) {
    const int64_t time = std::get<TOptionDuration>(value).Microseconds;
    if (name == "t") {
        FOptions.RecordingTime = time;
        FTotalDuration = time;
    } else if (name == "ss") {
        FOptions.StartTime = time;
    } else {
        FOptions.InputTsOffset = time;
    }
}

void TCustomFFmpeg::OptTimestamp(const std::string&, const TOptionValue& value) {
    FOptions.RecordingTimestamp = std::get<TOptionDate>(value).Seconds;
}

void TCustomFFmpeg::OptFileSize(const std::string&, const TOptionValue& value) {
    FOptions.LimitFileSize = std::get<int64_t>(value);
}

void TCustomFFmpeg::OptTsScale(const std::string&, const std::string& value) {
    const auto [stream, scale] = ParseTsScale(value);
    if (stream < 0 || stream >= MAX_STREAMS)
        throw FFmpegException(FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    FOptions.NextInputTsScale[stream] = scale;
}

void TCustomFFmpeg::OptMetadata(const std::string&, const TOptionValue& value) {
    const TOptionKeyValue& pair = std::get<TOptionKeyValue>(value);
    FOptions.Metadata.emplace_back(pair.Key, pair.Value);
}

void TCustomFFmpeg::OptFrames(const std::string& name, const TOptionValue& value) {
    const int index = name == "vframes" ? 0 : (name == "aframes" ? 1 : 2);
    FOptions.MaxFrames[index] = static_cast<int>(std::get<int64_t>(value));
}

void TCustomFFmpeg::OptTimeLimit(const std::string&, const std::string&) {
    Log(llWarning, "Warning: -timelimit not implemented on Windows");
}

void TCustomFFmpeg::OptTarget(const std::string&, const TOptionValue& value) {
    const TOptionTarget& target = std::get<TOptionTarget>(value);
    SetTarget(target.Type, target.Norm, target.Fallback);
}

// The codecs' thread count: a number, 0 or "auto" for the codec's choice.
void TCustomFFmpeg::OptThreads(const std::string& name, const std::string& value) {
    constexpr int kMaxThreadCount = 1024;
    const std::string text = Trim(value);
    if (text == "auto") {
        FOptions.ThreadCount = 0;
        return;
    }
    int count = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || count < 0 ||
        count > kMaxThreadCount)
        throw FFmpegException(InvalidValueText(name, value));
    FOptions.ThreadCount = count;
}

void TCustomFFmpeg::OptBitrate(const std::string& name, const std::string& value) {
    if (name.empty() || value.empty()) return;
    // "b" is the video bit rate: the libraries' option of that name also
    // reaches audio, whose own rate ("ab") stays as it was.
    const TQuietOptionRefusals quiet(StrictOptions); // refused below, once
    if (!SetCodecOption(name, value, TMediaKind::Any)) {
        if (StrictOptions) throw FFmpegException(InvalidValueText(name, value));
        return;
    }
    AVCodecContext* context = FOptionContexts.CodecOptions[name[0] == 'a' ? 1 : 0];
    int64_t bitRate = 0;
    // 0 asks for no bit rate target at all (constant quality), not a tiny one.
    if (context && ff::avutil.av_opt_get_int(context, "b", 0, &bitRate) >= 0 && bitRate > 0 &&
        bitRate < 1000)
        Log(llWarning, "WARNING: The bitrate parameter is set too low. It takes bits/s as "
                       "argument, not kbits/s");
}

void TCustomFFmpeg::OptFrameRate(const std::string&, const std::string& value) {
    AVRational rate{0, 0};
    if (ff::avutil.av_parse_video_rate(&rate, value.c_str()) < 0)
        throw FFmpegException("Incorrect frame rate");
    FOptions.FrameRateNum = rate.num;
    FOptions.FrameRateDen = rate.den;
}

void TCustomFFmpeg::OptFrameSize(const std::string&, const std::string& value) {
    int width = 0, height = 0;
    if (ff::avutil.av_parse_video_size(&width, &height, value.c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    // The libraries' own bound: the pixel count of a padded picture, times
    // eight, fits an int (so no later size arithmetic overflows).
    if ((static_cast<int64_t>(width) + 128) * (static_cast<int64_t>(height) + 128) >=
        std::numeric_limits<int>::max() / 8)
        throw FFmpegException(FormatText("Frame size %dx%d is too large", width, height));
    FOptions.FrameWidth = width;
    FOptions.FrameHeight = height;
    FOptions.FrameSizeOfTarget = false;
}

void TCustomFFmpeg::OptAspect(const std::string&, const std::string& value) {
    if (value.empty()) return;
    const double aspect = AspectFromText(value);
    if (aspect == 0.0) throw FFmpegException("Incorrect aspect ratio specification.");
    FOptions.FrameAspectRatio = static_cast<float>(aspect);
}

void TCustomFFmpeg::OptPixFmt(const std::string&, const std::string& value) {
    if (value == "list") {
        for (int fmt = 0; fmt < AV_PIX_FMT_NB; ++fmt)
            if (const char* fmtName =
                    ff::avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(fmt)))
                Log(llInfo, fmtName);
        return;
    }
    const AVPixelFormat fmt = ff::avutil.av_get_pix_fmt(value.c_str());
    if (fmt == AV_PIX_FMT_NONE)
        throw FFmpegException(FormatText("Unknown pixel format requested: %s", value.c_str()));
    FOptions.FramePixFmt = fmt;
}

void TCustomFFmpeg::OptSampleFmt(const std::string&, const std::string& value) {
    if (value == "list") {
        for (int fmt = 0; fmt < AV_SAMPLE_FMT_NB; ++fmt)
            if (const char* fmtName =
                    ff::avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(fmt)))
                Log(llInfo, fmtName);
        return;
    }
    FOptions.AudioSampleFmt = ff::avutil.av_get_sample_fmt(value.c_str());
}

void TCustomFFmpeg::OptCrop(const std::string& name, const TOptionValue& value) {
    const int v = static_cast<int>(std::get<int64_t>(value));
    if (v <= 0) return;
    const bool vertical = name == "croptop" || name == "cropbottom";
    int& size = vertical ? FOptions.FrameHeight : FOptions.FrameWidth;
    if (v >= size)
        throw FFmpegException(std::string(vertical ? "Vertical" : "Horizontal") +
                              " crop dimensions are outside the range of the original "
                              "image.\nRemember to crop first and scale second.");
    Log(llWarning, "CropXXX is deprecated in favor of the crop avfilter");
    if (name == "croptop")
        FOptions.FrameTopBand = v;
    else if (name == "cropbottom")
        FOptions.FrameBottomBand = v;
    else if (name == "cropleft")
        FOptions.FrameLeftBand = v;
    else
        FOptions.FrameRightBand = v;
    size -= v;
}

void TCustomFFmpeg::OptPad(const std::string&, const std::string&) {
    throw FFmpegException("Please use vfilters=pad");
}

void TCustomFFmpeg::OptQScale(const std::string&, const TOptionValue& value) {
    const double q = std::get<double>(value);
    if (q <= 0.0 || q > 255.0) throw FFmpegException("qscale must be > 0.0 and <= 255");
    FOptions.VideoQScale = static_cast<float>(q);
}

void TCustomFFmpeg::OptCodec(const std::string& name, const std::string& value) {
    SetCodecName(KindOfName(name), value);
}

void TCustomFFmpeg::SetCodecName(TMediaKind kind, const std::string& value) {
    if (value.empty()) return;
    bool* has[3] = {&FOptions.HasVideoCodecName, &FOptions.HasAudioCodecName,
                    &FOptions.HasSubtitleCodecName};
    std::string* names[3] = {&FOptions.VideoCodecName, &FOptions.AudioCodecName,
                             &FOptions.SubtitleCodecName};
    bool* copy[3] = {&FOptions.VideoStreamCopy, &FOptions.AudioStreamCopy,
                     &FOptions.SubtitleStreamCopy};
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

void TCustomFFmpeg::OptPass(const std::string&, const TOptionValue& value) {
    const int64_t pass = std::get<int64_t>(value);
    if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
    FOptions.DoPass = static_cast<int>(pass);
}

void TCustomFFmpeg::OptVStats(const std::string&, const std::string&) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S", &local);
    FOptions.VStatsFileName =
        FormatText("%svstats_%s.log", (ExecutableFolder() + "/").c_str(), clock);
    FOptions.HasVStatsFileName = true;
}

void TCustomFFmpeg::OptVHook(const std::string&, const std::string& value) {
    const THookModuleWords words = SplitHookWords(value);
    if (words.empty() || !AddHookModule(words))
        throw FFmpegException("Failed to add video hook function: " + value);
    FOptions.HookModules.push_back(words);
    FOptions.UsingVhook = true;
}

bool TCustomFFmpeg::AddHookModule(const THookModuleWords& words) {
    // 64 slots: the words (at most 63) and the end mark after them.
    std::array<char*, 64> argv{};
    const std::size_t count = std::min<std::size_t>(words.size(), argv.size() - 1);
    std::vector<std::string> copies(words.begin(), words.begin() + count);
    for (std::size_t i = 0; i < count; ++i)
        argv[i] = copies[i].data();
    return AddFrameHook(&FFrameHooks.Head, static_cast<int>(count), argv.data()) == 0;
}

void TCustomFFmpeg::OptVFilters(const std::string&, const std::string& value) {
    if (!value.empty()) FOptions.VFilters = value;
}

void TCustomFFmpeg::OptMatrix(const std::string& name, const std::string& value) {
    auto& matrix = name == "intra_matrix" ? FOptions.IntraMatrix : FOptions.InterMatrix;
    const auto parsed = ParseMatrix(value); // validated before the old matrix is touched
    if (!matrix) matrix = std::make_unique<std::array<uint16_t, 64>>();
    *matrix = parsed;
}

void TCustomFFmpeg::OptTag(const std::string& name, const std::string& value) {
    if (value.empty()) return;
    const char* kind = name == "vtag" ? "video" : (name == "atag" ? "audio" : "subtitle");
    if (value.size() != 4)
        throw FFmpegException(FormatText("%s tag parameter must be 4 chars", kind));
    uint32_t& tag = name == "vtag"   ? FOptions.VideoCodecTag
                    : name == "atag" ? FOptions.AudioCodecTag
                                     : FOptions.SubtitleCodecTag;
    tag = TagFromText(value);
}

void TCustomFFmpeg::OptNewStream(const std::string& name, const std::string&) {
    if (FOutputFiles.empty()) throw FFmpegException("At least one output file must be specified");
    const int last = OutputFileCount() - 1;
    if (name == "newvideo")
        NewVideoStream(last);
    else if (name == "newaudio")
        NewAudioStream(last);
    else
        NewSubtitleStream(last);
}

void TCustomFFmpeg::OptStreamId(const std::string& name, const std::string& value) {
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
    FOptions.StreamIdMap[streamIndex] = streamId;
}

void TCustomFFmpeg::OptSampleRate(const std::string&, const TOptionValue& value) {
    const int rate = static_cast<int>(std::get<int64_t>(value));
    if (rate > 0) FOptions.AudioSampleRate = rate;
}

void TCustomFFmpeg::OptChannels(const std::string&, const TOptionValue& value) {
    const int channels = static_cast<int>(std::get<int64_t>(value));
    if (channels > 0) FOptions.AudioChannels = channels;
}

void TCustomFFmpeg::OptBitstreamFilter(const std::string& name, const std::string& value) {
    if (value.empty() || value[0] == '=') return;
    const std::size_t eq = value.find('=');
    const std::string filterName = eq == std::string::npos ? value : value.substr(0, eq);
    const AVBitStreamFilter* filter = ff::avcodec.av_bsf_get_by_name(filterName.c_str());
    if (!filter)
        throw FFmpegException(FormatText("Unknown bitstream filter %s", Trim(value).c_str()));
    const std::string args = eq == std::string::npos ? std::string() : value.substr(eq + 1);
    FOptions.BitstreamFilters[KindOfName(name)].push_back({filter, args});
}

void TCustomFFmpeg::OptPreset(const std::string& name, const std::string& value) {
    LoadPreset(name, value);
}

// ---- presets ----

void TCustomFFmpeg::LoadPreset(const std::string& kind, const std::string& value) {
    if (kind.empty() || value.empty()) return;
    CheckLibraries();
    const TMediaKind mediaKind = kind[0] == 'f' ? TMediaKind::Any : KindOfName(kind);
    const TOptionsPreset* preset = nullptr;
    if (kind[0] != 'f') {
        preset = FindBuiltinPreset(value);
        std::string codec;
        if (kind[0] == 'v' && FOptions.HasVideoCodecName)
            codec = FOptions.VideoCodecName;
        else if (kind[0] == 'a' && FOptions.HasAudioCodecName)
            codec = FOptions.AudioCodecName;
        else if (FOptions.HasSubtitleCodecName)
            codec = FOptions.SubtitleCodecName;
        if (!preset && !codec.empty()) preset = FindBuiltinPreset(codec + "-" + value);
    }
    if (preset) {
        ApplyPresetText(value, preset->Text, mediaKind, true);
        return;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(value, error))
        throw FFmpegException(FormatText("Preset \"%s\" not found", value.c_str()));
    std::uint8_t* buffer = nullptr;
    int size = 0;
    if (ReadWholeFile(value, buffer, size) != 0)
        throw FFmpegException(FormatText("Preset \"%s\" not found", value.c_str()));
    const ff::AvBuffer owned(buffer);
    const std::string text(reinterpret_cast<const char*>(buffer), size > 0 ? size - 1 : 0);
    ApplyPresetText(value, text, mediaKind, false);
}

void TCustomFFmpeg::ApplyPresetText(const std::string& value, const std::string& text,
                                    TMediaKind kind, bool builtin) {
    std::string unified = Trim(text);
    for (std::size_t pos = 0; (pos = unified.find('\r', pos)) != std::string::npos;) {
        const bool crlf = pos + 1 < unified.size() && unified[pos + 1] == '\n';
        unified.replace(pos, crlf ? 2 : 1, "\n");
    }
    std::size_t start = 0;
    while (start <= unified.size()) {
        std::size_t lf = unified.find('\n', start);
        if (lf == std::string::npos) lf = unified.size();
        const std::string line = Trim(unified.substr(start, lf - start));
        start = lf + 1;
        if (line.empty()) continue;
        const std::size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : line.substr(0, eq);
        const std::string val = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (key.empty() || val.empty())
            throw FFmpegException(
                FormatText("%s: Invalid syntax: \"%s\"", value.c_str(), line.c_str()));
        ApplyPresetLine(value, line, key, val, kind, builtin);
    }
}

void TCustomFFmpeg::ApplyPresetLine(const std::string& value, const std::string& line,
                                    const std::string& key, const std::string& val, TMediaKind kind,
                                    bool builtin) {
    const std::string lower = Lower(key);
    if (lower == "acodec" || lower == "vcodec" || lower == "scodec") {
        SetCodecName(KindOfName(lower), val);
        return;
    }
    auto refusal = [&](const std::string& k, const std::string& v) {
        return FormatText("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                          value.c_str(), line.c_str(), k.c_str(), v.c_str());
    };
    auto refuse = [&](const std::string& k, const std::string& v) {
        throw FFmpegException(refusal(k, v));
    };
    if (!builtin) {
        if (!SetDefaultOrPrivateOption(key, val, kind, refusal(key, val))) refuse(key, val);
        return;
    }
    const TMappedPresetLine mapped = MapLegacyPresetLine(key, val);
    for (const std::string& dropped : mapped.Dropped)
        Log(llWarning, FormatText("%s: option \"%s\" of \"%s\" has no equivalent in the "
                                  "current encoder; skipped",
                                  value.c_str(), dropped.c_str(), line.c_str()));
    for (const auto& [k, v] : mapped.Options)
        if (!SetDefaultOrPrivateOption(k, v, kind, refusal(k, v))) refuse(k, v);
}

// ---- targets ----

int TCustomFFmpeg::GuessTargetNorm(const std::string& fallback) {
    if (FOptions.FrameRateDen == 0) throw FFmpegException("frame_rate is invalid.");
    int norm = NormOfRate(RoundHalfEvenInt(FOptions.FrameRateNum * 1000.0 / FOptions.FrameRateDen));
    for (std::size_t i = 0; norm < 0 && i < FInputFiles.size(); ++i) {
        AVFormatContext* context = FInputFiles[i].Context.get();
        for (unsigned s = 0; norm < 0 && s < context->nb_streams; ++s) {
            const AVStream* stream = context->streams[s];
            const AVRational rate = stream->r_frame_rate;
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && rate.den > 0)
                norm = NormOfRate(RoundHalfEvenInt(rate.num * 1000.0 / rate.den));
        }
    }
    if (norm < 0) norm = fallback == "film" ? nmFilm : (fallback == "ntsc" ? nmNtsc : nmPal);
    if (FOptions.Verbose > 0)
        Log(llVerbose, FormatText("Assuming %s for target.", norm == nmPal ? "PAL" : "NTSC"));
    return norm;
}

void TCustomFFmpeg::SetTarget(const std::string& type, const std::string& norm,
                              const std::string& fallback) {
    CheckLibraries();
    const TTargetProfile* profile = FindTargetProfile(type);
    int n;
    if (norm == "pal")
        n = nmPal;
    else if (norm == "ntsc")
        n = nmNtsc;
    else if (norm == "film")
        n = nmFilm;
    else
        n = GuessTargetNorm(fallback);
    if (!profile) throw FFmpegException("Unknown target type");
    const int side = n == nmPal ? 0 : 1;
    if (profile->VideoCodec) SetCodecName(TMediaKind::Video, profile->VideoCodec);
    if (profile->AudioCodec) SetCodecName(TMediaKind::Audio, profile->AudioCodec);
    FOptions.FormatName = profile->Format;
    OptFrameSize("s", profile->FrameSize[side]);
    FOptions.FrameSizeOfTarget = true;
    if (profile->PixFmt[side]) OptPixFmt("pix_fmt", profile->PixFmt[side]);
    OptFrameRate("r", NormFrameRate(n));
    for (const TTargetOption& option : profile->Options)
        SetDefaultOrPrivateOption(option.Name, option.Value[side], TMediaKind::Any);
    for (const auto& [name, value] : profile->VideoPrivate)
        SetPrivateOption(TMediaKind::Video, name, value);
    FOptions.AudioSampleRate = profile->SampleRate;
    if (profile->Channels == tcStereo || FOptions.AudioChannels == 1) FOptions.AudioChannels = 2;
    if (profile->MuxPreload > 0.0f) FOptions.MuxPreload = profile->MuxPreload;
    if (profile->DefaultAspect && FOptions.FrameAspectRatio == 0.0f) {
        Log(llInfo, FormatText("Assuming %s for aspect ratio", profile->DefaultAspect));
        OptAspect("aspect", profile->DefaultAspect);
    }
}
