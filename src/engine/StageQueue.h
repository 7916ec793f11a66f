// The queue between two threads of a conversion's stages: one thread puts
// items in, one takes them out, in order. It holds at most its capacity;
// the putting side waits for room and the taking side for an item, each
// wait waking at least every 100 ms and at once on a stop or a failure.
// A putting side that finds the queue full waits until it is down to half
// (its low mark) and is woken then: once for several items, not for each
// one taken, which on two busy cores would cost a switch of threads each.
//
// A stop drops what waits and ends every wait; a failure does the same and
// keeps the first failure's message, which RaiseError then raises on
// whichever thread asks. The item taken last counts as in work until Done,
// so that WaitDrained can wait for the work, not only for the queue.
//
// Threads: one putting and one taking thread; any thread may Stop or Fail.
// FLock guards every field but the capacity.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

template <class T, class Error = std::runtime_error> class TStageQueue {
public:
    static constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

    explicit TStageQueue(std::size_t capacity)
        : FCapacity(capacity < 1 ? 1 : capacity), FLowMark(FCapacity / 2) {}
    TStageQueue(const TStageQueue&) = delete;
    TStageQueue& operator=(const TStageQueue&) = delete;

    // Waits for room; false once the queue is stopped or failed.
    bool WaitForRoom() {
        std::unique_lock lock(FLock);
        return WaitForRoom(lock);
    }

    // Puts `item` without waiting; dropped once stopped or failed.
    void Add(T item) {
        {
            std::lock_guard lock(FLock);
            if (!Live()) return;
            FItems.push_back(std::move(item));
        }
        FPut.notify_all();
    }

    // Waits for room and puts `item`. Raises the failure, and refuses items
    // after a stop.
    void Give(T item) {
        {
            std::unique_lock lock(FLock);
            if (!WaitForRoom(lock)) {
                RaiseErrorLocked();
                throw Error("The stage has stopped");
            }
            FItems.push_back(std::move(item));
        }
        FPut.notify_all();
    }

    // No item follows the ones put: Take returns false once they are taken.
    void Close() {
        {
            std::lock_guard lock(FLock);
            FClosed = true;
        }
        FPut.notify_all();
    }

    // The oldest item into `out`; waits while none is there. False after
    // the last item of a closed queue, after a stop and after a failure.
    bool Take(T& out) {
        bool room = false;
        {
            std::unique_lock lock(FLock);
            while (FItems.empty() && !FClosed && Live())
                FPut.wait_for(lock, kWakeUp);
            if (FItems.empty() || !Live()) return false;
            out = std::move(FItems.front());
            FItems.pop_front();
            FInWork = true;
            room = FItems.size() <= FLowMark;
        }
        if (room) FTaken.notify_all();
        return true;
    }

    // The oldest item into `out` without waiting: false when none is there.
    // Raises the failure.
    bool TryTake(T& out) {
        bool room = false;
        {
            std::lock_guard lock(FLock);
            RaiseErrorLocked();
            if (FItems.empty()) return false;
            out = std::move(FItems.front());
            FItems.pop_front();
            room = FItems.size() <= FLowMark;
        }
        if (room) FTaken.notify_all();
        return true;
    }

    // The item taken last is worked on. Only WaitDrained can be waiting for
    // that, and only once nothing else waits.
    void Done() {
        bool drained = false;
        {
            std::lock_guard lock(FLock);
            FInWork = false;
            drained = FItems.empty();
        }
        if (drained) FTaken.notify_all();
    }

    // Waits until every item put is taken and done; raises the failure.
    void WaitDrained() {
        std::unique_lock lock(FLock);
        while ((!FItems.empty() || FInWork) && Live())
            FTaken.wait_for(lock, kWakeUp);
        RaiseErrorLocked();
    }

    // Keeps `message` when it is the first failure; drops what waits and
    // what is in work.
    void Fail(std::string message) {
        {
            std::lock_guard lock(FLock);
            if (!FError.empty()) return;
            FError = message.empty() ? "The stage failed" : std::move(message);
            FItems.clear();
            FInWork = false; // the failed item is over as well
        }
        WakeAll();
    }

    // Drops what waits and ends every wait.
    void Stop() {
        {
            std::lock_guard lock(FLock);
            FStopping = true;
            FItems.clear();
        }
        WakeAll();
    }

    void RaiseError() const {
        std::lock_guard lock(FLock);
        RaiseErrorLocked();
    }

    // Items put and not yet taken.
    std::size_t Size() const {
        std::lock_guard lock(FLock);
        return FItems.size();
    }
    // Items put and not yet done: those that wait and the one in work.
    std::size_t Waiting() const {
        std::lock_guard lock(FLock);
        return FItems.size() + (FInWork ? 1 : 0);
    }

private:
    static constexpr std::chrono::milliseconds kWakeUp{100};

    // Under FLock.
    bool Live() const { return !FStopping && FError.empty(); }
    bool WaitForRoom(std::unique_lock<std::mutex>& lock) {
        if (FItems.size() < FCapacity) return Live();
        while (FItems.size() > FLowMark && Live())
            FTaken.wait_for(lock, kWakeUp);
        return Live();
    }
    void RaiseErrorLocked() const {
        if (!FError.empty()) throw Error(FError);
    }

    void WakeAll() {
        FPut.notify_all();
        FTaken.notify_all();
    }

    const std::size_t FCapacity;
    const std::size_t FLowMark; // a full queue's putting side waits until down to it
    mutable std::mutex FLock;
    std::condition_variable FPut;   // an item was put, the queue closed, stopped or failed
    std::condition_variable FTaken; // an item was taken or done, or the queue stopped or failed
    std::deque<T> FItems;           // FLock
    bool FInWork = false;           // FLock: the item taken last is not yet done
    bool FClosed = false;           // FLock
    bool FStopping = false;         // FLock
    std::string FError;             // FLock: the first failure's message
};

// Runs a stage's `work`; the message of what it raised, empty when it went
// well.
template <class Work> std::string StageFailure(Work&& work) {
    try {
        work();
    } catch (const std::exception& e) {
        return *e.what() ? e.what() : "The stage failed";
    } catch (...) {
        return "The stage failed";
    }
    return {};
}
