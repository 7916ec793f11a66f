// Hand-over of calls to the main thread.
#include "media/MainThread.h"
#include "media/MainThreadWait.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Services the main thread until the worker has returned. A worker that
// has not returned within ten seconds still waits for its hand-over, so
// joining it would hang: the test program ends with a message instead.
void ServiceUntilReturned(const std::atomic<bool>& returned) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!returned) {
        if (std::chrono::steady_clock::now() >= until) {
            std::fprintf(stderr, "The worker's hand-over did not return in time\n");
            std::abort();
        }
        ServiceMainThread(std::chrono::milliseconds(20));
    }
}

class MainThread : public ::testing::Test {
protected:
    void SetUp() override { SetMainThread(); }
    void TearDown() override {
        SetMessagePumpHook(nullptr);
        ProcessPendingMessages();
        ClearMainThread();
    }
};

TEST_F(MainThread, RunInMainThreadWaitsForTheMainThread) {
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        RunInMainThread([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    ServiceUntilReturned(returned);
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(MainThread, ExceptionOfAHandedOverCallReachesTheWaitingThread) {
    std::string caught;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        try {
            RunInMainThread([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        returned = true;
    });
    ServiceUntilReturned(returned);
    worker.join();
    EXPECT_EQ(caught, "boom");
}

TEST_F(MainThread, QueuedCallsRunInPostingOrderOnTheMainThread) {
    std::vector<int> order;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            QueueInMainThread([&order, i] { order.push_back(i); });
    });
    worker.join();
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(ServiceMainThread(std::chrono::milliseconds(0)), 100);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}

TEST_F(MainThread, OnTheMainThreadCallsRunDirectly) {
    int runs = 0;
    RunInMainThread([&] { ++runs; });
    QueueInMainThread([&] { ++runs; });
    EXPECT_EQ(runs, 2);
    EXPECT_TRUE(IsMainThread());
}

TEST_F(MainThread, ProcessPendingMessagesRunsThePumpHook) {
    int pumped = 0;
    SetMessagePumpHook([&] { ++pumped; });
    ProcessPendingMessages();
    ProcessPendingMessages();
    EXPECT_EQ(pumped, 2);
}

TEST_F(MainThread, WaitingCallRunsOnItsOwnThreadOnceTheMainThreadIsGone) {
    std::thread::id ranOn;
    std::thread::id workerId;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        RunInMainThread([&] { ranOn = std::this_thread::get_id(); });
    });
    ClearMainThread();
    worker.join();
    EXPECT_EQ(ranOn, workerId);
    // The queued wrapper finds the call taken and does nothing.
    SetMainThread();
    ProcessPendingMessages();
}

// A poster that gives up returns without its call: one the main thread has
// not begun never runs; one it runs (and waits inside, for the poster)
// returns without deadlock.
TEST_F(MainThread, WaitingCallGivenUpNeverRunsOrRunsOnWithoutThePoster) {
    std::atomic<bool> giveUp{true};
    std::atomic<bool> returned{false};
    std::atomic<int> runs{0};
    bool ran = true;
    std::thread early([&] {
        ran = RunInMainThreadUnless([&] { ++runs; }, giveUp);
        returned = true;
    });
    early.join(); // returns without any service of the main thread
    EXPECT_FALSE(ran);
    ServiceMainThread(std::chrono::milliseconds(0));
    EXPECT_EQ(runs, 0);

    giveUp = false;
    returned = false;
    std::atomic<bool> posterDone{false};
    std::thread poster([&] {
        ran = RunInMainThreadUnless(
            [&] {
                ++runs;
                // Inside the call the main thread waits for the poster,
                // which stops waiting for the call when told to.
                giveUp = true;
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!posterDone && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            },
            giveUp);
        posterDone = true;
        returned = true;
    });
    ServiceUntilReturned(returned);
    poster.join();
    EXPECT_FALSE(ran);
    EXPECT_EQ(runs, 1);
}

// A headless wait serves the calls a worker posts (the worker's call is
// what ends it), and gives up, false, once its limit has passed.
TEST_F(MainThread, ServingUntilDoneRunsPostedCallsAndStopsAtTheLimit) {
    bool done = false;
    std::thread::id ranOn;
    std::thread worker([&] {
        QueueInMainThread([&] {
            ranOn = std::this_thread::get_id();
            done = true;
        });
    });
    EXPECT_TRUE(ServeMainThreadUntil([&] { return done; }, std::chrono::seconds(10)));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ServeMainThreadUntil([] { return false; }, std::chrono::seconds(1)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(MainThreadUnset, WithoutAMainThreadCallsRunOnTheCaller) {
    ClearMainThread();
    int runs = 0;
    std::thread worker([&] {
        RunInMainThread([&] { ++runs; });
        QueueInMainThread([&] { ++runs; });
    });
    worker.join();
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(HasMainThread());
}

} // namespace
