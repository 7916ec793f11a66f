// Running a task's conversion: the worker thread, pause at safe points,
// stop with or without waiting, and the one termination report per task.
#include "engine/FFmpeg.h"
#include "engine/FFmpegPreview.h"
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/MainThread.h"

#include <chrono>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(20);

// Priority of the calling worker thread; raising it needs privileges that a
// desktop program does not have, so the higher ones stay at normal.
void ApplyPriority(TThreadPriority priority) {
    if (priority == tpIdle) {
        sched_param param{};
        param.sched_priority = 0;
        sched_setscheduler(0, SCHED_IDLE, &param);
        return;
    }
    const int nice = priority == tpLowest ? 10 : (priority == tpLower ? 5 : 0);
    if (nice != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
}

// The conversion stops reading a source that blocks once a stop is requested.
int InterruptCallback(void* opaque) {
    return static_cast<TCustomFFmpeg*>(opaque)->BreakRequested() ? 1 : 0;
}

} // namespace

std::string TCustomFFmpeg::ErrorMessage() const {
    std::lock_guard lock(const_cast<std::mutex&>(FRunLock));
    return FErrorMessage;
}

void TCustomFFmpeg::SetPreviewFlags(int flags) {
    std::lock_guard<std::mutex> lock(PreviewFlagLock());
    if ((FPreviewFlags & 1) && !(flags & 1)) FPreviewer.reset();
    FPreviewFlags = flags;
}

bool TCustomFFmpeg::StartConvert(bool threaded, TThreadPriority priority) {
    if (FWorking || FTerminated) return false;
    if (OutputFileCount() == 0 || InputFileCount() == 0) {
        const bool noOutput = OutputFileCount() == 0;
        if (noOutput) CloseAndReset();
        Fail(noOutput ? "At least one output file must be specified"
                      : "At least one input file must be specified");
        DoTerminate();
        return false;
    }
    FWorking = true;
    FBreakRequested = false;
    FFinished = false;
    FTerminated = false;
    if (!threaded) {
        ConversionBody();
        return false;
    }
    {
        std::lock_guard lock(FRunLock);
        FConvertDone = false;
    }
    FPaused = true; // the caller resumes the new worker
    FWorker = std::thread([this, priority] {
        ApplyPriority(priority);
        WaitWhilePaused();
        ConversionBody();
        MarkDone(FConvertDone);
    });
    return true;
}

void TCustomFFmpeg::ConversionBody() {
    FFinished = false;
    try {
        RunConversion();
    } catch (const std::exception& e) {
        Fail(e.what());
    } catch (...) {
        Fail("Unknown error during the conversion");
    }
    try {
        if (FTranscoder) FTranscoder->CloseCodecs();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    // A finished or stopped task keeps its files; a failed one leaves the
    // targets as they were.
    CloseOutputFiles(!FError);
    try {
        CloseAndReset();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    try {
        DoTerminate();
    } catch (const std::exception& e) {
        Log(llError, e.what());
    } catch (...) {
        Log(llError, "Unknown error in the termination report");
    }
}

void TCustomFFmpeg::RunConversion() {
    for (TInputFileSlot& input : FInputFiles) {
        input.Context->interrupt_callback.callback = InterruptCallback;
        input.Context->interrupt_callback.opaque = this;
    }
    FTranscoder = std::make_unique<TTranscoder>(*this);
    FTranscoder->Run();
}

void TCustomFFmpeg::CloseAndReset() {
    FTranscoder.reset();
    InputsClosing();
    FOutputStreams.clear();
    FOutputFiles.clear(); // closes the files; an empty one is removed
    FInputFiles.clear();
    FreeOptionContexts(FOptionContexts);
    ReleaseFrameHooks(&FFrameHooks.Head);
    FOptions.UsingVhook = false;
    std::lock_guard<std::mutex> lock(PreviewFlagLock());
    FPreviewer.reset();
}

void TCustomFFmpeg::Fail(const std::string& message) {
    Log(llQuiet, message);
    FError = true;
    std::lock_guard lock(FRunLock);
    FErrorMessage = message;
}

void TCustomFFmpeg::DoTerminate() {
    FWorking = false;
    FTerminated = true;
    if (OnTerminateCallback) OnTerminateCallback(this);
}

void TCustomFFmpeg::MarkDone(bool& flag) {
    {
        std::lock_guard lock(FRunLock);
        flag = true;
    }
    FRunWake.notify_all();
}

// Waits until `flag` is set. On the main thread, when asked to, the waiting
// hand-overs and the message pump run every 20 ms while queued calls wait.
void TCustomFFmpeg::WaitDone(const bool& flag, bool serviceMainThread) {
    const bool service = serviceMainThread && IsMainThread();
    std::unique_ptr<TQueuedCallsHold> hold;
    if (service) hold = std::make_unique<TQueuedCallsHold>();
    std::unique_lock lock(FRunLock);
    while (!flag) {
        if (FRunWake.wait_for(lock, kWaitSlice, [&flag] { return flag; })) break;
        if (!service) continue;
        lock.unlock();
        RunWaitingHandOvers();
        ProcessPendingMessages();
        lock.lock();
    }
}

void TCustomFFmpeg::StopConvert(bool wait) {
    FBreakRequested = true;
    if (!FWorker.joinable()) return;
    ResumeTask();
    if (wait) WaitDone(FConvertDone, true);
}

void TCustomFFmpeg::BreakTask(bool wait) {
    if (FWorking) {
        StopConvert(wait);
        return;
    }
    if (FTerminated || FTerminateThread.joinable()) return;
    {
        std::lock_guard lock(FRunLock);
        FTerminateDone = false;
    }
    FTerminateThread = std::thread([this] {
        try {
            CloseAndReset(); // an output that never got data is removed
            DoTerminate();
        } catch (const std::exception& e) {
            Log(llError, e.what());
        } catch (...) {
        }
        MarkDone(FTerminateDone);
    });
    if (wait) WaitDone(FTerminateDone, false);
}

void TCustomFFmpeg::PauseTask() {
    if (FWorker.joinable() && FWorking) FPaused = true;
}

void TCustomFFmpeg::ResumeTask() {
    {
        std::lock_guard lock(FRunLock);
        FPaused = false;
    }
    FRunWake.notify_all();
}

void TCustomFFmpeg::WaitWhilePaused() {
    if (!FPaused) return;
    std::unique_lock lock(FRunLock);
    while (FPaused && !FBreakRequested)
        FRunWake.wait_for(lock, std::chrono::milliseconds(100));
}

// Stops a running conversion and waits for the task's threads.
void TCustomFFmpeg::StopAndJoin() {
    if (FWorking && FWorker.joinable()) StopConvert(true);
    // A task freed by a handler on its own thread lets that thread run out.
    const auto self = std::this_thread::get_id();
    if (FWorker.joinable()) {
        FBreakRequested = true;
        ResumeTask();
        if (FWorker.get_id() == self)
            FWorker.detach();
        else
            FWorker.join();
    }
    if (FTerminateThread.joinable()) {
        if (FTerminateThread.get_id() == self)
            FTerminateThread.detach();
        else
            FTerminateThread.join();
    }
}
