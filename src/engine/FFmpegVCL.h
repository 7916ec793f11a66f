// The converter component: an ordered list of conversion tasks, their
// options and files, and the four events that report a batch's frames,
// previews, progress and terminations to the host.
#pragma once

#include "engine/FFmpeg.h"
#include "engine/FFmpegRecordOptions.h"
#include "engine/FFmpegRecords.h"
#include "media/FFBaseComponent.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TAVProbe;
class TCustomFFmpegVCL;

using TCustomHookEvent = std::function<void(TCustomFFmpegVCL* Sender, THookInfo* AHookInfo)>;
using TPreviewBitmapEvent =
    std::function<void(TCustomFFmpegVCL* Sender, const TPreviewInfo& APreviewInfo)>;
using TProgressEvent = std::function<void(TCustomFFmpegVCL* Sender, TProgressInfo* AProgressInfo)>;
using TTerminateEvent =
    std::function<void(TCustomFFmpegVCL* Sender, const TTerminateInfo& ATerminateInfo)>;

// The task list; it owns its tasks.
class TFFmpegList {
public:
    int Add(std::unique_ptr<TFFmpeg> task); // returns the index
    void Delete(int index);
    void Clear();
    TFFmpeg* Items(int index) const;
    int IndexOf(const TCustomFFmpeg* task) const;
    int Count() const { return static_cast<int>(FItems.size()); }
    // Sets the preview flags of every task.
    void SetPreviewFlags(int flags);
    // Runs `action` on every task in list order (the batch broadcasts).
    void ForEach(const std::function<void(TFFmpeg&)>& action);

private:
    std::vector<std::unique_ptr<TFFmpeg>> FItems;
};

// Everything of the converter; TFFmpegVCL only publishes it.
//
// Threads: every operation runs on the caller's thread (normally the main
// thread). The Do* dispatchers run on a task's worker thread (DoTerminate
// also on a task's terminate thread); each fills its record and calls its
// handler under its own lock (hook, preview, progress, terminate), so
// records are never shared between two calls. The batch counters are
// changed under the terminate lock; the flags read across threads are
// atomic. The lock order is written at the top of FFmpegVCL.cpp.
class TCustomFFmpegVCL : public TFFBaseComponent {
public:
    explicit TCustomFFmpegVCL(TFFBaseComponent* owner = nullptr);
    ~TCustomFFmpegVCL() override;

    // Loads the media libraries from `folder`; true when they are loaded.
    bool LoadAVLib(const std::string& folder);
    // The component's own probe, free for the caller's use.
    TAVProbe* AVProbe() const { return FAVProbe.get(); }

    void ClearTasks();
    int AddTask(const std::string& FileName, const TInputOptions* Options = nullptr);
    // Opens one more input (up to 20) for an existing task, with the same
    // option rules as AddTask.
    bool AddInput(int TaskIndex, const std::string& FileName,
                  const TInputOptions* Options = nullptr);
    // The probe of input `FileIndex` of a task. It describes the opened
    // input until the batch starts; from StartTask on the conversion owns
    // the inputs and the probe describes nothing.
    TAVProbe* InputProbe(int TaskIndex, int FileIndex);
    bool SetOutputFile(int TaskIndex, const std::string& FileName,
                       const TOutputOptions* Options = nullptr);
    void RemoveTask(int TaskIndex);

    // Starts the batch: MaxConcurrent tasks at a time on worker threads, or
    // with 0 every task one after another in the caller's thread (returning
    // after the batch-end OnTerminate, whose exception it passes on).
    void StartTask(int MaxConcurrent = 1);
    // Pause holds every running task and every task that starts until
    // Resume (a task that ends meanwhile starts the next one held).
    void Pause();
    void Resume();
    // Stops the batch: tasks not started end at once, running ones are
    // stopped; with WaitForStop every task has ended when Stop returns.
    // Called from inside an event handler (OnCustomHook, OnPreviewBitmap,
    // OnProgress or OnTerminate, on whatever thread it runs) Stop never
    // waits, whatever WaitForStop says: the task that waits for that handler
    // could never end. The stop is then only requested; the terminations
    // and the batch end follow as usual.
    void Stop(bool WaitForStop);
    bool Working() const { return FWorking; }
    bool AllTerminated() const { return FAllTerminated; }
    int TaskCount() const { return FTasks.Count(); }
    // The task at `TaskIndex`, or nullptr.
    TFFmpeg* Task(int TaskIndex) const { return FTasks.Items(TaskIndex); }

    std::string LastErrMsg;
    // Tasks added from now on refuse options no library knows and values a
    // library refuses, instead of passing over them (a command line's rule).
    bool StrictOptions = false;
    // Tasks added from now on refuse to open an output file that exists,
    // with the system's "File exists" text: a name chosen as free may have
    // been taken since by another program writing into the same folder.
    bool NewOutputsOnly = false;
    // Tasks started from now on encode each output stream on a thread of
    // its own (the default); off, a task does all its work on its one
    // thread. The output files are the same byte for byte either way.
    std::atomic<bool> StagedEncoding{true};

    bool GetPreview() const { return FPreview; }
    void SetPreview(bool value);
    bool GetPreviewBitmap() const { return FPreviewBitmap; }
    void SetPreviewBitmap(bool value);
    int GetProgressInterval() const { return FProgressInterval; }
    void SetProgressInterval(int value) { FProgressInterval = value < 100 ? 100 : value; }
    TThreadPriority GetThreadPriority() const { return FThreadPriority; }
    void SetThreadPriority(TThreadPriority value) { FThreadPriority = value; }
    bool GetTriggerEventInMainThread() const { return FTriggerEventInMainThread; }
    void SetTriggerEventInMainThread(bool value) { FTriggerEventInMainThread = value; }
    std::string Version() const { return "3.3"; }

    TCustomHookEvent OnCustomHook;
    TPreviewBitmapEvent OnPreviewBitmap;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

protected:
    // Called by the engine on the thread that runs it.
    virtual void DoCustomHook(TCustomFFmpeg* engine, Bitmap24* bitmap, bool& stopHook, bool& update,
                              int64_t pts, int frameNumber);
    virtual void DoPreviewBitmap(TCustomFFmpeg* engine, Bitmap24* bitmap, int64_t pts,
                                 int frameNumber);
    virtual void DoProgress(TCustomFFmpeg* engine, int fileIndex, int frameNumber, int fps,
                            float quality, float bitRate, int64_t currentSize,
                            int64_t currentDuration, int64_t totalDuration);
    virtual void DoTerminate(TCustomFFmpeg* engine);

    // Raises "Cannot %s while working." while a batch is on.
    void CheckWorking(const char* operation) const;
    int PreviewFlags() const { return (FPreview ? 1 : 0) | (FPreviewBitmap ? 2 : 0); }

    bool FPreview = false;
    bool FPreviewBitmap = false;
    std::atomic<int> FProgressInterval{500};                // read by the workers
    std::atomic<TThreadPriority> FThreadPriority{tpNormal}; // read by the workers
    std::atomic<bool> FTriggerEventInMainThread{true};      // read by the workers
    int FVerbose = 1;

    THookInfo FHookInfo;           // hook lock
    TProgressInfo FProgressInfo;   // progress lock
    TTerminateInfo FTerminateInfo; // terminate lock
    TPreviewInfo FPreviewInfo;     // preview lock
    std::mutex FHookLock, FPreviewLock, FProgressLock, FTerminateLock;
    std::condition_variable FTerminateWake; // with FTerminateLock: a task has ended

    TProbePtr FAVProbe;
    TFFmpegList FTasks; // changed by the caller's thread only while idle

    // Batch state (see the class comment); FTerminateLock guards the three
    // counters.
    int FFinishedCount = 0;
    int FNextTaskIndex = -1;
    int FRemainingCount = 0;
    std::atomic<bool> FAllTerminated{false};
    std::atomic<bool> FThreaded{false};
    std::atomic<bool> FWorking{false};
    std::atomic<bool> FStopping{false};        // Stop was called: no task starts any more
    std::atomic<bool> FBatchPaused{false};     // between Pause and Resume: new tasks start held
    std::atomic<bool> FBatchEndPending{false}; // caller's-thread batch: end still to report
    std::shared_ptr<int> FAlive = std::make_shared<int>(0); // queued reports check it

private:
    void ApplyInputOptions(TFFmpeg& task, const std::string& fileName, const TInputOptions* options,
                           std::string& openName);
    bool OpenTaskInput(TFFmpeg& task, const std::string& fileName);
    void CheckNotABatchOutput(const std::string& fileName) const;
    bool SetOutputWithOptions(TFFmpeg& task, const std::string& FileName,
                              const TOutputOptions& Options);
    bool Fail(const std::string& message);
    void StartNextTask();
    void WaitForAllTerminated();
    void RaiseTerminate(const TTerminateInfo& info);
    template <class Record, class Handler> void Dispatch(Handler& handler, Record& record);
};

// The published component.
class TFFmpegVCL : public TCustomFFmpegVCL {
public:
    using TCustomFFmpegVCL::TCustomFFmpegVCL;
};
