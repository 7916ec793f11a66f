// Runs conversions through the converter component and records its events.
#pragma once

#include "EngineTestSupport.h"
#include "engine/FFmpegVCL.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

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
        return TTerminateInfo{-2, false, false, "no termination"};
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
