// The pipeline's picture side: the video thread (decoding, the filter graph,
// the exact seek, the two-slot picture queue), the display refresh with its
// frame dropping, drawing through the surface and the clocks.
#include "player/FFPlay.h"

#include "media/FilterLink.h"
#include "media/MyUtils.h"
#include "media/PictureMatrix.h"
#include "media/ToneMap.h"
#include "media/ScalerPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace std::chrono_literals;

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

// Sound output that has not played for this long (beyond its buffer) is not
// playing, and holds no picture back.
constexpr double MaxSoundPause = 0.1;

double FrameDuration(AVStream* stream) {
    AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) return static_cast<double>(rate.den) / rate.num;
    return 0.04;
}

} // namespace

// ---- Video thread ----

// What the video thread decodes with: the decoded and the filtered picture
// and the filter graph between them (video thread only).
struct TVideoDecoding {
    ff::FramePtr Frame{ff::avutil.av_frame_alloc()};
    ff::FramePtr Filtered{ff::avutil.av_frame_alloc()};
    TVideoFilter Filter;
};

void TCustomPlayer::VideoThreadRun(TPlaybackState* is) {
    TVideoDecoding decoding;
    bool drained = false;
    if (!decoding.Frame || !decoding.Filtered) return;
    for (;;) {
        WaitWhilePaused(is);
        ff::PacketPtr packet;
        bool isFlush = false;
        if (is->VideoQueue.Get(packet, isFlush, true) < 0) break;
        if (isFlush) {
            FlushVideo(is);
            drained = false;
            continue;
        }
        bool empty = !packet->data && packet->size == 0;
        if (empty) {
            if (!is->EndReported) UpdatePosition();
            if (drained) continue;
            drained = true;
        }
        if (DecodeVideoPacket(is, empty ? nullptr : packet.get(), decoding) < 0) break;
        if (empty && FinishVideoInput(is) < 0) break;
    }
}

// Paused, the thread still runs until a seek's picture is out (also when a
// second seek came before it), for a step and for the first pictures of a
// file opened paused.
void TCustomPlayer::WaitWhilePaused(TPlaybackState* is) {
    while (is->Paused && !is->VideoQueue.Aborted() && !is->PausedAtSeek && !is->JustSeeked &&
           is->StartPausedFrames == 0 && !FStepping)
        std::this_thread::sleep_for(10ms);
}

// Sends `packet` (nullptr: the end of the input, which drains the decoder)
// to the decoder and passes every picture it gives through the filter graph
// on to PassPicture. Pictures beyond what the display keeps up with are
// skipped (SkipFrames). -1 when the thread must end.
int TCustomPlayer::DecodeVideoPacket(TPlaybackState* is, AVPacket* packet,
                                     TVideoDecoding& decoding) {
    AVCodecContext* codec = is->VideoCodec.get();
    if (ff::avcodec.avcodec_send_packet(codec, packet) < 0 && packet) return 0;
    AVFrame* frame = decoding.Frame.get();
    int result = 0;
    while (result >= 0 && ff::avcodec.avcodec_receive_frame(codec, frame) == 0) {
        frame->pts = frame->best_effort_timestamp;
        is->SkipFramesIndex += 1;
        if (is->SkipFramesIndex < is->SkipFrames) {
            ++DroppedPictures;
            ff::avutil.av_frame_unref(frame);
            continue;
        }
        is->SkipFramesIndex -= std::max(1.0f, is->SkipFrames.load());
        if (!decoding.Filter.Matches(frame) &&
            !BuildFilter(decoding.Filter, frame, is->VideoSt, is->Rotation)) {
            ReportError("Cannot build the video filter graph", false);
            return -1;
        }
        if (ff::avfilter.av_buffersrc_add_frame_flags(decoding.Filter.Source, frame, 0) < 0)
            continue;
        AVFrame* filtered = decoding.Filtered.get();
        while (result >= 0 &&
               ff::avfilter.av_buffersink_get_frame(decoding.Filter.Sink, filtered) >= 0)
            result = PassPicture(is, filtered);
    }
    return result;
}

// The decoder has given its last picture: a seek that asked for a time after
// it shows that one, and the sound and the waiters stop waiting for more.
int TCustomPlayer::FinishVideoInput(TPlaybackState* is) {
    if (is->HeldFrame) {
        ff::FramePtr held = std::move(is->HeldFrame);
        is->SeekTarget = -1;
        if (PassPicture(is, held.get()) < 0) return -1;
    }
    is->AudioHeldUntil = 0;
    FFrameQueued.Set(); // no picture comes any more
    return 0;
}

// One filtered picture: dropped while it is before the seek target, else
// queued for display (and the component told).
int TCustomPlayer::PassPicture(TPlaybackState* is, AVFrame* picture) {
    if (is->Pictures.FlushPending()) {
        // Decoded from before a seek: never shown.
        ff::avutil.av_frame_unref(picture);
        return 0;
    }
    AVRational base = is->VideoSt->time_base;
    double pts =
        picture->pts == AV_NOPTS_VALUE ? 0 : static_cast<double>(picture->pts) * av_q2d(base);
    if (is->SeekTarget >= 0) {
        if (pts + 0.0005 < is->SeekTarget) {
            if (!is->HeldFrame) is->HeldFrame.reset(ff::avutil.av_frame_alloc());
            ff::avutil.av_frame_unref(is->HeldFrame.get());
            ff::avutil.av_frame_move_ref(is->HeldFrame.get(), picture);
            return 0;
        }
        is->SeekTarget = -1;
        is->HeldFrame.reset();
    }
    if (is->JustSeeked && is->FlushedAfterSeek) {
        is->JustSeeked = false;
        if (is->Paused) is->PendingShows = 1;
        is->PausedAtSeek = false;
    }
    int result = OutputPicture(is, picture, pts);
    ff::avutil.av_frame_unref(picture);
    if (result != 0) return result < 0 ? -1 : 0;
    // The sound starts once the decoder keeps ahead of the display.
    if (is->Pictures.Count() >= TPictureQueue::Size) is->AudioHeldUntil = 0;
    PictureQueued(is);
    return 0;
}

void TCustomPlayer::FlushVideo(TPlaybackState* is) {
    ff::avcodec.avcodec_flush_buffers(is->VideoCodec.get());
    is->Pictures.Discard(Now()); // pictures from before a seek are never shown
    is->VideoCurrentPosition = -1;
    is->SkipFrames = 1;
    is->SkipFramesIndex = 0;
    is->SeekTarget = is->PendingVideoTarget.exchange(-1);
    is->HeldFrame.reset();
    is->FlushedAfterSeek = true;
}

int TCustomPlayer::OutputPicture(TPlaybackState* is, AVFrame* picture, double pts) {
    // A picture without a time stamp takes the video clock; one at 0 (the
    // first picture after a rewind) keeps its own.
    pts = is->Pictures.StampPicture(picture->pts != AV_NOPTS_VALUE, pts,
                                    FrameDuration(is->VideoSt) * (1 + 0.5 * picture->repeat_pict));
    return QueuePicture(is, picture, pts, picture->pkt_pos);
}

int TCustomPlayer::QueuePicture(TPlaybackState* is, AVFrame* picture, double pts,
                                std::int64_t pos) {
    if (is->Pictures.Count() > 1 && !is->Refresh)
        is->SkipFrames = std::max(0.95f, is->SkipFrames * 0.95f);
    TPictureSlot* slot = nullptr;
    switch (is->Pictures.WaitForSlot(slot)) {
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
        if (Hook && ff::avutil.av_frame_make_writable(slot->Overlay.get()) >= 0 &&
            !HookPicture(is, slot->Overlay.get(), pts))
            return -1; // closed meanwhile: the thread ends touching nothing more
        slot->PTS = pts;
        slot->Position = pos;
    }
    is->Pictures.Commit(pts, Now(), OffSound(is));
    return 0;
}

// How far the pictures are ahead of the sound (video clock minus the sound's),
// once the sound tells the time heard.
std::optional<double> TCustomPlayer::OffSound(TPlaybackState* is) {
    if (!is->AudioSt || !is->Audio.Tells()) return std::nullopt;
    return VideoClockNow(is) - MasterClock(is);
}

// ---- Display refresh (playback thread) ----

void TCustomPlayer::VideoRefresh(TPlaybackState* is, bool consume) {
    if (!is->VideoSt) {
        if (is->AudioSt) {
            DisplayPicture(is);
            if (consume) UpdatePosition();
        }
        return;
    }
    if (!consume) {
        DisplayPicture(is);
        return;
    }
    bool dropped = false;
    TPictureFront front;
    while (is->Pictures.Front(front)) {
        if (is->JustSeeked) {
            // Queued before the seek reached the decoder: never shown, and
            // not a late picture either.
            is->Pictures.Consume(front.Taken);
            dropped = true;
            continue;
        }
        bool forced = is->Paused && is->PendingShows > 0;
        if (is->Paused && !forced) return;
        double now = Now();
        if (!forced && now < front.Target) return;
        if (!forced && AheadOfSound(is, front.PTS)) {
            // The schedule slips by the time waited for the sound, so the
            // pictures after this one are not taken as late.
            is->Pictures.Slip(front.Taken, now);
            return;
        }
        is->VideoCurrentPTS = front.PTS;
        is->VideoCurrentPTSDrift = front.PTS - now;
        is->VideoCurrentPosition = front.Position;
        if (!forced && front.ScheduleRestart) {
            // The first picture after a flush or a resume is shown now and
            // the schedule of the next ones starts from it: however long it
            // took to decode (up to the seek target) is no lateness.
            is->Pictures.Restart(front, now);
        } else if (!forced && now > front.NextTarget && !is->Input.IsCapture()) {
            is->SkipFrames = std::min(is->SkipFrames * 1.05f, 100.0f);
            if (front.Count == TPictureQueue::Size || now > front.NextTarget + 0.5) {
                is->Pictures.Consume(front.Taken);
                dropped = true;
                ++DroppedPictures;
                continue;
            }
        }
        ExpireSubtitles(is, *front.Slot);
        DrawVideo(is, *front.Slot);
        // A picture discarded meanwhile leaves the pending show to the
        // picture of the new position.
        if (is->Pictures.Consume(front.Taken) && forced) --is->PendingShows;
        break;
    }
    if (!dropped) UpdatePosition();
}

void TCustomPlayer::DisplayPicture(TPlaybackState* is) {
    if (!is->Display.Made() && !MakeSurface(is, false)) return;
    if (is->AudioSt && is->ShowAudio)
        DrawWaveform(is);
    else
        is->Display.Redraw();
}

// The display area: the host's size, else the picture's (even), else 640 x 480.
bool TCustomPlayer::MakeSurface(TPlaybackState* is, bool force) {
    int width = 640, height = 480;
    if (ScreenWidth > 0 && ScreenHeight > 0) {
        width = ScreenWidth;
        height = ScreenHeight;
    } else if (is->VideoCodec && is->VideoCodec->width > 0) {
        bool turned = IsQuarterTurn(is->Rotation);
        width = (turned ? is->VideoCodec->height : is->VideoCodec->width) & ~1;
        height = (turned ? is->VideoCodec->width : is->VideoCodec->height) & ~1;
    }
    if (is->Display.Make(width, height, force)) return true;
    ReportError("SDL: could not set video mode.", false);
    return false;
}

void TCustomPlayer::DrawVideo(TPlaybackState* is, TPictureSlot& slot) {
    if (!is->Display.Made() && !MakeSurface(is, false)) return;
    if (is->AudioSt && is->ShowAudio) {
        DrawWaveform(is);
        return;
    }
    std::lock_guard overlay(slot.OverlayLock);
    AVFrame* picture = slot.Overlay.get();
    if (!picture || !picture->data[0]) return;
    BlendSubtitle(is, slot);
    {
        std::lock_guard lock(is->LastShownLock);
        if (!is->LastShown) is->LastShown.reset(ff::avutil.av_frame_alloc());
        if (is->LastShown) {
            ff::avutil.av_frame_unref(is->LastShown.get());
            ff::avutil.av_frame_ref(is->LastShown.get(), picture);
            is->LastShownPTS = slot.PTS;
        }
    }
    if (OnPictureShown) OnPictureShown(slot.PTS, AudioClockNow(is), is->AudioSt != nullptr);
    is->Display.Show(picture, is->Display.PictureRect(FAspectRatio, slot.Width, slot.Height,
                                                      picture->sample_aspect_ratio));
    ++ShownPictures;
}

// ---- Clocks ----

// A picture more than half a frame ahead of the sound that is playing waits
// (the sound output runs slow, or was late): shown pictures stay within a
// frame of the sound. Sound that is not playing (paused, held, ended, or
// an output that stopped calling) holds nothing back.
bool TCustomPlayer::AheadOfSound(TPlaybackState* is, double pts) {
    if (!is->AudioSt || is->Paused || is->Audio.Rate() <= 0) return false;
    std::int64_t heldUntil = is->AudioHeldUntil;
    if (heldUntil != 0 && ff::avutil.av_gettime() >= heldUntil) return false;
    bool running = is->Audio.Running(Now(), MaxSoundPause);
    if (!is->Audio.Tells()) {
        // After the open or a seek the first picture shows at once, the next
        // ones wait until the sound has started (its clock still tells the
        // time before the hold), unless the output stopped.
        if (!is->HoldShown.exchange(true)) return false;
        return heldUntil != 0 || running;
    }
    if (!running) return false;
    return pts - AudioClockNow(is) > 0.5 * FrameDuration(is->VideoSt);
}

double TCustomPlayer::VideoClockNow(TPlaybackState* is) {
    if (is->Paused) return is->VideoCurrentPTS;
    double drift = is->VideoCurrentPTSDrift;
    if (drift != 0) return drift + Now();
    return static_cast<double>(is->Input.StartTime()) / 1000000.0;
}

double TCustomPlayer::MasterClock(TPlaybackState* is) {
    return is->AudioSt ? AudioClockNow(is) : VideoClockNow(is);
}
