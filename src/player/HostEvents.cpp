#include "player/HostEvents.h"

#include "media/FFmpegLogger.h"
#include "media/MainThread.h"

using namespace std::chrono_literals;

namespace {

// Marks the thread running a delivery for as long as it runs.
class TDeliveryMark {
public:
    explicit TDeliveryMark(std::atomic<std::thread::id>& mark) : FMark(mark) {
        FPrevious = FMark.exchange(std::this_thread::get_id());
    }
    ~TDeliveryMark() { FMark = FPrevious; }
    TDeliveryMark(const TDeliveryMark&) = delete;
    TDeliveryMark& operator=(const TDeliveryMark&) = delete;

private:
    std::atomic<std::thread::id>& FMark;
    std::thread::id FPrevious;
};

} // namespace

void THostEvents::Reset() {
    FRing.Clear();
    FGiveUp = false;
}

void THostEvents::Start(TDeliver deliver, bool mainThread) {
    FDone = false;
    auto shared = std::make_shared<const TDeliver>(std::move(deliver));
    FThread = std::thread([this, shared, mainThread] { Run(shared, mainThread); });
}

void THostEvents::Run(const std::shared_ptr<const TDeliver>& deliver, bool mainThread) {
    for (;;) {
        TEventEntry entry;
        if (!FRing.Take(entry, 500ms)) continue;
        if (entry.Kind == TEventEntry::StopEvent) break;
        // Each call holds the handler: a call the main thread still runs
        // after this thread gave up on it outlives this thread.
        auto call = [this, deliver, entry] {
            TDeliveryMark mark(FDeliveryThread);
            (*deliver)(entry);
        };
        try {
            if (mainThread && !RunInMainThreadUnless(call, FGiveUp)) break;
            if (!mainThread) call();
        } catch (const std::exception& e) {
            GetLogger().Log(FOwner, llError, e.what());
        }
        if (entry.Kind == TEventEntry::StateEvent && entry.State == FStopState) break;
    }
    FDone = true;
    FRing.Wake();
}

void THostEvents::Join(const std::function<void()>& serve) {
    if (!FThread.joinable()) return;
    // The event thread ends after it has delivered the stop state; the main
    // thread keeps serving its hand-overs meanwhile. Called from inside a
    // delivery, the event thread waits for this very thread.
    if (FDeliveryThread.load() == std::this_thread::get_id()) FGiveUp = true;
    while (!FDone) {
        if (serve) serve();
        FRing.WaitForWake(20ms);
    }
    FThread.join();
}
