#include "player/PictureQueue.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

// How far the frame timer may lag the clock before it starts again.
constexpr double MaxTimerLag = 0.1;
// Time stamps this far apart are a discontinuity: the previous delay holds.
constexpr double MaxFrameDelay = 10.0;

} // namespace

double TPictureQueue::StampPicture(bool hasPts, double pts, double duration) {
    std::lock_guard lock(FLock);
    if (hasPts)
        FVideoClock = pts;
    else
        pts = FVideoClock;
    FVideoClock += duration;
    return pts;
}

TSlotWait TPictureQueue::WaitForSlot(TPictureSlot*& slot) {
    std::unique_lock lock(FLock);
    while (FCount >= Size && !FAborted && !FFlushPending)
        FChanged.wait_for(lock, std::chrono::milliseconds(100));
    if (FAborted) return TSlotWait::Aborted;
    if (FFlushPending) return TSlotWait::Dropped;
    slot = &FSlots[FWrite];
    return TSlotWait::Ready;
}

void TPictureQueue::Commit(double pts, double now, std::optional<double> offSound) {
    std::lock_guard lock(FLock);
    FSlots[FWrite].TargetClock = TargetTime(pts, now, offSound);
    FWrite = (FWrite + 1) % Size;
    ++FCount;
}

// Under FLock.
double TPictureQueue::TargetTime(double pts, double now, std::optional<double> offSound) {
    double delay = pts - FFrameLastPTS;
    if (delay <= 0 || delay >= MaxFrameDelay)
        delay = FFrameLastDelay;
    else
        FFrameLastDelay = delay;
    FFrameLastPTS = pts;
    if (offSound) {
        // Half a frame off the sound: the picture moves by the distance, at
        // most to at once or to twice its time, so pictures stay within a
        // frame of the sound without one-frame jumps.
        double diff = *offSound;
        double threshold = std::max(0.01, delay / 2);
        if (std::fabs(diff) < MaxFrameDelay && std::fabs(diff) >= threshold)
            delay = std::clamp(delay + diff, 0.0, 2 * delay);
    }
    // A timer far behind the clock (the first picture took long to decode, the
    // decoding stalled) starts again from now instead of showing the pictures
    // in a rush to catch up.
    if (FFrameTimer < now - MaxTimerLag) FFrameTimer = now;
    FFrameTimer += delay;
    return FFrameTimer;
}

void TPictureQueue::Discard(double now) {
    {
        std::lock_guard lock(FLock);
        FCount = 0;
        FRead = FWrite;
        ++FDiscards;
        for (TPictureSlot& slot : FSlots)
            slot.TargetClock = 0;
        FFrameLastPTS = static_cast<double>(AV_NOPTS_VALUE);
        FFrameLastDelay = 0;
        FFrameTimer = now;
        ++FRestartAsked;
        FFlushPending = false;
    }
    FChanged.notify_all();
}

void TPictureQueue::MarkFlushPending() {
    {
        std::lock_guard lock(FLock);
        FFlushPending = true;
    }
    FChanged.notify_all();
}

bool TPictureQueue::Front(TPictureFront& front) {
    std::lock_guard lock(FLock);
    if (FCount == 0) return false;
    TPictureSlot& slot = FSlots[FRead];
    front.Slot = &slot;
    front.Taken = FDiscards;
    front.Count = FCount;
    front.PTS = slot.PTS;
    front.Position = slot.Position;
    front.Target = slot.TargetClock;
    front.NextTarget = FCount == Size ? FSlots[(FRead + 1) % Size].TargetClock
                                      : slot.TargetClock + FVideoClock - slot.PTS;
    front.ScheduleRestart = FRestartAsked != FRestartDone;
    front.RestartMark = FRestartAsked;
    return true;
}

TPictureSlot& TPictureQueue::ReadSlot() {
    std::lock_guard lock(FLock);
    return FSlots[FRead];
}

bool TPictureQueue::Consume(std::uint64_t taken) {
    {
        std::lock_guard lock(FLock);
        if (taken != FDiscards || FCount == 0) return false;
        FRead = (FRead + 1) % Size;
        --FCount;
    }
    FChanged.notify_all();
    return true;
}

void TPictureQueue::Slip(std::uint64_t taken, double now) {
    std::lock_guard lock(FLock);
    if (taken == FDiscards && FCount > 0) SlipLocked(now);
}

void TPictureQueue::Restart(const TPictureFront& front, double now) {
    std::lock_guard lock(FLock);
    if (front.Taken != FDiscards || FCount == 0) return;
    SlipLocked(now);
    FRestartDone = front.RestartMark;
}

// Under FLock, with a picture queued.
void TPictureQueue::SlipLocked(double now) {
    TPictureSlot& slot = FSlots[FRead];
    double slip = now - slot.TargetClock;
    slot.TargetClock = now;
    if (FCount == Size) FSlots[(FRead + 1) % Size].TargetClock += slip;
    FFrameTimer += slip;
}

void TPictureQueue::ResumeSchedule(double shift) {
    std::lock_guard lock(FLock);
    FFrameTimer += shift;
    ++FRestartAsked;
}

int TPictureQueue::Count() {
    std::lock_guard lock(FLock);
    return FCount;
}

void TPictureQueue::Abort() {
    {
        std::lock_guard lock(FLock);
        FAborted = true;
    }
    FChanged.notify_all();
}
