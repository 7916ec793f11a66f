// A stage on its own thread, fed with scripted items: order, the bound of
// its queue, flushing, an error in the middle and a stop in the middle.
#include "engine/StageWorker.h"
#include "StageTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <condition_variable>
#include <mutex>
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

TEST(StageWorker, GiveWaitsWhileTheQueueIsFull) {
    Gate gate;
    std::atomic<int> started{0};
    TStageWorker<int> stage(2, [&](int&) {
        ++started;
        gate.Wait();
    });
    stage.Start();
    stage.Give(1);
    ASSERT_TRUE(Eventually([&] { return started == 1; }));
    stage.Give(2);
    stage.Give(3); // the queue holds two besides the one in work
    std::atomic<bool> fourthIn{false};
    std::thread feeder([&] {
        stage.Give(4);
        fourthIn = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(fourthIn) << "a full queue took another item";
    EXPECT_EQ(stage.Waiting(), 3u);
    gate.Open();
    feeder.join();
    stage.Flush();
    EXPECT_EQ(started, 4);
}

TEST(StageWorker, AnErrorDropsWhatWaitsAndReachesTheFeeder) {
    Gate gate;
    std::vector<int> done;
    TStageWorker<int> stage(8, [&](int& item) {
        if (item == 3) {
            gate.Wait();
            throw std::runtime_error("Video encoding failed");
        }
        done.push_back(item);
    });
    stage.Start();
    for (int i = 0; i < 6; ++i)
        stage.Give(i);
    gate.Open();
    EXPECT_EQ(Raised([&] { stage.Flush(); }), "Video encoding failed");
    EXPECT_EQ(done, (std::vector<int>{0, 1, 2})); // 4 and 5 were dropped
    EXPECT_EQ(Raised([&] { stage.Give(7); }), "Video encoding failed");
    EXPECT_EQ(stage.Waiting(), 0u);
}

TEST(StageWorker, StopInTheMiddleFinishesTheItemInWorkAndDropsTheRest) {
    Gate gate;
    std::atomic<int> started{0}, finished{0};
    TStageWorker<int> stage(8, [&](int&) {
        ++started;
        gate.Wait();
        ++finished;
    });
    stage.Start();
    for (int i = 0; i < 5; ++i)
        stage.Give(i);
    ASSERT_TRUE(Eventually([&] { return started == 1; }));
    std::thread opener([&] {
        std::this_thread::sleep_for(20ms);
        gate.Open();
    });
    stage.Stop();
    opener.join();
    EXPECT_EQ(started, 1);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(stage.Waiting(), 0u);
    EXPECT_EQ(Raised([&] { stage.Give(9); }), "The stage has stopped");
    stage.Flush(); // nothing to wait for after a stop
}
