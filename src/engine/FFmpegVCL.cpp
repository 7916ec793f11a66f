// The converter component: tasks, their options and files, event dispatch.
//
// Lock order. A thread holding one of these locks takes only locks further
// down the list, never one above it:
//   1. the process-wide preview-flag lock: a worker holds it for a whole
//      preview (the picture and its hand-over to the main thread), so the
//      main thread changes the preview flags only while no batch runs;
//   2. a component's hook, preview and progress locks: each held while its
//      record is filled and its handler runs (a handler marshalled to the
//      main thread runs there while the worker waits with the lock held);
//      never two of them at once; the handler may stop, pause and resume;
//   3. a component's terminate lock: held while a termination is counted and
//      its OnTerminate raised; never while a task is started or waited for;
//   4. a task's run lock (TaskRun.cpp): short steps only, no call out
//      of the task except its probes forgetting their inputs;
//   5. the codec lock, and a conversion's write lock (PacketWriter.h),
//      which a task's thread and its encoders' threads take around writing
//      to the outputs; never both;
//   6. the logger's locks and the main-thread hand-over lock: innermost,
//      held for no call out.
// Nothing waits for another thread while holding a lock of 3 to 6; the
// waits under a lock of 1 or 2 are the hand-overs to the main thread, which
// the main thread keeps running while it waits itself. Stop called from
// inside a handler does not wait at all (see Stop).
#include "engine/FFmpegVCL.h"

#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MainThread.h"
#include "media/UnicodeProtocol.h"
#include "probe/AVProbe.h"
#include "media/MyUtils.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <stdexcept>

namespace {

// How many converter event handlers the calling thread is inside of.
thread_local int HandlerDepth = 0;

struct THandlerScope {
    THandlerScope() { ++HandlerDepth; }
    ~THandlerScope() { --HandlerDepth; }
    THandlerScope(const THandlerScope&) = delete;
    THandlerScope& operator=(const THandlerScope&) = delete;
};

} // namespace

// ---- TFFmpegList ----

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
    FItems.push_back(std::move(task));
    return Count() - 1;
}

void TFFmpegList::Delete(int index) {
    if (index >= 0 && index < Count()) FItems.erase(FItems.begin() + index);
}

void TFFmpegList::Clear() {
    FItems.clear();
}

TFFmpeg* TFFmpegList::Items(int index) const {
    return index >= 0 && index < Count() ? FItems[index].get() : nullptr;
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* task) const {
    for (int i = 0; i < Count(); ++i)
        if (FItems[i].get() == task) return i;
    return -1;
}

void TFFmpegList::SetPreviewFlags(int flags) {
    for (auto& task : FItems)
        task->SetPreviewFlags(flags);
}

void TFFmpegList::ForEach(const std::function<void(TFFmpeg&)>& action) {
    for (auto& task : FItems)
        action(*task);
}

// ---- construction ----

TCustomFFmpegVCL::TCustomFFmpegVCL(TFFBaseComponent* owner) : TFFBaseComponent(owner) {
    FAVProbe.reset(new TAVProbe(this));
    // For measuring the encoders' threads against one thread (bench/run.py).
    const char* serial = std::getenv("VANTREL_SERIAL_ENCODING");
    if (serial && std::string(serial) == "1") StagedEncoding = false;
}

TCustomFFmpegVCL::~TCustomFFmpegVCL() {
    // Running tasks are stopped; no queued report reaches a handler later.
    FAlive.reset();
    Stop(true);
    // Enter and leave every lock once, so that no event is half-way.
    { std::lock_guard<std::mutex> lock(FHookLock); }
    { std::lock_guard<std::mutex> lock(FPreviewLock); }
    { std::lock_guard<std::mutex> lock(FProgressLock); }
    { std::lock_guard<std::mutex> lock(FTerminateLock); }
    FTasks.Clear();
    FAVProbe.reset();
}

bool TCustomFFmpegVCL::LoadAVLib(const std::string& folder) {
    TFFmpegLoader& loader = FFmpegLoader();
    if (loader.AreLoaded(ConverterLibraries)) return true;
    loader.SetLibraryFolder(folder);
    if (loader.LoadLibraries(ConverterLibraries)) return true;
    LastErrMsg = loader.GetLastError();
    return false;
}

void TCustomFFmpegVCL::CheckWorking(const char* operation) const {
    if (FWorking) throw std::runtime_error(FormatText("Cannot %s while working.", operation));
}

bool TCustomFFmpegVCL::Fail(const std::string& message) {
    LastErrMsg = message;
    GetLogger().Log(this, llError, message);
    return false;
}

void TCustomFFmpegVCL::SetPreview(bool value) {
    FPreview = value;
    FTasks.SetPreviewFlags(PreviewFlags());
}

void TCustomFFmpegVCL::SetPreviewBitmap(bool value) {
    FPreviewBitmap = value;
    FTasks.SetPreviewFlags(PreviewFlags());
}

// ---- tasks ----

void TCustomFFmpegVCL::ClearTasks() {
    if (FWorking && !FAllTerminated) throw std::runtime_error("Cannot ClearTasks while working.");
    FTasks.Clear();
    LastErrMsg.clear();
    FFinishedCount = 0;
    FNextTaskIndex = -1;
    FRemainingCount = 0;
    FAllTerminated = false;
    FThreaded = false;
    FWorking = false;
}

void TCustomFFmpegVCL::ApplyInputOptions(TFFmpeg& task, const std::string& fileName,
                                         const TInputOptions* options, std::string& openName) {
    openName = fileName;
    if (!options) return;
    openName = options->FileName.empty() ? fileName : options->FileName;
    task.ApplyRecordOptions(InputRecordOptions(*options));
}

// Opens the next input of `task` and hands it to the task's probe of that slot.
bool TCustomFFmpegVCL::OpenTaskInput(TFFmpeg& task, const std::string& fileName) {
    if (!task.OpenInputFile(fileName)) return Fail(task.ErrorText());
    const int slot = task.InputFileCount() - 1;
    if (TAVProbe* probe = task.Probe(slot)) probe->AttachContext(task.InputContext(slot));
    return true;
}

int TCustomFFmpegVCL::AddTask(const std::string& FileName, const TInputOptions* Options) {
    CheckWorking("AddTask");
    try {
        auto task = std::make_unique<TFFmpeg>();
        task->StrictOptions = StrictOptions;
        task->NewOutputsOnly = NewOutputsOnly;
        task->SetVerbose(FVerbose);
        task->SetPreviewFlags(PreviewFlags());
        task->OnPreview = [this](TCustomFFmpeg* e, Bitmap24* b, int64_t pts, int frame) {
            DoPreviewBitmap(e, b, pts, frame);
        };
        std::string openName;
        ApplyInputOptions(*task, FileName, Options, openName);
        if (!OpenTaskInput(*task, openName)) return -1;
        task->OnProgressCallback = [this](TCustomFFmpeg* e, int fileIndex, int frame, int fps,
                                          float q, float rate, int64_t size, int64_t duration,
                                          int64_t total) {
            DoProgress(e, fileIndex, frame, fps, q, rate, size, duration, total);
        };
        task->OnTerminateCallback = [this](TCustomFFmpeg* e) { DoTerminate(e); };
        return FTasks.Add(std::move(task));
    } catch (const std::exception& e) {
        Fail(e.what());
        return -1;
    }
}

bool TCustomFFmpegVCL::AddInput(int TaskIndex, const std::string& FileName,
                                const TInputOptions* Options) {
    CheckWorking("AddInput");
    TFFmpeg* task = FTasks.Items(TaskIndex);
    if (!task) return Fail(FormatText("Invalid task index %d", TaskIndex));
    if (task->InputFileCount() >= MAX_FILES)
        return Fail(FormatText("max input files %d reached", MAX_FILES));
    try {
        std::string openName;
        ApplyInputOptions(*task, FileName, Options, openName);
        return OpenTaskInput(*task, openName);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

TAVProbe* TCustomFFmpegVCL::InputProbe(int TaskIndex, int FileIndex) {
    TFFmpeg* task = FTasks.Items(TaskIndex);
    return task ? task->Probe(FileIndex) : nullptr;
}

void TCustomFFmpegVCL::RemoveTask(int TaskIndex) {
    CheckWorking("RemoveTask");
    FTasks.Delete(TaskIndex);
}

// ---- SetOutputFile ----

bool TCustomFFmpegVCL::SetOutputFile(int TaskIndex, const std::string& FileName,
                                     const TOutputOptions* Options) {
    CheckWorking("SetOutputFile");
    TFFmpeg* task = FTasks.Items(TaskIndex);
    if (!task) return Fail(FormatText("Invalid task index %d", TaskIndex));
    if (task->OutputFileCount() >= MAX_FILES)
        return Fail(FormatText("max output files %d reached", MAX_FILES));
    try {
        CheckNotABatchOutput(Options && !Options->FileName.empty() ? Options->FileName : FileName);
        if (!Options) {
            if (task->OpenOutputFile(FileName, false) < 0) return Fail(task->ErrorText());
            return true;
        }
        return SetOutputWithOptions(*task, FileName, *Options);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

// Two outputs renamed onto one file would leave only the one that ends
// last: refused before the second is opened.
void TCustomFFmpegVCL::CheckNotABatchOutput(const std::string& fileName) const {
    const TFileIdentity file = IdentifyFile(ToLibraryName(fileName));
    if (!file.Local) return;
    for (int index = 0; index < TaskCount(); ++index) {
        const TFFmpeg* task = FTasks.Items(index);
        if (!task || !task->ReplacesFile(file)) continue;
        const AVFormatContext* input = task->InputContext(0);
        throw FFmpegException(FormatText(
            "Output file '%s' is already the output file of '%s' in this batch", fileName.c_str(),
            input && input->url ? FromLibraryName(input->url).c_str() : ""));
    }
}

// A failure on the way leaves the task as it was: no output, no hook.
bool TCustomFFmpegVCL::SetOutputWithOptions(TFFmpeg& task, const std::string& FileName,
                                            const TOutputOptions& Options) {
    const std::string openName = Options.FileName.empty() ? FileName : Options.FileName;
    const int filesBefore = task.OutputFileCount();
    const TEngineHookCallback hookBefore = task.OnHookCallback;
    try {
        task.ApplyRecordOptions(OutputRecordOptions(Options, std::time(nullptr)));
        if (Options.CustomHook)
            task.OnHookCallback = [this](TCustomFFmpeg* e, Bitmap24* b, bool& stop, bool& update,
                                         int64_t pts, int frame) {
                DoCustomHook(e, b, stop, update, pts, frame);
            };
        if (task.OpenOutputFile(openName, Options.Join) < 0) {
            task.OnHookCallback = hookBefore;
            return Fail(task.ErrorText());
        }
        task.ApplyRecordOptions(NewStreamRecordOptions(Options));
        return true;
    } catch (...) {
        task.DropOutputFiles(filesBefore);
        task.OnHookCallback = hookBefore;
        throw;
    }
}

// ---- event dispatch ----

template <class Record, class Handler>
void TCustomFFmpegVCL::Dispatch(Handler& handler, Record& record) {
    auto call = [&] {
        THandlerScope scope;
        handler(this, record);
    };
    if (FTriggerEventInMainThread)
        RunInMainThread(call);
    else
        call();
}

void TCustomFFmpegVCL::DoCustomHook(TCustomFFmpeg* engine, Bitmap24* bitmap, bool& stopHook,
                                    bool& update, int64_t pts, int frameNumber) {
    if (!OnCustomHook) return;
    std::lock_guard<std::mutex> lock(FHookLock);
    FHookInfo.TaskIndex = FTasks.IndexOf(engine);
    FHookInfo.Bitmap = bitmap;
    FHookInfo.FrameNumber = frameNumber;
    FHookInfo.PTS = pts;
    FHookInfo.Update = update;
    FHookInfo.StopHook = stopHook;
    {
        THandlerScope scope;
        OnCustomHook(this, &FHookInfo);
    }
    update = FHookInfo.Update;
    stopHook = FHookInfo.StopHook;
}

void TCustomFFmpegVCL::DoPreviewBitmap(TCustomFFmpeg* engine, Bitmap24* bitmap, int64_t pts,
                                       int frameNumber) {
    if (!OnPreviewBitmap) return;
    std::lock_guard<std::mutex> lock(FPreviewLock);
    FPreviewInfo.TaskIndex = FTasks.IndexOf(engine);
    FPreviewInfo.Bitmap = bitmap;
    FPreviewInfo.FrameNumber = frameNumber;
    FPreviewInfo.PTS = pts;
    Dispatch(OnPreviewBitmap, FPreviewInfo);
}

void TCustomFFmpegVCL::DoProgress(TCustomFFmpeg* engine, int fileIndex, int frameNumber, int fps,
                                  float quality, float bitRate, int64_t currentSize,
                                  int64_t currentDuration, int64_t totalDuration) {
    if (!OnProgress) return;
    std::lock_guard<std::mutex> lock(FProgressLock);
    FProgressInfo.TaskIndex = FTasks.IndexOf(engine);
    FProgressInfo.FileIndex = fileIndex;
    FProgressInfo.FrameNumber = frameNumber;
    FProgressInfo.FPS = fps;
    FProgressInfo.Quality = quality;
    FProgressInfo.BitRate = bitRate;
    FProgressInfo.CurrentSize = currentSize;
    FProgressInfo.CurrentDuration = currentDuration;
    FProgressInfo.TotalDuration = totalDuration;
    TProgressInfo* info = &FProgressInfo;
    Dispatch(OnProgress, info);
}

// ---- the batch ----

void TCustomFFmpegVCL::StartTask(int MaxConcurrent) {
    CheckWorking("StartTask");
    // The inputs go to the conversions here, on the caller's thread: no
    // worker ever touches a probe the caller may be reading.
    FTasks.ForEach([](TFFmpeg& task) { task.TaskRun().ReleaseInputs(); });
    {
        std::lock_guard<std::mutex> lock(FTerminateLock);
        FFinishedCount = 0;
        FNextTaskIndex = 0;
        FRemainingCount = TaskCount();
        FAllTerminated = false;
        FThreaded = MaxConcurrent > 0;
        FWorking = true;
        FStopping = false;
        FBatchEndPending = false;
        FBatchPaused = false;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(FTerminateLock);
            if (FRemainingCount <= 0) break;
        }
        StartNextTask();
        if (FThreaded && --MaxConcurrent == 0) break;
    }
    if (FThreaded || TaskCount() == 0) return;
    // In the caller's thread the batch end is reported once every task has
    // ended (the rest of a stopped batch ends on terminate threads), so a
    // handler may clear the tasks.
    WaitForAllTerminated();
    if (FBatchEndPending.exchange(false))
        RaiseTerminate(TTerminateInfo{-1, true, false, "", "", 100});
}

void TCustomFFmpegVCL::WaitForAllTerminated() {
    const bool mainThread = IsMainThread();
    std::unique_lock<std::mutex> lock(FTerminateLock);
    while (!FAllTerminated) {
        if (FTerminateWake.wait_for(lock, std::chrono::milliseconds(20),
                                    [this] { return FAllTerminated.load(); }))
            break;
        if (!mainThread) continue;
        lock.unlock();
        RunWaitingHandOvers();
        lock.lock();
    }
}

void TCustomFFmpegVCL::StartNextTask() {
    TFFmpeg* task = nullptr;
    {
        std::lock_guard<std::mutex> lock(FTerminateLock);
        if (FStopping) FRemainingCount = 0;
        if (FRemainingCount <= 0) return;
        --FRemainingCount;
        task = FTasks.Items(FNextTaskIndex);
        ++FNextTaskIndex;
    }
    if (!task) return;
    task->ProgressInterval = static_cast<int64_t>(FProgressInterval) * 1000;
    task->StagedEncoding = StagedEncoding;
    // A worker made while the batch is paused stays held: Resume lets it go.
    // The flag is read after the worker exists, and Resume clears it before
    // it resumes the tasks, so one of the two always lets the worker run.
    if (task->TaskRun().StartConvert(FThreaded, FThreadPriority) && !FBatchPaused)
        task->TaskRun().ResumeTask();
}

// Counts the task's end before anything a handler raised goes on, so the
// batch end always comes. The next task starts after the terminate lock is
// left: its start may end it at once, which comes back here.
void TCustomFFmpegVCL::DoTerminate(TCustomFFmpeg* engine) {
    std::exception_ptr handlerError;
    bool startNext = false;
    {
        std::lock_guard<std::mutex> lock(FTerminateLock);
        if (OnTerminate) {
            TTerminateInfo info;
            info.TaskIndex = FTasks.IndexOf(engine);
            const TTaskRun& run = engine->TaskRun();
            info.Finished = run.Finished();
            info.ExceptionRaised = run.ErrorRaised();
            info.ExceptionMsg = run.ErrorMessage();
            if (info.Finished) {
                info.EndedEarly = run.EndedEarly();
                info.ReachedPercent = run.ReachedPercent();
            }
            FTerminateInfo = info;
            try {
                RaiseTerminate(info);
            } catch (...) {
                handlerError = std::current_exception();
            }
        }
        ++FFinishedCount;
        if (FStopping) FRemainingCount = 0;
        if (FRemainingCount >= 1) {
            startNext = FThreaded;
        } else if (FFinishedCount >= TaskCount()) {
            FAllTerminated = true; // before the report: its handler may clear the tasks
            if (FThreaded) {
                try {
                    RaiseTerminate(TTerminateInfo{-1, true, false, "", "", 100});
                } catch (...) {
                    if (!handlerError) handlerError = std::current_exception();
                }
            } else {
                FBatchEndPending = true;
            }
        }
    }
    FTerminateWake.notify_all();
    if (startNext) StartNextTask();
    if (handlerError) std::rethrow_exception(handlerError);
}

// Terminations of a threaded batch are queued for the main thread in order;
// in the caller's thread they run at once. A queued handler's exception is
// logged there: it must not reach the host's event loop.
void TCustomFFmpegVCL::RaiseTerminate(const TTerminateInfo& info) {
    if (!OnTerminate) return;
    if (!FThreaded) {
        THandlerScope scope;
        OnTerminate(this, info);
        return;
    }
    std::weak_ptr<int> alive = FAlive;
    QueueInMainThread([this, alive, info] {
        if (alive.expired() || !OnTerminate) return;
        THandlerScope scope;
        try {
            OnTerminate(this, info);
        } catch (const std::exception& e) {
            GetLogger().Log(this, llError, std::string("Error occurs OnTerminate: ") + e.what());
        } catch (...) {
            GetLogger().Log(this, llError, "Error occurs OnTerminate");
        }
    });
}

void TCustomFFmpegVCL::Pause() {
    if (FWorking && FThreaded) FBatchPaused = true;
    FTasks.ForEach([](TFFmpeg& task) { task.TaskRun().PauseTask(); });
}

void TCustomFFmpegVCL::Resume() {
    FBatchPaused = false;
    FTasks.ForEach([](TFFmpeg& task) { task.TaskRun().ResumeTask(); });
}

// No lock is taken here: a handler that stops the batch may hold the
// terminate lock already. The stopping flag keeps every further task from
// starting; the tasks that did not start end on their own threads.
void TCustomFFmpegVCL::Stop(bool WaitForStop) {
    if (!FWorking) return;
    FStopping = true;
    const bool wait = WaitForStop && HandlerDepth == 0;
    FTasks.ForEach([wait](TFFmpeg& task) { task.TaskRun().BreakTask(wait); });
}
