// One stage of a conversion on a thread of its own that only consumes: the
// thread that feeds it gives items, in order, into a bounded queue; the
// stage's thread takes them one by one and hands each to the stage's work.
// It is a pipe stage whose work makes no results. The first error the work
// raises ends the stage: what still waits is dropped, and the next Give or
// Flush raises that error's message on the feeding thread.
//
// Threads: Start, Give, Flush and Stop are called by the one feeding
// thread; the work runs on the stage's thread only (the pipe stage's lock
// guards the queue).
#pragma once

#include "engine/PipeStage.h"

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <utility>

template <class Item, class Error = std::runtime_error> class TStageWorker {
public:
    using TWork = std::function<void(Item&)>;

    TStageWorker(std::size_t capacity, TWork work)
        : FPipe(capacity,
                [work = std::move(work)](Item& item, const TEmitNothing&) { work(item); }) {}

    void Start() { FPipe.Start(); }
    // Queues `item`; waits while the queue is full. Raises the stage's
    // error, and refuses items after a stop.
    void Give(Item item) { FPipe.Give(std::move(item)); }
    // Waits until every item given has been worked on; raises the error.
    void Flush() { FPipe.Finish(); }
    // Drops what waits and ends the thread once the item in work is done.
    void Stop() { FPipe.Stop(); }
    // Items given and not yet worked on.
    std::size_t Waiting() const { return FPipe.Waiting(); }

private:
    struct TNoResult {};
    using TEmitNothing = typename TPipeStage<Item, TNoResult, Error>::TEmit;

    TPipeStage<Item, TNoResult, Error> FPipe;
};
