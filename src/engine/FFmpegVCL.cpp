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
//   4. a task's run lock (FFmpegThread.cpp): short steps only, no call out
//      of the task except its probes forgetting their inputs;
//   5. the codec lock;
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
#include <ctime>
#include <exception>
#include <map>
#include <stdexcept>

// ---- the defaults list of SetOutputFile ----

// "def_" entries (one value per name) and pending entries (name=value lines
// of ExtOptions kept for the streams that "newaudio", "newvideo" and
// "newsubtitle" add).
class TDefaultsList {
public:
    void SetDefault(const std::string& name, const std::string& value) {
        if (!value.empty() && Defaults.find(name) == Defaults.end()) Defaults[name] = value;
    }
    std::string Default(const std::string& name) const {
        const auto it = Defaults.find(name);
        return it == Defaults.end() ? std::string() : it->second;
    }
    void AddPending(const std::string& name, const std::string& value) {
        Pending.emplace_back(name, value);
    }
    // The first pending value of `name` (removed), else the default.
    std::string TakePending(const std::string& name) {
        for (auto it = Pending.begin(); it != Pending.end(); ++it) {
            if (it->first == name) {
                const std::string value = it->second;
                Pending.erase(it);
                return value;
            }
        }
        return Default(name);
    }

private:
    std::map<std::string, std::string> Defaults; // keyed without the "def_" prefix
    std::vector<std::pair<std::string, std::string>> Pending;
};

namespace {

bool IsStreamDefaultName(const std::string& name) {
    for (const char* n : {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vf"})
        if (name == n) return true;
    return false;
}

std::string FloatText(float value) {
    return FormatText("%g", static_cast<double>(value));
}

// How many converter event handlers the calling thread is inside of.
thread_local int HandlerDepth = 0;

struct THandlerScope {
    THandlerScope() { ++HandlerDepth; }
    ~THandlerScope() { --HandlerDepth; }
    THandlerScope(const THandlerScope&) = delete;
    THandlerScope& operator=(const THandlerScope&) = delete;
};

} // namespace

int64_t TimestampToUnixSeconds(double timestamp) {
    return RoundHalfEvenInt((timestamp - 25569.0 - LocalTimeZoneOffset()) * 86400.0);
}

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
    task.ParseOptionList(RecordOptions(options->ExtOptions, options->ExtOptionPairs), true);
    if (!options->ForceFormat.empty()) task.ParseOption("f", options->ForceFormat);
    if (options->StartTime != AV_NOPTS_VALUE) task.SetStartTime(options->StartTime);
    if (options->ProgramID >= 0) task.ParseOption("programid", std::to_string(options->ProgramID));
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
        TDefaultsList defaults;
        ApplyOutputOptions(task, Options, defaults);
        if (Options.CustomHook)
            task.OnHookCallback = [this](TCustomFFmpeg* e, Bitmap24* b, bool& stop, bool& update,
                                         int64_t pts, int frame) {
                DoCustomHook(e, b, stop, update, pts, frame);
            };
        if (task.OpenOutputFile(openName, Options.Join) < 0) {
            task.OnHookCallback = hookBefore;
            return Fail(task.ErrorText());
        }
        ApplyNewStreamLines(task, RecordOptions(Options.ExtOptions, Options.ExtOptionPairs),
                            defaults);
        return true;
    } catch (...) {
        task.DropOutputFiles(filesBefore);
        task.OnHookCallback = hookBefore;
        throw;
    }
}

void TCustomFFmpegVCL::ApplyOutputOptions(TFFmpeg& task, const TOutputOptions& o,
                                          TDefaultsList& defaults) {
    defaults.SetDefault("acodec", o.AudioCodec);
    defaults.SetDefault("vcodec", o.VideoCodec);
    defaults.SetDefault("scodec", o.SubtitleCodec);
    defaults.SetDefault("apre", o.AudioPreset);
    defaults.SetDefault("vpre", o.VideoPreset);
    defaults.SetDefault("spre", o.SubtitlePreset);
    defaults.SetDefault("s", o.FrameSize);
    defaults.SetDefault("vf", o.VideoFilters);
    const auto given = RecordOptions(o.ExtOptions, o.ExtOptionPairs);
    for (auto [name, value] : given) {
        if (name == "vfilters") name = "vf";
        if (!IsStreamDefaultName(name) || value.empty()) continue;
        defaults.SetDefault(name, value);
        defaults.AddPending(name, value);
    }
    if (o.TargetType >= 1 && o.TargetType <= 3) {
        static const char* const types[] = {"vcd", "svcd", "dvd"};
        const char* norm = o.TargetNorm == 1 ? "pal" : (o.TargetNorm == 2 ? "ntsc" : "auto");
        task.SetTarget(types[o.TargetType - 1], norm, o.FallbackNorm == 1 ? "pal" : "ntsc");
    }
    for (const char* codec : {"acodec", "vcodec", "scodec"})
        if (!defaults.Default(codec).empty()) task.ParseOption(codec, defaults.Default(codec));
    for (const char* preset : {"apre", "vpre", "spre"})
        task.LoadPreset(preset, defaults.Default(preset));
    task.ParseOptionList(given, false);
    ApplyOutputRecord(task, o);
    if (!defaults.Default("s").empty()) task.ParseOption("s", defaults.Default("s"));
    if (!defaults.Default("vf").empty()) task.ParseOption("vf", defaults.Default("vf"));
}

// The record fields in table order; codecs, presets, frame size and filters
// went through the defaults list.
void TCustomFFmpegVCL::ApplyOutputRecord(TFFmpeg& task, const TOutputOptions& o) {
    auto text = [&task](const char* name, const std::string& value) {
        if (!value.empty()) task.ParseOption(name, value);
    };
    auto number = [&task](const char* name, int64_t value) {
        if (value > 0) task.SetNumberOption(name, value);
    };
    auto positive = [&task](const char* name, int value) {
        if (value > 0) task.ParseOption(name, std::to_string(value));
    };
    text("f", o.ForceFormat);
    number("packetsize", o.PacketSize);
    number("muxrate", o.MuxRate);
    if (o.MuxDelay > 0) task.ParseOption("muxdelay", FloatText(o.MuxDelay));
    if (o.MuxPreload > 0) task.ParseOption("muxpreload", FloatText(o.MuxPreload));
    if (o.DisableAudio) task.ParseOption("an", "1");
    if (o.AudioVolume >= 0) task.ParseOption("vol", std::to_string(o.AudioVolume));
    positive("ac", o.AudioChannels);
    positive("ar", o.AudioSampleRate);
    number("ab", o.AudioBitrate);
    number("abt", o.AudioBitrateTolerance);
    task.ParseOption("alang", o.AudioLanguage);
    task.ParseOption("async", std::to_string(o.AudioSyncMethod));
    text("atag", o.AudioTag);
    if (o.DisableVideo) task.ParseOption("vn", "1");
    text("r", o.FrameRate);
    text("aspect", o.FrameAspectRatio);
    positive("croptop", o.CropTop);
    positive("cropbottom", o.CropBottom);
    positive("cropleft", o.CropLeft);
    positive("cropright", o.CropRight);
    number("g", o.GopSize);
    number("vb", o.VideoBitrate);
    number("maxrate", o.MaxRate);
    number("minrate", o.MinRate);
    number("bt", o.VideoBitrateTolerance);
    number("bufsize", o.BufSize);
    task.ParseOption("vsync", std::to_string(o.VideoSyncMethod));
    text("vtag", o.VideoTag);
    task.ParseOption("vlang", o.VideoLanguage);
    if (o.DisableSubtitle) task.ParseOption("sn", "1");
    task.ParseOption("slang", o.SubtitleLanguage);
    task.ParseOption("isync", o.InputSync ? "1" : "0");
    if (o.CopyTimestamps) task.ParseOption("copyts", "1");
    if (o.StartTime != AV_NOPTS_VALUE) task.SetStartTime(o.StartTime);
    if (o.RecordingTime != AV_NOPTS_VALUE) task.SetRecordingTime(o.RecordingTime);
    if (o.Timestamp >= 0)
        task.SetRecordingTimestamp(o.Timestamp == 0 ? static_cast<int64_t>(std::time(nullptr))
                                                    : TimestampToUnixSeconds(o.Timestamp));
    if (o.Year > 0) task.ParseOption("metadata", "year=" + std::to_string(o.Year));
    if (o.Track > 0) task.ParseOption("metadata", "track=" + std::to_string(o.Track));
    const std::pair<const char*, const std::string*> tags[] = {
        {"title", &o.Title},     {"author", &o.Author}, {"copyright", &o.Copyright},
        {"comment", &o.Comment}, {"album", &o.Album},   {"genre", &o.Genre}};
    for (const auto& [key, value] : tags)
        if (!value->empty()) task.ParseOption("metadata", std::string(key) + "=" + *value);
}

void TCustomFFmpegVCL::ApplyNewStreamLines(TFFmpeg& task, const TOptionPairs& given,
                                           TDefaultsList& defaults) {
    for (const auto& [name, value] : given) {
        std::vector<const char*> pending;
        if (name == "newaudio")
            pending = {"acodec", "apre"};
        else if (name == "newvideo")
            pending = {"vcodec", "vpre", "s", "vf"};
        else if (name == "newsubtitle")
            pending = {"scodec", "spre"};
        else
            continue;
        for (const char* option : pending) // a stream without its own size keeps the last one
            if (const std::string given = defaults.TakePending(option); !given.empty())
                task.ParseOption(option, given);
        task.ParseOption(name, value);
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
    FTasks.ForEach([](TFFmpeg& task) { task.ReleaseInputs(); });
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
    if (FBatchEndPending.exchange(false)) RaiseTerminate(TTerminateInfo{-1, true, false, ""});
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
    // A worker made while the batch is paused stays held: Resume lets it go.
    // The flag is read after the worker exists, and Resume clears it before
    // it resumes the tasks, so one of the two always lets the worker run.
    if (task->StartConvert(FThreaded, FThreadPriority) && !FBatchPaused) task->ResumeTask();
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
            info.Finished = engine->Finished();
            info.ExceptionRaised = engine->ErrorRaised();
            info.ExceptionMsg = engine->ErrorMessage();
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
                    RaiseTerminate(TTerminateInfo{-1, true, false, ""});
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
    FTasks.ForEach([](TFFmpeg& task) { task.PauseTask(); });
}

void TCustomFFmpegVCL::Resume() {
    FBatchPaused = false;
    FTasks.ForEach([](TFFmpeg& task) { task.ResumeTask(); });
}

// No lock is taken here: a handler that stops the batch may hold the
// terminate lock already. The stopping flag keeps every further task from
// starting; the tasks that did not start end on their own threads.
void TCustomFFmpegVCL::Stop(bool WaitForStop) {
    if (!FWorking) return;
    FStopping = true;
    const bool wait = WaitForStop && HandlerDepth == 0;
    FTasks.ForEach([wait](TFFmpeg& task) { task.BreakTask(wait); });
}
