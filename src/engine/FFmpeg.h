// The task engine: one conversion task with its option state, its input and
// output files and the streams prepared for them. The option state and
// everything that writes it is TTaskOptions (TaskOptions.h); the task's
// option calls hand over to it. The unit is split by concern:
// FFmpegSetup.cpp (construction, the option calls, checks, codecs),
// FFmpegInputSetup.cpp and FFmpegOutputSetup.cpp (opening inputs
// and outputs), FFmpegStreamSetup.cpp (creating output streams) and
// FFmpegThread.cpp (the worker thread); the conversion itself is the
// transcoder's (FFmpegTranscoder.h).
#pragma once

#include "engine/FFmpegOptions.h"
#include "engine/FFmpegOutputFile.h"
#include "engine/FFmpegOutputTarget.h"
#include "engine/FFmpegRecordOptions.h"
#include "engine/FFmpegRecords.h"
#include "engine/TaskOptions.h"
#include "media/FFHandles.h"
#include "media/FFUtils.h"
#include "media/FrameHook.h"
#include "media/FFmpegHeaders.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

// One opened input file.
struct TInputFileSlot {
    ff::InputContextPtr Context;
    int64_t TsOffset = 0;                      // microseconds
    std::array<double, MAX_STREAMS> TsScale{}; // 0 = no scaling
    std::vector<const AVCodec*> Decoders;      // one per stream, chosen by name or none
    bool Sought = false;    // opened at a start time: what decodes before it is not converted
    int64_t SoughtTime = 0; // that start time, microseconds of the file left out
};

// One stream created on an output file, with what it needs for encoding.
struct TOutputStreamSetup {
    int FileIndex = 0;
    AVStream* Stream = nullptr; // owned by the output's format context
    int MediaType = -1;         // AVMEDIA_TYPE_*
    bool StreamCopy = false;
    const AVCodec* Encoder = nullptr; // chosen by name, guessed, or none (copy)
    bool EncoderByName = false;
    ff::CodecContextPtr EncoderContext; // prepared, not opened
    TPrivateOptions PrivateOptions;     // encoder-private options for avcodec_open2
    std::vector<TBitstreamFilterEntry> BitstreamFilters;
    int SourceStream = -1; // stream of the first input it is made from, -1: the default choice
    // Made by copy_all_streams: the whole file is copied, so a preview
    // (which needs decoded pictures) simply shows nothing for it.
    bool WholeFileCopy = false;
};

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

    // Options (FFmpegSetup.cpp, acting through TTaskOptions).
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

    // Files (FFmpegSetup.cpp, FFmpegInputSetup.cpp, FFmpegOutputSetup.cpp,
    // FFmpegStreamSetup.cpp).
    bool FindCodec(const std::string& name, int mediaType, bool encoder, int strictness,
                   const AVCodec** codec);
    bool OpenInputFile(const std::string& fileName);
    int OpenOutputFile(const std::string& fileName, bool join);
    // Throws FFmpegException, naming both, when `outputName` is the same file
    // as one of the inputs (device and inode, else the resolved path).
    void CheckNotAnInput(const std::string& outputName) const;
    // One of the outputs is written to a temporary file that replaces
    // `file` when the task ends.
    bool ReplacesFile(const TFileIdentity& file) const;
    void NewVideoStream(int outputFile);
    void NewAudioStream(int outputFile);
    void NewSubtitleStream(int outputFile);
    // Forgets the output files from slot `files` on, with their streams (an
    // output whose set-up failed half-way).
    void DropOutputFiles(int files);

    const std::string& ErrorText() const { return FErrorText; }
    const TOptionState& OptionState() const { return FOptions; }
    TOptionContexts& OptionContexts() { return FOptionContexts; }
    int64_t TotalDuration() const { return FTotalDuration; }
    bool Joined() const { return FJoined; }

    int InputFileCount() const { return static_cast<int>(FInputFiles.size()); }
    AVFormatContext* InputContext(int index) const;
    const TInputFileSlot& InputFile(int index) const { return FInputFiles.at(index); }
    int OutputFileCount() const { return static_cast<int>(FOutputFiles.size()); }
    AVFormatContext* OutputContext(int index) const;
    const std::vector<TOutputStreamSetup>& OutputStreams() const { return FOutputStreams; }

    // ---- Running the conversion (FFmpegThread.cpp) ----
    //
    // Threads: any thread may start, pause, resume and stop a task (the
    // caller's thread, or in a batch the worker of the task that ended
    // before). The conversion runs on the task's worker (or in the starting
    // thread when not threaded); a task that never ran ends on a terminate
    // thread of its own. The run-state flags are atomic. FRunLock guards the
    // claim, both thread handles, the done flags, the error text and the
    // writes of the paused flag; it is only held for short steps and never
    // while anything outside the task is called. Whoever claims the task
    // (a start or a stop before the start) first makes the task's probes
    // forget its inputs, so the probes stay with the claiming thread.

    // Starts the conversion. Threaded: creates the worker paused and returns
    // true; ResumeTask lets it run. Not threaded: converts now and returns
    // false. A task runs once: a second start, or a start after BreakTask,
    // returns false and does nothing.
    bool StartConvert(bool threaded, TThreadPriority priority);
    // Requests a stop; with `wait`, waits until the conversion has ended (on
    // the main thread servicing the waiting hand-overs every 20 ms). The
    // worker itself never waits for its own end: there it only requests.
    void StopConvert(bool wait);
    // The component's stop for one task: stops a running conversion, or
    // reports the end of a task that never ran. A start and a stop racing
    // for a fresh task end it exactly once.
    void BreakTask(bool wait);
    // Makes the task's probes forget its inputs (once); the component does
    // it on the caller's thread for every task when a batch starts.
    void ReleaseInputs();
    // Pause at the next safe point (between packets, before a repeated frame).
    void PauseTask();
    void ResumeTask();

    bool Working() const { return FWorking; }
    bool Terminated() const { return FTerminated; }
    bool Finished() const { return FFinished; }
    bool ErrorRaised() const { return FError; }
    std::string ErrorMessage() const;
    // For a task that finished well short of its source's length (the
    // source was cut, or is shorter than its header says): the sentence that
    // says so, and the part of the length converted (0..100); else an empty
    // text and 100.
    std::string EndedEarly() const;
    int ReachedPercent() const;
    bool Paused() const { return FPaused; }
    bool BreakRequested() const { return FBreakRequested; }

    // Waits at a pause point while paused (returns at once on a stop request).
    void WaitWhilePaused();

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
    // Stops a running conversion and waits for the task's threads (called
    // first by the destructors).
    void StopAndJoin();
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
    int CodecStrictness(int mediaType) const;
    void Log(int level, const std::string& text) const;

    // Setup steps (FFmpegInputSetup.cpp, FFmpegOutputSetup.cpp,
    // FFmpegStreamSetup.cpp).
    void ClearCodecNames();
    bool OpenInputSteps(const std::string& fileName, ff::InputContextPtr& context,
                        std::vector<const AVCodec*>& decoders, int64_t& timestamp);
    const AVOutputFormat* GuessOutputFormat(const std::string& fileName);
    bool OpenOutputSteps(const std::string& fileName, bool join);
    void DropOutputsFrom(std::size_t files, std::size_t streams);
    void AddDefaultStreams(AVFormatContext* context, int outputFile, bool join);
    bool CanEncodeSubtitles(const AVFormatContext* input, int codecId) const;
    void AddCoverStream(int outputFile);
    void AddCopiedStreams(int outputFile);
    void MoveMetadata(AVFormatContext* context);
    void OpenOutputIo(TOutputFile& file, const std::string& fileName);
    void CheckNotAnOutput(const std::string& inputName) const;
    // Closes the outputs; with `keep`, each puts its result in place. A file
    // that cannot be finished fails the task.
    void CloseOutputFiles(bool keep);
    void ApplyMuxerSettings(AVFormatContext* context);
    void RunJoin();
    TOutputStreamSetup& NewStream(int outputFile, int mediaType);
    void ChooseEncoder(TOutputStreamSetup& setup, AVFormatContext* context, bool hasName,
                       const std::string& name);

    // Run steps (FFmpegThread.cpp).
    void ConversionBody();
    void RunConversion();
    // The parts of the task its conversion may read and write (TaskShare.h).
    TTaskShare ShareWithConversion();
    void CloseAndReset();
    void Fail(const std::string& message);
    void DoTerminate();
    void ReportEnd();
    void MarkDone(bool& flag);
    void WaitDone(const bool& flag, bool serviceMainThread);

    // The option state with everything that writes it; the set-up steps
    // and the conversion read and write the state and contexts through
    // the two references.
    TTaskOptions FTaskOptions{StrictOptions, OptionLinks()};
    TOptionState& FOptions = FTaskOptions.State();
    TOptionContexts& FOptionContexts = FTaskOptions.Contexts();
    std::string FErrorText;
    int64_t FTotalDuration = -1;
    bool FJoined = false;
    std::atomic<int> FPreviewFlags{0};
    std::unique_ptr<TPreviewer> FPreviewer; // preview-flag lock
    // Frame-hook modules ("vhook"): filled while options are parsed, run and
    // released by the thread that runs the task.
    TFrameHookList FFrameHooks;
    std::vector<TInputFileSlot> FInputFiles;
    std::vector<std::shared_ptr<TOutputFile>> FOutputFiles; // joined slots share one file
    std::vector<TOutputStreamSetup> FOutputStreams;

    // Run state (see "Running the conversion").
    std::atomic<bool> FWorking{false};
    std::atomic<bool> FBreakRequested{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FError{false};
    std::atomic<bool> FPaused{false};         // written under FRunLock, read anywhere
    std::atomic<bool> FInputsReleased{false}; // InputsClosing has run
    std::string FErrorMessage;                // FRunLock
    std::string FEndedEarly;                  // FRunLock
    int FReachedPercent = 100;                // FRunLock
    mutable std::mutex FRunLock;
    std::condition_variable FRunWake;
    bool FClaimed = false;        // FRunLock: started, or ended by BreakTask before a start
    bool FConvertDone = true;     // FRunLock: the worker body is not running
    bool FTerminateDone = true;   // FRunLock: no engine-side terminate thread runs
    std::thread FWorker;          // FRunLock; joined when the task is destroyed
    bool FThreaded = false;       // FRunLock, set before the conversion starts: it runs on FWorker
    std::thread FTerminateThread; // FRunLock
    std::unique_ptr<TTranscoder> FTranscoder; // the conversion in progress (worker)
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
