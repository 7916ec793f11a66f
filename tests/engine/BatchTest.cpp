// The batch on worker threads and in the caller's thread: order of tasks
// and terminations, pause, resume and stop, the frame hook, the preview and
// the progress reports.
#include "ConversionTestSupport.h"

#include "engine/FFmpegPreview.h"
#include "media/MainThread.h"

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
        // Task 0 holds its first picture until task 1 is working (however
        // slow the machine): the two run side by side or the wait runs out.
        if (info->TaskIndex == 0 && !asked.exchange(true)) {
            const auto until = Clock::now() + 10s;
            while (!c.Converter.Task(1)->Working() && Clock::now() < until)
                std::this_thread::sleep_for(1ms);
            sideBySide = c.Converter.Task(1)->Working();
        }
        std::this_thread::sleep_for(4ms);
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
    std::atomic<int> frames{0};
    c.RecordHook([&frames](THookInfo*) {
        ++frames;
        std::this_thread::sleep_for(5ms);
    });
    AddTasks(c, 3);
    c.Converter.StartTask(1);
    while (frames < 5)
        std::this_thread::sleep_for(1ms);
    c.Converter.Stop(true);
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, 1, 2, -1}));
    for (int task = 0; task < 3; ++task) {
        EXPECT_FALSE(c.TaskEnd(task).Finished);
        EXPECT_FALSE(c.TaskEnd(task).ExceptionRaised) << c.TaskEnd(task).ExceptionMsg;
    }
    // What was converted is a playable file.
    const std::string first = Out.file("out0.avi");
    EXPECT_GT(std::stoi(ProbeValue(first, "stream=nb_frames", "v:0")), 3);
    EXPECT_LT(std::stoi(ProbeValue(first, "stream=nb_frames", "v:0")), 50);
    EXPECT_FALSE(std::filesystem::exists(Out.file("out1.avi")));
}

TEST_F(Batch, PauseHoldsTheTaskAndStopWhilePausedReturns) {
    RecordingConverter c;
    std::atomic<int> frames{0};
    c.RecordHook([&frames](THookInfo*) { ++frames; });
    AddTasks(c, 2);
    c.Converter.StartTask(1);
    while (frames < 1)
        std::this_thread::sleep_for(1ms);
    c.Converter.Pause();
    std::this_thread::sleep_for(100ms);
    const int held = frames;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(frames, held);
    EXPECT_LT(held, 50);
    c.Converter.Resume();
    while (frames < held + 3)
        std::this_thread::sleep_for(1ms);
    c.Converter.Pause();
    c.Converter.Stop(true);
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_FALSE(c.TaskEnd(0).Finished);
    EXPECT_FALSE(c.TaskEnd(1).Finished);
}

TEST_F(Batch, StopOnTheMainThreadWhileTheWorkerWaitsForAHandOver) {
    SetMainThread();
    RecordingConverter c;
    std::atomic<int> progress{0};
    std::thread::id handlerThread;
    c.Converter.SetProgressInterval(100);
    c.Converter.OnProgress = [&](TCustomFFmpegVCL*, TProgressInfo*) {
        handlerThread = std::this_thread::get_id();
        ++progress;
    };
    c.RecordHook([](THookInfo*) { std::this_thread::sleep_for(5ms); });
    AddTasks(c, 1);
    c.Converter.StartTask(1);
    while (progress == 0)
        ServiceMainThread(10ms);
    // The worker is now about to wait for the next hand-over again.
    std::this_thread::sleep_for(150ms);
    c.Converter.Stop(true);
    for (int i = 0; i < 500 && TerminationOrder(c).size() < 2; ++i)
        ServiceMainThread(10ms);
    ClearMainThread();
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_EQ(TerminationOrder(c), (std::vector<int>{0, -1}));
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
