// Runs conversions through the converter component and records its events.
#pragma once

#include "EngineTestSupport.h"
#include "engine/FFmpegVCL.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A one-shot event between threads: Set once, waited for with a deadline.
class TestSignal {
public:
    void Set() {
        {
            std::lock_guard lock(Lock);
            Done = true;
        }
        Wake.notify_all();
    }
    bool IsSet() {
        std::lock_guard lock(Lock);
        return Done;
    }
    // False when the deadline passed first.
    bool WaitFor(std::chrono::milliseconds limit) {
        std::unique_lock lock(Lock);
        return Wake.wait_for(lock, limit, [this] { return Done; });
    }

private:
    std::mutex Lock;
    std::condition_variable Wake;
    bool Done = false;
};

// Ends the test program with a message when the code under test has not
// come back by the deadline, so a deadlock fails the test instead of
// hanging it.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::string what)
        : Thread([this, limit, what = std::move(what)] {
              if (Finished.WaitFor(limit)) return;
              std::fprintf(stderr, "Deadlock: %s did not end within %lld s\n", what.c_str(),
                           static_cast<long long>(limit.count()));
              std::fflush(stderr);
              std::_Exit(3);
          }) {}
    ~Watchdog() {
        Finished.Set();
        Thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    TestSignal Finished;
    std::thread Thread;
};

// Polls `done` until it holds or `limit` has passed; false on the deadline.
template <class Predicate> bool WaitUntil(Predicate done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A component whose four events are recorded (they run on the worker
// threads: the tests set no main thread).
struct RecordingConverter {
    TFFmpegVCL Converter;
    std::mutex Lock;
    std::condition_variable Ended;
    std::vector<TTerminateInfo> Terminations;
    std::vector<TProgressInfo> Progress;
    std::vector<TPreviewInfo> Previews;
    int HookCalls = 0;
    std::function<void(THookInfo*)> Hook;

    // A batch a failed test left running ends before the records go.
    ~RecordingConverter() {
        Converter.Stop(true);
        Converter.OnCustomHook = nullptr;
    }

    RecordingConverter() {
        Converter.OnTerminate = [this](TCustomFFmpegVCL*, const TTerminateInfo& info) {
            std::lock_guard lock(Lock);
            Terminations.push_back(info);
            Ended.notify_all();
        };
        Converter.OnProgress = [this](TCustomFFmpegVCL*, TProgressInfo* info) {
            std::lock_guard lock(Lock);
            Progress.push_back(*info);
        };
    }

    void RecordPreviews() {
        Converter.OnPreviewBitmap = [this](TCustomFFmpegVCL*, const TPreviewInfo& info) {
            std::lock_guard lock(Lock);
            Previews.push_back(info);
        };
    }

    void RecordHook(std::function<void(THookInfo*)> hook) {
        Hook = std::move(hook);
        Converter.OnCustomHook = [this](TCustomFFmpegVCL*, THookInfo* info) {
            {
                std::lock_guard lock(Lock);
                ++HookCalls;
            }
            if (Hook) Hook(info);
        };
    }

    // Adds one task converting `input` into `output` with the given option
    // lines (and record fields); -1 when it could not be set up.
    int Add(const std::string& input, const std::string& output, const std::string& lines,
            bool hook = false, const std::string& inputLines = "") {
        TInputOptions in;
        in.ExtOptions = inputLines;
        const int task = Converter.AddTask(input, &in);
        if (task < 0) return -1;
        TOutputOptions out;
        out.ExtOptions = lines;
        out.CustomHook = hook;
        return Converter.SetOutputFile(task, output, &out) ? task : -1;
    }

    // Starts the batch and waits (up to a minute) for its end report.
    bool Run(int maxConcurrent = 1) {
        Converter.StartTask(maxConcurrent);
        return WaitForEnd();
    }

    bool WaitForEnd() {
        std::unique_lock lock(Lock);
        return Ended.wait_for(lock, std::chrono::seconds(60), [this] {
            return !Terminations.empty() && Terminations.back().TaskIndex == -1;
        });
    }

    TTerminateInfo TaskEnd(int task) {
        std::lock_guard lock(Lock);
        for (const TTerminateInfo& info : Terminations)
            if (info.TaskIndex == task) return info;
        return TTerminateInfo{-2, false, false, "no termination", "", 100};
    }
};

inline double ProbeDuration(const std::string& file, const std::string& select = "") {
    const std::string text = select.empty()
                                 ? testsupport::ProbeValue(file, "format=duration")
                                 : testsupport::ProbeValue(file, "stream=duration", select);
    return text.empty() || text == "N/A" ? -1.0 : std::stod(text);
}

// Packets of a file's first video stream, counted by ffprobe.
inline std::string CountedVideoPackets(const std::string& file) {
    return testsupport::RunCommand("ffprobe -v error -count_packets -select_streams v:0 "
                                   "-show_entries stream=nb_read_packets -of csv=p=0 " +
                                   testsupport::ShellQuote(file))
        .output;
}
