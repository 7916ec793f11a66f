// A stage that makes items on a thread of its own, ahead of the thread that
// takes them, into a bounded queue: reading a file's packets while the
// packets read before are worked on. The stage's work makes one item per
// call and says when it was the last; the thread then waits for its stop.
//
// The first error the work raises ends the stage: what still waits is
// dropped, and the next Take raises that error's message.
//
// Threads: Start, Take and Stop are called by the one taking thread; the
// work runs on the stage's thread only. FLock guards FQueue, FEnded,
// FStopping and FError.
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

template <class Out, class Error = std::runtime_error> class TSourceStage {
public:
    // Fills its item; false when the item is the last one.
    using TWork = std::function<bool(Out&)>;

    TSourceStage(std::size_t capacity, TWork work)
        : FCapacity(capacity < 1 ? 1 : capacity), FWork(std::move(work)) {}
    ~TSourceStage() { Stop(); }
    TSourceStage(const TSourceStage&) = delete;
    TSourceStage& operator=(const TSourceStage&) = delete;

    void Start() {
        if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
    }

    // The oldest item into `out`; waits while none is ready. False after
    // the last item and after a stop. Raises the stage's error.
    bool Take(Out& out) {
        std::unique_lock lock(FLock);
        while (FQueue.empty() && !FEnded && !FStopping && FError.empty())
            FMade.wait_for(lock, kWakeUp);
        if (!FError.empty()) throw Error(FError);
        if (FQueue.empty()) return false;
        out = std::move(FQueue.front());
        FQueue.pop_front();
        FTaken.notify_one();
        return true;
    }

    // Drops what waits and ends the thread once the item in work is made.
    void Stop() {
        {
            std::lock_guard lock(FLock);
            FStopping = true;
            FQueue.clear();
        }
        FMade.notify_all();
        FTaken.notify_all();
        if (FThread.joinable()) FThread.join();
    }

    // Items made and not yet taken.
    std::size_t Ready() const {
        std::lock_guard lock(FLock);
        return FQueue.size();
    }

private:
    static constexpr std::chrono::milliseconds kWakeUp{100};

    void Run() {
        for (;;) {
            {
                std::unique_lock lock(FLock);
                while (FQueue.size() >= FCapacity && !FStopping)
                    FTaken.wait_for(lock, kWakeUp);
                if (FStopping) return;
            }
            Out item{};
            bool more = true;
            std::string failure;
            try {
                more = FWork(item);
            } catch (const std::exception& e) {
                failure = *e.what() ? e.what() : "The stage failed";
            } catch (...) {
                failure = "The stage failed";
            }
            {
                std::lock_guard lock(FLock);
                if (!failure.empty()) {
                    FError = std::move(failure);
                    FQueue.clear();
                } else if (!FStopping) {
                    FQueue.push_back(std::move(item));
                }
                FEnded = !failure.empty() || !more;
            }
            FMade.notify_all();
            if (!failure.empty() || !more) return;
        }
    }

    const std::size_t FCapacity;
    const TWork FWork;
    mutable std::mutex FLock;
    std::condition_variable FMade;  // an item was made, the stage ended, or it stops
    std::condition_variable FTaken; // an item was taken, or the stage stops
    std::deque<Out> FQueue;         // FLock
    bool FEnded = false;            // FLock: the last item is made, or the work failed
    bool FStopping = false;         // FLock
    std::string FError;             // FLock: the failure's message
    std::thread FThread;
};
