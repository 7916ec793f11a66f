// Small synchronisation helpers of the player: a manual-reset signal and the
// queue of the playback thread's loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

// A manual-reset signal: stays set until reset. Any thread.
class TManualEvent {
public:
    explicit TManualEvent(bool initiallySet) : FSet(initiallySet) {}
    void Set() {
        {
            std::lock_guard lock(FLock);
            FSet = true;
        }
        FChanged.notify_all();
    }
    void Reset() {
        std::lock_guard lock(FLock);
        FSet = false;
    }
    bool IsSet() {
        std::lock_guard lock(FLock);
        return FSet;
    }
    // True when the signal is set within `timeout`.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, timeout, [this] { return FSet; });
    }

private:
    std::mutex FLock; // guards FSet
    std::condition_variable FChanged;
    bool FSet;
};

// What the playback thread's loop handles.
enum class TLoopEventKind { Quit, Resize, Expose, Refresh, Reopen };

struct TLoopEvent {
    TLoopEventKind Kind = TLoopEventKind::Refresh;
    int Width = 0;  // Resize
    int Height = 0; // Resize
};

// Posted by any thread, taken by the playback thread. Lock guards Events.
class TLoopEventQueue {
public:
    void Push(const TLoopEvent& event) {
        {
            std::lock_guard lock(FLock);
            FEvents.push_back(event);
        }
        FPosted.notify_one();
    }
    // The next event within `timeout`; false when none came.
    bool Wait(TLoopEvent& event, std::chrono::milliseconds timeout) {
        std::unique_lock lock(FLock);
        if (!FPosted.wait_for(lock, timeout, [this] { return !FEvents.empty(); })) return false;
        event = FEvents.front();
        FEvents.pop_front();
        return true;
    }
    void Clear() {
        std::lock_guard lock(FLock);
        FEvents.clear();
    }

private:
    std::mutex FLock;
    std::condition_variable FPosted;
    std::deque<TLoopEvent> FEvents;
};
