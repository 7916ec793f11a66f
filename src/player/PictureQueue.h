// The player's queue of decoded pictures between the video thread (which
// fills it) and the playback thread (which shows and consumes them), with
// the schedule that gives each picture the time it is due.
//
//   queue.WaitForSlot(slot) == TSlotWait::Ready → fill *slot → queue.Commit(pts, now, off)
//   queue.Front(front) → show front.Slot → queue.Consume(front.Taken)
#pragma once

#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

// One slot of the picture queue. The video thread fills the slot it got from
// WaitForSlot, the playback thread reads the slot of Front; OverlayLock is
// held by whoever touches Overlay's pixels (writer, display, CurrentFrame).
// TargetClock belongs to the queue (under its lock).
struct TPictureSlot {
    double PTS = 0;         // seconds
    double TargetClock = 0; // seconds on the av_gettime clock
    std::int64_t Position = -1;
    ff::FramePtr Overlay; // planar YUV 4:2:0, even width and height
    int Width = 0;
    int Height = 0;
    AVPixelFormat PixelFormat = AV_PIX_FMT_YUV420P;
    bool Allocated = false;
    bool SubtitleBlended = false;
    std::mutex OverlayLock;
};

// What the playback thread sees of the oldest queued picture.
struct TPictureFront {
    TPictureSlot* Slot = nullptr;
    std::uint64_t Taken = 0; // the discards so far (see Consume)
    int Count = 0;           // pictures queued
    double PTS = 0;
    std::int64_t Position = -1;
    double Target = 0;     // when it is due
    double NextTarget = 0; // when the picture after it is due
    bool ScheduleRestart = false;
    std::uint64_t RestartMark = 0;
};

enum class TSlotWait { Ready, Aborted, Dropped };

// Two slots. FLock guards every field but FAborted and FFlushPending
// (atomics, also read without it) and the slots' own fields (see
// TPictureSlot). Every wait is woken by Consume, Discard, Abort and
// MarkFlushPending and times out after 100 ms to look again.
class TPictureQueue {
public:
    static constexpr int Size = 2;

    // ---- video thread ----
    // The time of a picture: its own when it has one (and the video clock
    // follows it), else the video clock; the clock then advances by
    // `duration`.
    double StampPicture(bool hasPts, double pts, double duration);
    // Waits for a free slot. Dropped: a seek's flush is on its way, the
    // picture belongs to before it.
    TSlotWait WaitForSlot(TPictureSlot*& slot);
    // Queues the slot WaitForSlot gave, due after the previous picture by
    // the time between their PTS; `offSound` (video clock minus the sound's,
    // when the sound leads) moves it towards the sound.
    void Commit(double pts, double now, std::optional<double> offSound);
    // Empties the queue after a seek's flush; the schedule starts again.
    void Discard(double now);

    // ---- read thread ----
    // Pictures decoded from now until the flush are from before a seek.
    void MarkFlushPending();
    bool FlushPending() const { return FFlushPending.load(); }

    // ---- playback thread ----
    bool Front(TPictureFront& front);
    // The slot a reader shows (or last showed).
    TPictureSlot& ReadSlot();
    // Consumes the front picture taken when the discards were `taken`; false
    // when a discard took it meanwhile (or nothing is queued).
    bool Consume(std::uint64_t taken);
    // The front picture is due `now` instead of at its target, and the
    // schedule after it moves by as much (unless a discard came between).
    void Slip(std::uint64_t taken, double now);
    // Slip, and the restart the front reported is done.
    void Restart(const TPictureFront& front, double now);

    // ---- any thread ----
    // After a pause: the schedule moves by `shift` and starts again from the
    // next picture shown.
    void ResumeSchedule(double shift);
    int Count();
    // Ends every wait; the queue is not filled any more.
    void Abort();
    bool Aborted() const { return FAborted.load(); }

private:
    double TargetTime(double pts, double now, std::optional<double> offSound);
    void SlipLocked(double now);

    std::mutex FLock;
    std::condition_variable FChanged;
    TPictureSlot FSlots[Size];
    int FCount = 0, FRead = 0, FWrite = 0;
    // The discards of the queue by seeks: a picture taken before one is gone
    // and is not consumed again.
    std::uint64_t FDiscards = 0;
    // Schedule (seconds).
    double FFrameTimer = 0;
    double FFrameLastPTS = 0;
    double FFrameLastDelay = 0.04;
    double FVideoClock = 0;
    // Restart requests (a flush or a resume) and the last one done: the
    // next picture shown sets the schedule while they differ.
    std::uint64_t FRestartAsked = 0, FRestartDone = 0;
    std::atomic<bool> FAborted{false};
    std::atomic<bool> FFlushPending{false};
};
