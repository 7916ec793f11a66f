#include "player/SubPictureQueue.h"

#include "media/AVCodecEntries.h"

#include <chrono>

namespace {

// A subtitle without rectangles holds nothing of the library's.
void FreeSubPicture(TSubPicture& sub) {
    if (sub.Held && sub.Sub.rects) ff::avcodec.avsubtitle_free(&sub.Sub);
    sub.Sub = AVSubtitle{};
    sub.Held = false;
}

} // namespace

bool TSubPictureQueue::Put(AVSubtitle& sub, double pts) {
    std::unique_lock lock(FLock);
    while (FCount >= Size && !FAborted)
        FChanged.wait_for(lock, std::chrono::milliseconds(100));
    if (FAborted) {
        TSubPicture dropped{pts, sub, true};
        FreeSubPicture(dropped);
        return false;
    }
    TSubPicture& slot = FSlots[FWrite];
    FreeSubPicture(slot);
    slot.PTS = pts;
    slot.Sub = sub;
    slot.Held = true;
    FWrite = (FWrite + 1) % Size;
    ++FCount;
    return true;
}

void TSubPictureQueue::Clear() {
    std::lock_guard lock(FLock);
    for (TSubPicture& sub : FSlots)
        FreeSubPicture(sub);
    FCount = 0;
    FRead = FWrite;
}

void TSubPictureQueue::Expire(double picturePts) {
    {
        std::lock_guard lock(FLock);
        if (FFlush) {
            for (TSubPicture& sub : FSlots)
                FreeSubPicture(sub);
            FCount = 0;
            FRead = FWrite;
            FFlush = false;
        } else {
            while (FCount > 0) {
                TSubPicture& first = FSlots[FRead];
                bool over = picturePts > first.PTS + first.Sub.end_display_time / 1000.0;
                if (!over && FCount > 1) {
                    TSubPicture& next = FSlots[(FRead + 1) % Size];
                    over = picturePts > next.PTS + next.Sub.start_display_time / 1000.0;
                }
                if (!over) break;
                FreeSubPicture(first);
                FRead = (FRead + 1) % Size;
                --FCount;
            }
        }
    }
    FChanged.notify_all();
}

bool TSubPictureQueue::BlendDue(double picturePts,
                                const std::function<bool(const AVSubtitle&)>& blend) {
    std::lock_guard lock(FLock);
    if (FCount == 0) return false;
    TSubPicture& sub = FSlots[FRead];
    if (!sub.Held || sub.Sub.format != 0) return false;
    if (picturePts < sub.PTS + sub.Sub.start_display_time / 1000.0) return false;
    return blend(sub.Sub);
}

void TSubPictureQueue::RequestFlush() {
    {
        std::lock_guard lock(FLock);
        FFlush = true;
    }
    FChanged.notify_all();
}

void TSubPictureQueue::Abort() {
    {
        std::lock_guard lock(FLock);
        FAborted = true;
    }
    FChanged.notify_all();
}

int TSubPictureQueue::Count() {
    std::lock_guard lock(FLock);
    return FCount;
}
