// The run state of one task: its worker thread, pause at safe points, stop
// with or without waiting, and the one termination report per task. The
// task owns one and tells it what to do at each step through TTaskRunSteps;
// the run knows nothing else of the task.
#pragma once

#include "engine/FFmpegRecords.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// What a run does with its task. Set once, before the first start; every
// step is called on the thread that runs or ends the task.
struct TTaskRunSteps {
    // The task's probes forget its inputs (called once, under the run lock).
    std::function<void()> ReleaseInputs;
    std::function<bool()> HasInputs;
    std::function<bool()> HasOutputs;
    // The conversion itself; raises its failure.
    std::function<void()> Convert;
    // Closes the conversion's codecs; raises a failure.
    std::function<void()> CloseCodecs;
    // Closes the outputs, each put in place when `keep`; the first failure's
    // text, empty when all went well.
    std::function<std::string(bool keep)> CloseOutputs;
    // Frees what the task opened (files, contexts, hooks); may raise.
    std::function<void()> CloseAndReset;
    // The task's termination event.
    std::function<void()> Terminate;
};

// The parts of the run state a conversion writes while it runs.
struct TRunShare {
    const std::atomic<bool>& BreakRequested;
    std::atomic<bool>& Finished;
    std::mutex& Lock;        // guards the two fields below
    std::string& EndedEarly; // Lock
    int& ReachedPercent;     // Lock
    // The conversion runs on the run's worker, not on the starting thread.
    const bool& Threaded;
};

// Threads: any thread may start, pause, resume and stop a task (the caller's
// thread, or in a batch the worker of the task that ended before). The
// conversion runs on the run's worker (or in the starting thread when not
// threaded); a task that never ran ends on a terminate thread of its own.
// The flags are atomic. FLock guards the claim, both thread handles, the
// done flags, the error text, the early-end note and the writes of the
// paused flag; it is only held for short steps and never while a step other
// than ReleaseInputs runs. Whoever claims the task (a start or a stop before
// the start) first releases its inputs, so the probes stay with the
// claiming thread.
class TTaskRun {
public:
    explicit TTaskRun(TTaskRunSteps steps);
    ~TTaskRun(); // stops and joins
    TTaskRun(const TTaskRun&) = delete;
    TTaskRun& operator=(const TTaskRun&) = delete;

    // Starts the conversion. Threaded: creates the worker paused and returns
    // true; ResumeTask lets it run. Not threaded: converts now and returns
    // false. A task runs once: a second start, or a start after BreakTask,
    // returns false and does nothing.
    bool StartConvert(bool threaded, TThreadPriority priority);
    // Requests a stop; with `wait`, waits until the conversion has ended (on
    // the main thread servicing the waiting hand-overs every 20 ms). The
    // worker itself never waits for its own end: there it only requests.
    void StopConvert(bool wait);
    // Stops a running conversion, or reports the end of a task that never
    // ran. A start and a stop racing for a fresh task end it exactly once.
    void BreakTask(bool wait);
    // Releases the inputs once; the component does it on the caller's thread
    // for every task when a batch starts.
    void ReleaseInputs();
    // Pause at the next safe point (between packets, before a repeated frame).
    void PauseTask();
    void ResumeTask();
    // Waits at a pause point while paused (returns at once on a stop request).
    void WaitWhilePaused();
    // Stops a running conversion and waits for the run's threads; a thread
    // that ends itself is let run out.
    void StopAndJoin();

    bool Working() const { return FWorking; }
    bool Terminated() const { return FTerminated; }
    bool Finished() const { return FFinished; }
    bool ErrorRaised() const { return FError; }
    bool Paused() const { return FPaused; }
    bool BreakRequested() const { return FBreakRequested; }
    std::string ErrorMessage() const;
    // For a task that finished well short of its source's length: the
    // sentence that says so, and the part converted (0..100); else an
    // empty text and 100.
    std::string EndedEarly() const;
    int ReachedPercent() const;

    TRunShare ShareWithConversion();

private:
    void ConversionBody();
    void EndUnstarted();
    void Fail(const std::string& message);
    void ReportEnd();
    void MarkDone(bool& flag);
    void WaitDone(const bool& flag, bool serviceMainThread);

    const TTaskRunSteps FSteps;
    std::atomic<bool> FWorking{false};
    std::atomic<bool> FBreakRequested{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FError{false};
    std::atomic<bool> FPaused{false};         // written under FLock, read anywhere
    std::atomic<bool> FInputsReleased{false}; // ReleaseInputs has run
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::string FErrorMessage;    // FLock
    std::string FEndedEarly;      // FLock
    int FReachedPercent = 100;    // FLock
    bool FClaimed = false;        // FLock: started, or ended by BreakTask before a start
    bool FConvertDone = true;     // FLock: the worker body is not running
    bool FTerminateDone = true;   // FLock: no terminate thread runs
    bool FThreaded = false;       // FLock, set before the conversion starts
    std::thread FWorker;          // FLock
    std::thread FTerminateThread; // FLock
};
