// The player's queue of decoded bitmap subtitles between the subtitle thread
// (which fills it) and the playback thread (which blends the subtitle due
// into the picture shown and lets go of those whose time is over).
#pragma once

#include "media/FFmpegHeaders.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

// One decoded subtitle with the time it starts.
struct TSubPicture {
    double PTS = 0;
    AVSubtitle Sub{};
    bool Held = false;
};

// Four slots. FLock guards every field but FAborted (atomic). Put's wait is
// woken by Expire, Abort and a flush, and times out after 100 ms to look
// again.
class TSubPictureQueue {
public:
    static constexpr int Size = 4;
    ~TSubPictureQueue() { Clear(); }

    // ---- subtitle thread ----
    // Waits for a free slot and queues `sub` (taken over) shown from `pts`
    // on. False when aborted (then `sub` is freed).
    bool Put(AVSubtitle& sub, double pts);
    // Frees every subtitle (the thread ends).
    void Clear();

    // ---- playback thread ----
    // Lets go of the subtitles whose time is over at `picturePts` (past their
    // end, or the next one has started); a flush asked for empties the queue.
    void Expire(double picturePts);
    // Calls `blend` with the first subtitle when it is due at `picturePts`;
    // what `blend` returns, false when nothing was due.
    bool BlendDue(double picturePts, const std::function<bool(const AVSubtitle&)>& blend);

    // ---- any thread ----
    void RequestFlush();
    void Abort();
    int Count();

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    TSubPicture FSlots[Size];
    int FCount = 0, FRead = 0, FWrite = 0;
    bool FFlush = false;
    std::atomic<bool> FAborted{false};
};
