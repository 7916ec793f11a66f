// The run state of a task on its own, with scripted steps: one end report
// per task whatever the order of start and stop, pause and stop, and how
// failures of the steps end the run.
#include "engine/TaskRun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Counts what the run asks of its task; the conversion step runs `Body`.
struct ScriptedTask {
    bool Inputs = true, Outputs = true;
    std::function<void(TTaskRun&)> Body;
    std::string CloseError;
    std::atomic<int> Releases{0}, Converts{0}, Closes{0}, Resets{0}, Ends{0};
    std::atomic<int> KeptCloses{0};
    std::mutex Lock;
    std::condition_variable Wake;
    TTaskRun* Run = nullptr;

    TTaskRunSteps Steps() {
        TTaskRunSteps steps;
        steps.ReleaseInputs = [this] { ++Releases; };
        steps.HasInputs = [this] { return Inputs; };
        steps.HasOutputs = [this] { return Outputs; };
        steps.Convert = [this] {
            ++Converts;
            if (Body) Body(*Run);
        };
        steps.CloseCodecs = [] {};
        steps.CloseOutputs = [this](bool keep) {
            ++Closes;
            KeptCloses += keep ? 1 : 0;
            return CloseError;
        };
        steps.CloseAndReset = [this] { ++Resets; };
        steps.Terminate = [this] {
            {
                std::lock_guard lock(Lock);
                ++Ends;
            }
            Wake.notify_all();
        };
        return steps;
    }

    // Waits until the run has reported its end (fails the test after 10 s).
    bool WaitForEnd() {
        std::unique_lock lock(Lock);
        return Wake.wait_for(lock, 10s, [this] { return Ends > 0; });
    }
};

struct TaskRunTest : ::testing::Test {
    ScriptedTask Task;
    std::unique_ptr<TTaskRun> Run;

    void Make() {
        Run = std::make_unique<TTaskRun>(Task.Steps());
        Task.Run = Run.get();
    }
};

} // namespace

// A stop before the start ends the task on a thread of its own, without a
// conversion; the start that comes later does nothing.
TEST_F(TaskRunTest, AStopBeforeTheStartEndsTheTaskOnce) {
    Make();
    Run->BreakTask(true);
    EXPECT_EQ(Task.Ends, 1);
    EXPECT_EQ(Task.Resets, 1);
    EXPECT_EQ(Task.Releases, 1);
    EXPECT_TRUE(Run->Terminated());
    EXPECT_FALSE(Run->Working());
    EXPECT_FALSE(Run->StartConvert(true, tpNormal));
    Run->BreakTask(true);
    Run->StopAndJoin();
    EXPECT_EQ(Task.Converts, 0);
    EXPECT_EQ(Task.Ends, 1);
    EXPECT_EQ(Task.Releases, 1);
}

// A start and a stop on two threads at once, many times over: every task
// ends exactly once, and its inputs are released exactly once. Half of the
// conversions run until stopped, the others end at once (the stop may then
// come after the end).
TEST_F(TaskRunTest, AStartAndAStopRacingEndTheTaskExactlyOnce) {
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        ScriptedTask task;
        if (round % 2 == 0)
            task.Body = [](TTaskRun& run) {
                while (!run.BreakRequested())
                    run.WaitWhilePaused();
            };
        auto run = std::make_unique<TTaskRun>(task.Steps());
        task.Run = run.get();
        std::barrier together(2);
        std::thread starter([&] {
            together.arrive_and_wait();
            if (run->StartConvert(true, tpNormal)) run->ResumeTask();
        });
        together.arrive_and_wait();
        run->BreakTask(true);
        starter.join();
        ASSERT_TRUE(task.WaitForEnd());
        run->StopAndJoin();
        ASSERT_EQ(task.Ends, 1);
        ASSERT_EQ(task.Releases, 1);
        ASSERT_LE(task.Converts, 1);
        ASSERT_TRUE(run->Terminated());
        ASSERT_FALSE(run->Working());
    }
}

// A paused conversion stops when asked, and the waiting stop returns once it
// has ended; the files are kept (a stopped task keeps what it wrote).
TEST_F(TaskRunTest, APausedConversionStopsAndKeepsItsFiles) {
    std::atomic<bool> running{false};
    Task.Body = [&running](TTaskRun& run) {
        running = true;
        while (!run.BreakRequested())
            run.WaitWhilePaused();
    };
    Make();
    ASSERT_TRUE(Run->StartConvert(true, tpNormal));
    EXPECT_TRUE(Run->Paused()); // the new worker waits to be resumed
    Run->ResumeTask();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!running && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(running);
    Run->PauseTask();
    EXPECT_TRUE(Run->Paused());
    Run->StopConvert(true);
    EXPECT_EQ(Task.Ends, 1);
    EXPECT_FALSE(Run->Paused());
    EXPECT_FALSE(Run->Working());
    EXPECT_FALSE(Run->ErrorRaised());
    EXPECT_EQ(Task.KeptCloses, 1);
    EXPECT_EQ(Task.Resets, 1);
}

// A worker that never was resumed still stops, and is not left waiting.
TEST_F(TaskRunTest, AWorkerHeldAtItsStartStops) {
    Make();
    ASSERT_TRUE(Run->StartConvert(true, tpNormal));
    Run->BreakTask(true);
    EXPECT_EQ(Task.Ends, 1);
    EXPECT_TRUE(Run->Terminated());
    EXPECT_FALSE(Run->StartConvert(true, tpNormal)); // a task runs once
}

// A failing conversion or a file that cannot be finished fails the task
// with its text, and a failed task's files are not kept.
TEST_F(TaskRunTest, FailuresEndTheTaskWithTheirText) {
    Task.Body = [](TTaskRun&) { throw std::runtime_error("decoder broke"); };
    Make();
    EXPECT_FALSE(Run->StartConvert(false, tpNormal)); // converts on this thread
    EXPECT_EQ(Task.Ends, 1);
    EXPECT_TRUE(Run->ErrorRaised());
    EXPECT_EQ(Run->ErrorMessage(), "decoder broke");
    EXPECT_EQ(Task.Closes, 1);
    EXPECT_EQ(Task.KeptCloses, 0);

    ScriptedTask full;
    full.CloseError = "disk full";
    full.Body = [](TTaskRun& run) { run.ShareWithConversion().Finished = true; };
    TTaskRun fullRun(full.Steps());
    full.Run = &fullRun;
    fullRun.StartConvert(false, tpNormal);
    EXPECT_EQ(full.KeptCloses, 1);
    EXPECT_FALSE(fullRun.Finished());
    EXPECT_TRUE(fullRun.ErrorRaised());
    EXPECT_EQ(fullRun.ErrorMessage(), "disk full");
}

// A conversion that finishes keeps its files and is reported finished, and
// the early-end note the conversion left is read back.
TEST_F(TaskRunTest, AFinishedConversionReportsWhatItWrote) {
    Task.Body = [](TTaskRun& run) {
        TRunShare share = run.ShareWithConversion();
        EXPECT_TRUE(share.Threaded);
        std::lock_guard lock(share.Lock);
        share.EndedEarly = "cut short";
        share.ReachedPercent = 40;
        share.Finished = true;
    };
    Make();
    ASSERT_TRUE(Run->StartConvert(true, tpNormal));
    Run->ResumeTask();
    ASSERT_TRUE(Task.WaitForEnd());
    Run->StopAndJoin();
    EXPECT_TRUE(Run->Finished());
    EXPECT_FALSE(Run->ErrorRaised());
    EXPECT_EQ(Run->EndedEarly(), "cut short");
    EXPECT_EQ(Run->ReachedPercent(), 40);
    EXPECT_EQ(Task.KeptCloses, 1);
}

// Without inputs the task fails at once; its outputs stay open for the
// component to close (only a task without outputs is reset here). A
// termination handler that raises does not reach the starting thread.
TEST_F(TaskRunTest, AStartWithoutInputsFailsAndAHandlerErrorStaysInside) {
    Task.Inputs = false;
    TTaskRunSteps steps = Task.Steps();
    steps.Terminate = [this] {
        ++Task.Ends;
        throw std::runtime_error("handler broke");
    };
    TTaskRun run(steps);
    EXPECT_NO_THROW(EXPECT_FALSE(run.StartConvert(true, tpNormal)));
    EXPECT_EQ(Task.Ends, 1);
    EXPECT_EQ(Task.Resets, 0);
    EXPECT_EQ(run.ErrorMessage(), "At least one input file must be specified");
    EXPECT_TRUE(run.Terminated());
    EXPECT_EQ(Task.Converts, 0);
}
