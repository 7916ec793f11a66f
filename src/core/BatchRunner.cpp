#include "core/BatchRunner.h"

#include "engine/FFmpegVCL.h"
#include "media/MainThread.h"

int TaskPercent(int64_t current, int64_t total) {
    if (total <= 0) return 0;
    return static_cast<int>(current * 100 / total);
}

TBatchRunner::TBatchRunner(TCustomFFmpegVCL& converter, TBatchPlan& plan)
    : FConverter(converter), FPlan(plan) {
    FConverter.OnProgress = [this](TCustomFFmpegVCL*, TProgressInfo* info) {
        if (info) Progress(*info);
    };
    FConverter.OnPreviewBitmap = [this](TCustomFFmpegVCL*, const TPreviewInfo& info) {
        Preview(info);
    };
    std::weak_ptr<char> alive = FAlive;
    FConverter.OnTerminate = [this, alive](TCustomFFmpegVCL*, const TTerminateInfo& info) {
        if (IsMainThread()) return Terminated(info);
        QueueInMainThread([this, alive, info] {
            if (alive.lock()) Terminated(info);
        });
    };
}

// Waits for every task to end, then lets go of the handlers: no worker can
// be inside one of them afterwards.
TBatchRunner::~TBatchRunner() {
    FConverter.Stop(true);
    FConverter.OnCustomHook = nullptr;
    FConverter.OnProgress = nullptr;
    FConverter.OnPreviewBitmap = nullptr;
    FConverter.OnTerminate = nullptr;
}

void TBatchRunner::Start(int atATime) {
    FAtATime = atATime < 1 ? 1 : atATime;
    FResults.assign(static_cast<std::size_t>(FConverter.TaskCount()), TTerminateInfo());
    FTasksEnded = 0;
    FLastTaskFinished = false;
    FPreviewTask = -1;
    FEnded = false;
    // A plan without a drawer leaves the hook to the converter's owner.
    if (FPlan.Drawer)
        FConverter.OnCustomHook = [this](TCustomFFmpegVCL*, THookInfo* info) {
            FPlan.DrawFrame(info);
        };
    FConverter.StartTask(FAtATime);
}

void TBatchRunner::Progress(const TProgressInfo& info) {
    if (!OnTaskProgress) return;
    const TTaskReport report{info.TaskIndex, TaskCount(), FPlan.TaskRow(info.TaskIndex),
                             TaskPercent(info.CurrentDuration, info.TotalDuration), &info};
    OnTaskProgress(report);
}

void TBatchRunner::Preview(const TPreviewInfo& info) {
    const Bitmap24* bitmap = info.Bitmap;
    if (!bitmap || bitmap->Width < 1 || bitmap->Height < 1) return;
    if (FAtATime > 1) {
        if (FPreviewTask >= 0 && info.TaskIndex != FPreviewTask) return;
        FPreviewTask = info.TaskIndex;
    }
    if (OnPreview) OnPreview(info);
}

// With one task at a time the end actions come right after the last task's
// report, as that task ends last; with several they wait for every task.
void TBatchRunner::Terminated(const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
        FEnded = true;
        if (OnBatchEnded) OnBatchEnded();
        return;
    }
    ++FTasksEnded;
    if (info.TaskIndex < static_cast<int>(FResults.size())) FResults[info.TaskIndex] = info;
    if (info.TaskIndex == FPreviewTask) FPreviewTask = -1;
    if (info.Finished && info.TaskIndex + 1 == TaskCount()) FLastTaskFinished = true;
    if (OnTaskEnded) OnTaskEnded(TTaskEnd{FPlan.TaskRow(info.TaskIndex), TaskCount(), &info});
    if (FTasksEnded >= FResults.size() && FLastTaskFinished) {
        FLastTaskFinished = false;
        if (OnEndActions) OnEndActions();
    }
}
