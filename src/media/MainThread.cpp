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

// Posted calls in order. Lock guards Queue, Pump and MainId; Posted wakes
// the main thread, Finished wakes posters waiting for their calls.
struct THandOver {
    std::mutex Lock;
    std::condition_variable Posted;
    std::condition_variable Finished;
    std::deque<TMainThreadCall> Queue;
    std::function<void()> Pump;
    std::thread::id MainId;
    std::atomic<bool> HasMain{false};
};

THandOver& HandOver() {
    static THandOver handOver;
    return handOver;
}

void Post(TMainThreadCall call) {
    THandOver& h = HandOver();
    {
        std::lock_guard lock(h.Lock);
        h.Queue.push_back(std::move(call));
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
        waiting->Error = error;
        waiting->Done = true;
    }
    HandOver().Finished.notify_all();
}

bool TakeNext(TMainThreadCall& call) {
    THandOver& h = HandOver();
    std::lock_guard lock(h.Lock);
    if (h.Queue.empty()) return false;
    call = std::move(h.Queue.front());
    h.Queue.pop_front();
    return true;
}

int RunPosted() {
    int count = 0;
    TMainThreadCall call;
    while (TakeNext(call)) {
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

void RunInMainThread(TMainThreadCall call) {
    if (!HasMainThread() || IsMainThread()) {
        call();
        return;
    }
    auto waiting = std::make_shared<TWaitingCall>();
    waiting->Call = std::move(call);
    Post([waiting] {
        TMainThreadCall taken;
        bool mine;
        {
            std::lock_guard lock(HandOver().Lock);
            mine = TakeWaiting(*waiting, taken);
        }
        if (mine) RunTaken(waiting, taken);
    });
    THandOver& h = HandOver();
    std::unique_lock lock(h.Lock);
    while (!waiting->Done) {
        h.Finished.wait_for(lock, std::chrono::milliseconds(20));
        TMainThreadCall taken;
        if (!waiting->Done && !h.HasMain && TakeWaiting(*waiting, taken)) {
            lock.unlock();
            RunTaken(waiting, taken);
            lock.lock();
        }
    }
    if (waiting->Error) std::rethrow_exception(waiting->Error);
}

void QueueInMainThread(TMainThreadCall call) {
    if (!HasMainThread() || IsMainThread()) {
        call();
        return;
    }
    Post(std::move(call));
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
        h.Posted.wait_for(lock, timeout, [&h] { return !h.Queue.empty(); });
    }
    return RunPosted();
}
