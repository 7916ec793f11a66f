// One stage of a conversion on a thread of its own: the thread that feeds
// it gives items, in order, into a bounded queue; the stage's thread takes
// them one by one and hands each to the stage's work. The first error the
// work raises ends the stage: what still waits is dropped, and the next
// Give or Flush raises that error's message on the feeding thread.
//
// Threads: Start, Give, Flush and Stop are called by the one feeding
// thread; the work runs on the stage's thread only. FLock guards FQueue,
// FBusy, FStopping and FError.
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

template <class Item, class Error = std::runtime_error> class TStageWorker {
public:
    using TWork = std::function<void(Item&)>;

    TStageWorker(std::size_t capacity, TWork work)
        : FCapacity(capacity < 1 ? 1 : capacity), FWork(std::move(work)) {}
    ~TStageWorker() { Stop(); }
    TStageWorker(const TStageWorker&) = delete;
    TStageWorker& operator=(const TStageWorker&) = delete;

    void Start() {
        if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
    }

    // Queues `item`; waits while the queue is full. Raises the stage's
    // error, and refuses items after a stop.
    void Give(Item item) {
        std::unique_lock lock(FLock);
        while (FQueue.size() >= FCapacity && !FStopping && FError.empty())
            FTaken.wait_for(lock, kWakeUp);
        RaiseError();
        if (FStopping) throw Error("The stage has stopped");
        FQueue.push_back(std::move(item));
        FGiven.notify_one();
    }

    // Waits until every item given has been worked on; raises the error.
    void Flush() {
        std::unique_lock lock(FLock);
        while ((!FQueue.empty() || FBusy) && !FStopping && FError.empty())
            FTaken.wait_for(lock, kWakeUp);
        RaiseError();
    }

    // Drops what waits and ends the thread once the item in work is done.
    void Stop() {
        {
            std::lock_guard lock(FLock);
            FStopping = true;
            FQueue.clear();
        }
        FGiven.notify_all();
        FTaken.notify_all();
        if (FThread.joinable()) FThread.join();
    }

    // Items given and not yet worked on.
    std::size_t Waiting() const {
        std::lock_guard lock(FLock);
        return FQueue.size() + (FBusy ? 1 : 0);
    }

private:
    static constexpr std::chrono::milliseconds kWakeUp{100};

    void Run() {
        for (;;) {
            Item item;
            {
                std::unique_lock lock(FLock);
                while (FQueue.empty() && !FStopping)
                    FGiven.wait_for(lock, kWakeUp);
                if (FStopping) return;
                item = std::move(FQueue.front());
                FQueue.pop_front();
                FBusy = true;
            }
            std::string failure = WorkOn(item);
            {
                std::lock_guard lock(FLock);
                FBusy = false;
                if (!failure.empty()) {
                    FError = std::move(failure);
                    FQueue.clear();
                }
            }
            FTaken.notify_all();
        }
    }

    // The work's error message, empty when it went well.
    std::string WorkOn(Item& item) {
        try {
            FWork(item);
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
    std::condition_variable FTaken; // an item was done, or the stage stops
    std::deque<Item> FQueue;        // FLock
    bool FBusy = false;             // FLock: the stage's thread works on an item
    bool FStopping = false;         // FLock
    std::string FError;             // FLock: the first failure's message
    std::thread FThread;
};
