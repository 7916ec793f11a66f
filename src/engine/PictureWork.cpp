#include "engine/PictureWork.h"

#include "media/AVFilterEntries.h"
#include "media/FFmpegLogger.h"
#include "media/FilterLink.h"
#include "media/MyUtils.h"
#include "media/PictureMatrix.h"
#include "media/ScalerPicture.h"

#include <algorithm>
#include <cstring>

namespace {

const char* TurnFilters(int rotation) {
    if (rotation == 90) return "transpose=dir=clock";
    if (rotation == 270) return "transpose=dir=cclock";
    return "hflip,vflip";
}

} // namespace

void TPictureWork::TGraphFree::operator()(AVFilterGraph* graph) const {
    ff::avfilter.avfilter_graph_free(&graph);
}

bool TPictureWork::TOneFilter::Fits(const AVFrame* picture) const {
    return Graph && Width == picture->width && Height == picture->height &&
           Format == picture->format;
}

bool TPictureWork::TOneFilter::Build(const AVFrame* picture, const char* filters) {
    Graph.reset(ff::avfilter.avfilter_graph_alloc());
    Source = Sink = nullptr;
    Width = picture->width;
    Height = picture->height;
    Format = picture->format;
    const AVFilter* buffer = ff::avfilter.avfilter_get_by_name("buffer");
    const AVFilter* sink = ff::avfilter.avfilter_get_by_name("buffersink");
    const AVRational sar =
        picture->sample_aspect_ratio.num ? picture->sample_aspect_ratio : AVRational{0, 1};
    const std::string args = BufferSourceArgs(picture->width, picture->height, picture->format,
                                              AVRational{1, AV_TIME_BASE}, sar);
    AVFilterGraph* graph = Graph.get();
    const bool built = graph && buffer && sink &&
                       ff::avfilter.avfilter_graph_create_filter(
                           &Source, buffer, "src", args.c_str(), nullptr, graph) >= 0 &&
                       ff::avfilter.avfilter_graph_create_filter(&Sink, sink, "out", nullptr,
                                                                 nullptr, graph) >= 0 &&
                       LinkByText(graph, filters, Source, Sink) >= 0 &&
                       ff::avfilter.avfilter_graph_config(graph, nullptr) >= 0;
    if (!built) Graph.reset();
    return built;
}

TPictureWork::TPictureWork(THooks hooks, bool deinterlace, TLog log)
    : FHooks(hooks), FModulesOn(hooks.ModulesOn), FDeinterlace(deinterlace), FLog(std::move(log)) {}

TPictureWork::~TPictureWork() = default;

TPictureWork::TStreamPictures& TPictureWork::Stream(int index) {
    if (index >= static_cast<int>(FStreams.size())) FStreams.resize(index + 1);
    return FStreams[index];
}

void TPictureWork::AddStream(int index, int file, int stream, int rotation) {
    TStreamPictures& pictures = Stream(index);
    pictures.Name = FormatText("#%d.%d", file, stream);
    pictures.Rotation = rotation;
}

void TPictureWork::ToneMapAheadOfHook(int index, const std::string& text) {
    TStreamPictures& pictures = Stream(index);
    if (!pictures.ToneMap) pictures.ToneMap = std::make_unique<TPictureChain>();
    pictures.ToneMap->SetText(text);
}

bool TPictureWork::HookOn() const {
    return FHooks.Callback || FModulesOn;
}

bool TPictureWork::Changes() const {
    if (HookOn() || FDeinterlace) return true;
    for (const TStreamPictures& stream : FStreams)
        if (stream.Rotation != 0 || stream.ToneMap) return true;
    return false;
}

AVFrame* TPictureWork::Work(int index, AVFrame* decoded, int64_t pts) {
    FFault.Tick();
    TStreamPictures& stream = Stream(index);
    return PreProcess(ToneMap(stream, TurnUpright(stream, decoded)), pts);
}

// The picture as it is shown: a stream with a rotation is turned by a
// filter that holds no frame back. Without a rotation, or when the filter
// fails (logged once), the picture itself.
AVFrame* TPictureWork::TurnUpright(TStreamPictures& stream, AVFrame* picture) {
    if (stream.Rotation == 0) return picture;
    if (!stream.Upright) stream.Upright.reset(ff::avutil.av_frame_alloc());
    if (!stream.Upright ||
        (!stream.Turn.Fits(picture) && !stream.Turn.Build(picture, TurnFilters(stream.Rotation)))) {
        FLog(llError, "Cannot turn the pictures of stream " + stream.Name + " upright");
        stream.Rotation = 0;
        return picture;
    }
    AVFrame* upright = stream.Upright.get();
    ff::avutil.av_frame_unref(upright);
    if (ff::avfilter.av_buffersrc_add_frame_flags(stream.Turn.Source, picture,
                                                  AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
        ff::avfilter.av_buffersink_get_frame(stream.Turn.Sink, upright) < 0)
        throw FFmpegException("Error while turning a picture upright");
    return upright;
}

AVFrame* TPictureWork::ToneMap(TStreamPictures& stream, AVFrame* picture) {
    if (!stream.ToneMap) return picture;
    AVFrame* mapped = stream.ToneMap->Run(picture);
    if (!mapped) throw FFmpegException("Cannot tone-map the pictures of stream " + stream.Name);
    return mapped;
}

// Deinterlacing and the hook work on a picture of ours: the decoder's
// picture may be shared with the outputs' references. Each picture gets a
// buffer of the pool (the one before may still be held by an output).
AVFrame* TPictureWork::PreProcess(AVFrame* picture, int64_t pts) {
    FPictures.fetch_add(1, std::memory_order_relaxed);
    const bool hook = static_cast<bool>(FHooks.Callback);
    if (!FDeinterlace && !hook && !FModulesOn) return picture;
    if (!FBuffer) FBuffer.reset(ff::avutil.av_frame_alloc());
    AVFrame* buffer = FBuffer.get();
    if (!buffer || !FBufferPool.Get(buffer, picture->width, picture->height, picture->format)) {
        FLog(llError, "hook buf malloc error.");
        return picture;
    }
    ff::avutil.av_frame_copy_props(buffer, picture);
    if (hook && !FDeinterlace && HookRewritesWholePicture(*picture)) {
        if (!CallHook(picture, buffer, pts)) ff::avutil.av_frame_copy(buffer, picture);
        return buffer;
    }
    if (!FDeinterlace || !Deinterlace(picture, buffer)) {
        if (FDeinterlace) FLog(llError, "Deinterlacing failed.");
        ff::avutil.av_frame_copy(buffer, picture);
    }
    if (hook) {
        CallHook(buffer, buffer, pts);
    } else if (FModulesOn) {
        FrameHookPicture view{};
        for (int plane = 0; plane < 4; ++plane) {
            view.data[plane] = buffer->data[plane];
            view.linesize[plane] = buffer->linesize[plane];
        }
        ProcessFrameHooks(FHooks.Modules.Head, &view, buffer->format, buffer->width, buffer->height,
                          pts);
    }
    return buffer;
}

// Whether the hook's drawing, converted back from its bitmap, fills every
// plane of a picture of this format, so that the picture need not be
// copied before the hook. A picture that is itself the bitmap's format is
// drawn on in place; pictures with alpha or a palette keep the copy too.
bool TPictureWork::HookRewritesWholePicture(const AVFrame& picture) {
    if (picture.format == AV_PIX_FMT_BGR24) return false;
    const AVPixFmtDescriptor* format =
        ff::avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
    return format && !(format->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL |
                                        AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM));
}

// With a filter that works inside one frame (no frame is held back), into
// `target` of the same shape.
bool TPictureWork::Deinterlace(const AVFrame* source, AVFrame* target) {
    if (!FDeinterlacer.Fits(source) && !FDeinterlacer.Build(source, "pp=lb")) return false;
    if (!FDeinterlaced) FDeinterlaced.reset(ff::avutil.av_frame_alloc());
    if (!FDeinterlaced ||
        ff::avfilter.av_buffersrc_add_frame_flags(
            FDeinterlacer.Source, const_cast<AVFrame*>(source), AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
        ff::avfilter.av_buffersink_get_frame(FDeinterlacer.Sink, FDeinterlaced.get()) < 0)
        return false;
    AVFrame* done = FDeinterlaced.get();
    const bool same = done->width == target->width && done->height == target->height &&
                      done->format == target->format;
    if (same) ff::avutil.av_frame_copy(target, done);
    ff::avutil.av_frame_unref(done);
    return same;
}

// The hook draws on `source` (as a bitmap); its drawing goes into `target`
// (`source` itself, or a picture of the same shape). True when it did.
bool TPictureWork::CallHook(const AVFrame* source, AVFrame* target, int64_t pts) {
    const bool onCanvas = source->format != AV_PIX_FMT_BGR24;
    Bitmap24* bitmap = onCanvas ? ToCanvas(*source) : ToBitmap(*source);
    bool stop = !bitmap;
    bool drawn = false;
    if (!bitmap) {
        FLog(llError, "Cannot initialize the toRGB conversion context");
    } else {
        bool update = true;
        try {
            FHooks.Callback(FHooks.Task, bitmap, stop, update, pts, Pictures());
        } catch (const std::exception& e) {
            FLog(llError, std::string("Error occurs OnCustomHook: ") + e.what());
            update = false;
        }
        drawn = update && (onCanvas ? FromCanvas(target) : PutBack(target, *bitmap));
        if (update && !drawn) stop = true;
    }
    if (stop) {
        FHooks.Callback = nullptr;
        FModulesOn = false;
    }
    return drawn;
}

Bitmap24* TPictureWork::ToBitmap(const AVFrame& picture) {
    return FrameToBitmap(FToRGB, &picture) ? FToRGB.Bitmap.get() : nullptr;
}

// A picture of another format than the bitmap's is converted straight into
// the canvas the hook draws on, and back from it: no rows are copied on the
// way. The scaler may read and write past the last pixel
// (media/ScalerPicture.h), so the canvas's rows are followed by room.
Bitmap24* TPictureWork::ToCanvas(const AVFrame& picture) {
    if (picture.width <= 0 || picture.height <= 0 || !picture.data[0]) return nullptr;
    FToCanvas.reset(ff::swscale.sws_getCachedContext(
        FToCanvas.release(), picture.width, picture.height,
        static_cast<AVPixelFormat>(picture.format), picture.width, picture.height, AV_PIX_FMT_BGR24,
        SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!FToCanvas) return nullptr;
    SetPictureMatrix(FToCanvas.get(), MatrixOf(picture), /*toRgb=*/true);
    FCanvas.SetSize(picture.width, picture.height);
    RoomAfterCanvas();
    std::uint8_t* planes[4] = {FCanvas.Data.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {FCanvas.Stride, 0, 0, 0};
    ff::swscale.sws_scale(FToCanvas.get(), picture.data, picture.linesize, 0, picture.height,
                          planes, strides);
    return &FCanvas;
}

// The canvas (which the hook may have resized, not reshaped) into `picture`.
bool TPictureWork::FromCanvas(AVFrame* picture) {
    if (FCanvas.Width != picture->width || FCanvas.Height != picture->height ||
        FCanvas.Stride != Bitmap24::RowLength(picture->width))
        return false;
    RoomAfterCanvas();
    if (!FromRGBScaler(*picture)) return false;
    const std::uint8_t* planes[4] = {FCanvas.Data.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {FCanvas.Stride, 0, 0, 0};
    ff::swscale.sws_scale(FFromRGB.get(), planes, strides, 0, picture->height, picture->data,
                          picture->linesize);
    return true;
}

// The scaler from BGR back into `picture`'s format and colours.
bool TPictureWork::FromRGBScaler(const AVFrame& picture) {
    // Of an odd width, the colour of the last pixel pair would take in the
    // bytes past the row's end: the colour is then taken of every pixel.
    const int flags = SWS_BICUBIC | ((picture.width & 1) ? SWS_FULL_CHR_H_INP : 0);
    FFromRGB.reset(ff::swscale.sws_getCachedContext(
        FFromRGB.release(), picture.width, picture.height, AV_PIX_FMT_BGR24, picture.width,
        picture.height, static_cast<AVPixelFormat>(picture.format), flags, nullptr, nullptr,
        nullptr));
    if (FFromRGB && SetPictureMatrix(FFromRGB.get(), MatrixOf(picture), /*toRgb=*/false))
        return true;
    FLog(llError, "Cannot initialize the fromRGB conversion context");
    return false;
}

void TPictureWork::RoomAfterCanvas() {
    const std::size_t rows = static_cast<std::size_t>(FCanvas.Stride) * FCanvas.Height;
    const std::size_t room = rows + FCanvas.Stride + kScalerPadding;
    if (FCanvas.Data.size() < room) FCanvas.Data.resize(room);
}

// The bitmap back into the picture it was filled from, then, for a picture
// that is not itself BGR, into the frame; false when that cannot be done.
bool TPictureWork::PutBack(AVFrame* picture, Bitmap24& bitmap) {
    auto* target = const_cast<uint8_t*>(FToRGB.SourceData);
    const int linesize = FToRGB.SourceLinesize;
    const std::size_t count = static_cast<std::size_t>(std::min(linesize, bitmap.Stride));
    for (int y = 0; y < bitmap.Height; ++y)
        std::memcpy(target + static_cast<std::ptrdiff_t>(y) * linesize, bitmap.Row(y), count);
    if (target == picture->data[0]) return true;
    if (!FromRGBScaler(*picture)) return false;
    ff::swscale.sws_scale(FFromRGB.get(), FToRGB.PictureData, FToRGB.PictureLinesize, 0,
                          picture->height, picture->data, picture->linesize);
    return true;
}
