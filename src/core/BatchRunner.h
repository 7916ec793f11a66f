// Running a planned batch, shared by the main window and vantrel-convert:
// binds the converter's events for its lifetime, starts the tasks N at a
// time, and reports each task's progress, preview pictures and end with the
// task's row, the end of the whole batch, and when the end actions are due.
// The frame hook goes to the plan (TBatchPlan::DrawFrame) when the plan has
// a drawer.
//
// Threads: every event of the runner is raised on the main thread (the
// converter hands progress and previews over itself; terminations that come
// on other threads are queued to it, and dropped once the runner has gone).
// Without a main thread (SetMainThread) the reports run on the threads that
// raise them, one at a time. The fields below are used by those reports.
#pragma once

#include "core/BatchPlan.h"
#include "engine/FFmpegRecords.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TCustomFFmpegVCL;

// Percentage of a task: current * 100 div total, 0 without a total.
int TaskPercent(int64_t current, int64_t total);

// One progress report of a task, as the batch's viewers show it.
struct TTaskReport {
    int Task = -1;
    int TaskCount = 0;
    int Row = -1; // the task's row in the plan, -1 for a task not planned there
    int Percent = 0;
    const TProgressInfo* Info = nullptr; // the converter's report
};

// The end of one task.
struct TTaskEnd {
    int Row = -1;
    int TaskCount = 0;
    const TTerminateInfo* Info = nullptr;
};

class TBatchRunner {
public:
    TBatchRunner(TCustomFFmpegVCL& converter, TBatchPlan& plan);
    ~TBatchRunner();
    TBatchRunner(const TBatchRunner&) = delete;
    TBatchRunner& operator=(const TBatchRunner&) = delete;

    // Starts the planned tasks, `atATime` at a time (at least 1).
    void Start(int atATime);
    int AtATime() const { return FAtATime; }
    // The tasks of the batch last started.
    int TaskCount() const { return static_cast<int>(FResults.size()); }
    // Each task's end report, in task order (a task that has not ended has
    // Finished and ExceptionRaised false).
    const std::vector<TTerminateInfo>& Results() const { return FResults; }
    // The batch-end report has come.
    bool Ended() const { return FEnded; }

    // The converter's reports, carried out on the main thread.
    void Progress(const TProgressInfo& info);
    void Preview(const TPreviewInfo& info);
    void Terminated(const TTerminateInfo& info);

    std::function<void(const TTaskReport&)> OnTaskProgress;
    // With several tasks at a time, only the pictures of one task until it
    // ends, so that tasks side by side do not take turns.
    std::function<void(const TPreviewInfo&)> OnPreview;
    std::function<void(const TTaskEnd&)> OnTaskEnded;
    // Every task has ended and the last one finished.
    std::function<void()> OnEndActions;
    std::function<void()> OnBatchEnded;

private:
    TCustomFFmpegVCL& FConverter;
    TBatchPlan& FPlan;
    int FAtATime = 1;
    std::vector<TTerminateInfo> FResults;
    std::size_t FTasksEnded = 0;
    bool FLastTaskFinished = false;
    std::atomic<bool> FEnded{false}; // also read by a waiting loop
    int FPreviewTask = -1;           // -1: the next task that sends a picture
    // Expires with the runner: queued reports check it before they run.
    std::shared_ptr<char> FAlive = std::make_shared<char>();
};
