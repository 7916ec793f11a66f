// The display of an open file on the playback thread: which queued picture
// is due (late ones dropped, early ones waiting for the sound), drawing it or
// the sound's waveform onto the surface, and the surface's size.
//
//   TVideoRefresh refresh(links);
//   refresh.Handle(is, event); // each event of the playback loop but Quit
#pragma once

#include "player/FFPlayPipeline.h"

#include <atomic>
#include <functional>

// What the display follows besides the pipeline, all owned by the component:
// the host's display size (set again when the surface is resized) and the
// aspect setting (both read at each picture), the
// counts of pictures shown and dropped, the call made for each picture shown
// (assigned while no file is open) and the conductor.
struct TRefreshLinks {
    std::atomic<int>& ScreenWidth;
    std::atomic<int>& ScreenHeight;
    const std::atomic<float>& Aspect;
    std::atomic<int>& Shown;
    std::atomic<int>& Dropped;
    const std::function<void(double APTS, double AAudioClock, bool AHasAudio)>& OnPictureShown;
    IPipelineOwner& Owner;
};

// Playback thread only, except Tick (the refresh thread). Its state is the
// pipeline's display part (see TPlaybackState).
class TVideoRefresh {
public:
    explicit TVideoRefresh(const TRefreshLinks& links) : FLinks(links) {}

    // A tick of the refresh thread, the surface resized, uncovered or to
    // be made again (the aspect changed).
    void Handle(TPlaybackState& is, const TLoopEvent& event);

    // The refresh thread: asks `loop` for a refresh every few milliseconds,
    // unless one is still waiting, until the file closes.
    static void Tick(TPlaybackState& is, TLoopEventQueue& loop);

private:
    // `consume`: the next due picture is taken from the queue and shown;
    // else what is on the surface is drawn again.
    void Refresh(TPlaybackState& is, bool consume);
    // The surface at the host's size, else the picture's (even), else
    // 640 x 480; `force`: set again even at the size it has.
    bool MakeSurface(TPlaybackState& is, bool force);
    void ShowDue(TPlaybackState& is);
    void Redisplay(TPlaybackState& is);
    void Draw(TPlaybackState& is, TPictureSlot& slot);
    void DrawSound(TPlaybackState& is);
    static void KeepShown(TPlaybackState& is, const AVFrame* picture, double pts);

    TRefreshLinks FLinks;
};
