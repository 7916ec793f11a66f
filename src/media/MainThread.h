// Hand-over of calls to the main thread.
//
// The thread that calls SetMainThread() is the main thread. Worker threads
// hand calls to it in two forms:
//   RunInMainThread(call)   posts the call and waits until it has run;
//   QueueInMainThread(call) posts the call and returns at once.
// Calls run in posting order when the main thread services them: in
// ProcessPendingMessages (which also runs the GUI's message pump hook), or in
// ServiceMainThread (a loop of a headless host). On the main thread, and
// while no main thread is set, both forms call directly. A thread the media
// libraries own (codec worker threads, SDL's audio thread) must only queue.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

using TMainThreadCall = std::function<void()>;

// Makes the calling thread the main thread.
void SetMainThread();
// Forgets the main thread: waiting hand-overs run on their own threads from
// then on, queued calls still pending are run by the next ServiceMainThread
// or dropped with the queue at exit.
void ClearMainThread();
bool IsMainThread();
bool HasMainThread();

// Posts `call` to the main thread and waits until it has run. An exception
// thrown by the call is raised again in the waiting thread.
void RunInMainThread(TMainThreadCall call);
// Like RunInMainThread, but stops waiting once `giveUp` holds (looked at
// every 20 ms): a call the main thread has not begun then never runs, one it
// has begun runs to its end without the poster. True when the call ran.
// For a poster that a main thread inside the call may want to wait for.
bool RunInMainThreadUnless(TMainThreadCall call, const std::atomic<bool>& giveUp);
// Posts `call` to the main thread and returns at once.
void QueueInMainThread(TMainThreadCall call);

// The GUI's message pump (QCoreApplication::processEvents); called by
// ProcessPendingMessages before the posted calls are run.
void SetMessagePumpHook(std::function<void()> hook);

// Main thread only: runs the message pump hook, then every posted call.
void ProcessPendingMessages();

// Main thread only: waits up to `timeout` for a posted call, then runs every
// posted call. Returns the number of calls run.
int ServiceMainThread(std::chrono::milliseconds timeout);

// Main thread only: runs the waiting hand-overs (RunInMainThread) posted so
// far and leaves the queued calls for later. Returns the number run.
int RunWaitingHandOvers();

// While one exists, queued calls stay in the queue (in order) and only
// waiting hand-overs run. A main thread that waits for a worker holds them,
// so a termination report never runs in the middle of the wait.
class TQueuedCallsHold {
public:
    TQueuedCallsHold();
    ~TQueuedCallsHold();
    TQueuedCallsHold(const TQueuedCallsHold&) = delete;
    TQueuedCallsHold& operator=(const TQueuedCallsHold&) = delete;
};
