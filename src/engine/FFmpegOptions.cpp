// Option parsing of the task engine: the handlers of the option table
// (FFmpegOptionTable.cpp) and presets. The option contexts are in
// FFmpegOptionContexts.cpp, the targets in FFmpegTargets.cpp.
#include "engine/FFmpeg.h"

#include "media/FFmpegHeaders.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"
#include "engine/FFmpegPresets.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <ctime>
#include <limits>
#include <filesystem>

TMediaKind MediaKindOf(int mediaType) {
    return mediaType == AVMEDIA_TYPE_VIDEO   ? TMediaKind::Video
           : mediaType == AVMEDIA_TYPE_AUDIO ? TMediaKind::Audio
                                             : TMediaKind::Subtitle;
}

TMediaKind MediaKindOfOption(const std::string& name) {
    if (!name.empty() && name[0] == 'v') return TMediaKind::Video;
    if (!name.empty() && name[0] == 'a') return TMediaKind::Audio;
    return TMediaKind::Subtitle;
}

void TCustomFFmpeg::Log(int level, const std::string& text) const {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
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
    SetCodecName(MediaKindOfOption(name), value);
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
    FOptions.BitstreamFilters[MediaKindOfOption(name)].push_back({filter, args});
}

void TCustomFFmpeg::OptPreset(const std::string& name, const std::string& value) {
    LoadPreset(name, value);
}

// ---- presets ----

void TCustomFFmpeg::LoadPreset(const std::string& kind, const std::string& value) {
    if (kind.empty() || value.empty()) return;
    CheckLibraries();
    const TMediaKind mediaKind = kind[0] == 'f' ? TMediaKind::Any : MediaKindOfOption(kind);
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
        SetCodecName(MediaKindOfOption(lower), val);
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
