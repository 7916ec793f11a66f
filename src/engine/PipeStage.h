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
// thread; the work runs on the stage's thread only. Each queue guards its
// own items; the stage's thread is the only one that puts results.
#pragma once

#include "engine/StageQueue.h"

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

template <class In, class Out, class Error = std::runtime_error> class TPipeStage {
public:
    using TEmit = std::function<void(Out)>;
    using TWork = std::function<void(In&, const TEmit&)>;

    TPipeStage(std::size_t capacity, TWork work)
        : FWork(std::move(work)), FInput(capacity), FOutput(TStageQueue<Out, Error>::kUnbounded) {}
    ~TPipeStage() { Stop(); }
    TPipeStage(const TPipeStage&) = delete;
    TPipeStage& operator=(const TPipeStage&) = delete;

    void Start() {
        if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
    }

    // Queues `item`; waits while the queue is full. Raises the stage's
    // error, and refuses items after a stop.
    void Give(In item) { FInput.Give(std::move(item)); }

    // The oldest result into `out`, without waiting: false when none is
    // ready. Raises the stage's error.
    bool Take(Out& out) { return FOutput.TryTake(out); }

    // Waits until every item given has been worked on (its results wait to
    // be taken); raises the stage's error.
    void Finish() { FInput.WaitDrained(); }

    // Drops the items and results that wait and ends the thread once the
    // item in work is done.
    void Stop() {
        FInput.Stop();
        FOutput.Stop();
        if (FThread.joinable()) FThread.join();
    }

    // Items given and not yet worked on.
    std::size_t Waiting() const { return FInput.Waiting(); }
    // Results not yet taken.
    std::size_t Ready() const { return FOutput.Size(); }

private:
    void Run() {
        const TEmit emit = [this](Out result) { FOutput.Add(std::move(result)); };
        In item;
        while (FInput.Take(item)) {
            std::string failure = StageFailure([&] { FWork(item, emit); });
            // What the item holds (a picture's buffers, say) goes before the
            // stage waits for the next one.
            item = In();
            if (!failure.empty()) {
                // The results first: once Finish or Give sees the error, no
                // result made before it can still be taken.
                FOutput.Fail(failure);
                FInput.Fail(std::move(failure));
            }
            FInput.Done();
        }
    }

    const TWork FWork;
    TStageQueue<In, Error> FInput;   // fed by the feeding thread, taken by the stage's
    TStageQueue<Out, Error> FOutput; // put by the stage's thread, taken by the feeding one
    std::thread FThread;
};
