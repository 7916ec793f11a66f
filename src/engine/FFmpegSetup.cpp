// The task's construction and its libraries, its option calls (handed to
// the option state, TaskOptions.h), the checks that keep inputs
// and outputs apart, finding codecs by name, and the converter's task with
// its probes. Opening inputs is in FFmpegInputSetup.cpp, opening outputs in
// FFmpegOutputSetup.cpp, creating output streams in FFmpegStreamSetup.cpp.
#include "engine/FFmpeg.h"

#include "engine/FFmpegPreview.h"
#include "engine/FFmpegTranscoder.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/UnicodeProtocol.h"
#include "probe/AVProbe.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <array>

namespace {

const char* KindWord(bool encoder) {
    return encoder ? "encoder" : "decoder";
}

} // namespace

// ---- construction ----

void TCustomFFmpeg::CloseOutputFiles(bool keep) {
    std::string error;
    for (const std::shared_ptr<TOutputFile>& file : FOutputFiles) {
        const std::string text = file->Close(keep); // a joined file closes once
        if (error.empty()) error = text;
    }
    if (error.empty()) return;
    FFinished = false;
    Fail(error);
}

// Refuses an input that is one of the task's outputs, or the reverse,
// before anything is opened for writing.
void TCustomFFmpeg::CheckNotAnInput(const std::string& outputName) const {
    const std::vector<TFileIdentity> output = IdentifyFiles(ToLibraryName(outputName));
    for (const TInputFileSlot& input : FInputFiles) {
        const char* url = input.Context ? input.Context->url : nullptr;
        if (url && SharedFile(output, IdentifyFiles(url)))
            throw FFmpegException(FormatText("Output file '%s' is the same file as input file '%s'",
                                             outputName.c_str(), FromLibraryName(url).c_str()));
    }
}

bool TCustomFFmpeg::ReplacesFile(const TFileIdentity& file) const {
    for (const std::shared_ptr<TOutputFile>& output : FOutputFiles)
        if (output->Target.Replaces() && IsSameFile(file, output->Identity)) return true;
    return false;
}

void TCustomFFmpeg::CheckNotAnOutput(const std::string& inputName) const {
    const std::vector<TFileIdentity> input = IdentifyFiles(ToLibraryName(inputName));
    for (const std::shared_ptr<TOutputFile>& output : FOutputFiles)
        if (!output->FileName.empty() && SharedFile(input, {output->Identity}))
            throw FFmpegException(FormatText("Input file '%s' is the same file as output file '%s'",
                                             inputName.c_str(), output->FileName.c_str()));
}

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
        if (FOutputFiles.empty())
            throw FFmpegException("At least one output file must be specified");
        const int last = OutputFileCount() - 1;
        if (kind == TMediaKind::Video)
            NewVideoStream(last);
        else if (kind == TMediaKind::Audio)
            NewAudioStream(last);
        else
            NewSubtitleStream(last);
    };
    links.RecordingTime = [this](int64_t time) { FTotalDuration = time; };
    return links;
}

void TCustomFFmpeg::Log(int level, const std::string& text) const {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
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
    StopAndJoin();
    FTranscoder.reset();
    FOutputStreams.clear();
    FOutputFiles.clear();
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

AVFormatContext* TCustomFFmpeg::OutputContext(int index) const {
    return index >= 0 && index < OutputFileCount() ? FOutputFiles[index]->Context : nullptr;
}

int TCustomFFmpeg::CodecStrictness(int mediaType) const {
    const AVCodecContext* context =
        mediaType >= 0 && mediaType < 5 ? FOptionContexts.CodecOptions[mediaType] : nullptr;
    return context ? context->strict_std_compliance : 0;
}

// ---- FindCodec ----

bool TCustomFFmpeg::FindCodec(const std::string& name, int mediaType, bool encoder, int strictness,
                              const AVCodec** codec) {
    *codec = nullptr;
    if (name.empty()) return true;
    const AVCodec* found = encoder ? ff::avcodec.avcodec_find_encoder_by_name(name.c_str())
                                   : ff::avcodec.avcodec_find_decoder_by_name(name.c_str());
    if (!found) {
        FErrorText = FormatText("Unknown %s '%s'", KindWord(encoder), name.c_str());
        return false;
    }
    if (found->type != mediaType) {
        FErrorText = FormatText("Invalid %s type '%s'", KindWord(encoder), name.c_str());
        return false;
    }
    if ((found->capabilities & AV_CODEC_CAP_EXPERIMENTAL) &&
        strictness > FF_COMPLIANCE_EXPERIMENTAL) {
        FErrorText = FormatText("%s '%s' is experimental and might produce bad results.\r\nAdd "
                                "'-strict experimental' if you want to use it.",
                                KindWord(encoder), found->name);
        const AVCodec* other = encoder ? ff::avcodec.avcodec_find_encoder(found->id)
                                       : ff::avcodec.avcodec_find_decoder(found->id);
        if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
            FErrorText += "\r\n" + FormatText("Or use the non experimental %s '%s'.",
                                              KindWord(encoder), other->name);
        return false;
    }
    *codec = found;
    return true;
}

// ---- TFFmpeg ----

TFFmpeg::TFFmpeg() = default;

TFFmpeg::~TFFmpeg() {
    StopAndJoin(); // before the probes go
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
