// A stage on its own thread whose work makes no results, fed with scripted
// items: order and Flush, and an error and a stop reaching the feeder. Its
// queue's bound and waits are the shared queue's and the pipe stage's.
#include "engine/StageWorker.h"
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

TEST(StageWorker, WorksOnEveryItemInOrderAndFlushWaitsForThem) {
    std::vector<int> done; // the stage's thread until Flush returns
    TStageWorker<int> stage(2, [&](int& item) {
        std::this_thread::sleep_for(1ms); // slower than the feeder: the queue fills
        done.push_back(item);
    });
    stage.Start();
    for (int i = 0; i < 50; ++i)
        stage.Give(i);
    stage.Flush();
    ASSERT_EQ(done.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(done[i], i);
    EXPECT_EQ(stage.Waiting(), 0u);
}

// What waits behind the failing item is dropped; after a stop the error
// stays the answer, and a stop before any error refuses items.
TEST(StageWorker, AnErrorOrAStopReachesTheFeeder) {
    Gate gate;
    std::vector<int> done;
    TStageWorker<int> failing(8, [&](int& item) {
        if (item == 3) {
            gate.Wait();
            throw std::runtime_error("Video encoding failed");
        }
        done.push_back(item);
    });
    failing.Start();
    for (int i = 0; i < 6; ++i)
        failing.Give(i);
    gate.Open();
    EXPECT_EQ(Raised([&] { failing.Flush(); }), "Video encoding failed");
    EXPECT_EQ(done, (std::vector<int>{0, 1, 2})); // 4 and 5 were dropped
    EXPECT_EQ(failing.Waiting(), 0u);
    failing.Stop();
    EXPECT_EQ(Raised([&] { failing.Give(7); }), "Video encoding failed");

    Gate held;
    std::atomic<int> started{0}, finished{0};
    TStageWorker<int> stopped(8, [&](int&) {
        ++started;
        held.Wait();
        ++finished;
    });
    stopped.Start();
    for (int i = 0; i < 5; ++i)
        stopped.Give(i);
    ASSERT_TRUE(Eventually([&] { return started == 1; }));
    bool seen = false; // the stop dropped what waited
    StopWhileHeld(
        held, [&] { stopped.Stop(); }, [&] { return stopped.Waiting() == 1; }, seen);
    EXPECT_TRUE(seen) << "the stop never dropped what waited";
    EXPECT_EQ(started, 1) << "an item after the stop was worked on";
    EXPECT_EQ(finished, 1) << "the item in work was not finished";
    EXPECT_EQ(stopped.Waiting(), 0u);
    EXPECT_EQ(Raised([&] { stopped.Give(9); }), "The stage has stopped");
    stopped.Flush(); // nothing to wait for after a stop
}
