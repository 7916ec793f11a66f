#include "media/FFUtils.h"

#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/CRuntimeEntries.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/ScalerPicture.h"
#include "media/PictureMatrix.h"
#include "media/SwScaleEntries.h"
#include "media/UnicodeProtocol.h"
#include "media/TextUtils.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstring>

// ---- Texts for media values ----

std::string DurationToText(std::int64_t t) {
    if (t == AV_NOPTS_VALUE) return "N/A";
    std::int64_t seconds = t / 1000000;
    return FormatText("%.2d:%.2d:%.2d.%.3d", static_cast<int>(seconds / 60 / 60),
                      static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60),
                      static_cast<int>((t % 1000000) * 1000 / 1000000));
}

namespace {

struct TErrorSentence {
    int Code;
    const char* Sentence;
};

const TErrorSentence ErrorSentences[] = {
    {AVERROR(ENOENT), "No such file or directory"},
    {AVERROR(EIO), "I/O error"},
    {AVERROR(ENOMEM), "Not enough memory"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_EOF, "End of file"},
    {AVERROR(EDOM), "Number syntax expected in filename"},
    {AVERROR(EILSEQ), "Unknown format"},
    {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
};

constexpr std::string_view kBlanks = " \t\r\n";

std::string TagText(unsigned tag) {
    char c[4];
    bool printable = true;
    for (int i = 0; i < 4; ++i) {
        c[i] = static_cast<char>((tag >> (8 * i)) & 0xFF);
        if (c[i] < 32 || c[i] > 126) printable = false;
    }
    if (printable) return FormatText("%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], tag);
    return FormatText("0x%04x", tag);
}

// The libraries' text for their own codes, else the system's for an
// AVERROR(errno); empty when neither knows the code.
std::string SystemErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (FFmpegLoader().IsLoaded(libAVUtil) && ff::avutil.av_strerror(code, text, sizeof text) == 0)
        return text;
    if (code >= 0 || code < -4095) return {};
    char buffer[256] = {};
    const char* message = strerror_r(-code, buffer, sizeof buffer); // the GNU form
    if (!message || std::strncmp(message, "Unknown error", 13) == 0) return {};
    return message;
}

} // namespace

std::string MediaErrorText(const std::string& prefix, int code) {
    for (const TErrorSentence& entry : ErrorSentences)
        if (entry.Code == code) return prefix + ": " + entry.Sentence;
    const std::string system = SystemErrorText(code);
    return prefix + ": " + (system.empty() ? FormatText("Error number %d occurred", code) : system);
}

std::string MediaTypeName(int type) {
    static const char* const names[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
    unsigned index = static_cast<unsigned>(type);
    return index < 5 ? names[index] : "Unknown";
}

std::string CodecDescription(const AVCodecContext* context, bool encoder) {
    const AVCodec* codec = encoder ? ff::avcodec.avcodec_find_encoder(context->codec_id)
                                   : ff::avcodec.avcodec_find_decoder(context->codec_id);
    if (codec) {
        std::string longName = Trim(codec->long_name ? codec->long_name : "", kBlanks);
        if (longName.empty()) return codec->name;
        return FormatText("%s(%s)", codec->name, longName.c_str());
    }
    if (context->codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
    return TagText(context->codec_tag);
}

std::string MetadataValue(const AVDictionary* metadata, const std::string& key,
                          const std::string& defaultValue) {
    const AVDictionaryEntry* entry = ff::avutil.av_dict_get(metadata, key.c_str(), nullptr, 0);
    return entry && entry->value ? entry->value : defaultValue;
}

std::string SizeToText(std::int64_t bytes) {
    if (bytes > 1073741824) return FormatText("%.2f GB", bytes / 1073741824.0);
    if (bytes > 1048576) return FormatText("%.2f MB", bytes / 1048576.0);
    if (bytes > 1024) return FormatText("%.2f KB", bytes / 1024.0);
    return FormatText("%lld Byte", static_cast<long long>(bytes));
}

namespace {

// Degrees clockwise from the display matrix side data; false without one.
bool MatrixRotation(const AVStream* stream, double& degrees) {
    for (int i = 0; i < stream->nb_side_data; ++i) {
        const AVPacketSideData& data = stream->side_data[i];
        if (data.type != AV_PKT_DATA_DISPLAYMATRIX || data.size < 9 * sizeof(int32_t)) continue;
        // The matrix gives the counter-clockwise angle.
        degrees = -ff::avutil.av_display_rotation_get(reinterpret_cast<const int32_t*>(data.data));
        return !std::isnan(degrees);
    }
    return false;
}

bool TagRotation(const AVStream* stream, double& degrees) {
    const AVDictionaryEntry* tag = ff::avutil.av_dict_get(stream->metadata, "rotate", nullptr, 0);
    if (!tag || !tag->value) return false;
    const char* end = tag->value + std::strlen(tag->value);
    long value = 0;
    const auto [stop, error] = std::from_chars(tag->value, end, value);
    if (error != std::errc() || stop != end) return false;
    degrees = static_cast<double>(value);
    return true;
}

} // namespace

int StreamRotation(const AVStream* stream) {
    double degrees = 0.0;
    if (!stream || (!MatrixRotation(stream, degrees) && !TagRotation(stream, degrees))) return 0;
    const long quarters = std::lround(degrees / 90.0) % 4;
    return static_cast<int>((quarters + 4) % 4 * 90);
}

// ---- Option contexts ----

TOptionContexts::~TOptionContexts() {
    FreeOptionContexts(*this);
}

void InitOptionContexts(TOptionContexts& contexts) {
    contexts.OptionNames.clear();
    contexts.OptionNameCount = 0;
    for (AVCodecContext*& codec : contexts.CodecOptions)
        codec = nullptr;
    contexts.FormatOptions = nullptr;
    contexts.ScalerOptions = nullptr;
}

bool AllocOptionContexts(TOptionContexts& contexts, int scalerFlags) {
    FreeOptionContexts(contexts);
    for (int i = 0; i < 5; ++i) {
        contexts.CodecOptions[i] = ff::avcodec.avcodec_alloc_context3(nullptr);
        if (contexts.CodecOptions[i])
            contexts.CodecOptions[i]->codec_type = static_cast<AVMediaType>(i);
    }
    contexts.FormatOptions = ff::avformat.avformat_alloc_context();
    contexts.ScalerOptions =
        ff::swscale.sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                   scalerFlags, nullptr, nullptr, nullptr);
    for (AVCodecContext* codec : contexts.CodecOptions)
        if (!codec) return false;
    return contexts.FormatOptions && contexts.ScalerOptions;
}

void FreeOptionContexts(TOptionContexts& contexts) {
    for (AVCodecContext*& codec : contexts.CodecOptions) {
        if (codec && ff::avcodec.avcodec_free_context) ff::avcodec.avcodec_free_context(&codec);
        codec = nullptr;
    }
    if (contexts.FormatOptions && ff::avformat.avformat_free_context)
        ff::avformat.avformat_free_context(contexts.FormatOptions);
    contexts.FormatOptions = nullptr;
    if (contexts.ScalerOptions && ff::swscale.sws_freeContext)
        ff::swscale.sws_freeContext(contexts.ScalerOptions);
    contexts.ScalerOptions = nullptr;
    contexts.OptionNames.clear();
    contexts.OptionNameCount = 0;
}

namespace {

// Parameter flags per media type: video, audio, none, subtitle, none.
const int TypeFlags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                          AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// Where an option was found and what setting it gave.
struct TOptionSearch {
    const AVOption* Found = nullptr;
    int Result = 0;
};

// Finds `name` on `lookUp` (with flags as both flags and mask) and sets it
// on `target`.
void TrySet(TOptionSearch& search, void* lookUp, void* target, const char* name, const char* value,
            int flags) {
    if (!lookUp || !target) return;
    const AVOption* option = ff::avutil.av_opt_find(lookUp, name, nullptr, flags, 0);
    if (!option) return;
    search.Found = option;
    search.Result = ff::avutil.av_opt_set(target, name, value, 0);
}

void SearchCodecContexts(TOptionSearch& search, TOptionContexts& contexts, const char* name,
                         const char* value) {
    for (int i = 0; i < 5 && search.Result >= 0; ++i)
        TrySet(search, contexts.CodecOptions[0], contexts.CodecOptions[i], name, value,
               TypeFlags[i]);
}

// "a", "v" or "s" before a codec option names the audio, video or subtitle
// context.
void SearchPrefixed(TOptionSearch& search, TOptionContexts& contexts, const char* name,
                    const char* value) {
    int type = -1;
    if (name[0] == 'a') type = AVMEDIA_TYPE_AUDIO;
    if (name[0] == 'v') type = AVMEDIA_TYPE_VIDEO;
    if (name[0] == 's') type = AVMEDIA_TYPE_SUBTITLE;
    if (type < 0) return;
    void* context = contexts.CodecOptions[type];
    TrySet(search, context, context, name + 1, value, 0);
}

void RecordOption(TOptionContexts& contexts, const AVOption* option) {
    contexts.OptionNames.push_back(option->name);
    contexts.OptionNameCount = static_cast<int>(contexts.OptionNames.size());
}

} // namespace

namespace {

thread_local bool tQuietRefusals = false;

} // namespace

TQuietOptionRefusals::TQuietOptionRefusals(bool quiet) : FWasQuiet(tQuietRefusals) {
    tQuietRefusals = tQuietRefusals || quiet;
}

TQuietOptionRefusals::~TQuietOptionRefusals() {
    tQuietRefusals = FWasQuiet;
}

bool TQuietOptionRefusals::Active() {
    return tQuietRefusals;
}

bool SetDefaultOption(TOptionContexts& contexts, const char* name, const char* value) {
    if (!name || !value || Trim(name, kBlanks).empty() || Trim(value, kBlanks).empty())
        return false;
    TOptionSearch search;
    SearchCodecContexts(search, contexts, name, value);
    if (!search.Found)
        TrySet(search, contexts.FormatOptions, contexts.FormatOptions, name, value, 0);
    if (!search.Found)
        TrySet(search, contexts.ScalerOptions, contexts.ScalerOptions, name, value, 0);
    if (!search.Found) SearchPrefixed(search, contexts, name, value);
    if (search.Found && search.Result < 0) {
        if (!tQuietRefusals)
            ff::avutil.av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n",
                              value, name);
        return false;
    }
    if (!search.Found) return false;
    RecordOption(contexts, search.Found);
    if ((contexts.CodecOptions[0] && contexts.CodecOptions[0]->debug) ||
        (contexts.FormatOptions && contexts.FormatOptions->debug))
        GetLogger().SetLogLevel(llDebug);
    return true;
}

void ApplyRecordedOptions(TOptionContexts& contexts, void* target, void* source, int flags,
                          const std::function<bool(const char* name)>& accept) {
    if (!target || !source) return;
    for (const char* name : contexts.OptionNames) {
        if (accept && !accept(name)) continue;
        const AVOption* option = ff::avutil.av_opt_find(source, name, nullptr, 0, 0);
        if (!option || (option->flags & flags) != flags) continue;
        std::uint8_t* value = nullptr;
        if (ff::avutil.av_opt_get(source, name, 0, &value) < 0 || !value) continue;
        ff::avutil.av_opt_set(target, name, reinterpret_cast<const char*>(value), 0);
        ff::avutil.av_free(value);
    }
}

// ---- Picture to bitmap ----

void ResetToRGBContext(TToRGBContext& context) {
    context.Bitmap.reset();
    context.Buffer.reset();
    context.ScaleContext.reset();
    context.ReverseScaleContext.reset();
    context.DstPixFmt = AV_PIX_FMT_BGR24;
    context.BitmapFormat = 24;
    context.BufferSize = 0;
    for (int i = 0; i < 4; ++i) {
        context.PictureData[i] = nullptr;
        context.PictureLinesize[i] = 0;
    }
    context.SourceData = nullptr;
    context.SourceLinesize = 0;
}

namespace {

bool NeedsConversion(const TToRGBContext& context, const int linesize[4],
                     AVPixelFormat sourceFormat, int width, int height) {
    return sourceFormat != context.DstPixFmt || (width & 1) || (height & 1) ||
           linesize[0] != Bitmap24::RowLength(width);
}

bool ConvertToPicture(TToRGBContext& context, const std::uint8_t* const data[4],
                      const int linesize[4], AVPixelFormat sourceFormat, int width, int height,
                      const TPictureMatrix& colour) {
    if (!PrepareScalerPicture(context, context.DstPixFmt, width, height)) return false;
    context.ScaleContext.reset(ff::swscale.sws_getCachedContext(
        context.ScaleContext.release(), width, height, sourceFormat, width, height,
        context.DstPixFmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!context.ScaleContext) return false;
    SetPictureMatrix(context.ScaleContext.get(), colour, true);
    ff::swscale.sws_scale(context.ScaleContext.get(), data, linesize, 0, height,
                          context.PictureData, context.PictureLinesize);
    context.SourceData = context.PictureData[0];
    context.SourceLinesize = context.PictureLinesize[0];
    return true;
}

// Copies the rows of the source into the bitmap, never past a bitmap row.
void CopyRows(TToRGBContext& context, int height) {
    Bitmap24& bitmap = *context.Bitmap;
    std::size_t count = static_cast<std::size_t>(std::min(context.SourceLinesize, bitmap.Stride));
    const std::uint8_t* source = context.SourceData;
    for (int row = 0; row < height; ++row) {
        std::memcpy(bitmap.Row(row), source, count);
        source += context.SourceLinesize;
    }
}

} // namespace

bool FrameToBitmap(TToRGBContext& context, const std::uint8_t* const data[4], const int linesize[4],
                   AVPixelFormat sourceFormat, int width, int height,
                   const TPictureMatrix* colour) {
    if (width <= 0 || height <= 0 || !data || !data[0]) return false;
    if (!context.Bitmap) context.Bitmap = std::make_unique<Bitmap24>();
    context.Bitmap->SetSize(width, height);
    if (NeedsConversion(context, linesize, sourceFormat, width, height)) {
        const TPictureMatrix untagged{AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, sourceFormat,
                                      width, height};
        if (!ConvertToPicture(context, data, linesize, sourceFormat, width, height,
                              colour ? *colour : untagged))
            return false;
    } else {
        context.SourceData = data[0];
        context.SourceLinesize = linesize[0];
    }
    CopyRows(context, height);
    return true;
}

bool FrameToBitmap(TToRGBContext& context, const AVFrame* frame) {
    if (!frame) return false;
    const TPictureMatrix colour = MatrixOf(*frame);
    return FrameToBitmap(context, frame->data, frame->linesize,
                         static_cast<AVPixelFormat>(frame->format), frame->width, frame->height,
                         &colour);
}

// ---- Giving up opening files ----

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
std::atomic<bool> gOpenInterrupt{false};

int AnswerOpenInterrupt(void*) {
    return gOpenInterrupt.load() ? 1 : 0;
}

} // namespace

void RequestOpenInterrupt() {
    gOpenInterrupt.store(true);
}

void ClearOpenInterrupt() {
    gOpenInterrupt.store(false);
}

bool OpenInterruptRequested() {
    return gOpenInterrupt.load();
}

AVIOInterruptCB OpenInterruptCallback() {
    return AVIOInterruptCB{AnswerOpenInterrupt, nullptr};
}

// ---- General helpers ----

namespace {

// The C library's file functions, through the bound table when it is bound.
struct TFileCalls {
    decltype(&::fopen) Open = ff::crt.fopen ? ff::crt.fopen : &::fopen;
    decltype(&::fclose) Close = ff::crt.fclose ? ff::crt.fclose : &::fclose;
    decltype(&::fread) Read = ff::crt.fread ? ff::crt.fread : &::fread;
    decltype(&::fseek) Seek = ff::crt.fseek ? ff::crt.fseek : &::fseek;
    decltype(&::ftell) Tell = ff::crt.ftell ? ff::crt.ftell : &::ftell;
};

} // namespace

int ReadWholeFile(const std::string& fileName, std::uint8_t*& buffer, int& size) {
    buffer = nullptr;
    size = 0;
    std::string path = FromLibraryName(fileName);
    if (!IsExistingFile(path)) return -1;
    TFileCalls calls;
    FILE* file = calls.Open(path.c_str(), "rb");
    if (!file) return -1;
    calls.Seek(file, 0, SEEK_END);
    long length = calls.Tell(file);
    calls.Seek(file, 0, SEEK_SET);
    if (length < 0 || length >= 0x7FFFFFFF || !ff::avutil.av_malloc) {
        calls.Close(file);
        return length < 0 ? -1 : -12;
    }
    buffer = static_cast<std::uint8_t*>(ff::avutil.av_malloc(static_cast<size_t>(length) + 1));
    if (!buffer) {
        calls.Close(file);
        return -12;
    }
    size_t done = calls.Read(buffer, 1, static_cast<size_t>(length), file);
    buffer[done] = 0;
    size = static_cast<int>(done) + 1;
    calls.Close(file);
    return 0;
}
