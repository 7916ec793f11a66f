// A stage that makes items ahead of the thread that takes them, scripted:
// order and end, how far it runs ahead, an error and a stop in the middle.
#include "engine/SourceStage.h"
#include "StageTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace stagetest;

} // namespace

TEST(SourceStage, ItemsComeInOrderAndTakeSaysWhenTheLastWasTaken) {
    int next = 0; // the stage's thread
    TSourceStage<int> stage(3, [&](int& item) {
        item = next++;
        return item < 20;
    });
    stage.Start();
    std::vector<int> taken;
    int item = -1;
    while (stage.Take(item))
        taken.push_back(item);
    ASSERT_EQ(taken.size(), 21u); // the last item (20) comes too
    for (int i = 0; i <= 20; ++i)
        EXPECT_EQ(taken[i], i);
    EXPECT_FALSE(stage.Take(item)) << "an item after the last";
}

// The stage waits for room before it makes an item: it runs ahead of the
// taker by its capacity, no further.
TEST(SourceStage, RunsAheadByItsCapacityOnly) {
    std::atomic<int> made{0};
    TSourceStage<int> stage(4, [&](int& item) {
        item = made++;
        return true;
    });
    stage.Start();
    ASSERT_TRUE(Eventually([&] { return stage.Ready() == 4; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(made, 4) << "the stage made more than its queue holds";
    // It goes on once half of its queue is taken, and fills it again.
    int item = -1;
    ASSERT_TRUE(stage.Take(item));
    EXPECT_EQ(item, 0);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(made, 4) << "the stage went on with one item taken";
    ASSERT_TRUE(stage.Take(item));
    EXPECT_EQ(item, 1);
    ASSERT_TRUE(Eventually([&] { return made == 6; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(made, 6);
    stage.Stop();
}

TEST(SourceStage, AnErrorInTheMiddleReachesTheTaker) {
    TSourceStage<int> stage(8, [n = 0](int& item) mutable {
        if (n == 5) throw std::runtime_error("Read error");
        item = n++;
        return true;
    });
    stage.Start();
    int item = -1;
    EXPECT_EQ(Raised([&] {
                  while (stage.Take(item)) {
                  }
              }),
              "Read error");
    EXPECT_LT(item, 5);
    EXPECT_EQ(Raised([&] { stage.Take(item); }), "Read error"); // and on every call after it
}

// A stop while the work waits (for the disk, say) returns once the item
// in work is made, drops it and what waits, and wakes a waiting taker.
TEST(SourceStage, StopInTheMiddleEndsTheWorkAndTheWaitingTake) {
    Gate gate;
    std::atomic<int> made{0};
    TSourceStage<int> stage(8, [&](int& item) {
        item = made++;
        if (item == 2) gate.Wait();
        return true;
    });
    stage.Start();
    int item = -1;
    ASSERT_TRUE(stage.Take(item));
    ASSERT_TRUE(stage.Take(item));
    ASSERT_TRUE(Eventually([&] { return made == 3; }));
    Gate back;
    std::thread taker([&] { // waits for item 2; it gets it or nothing, but comes back
        int got = -1;
        stage.Take(got);
        back.Open();
    });
    bool seen = false; // the stop sent the taker back
    StopWhileHeld(
        gate, [&] { stage.Stop(); }, [&] { return back.WaitFor(0ms); }, seen);
    EXPECT_TRUE(seen) << "a stop left the taker waiting";
    taker.join();
    EXPECT_EQ(made, 3) << "the stage went on after its stop";
    EXPECT_EQ(stage.Ready(), 0u);
    EXPECT_FALSE(stage.Take(item));
}
