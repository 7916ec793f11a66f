// Running a task: the worker thread, pause at safe points, stop with or
// without waiting, and the one termination report per task.
#include "engine/TaskRun.h"

#include "media/FFmpegLogger.h"
#include "media/MainThread.h"

#include <chrono>
#include <memory>
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

void Log(TLogLevel level, const std::string& text) {
    GetLogger().Log(nullptr, level, text);
}

// A thread freed by a handler on itself is let run out.
void JoinUnlessSelf(std::thread& thread) {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

} // namespace

TTaskRun::TTaskRun(TTaskRunSteps steps) : FSteps(std::move(steps)) {}

TTaskRun::~TTaskRun() {
    StopAndJoin();
}

std::string TTaskRun::ErrorMessage() const {
    std::lock_guard lock(FLock);
    return FErrorMessage;
}

std::string TTaskRun::EndedEarly() const {
    std::lock_guard lock(FLock);
    return FEndedEarly;
}

int TTaskRun::ReachedPercent() const {
    std::lock_guard lock(FLock);
    return FReachedPercent;
}

TRunShare TTaskRun::ShareWithConversion() {
    return TRunShare{
        .BreakRequested = FBreakRequested,
        .Finished = FFinished,
        .Lock = FLock,
        .EndedEarly = FEndedEarly,
        .ReachedPercent = FReachedPercent,
        .Threaded = FThreaded,
    };
}

void TTaskRun::ReleaseInputs() {
    if (!FInputsReleased.exchange(true)) FSteps.ReleaseInputs();
}

// The claim, the run flags and the worker are set in one step under the run
// lock, so a BreakTask on another thread either ends the fresh task itself
// or finds it working with its worker (and then stops it and waits).
bool TTaskRun::StartConvert(bool threaded, TThreadPriority priority) {
    bool missingOutput = false, missingInput = false;
    {
        std::lock_guard lock(FLock);
        if (FClaimed) return false;
        FClaimed = true;
        ReleaseInputs();
        missingOutput = !FSteps.HasOutputs();
        missingInput = !FSteps.HasInputs();
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
        if (missingOutput) FSteps.CloseAndReset();
        Fail(missingOutput ? "At least one output file must be specified"
                           : "At least one input file must be specified");
        ReportEnd();
        return false;
    }
    if (threaded) return true;
    ConversionBody();
    return false;
}

void TTaskRun::ConversionBody() {
    FFinished = false;
    try {
        FSteps.Convert();
    } catch (const std::exception& e) {
        Fail(e.what());
    } catch (...) {
        Fail("Unknown error during the conversion");
    }
    try {
        FSteps.CloseCodecs();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    // A finished or stopped task keeps its files; a failed one leaves the
    // targets as they were.
    const std::string closeError = FSteps.CloseOutputs(!FError);
    if (!closeError.empty()) {
        FFinished = false;
        Fail(closeError);
    }
    try {
        FSteps.CloseAndReset();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    ReportEnd();
}

// The termination report; what its handler raises is logged, never passed on
// to the thread that ends the task.
void TTaskRun::ReportEnd() {
    try {
        FWorking = false;
        FTerminated = true;
        FSteps.Terminate();
    } catch (const std::exception& e) {
        Log(llError, e.what());
    } catch (...) {
        Log(llError, "Unknown error in the termination report");
    }
}

void TTaskRun::Fail(const std::string& message) {
    Log(llQuiet, message);
    FError = true;
    std::lock_guard lock(FLock);
    FErrorMessage = message;
}

void TTaskRun::MarkDone(bool& flag) {
    {
        std::lock_guard lock(FLock);
        flag = true;
    }
    FWake.notify_all();
}

// Waits until `flag` is set. On the main thread, when asked to, the waiting
// hand-overs and the message pump run every 20 ms while queued calls wait.
void TTaskRun::WaitDone(const bool& flag, bool serviceMainThread) {
    const bool service = serviceMainThread && IsMainThread();
    std::unique_ptr<TQueuedCallsHold> hold;
    if (service) hold = std::make_unique<TQueuedCallsHold>();
    std::unique_lock lock(FLock);
    while (!flag) {
        if (FWake.wait_for(lock, kWaitSlice, [&flag] { return flag; })) break;
        if (!service) continue;
        lock.unlock();
        RunWaitingHandOvers();
        ProcessPendingMessages();
        lock.lock();
    }
}

void TTaskRun::StopConvert(bool wait) {
    FBreakRequested = true;
    bool waitForWorker = false;
    {
        std::lock_guard lock(FLock);
        if (!FWorker.joinable()) return;
        waitForWorker = wait && FWorker.get_id() != std::this_thread::get_id();
        FPaused = false; // a paused task stops too
    }
    FWake.notify_all();
    if (waitForWorker) WaitDone(FConvertDone, true);
}

// The end of a task that never ran, on its terminate thread: an output that
// never got data is removed.
void TTaskRun::EndUnstarted() {
    try {
        FSteps.CloseAndReset();
    } catch (const std::exception& e) {
        Log(llError, e.what());
    } catch (...) {
    }
    ReportEnd();
    MarkDone(FTerminateDone);
}

// A task claimed before is stopped (and with `wait` waited for, also when
// its worker has only just cleared its working flag); a fresh one ends on a
// terminate thread of its own.
void TTaskRun::BreakTask(bool wait) {
    bool claimed = false, waitForTerminate = false;
    {
        std::lock_guard lock(FLock);
        claimed = FClaimed;
        if (!claimed) {
            FClaimed = true;
            ReleaseInputs();
            FTerminateDone = false;
            FTerminateThread = std::thread([this] { EndUnstarted(); });
        }
        waitForTerminate = wait && FTerminateThread.joinable() &&
                           FTerminateThread.get_id() != std::this_thread::get_id();
    }
    if (claimed) StopConvert(wait);
    if (waitForTerminate) WaitDone(FTerminateDone, false);
}

void TTaskRun::PauseTask() {
    std::lock_guard lock(FLock);
    if (FWorker.joinable() && FWorking) FPaused = true;
}

void TTaskRun::ResumeTask() {
    {
        std::lock_guard lock(FLock);
        FPaused = false;
    }
    FWake.notify_all();
}

void TTaskRun::WaitWhilePaused() {
    if (!FPaused) return;
    std::unique_lock lock(FLock);
    while (FPaused && !FBreakRequested)
        FWake.wait_for(lock, std::chrono::milliseconds(100));
}

void TTaskRun::StopAndJoin() {
    if (FWorking) StopConvert(true);
    FBreakRequested = true;
    ResumeTask();
    std::thread worker, terminator;
    {
        std::lock_guard lock(FLock);
        worker = std::move(FWorker);
        terminator = std::move(FTerminateThread);
    }
    JoinUnlessSelf(worker);
    JoinUnlessSelf(terminator);
}
