// The queue between two stage threads: order and bound, the waits of both
// sides and what ends them, the first failure, a stop, and the wait for the
// work on the item taken last.
#include "engine/FFmpegRecords.h"
#include "engine/StageQueue.h"
#include "StageTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace stagetest;
using TQueue = TStageQueue<int>;

// Runs `action` on a thread of its own; Back says whether it has returned.
class Side {
public:
    template <class Action>
    explicit Side(Action action)
        : FThread([this, action] {
              action();
              FBack.Open();
          }) {}
    ~Side() { FThread.join(); }
    bool Back(std::chrono::milliseconds limit) { return FBack.WaitFor(limit); }

private:
    Gate FBack;
    std::thread FThread;
};

} // namespace

// The item in work does not count against the bound; the taker ends after
// the last item of a closed queue.
TEST(StageQueue, HoldsItsCapacityBesidesTheItemInWorkAndKeepsTheOrder) {
    TQueue queue(2);
    int item = -1;
    queue.Give(0);
    ASSERT_TRUE(queue.Take(item));
    queue.Give(1);
    queue.Give(2);
    EXPECT_EQ(queue.Waiting(), 3u);
    std::vector<int> taken{item};
    {
        Side feeder([&] {
            queue.Give(3);
            queue.Close();
        });
        EXPECT_FALSE(feeder.Back(50ms)) << "a full queue took another item";
        while (queue.Take(item))
            taken.push_back(item);
        EXPECT_TRUE(feeder.Back(5s));
    }
    EXPECT_EQ(taken, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_FALSE(queue.Take(item)) << "an item after the last";
    EXPECT_FALSE(queue.TryTake(item));
}

// A feeder that found the queue full goes on only once half of it is
// taken, then fills it again; the order stays.
TEST(StageQueue, AFeederOfAFullQueueWaitsUntilHalfOfItIsTaken) {
    TQueue queue(4);
    for (int i = 0; i < 4; ++i)
        queue.Give(i);
    int item = -1;
    std::vector<int> taken;
    {
        Side feeder([&] { queue.Give(4); });
        EXPECT_FALSE(feeder.Back(50ms)) << "a full queue took another item";
        ASSERT_TRUE(queue.Take(item));
        taken.push_back(item);
        queue.Done();
        EXPECT_FALSE(feeder.Back(50ms)) << "the feeder went on with one item taken";
        EXPECT_EQ(queue.Size(), 3u);
        ASSERT_TRUE(queue.Take(item));
        taken.push_back(item);
        EXPECT_TRUE(feeder.Back(5s)) << "half of the queue taken, the feeder still waits";
    }
    EXPECT_EQ(queue.Size(), 3u);
    queue.Give(5);
    queue.Close();
    while (queue.Take(item))
        taken.push_back(item);
    EXPECT_EQ(taken, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(StageQueue, ATakerWaitsForAnItemAndAStopEndsEveryWait) {
    TQueue queue(1);
    int got = -1;
    {
        Side taker([&] { EXPECT_TRUE(queue.Take(got)); });
        EXPECT_FALSE(taker.Back(50ms)) << "Take came back with nothing put";
        queue.Add(7);
        EXPECT_TRUE(taker.Back(5s));
    }
    EXPECT_EQ(got, 7);
    queue.Add(8);
    std::atomic<bool> roomAfterStop{true};
    {
        Side feeder([&] { roomAfterStop = queue.WaitForRoom(); });
        Side drainer([&] { queue.WaitDrained(); }); // 7 is still in work
        EXPECT_FALSE(feeder.Back(50ms));
        EXPECT_FALSE(drainer.Back(1ms));
        queue.Stop();
        EXPECT_TRUE(feeder.Back(5s)) << "a stop left the feeder waiting";
        EXPECT_TRUE(drainer.Back(5s)) << "a stop left the drainer waiting";
    }
    EXPECT_FALSE(roomAfterStop);
    EXPECT_EQ(queue.Size(), 0u) << "items kept after a stop";
    queue.Add(9);
    EXPECT_EQ(queue.Size(), 0u) << "an item put after a stop";
    EXPECT_FALSE(queue.Take(got));
    EXPECT_EQ(Raised([&] { queue.Give(9); }), "The stage has stopped");
}

// Raised on every call after it, with the queue's error class; a later
// failure does not replace it.
TEST(StageQueue, TheFirstFailureDropsWhatWaitsAndIsRaisedOnEitherSide) {
    TStageQueue<int, FFmpegException> queue(8);
    for (int i = 0; i < 4; ++i)
        queue.Give(i);
    int item = -1;
    {
        Side taker([&] {
            while (queue.Take(item)) {
            }
        });
        ASSERT_TRUE(Eventually([&] { return queue.Size() == 0; }));
        queue.Fail("Decoding failed");
        EXPECT_TRUE(taker.Back(5s)) << "a failure left the taker waiting";
    }
    queue.Fail("Writing failed");
    std::string message;
    try {
        queue.RaiseError();
    } catch (const FFmpegException& e) {
        message = e.what();
    }
    EXPECT_EQ(message, "Decoding failed");
    EXPECT_EQ(Raised([&] { queue.Give(5); }), "Decoding failed");
    EXPECT_EQ(Raised([&] { queue.TryTake(item); }), "Decoding failed");
    EXPECT_EQ(Raised([&] { queue.WaitDrained(); }), "Decoding failed");
    EXPECT_FALSE(queue.WaitForRoom());
    EXPECT_EQ(queue.Waiting(), 0u) << "the failed item still counted as in work";
    TQueue unnamed(1);
    unnamed.Fail("");
    EXPECT_EQ(Raised([&] { unnamed.RaiseError(); }), "The stage failed");
}

TEST(StageQueue, WaitDrainedWaitsForTheItemInWorkToBeDone) {
    TQueue queue(4);
    queue.Give(1);
    int item = -1;
    ASSERT_TRUE(queue.Take(item));
    {
        Side drainer([&] { queue.WaitDrained(); });
        EXPECT_FALSE(drainer.Back(50ms)) << "drained while an item was in work";
        queue.Done();
        EXPECT_TRUE(drainer.Back(5s));
    }
    EXPECT_EQ(queue.Waiting(), 0u);
}

TEST(StageQueue, StageFailureGivesTheMessageOfWhatTheWorkRaised) {
    EXPECT_EQ(StageFailure([] {}), "");
    EXPECT_EQ(StageFailure([] { throw std::runtime_error("Read error"); }), "Read error");
    EXPECT_EQ(StageFailure([] { throw std::runtime_error(""); }), "The stage failed");
    EXPECT_EQ(StageFailure([] { throw 3; }), "The stage failed");
}
