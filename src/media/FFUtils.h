// Shared media helpers: texts for media values, the option contexts of the
// engine, the picture-to-bitmap conversion and reading a whole file. The
// file, text and time helpers that need no media library (FileUtils.h) and
// the main-thread hand-over (RunInMainThread, QueueInMainThread,
// ProcessPendingMessages, MainThread.h) are included here.
#pragma once

#include "media/Bitmap24.h"
#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"
#include "media/FileUtils.h"
#include "media/MainThread.h"
#include "media/PictureMatrix.h"

#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// ---- Texts for media values ----

// "N/A" for AV_NOPTS_VALUE, else "%.2d:%.2d:%.2d.%.3d" (hours may grow).
std::string DurationToText(std::int64_t microseconds);
// prefix + ": " + the sentence for the library error code.
std::string MediaErrorText(const std::string& prefix, int code);
// "Video", "Audio", "Data", "Subtitle", "Attachment" or "Unknown".
std::string MediaTypeName(int type);
// The codec's name and long name, else a text made from the codec tag.
std::string CodecDescription(const AVCodecContext* context, bool encoder);
// The value of `key` in `metadata`, else `defaultValue`.
std::string MetadataValue(const AVDictionary* metadata, const std::string& key,
                          const std::string& defaultValue);
// "%.2f GB" / "%.2f MB" / "%.2f KB" / "%d Byte".
std::string SizeToText(std::int64_t bytes);

// How far a stream's pictures turn clockwise to stand upright (0, 90, 180
// or 270 degrees): from its display matrix, else from the older "rotate" tag.
int StreamRotation(const AVStream* stream);
// Whether the upright picture has the stored one's width and height swapped.
inline bool IsQuarterTurn(int rotation) {
    return rotation == 90 || rotation == 270;
}

// ---- Option contexts ----

// The contexts free-form options are parsed into before they are copied onto
// a task's real contexts. One per engine instance, used by one thread.
struct TOptionContexts {
    // Names of the recorded options, held by the libraries' option tables.
    std::vector<const char*> OptionNames;
    int OptionNameCount = 0; // == OptionNames.size()
    // One per media type: 0 video, 1 audio, 2 data, 3 subtitle, 4 attachment.
    AVCodecContext* CodecOptions[5] = {};
    AVFormatContext* FormatOptions = nullptr;
    SwsContext* ScalerOptions = nullptr;

    TOptionContexts() = default;
    ~TOptionContexts();
    TOptionContexts(const TOptionContexts&) = delete;
    TOptionContexts& operator=(const TOptionContexts&) = delete;
};

void InitOptionContexts(TOptionContexts& contexts);
// Allocates the codec contexts (codec_type = i), the format context and a
// 16x16 scaler context with `scalerFlags`. False when one cannot be had.
bool AllocOptionContexts(TOptionContexts& contexts, int scalerFlags);
void FreeOptionContexts(TOptionContexts& contexts);
// Parses one option into the contexts; true when found and accepted.
bool SetDefaultOption(TOptionContexts& contexts, const char* name, const char* value);
// While one exists, SetDefaultOption on the same thread leaves a refused
// value unlogged: the caller reports the refusal itself, once.
class TQuietOptionRefusals {
public:
    explicit TQuietOptionRefusals(bool quiet = true);
    ~TQuietOptionRefusals();
    TQuietOptionRefusals(const TQuietOptionRefusals&) = delete;
    TQuietOptionRefusals& operator=(const TQuietOptionRefusals&) = delete;
    static bool Active();

private:
    bool FWasQuiet;
};
// Copies every recorded option that `source` knows onto `target` when the
// option's flags hold every bit of `flags` (and `accept`, when given, takes
// the name). Failures are ignored.
void ApplyRecordedOptions(TOptionContexts& contexts, void* target, void* source, int flags,
                          const std::function<bool(const char* name)>& accept = nullptr);

// ---- Picture to bitmap ----

// One per owner (engine, probe, player), used by one thread at a time.
struct TToRGBContext {
    AVPixelFormat DstPixFmt = AV_PIX_FMT_BGR24;
    int BitmapFormat = 24; // bits per pixel
    std::unique_ptr<Bitmap24> Bitmap;
    ff::AvBuffer Buffer;
    int BufferSize = 0;
    std::uint8_t* PictureData[4] = {};
    int PictureLinesize[4] = {};
    const std::uint8_t* SourceData = nullptr; // first plane copied last
    int SourceLinesize = 0;
    ff::SwsContextPtr ScaleContext;
    ff::SwsContextPtr ReverseScaleContext;
};

void ResetToRGBContext(TToRGBContext& context);
// Fills context.Bitmap with the picture; false when no scaler can be had.
// A YUV picture converts with its own matrix (`colour`: its colour space
// and range; none: untagged, BT.709 for HD, BT.601 below).
bool FrameToBitmap(TToRGBContext& context, const std::uint8_t* const data[4], const int linesize[4],
                   AVPixelFormat sourceFormat, int width, int height,
                   const TPictureMatrix* colour = nullptr);
bool FrameToBitmap(TToRGBContext& context, const AVFrame* frame);

// ---- Giving up opening files ----

// A process-wide request that opening and probing give up: a blocked open,
// read or connect of a file being opened returns AVERROR_EXIT, and a
// component that is about to open a file fails instead. Meant for a
// program that stops while it is still setting up (a stop signal);
// RequestOpenInterrupt only stores a lock-free atomic flag, so a signal
// handler may call it.
void RequestOpenInterrupt();
void ClearOpenInterrupt();
bool OpenInterruptRequested();
// The callback for AVFormatContext.interrupt_callback / avio_open2 that
// answers OpenInterruptRequested.
AVIOInterruptCB OpenInterruptCallback();

// ---- General helpers ----

// 0 on success (buffer from av_malloc, freed by the caller with av_free;
// size counts the terminating zero byte), -1 when the file cannot be
// opened, -12 when the buffer cannot be allocated.
int ReadWholeFile(const std::string& fileName, std::uint8_t*& buffer, int& size);
