// A stage that turns items into results on its own thread, fed and emptied
// by a scripted feeder: order and count of the results, a Take that never
// waits, a drain at the end, an error and a stop in the middle; and the
// failures a test can inject into a named stage.
#include "engine/FFmpegRecords.h"
#include "engine/PipeStage.h"
#include "StageTestSupport.h"
#include "engine/StageFault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace stagetest;
using TStage = TPipeStage<int, int>;

std::vector<int> TakeAll(TStage& stage) {
    std::vector<int> results;
    int result = 0;
    while (stage.Take(result))
        results.push_back(result);
    return results;
}

} // namespace

// Item n makes n results (n*10, n*10+1, ...), as a decoder makes no frame
// of one packet and two of the next. A drain (item -1) gives what is held.
TEST(PipeStage, ResultsComeBackInOrderWhateverTheirCountPerItem) {
    std::vector<int> held;
    TStage stage(2, [&](int& item, const TStage::TEmit& emit) {
        std::this_thread::sleep_for(1ms); // slower than the feeder: the queue fills
        if (item < 0) {
            for (int h : held)
                emit(h);
            return;
        }
        for (int i = 0; i < item % 3; ++i)
            emit(item * 10 + i);
        if (item % 4 == 0) held.push_back(item * 10 + 9);
    });
    stage.Start();
    std::vector<int> results, expected;
    for (int n = 0; n < 30; ++n) {
        stage.Give(n);
        const std::vector<int> ready = TakeAll(stage);
        results.insert(results.end(), ready.begin(), ready.end());
        for (int i = 0; i < n % 3; ++i)
            expected.push_back(n * 10 + i);
    }
    stage.Give(-1);
    stage.Finish();
    for (int n = 0; n < 30; n += 4)
        expected.push_back(n * 10 + 9);
    const std::vector<int> rest = TakeAll(stage);
    results.insert(results.end(), rest.begin(), rest.end());
    EXPECT_EQ(results, expected);
    EXPECT_EQ(stage.Waiting(), 0u);
    EXPECT_EQ(stage.Ready(), 0u);
}

// The bound of the queue is the shared queue's; here only that Take does
// not wait for the item in work.
TEST(PipeStage, TakeNeverWaitsForTheItemInWork) {
    Gate gate;
    std::atomic<int> started{0};
    TStage stage(2, [&](int& item, const TStage::TEmit& emit) {
        ++started;
        gate.Wait();
        emit(item);
    });
    stage.Start();
    stage.Give(1);
    ASSERT_TRUE(Eventually([&] { return started == 1; }));
    int result = 0;
    EXPECT_FALSE(stage.Take(result)) << "a result before its item was worked on";
    EXPECT_EQ(stage.Waiting(), 1u);
    gate.Open();
    stage.Finish();
    EXPECT_EQ(TakeAll(stage), (std::vector<int>{1}));
}

// Once its work is done an item is let go, not kept until the next one
// comes: a picture's buffers go back to their pool at once.
TEST(PipeStage, AnItemWorkedOnIsLetGoAtOnce) {
    using TShared = TPipeStage<std::shared_ptr<int>, int>;
    TShared stage(2, [](std::shared_ptr<int>& item, const TShared::TEmit& emit) { emit(*item); });
    stage.Start();
    auto item = std::make_shared<int>(7);
    stage.Give(item);
    stage.Finish();
    EXPECT_EQ(item.use_count(), 1) << "the stage still holds the item it worked on";
    int result = 0;
    EXPECT_TRUE(stage.Take(result));
    EXPECT_EQ(result, 7);
}

// The error reaches the feeder on its next call, whichever it is; what the
// stage made before it and what waits is dropped.
TEST(PipeStage, AnErrorInTheMiddleReachesTheFeederOnEveryCall) {
    Gate gate;
    std::vector<int> worked; // the stage's thread until the error is seen
    TPipeStage<int, int, FFmpegException> stage(8, [&](int& item, const auto& emit) {
        if (item == 3) {
            gate.Wait();
            throw std::runtime_error("Decoding failed");
        }
        worked.push_back(item);
        emit(item);
    });
    stage.Start();
    for (int i = 0; i < 6; ++i)
        stage.Give(i);
    gate.Open();
    std::string message;
    try {
        stage.Finish();
    } catch (const FFmpegException& e) { // the stage's error class
        message = e.what();
    }
    EXPECT_EQ(message, "Decoding failed");
    EXPECT_EQ(worked, (std::vector<int>{0, 1, 2}));
    int result = 0;
    EXPECT_EQ(Raised([&] { stage.Take(result); }), "Decoding failed");
    EXPECT_EQ(Raised([&] { stage.Give(7); }), "Decoding failed");
    EXPECT_EQ(stage.Ready(), 0u);
}

TEST(PipeStage, StopInTheMiddleEndsTheItemInWorkAndDropsTheRest) {
    Gate gate;
    std::atomic<int> started{0};
    TStage stage(8, [&](int& item, const TStage::TEmit& emit) {
        ++started;
        emit(item);
        if (item == 1) gate.Wait();
    });
    stage.Start();
    for (int i = 0; i < 5; ++i)
        stage.Give(i);
    ASSERT_TRUE(Eventually([&] { return started == 2; }));
    bool seen = false; // the stop dropped what waited
    StopWhileHeld(
        gate, [&] { stage.Stop(); }, [&] { return stage.Waiting() == 1; }, seen);
    EXPECT_TRUE(seen) << "the stop never dropped what waited";
    EXPECT_EQ(started, 2);
    EXPECT_EQ(stage.Ready(), 0u) << "results kept after a stop";
    EXPECT_EQ(stage.Waiting(), 0u);
    EXPECT_EQ(Raised([&] { stage.Give(9); }), "The stage has stopped");
    stage.Finish(); // nothing to wait for after a stop
}

// The variable names the stage and the item that fails; other stages and
// the items before it go on.
TEST(StageFault, FailsTheNamedStageAtTheChosenItemOnly) {
    ::setenv("VANTREL_STAGE_FAULT", "decode:3", 1);
    TStageFault decode("decode"), encode("encode");
    ::setenv("VANTREL_STAGE_FAULT", "read", 1);
    TStageFault read("read");
    ::unsetenv("VANTREL_STAGE_FAULT");
    TStageFault unset("decode");
    EXPECT_NO_THROW(decode.Tick());
    EXPECT_NO_THROW(decode.Tick());
    EXPECT_EQ(Raised([&] { decode.Tick(); }), TStageFault::FaultText("decode"));
    EXPECT_NO_THROW(decode.Tick()); // one failure, not one per item after it
    EXPECT_EQ(Raised([&] { read.Tick(); }), TStageFault::FaultText("read"));
    for (int i = 0; i < 10; ++i) {
        EXPECT_NO_THROW(encode.Tick());
        EXPECT_NO_THROW(unset.Tick());
    }
    EXPECT_NE(TStageFault::FaultText("read").find("read stage"), std::string::npos);
}

// With a hold set, the chosen item calls it on the ticking thread instead of
// failing, and only that item; without one the item fails again.
TEST(StageFault, AHoldRunsInsteadOfTheFailureAtTheChosenItem) {
    ::setenv("VANTREL_STAGE_FAULT", "write:2", 1);
    TStageFault held("write"), failing("write");
    ::unsetenv("VANTREL_STAGE_FAULT");
    std::vector<std::string> holds;
    TStageFault::SetHold([&](const std::string& stage) { holds.push_back(stage); });
    EXPECT_NO_THROW(held.Tick());
    EXPECT_TRUE(holds.empty());
    EXPECT_NO_THROW(held.Tick());
    EXPECT_NO_THROW(held.Tick());
    EXPECT_EQ(holds, std::vector<std::string>{"write"});
    TStageFault::SetHold({});
    EXPECT_NO_THROW(failing.Tick());
    EXPECT_EQ(Raised([&] { failing.Tick(); }), TStageFault::FaultText("write"));
}
