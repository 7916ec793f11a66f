// The delivery of the player's events to its host: the ring the player's
// threads post to, the event thread that hands each entry over, on the main
// thread or on its own, and the wait for that thread's end, which may come
// from inside a handler it runs.
//
//   events.Reset();                       // a new file
//   events.Start(deliver, true);
//   events.Post(TEventEntry{TEventEntry::StateEvent, psStop, 0});
//   events.Join(serve);
#pragma once

#include "player/EventRing.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class TFFBaseComponent;

// Reset, Start and Join belong to the host's threads (one at a time, under
// the player's call gate); Post to any thread. The ring locks itself; the
// flags are atomics.
class THostEvents {
public:
    using TDeliver = std::function<void(const TEventEntry& entry)>;

    // `owner` names the player in the log of a handler's exception; the
    // delivery ends with the state entry of `stopState`.
    THostEvents(TFFBaseComponent* owner, int stopState) : FOwner(owner), FStopState(stopState) {}
    THostEvents(const THostEvents&) = delete;
    THostEvents& operator=(const THostEvents&) = delete;
    ~THostEvents() { Join({}); }

    // A new file: what a thread that gave up left behind goes.
    void Reset();
    void Post(const TEventEntry& entry) { FRing.Post(entry); }
    // The event thread hands each entry to `deliver` (on the main thread
    // when `mainThread`) until a stop entry, or until it has delivered the
    // stop state.
    void Start(TDeliver deliver, bool mainThread);
    // Waits for the event thread's end, running `serve` (if any) meanwhile.
    // From inside a delivery the event thread is told to give up its wait
    // for the main thread and to end without the rest of its entries.
    void Join(const std::function<void()>& serve);

private:
    void Run(const std::shared_ptr<const TDeliver>& deliver, bool mainThread);

    TFFBaseComponent* FOwner;
    const int FStopState;
    TEventRing FRing;
    std::thread FThread;
    std::atomic<bool> FDone{true};
    std::atomic<bool> FGiveUp{false};
    // The thread running a delivery, while it runs.
    std::atomic<std::thread::id> FDeliveryThread{};
};
