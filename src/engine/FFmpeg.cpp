// The task: its construction and its libraries, its option calls (handed to
// the option state, TaskOptions.h), what it hands to its run (TaskRun.h) and
// its conversion (TaskShare.h), and the converter's task with its probes.
// Opening files is TInputSetup's and TOutputSetup's.
#include "engine/FFmpeg.h"

#include "engine/FFmpegPreview.h"
#include "engine/FFmpegTranscoder.h"
#include "engine/TaskShare.h"
#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "probe/AVProbe.h"

#include <algorithm>
#include <array>
#include <mutex>

// ---- construction ----

TCustomFFmpeg::TCustomFFmpeg() {
    ResetOptions();
}

TOptionLinks TCustomFFmpeg::OptionLinks() {
    TOptionLinks links;
    links.InputVideoRates = [this] {
        std::vector<AVRational> rates;
        for (const TInputFileSlot& input : FInputFiles)
            for (unsigned s = 0; s < input.Context->nb_streams; ++s)
                if (input.Context->streams[s]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                    rates.push_back(input.Context->streams[s]->r_frame_rate);
        return rates;
    };
    links.AddHookModule = [this](const THookModuleWords& words) { return AddHookModule(words); };
    links.NewStream = [this](TMediaKind kind) {
        if (OutputFileCount() == 0)
            throw FFmpegException("At least one output file must be specified");
        const int last = OutputFileCount() - 1;
        if (kind == TMediaKind::Video)
            FOutputSetup.NewVideoStream(last);
        else if (kind == TMediaKind::Audio)
            FOutputSetup.NewAudioStream(last);
        else
            FOutputSetup.NewSubtitleStream(last);
    };
    links.RecordingTime = [this](int64_t time) { FTotalDuration = time; };
    return links;
}

TInputSetupLinks TCustomFFmpeg::InputLinks() {
    return TInputSetupLinks{
        .Options = FTaskOptions,
        .ErrorText = FErrorText,
        .TotalDuration = FTotalDuration,
        .CheckNotAnOutput =
            [this](const std::string& name) { FOutputSetup.CheckNotAnOutput(name); },
        .StopRequested = [this] { return BreakRequested(); },
    };
}

bool TCustomFFmpeg::AddHookModule(const THookModuleWords& words) {
    // 64 slots: the words (at most 63) and the end mark after them.
    std::array<char*, 64> argv{};
    const std::size_t count = std::min<std::size_t>(words.size(), argv.size() - 1);
    std::vector<std::string> copies(words.begin(), words.begin() + count);
    for (std::size_t i = 0; i < count; ++i)
        argv[i] = copies[i].data();
    return AddFrameHook(&FFrameHooks.Head, static_cast<int>(count), argv.data()) == 0;
}

TCustomFFmpeg::~TCustomFFmpeg() {
    FRun.StopAndJoin();
    FTranscoder.reset();
    FOutputSetup.Clear();
    FInputFiles.clear();
}

void TCustomFFmpeg::ResetOptions() {
    FTaskOptions.Reset();
    ReleaseFrameHooks(&FFrameHooks.Head);
}

void TCustomFFmpeg::CheckLibraries() {
    static const std::pair<int, const char*> libraries[] = {
        {libAVCodec, "LibAVCodec not loaded."},   {libAVFormat, "LibAVFormat not loaded."},
        {libAVUtil, "LibAVUtil not loaded."},     {libSwScale, "LibSwScale not loaded."},
        {libAVFilter, "LibAVFilter not loaded."}, {libSwResample, "LibSwResample not loaded."},
    };
    for (const auto& [index, text] : libraries)
        if (!FFmpegLoader().IsLoaded(index)) throw FFmpegException(text);
    FTaskOptions.EnsureContexts();
}

// ---- options ----

void TCustomFFmpeg::ApplyOption(const std::string& name, const TOptionValue& value) {
    CheckLibraries();
    FTaskOptions.Apply(name, value);
}

void TCustomFFmpeg::ParseOption(const std::string& name, const std::string& value) {
    ApplyOption(name, TOptionValue(value));
}

void TCustomFFmpeg::ApplyRecordOptions(const TRecordOptions& options) {
    for (const TRecordOption& option : options) {
        if (option.Route == TRecordOption::roLibrary)
            SetNumberOption(option.Name, std::get<int64_t>(option.Value));
        else
            ApplyOption(option.Name, option.Value);
    }
}

void TCustomFFmpeg::ParseOptionLines(const std::string& text, bool inputSide) {
    ParseOptionList(SplitOptionLines(text), inputSide);
}

void TCustomFFmpeg::ParseOptionList(const TOptionPairs& options, bool inputSide) {
    for (const auto& [name, value] : options) {
        if (inputSide ? IsInputSkippedOption(name) : IsOutputSkippedOption(name)) continue;
        ParseOption(name, value);
    }
}

void TCustomFFmpeg::SetNumberOption(const std::string& name, int64_t value) {
    CheckLibraries();
    FTaskOptions.SetNumber(name, value);
}

void TCustomFFmpeg::LoadPreset(const std::string& kind, const std::string& value) {
    if (kind.empty() || value.empty()) return;
    CheckLibraries();
    FTaskOptions.LoadPreset(kind, value);
}

void TCustomFFmpeg::SetTarget(const std::string& type, const std::string& norm,
                              const std::string& fallback) {
    CheckLibraries();
    FTaskOptions.SetTarget(type, norm, fallback);
}

AVFormatContext* TCustomFFmpeg::InputContext(int index) const {
    return index >= 0 && index < InputFileCount() ? FInputFiles[index].Context.get() : nullptr;
}

// ---- files ----

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName) {
    CheckLibraries();
    return FInputSetup.Open(fileName);
}

int TCustomFFmpeg::OpenOutputFile(const std::string& fileName, bool join) {
    CheckLibraries();
    return FOutputSetup.Open(fileName, join);
}

// ---- the run and the conversion ----

namespace {

// The conversion stops reading a source that blocks once a stop is requested.
int InterruptCallback(void* opaque) {
    return static_cast<TCustomFFmpeg*>(opaque)->BreakRequested() ? 1 : 0;
}

} // namespace

TTaskRunSteps TCustomFFmpeg::RunSteps() {
    TTaskRunSteps steps;
    steps.ReleaseInputs = [this] { InputsClosing(); };
    steps.HasInputs = [this] { return InputFileCount() > 0; };
    steps.HasOutputs = [this] { return OutputFileCount() > 0; };
    steps.Convert = [this] { RunConversion(); };
    steps.CloseCodecs = [this] {
        if (FTranscoder) FTranscoder->CloseCodecs();
    };
    steps.CloseOutputs = [this](bool keep) { return FOutputSetup.CloseFiles(keep); };
    steps.CloseAndReset = [this] { CloseAndReset(); };
    steps.Terminate = [this] {
        if (OnTerminateCallback) OnTerminateCallback(this);
    };
    return steps;
}

void TCustomFFmpeg::SetPreviewFlags(int flags) {
    std::lock_guard<std::mutex> lock(PreviewFlagLock());
    if ((FPreviewFlags & 1) && !(flags & 1)) FPreviewer.reset();
    FPreviewFlags = flags;
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
    const TRunShare run = FRun.ShareWithConversion();
    return TTaskShare{
        .Task = *this,
        .FOptions = FOptions,
        .FOptionContexts = FOptionContexts,
        .FInputFiles = FInputFiles,
        .FOutputFiles = FOutputSetup.Files(),
        .FOutputStreams = FOutputSetup.Streams(),
        .FFrameHooks = FFrameHooks,
        .FErrorText = FErrorText,
        .FTotalDuration = FTotalDuration,
        .FJoined = FOutputSetup.Joined(),
        .FBreakRequested = run.BreakRequested,
        .FFinished = run.Finished,
        .FPreviewFlags = FPreviewFlags,
        .FPreviewer = FPreviewer,
        .FRunLock = run.Lock,
        .FEndedEarly = run.EndedEarly,
        .FReachedPercent = run.ReachedPercent,
        .OnHookCallback = OnHookCallback,
        .OnPreview = OnPreview,
        .OnProgressCallback = OnProgressCallback,
        .ProgressInterval = ProgressInterval,
        .StagedEncoding = StagedEncoding,
        .Threaded = run.Threaded,
    };
}

void TCustomFFmpeg::CloseAndReset() {
    FTranscoder.reset();
    FOutputSetup.Clear(); // closes the files; an empty one is removed
    FInputFiles.clear();
    FreeOptionContexts(FOptionContexts);
    ReleaseFrameHooks(&FFrameHooks.Head);
    FOptions.UsingVhook = false;
    std::lock_guard<std::mutex> lock(PreviewFlagLock());
    FPreviewer.reset();
}

// ---- TFFmpeg ----

TFFmpeg::TFFmpeg() = default;

TFFmpeg::~TFFmpeg() {
    TaskRun().StopAndJoin(); // before the probes go
}

void TProbeDeleter::operator()(TAVProbe* probe) const {
    delete probe;
}

TAVProbe* TFFmpeg::Probe(int index) {
    if (index < 0 || index >= MAX_FILES) return nullptr;
    if (!FProbes[index]) FProbes[index].reset(new TAVProbe());
    return FProbes[index].get();
}

void TFFmpeg::InputsClosing() {
    for (TProbePtr& probe : FProbes)
        if (probe) probe->CloseFile();
}
