// The task engine: one conversion task with its option state, its input
// files and what it owns for the rest: the option state and everything that
// writes it is TTaskOptions (TaskOptions.h), the output files and their
// streams TOutputSetup (OutputSetup.h), the run state and the task's
// threads TTaskRun (TaskRun.h); the conversion itself is the transcoder's
// (FFmpegTranscoder.h); the input files are TInputSetup's (InputSetup.h).
// FFmpeg.cpp holds the construction, the option calls, and what the task
// hands to its run and its conversion.
#pragma once

#include "engine/FFmpegOptions.h"
#include "engine/FFmpegOutputFile.h"
#include "engine/FFmpegOutputTarget.h"
#include "engine/FFmpegRecordOptions.h"
#include "engine/FFmpegRecords.h"
#include "engine/InputSetup.h"
#include "engine/OutputSetup.h"
#include "engine/TaskFiles.h"
#include "engine/TaskOptions.h"
#include "engine/TaskRun.h"
#include "media/FFHandles.h"
#include "media/FFUtils.h"
#include "media/FrameHook.h"
#include "media/FFmpegHeaders.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TAVProbe;
class TCustomFFmpeg;
class TTranscoder;
class TPreviewer;
struct TTaskShare;

// Frees a probe (defined where the probe is complete).
struct TProbeDeleter {
    void operator()(TAVProbe* probe) const;
};
using TProbePtr = std::unique_ptr<TAVProbe, TProbeDeleter>;

// Callbacks the component connects to a task (see TCustomFFmpegVCL).
using TEnginePreviewCallback =
    std::function<void(TCustomFFmpeg* engine, Bitmap24* bitmap, int64_t pts, int frameNumber)>;
using TEngineProgressCallback = std::function<void(
    TCustomFFmpeg* engine, int fileIndex, int frameNumber, int fps, float quality, float bitRate,
    int64_t currentSize, int64_t currentDuration, int64_t totalDuration)>;
using TEngineTerminateCallback = std::function<void(TCustomFFmpeg* engine)>;
using TEngineHookCallback =
    std::function<void(TCustomFFmpeg* engine, Bitmap24* bitmap, bool& stopHook, bool& update,
                       int64_t pts, int frameNumber)>;

// The engine of one task. Everything here is used by the caller's thread
// while the task is idle; the conversion takes it over on the task's worker
// thread and the caller does not touch it meanwhile.
class TCustomFFmpeg {
public:
    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // Option state back to its reset values with fresh option contexts
    // (the contexts only when the media libraries are loaded).
    void ResetOptions();

    // Raises FFmpegException ("LibAVCodec not loaded." ...) unless the
    // converter's media libraries are loaded; then makes sure the option
    // contexts exist (a task created before the libraries were loaded has none).
    void CheckLibraries();

    // Options (acting through TTaskOptions).
    // Errors raise FFmpegException.
    // ApplyOption acts by the option table: a text value is read by the
    // rules of the option's row, a typed value (a record's) is taken as it
    // is; ParseOption applies a text.
    void ApplyOption(const std::string& name, const TOptionValue& value);
    void ParseOption(const std::string& name, const std::string& value);
    // A record's options in their order (FFmpegRecordOptions.h); an option
    // that fails leaves those before it applied.
    void ApplyRecordOptions(const TRecordOptions& options);
    void ParseOptionLines(const std::string& text, bool inputSide);
    void ParseOptionList(const TOptionPairs& options, bool inputSide);
    void LoadPreset(const std::string& kind, const std::string& value);
    void SetTarget(const std::string& type, const std::string& norm, const std::string& fallback);
    // A number handed straight to the option contexts (record fields).
    void SetNumberOption(const std::string& name, int64_t value);

    // Files. Opening fails with false (-1) and ErrorText set.
    bool OpenInputFile(const std::string& fileName);
    int OpenOutputFile(const std::string& fileName, bool join);
    // Throws FFmpegException, naming both, when `outputName` is the same file
    // as one of the inputs (device and inode, else the resolved path).
    void CheckNotAnInput(const std::string& outputName) const {
        FOutputSetup.CheckNotAnInput(outputName);
    }
    // One of the outputs is written to a temporary file that replaces
    // `file` when the task ends.
    bool ReplacesFile(const TFileIdentity& file) const { return FOutputSetup.ReplacesFile(file); }
    // Forgets the output files from slot `files` on, with their streams (an
    // output whose set-up failed half-way).
    void DropOutputFiles(int files) { FOutputSetup.DropFiles(files); }

    const std::string& ErrorText() const { return FErrorText; }
    const TOptionState& OptionState() const { return FOptions; }
    TOptionContexts& OptionContexts() { return FOptionContexts; }
    int64_t TotalDuration() const { return FTotalDuration; }
    bool Joined() const { return FOutputSetup.Joined(); }

    int InputFileCount() const { return static_cast<int>(FInputFiles.size()); }
    AVFormatContext* InputContext(int index) const;
    const TInputFileSlot& InputFile(int index) const { return FInputFiles.at(index); }
    int OutputFileCount() const { return FOutputSetup.FileCount(); }
    AVFormatContext* OutputContext(int index) const { return FOutputSetup.Context(index); }
    const std::vector<TOutputStreamSetup>& OutputStreams() const { return FOutputSetup.Streams(); }

    // ---- Running the conversion ----
    // Starting, pausing, stopping and the end report are the run's
    // (TaskRun.h); the calls below are kept for the tests and the
    // conversion's pause points.
    TTaskRun& TaskRun() { return FRun; }
    const TTaskRun& TaskRun() const { return FRun; }
    bool StartConvert(bool threaded, TThreadPriority priority) {
        return FRun.StartConvert(threaded, priority);
    }
    bool Working() const { return FRun.Working(); }
    bool Terminated() const { return FRun.Terminated(); }
    bool Paused() const { return FRun.Paused(); }
    bool BreakRequested() const { return FRun.BreakRequested(); }
    void WaitWhilePaused() { FRun.WaitWhilePaused(); }

    // Task-wide settings and callbacks set by the component.
    int PreviewFlags() const { return FPreviewFlags; }
    // Takes the process-wide preview-flag lock; clearing bit 0 closes the
    // engine's preview window.
    void SetPreviewFlags(int flags);
    void SetVerbose(int verbose) { FOptions.Verbose = verbose; }
    int64_t ProgressInterval = 500000; // microseconds
    // Each output stream's encoder on a thread of its own (see
    // TFFmpegVCL::StagedEncoding); set before the task starts.
    bool StagedEncoding = true;
    TEnginePreviewCallback OnPreview;
    TEngineProgressCallback OnProgressCallback;
    TEngineTerminateCallback OnTerminateCallback;
    TEngineHookCallback OnHookCallback;

    // Index in the component's list, for log prefixes (set by the component).
    int TaskIndex = -1;
    // Options that no context knows fail ("Unrecognized option 'x'."), and
    // so do values a context refuses; otherwise both are passed over.
    // Set by the component before the first option is parsed.
    bool StrictOptions = false;
    // Output files must not exist when they are opened (another program
    // may have taken the name since it was chosen); set by the component.
    bool NewOutputsOnly = false;

protected:
    // The inputs go to the conversion (the task's probes forget them); run
    // once, by the thread that claims the task, before it is converted or
    // ended.
    virtual void InputsClosing() {}

    // Adds one frame-hook module to the task's list; false when it cannot
    // be loaded or configured (the reason is in the library log).
    virtual bool AddHookModule(const THookModuleWords& words);

private:
    // What the option handlers reach of the task (the files, the hooks).
    TOptionLinks OptionLinks();
    // What the input set-up reaches of the task.
    TInputSetupLinks InputLinks();
    // What the run does with the task at each step.
    TTaskRunSteps RunSteps();

    // The conversion (on the thread that runs the task).
    void RunConversion();
    // The parts of the task its conversion may read and write (TaskShare.h).
    TTaskShare ShareWithConversion();
    void CloseAndReset();

    // Threads: everything below is the caller's while the task is idle, and
    // the conversion's (on the thread that runs the task) while it runs;
    // the preview flags are atomic, the previewer belongs to the
    // process-wide preview-flag lock, and the run state says its own.
    //
    // The option state with everything that writes it; the set-up steps
    // and the conversion read and write the state and contexts through
    // the two references.
    TTaskOptions FTaskOptions{StrictOptions, OptionLinks()};
    TOptionState& FOptions = FTaskOptions.State();
    TOptionContexts& FOptionContexts = FTaskOptions.Contexts();
    std::string FErrorText;
    int64_t FTotalDuration = -1;
    std::atomic<int> FPreviewFlags{0};
    std::unique_ptr<TPreviewer> FPreviewer; // preview-flag lock
    // Frame-hook modules ("vhook"): filled while options are parsed, run and
    // released by the thread that runs the task.
    TFrameHookList FFrameHooks;
    TInputSetup FInputSetup{InputLinks()};
    std::vector<TInputFileSlot>& FInputFiles = FInputSetup.Files();
    TOutputSetup FOutputSetup{
        {FTaskOptions, FInputFiles, FErrorText, FTotalDuration, StrictOptions, NewOutputsOnly}};
    std::unique_ptr<TTranscoder> FTranscoder; // the conversion in progress
    // Last, so that its threads are joined before anything they use goes.
    TTaskRun FRun{RunSteps()};
};

// A task of the converter component: the engine plus one probe per input.
class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg();
    ~TFFmpeg() override;

    // The probe of input slot `index` (0..19), created on first use;
    // nullptr for another index.
    TAVProbe* Probe(int index);

protected:
    void InputsClosing() override;

private:
    std::array<TProbePtr, MAX_FILES> FProbes;
};
