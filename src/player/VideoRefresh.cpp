#include "player/VideoRefresh.h"

#include "media/AVUtilEntries.h"
#include "player/Waveform.h"

#include <algorithm>
#include <thread>

namespace {

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

} // namespace

void TVideoRefresh::Handle(TPlaybackState& is, const TLoopEvent& event) {
    switch (event.Kind) {
    case TLoopEventKind::Resize:
        FLinks.ScreenWidth = event.Width;
        FLinks.ScreenHeight = event.Height;
        MakeSurface(is, true);
        Refresh(is, false);
        break;
    case TLoopEventKind::Expose:
        Refresh(is, false);
        break;
    case TLoopEventKind::Refresh:
        Refresh(is, true);
        is.Refresh = false;
        break;
    case TLoopEventKind::Reopen:
        MakeSurface(is, true);
        Refresh(is, false);
        break;
    case TLoopEventKind::Quit:
        break; // the conductor's
    }
}

void TVideoRefresh::Refresh(TPlaybackState& is, bool consume) {
    if (!is.VideoSt) {
        if (is.AudioSt) {
            Redisplay(is);
            if (consume) FLinks.Owner.UpdatePosition();
        }
        return;
    }
    if (consume)
        ShowDue(is);
    else
        Redisplay(is);
}

// Shows the first queued picture that is due, dropping those that came too
// late; nothing while paused, unless a step or a seek asks for a picture.
void TVideoRefresh::ShowDue(TPlaybackState& is) {
    bool dropped = false;
    TPictureFront front;
    while (is.Pictures.Front(front)) {
        if (is.JustSeeked) {
            // Queued before the seek reached the decoder: never shown, and
            // not a late picture either.
            is.Pictures.Consume(front.Taken);
            dropped = true;
            continue;
        }
        bool forced = is.Paused && is.PendingShows > 0;
        if (is.Paused && !forced) return;
        double now = Now();
        if (!forced && now < front.Target) return;
        if (!forced && is.Clock.AheadOfSound(front.PTS, FrameDuration(is.VideoSt),
                                             ff::avutil.av_gettime(), is.AudioSt != nullptr)) {
            // The schedule slips by the time waited for the sound, so the
            // pictures after this one are not taken as late.
            is.Pictures.Slip(front.Taken, now);
            return;
        }
        is.Clock.Shown(front.PTS, now);
        is.VideoCurrentPosition = front.Position;
        if (!forced && front.ScheduleRestart) {
            // The first picture after a flush or a resume is shown now and
            // the schedule of the next ones starts from it: however long it
            // took to decode (up to the seek target) is no lateness.
            is.Pictures.Restart(front, now);
        } else if (!forced && now > front.NextTarget && !is.Input.IsCapture()) {
            is.Video.FallBehind();
            if (front.Count == TPictureQueue::Size || now > front.NextTarget + 0.5) {
                is.Pictures.Consume(front.Taken);
                dropped = true;
                ++FLinks.Dropped;
                continue;
            }
        }
        is.Subtitles.Expire(front.Slot->PTS);
        Draw(is, *front.Slot);
        // A picture discarded meanwhile leaves the pending show to the
        // picture of the new position.
        if (is.Pictures.Consume(front.Taken) && forced) --is.PendingShows;
        break;
    }
    if (!dropped) FLinks.Owner.UpdatePosition();
}

void TVideoRefresh::Redisplay(TPlaybackState& is) {
    if (!is.Display.Made() && !MakeSurface(is, false)) return;
    if (is.AudioSt && is.ShowAudio)
        DrawSound(is);
    else
        is.Display.Redraw();
}

bool TVideoRefresh::MakeSurface(TPlaybackState& is, bool force) {
    int width = 640, height = 480;
    if (FLinks.ScreenWidth > 0 && FLinks.ScreenHeight > 0) {
        width = FLinks.ScreenWidth;
        height = FLinks.ScreenHeight;
    } else if (is.UprightSize(width, height)) {
        width &= ~1;
        height &= ~1;
    }
    if (is.Display.Make(width, height, force)) return true;
    FLinks.Owner.ReportError("SDL: could not set video mode.", false);
    return false;
}

void TVideoRefresh::Draw(TPlaybackState& is, TPictureSlot& slot) {
    if (!is.Display.Made() && !MakeSurface(is, false)) return;
    if (is.AudioSt && is.ShowAudio) {
        DrawSound(is);
        return;
    }
    std::lock_guard overlay(slot.OverlayLock);
    AVFrame* picture = slot.Overlay.get();
    if (!picture || !picture->data[0]) return;
    is.Subtitles.Blend(slot);
    KeepShown(is, picture, slot.PTS);
    if (FLinks.OnPictureShown)
        FLinks.OnPictureShown(slot.PTS, is.Clock.Sound(Now()), is.AudioSt != nullptr);
    is.Display.Show(picture, is.Display.PictureRect(FLinks.Aspect, slot.Width, slot.Height,
                                                    picture->sample_aspect_ratio));
    ++FLinks.Shown;
}

// The picture on the display, for the host's CurrentFrame.
void TVideoRefresh::KeepShown(TPlaybackState& is, const AVFrame* picture, double pts) {
    std::lock_guard lock(is.LastShownLock);
    if (!is.LastShown) is.LastShown.reset(ff::avutil.av_frame_alloc());
    if (!is.LastShown) return;
    ff::avutil.av_frame_unref(is.LastShown.get());
    ff::avutil.av_frame_ref(is.LastShown.get(), picture);
    is.LastShownPTS = pts;
}

// The waveform of the sound heard now, the size of the surface.
void TVideoRefresh::DrawSound(TPlaybackState& is) {
    int width = is.Display.Width(), height = is.Display.Height();
    int channels = std::max(1, is.Audio.Channels());
    if (width <= 0 || height <= 0) return;
    Bitmap32& canvas = is.Display.Canvas();
    canvas.SetSize(width, height);
    std::vector<std::int16_t> samples;
    if (!is.Sound.WaveSamples(width, channels, is.Paused, Now(), samples)) {
        std::fill(canvas.Data.begin(), canvas.Data.end(), 0);
        return;
    }
    DrawWaveform(canvas, samples, channels);
    is.Display.ShowCanvas();
}

void TVideoRefresh::Tick(TPlaybackState& is, TLoopEventQueue& loop) {
    // Decided once: the streams are closed while this thread still runs.
    const int period = is.AudioSt && is.ShowAudio ? 20 : 5;
    while (!is.AbortRequest) {
        if (!is.Refresh.exchange(true)) loop.Push(TLoopEvent{TLoopEventKind::Refresh});
        std::this_thread::sleep_for(std::chrono::milliseconds(period));
    }
}
