#include "probe/AVProbe.h"

#include "media/FFHandles.h"
#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "media/LiteralNames.h"
#include "media/NestedOpens.h"
#include "media/UnicodeProtocol.h"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace {

const char* const NotLoaded = "file not loaded.";
const AVRational MicrosecondBase = {1, 1000000};

struct TKeyName {
    const char* Stored;
    const char* Shown;
};

const TKeyName KeyNames[] = {
    {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
    {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
    {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
    {"TSOT", "titlesort"}, {"TYER", "year"},
};

// A codec context filled from the stream's parameters (never opened).
ff::CodecContextPtr StreamCodecContext(const AVStream* stream) {
    ff::CodecContextPtr context(ff::avcodec.avcodec_alloc_context3(nullptr));
    if (context && ff::avcodec.avcodec_parameters_to_context(context.get(), stream->codecpar) < 0)
        context.reset();
    return context;
}

std::string StreamCodecName(const AVStream* stream) {
    ff::CodecContextPtr context = StreamCodecContext(stream);
    return context ? CodecDescription(context.get(), false) : std::string();
}

std::string Language(const AVStream* stream) {
    return MetadataValue(stream->metadata, "language", "");
}

// A time base with a zero denominator gets its numerator, then 1.
void RepairTimeBase(AVStream* stream) {
    if (stream->time_base.den == 0) stream->time_base.den = stream->time_base.num;
    if (stream->time_base.den == 0) stream->time_base.den = 1;
}

std::int64_t ToMicroseconds(std::int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE) return -1;
    return ff::avutil.av_rescale_q(value, base, MicrosecondBase);
}

// The leading number of a metadata text ("2010-05-01" -> 2010, "3/12" -> 3).
int LeadingNumber(const std::string& text) {
    return text.empty() ? 0 : static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

std::int64_t CreationTime(const AVDictionary* metadata) {
    std::string text = MetadataValue(metadata, "creation_time", "");
    std::int64_t microseconds = 0;
    if (text.empty() || ff::avutil.av_parse_time(&microseconds, text.c_str(), 0) < 0) return 0;
    return microseconds / 1000000;
}

std::string SecondsText(std::int64_t microseconds) {
    std::int64_t rest = ff::avutil.av_rescale(microseconds % 1000000, 1000000, 1000000);
    return FormatText("%d.%.6d", static_cast<int>(microseconds / 1000000), static_cast<int>(rest));
}

void AddLine(std::string& text, const std::string& line) {
    text += line;
    text += "\r\n";
}

// The metadata lines; nothing for no metadata or for "language" alone.
void AppendMetadata(std::string& text, const AVDictionary* metadata, const std::string& indent) {
    if (!metadata) return;
    int count = ff::avutil.av_dict_count(metadata);
    if (count == 0) return;
    const AVDictionaryEntry* entry = nullptr;
    if (count == 1) {
        entry = ff::avutil.av_dict_get(metadata, "", nullptr, AV_DICT_IGNORE_SUFFIX);
        if (entry && std::string(entry->key) == "language") return;
    }
    AddLine(text, indent + "Metadata:");
    entry = nullptr;
    while ((entry = ff::avutil.av_dict_get(metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        if (std::string(entry->key) == "language") continue;
        AddLine(text, FormatText("%s  %-16s: %s", indent.c_str(),
                                 TranslateMetadataKey(entry->key).c_str(), entry->value));
    }
}

std::string AspectText(const AVStream* stream, const AVCodecParameters* codec) {
    AVRational sar = stream->sample_aspect_ratio;
    AVRational codecSar = codec->sample_aspect_ratio;
    if (sar.num == 0 || sar.num * codecSar.den == codecSar.num * sar.den) return {};
    int width = codec->width, height = codec->height;
    if (IsQuarterTurn(StreamRotation(stream))) { // as the picture is shown
        std::swap(width, height);
        sar = AVRational{sar.den, sar.num};
    }
    int darNum = 0, darDen = 0;
    ff::avutil.av_reduce(&darNum, &darDen, static_cast<std::int64_t>(width) * sar.num,
                         static_cast<std::int64_t>(height) * sar.den, 1024 * 1024);
    return FormatText(", PAR %d:%d DAR %d:%d", sar.num, sar.den, darNum, darDen);
}

std::string RatesText(const AVStream* stream, const AVCodecContext* context) {
    std::string text;
    auto add = [&text](AVRational rate, bool inverse, const char* unit) {
        if (rate.num == 0 || rate.den == 0) return;
        text += RateText(inverse ? static_cast<double>(rate.den) / rate.num
                                 : static_cast<double>(rate.num) / rate.den,
                         unit);
    };
    add(stream->avg_frame_rate, false, "fps");
    add(stream->r_frame_rate, false, "tbr");
    add(stream->time_base, true, "tbn");
    if (context) add(context->time_base, true, "tbc");
    return text;
}

// Current demuxers name a program's provider and name "service_provider"
// and "service_name"; older ones "provider_name" and "name".
std::string ProgramProvider(const AVDictionary* metadata) {
    return MetadataValue(metadata, "service_provider",
                         MetadataValue(metadata, "provider_name", "N/A"));
}

std::string ProgramName(const AVDictionary* metadata) {
    return MetadataValue(metadata, "service_name", MetadataValue(metadata, "name", "N/A"));
}

} // namespace

std::string TranslateMetadataKey(const std::string& key) {
    for (const TKeyName& name : KeyNames)
        if (key == name.Stored) return name.Shown;
    return key;
}

std::string RateText(double value, const char* unit) {
    long long v = std::llrint(value * 100);
    if (v % 100 != 0) return FormatText(", %3.2f %s", value, unit);
    if (v % 100000 != 0) return FormatText(", %1.0f %s", value, unit);
    return FormatText(", %1.0fk %s", value / 1000, unit);
}

// ---- TCustomAVProbe ----

TCustomAVProbe::TCustomAVProbe(TFFBaseComponent* owner) : TFFBaseComponent(owner) {}

TCustomAVProbe::~TCustomAVProbe() {
    TCustomAVProbe::CloseFile();
}

void TCustomAVProbe::ReportError(TLogLevel level, const std::string& text) {
    FLastErrMsg = text;
    GetLogger().Log(this, level, text);
}

void TCustomAVProbe::CheckLibraries() const {
    TFFmpegLoader& loader = FFmpegLoader();
    if (!loader.IsLoaded(libAVCodec)) throw EAVProbeError("LibAVCodec not loaded.");
    if (!loader.IsLoaded(libAVFormat)) throw EAVProbeError("LibAVFormat not loaded.");
    if (!loader.IsLoaded(libAVUtil)) throw EAVProbeError("LibAVUtil not loaded.");
    if (!loader.IsLoaded(libSwScale)) throw EAVProbeError("LibSwScale not loaded.");
}

bool TCustomAVProbe::LoadFile(const std::string& fileName, const std::string& formatName) {
    CheckLibraries();
    CloseFile();
    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = ff::avformat.av_find_input_format(formatName.c_str());
        if (!format) {
            FLastErrMsg = FormatText("Unknown input format: %s", formatName.c_str());
            return false;
        }
    }
    if (!OpenInput(fileName, format)) return false;
    int found;
    {
        std::lock_guard lock(CodecLock());
        found = ff::avformat.avformat_find_stream_info(FFormatContext, nullptr);
    }
    if (found < 0) {
        FLastErrMsg =
            FormatText("%s: could not find codec parameters", FromLibraryName(fileName).c_str());
        CloseFile();
        return false;
    }
    RefreshInfo();
    FForcedFormat = formatName;
    return true;
}

// Opens the file into a context allocated here, so its non-blocking flag
// applies.
bool TCustomAVProbe::OpenInput(const std::string& fileName, const AVInputFormat* format) {
    AVFormatContext* context = ff::avformat.avformat_alloc_context();
    if (!context) {
        ReportError(llError, MediaErrorText(FromLibraryName(fileName), AVERROR(ENOMEM)));
        return false;
    }
    context->flags |= AVFMT_FLAG_NONBLOCK;
    // A program that stops while probing gets its blocked read back.
    context->interrupt_callback = OpenInterruptCallback();
    std::string name = ToLibraryName(fileName);
    KeepNestedOpensInFolder(context, name);
    AVDictionary* rawOptions = nullptr;
    ReadExistingFileAsItself(name, &rawOptions);
    TakeRefusedOpen();
    int result = AVERROR_EXIT;
    if (OpenInterruptRequested())
        ff::avformat.avformat_free_context(context);
    else
        result = ff::avformat.avformat_open_input(&context, name.c_str(), format, &rawOptions);
    const ff::DictionaryPtr options(rawOptions);
    if (result < 0) {
        // avformat_open_input has freed the context.
        ReportError(llError, OpenFailureText(FromLibraryName(fileName), result));
        CloseFile();
        return false;
    }
    FFormatContext = context;
    FOwnsContext = true;
    return true;
}

void TCustomAVProbe::AttachContext(AVFormatContext* context) {
    CheckLibraries();
    CloseFile();
    FOwnsContext = false;
    FFormatContext = context;
    RefreshInfo();
}

void TCustomAVProbe::ForgetContext() {
    if (FFormatContext && FOwnsContext) ff::avformat.avformat_close_input(&FFormatContext);
    FFormatContext = nullptr;
    FOwnsContext = false;
}

void TCustomAVProbe::CloseFile() {
    FForcedFormat.clear();
    ForgetContext();
    TCustomAVProbe::RefreshInfo();
}

void TCustomAVProbe::ResetCounts() {
    FFileSize = -1;
    FStreamCount = FProgramCount = -1;
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
    FFirstAudioStreamIndex = FFirstVideoStreamIndex = FFirstSubtitleStreamIndex = -1;
}

void TCustomAVProbe::RefreshInfo() {
    ResetCounts();
    if (!FFormatContext) return;
    // The file's size from the file itself; the byte stream only for other
    // names (the byte stream may be read by another thread meanwhile).
    std::string path = FromLibraryName(FFormatContext->url ? FFormatContext->url : "");
    if (IsExistingFile(path))
        FFileSize = GetFileSize64(path);
    else if (FFormatContext->pb)
        FFileSize = ff::avformat.avio_size(FFormatContext->pb);
    CountStreams();
}

void TCustomAVProbe::CountStreams() {
    FStreamCount = static_cast<int>(FFormatContext->nb_streams);
    FProgramCount = static_cast<int>(FFormatContext->nb_programs);
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
    for (int i = 0; i < FStreamCount; ++i) {
        switch (FFormatContext->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            ++FVideoStreamCount;
            if (FFirstVideoStreamIndex < 0) FFirstVideoStreamIndex = i;
            break;
        case AVMEDIA_TYPE_AUDIO:
            ++FAudioStreamCount;
            if (FFirstAudioStreamIndex < 0) FFirstAudioStreamIndex = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ++FSubtitleStreamCount;
            if (FFirstSubtitleStreamIndex < 0) FFirstSubtitleStreamIndex = i;
            break;
        default:
            break;
        }
    }
}

bool TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo& info) {
    info = TFileStreamInfo{};
    if (!FFormatContext) {
        ReportError(llWarning, NotLoaded);
        return false;
    }
    const AVFormatContext* c = FFormatContext;
    const AVDictionary* m = c->metadata;
    info.StartTime = c->start_time == AV_NOPTS_VALUE ? -1 : c->start_time;
    info.Duration = c->duration == AV_NOPTS_VALUE ? -1 : c->duration;
    info.BitRate = static_cast<std::int32_t>(c->bit_rate);
    info.Timestamp = CreationTime(m);
    info.Year = LeadingNumber(MetadataValue(m, "date", MetadataValue(m, "year", "")));
    info.Track = LeadingNumber(MetadataValue(m, "track", ""));
    info.Title = MetadataValue(m, "title", "");
    info.Author = MetadataValue(m, "author", MetadataValue(m, "artist", ""));
    info.Copyright = MetadataValue(m, "copyright", "");
    info.Comment = MetadataValue(m, "comment", "");
    info.Album = MetadataValue(m, "album", "");
    info.Genre = MetadataValue(m, "genre", "");
    return true;
}

// The stream of `type` at `streamIndex` (the first of the kind for a
// negative index), or nullptr after reporting why not.
AVStream* TCustomAVProbe::StreamOfKind(int& streamIndex, AVMediaType type) {
    bool audio = type == AVMEDIA_TYPE_AUDIO;
    if (!FFormatContext) {
        ReportError(llWarning, NotLoaded);
        return nullptr;
    }
    if (streamIndex < 0) {
        streamIndex = audio ? FFirstAudioStreamIndex : FFirstVideoStreamIndex;
        if (streamIndex < 0) {
            ReportError(llError, audio ? "no audio stream." : "no video stream.");
            return nullptr;
        }
    }
    if (streamIndex >= FStreamCount) {
        ReportError(llError, FormatText("stream index #%d is invalid.", streamIndex));
        return nullptr;
    }
    AVStream* stream = FFormatContext->streams[streamIndex];
    if (stream->codecpar->codec_type != type) {
        ReportError(llError, FormatText(audio ? "stream #%d is not audio stream."
                                              : "stream #%d is not video stream.",
                                        streamIndex));
        return nullptr;
    }
    return stream;
}

namespace {

// The fields audio and video stream descriptions share.
template <typename TInfo> void FillCommonStreamInfo(AVStream* stream, TInfo& info) {
    info.Language = Language(stream);
    info.CodecName = StreamCodecName(stream);
    info.StartTime = stream->start_time;
    info.Duration = stream->duration;
    RepairTimeBase(stream);
    info.StartTimeUS = ToMicroseconds(stream->start_time, stream->time_base);
    info.DurationUS = ToMicroseconds(stream->duration, stream->time_base);
    info.BitRate = static_cast<std::int32_t>(stream->codecpar->bit_rate);
}

// The stream's pixel aspect wins over the codec's, as in the conversion.
AVRational PixelAspect(const AVStream* stream, bool turned) {
    AVRational sar = stream->sample_aspect_ratio.num > 0 ? stream->sample_aspect_ratio
                                                         : stream->codecpar->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) return AVRational{1, 1};
    return turned ? AVRational{sar.den, sar.num} : sar;
}

void SetDisplaySize(const AVStream* stream, bool turned, TVideoStreamInfo& info) {
    const AVRational sar = PixelAspect(stream, turned);
    info.DisplayHeight = info.Height;
    info.DisplayWidth = info.Width;
    if (info.Width > 0 && sar.num != sar.den)
        info.DisplayWidth = static_cast<std::int32_t>(
            (static_cast<std::int64_t>(info.Width) * sar.num + sar.den / 2) / sar.den);
}

} // namespace

bool TCustomAVProbe::GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info) {
    info = TAudioStreamInfo{};
    AVStream* stream = StreamOfKind(streamIndex, AVMEDIA_TYPE_AUDIO);
    if (!stream) return false;
    const AVCodecParameters* codec = stream->codecpar;
    FillCommonStreamInfo(stream, info);
    info.Channels = codec->ch_layout.nb_channels;
    info.SampleRate = codec->sample_rate;
    info.SampleFormat = codec->format;
    return true;
}

bool TCustomAVProbe::GetVideoStreamInfo(int streamIndex, TVideoStreamInfo& info) {
    info = TVideoStreamInfo{};
    AVStream* stream = StreamOfKind(streamIndex, AVMEDIA_TYPE_VIDEO);
    if (!stream) return false;
    const AVCodecParameters* codec = stream->codecpar;
    FillCommonStreamInfo(stream, info);
    // A phone's picture is described as it is shown, turned upright.
    const bool turned = IsQuarterTurn(StreamRotation(stream));
    info.Height = turned ? codec->width : codec->height;
    info.Width = turned ? codec->height : codec->width;
    AVRational sar = codec->sample_aspect_ratio;
    if (turned) sar = AVRational{sar.den, sar.num};
    info.DisplayAspect = 0.0f;
    if (sar.num != 0 && sar.den != 0 && info.Height != 0)
        info.DisplayAspect = static_cast<float>(sar.num) / static_cast<float>(sar.den) *
                             static_cast<float>(info.Width) / static_cast<float>(info.Height);
    SetDisplaySize(stream, turned, info);
    info.PixelFormat = codec->format;
    info.FrameRateNum = stream->r_frame_rate.num;
    info.FrameRateDen = stream->r_frame_rate.den;
    return true;
}

bool TCustomAVProbe::IsStreamOfType(int streamIndex, int mediaType) {
    if (!FFormatContext) {
        ReportError(llWarning, NotLoaded);
        return false;
    }
    if (streamIndex < 0 || streamIndex >= FStreamCount) {
        ReportError(llError, FormatText("stream index #%d is invalid.", streamIndex));
        return false;
    }
    return FFormatContext->streams[streamIndex]->codecpar->codec_type == mediaType;
}

bool TCustomAVProbe::IsAudioStream(int streamIndex) {
    return IsStreamOfType(streamIndex, AVMEDIA_TYPE_AUDIO);
}

bool TCustomAVProbe::IsVideoStream(int streamIndex) {
    return IsStreamOfType(streamIndex, AVMEDIA_TYPE_VIDEO);
}

std::string TCustomAVProbe::GetFileName() {
    if (!FFormatContext) {
        ReportError(llWarning, NotLoaded);
        return {};
    }
    return FromLibraryName(FFormatContext->url ? FFormatContext->url : "");
}

std::string TCustomAVProbe::GetFormatName() {
    if (!FFormatContext || !FFormatContext->iformat) {
        ReportError(llWarning, NotLoaded);
        return {};
    }
    return FFormatContext->iformat->name;
}

std::string TCustomAVProbe::StreamLine(int streamIndex) {
    AVStream* stream = FFormatContext->streams[streamIndex];
    std::string line = FormatText("Stream #%d", streamIndex);
    if (FFormatContext->iformat->flags & AVFMT_SHOW_IDS) line += FormatText("[0x%x]", stream->id);
    std::string language = Language(stream);
    if (!language.empty()) line += "(" + language + ")";
    RepairTimeBase(stream);
    int gcd = static_cast<int>(ff::avutil.av_gcd(stream->time_base.num, stream->time_base.den));
    if (gcd == 0) gcd = 1;
    line += FormatText(", %d/%d", stream->time_base.num / gcd, stream->time_base.den / gcd);
    ff::CodecContextPtr context = StreamCodecContext(stream);
    char codecText[256] = {};
    if (context && IsQuarterTurn(StreamRotation(stream))) { // the size as it is shown
        std::swap(context->width, context->height);
        context->sample_aspect_ratio =
            AVRational{context->sample_aspect_ratio.den, context->sample_aspect_ratio.num};
    }
    if (context) ff::avcodec.avcodec_string(codecText, sizeof codecText, context.get(), 0);
    line += std::string(": ") + codecText;
    line += AspectText(stream, stream->codecpar);
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        line += RatesText(stream, context.get());
    if (stream->start_time != AV_NOPTS_VALUE)
        line +=
            ", StartTime: " + SecondsText(ToMicroseconds(stream->start_time, stream->time_base));
    if (stream->duration == AV_NOPTS_VALUE)
        line += ", Duration: N/A";
    else
        line +=
            ", Duration: " + DurationToText(ToMicroseconds(stream->duration, stream->time_base));
    return line;
}

void TCustomAVProbe::AppendStreamsOf(std::string& text, const AVProgram* program,
                                     std::vector<bool>& shown) {
    for (unsigned i = 0; i < program->nb_stream_indexes; ++i) {
        unsigned index = program->stream_index[i];
        if (index >= FFormatContext->nb_streams) continue;
        AddLine(text, StreamLine(static_cast<int>(index)));
        AppendMetadata(text, FFormatContext->streams[index]->metadata, "  ");
        shown[index] = true;
    }
}

std::string TCustomAVProbe::GetFormatInfoText() {
    if (!FFormatContext) {
        ReportError(llWarning, NotLoaded);
        return {};
    }
    const AVInputFormat* format = FFormatContext->iformat;
    std::string text;
    AddLine(text, "File Name: " + GetFileName());
    AddLine(text, FormatText("Format Name: %s", format->name));
    AddLine(text, FormatText("Format Long Name: %s", format->long_name ? format->long_name : ""));
    AddLine(text, "File Size: " + SizeToText(FFileSize));
    TFileStreamInfo info;
    GetFileStreamInfo(info);
    AddLine(text, info.Duration < 0 ? std::string("Duration: N/A")
                                    : "Duration: " + DurationToText(info.Duration));
    if (info.StartTime >= 0) AddLine(text, "StartTime: " + SecondsText(info.StartTime));
    AddLine(text, info.BitRate < 1 ? std::string("Bit Rate: N/A")
                                   : FormatText("Bit Rate: %d kb/s", info.BitRate / 1000));
    if (info.Timestamp > 0)
        AddLine(text, "Time Stamp: " + DateTimeToText("yyyy-mm-dd hh:nn:ss",
                                                      UnixTimeToLocalDateTime(info.Timestamp)));
    AppendMetadata(text, FFormatContext->metadata, "");
    std::vector<bool> shown(FFormatContext->nb_streams, false);
    for (unsigned p = 0; p < FFormatContext->nb_programs; ++p) {
        const AVProgram* program = FFormatContext->programs[p];
        std::string name =
            ProgramProvider(program->metadata) + "@" + ProgramName(program->metadata);
        AddLine(text, FormatText("Program %d %s", program->id, name.c_str()));
        AppendMetadata(text, program->metadata, "  ");
        AppendStreamsOf(text, program, shown);
    }
    for (unsigned i = 0; i < FFormatContext->nb_streams; ++i) {
        if (shown[i]) continue;
        AddLine(text, StreamLine(static_cast<int>(i)));
        AppendMetadata(text, FFormatContext->streams[i]->metadata, "  ");
    }
    return text;
}

// ---- TAVProbe ----

TAVProbe::TAVProbe(TFFBaseComponent* owner) : TCustomAVProbe(owner) {}

TAVProbe::~TAVProbe() {
    TAVProbe::CloseFile();
}

void TAVProbe::CloseFile() {
    FMainStream = -1;
    FStartTime = 0;
    if (FDecoderContext) {
        std::lock_guard lock(CodecLock());
        FDecoderContext.reset();
    }
    ResetToRGBContext(FToRGB);
    TCustomAVProbe::CloseFile();
}

void TAVProbe::RefreshInfo() {
    TCustomAVProbe::RefreshInfo();
    FMainStream = FirstVideoStreamIndex() >= 0 ? FirstVideoStreamIndex() : FirstAudioStreamIndex();
    FStartTime = 0;
    if (!FormatContext()) return;
    std::int64_t start = FMainStream >= 0 ? FormatContext()->streams[FMainStream]->start_time
                                          : FormatContext()->start_time;
    FStartTime = start == AV_NOPTS_VALUE ? 0 : start;
}
