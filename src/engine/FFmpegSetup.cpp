// The task's construction and its libraries, the checks that keep inputs
// and outputs apart, finding codecs by name, and the converter's task with
// its probes. Opening inputs is in FFmpegInputSetup.cpp, opening outputs in
// FFmpegOutputSetup.cpp, creating output streams in FFmpegStreamSetup.cpp.
#include "engine/FFmpeg.h"

#include "engine/FFmpegPreview.h"
#include "engine/FFmpegTranscoder.h"
#include "media/FFmpegLoader.h"
#include "media/UnicodeProtocol.h"
#include "probe/AVProbe.h"
#include "media/MyUtils.h"

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

TCustomFFmpeg::~TCustomFFmpeg() {
    StopAndJoin();
    FTranscoder.reset();
    FOutputStreams.clear();
    FOutputFiles.clear();
    FInputFiles.clear();
}

void TCustomFFmpeg::ResetOptions() {
    FOptions = TOptionState();
    ReleaseFrameHooks(&FFrameHooks.Head);
    FreeOptionContexts(FOptionContexts);
    if (FFmpegLoader().AreLoaded(ConverterLibraries))
        AllocOptionContexts(FOptionContexts, FOptions.SwsFlags);
}

void TCustomFFmpeg::CheckLibraries() {
    static const std::pair<int, const char*> libraries[] = {
        {libAVCodec, "LibAVCodec not loaded."},   {libAVFormat, "LibAVFormat not loaded."},
        {libAVUtil, "LibAVUtil not loaded."},     {libSwScale, "LibSwScale not loaded."},
        {libAVFilter, "LibAVFilter not loaded."}, {libSwResample, "LibSwResample not loaded."},
    };
    for (const auto& [index, text] : libraries)
        if (!FFmpegLoader().IsLoaded(index)) throw FFmpegException(text);
    if (!FOptionContexts.CodecOptions[0] &&
        !AllocOptionContexts(FOptionContexts, FOptions.SwsFlags))
        throw FFmpegException("Cannot allocate the option contexts");
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
