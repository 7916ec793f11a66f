// Running a converter batch from the tool's main thread: the console that
// shows progress and results, the library log on that console, and the run
// itself (start on worker threads, service the main thread until the
// batch-end report, Ctrl-C stopping the batch cleanly).
#pragma once

#include "core/BatchPlan.h"
#include "core/BatchRunner.h"
#include "engine/FFmpegRecords.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class TCustomFFmpegVCL;
class TFFBaseComponent;

// "frame=... fps=... q=... " (when the task writes video), then
// "size=...kB time=... bitrate=...kbits/s".
std::string ProgressText(const TProgressInfo& info);
// "finished", "stopped", or "failed: " and the error text.
std::string TerminationText(const TTerminateInfo& info);

// The standard error stream as the tool's console: a progress line is
// rewritten in place (carriage return) until another line is printed.
// Lines may come from any thread.
class TConsole {
public:
    explicit TConsole(std::FILE* out = stderr) : FOut(out) {}
    ~TConsole();
    TConsole(const TConsole&) = delete;
    TConsole& operator=(const TConsole&) = delete;

    void Progress(const std::string& text);
    void Line(const std::string& text);

private:
    std::mutex FLock;
    std::FILE* FOut;
    bool FProgressShown = false; // a progress line waits for its line end
};

// While it exists, warnings and errors of the logger go to the console,
// except those of `quiet` (components whose failures the tool prints).
class TLogToConsole {
public:
    TLogToConsole(TConsole& console, std::vector<const TFFBaseComponent*> quiet);
    ~TLogToConsole();
    TLogToConsole(const TLogToConsole&) = delete;
    TLogToConsole& operator=(const TLogToConsole&) = delete;

private:
    bool FOldTrigger;
};

// Told of every progress report and every task's end besides the console
// (the --json lines). The calls may come from any thread, one at a time for
// each kind.
class TBatchObserver {
public:
    virtual ~TBatchObserver() = default;
    virtual void Progress(const TProgressInfo& info) = 0;
    virtual void Ended(const TTerminateInfo& info) = 0;
};

// Catches the stop signals (Ctrl-C's SIGINT, SIGTERM, SIGHUP) for its
// lifetime; a command makes one before it sets anything up, and only one
// exists at a time. While the command sets up, the first signal makes the
// components give up opening and probing (a blocked open or read of the
// main thread returns), and the command then removes what it made and
// converts nothing; once converting, it stops the batch (TBatchRun::Run).
// A second signal ends the program at once.
//
// Threads: made and used on the main thread; the handler only stores
// lock-free atomics (and hands a signal that another thread took on to
// the main thread).
class TStopSignals {
public:
    TStopSignals();
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // Ends the set-up: from now on a signal stops the batch. False when a
    // signal came during the set-up (nothing is to be converted then).
    bool StartConverting();
    bool Caught() const;
    int Signal() const; // the first signal caught, 0 before one came
    // The tool's line for a set-up that a signal ended.
    std::string StoppedText() const;
    // The exit status then: 128 + the signal, as the shells report it.
    int StoppedStatus() const { return 128 + Signal(); }

private:
    struct sigaction FOld[3]{};
};

// One batch of the converter's tasks, run by the batch core's runner, on
// the tool's console. Binds the converter's events for its lifetime.
//
// Threads: the runner raises its reports on the main thread, which Run
// services until the batch-end report.
class TBatchRun {
public:
    // The tasks planned in `plan`, or, without one, tasks added to the
    // converter directly.
    TBatchRun(TCustomFFmpegVCL& converter, TConsole& console, const TStopSignals& signals,
              TBatchPlan* plan = nullptr);
    ~TBatchRun();
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    // Text put before the task's progress lines and its result line
    // ("Conversion " and TerminationText).
    void SetTaskLabel(int task, const std::string& label);
    // Set before Run; null for none.
    void SetObserver(TBatchObserver* observer) { FObserver = observer; }

    // Starts the batch, `maxConcurrent` tasks at a time on worker threads,
    // and services the main thread until the batch-end report. A stop
    // signal (TStopSignals, switched to converting by the caller) stops the
    // batch and waits for every task, so outputs are finished properly.
    // Returns each task's termination report in task order (a task that
    // never reported has Finished and ExceptionRaised false).
    std::vector<TTerminateInfo> Run(int maxConcurrent);

    // A stop signal stopped the batch.
    bool Interrupted() const { return FInterrupted; }

private:
    std::string Label(int task) const;

    TCustomFFmpegVCL& FConverter;
    TConsole& FConsole;
    const TStopSignals& FSignals;
    TBatchPlan FOwnPlan; // the plan when none is given
    TBatchRunner FRunner;
    std::map<int, std::string> FLabels;
    TBatchObserver* FObserver = nullptr; // set before the batch starts
    bool FInterrupted = false;
};

// The hook of the hidden "--invert-hook" flag: inverts every pixel (a
// measure of the frame hook path's own cost).
void InvertFrame(THookInfo* info);
