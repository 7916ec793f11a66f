// A stage that makes items on a thread of its own, ahead of the thread that
// takes them, into a bounded queue: reading a file's packets while the
// packets read before are worked on. The stage's work makes one item per
// call and says when it was the last; the thread then ends.
//
// The first error the work raises ends the stage: what still waits is
// dropped, and the next Take raises that error's message.
//
// Threads: Start, Take and Stop are called by the one taking thread; the
// work runs on the stage's thread only. The queue guards its own items.
#pragma once

#include "engine/StageQueue.h"

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

template <class Out, class Error = std::runtime_error> class TSourceStage {
public:
    // Fills its item; false when the item is the last one.
    using TWork = std::function<bool(Out&)>;

    TSourceStage(std::size_t capacity, TWork work) : FWork(std::move(work)), FQueue(capacity) {}
    ~TSourceStage() { Stop(); }
    TSourceStage(const TSourceStage&) = delete;
    TSourceStage& operator=(const TSourceStage&) = delete;

    void Start() {
        if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
    }

    // The oldest item into `out`; waits while none is ready. False after
    // the last item and after a stop. Raises the stage's error.
    bool Take(Out& out) {
        if (FQueue.Take(out)) return true;
        FQueue.RaiseError();
        return false;
    }

    // Drops what waits and ends the thread once the item in work is made.
    void Stop() {
        FQueue.Stop();
        if (FThread.joinable()) FThread.join();
    }

    // Items made and not yet taken.
    std::size_t Ready() const { return FQueue.Size(); }

private:
    void Run() {
        while (FQueue.WaitForRoom()) {
            Out item{};
            bool more = true;
            std::string failure = StageFailure([&] { more = FWork(item); });
            if (!failure.empty()) return FQueue.Fail(std::move(failure));
            FQueue.Add(std::move(item));
            if (!more) return FQueue.Close();
        }
    }

    const TWork FWork;
    TStageQueue<Out, Error> FQueue; // put by the stage's thread, taken by the taking one
    std::thread FThread;
};
