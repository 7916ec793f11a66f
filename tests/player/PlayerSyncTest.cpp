// The player's manual-reset signal between threads.
#include "player/PlayerSync.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(ManualEvent, WaitSeesTheSetOfAnotherThreadAndResetClearsIt) {
    TManualEvent event(false);
    EXPECT_FALSE(event.WaitFor(10ms));
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.WaitFor(10s));
    setter.join();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.WaitFor(0ms)); // stays set
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitFor(10ms));
}

// A waiter that owns the signal destroys it once its wait returns (a hook's
// "returned" signal, a thread's "done"): the thread that set it must be done
// with it by then. The thread checker reports it when Set still wakes the
// waiters after letting go of the lock.
TEST(ManualEvent, AWaiterMayDestroyTheSignalAsSoonAsItsWaitReturns) {
    for (int i = 0; i < 50; ++i) {
        auto event = std::make_unique<TManualEvent>(false);
        std::thread setter([signal = event.get()] { signal->Set(); });
        ASSERT_TRUE(event->WaitFor(10s));
        event.reset();
        setter.join();
    }
}

} // namespace

namespace {

using namespace std::chrono_literals;

TEST(ManualEvent, WaitOrSetServesWhileItWaitsAndSetsTheSignalWhenTheTimeRunsOut) {
    // Set by what the wait serves: it returns at once, long before the limit.
    TManualEvent event(false);
    int served = 0;
    auto started = std::chrono::steady_clock::now();
    event.WaitOrSet(30s, [&] {
        if (++served == 2) event.Set();
    });
    EXPECT_EQ(served, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

    // Never set: the limit passes, serving every 20 ms, and the signal is set.
    TManualEvent late(false);
    served = 0;
    started = std::chrono::steady_clock::now();
    late.WaitOrSet(100ms, [&] { ++served; });
    EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);
    EXPECT_GE(served, 1);
    EXPECT_TRUE(late.IsSet());

    // Without anything to serve the wait is one piece.
    TManualEvent alone(false);
    started = std::chrono::steady_clock::now();
    alone.WaitOrSet(50ms, nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 50ms);
    EXPECT_TRUE(alone.IsSet());
}

} // namespace
