// A stage of a conversion that turns items into results on a thread of its
// own: the feeding thread gives items, in order, into a bounded queue, and
// takes the results back, in the order the stage made them, whenever it
// likes. The stage's work may make any number of results of one item.
//
// The results are not bounded by a count of their own: the feeding thread
// takes them after every item it gives, so they never stand for more than
// the items of one full queue.
//
// The first error the work raises ends the stage: what still waits is
// dropped, and the next Give, Take or Finish raises that error's message.
//
// Threads: Start, Give, Take, Finish and Stop are called by the one feeding
// thread; the work runs on the stage's thread only. FLock guards FInput,
// FOutput, FBusy, FStopping and FError.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

template <class In, class Out, class Error = std::runtime_error> class TPipeStage {
public:
    using TEmit = std::function<void(Out)>;
    using TWork = std::function<void(In&, const TEmit&)>;

    TPipeStage(std::size_t capacity, TWork work)
        : FCapacity(capacity < 1 ? 1 : capacity), FWork(std::move(work)) {}
    ~TPipeStage() { Stop(); }
    TPipeStage(const TPipeStage&) = delete;
    TPipeStage& operator=(const TPipeStage&) = delete;

    void Start() {
        if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
    }

    // Queues `item`; waits while the queue is full. Raises the stage's
    // error, and refuses items after a stop.
    void Give(In item) {
        std::unique_lock lock(FLock);
        while (FInput.size() >= FCapacity && !FStopping && FError.empty())
            FDone.wait_for(lock, kWakeUp);
        RaiseError();
        if (FStopping) throw Error("The stage has stopped");
        FInput.push_back(std::move(item));
        FGiven.notify_one();
    }

    // The oldest result into `out`, without waiting: false when none is
    // ready. Raises the stage's error.
    bool Take(Out& out) {
        std::lock_guard lock(FLock);
        RaiseError();
        if (FOutput.empty()) return false;
        out = std::move(FOutput.front());
        FOutput.pop_front();
        return true;
    }

    // Waits until every item given has been worked on (its results wait to
    // be taken); raises the stage's error.
    void Finish() {
        std::unique_lock lock(FLock);
        while ((!FInput.empty() || FBusy) && !FStopping && FError.empty())
            FDone.wait_for(lock, kWakeUp);
        RaiseError();
    }

    // Drops the items and results that wait and ends the thread once the
    // item in work is done.
    void Stop() {
        {
            std::lock_guard lock(FLock);
            FStopping = true;
            FInput.clear();
            FOutput.clear();
        }
        FGiven.notify_all();
        FDone.notify_all();
        if (FThread.joinable()) FThread.join();
    }

    // Items given and not yet worked on.
    std::size_t Waiting() const {
        std::lock_guard lock(FLock);
        return FInput.size() + (FBusy ? 1 : 0);
    }
    // Results not yet taken.
    std::size_t Ready() const {
        std::lock_guard lock(FLock);
        return FOutput.size();
    }

private:
    static constexpr std::chrono::milliseconds kWakeUp{100};

    void Run() {
        const TEmit emit = [this](Out result) { Keep(std::move(result)); };
        for (;;) {
            In item;
            {
                std::unique_lock lock(FLock);
                while (FInput.empty() && !FStopping)
                    FGiven.wait_for(lock, kWakeUp);
                if (FStopping) return;
                item = std::move(FInput.front());
                FInput.pop_front();
                FBusy = true;
            }
            std::string failure = WorkOn(item, emit);
            {
                std::lock_guard lock(FLock);
                FBusy = false;
                if (!failure.empty() && FError.empty()) {
                    FError = std::move(failure);
                    FInput.clear();
                    FOutput.clear();
                }
            }
            FDone.notify_all();
        }
    }

    // On the stage's thread.
    void Keep(Out result) {
        std::lock_guard lock(FLock);
        if (!FStopping && FError.empty()) FOutput.push_back(std::move(result));
    }

    // The work's error message, empty when it went well.
    std::string WorkOn(In& item, const TEmit& emit) {
        try {
            FWork(item, emit);
        } catch (const std::exception& e) {
            return *e.what() ? e.what() : "The stage failed";
        } catch (...) {
            return "The stage failed";
        }
        return {};
    }

    // Under FLock.
    void RaiseError() const {
        if (!FError.empty()) throw Error(FError);
    }

    const std::size_t FCapacity;
    const TWork FWork;
    mutable std::mutex FLock;
    std::condition_variable FGiven; // an item was queued, or the stage stops
    std::condition_variable FDone;  // an item was done, or the stage stops
    std::deque<In> FInput;          // FLock
    std::deque<Out> FOutput;        // FLock
    bool FBusy = false;             // FLock: the stage's thread works on an item
    bool FStopping = false;         // FLock
    std::string FError;             // FLock: the first failure's message
    std::thread FThread;
};
