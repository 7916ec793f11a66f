#include "media/MainThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// A waiting hand-over: whoever takes the call first (the main thread, or the
// poster itself once no main thread is left) runs it. Taken, Done and Error
// are guarded by THandOver::Lock.
struct TWaitingCall {
    TMainThreadCall Call;
    bool Taken = false;
    bool Done = false;
    std::exception_ptr Error;
};

// One posted call; Waiting marks the hand-over of RunInMainThread.
struct TPosted {
    TMainThreadCall Call;
    bool Waiting = false;
};

// Posted calls in order. Lock guards Queue, Pump and MainId; Posted wakes
// the main thread, Finished wakes posters waiting for their calls.
struct THandOver {
    std::mutex Lock;
    std::condition_variable Posted;
    std::condition_variable Finished;
    std::deque<TPosted> Queue;
    std::function<void()> Pump;
    int Holds = 0; // > 0: queued calls wait, waiting hand-overs still run
    std::thread::id MainId;
    std::atomic<bool> HasMain{false};
};

THandOver& HandOver() {
    static THandOver handOver;
    return handOver;
}

void Post(TMainThreadCall call, bool waiting) {
    THandOver& h = HandOver();
    {
        std::lock_guard lock(h.Lock);
        h.Queue.push_back(TPosted{std::move(call), waiting});
    }
    h.Posted.notify_one();
}

// Takes the call unless somebody else already did.
bool TakeWaiting(TWaitingCall& waiting, TMainThreadCall& call) {
    if (waiting.Taken) return false;
    waiting.Taken = true;
    call = std::move(waiting.Call);
    return true;
}

// Runs a taken call unlocked and marks it done.
void RunTaken(const std::shared_ptr<TWaitingCall>& waiting, TMainThreadCall& call) {
    std::exception_ptr error;
    try {
        call();
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard lock(HandOver().Lock);
        // Moved, not copied: after the lock the exception belongs to the
        // waiting thread alone, which frees it (its reference count lives in
        // the runtime, where the thread checker cannot see it).
        waiting->Error = std::move(error);
        waiting->Done = true;
    }
    HandOver().Finished.notify_all();
}

// The next call to run: the first one, or while queued calls are held (or
// only waiting ones are wanted) the first waiting hand-over.
bool TakeNext(TMainThreadCall& call, bool waitingOnly) {
    THandOver& h = HandOver();
    std::lock_guard lock(h.Lock);
    const bool skipQueued = waitingOnly || h.Holds > 0;
    for (auto it = h.Queue.begin(); it != h.Queue.end(); ++it) {
        if (skipQueued && !it->Waiting) continue;
        call = std::move(it->Call);
        h.Queue.erase(it);
        return true;
    }
    return false;
}

bool HasRunnable() {
    THandOver& h = HandOver();
    if (h.Holds == 0) return !h.Queue.empty();
    for (const TPosted& posted : h.Queue)
        if (posted.Waiting) return true;
    return false;
}

int RunPosted(bool waitingOnly = false) {
    int count = 0;
    TMainThreadCall call;
    while (TakeNext(call, waitingOnly)) {
        ++count;
        call();
    }
    return count;
}

} // namespace

void SetMainThread() {
    THandOver& h = HandOver();
    std::lock_guard lock(h.Lock);
    h.MainId = std::this_thread::get_id();
    h.HasMain = true;
}

void ClearMainThread() {
    THandOver& h = HandOver();
    {
        std::lock_guard lock(h.Lock);
        h.MainId = std::thread::id();
        h.HasMain = false;
    }
    h.Finished.notify_all();
}

bool HasMainThread() {
    return HandOver().HasMain;
}

bool IsMainThread() {
    THandOver& h = HandOver();
    std::lock_guard lock(h.Lock);
    return h.HasMain && h.MainId == std::this_thread::get_id();
}

namespace {

// Posts `call` as a waiting hand-over and waits for it; with `giveUp`, stops
// waiting once it holds (a call not yet taken is then never run). True when
// the call ran to its end.
bool PostAndWait(TMainThreadCall call, const std::atomic<bool>* giveUp) {
    auto waiting = std::make_shared<TWaitingCall>();
    waiting->Call = std::move(call);
    Post(
        [waiting] {
            TMainThreadCall taken;
            bool mine;
            {
                std::lock_guard lock(HandOver().Lock);
                mine = TakeWaiting(*waiting, taken);
            }
            if (mine) RunTaken(waiting, taken);
        },
        true);
    THandOver& h = HandOver();
    std::unique_lock lock(h.Lock);
    while (!waiting->Done) {
        h.Finished.wait_for(lock, std::chrono::milliseconds(20));
        if (waiting->Done) break;
        if (giveUp && giveUp->load()) {
            // Taken here, it never runs; taken by the main thread, it runs
            // on without anybody waiting for it.
            waiting->Taken = true;
            return false;
        }
        TMainThreadCall taken;
        if (!h.HasMain && TakeWaiting(*waiting, taken)) {
            lock.unlock();
            RunTaken(waiting, taken);
            lock.lock();
        }
    }
    std::exception_ptr error = std::move(waiting->Error);
    lock.unlock();
    if (error) std::rethrow_exception(error);
    return true;
}

} // namespace

void RunInMainThread(TMainThreadCall call) {
    if (!HasMainThread() || IsMainThread()) {
        call();
        return;
    }
    PostAndWait(std::move(call), nullptr);
}

bool RunInMainThreadUnless(TMainThreadCall call, const std::atomic<bool>& giveUp) {
    if (!HasMainThread() || IsMainThread()) {
        call();
        return true;
    }
    return PostAndWait(std::move(call), &giveUp);
}

void QueueInMainThread(TMainThreadCall call) {
    if (!HasMainThread() || IsMainThread()) {
        call();
        return;
    }
    Post(std::move(call), false);
}

void SetMessagePumpHook(std::function<void()> hook) {
    THandOver& h = HandOver();
    std::lock_guard lock(h.Lock);
    h.Pump = std::move(hook);
}

void ProcessPendingMessages() {
    std::function<void()> pump;
    {
        std::lock_guard lock(HandOver().Lock);
        pump = HandOver().Pump;
    }
    if (pump) pump();
    RunPosted();
}

int ServiceMainThread(std::chrono::milliseconds timeout) {
    THandOver& h = HandOver();
    {
        std::unique_lock lock(h.Lock);
        h.Posted.wait_for(lock, timeout, [] { return HasRunnable(); });
    }
    return RunPosted();
}

int RunWaitingHandOvers() {
    return RunPosted(true);
}

TQueuedCallsHold::TQueuedCallsHold() {
    std::lock_guard lock(HandOver().Lock);
    ++HandOver().Holds;
}

TQueuedCallsHold::~TQueuedCallsHold() {
    {
        std::lock_guard lock(HandOver().Lock);
        --HandOver().Holds;
    }
    HandOver().Posted.notify_one();
}
