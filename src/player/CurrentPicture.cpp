#include "player/CurrentPicture.h"

#include <algorithm>
#include <cmath>

namespace {

std::int64_t HostTime(const TPlaybackState& is, double seconds) {
    return std::llround(seconds * 1000000.0) - is.Input.StartTime();
}

} // namespace

Bitmap24& TCurrentPicture::Take(TPlaybackState* is, std::int64_t& pts) {
    std::lock_guard lock(FLock);
    if (!FContext.Bitmap) FContext.Bitmap = std::make_unique<Bitmap24>();
    Bitmap24& bitmap = *FContext.Bitmap;
    if (!is || !is->VideoOpen) {
        bitmap.SetSize(0, 0);
        pts = -1;
        return bitmap;
    }
    bitmap.SetSize(is->VideoCodec->width, is->VideoCodec->height);
    std::fill(bitmap.Data.begin(), bitmap.Data.end(), 0);
    if (!TakeShown(*is, pts)) TakeQueued(*is, pts);
    return bitmap;
}

// The picture on the display; false before the first one is shown.
bool TCurrentPicture::TakeShown(TPlaybackState& is, std::int64_t& pts) {
    std::lock_guard shownLock(is.LastShownLock);
    if (!is.LastShown || !is.LastShown->data[0]) return false;
    pts = HostTime(is, is.LastShownPTS);
    if (!FrameToBitmap(FContext, is.LastShown.get())) FContext.Bitmap->SetSize(0, 0);
    return true;
}

// The picture that will be shown first.
void TCurrentPicture::TakeQueued(TPlaybackState& is, std::int64_t& pts) {
    TPictureSlot& slot = is.Pictures.ReadSlot();
    std::lock_guard overlayLock(slot.OverlayLock);
    pts = HostTime(is, slot.PTS);
    AVFrame* picture = slot.Overlay.get();
    if (!picture || !picture->data[0] || !FrameToBitmap(FContext, picture))
        FContext.Bitmap->SetSize(0, 0);
}

void TCurrentPicture::Reset() {
    std::lock_guard lock(FLock);
    ResetToRGBContext(FContext);
}
