// The pipeline's picture side: the video thread (decoding, the filter graph,
// the exact seek, the two-slot picture queue), the display refresh with its
// frame dropping and drawing through the surface.
#include "player/FFPlay.h"

#include "media/MyUtils.h"
#include "media/PictureMatrix.h"
#include "media/ScalerPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace std::chrono_literals;

namespace {

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

} // namespace

// ---- Video thread ----

// What the video decoder asks and reports, answered by the component: the
// play state (pauses, steps, a seek's end) follows from it here.
class TVideoEvents : public IVideoDecoderEvents {
public:
    TVideoEvents(TCustomPlayer& player, TPlaybackState& is) : Player(player), Is(is) {}

    // Paused, the decoder still runs until a seek's picture is out (also
    // when a second seek came before it), for a step and for the first
    // pictures of a file opened paused.
    bool MayDecode() override {
        return !Is.Paused || Is.PausedAtSeek || Is.JustSeeked || Is.StartPausedFrames != 0 ||
               Player.FStepping;
    }
    void Flushed() override { Is.VideoCurrentPosition = -1; }
    void PictureAfterFlush() override {
        if (!Is.JustSeeked) return;
        Is.JustSeeked = false;
        if (Is.Paused) Is.PendingShows = 1;
        Is.PausedAtSeek = false;
    }
    bool Hook(AVFrame* picture, double pts) override {
        if (!Player.Hook || ff::avutil.av_frame_make_writable(picture) < 0) return true;
        return Player.HookPicture(&Is, picture, pts);
    }
    // How far the pictures are ahead of the sound (video clock minus the
    // sound's), once the sound tells the time heard.
    std::optional<double> OffSound() override {
        if (!Is.AudioSt || !Is.Audio.Tells()) return std::nullopt;
        const double now = Now();
        return Is.Clock.Video(now, static_cast<double>(Is.Input.StartTime()) / 1000000.0) -
               Is.Clock.Sound(now);
    }
    void PictureQueued() override {
        // The sound starts once the decoder keeps ahead of the display.
        if (Is.Pictures.Count() >= TPictureQueue::Size) Is.AudioHeldUntil = 0;
        Player.PictureQueued(&Is);
    }
    void PictureSkipped() override { ++Player.DroppedPictures; }
    void InputEnded() override {
        if (!Is.EndReported) Player.UpdatePosition();
    }
    void InputFinished() override {
        Is.AudioHeldUntil = 0;
        Player.FFrameQueued.Set(); // no picture comes any more
    }
    void Failed(const std::string& text) override { Player.ReportError(text, false); }

private:
    TCustomPlayer& Player;
    TPlaybackState& Is;
};

void TCustomPlayer::VideoThreadRun(TPlaybackState* is) {
    TVideoEvents events(*this, *is);
    is->Video.Run(events);
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
        if (!forced && is->Clock.AheadOfSound(front.PTS, FrameDuration(is->VideoSt),
                                              ff::avutil.av_gettime(), is->AudioSt != nullptr)) {
            // The schedule slips by the time waited for the sound, so the
            // pictures after this one are not taken as late.
            is->Pictures.Slip(front.Taken, now);
            return;
        }
        is->Clock.Shown(front.PTS, now);
        is->VideoCurrentPosition = front.Position;
        if (!forced && front.ScheduleRestart) {
            // The first picture after a flush or a resume is shown now and
            // the schedule of the next ones starts from it: however long it
            // took to decode (up to the seek target) is no lateness.
            is->Pictures.Restart(front, now);
        } else if (!forced && now > front.NextTarget && !is->Input.IsCapture()) {
            is->Video.FallBehind();
            if (front.Count == TPictureQueue::Size || now > front.NextTarget + 0.5) {
                is->Pictures.Consume(front.Taken);
                dropped = true;
                ++DroppedPictures;
                continue;
            }
        }
        is->Subtitles.Expire(front.Slot->PTS);
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
    is->Subtitles.Blend(slot);
    {
        std::lock_guard lock(is->LastShownLock);
        if (!is->LastShown) is->LastShown.reset(ff::avutil.av_frame_alloc());
        if (is->LastShown) {
            ff::avutil.av_frame_unref(is->LastShown.get());
            ff::avutil.av_frame_ref(is->LastShown.get(), picture);
            is->LastShownPTS = slot.PTS;
        }
    }
    if (OnPictureShown) OnPictureShown(slot.PTS, is->Clock.Sound(Now()), is->AudioSt != nullptr);
    is->Display.Show(picture, is->Display.PictureRect(FAspectRatio, slot.Width, slot.Height,
                                                      picture->sample_aspect_ratio));
    ++ShownPictures;
}
