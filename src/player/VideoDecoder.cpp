#include "player/VideoDecoder.h"

#include "media/AVCodecEntries.h"
#include "media/AVFilterEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FilterLink.h"
#include "media/ToneMap.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

// The video thread's filter graph: "buffer" source, the tone mapping of an
// HDR picture, rotation filters when the stream asks for them, "buffersink"
// limited to planar YUV 4:2:0. Rebuilt when the decoded pictures change
// size, format or transfer.
struct TVideoFilter {
    AVFilterGraph* Graph = nullptr;
    AVFilterContext* Source = nullptr;
    AVFilterContext* Sink = nullptr;
    int Width = 0, Height = 0, Format = -1, Transfer = -1;

    ~TVideoFilter() { Free(); }
    void Free() {
        if (Graph) ff::avfilter.avfilter_graph_free(&Graph);
        Source = Sink = nullptr;
    }
    bool Matches(const AVFrame* frame) const {
        return Graph && frame->width == Width && frame->height == Height &&
               frame->format == Format && frame->color_trc == Transfer;
    }
};

const char* RotationFilters(int rotation) {
    switch (rotation) {
    case 90:
        return "transpose=clock";
    case 180:
        return "hflip,vflip";
    case 270:
        return "transpose=cclock";
    default:
        return nullptr;
    }
}

// The filters between source and sink: an HDR picture's tone mapping, then
// the rotation; empty when neither is needed.
std::string FilterChain(const AVFrame* frame, int rotation) {
    std::string chain =
        ToneMapAvailable() ? ToneMapFilterText(ColourOf(*frame), "yuv420p") : std::string();
    if (const char* turn = RotationFilters(rotation))
        chain += (chain.empty() ? "" : ",") + std::string(turn);
    return chain;
}

bool LinkThrough(TVideoFilter& filter, const char* text) {
    return LinkByText(filter.Graph, text, filter.Source, filter.Sink) >= 0;
}

bool BuildFilter(TVideoFilter& filter, const AVFrame* frame, AVStream* stream, int rotation) {
    filter.Free();
    filter.Graph = ff::avfilter.avfilter_graph_alloc();
    if (!filter.Graph) return false;
    filter.Graph->scale_sws_opts = ff::avutil.av_strdup("flags=4");
    AVRational sar = frame->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
    const std::string args =
        BufferSourceArgs(frame->width, frame->height, frame->format, stream->time_base, sar);
    if (ff::avfilter.avfilter_graph_create_filter(&filter.Source,
                                                  ff::avfilter.avfilter_get_by_name("buffer"),
                                                  "src", args.c_str(), nullptr, filter.Graph) < 0)
        return false;
    if (ff::avfilter.avfilter_graph_create_filter(&filter.Sink,
                                                  ff::avfilter.avfilter_get_by_name("buffersink"),
                                                  "out", nullptr, nullptr, filter.Graph) < 0)
        return false;
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P};
    if (ff::avutil.av_opt_set_bin(filter.Sink, "pix_fmts",
                                  reinterpret_cast<const std::uint8_t*>(formats), sizeof(formats),
                                  AV_OPT_SEARCH_CHILDREN) < 0)
        return false;
    const std::string chain = FilterChain(frame, rotation);
    bool linked = !chain.empty()
                      ? LinkThrough(filter, chain.c_str())
                      : ff::avfilter.avfilter_link(filter.Source, 0, filter.Sink, 0) >= 0;
    if (!linked || ff::avfilter.avfilter_graph_config(filter.Graph, nullptr) < 0) return false;
    filter.Width = frame->width;
    filter.Height = frame->height;
    filter.Format = frame->format;
    filter.Transfer = frame->color_trc;
    return true;
}

} // namespace

double FrameDuration(const AVStream* stream) {
    AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) return static_cast<double>(rate.den) / rate.num;
    return 0.04;
}

// The decoded and the filtered picture and the filter graph between them.
struct TVideoDecoder::TDecoding {
    ff::FramePtr Frame{ff::avutil.av_frame_alloc()};
    ff::FramePtr Filtered{ff::avutil.av_frame_alloc()};
    TVideoFilter Filter;
};

TVideoDecoder::TVideoDecoder(TPacketQueue& packets, TPictureQueue& pictures,
                             const std::atomic<bool>& refreshPending)
    : FPackets(packets), FPictures(pictures), FRefreshPending(refreshPending) {}

TVideoDecoder::~TVideoDecoder() = default;

void TVideoDecoder::Open(AVCodecContext* codec, AVStream* stream, int rotation) {
    FCodec = codec;
    FStream = stream;
    FRotation = rotation;
}

void TVideoDecoder::SeekStarting(double exact) {
    FFlushMet = false;
    FPendingTarget = exact;
}

void TVideoDecoder::FallBehind() {
    FSkipFrames = std::min(FSkipFrames * 1.05f, 100.0f);
}

// ---- Video thread ----

void TVideoDecoder::Run(IVideoDecoderEvents& events) {
    FDecoding = std::make_unique<TDecoding>();
    if (!FDecoding->Frame || !FDecoding->Filtered) return;
    bool drained = false;
    for (;;) {
        while (!FPackets.Aborted() && !events.MayDecode())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ff::PacketPtr packet;
        bool isFlush = false;
        if (FPackets.Get(packet, isFlush, true) < 0) break;
        if (isFlush) {
            Flush(events);
            drained = false;
            continue;
        }
        bool empty = !packet->data && packet->size == 0;
        if (empty) {
            events.InputEnded();
            if (drained) continue;
            drained = true;
        }
        if (DecodePacket(empty ? nullptr : packet.get(), events) < 0) break;
        if (empty && FinishInput(events) < 0) break;
    }
}

// Sends `packet` (nullptr: the end of the input, which drains the decoder)
// to the decoder and filters every picture it gives. -1 when the thread
// must end.
int TVideoDecoder::DecodePacket(AVPacket* packet, IVideoDecoderEvents& events) {
    if (ff::avcodec.avcodec_send_packet(FCodec, packet) < 0 && packet) return 0;
    AVFrame* frame = FDecoding->Frame.get();
    int result = 0;
    while (result >= 0 && ff::avcodec.avcodec_receive_frame(FCodec, frame) == 0) {
        frame->pts = frame->best_effort_timestamp;
        if (SkipPicture()) {
            events.PictureSkipped();
            ff::avutil.av_frame_unref(frame);
            continue;
        }
        result = FilterPicture(frame, events);
    }
    return result;
}

// Whether this picture is skipped: of every SkipFrames pictures one is kept.
bool TVideoDecoder::SkipPicture() {
    FSkipIndex += 1;
    if (FSkipIndex < FSkipFrames) return true;
    FSkipIndex -= std::max(1.0f, FSkipFrames.load());
    return false;
}

int TVideoDecoder::FilterPicture(AVFrame* frame, IVideoDecoderEvents& events) {
    TDecoding& decoding = *FDecoding;
    if (!decoding.Filter.Matches(frame) &&
        !BuildFilter(decoding.Filter, frame, FStream, FRotation)) {
        events.Failed("Cannot build the video filter graph");
        return -1;
    }
    if (ff::avfilter.av_buffersrc_add_frame_flags(decoding.Filter.Source, frame, 0) < 0) return 0;
    AVFrame* filtered = decoding.Filtered.get();
    int result = 0;
    while (result >= 0 && ff::avfilter.av_buffersink_get_frame(decoding.Filter.Sink, filtered) >= 0)
        result = PassPicture(filtered, events);
    return result;
}

// The decoder has given its last picture: a seek that asked for a time after
// it shows that one.
int TVideoDecoder::FinishInput(IVideoDecoderEvents& events) {
    if (FHeldFrame) {
        ff::FramePtr held = std::move(FHeldFrame);
        FSeekTarget = -1;
        if (PassPicture(held.get(), events) < 0) return -1;
    }
    events.InputFinished();
    return 0;
}

// One filtered picture: dropped while it is before the seek target, else
// queued for display.
int TVideoDecoder::PassPicture(AVFrame* picture, IVideoDecoderEvents& events) {
    if (FPictures.FlushPending()) {
        // Decoded from before a seek: never shown.
        ff::avutil.av_frame_unref(picture);
        return 0;
    }
    double pts = picture->pts == AV_NOPTS_VALUE
                     ? 0
                     : static_cast<double>(picture->pts) * av_q2d(FStream->time_base);
    if (FSeekTarget >= 0) {
        if (pts + 0.0005 < FSeekTarget) {
            if (!FHeldFrame) FHeldFrame.reset(ff::avutil.av_frame_alloc());
            ff::avutil.av_frame_unref(FHeldFrame.get());
            ff::avutil.av_frame_move_ref(FHeldFrame.get(), picture);
            return 0;
        }
        FSeekTarget = -1;
        FHeldFrame.reset();
    }
    if (FFlushMet) events.PictureAfterFlush();
    // A picture without a time stamp takes the video clock; one at 0 (the
    // first picture after a rewind) keeps its own.
    pts = FPictures.StampPicture(picture->pts != AV_NOPTS_VALUE, pts,
                                 FrameDuration(FStream) * (1 + 0.5 * picture->repeat_pict));
    int result = QueuePicture(picture, pts, events);
    ff::avutil.av_frame_unref(picture);
    if (result != 0) return result < 0 ? -1 : 0;
    events.PictureQueued();
    return 0;
}

void TVideoDecoder::Flush(IVideoDecoderEvents& events) {
    ff::avcodec.avcodec_flush_buffers(FCodec);
    FPictures.Discard(Now()); // pictures from before a seek are never shown
    FSkipFrames = 1;
    FSkipIndex = 0;
    FSeekTarget = FPendingTarget.exchange(-1);
    FHeldFrame.reset();
    FFlushMet = true;
    events.Flushed();
}

// 0 queued, 1 dropped (a seek's flush is on its way), -1 the thread ends.
int TVideoDecoder::QueuePicture(AVFrame* picture, double pts, IVideoDecoderEvents& events) {
    if (FPictures.Count() > 1 && !FRefreshPending)
        FSkipFrames = std::max(0.95f, FSkipFrames * 0.95f);
    TPictureSlot* slot = nullptr;
    switch (FPictures.WaitForSlot(slot)) {
    case TSlotWait::Aborted:
        return -1;
    case TSlotWait::Dropped:
        return 1;
    case TSlotWait::Ready:
        break;
    }
    {
        std::lock_guard overlay(slot->OverlayLock);
        if (!slot->Overlay) slot->Overlay.reset(ff::avutil.av_frame_alloc());
        ff::avutil.av_frame_unref(slot->Overlay.get());
        ff::avutil.av_frame_move_ref(slot->Overlay.get(), picture);
        slot->Width = slot->Overlay->width;
        slot->Height = slot->Overlay->height;
        slot->Allocated = true;
        slot->SubtitleBlended = false;
        if (!events.Hook(slot->Overlay.get(), pts))
            return -1; // closed meanwhile: the thread ends touching nothing more
        slot->PTS = pts;
        slot->Position = slot->Overlay->pkt_pos;
    }
    FPictures.Commit(pts, Now(), events.OffSound());
    return 0;
}
