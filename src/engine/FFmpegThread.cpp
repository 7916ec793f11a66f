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
    std::lock_guard lock(FRunLock);
    return FErrorMessage;
}

std::string TCustomFFmpeg::EndedEarly() const {
    std::lock_guard lock(FRunLock);
    return FEndedEarly;
}

int TCustomFFmpeg::ReachedPercent() const {
    std::lock_guard lock(FRunLock);
    return FReachedPercent;
}

void TCustomFFmpeg::SetPreviewFlags(int flags) {
    std::lock_guard<std::mutex> lock(PreviewFlagLock());
    if ((FPreviewFlags & 1) && !(flags & 1)) FPreviewer.reset();
    FPreviewFlags = flags;
}

void TCustomFFmpeg::ReleaseInputs() {
    if (!FInputsReleased.exchange(true)) InputsClosing();
}

// The claim, the run flags and the worker are set in one step under the run
// lock, so a BreakTask on another thread either ends the fresh task itself
// or finds it working with its worker (and then stops it and waits).
bool TCustomFFmpeg::StartConvert(bool threaded, TThreadPriority priority) {
    bool missingOutput = false, missingInput = false;
    {
        std::lock_guard lock(FRunLock);
        if (FClaimed) return false;
        FClaimed = true;
        ReleaseInputs();
        missingOutput = OutputFileCount() == 0;
        missingInput = InputFileCount() == 0;
        if (!missingOutput && !missingInput) {
            FFinished = false;
            FTerminated = false;
            FEndedEarly.clear();
            FReachedPercent = 100;
            FWorking = true;
            FThreaded = threaded;
            if (threaded) {
                FConvertDone = false;
                FPaused = true; // the caller resumes the new worker
                FWorker = std::thread([this, priority] {
                    ApplyPriority(priority);
                    WaitWhilePaused();
                    ConversionBody();
                    MarkDone(FConvertDone);
                });
            }
        }
    }
    if (missingOutput || missingInput) {
        if (missingOutput) CloseAndReset();
        Fail(missingOutput ? "At least one output file must be specified"
                           : "At least one input file must be specified");
        ReportEnd();
        return false;
    }
    if (threaded) return true;
    ConversionBody();
    return false;
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
    ReportEnd();
}

// The termination report; what its handler raises is logged, never passed on
// to the thread that ends the task.
void TCustomFFmpeg::ReportEnd() {
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
    FTranscoder = std::make_unique<TTranscoder>(ShareWithConversion());
    FTranscoder->Run();
}

TTaskShare TCustomFFmpeg::ShareWithConversion() {
    return TTaskShare{
        .Task = *this,
        .FOptions = FOptions,
        .FOptionContexts = FOptionContexts,
        .FInputFiles = FInputFiles,
        .FOutputFiles = FOutputFiles,
        .FOutputStreams = FOutputStreams,
        .FFrameHooks = FFrameHooks,
        .FErrorText = FErrorText,
        .FTotalDuration = FTotalDuration,
        .FJoined = FJoined,
        .FBreakRequested = FBreakRequested,
        .FFinished = FFinished,
        .FPreviewFlags = FPreviewFlags,
        .FPreviewer = FPreviewer,
        .FRunLock = FRunLock,
        .FEndedEarly = FEndedEarly,
        .FReachedPercent = FReachedPercent,
        .OnHookCallback = OnHookCallback,
        .OnPreview = OnPreview,
        .OnProgressCallback = OnProgressCallback,
        .ProgressInterval = ProgressInterval,
        .StagedEncoding = StagedEncoding,
        .Threaded = FThreaded,
    };
}

void TCustomFFmpeg::CloseAndReset() {
    FTranscoder.reset();
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
    bool waitForWorker = false;
    {
        std::lock_guard lock(FRunLock);
        if (!FWorker.joinable()) return;
        waitForWorker = wait && FWorker.get_id() != std::this_thread::get_id();
        FPaused = false; // a paused task stops too
    }
    FRunWake.notify_all();
    if (waitForWorker) WaitDone(FConvertDone, true);
}

// A task claimed before is stopped (and with `wait` waited for, also when
// its worker has only just cleared its working flag); a fresh one ends on a
// terminate thread of its own.
void TCustomFFmpeg::BreakTask(bool wait) {
    bool claimed = false, waitForTerminate = false;
    {
        std::lock_guard lock(FRunLock);
        claimed = FClaimed;
        if (!claimed) {
            FClaimed = true;
            ReleaseInputs();
            FTerminateDone = false;
            FTerminateThread = std::thread([this] {
                try {
                    CloseAndReset(); // an output that never got data is removed
                } catch (const std::exception& e) {
                    Log(llError, e.what());
                } catch (...) {
                }
                ReportEnd();
                MarkDone(FTerminateDone);
            });
        }
        waitForTerminate = wait && FTerminateThread.joinable() &&
                           FTerminateThread.get_id() != std::this_thread::get_id();
    }
    if (claimed) StopConvert(wait);
    if (waitForTerminate) WaitDone(FTerminateDone, false);
}

void TCustomFFmpeg::PauseTask() {
    std::lock_guard lock(FRunLock);
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

namespace {

// A thread freed by a handler on itself is let run out.
void JoinUnlessSelf(std::thread& thread) {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

} // namespace

// Stops a running conversion and waits for the task's threads.
void TCustomFFmpeg::StopAndJoin() {
    if (FWorking) StopConvert(true);
    FBreakRequested = true;
    ResumeTask();
    std::thread worker, terminator;
    {
        std::lock_guard lock(FRunLock);
        worker = std::move(FWorker);
        terminator = std::move(FTerminateThread);
    }
    JoinUnlessSelf(worker);
    JoinUnlessSelf(terminator);
}
