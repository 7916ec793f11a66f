// The ring of host events between the player's threads (which post) and its
// event thread (which delivers): ten slots, so at most nine entries. An
// entry of the same kind as the newest replaces it (positions and states
// coalesce); when the ring is full the oldest goes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

struct TEventEntry {
    enum TKind { PositionEvent = 1, StateEvent = 2, StopEvent = 3 };
    int Kind = PositionEvent;
    int State = 0; // the player's TPlayState
    std::int64_t PTS = 0;
};

// FLock guards every field; FPending wakes Take and WaitForWake.
class TEventRing {
public:
    static constexpr int Slots = 10;

    // Any thread.
    void Post(const TEventEntry& entry);
    // The oldest entry; false when none came within `timeout`.
    bool Take(TEventEntry& entry, std::chrono::milliseconds timeout);
    // Empties the ring (a new file).
    void Clear();
    // Wakes every waiter (the event thread ended).
    void Wake() { FPending.notify_all(); }
    // Waits for a post or a wake, at most `timeout`.
    void WaitForWake(std::chrono::milliseconds timeout);
    int Count();

private:
    std::mutex FLock;
    std::condition_variable FPending;
    bool FSignal = false; // posted since the ring was last emptied
    TEventEntry FEntries[Slots];
    int FRead = 0, FWrite = 0; // equal: empty
};
