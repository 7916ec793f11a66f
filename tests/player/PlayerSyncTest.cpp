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
