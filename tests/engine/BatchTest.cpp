// The batch on worker threads and in the caller's thread: order of tasks
// and terminations, pause, resume and stop, the frame hook, the preview and
// the progress reports.
#include "ConversionTestSupport.h"

#include "engine/FFmpegPreview.h"
#include "media/MainThread.h"
#include "probe/AVProbe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

using namespace std::chrono_literals;
using testsupport::ProbeValue;

namespace {

using Clock = std::chrono::steady_clock;

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Media = &EngineMedia::Get();
    }
    // Adds `count` tasks converting the 2 s clip, each with the hook on.
    void AddTasks(RecordingConverter& c, int count) {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(c.Add(Media->AudioVideo, Out.file("out" + std::to_string(i) + ".avi"),
                            "vcodec=mpeg4\nacodec=mp2", true),
                      i)
                << c.Converter.LastErrMsg;
    }
    std::vector<int> TerminationOrder(RecordingConverter& c) {
        std::lock_guard lock(c.Lock);
        std::vector<int> order;
        for (const TTerminateInfo& info : c.Terminations)
            order.push_back(info.TaskIndex);
        return order;
    }
    // PSNR of `file` against `reference` (the reference's first video
    // stream through `filter`), from ffmpeg's psnr filter.
    double Psnr(const std::string& file, const std::string& reference, const std::string& filter) {
        const auto result = testsupport::RunCommand(
            "ffmpeg -hide_banner -i " + testsupport::ShellQuote(file) + " -i " +
            testsupport::ShellQuote(reference) + " -lavfi '[1:v]" + filter +
            "[r];[0:v][r]psnr' -f null - 2>&1 | grep -o 'average:[0-9.inf]*' | cut -d: -f2");
        return result.output.rfind("inf", 0) == 0 ? 100.0 : std::atof(result.output.c_str());
    }
    EngineMedia* Media = nullptr;
    testsupport::TempDir Out;
    EngineLog Log;
};

// Runs the main thread's queued calls until `done` holds; false on the
// deadline.
template <class Predicate> bool ServiceUntil(Predicate done, std::chrono::seconds limit) {
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= until) return false;
        ServiceMainThread(10ms);
    }
    return true;
}

// Records for each task when its hook ran first and last.
struct HookTimes {
    std::mutex Lock;
    std::map<int, std::pair<Clock::time_point, Clock::time_point>> Tasks;
    void Note(int task) {
        std::lock_guard lock(Lock);
        const auto now = Clock::now();
        auto [it, added] = Tasks.try_emplace(task, now, now);
        if (!added) it->second.second = now;
    }
};

TEST_F(Batch, OneAtATimeRunsTasksInOrder) {
    RecordingConverter c;
    HookTimes times;
    c.RecordHook([&times](THookInfo* info) { times.Note(info->TaskIndex); });
    AddTasks(c, 3);
    ASSERT_TRUE(c.Run(1));
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, 1, 2, -1}));
    for (int task = 0; task < 3; ++task)
        EXPECT_TRUE(c.TaskEnd(task).Finished);
    EXPECT_LT(times.Tasks[0].second, times.Tasks[1].first);
    EXPECT_LT(times.Tasks[1].second, times.Tasks[2].first);
    EXPECT_TRUE(c.Converter.AllTerminated());
    c.Converter.ClearTasks();
    EXPECT_FALSE(c.Converter.Working());
}

TEST_F(Batch, TwoAtATimeStartTheThirdWhenOneEnds) {
    RecordingConverter c;
    HookTimes times;
    std::atomic<bool> asked{false}, sideBySide{false};
    c.RecordHook([&](THookInfo* info) {
        times.Note(info->TaskIndex);
        // Task 0 holds its first picture until task 1 is working (its own
        // hook waits for this one: hooks never overlap): the two run side
        // by side, or the wait runs out.
        if (info->TaskIndex == 0 && !asked.exchange(true))
            sideBySide = WaitUntil([&c] { return c.Converter.Task(1)->Working(); }, 30s);
    });
    AddTasks(c, 3);
    ASSERT_TRUE(c.Run(2));
    EXPECT_EQ(TerminationOrder(c).back(), -1);
    EXPECT_EQ(TerminationOrder(c).size(), 4u);
    // Tasks 0 and 1 ran side by side; task 2 began after one of them ended.
    EXPECT_TRUE(sideBySide);
    EXPECT_GT(times.Tasks[2].first, std::min(times.Tasks[0].second, times.Tasks[1].second));
}

TEST_F(Batch, InTheCallersThreadStartTaskReturnsAfterTheBatchEnd) {
    RecordingConverter c;
    std::set<std::thread::id> threads;
    c.RecordHook([&threads](THookInfo*) { threads.insert(std::this_thread::get_id()); });
    AddTasks(c, 2);
    c.Converter.StartTask(0);
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, 1, -1}));
    EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
}

TEST_F(Batch, EmptyBatchAndTasksWithoutOutput) {
    RecordingConverter c;
    c.Converter.StartTask(1);
    EXPECT_TRUE(c.Terminations.empty());
    EXPECT_TRUE(c.Converter.Working());
    try {
        c.Converter.ClearTasks();
        ADD_FAILURE() << "ClearTasks while working";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
    }
    RecordingConverter d;
    ASSERT_EQ(d.Converter.AddTask(Media->AudioVideo), 0);
    ASSERT_TRUE(d.Run(1));
    EXPECT_TRUE(d.TaskEnd(0).ExceptionRaised);
    EXPECT_EQ(d.TaskEnd(0).ExceptionMsg, "At least one output file must be specified");
    EXPECT_FALSE(d.Converter.Task(0)->StartConvert(true, tpNormal)); // a task runs once
}

TEST_F(Batch, StopWhileConvertingEndsEveryTaskOnce) {
    RecordingConverter c;
    TestSignal fifth;
    std::atomic<bool> stopSeen{false};
    c.RecordHook([&](THookInfo* info) {
        if (info->FrameNumber != 5) return;
        // The fifth picture waits until the stop has been asked for.
        fifth.Set();
        stopSeen = WaitUntil([&c] { return c.Converter.Task(0)->BreakRequested(); }, 30s);
    });
    AddTasks(c, 3);
    c.Converter.StartTask(1);
    ASSERT_TRUE(fifth.WaitFor(30s));
    c.Converter.Stop(true);
    // Every task has ended when Stop returns.
    for (int task = 0; task < 3; ++task)
        EXPECT_TRUE(c.Converter.Task(task)->Terminated()) << task;
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_TRUE(stopSeen);
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, 1, 2, -1}));
    for (int task = 0; task < 3; ++task) {
        EXPECT_FALSE(c.TaskEnd(task).Finished);
        EXPECT_FALSE(c.TaskEnd(task).ExceptionRaised) << c.TaskEnd(task).ExceptionMsg;
    }
    // What was converted up to the stop is a playable file.
    const std::string first = Out.file("out0.avi");
    EXPECT_GE(std::stoi(ProbeValue(first, "stream=nb_frames", "v:0")), 4);
    EXPECT_LT(std::stoi(ProbeValue(first, "stream=nb_frames", "v:0")), 20);
    EXPECT_FALSE(std::filesystem::exists(Out.file("out1.avi")));
}

TEST_F(Batch, PauseHoldsTheTaskAndStopWhilePausedReturns) {
    RecordingConverter c;
    TestSignal third, paused;
    std::atomic<int> frames{0};
    c.RecordHook([&](THookInfo* info) {
        ++frames;
        if (info->TaskIndex != 0 || info->FrameNumber != 3) return;
        // The third picture is held until the batch is paused; the task
        // then stops at its next pause point.
        third.Set();
        paused.WaitFor(30s);
    });
    AddTasks(c, 2);
    c.Converter.StartTask(1);
    ASSERT_TRUE(third.WaitFor(30s));
    c.Converter.Pause();
    EXPECT_TRUE(c.Converter.Task(0)->Paused());
    paused.Set();
    // Whatever the machine's speed, no picture passes a paused task: watch
    // it for a while that would convert many pictures otherwise.
    const int held = frames;
    EXPECT_LE(held, 4);
    EXPECT_FALSE(WaitUntil([&] { return frames > held; }, 300ms));
    c.Converter.Resume();
    EXPECT_TRUE(WaitUntil([&] { return frames >= held + 3; }, 30s));
    c.Converter.Pause();
    c.Converter.Stop(true);
    EXPECT_TRUE(c.Converter.Task(0)->Terminated());
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_FALSE(c.TaskEnd(0).Finished);
    EXPECT_FALSE(c.TaskEnd(1).Finished);
}

// A task that ends while the batch is paused starts the next one held, with
// one task at a time and with two: nothing converts until Resume.
TEST_F(Batch, ATaskStartedWhileThePauseLastsIsHeldUntilResume) {
    for (const int atATime : {1, 2}) {
        SCOPED_TRACE(atATime);
        RecordingConverter c;
        std::atomic<int> laterFrames{0};
        c.RecordHook([&](THookInfo* info) {
            if (info->TaskIndex == atATime) ++laterFrames;
        });
        // A final report comes after the task's last picture: the pause
        // asked for in the first one cannot hold that task any more, which
        // ends and starts the last task.
        std::atomic<bool> paused{false};
        c.Converter.SetTriggerEventInMainThread(false);
        c.Converter.OnProgress = [&](TCustomFFmpegVCL*, TProgressInfo* info) {
            if (info->FileIndex == -1 && !paused.exchange(true)) c.Converter.Pause();
        };
        AddTasks(c, atATime + 1);
        c.Converter.StartTask(atATime);
        TFFmpeg* later = c.Converter.Task(atATime);
        ASSERT_TRUE(WaitUntil([&] { return later->Working(); }, 60s));
        EXPECT_TRUE(later->Paused());
        EXPECT_FALSE(WaitUntil([&] { return laterFrames > 0; }, 300ms));
        c.Converter.Resume();
        ASSERT_TRUE(c.WaitForEnd());
        for (int task = 0; task <= atATime; ++task)
            EXPECT_TRUE(c.TaskEnd(task).Finished) << task << " " << c.TaskEnd(task).ExceptionMsg;
        EXPECT_GT(laterFrames, 0);
    }
}

// Stopped while it is held, a task has converted nothing and leaves no file
// (not one with a header and no pictures).
TEST_F(Batch, AHeldTaskThatIsStoppedLeavesNoFile) {
    RecordingConverter c;
    std::atomic<bool> paused{false};
    c.Converter.SetTriggerEventInMainThread(false);
    c.Converter.OnProgress = [&](TCustomFFmpegVCL*, TProgressInfo* info) {
        if (info->FileIndex == -1 && !paused.exchange(true)) c.Converter.Pause();
    };
    AddTasks(c, 2);
    c.Converter.StartTask(1);
    TFFmpeg* later = c.Converter.Task(1);
    ASSERT_TRUE(WaitUntil([&] { return later->Working(); }, 60s));
    c.Converter.Stop(true);
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_TRUE(c.TaskEnd(0).Finished);
    EXPECT_FALSE(c.TaskEnd(1).Finished);
    EXPECT_FALSE(c.TaskEnd(1).ExceptionRaised) << c.TaskEnd(1).ExceptionMsg;
    EXPECT_TRUE(std::filesystem::exists(Out.file("out0.avi")));
    EXPECT_FALSE(std::filesystem::exists(Out.file("out1.avi")));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(Out.path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"out0.avi"});
}

TEST_F(Batch, StopOnTheMainThreadWhileTheWorkerWaitsForAHandOver) {
    SetMainThread();
    RecordingConverter c;
    TestSignal secondPicture;
    std::atomic<int> reports{0};
    std::thread::id handlerThread;
    // No report falls due while converting: the only one is the final
    // report, which a stopped conversion hands over to the main thread and
    // waits for while the main thread waits in Stop.
    c.Converter.SetProgressInterval(3600 * 1000);
    c.Converter.OnProgress = [&](TCustomFFmpegVCL*, TProgressInfo* info) {
        handlerThread = std::this_thread::get_id();
        EXPECT_EQ(info->FileIndex, -1);
        ++reports;
    };
    c.RecordHook([&](THookInfo* info) {
        if (info->FrameNumber == 2) secondPicture.Set(); // the first one is encoded
    });
    AddTasks(c, 1);
    c.Converter.StartTask(1);
    ASSERT_TRUE(secondPicture.WaitFor(30s));
    {
        Watchdog watchdog(60s, "Stop(true) on the main thread");
        c.Converter.Stop(true);
    }
    EXPECT_TRUE(c.Converter.Task(0)->Terminated());
    EXPECT_EQ(reports, 1); // run during the wait
    EXPECT_TRUE(ServiceUntil([&] { return TerminationOrder(c).size() >= 2; }, 30s));
    ClearMainThread();
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, -1}));
    EXPECT_FALSE(c.TaskEnd(0).Finished);
}

// Stop(true) from inside each handler that a task waits for: the stop is
// requested without waiting, the batch ends as after any stop.
TEST_F(Batch, StopFromInsideAHandlerDoesNotWaitForItself) {
    enum Where {
        Hook,
        HookInTheCallersThread,
        ProgressOnWorker,
        ProgressOnMainThread,
        PreviewOnMainThread
    };
    for (const Where where : {Hook, HookInTheCallersThread, ProgressOnWorker, ProgressOnMainThread,
                              PreviewOnMainThread}) {
        SCOPED_TRACE(where);
        const bool mainThread = where == ProgressOnMainThread || where == PreviewOnMainThread;
        if (mainThread) SetMainThread();
        // Covers the converter's end as well: a stop that waits for itself
        // hangs there too.
        Watchdog watchdog(180s, "a batch stopped from inside a handler");
        RecordingConverter c;
        std::atomic<bool> stopped{false};
        auto stopOnce = [&c, &stopped] {
            if (!stopped.exchange(true)) c.Converter.Stop(true);
        };
        c.Converter.SetTriggerEventInMainThread(mainThread);
        c.Converter.SetProgressInterval(100);
        if (where == Hook || where == HookInTheCallersThread)
            c.RecordHook([&](THookInfo* info) {
                if (info->FrameNumber == 3) stopOnce();
            });
        else // the 2 s clip takes at least 250 ms: progress comes
            c.RecordHook([](THookInfo*) { std::this_thread::sleep_for(5ms); });
        if (where == ProgressOnWorker || where == ProgressOnMainThread)
            c.Converter.OnProgress = [&](TCustomFFmpegVCL*, TProgressInfo*) { stopOnce(); };
        if (where == PreviewOnMainThread) {
            c.Converter.SetPreviewBitmap(true);
            c.Converter.OnPreviewBitmap = [&](TCustomFFmpegVCL*, const TPreviewInfo&) {
                stopOnce();
            };
        }
        AddTasks(c, 2);
        // In the caller's thread the rest of the batch ends on terminate
        // threads, and StartTask returns after the batch end.
        c.Converter.StartTask(where == HookInTheCallersThread ? 0 : 1);
        if (where == HookInTheCallersThread) {
            EXPECT_EQ(TerminationOrder(c).size(), 3u);
        }
        if (mainThread) {
            EXPECT_TRUE(ServiceUntil([&] { return TerminationOrder(c).size() >= 3; }, 60s));
        }
        ASSERT_TRUE(c.WaitForEnd());
        if (mainThread) ClearMainThread();
        EXPECT_TRUE(stopped);
        // Without the wait, task 1 may report its end before task 0 does;
        // the batch end comes last.
        std::vector<int> order = TerminationOrder(c);
        ASSERT_EQ(order.size(), 3u);
        EXPECT_EQ(order.back(), -1);
        std::sort(order.begin(), order.end() - 1);
        EXPECT_EQ(order, (std::vector<int>{0, 1, -1}));
        EXPECT_FALSE(c.TaskEnd(0).Finished);
        EXPECT_FALSE(c.TaskEnd(0).ExceptionRaised) << c.TaskEnd(0).ExceptionMsg;
        EXPECT_FALSE(c.TaskEnd(1).Finished);
    }
}

TEST_F(Batch, AThrowingTerminateHandlerInTheCallersThreadStillEndsTheBatch) {
    RecordingConverter c;
    c.Converter.OnTerminate = [&c](TCustomFFmpegVCL*, const TTerminateInfo& info) {
        {
            std::lock_guard lock(c.Lock);
            c.Terminations.push_back(info);
        }
        if (info.TaskIndex == 0) throw std::runtime_error("report failed");
    };
    AddTasks(c, 2);
    c.Converter.StartTask(0);
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, 1, -1}));
    EXPECT_TRUE(c.Converter.AllTerminated());
    EXPECT_TRUE(c.TaskEnd(1).Finished);
    EXPECT_TRUE(Log.Contains("report failed"));
    EXPECT_NO_THROW(c.Converter.ClearTasks());
}

TEST_F(Batch, AThrowingQueuedTerminateHandlerIsLoggedOnTheMainThread) {
    SetMainThread();
    RecordingConverter c;
    c.Converter.OnTerminate = [&c](TCustomFFmpegVCL*, const TTerminateInfo& info) {
        {
            std::lock_guard lock(c.Lock);
            c.Terminations.push_back(info);
        }
        throw std::runtime_error("window gone");
    };
    AddTasks(c, 1);
    c.Converter.StartTask(1);
    bool ended = false;
    EXPECT_NO_THROW(ended = ServiceUntil([&] { return TerminationOrder(c).size() >= 2; }, 60s));
    ClearMainThread();
    EXPECT_TRUE(ended);
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, -1}));
    EXPECT_EQ(Log.Count("Error occurs OnTerminate: window gone"), 2);
}

TEST_F(Batch, TheProbesLetGoOfTheInputsWhenTheBatchStarts) {
    RecordingConverter c;
    TestSignal checked;
    c.RecordHook([&](THookInfo* info) {
        if (info->FrameNumber == 1) checked.WaitFor(30s);
    });
    AddTasks(c, 2);
    TFileStreamInfo info;
    TAVProbe* probe = c.Converter.InputProbe(1, 0);
    ASSERT_NE(probe, nullptr);
    ASSERT_TRUE(probe->GetFileStreamInfo(info));
    EXPECT_NEAR(static_cast<double>(info.Duration), 2e6, 1e5);
    c.Converter.StartTask(1);
    // Task 0 holds its first picture: nothing has ended or closed yet, and
    // still no probe describes an input a worker owns now.
    for (int task = 0; task < 2; ++task) {
        EXPECT_EQ(c.Converter.InputProbe(task, 0)->FormatContext(), nullptr) << task;
        EXPECT_FALSE(c.Converter.InputProbe(task, 0)->GetFileStreamInfo(info)) << task;
    }
    checked.Set();
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_TRUE(c.TaskEnd(1).Finished);
}

// Pause and Resume from another thread while the tasks hand over to each
// other on their workers: every task still converts to its end (the thread
// checker watches the worker handles).
TEST_F(Batch, PauseAndResumeWhileTasksHandOver) {
    RecordingConverter c;
    AddTasks(c, 3);
    std::atomic<bool> ended{false};
    c.Converter.StartTask(1);
    std::thread toggler([&] {
        while (!ended) {
            c.Converter.Pause();
            std::this_thread::sleep_for(1ms);
            c.Converter.Resume();
        }
    });
    const bool batchEnded = c.WaitForEnd();
    ended = true;
    toggler.join();
    ASSERT_TRUE(batchEnded);
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, 1, 2, -1}));
    for (int task = 0; task < 3; ++task)
        EXPECT_TRUE(c.TaskEnd(task).Finished) << c.TaskEnd(task).ExceptionMsg;
}

TEST_F(Batch, HookDrawsOnTheFrameOrLeavesIt) {
    struct Case {
        const char* Name;
        std::function<void(THookInfo*)> Hook;
        const char* Reference; // the filter that gives what the output shows
    };
    const auto invert = [](THookInfo* info) {
        for (auto& byte : info->Bitmap->Data)
            byte = static_cast<uint8_t>(255 - byte);
    };
    const Case cases[] = {
        {"invert", invert, "negate"},
        {"unchanged",
         [invert](THookInfo* info) {
             invert(info);
             info->Update = false;
         },
         "null"},
        {"stop", [](THookInfo* info) { info->StopHook = true; }, "null"},
        {"raise", [](THookInfo*) { throw std::runtime_error("drawing failed"); }, "null"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Name);
        RecordingConverter c;
        c.RecordHook(k.Hook);
        const std::string out = Out.file(std::string(k.Name) + ".avi");
        ASSERT_EQ(c.Add(Media->AudioVideo, out, "vcodec=mpeg4\nqscale=2", true), 0);
        ASSERT_TRUE(c.Run());
        EXPECT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
        // The clip's own detail keeps a re-encoding near 24 dB; the other
        // picture (inverted or not) is far below.
        const std::string other = std::string(k.Reference) == "null" ? "negate" : "null";
        EXPECT_GT(Psnr(out, Media->AudioVideo, k.Reference), 20.0);
        EXPECT_LT(Psnr(out, Media->AudioVideo, other), 12.0);
        EXPECT_EQ(c.HookCalls, std::string(k.Name) == "stop" ? 1 : 50);
    }
    EXPECT_EQ(Log.Count("Error occurs OnCustomHook: drawing failed"), 50);
}

TEST_F(Batch, PreviewsComeAtMostEveryTenthOfASecondFromTheFirstFrame) {
    RecordingConverter c;
    c.RecordPreviews();
    std::vector<Clock::time_point> times;
    c.Converter.OnPreviewBitmap = [&](TCustomFFmpegVCL*, const TPreviewInfo& info) {
        std::lock_guard lock(c.Lock);
        times.push_back(Clock::now());
        c.Previews.push_back(info);
        EXPECT_EQ(info.Bitmap->Width, 160);
    };
    c.Converter.SetPreviewBitmap(true);
    c.RecordHook([](THookInfo*) { std::this_thread::sleep_for(10ms); });
    AddTasks(c, 1);
    ASSERT_TRUE(c.Run());
    ASSERT_GE(c.Previews.size(), 2u);
    EXPECT_EQ(c.Previews[0].FrameNumber, 1);
    EXPECT_EQ(c.Previews[0].PTS, 0);
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], 99ms);
}

TEST_F(Batch, ProgressReportsValuesAndAFinalReport) {
    RecordingConverter c;
    c.Converter.SetProgressInterval(100);
    c.RecordHook([](THookInfo*) { std::this_thread::sleep_for(5ms); });
    AddTasks(c, 1);
    ASSERT_EQ(c.Add(Media->AudioVideo, Out.file("audio.mp3"), "vn=1\nacodec=libmp3lame"), 1);
    ASSERT_TRUE(c.Run());
    std::vector<TProgressInfo> video, audio;
    for (const TProgressInfo& info : c.Progress)
        (info.TaskIndex == 0 ? video : audio).push_back(info);
    ASSERT_GE(video.size(), 2u);
    for (std::size_t i = 0; i + 1 < video.size(); ++i) {
        EXPECT_GE(video[i].FrameNumber, 1);
        EXPECT_EQ(video[i].FileIndex, 0);
    }
    const TProgressInfo& last = video.back();
    EXPECT_EQ(last.FileIndex, -1);
    EXPECT_EQ(last.FrameNumber, 50);
    EXPECT_NEAR(static_cast<double>(last.TotalDuration), 2e6, 5e4);
    EXPECT_NEAR(static_cast<double>(last.CurrentDuration), 2e6, 1e5);
    EXPECT_GT(last.CurrentSize, 0);
    EXPECT_GT(last.BitRate, 0.0f);
    EXPECT_GT(last.Quality, 0.0f);
    ASSERT_FALSE(audio.empty());
    EXPECT_EQ(audio.back().FileIndex, -1);
    EXPECT_EQ(audio.back().FrameNumber, -1);
    EXPECT_EQ(audio.back().FPS, -1);
    EXPECT_EQ(audio.back().Quality, -1.0f);
}

} // namespace

namespace {

// A preview window that records what it shows and reports itself closed
// after `Limit` pictures.
struct FakePreviewWindow : IPreviewWindow {
    explicit FakePreviewWindow(std::vector<std::pair<int, int64_t>>* shown, int limit)
        : Shown(shown), Limit(limit) {}
    bool Show(const Bitmap24& bitmap, int frameNumber, int64_t pts) override {
        EXPECT_EQ(bitmap.Width, 160);
        Shown->emplace_back(frameNumber, pts);
        return static_cast<int>(Shown->size()) < Limit;
    }
    std::vector<std::pair<int, int64_t>>* Shown;
    int Limit;
};

TEST_F(Batch, TheEnginesOwnWindowShowsTheFirstFrameUntilTheUserClosesIt) {
    std::vector<std::pair<int, int64_t>> shown;
    int windows = 0;
    SetPreviewWindowFactory([&]() -> std::unique_ptr<IPreviewWindow> {
        ++windows;
        return std::make_unique<FakePreviewWindow>(&shown, 2);
    });
    RecordingConverter c;
    c.Converter.SetPreview(true);
    c.RecordHook([](THookInfo*) { std::this_thread::sleep_for(10ms); });
    AddTasks(c, 1);
    ASSERT_TRUE(c.Run());
    SetPreviewWindowFactory(nullptr);
    EXPECT_EQ(windows, 1);
    ASSERT_EQ(shown.size(), 2u); // closed after the second picture
    EXPECT_EQ(shown[0], (std::pair<int, int64_t>{1, 0}));
    EXPECT_GT(shown[1].first, 1);
    EXPECT_TRUE(c.TaskEnd(0).Finished);
}

} // namespace
