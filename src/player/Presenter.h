// The player's display: the size of the surface, where a picture goes on it
// (at its aspect, centred) and the picture converted for it.
//
//   presenter.Attach(surface);
//   presenter.Make(width, height, false);
//   presenter.Show(picture, presenter.PictureRect(aspect, w, h, sar));
#pragma once

#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"
#include "player/VideoSurface.h"

#include <atomic>

// Used by the playback thread only, except Width and Height (atomics, read
// by any thread).
class TPresenter {
public:
    void Attach(IVideoSurface* surface) { FSurface = surface; }
    bool HasSurface() const { return FSurface != nullptr; }
    // The surface becomes `width` x `height`, unless it is made at that size
    // already and `force` is false. False when the surface refuses.
    bool Make(int width, int height, bool force);
    bool Made() const { return FMade; }
    int Width() const { return FWidth.load(); }
    int Height() const { return FHeight.load(); }

    // Where a `width` x `height` picture of sample aspect `sar` goes: `aspect`
    // 0 keeps the picture's own, > 0 is this width / height, < 0 fills the
    // surface. Even sizes, centred.
    TSurfaceRect PictureRect(float aspect, int width, int height, AVRational sar) const;
    // Converts `picture` to the rectangle's size for the surface.
    void Show(const AVFrame* picture, const TSurfaceRect& rect);
    // A picture drawn by the caller into Canvas, the size of the surface.
    Bitmap32& Canvas() { return FCanvas; }
    void ShowCanvas();
    void Redraw();

private:
    IVideoSurface* FSurface = nullptr;
    std::atomic<int> FWidth{0}, FHeight{0};
    int FLeft = 0, FTop = 0;
    bool FMade = false;
    Bitmap32 FCanvas;
    ff::SwsContextPtr FScaler;
};
