// Small synchronisation helpers of the player: a manual-reset signal, the
// queue of the playback thread's loop and the gate of the host calls.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A manual-reset signal: stays set until reset. Any thread. A waiter may
// destroy it as soon as its wait returns: Set wakes the waiters before it
// lets go of the lock, so it is done with the signal once they run.
class TManualEvent {
public:
    explicit TManualEvent(bool initiallySet) : FSet(initiallySet) {}
    void Set() {
        std::lock_guard lock(FLock);
        FSet = true;
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
    // Waits up to `limit` for the signal and sets it when the time runs out.
    // `serve`, if given, is called every 20 ms meanwhile (a main thread
    // running what was handed over to it).
    void WaitOrSet(std::chrono::milliseconds limit, const std::function<void()>& serve) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        const auto slice = serve ? std::chrono::milliseconds(20) : limit;
        while (!WaitFor(slice)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                Set();
                return;
            }
            if (serve) serve();
        }
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

// Keeps host calls of one component from running inside each other. A call
// waiting for a worker runs window messages meanwhile, and a click may call
// the component again from there; such a call is queued instead and runs,
// in order, when the outermost call returns. Calls from other threads are not
// held (they are not inside anything). FLock guards every field.
class TCallGate {
public:
    // True when the call may run now (it then calls Leave when it ends);
    // false when `later` was queued because a call of this thread is running.
    bool Enter(std::function<void()> later) {
        std::lock_guard lock(FLock);
        const std::thread::id me = std::this_thread::get_id();
        if (FDepth > 0 && FOwner == me) {
            FQueued.push_back(std::move(later));
            return false;
        }
        if (FDepth > 0) return true; // another thread's call: not nested, not counted
        FOwner = me;
        FDepth = 1;
        return true;
    }
    // Counts like a call that always runs (a handler the component calls
    // on the host's thread): calls made meanwhile are queued until it, and
    // any call it runs inside, has ended. False when another thread's call
    // is running (nothing is counted then, and Leave is not called).
    bool Hold() {
        std::lock_guard lock(FLock);
        const std::thread::id me = std::this_thread::get_id();
        if (FDepth > 0 && FOwner != me) return false;
        FOwner = me;
        ++FDepth;
        return true;
    }
    void Leave() {
        std::deque<std::function<void()>> queued;
        {
            std::lock_guard lock(FLock);
            if (FOwner != std::this_thread::get_id() || --FDepth > 0) return;
            FOwner = std::thread::id();
            queued.swap(FQueued);
        }
        for (auto& call : queued) {
            try {
                call();
            } catch (...) {
                // Nobody is left to take it: the host call it came from has
                // returned long ago.
            }
        }
    }
    // Whether a call of the calling thread is running.
    bool Busy() {
        std::lock_guard lock(FLock);
        return FDepth > 0 && FOwner == std::this_thread::get_id();
    }

private:
    std::mutex FLock;
    std::thread::id FOwner;
    int FDepth = 0;
    std::deque<std::function<void()>> FQueued;
};

// Enters a gate for the length of a scope; without `later`, holds it.
class TGatedCall {
public:
    TGatedCall(TCallGate& gate, std::function<void()> later)
        : FGate(gate), FEntered(gate.Enter(std::move(later))) {}
    explicit TGatedCall(TCallGate& gate) : FGate(gate), FEntered(gate.Hold()) {}
    ~TGatedCall() {
        if (FEntered) FGate.Leave();
    }
    TGatedCall(const TGatedCall&) = delete;
    TGatedCall& operator=(const TGatedCall&) = delete;
    // False: the call was queued and must return at once.
    explicit operator bool() const { return FEntered; }

private:
    TCallGate& FGate;
    bool FEntered;
};
