// Opening a task's input and output files and creating the output streams.
#include "engine/FFmpeg.h"

#include "engine/FFmpegPreview.h"
#include "engine/FFmpegTranscoder.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/UnicodeProtocol.h"
#include "probe/AVProbe.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace {

const char* KindWord(bool encoder) {
    return encoder ? "encoder" : "decoder";
}

AVRational InverseRate(int num, int den) {
    return AVRational{den, num};
}

// Sample aspect ratio for a display aspect on a picture of width x height.
AVRational SampleAspect(float aspect, int width, int height) {
    const double value = width == 0 || height == 0 ? aspect * 3.0 / 4.0
                                                   : static_cast<double>(aspect) * height / width;
    int num = 0, den = 1;
    ff::avutil.av_reduce(&num, &den, static_cast<int64_t>(std::llround(value * 255 * 255 * 8)),
                         255 * 255 * 8, 255);
    return AVRational{num, den};
}

void SetLanguage(AVStream* stream, std::string& language) {
    if (!language.empty())
        ff::avutil.av_dict_set(&stream->metadata, "language", language.c_str(), 0);
    language.clear();
}

// Whether any stream of the context is of `type`.
bool IsCoverPicture(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

// Containers that hold a cover picture beside the sound: ID3v2 of MP3 and
// the cover atom of the MP4 family and FLAC's picture block, each in JPEG or PNG.
bool HoldsCoverPicture(const AVOutputFormat* format) {
    for (const char* name : {"mp3", "ipod", "mp4", "mov", "flac"})
        if (std::strcmp(format->name, name) == 0) return true;
    return false;
}

// The first cover picture such a container takes, -1 when none.
int CoverStreamIndex(const AVFormatContext* input) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        const AVCodecID id = stream->codecpar->codec_id;
        if (IsCoverPicture(stream) && (id == AV_CODEC_ID_MJPEG || id == AV_CODEC_ID_PNG))
            return static_cast<int>(i);
    }
    return -1;
}

bool HasStreamOfType(const AVFormatContext* context, AVMediaType type) {
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (context->streams[i]->codecpar->codec_type == type) return true;
    return false;
}

} // namespace

// ---- construction ----

TOutputFile::~TOutputFile() {
    Close(false);
}

std::string TOutputFile::Close(bool keep) {
    if (!Context) return {};
    std::string error;
    const bool ownsFile = Context->oformat && !(Context->oformat->flags & AVFMT_NOFILE);
    if (ownsFile && Context->pb) {
        // A write that failed late (a full disk) shows in the stream's error.
        ff::avformat.avio_flush(Context->pb);
        const int written = Context->pb->error;
        const int closed = ff::avformat.avio_closep(&Context->pb);
        const int code = written < 0 ? written : closed;
        if (keep && code < 0) error = MediaErrorText(FileName, code);
    }
    ff::avformat.avformat_free_context(Context);
    Context = nullptr;
    // A file that holds nothing never replaces the target; one that went
    // away while it was written (its folder removed) is a failure, not a
    // finished file.
    const long long size = Target.WrittenSize();
    if (keep && error.empty() && size < 0)
        error = MediaErrorText(FileName, AVERROR(ENOENT));
    else if (keep && error.empty() && !Discard && (!Target.Replaces() || size > 0))
        error = Target.Commit();
    Target.Discard();
    return error;
}

void TOutputFile::NameTheWrittenFile() {
    if (!Context || !Target.Replaces() || Target.WriteName() == (Context->url ? Context->url : ""))
        return;
    char* name = ff::avutil.av_strdup(Target.WriteName().c_str());
    if (!name) return;
    ff::avutil.av_free(Context->url);
    Context->url = name;
}

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

// ---- OpenInputFile ----

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName) {
    CheckLibraries();
    CheckNotAnOutput(fileName);
    ff::InputContextPtr context;
    std::vector<const AVCodec*> decoders;
    int64_t timestamp = 0; // the start time plus the file's own start time
    bool ok = false;
    const bool sought = FOptions.StartTime != 0;
    const int64_t soughtTime = FOptions.StartTime;
    try {
        ok = OpenInputSteps(fileName, context, decoders, timestamp);
    } catch (...) {
        FOptions.VideoChannel = 0;
        ClearCodecNames();
        throw;
    }
    FOptions.VideoChannel = 0;
    ClearCodecNames();
    if (!ok) return false;
    TInputFileSlot slot;
    slot.Context = std::move(context);
    slot.Decoders = std::move(decoders);
    slot.Sought = sought;
    slot.SoughtTime = soughtTime;
    slot.TsScale = FOptions.NextInputTsScale;
    FOptions.NextInputTsScale.fill(0.0);
    slot.TsOffset = FOptions.InputTsOffset - (FOptions.CopyTs ? 0 : timestamp);
    if (FOptions.Verbose >= 0)
        ff::avformat.av_dump_format(slot.Context.get(), InputFileCount(), fileName.c_str(), 0);
    FInputFiles.push_back(std::move(slot));
    return true;
}

void TCustomFFmpeg::ClearCodecNames() {
    FOptions.HasVideoCodecName = FOptions.HasAudioCodecName = false;
    FOptions.HasSubtitleCodecName = false;
    FOptions.VideoCodecName.clear();
    FOptions.AudioCodecName.clear();
    FOptions.SubtitleCodecName.clear();
}

// The input parameters for demuxers that need them (raw formats, devices).
AVDictionary* TCustomFFmpeg::InputParameters() const {
    AVDictionary* options = nullptr;
    auto set = [&options](const char* key, const std::string& value) {
        ff::avutil.av_dict_set(&options, key, value.c_str(), 0);
    };
    set("sample_rate", std::to_string(FOptions.AudioSampleRate));
    set("channels", std::to_string(FOptions.AudioChannels));
    if (FOptions.FrameRateNum > 0 && FOptions.FrameRateDen > 0)
        set("framerate",
            std::to_string(FOptions.FrameRateNum) + "/" + std::to_string(FOptions.FrameRateDen));
    if (FOptions.FrameWidth > 0 && FOptions.FrameHeight > 0)
        set("video_size",
            std::to_string(FOptions.FrameWidth) + "x" + std::to_string(FOptions.FrameHeight));
    if (FOptions.FramePixFmt >= 0)
        if (const char* name =
                ff::avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(FOptions.FramePixFmt)))
            set("pixel_format", name);
    if (FOptions.VideoChannel != 0) set("channel", std::to_string(FOptions.VideoChannel));
    if (FOptions.HasVideoStandard) set("standard", FOptions.VideoStandard);
    if (FOptions.LoopInput) set("loop", "1");
    return options;
}

bool TCustomFFmpeg::OpenInputSteps(const std::string& fileName, ff::InputContextPtr& result,
                                   std::vector<const AVCodec*>& decoders, int64_t& timestamp) {
    const AVInputFormat* format = nullptr;
    if (!FOptions.FormatName.empty()) {
        format = ff::avformat.av_find_input_format(FOptions.FormatName.c_str());
        if (!format)
            throw FFmpegException(
                FormatText("Unknown input format: \"%s\"", FOptions.FormatName.c_str()));
        FOptions.FormatName.clear();
    }
    AVFormatContext* context = ff::avformat.avformat_alloc_context();
    if (!context) throw FFmpegException("avformat_alloc_context failed");
    ff::FormatContextPtr pending(context); // freed here until the library owns it
    ApplyRecordedOptions(FOptionContexts, context, FOptionContexts.FormatOptions,
                         AV_OPT_FLAG_DECODING_PARAM);
    TByKind<const AVCodec*> chosen;
    if (!FindCodec(FOptions.HasVideoCodecName ? FOptions.VideoCodecName : "", AVMEDIA_TYPE_VIDEO,
                   false, CodecStrictness(AVMEDIA_TYPE_VIDEO), &chosen[TMediaKind::Video]) ||
        !FindCodec(FOptions.HasAudioCodecName ? FOptions.AudioCodecName : "", AVMEDIA_TYPE_AUDIO,
                   false, CodecStrictness(AVMEDIA_TYPE_AUDIO), &chosen[TMediaKind::Audio]) ||
        !FindCodec(FOptions.HasSubtitleCodecName ? FOptions.SubtitleCodecName : "",
                   AVMEDIA_TYPE_SUBTITLE, false, CodecStrictness(AVMEDIA_TYPE_SUBTITLE),
                   &chosen[TMediaKind::Subtitle]))
        return false;
    context->flags |= AVFMT_FLAG_NONBLOCK;
    if (const AVCodec* video = chosen[TMediaKind::Video]) {
        context->video_codec_id = video->id;
        context->video_codec = video;
    }
    if (const AVCodec* audio = chosen[TMediaKind::Audio]) {
        context->audio_codec_id = audio->id;
        context->audio_codec = audio;
    }
    if (const AVCodec* subtitle = chosen[TMediaKind::Subtitle]) {
        context->subtitle_codec_id = subtitle->id;
        context->subtitle_codec = subtitle;
    }
    if (FOptions.UsingPgmyuv) context->video_codec_id = AV_CODEC_ID_PGMYUV;

    ff::DictionaryPtr parameters(InputParameters());
    AVDictionary* rawParameters = parameters.release();
    // Options no one knew yet may be the demuxer's own.
    std::vector<TPendingOption> unknown;
    auto& waiting = FOptions.PendingOptions;
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (it->Kind != TMediaKind::Any) {
            ++it;
            continue;
        }
        ff::avutil.av_dict_set(&rawParameters, it->Name.c_str(), it->Value.c_str(), 0);
        unknown.push_back(*it);
        it = waiting.erase(it);
    }
    // A stop of the task, or of a program that is still setting up, gives
    // a blocked open or read back.
    context->interrupt_callback.callback = [](void* task) {
        return (static_cast<TCustomFFmpeg*>(task)->BreakRequested() || OpenInterruptRequested())
                   ? 1
                   : 0;
    };
    context->interrupt_callback.opaque = this;
    pending.release(); // avformat_open_input frees the context on failure
    int code = AVERROR_EXIT;
    if (OpenInterruptRequested())
        ff::avformat.avformat_free_context(context);
    else
        code = ff::avformat.avformat_open_input(&context, ToLibraryName(fileName).c_str(), format,
                                                &rawParameters);
    parameters.reset(rawParameters);
    for (const TPendingOption& option : unknown)
        if (ff::avutil.av_dict_get(rawParameters, option.Name.c_str(), nullptr, 0))
            Log(llWarning, FormatText("Unrecognized option '%s'", option.Name.c_str()));
    if (code < 0) {
        FErrorText = MediaErrorText(fileName, code);
        return false;
    }
    result.reset(context);
    if (!SelectProgram(context)) return false;
    int infoResult;
    {
        std::lock_guard<std::mutex> lock(CodecLock());
        infoResult = ff::avformat.avformat_find_stream_info(context, nullptr);
    }
    if (infoResult < 0 && FOptions.Verbose >= 0) {
        FErrorText = FormatText("%s: could not find codec parameters", fileName.c_str());
        Log(llVerbose, FErrorText);
        return false;
    }
    timestamp = SeekToStart(context, fileName);
    CopyInputStreams(context, decoders, chosen);
    if (context->duration != AV_NOPTS_VALUE && context->duration > FTotalDuration)
        FTotalDuration = context->duration;
    return true;
}

bool TCustomFFmpeg::SelectProgram(AVFormatContext* context) {
    if (FOptions.OptProgramID == 0) return true;
    const int wanted = FOptions.OptProgramID;
    FOptions.OptProgramID = 0;
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = AVDISCARD_ALL;
    bool found = false;
    for (unsigned p = 0; p < context->nb_programs; ++p) {
        AVProgram* program = context->programs[p];
        if (program->id != wanted) {
            program->discard = AVDISCARD_ALL;
            continue;
        }
        found = true;
        program->discard = AVDISCARD_DEFAULT;
        for (unsigned s = 0; s < program->nb_stream_indexes; ++s)
            context->streams[program->stream_index[s]]->discard = AVDISCARD_DEFAULT;
    }
    if (!found) FErrorText = "Specified program id not found";
    return found;
}

int64_t TCustomFFmpeg::SeekToStart(AVFormatContext* context, const std::string& fileName) {
    int64_t timestamp = FOptions.StartTime;
    if (context->start_time != AV_NOPTS_VALUE) timestamp += context->start_time;
    if (FOptions.StartTime == 0) return timestamp;
    const int code = ff::avformat.av_seek_frame(context, -1, timestamp, AVSEEK_FLAG_BACKWARD);
    if (code < 0 && FOptions.Verbose > 0)
        Log(llVerbose, FormatText("%s: could not seek to position %0.3f", fileName.c_str(),
                                  static_cast<double>(timestamp) / AV_TIME_BASE));
    FOptions.StartTime = 0;
    return timestamp;
}

void TCustomFFmpeg::CopyInputStreams(AVFormatContext* context,
                                     std::vector<const AVCodec*>& decoders,
                                     const TByKind<const AVCodec*>& chosen) {
    // The frame and sample parameters come from the streams the default
    // mapping converts (the libraries' best ones); were they taken from every
    // stream in turn, a second, smaller picture would set the output size.
    const int video =
        ff::avformat.av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audio =
        ff::avformat.av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        const int type = stream->codecpar->codec_type;
        if (type < AVMEDIA_TYPE_VIDEO || type > AVMEDIA_TYPE_ATTACHMENT)
            throw FFmpegException("invalid codec_type");
        switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            if (video < 0 || static_cast<int>(i) == video) CopyInputVideo(stream);
            decoders.push_back(chosen[TMediaKind::Video]);
            // A cover picture is read even without pictures: it may go along
            // as the sound's cover (AddCoverStream).
            if (FOptions.VideoDisable && !IsCoverPicture(stream))
                stream->discard = AVDISCARD_ALL;
            else if (FOptions.VideoDiscard != 0)
                stream->discard = static_cast<AVDiscard>(FOptions.VideoDiscard);
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (audio < 0 || static_cast<int>(i) == audio) CopyInputAudio(stream);
            decoders.push_back(chosen[TMediaKind::Audio]);
            if (FOptions.AudioDisable) stream->discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            decoders.push_back(chosen[TMediaKind::Subtitle]);
            if (FOptions.SubtitleDisable) stream->discard = AVDISCARD_ALL;
            break;
        default: // data and attachments are not decoded
            decoders.push_back(nullptr);
            break;
        }
    }
}

void TCustomFFmpeg::CopyInputVideo(AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    int width = par->width, height = par->height;
    AVRational sar =
        stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio : par->sample_aspect_ratio;
    if (sar.num && sar.den && height)
        FOptions.FrameAspectRatio = static_cast<float>(av_q2d(sar) * width / height);
    else if (width * height != 0)
        FOptions.FrameAspectRatio = static_cast<float>(width) / height;
    else
        FOptions.FrameAspectRatio = 4.0f / 3.0f;
    const AVCodecContext* decodeOptions = FOptionContexts.CodecOptions[0];
    if (decodeOptions && decodeOptions->lowres > 0) {
        width >>= decodeOptions->lowres;
        height >>= decodeOptions->lowres;
    }
    // The conversion turns a phone's picture upright first: sizes and the
    // aspect ratio are those of the picture as it is shown.
    if (IsQuarterTurn(StreamRotation(stream))) {
        std::swap(width, height);
        if (FOptions.FrameAspectRatio > 0.0f)
            FOptions.FrameAspectRatio = 1.0f / FOptions.FrameAspectRatio;
    }
    FOptions.FrameWidth = width;
    FOptions.FrameHeight = height;
    FOptions.FrameSizeOfTarget = false;
    FOptions.FramePixFmt = par->format < 0 ? 0 : par->format;
    // A cover picture has no rate of its own (its stream reports the
    // container's clock, 90000 for an MP3): it gets the default one.
    const bool cover = (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    const AVRational rate = cover ? AVRational{25, 1} : stream->r_frame_rate;
    const AVRational average = cover ? rate : stream->avg_frame_rate;
    if (average.num && average.den && rate.num && rate.den && av_cmp_q(average, rate) != 0 &&
        FOptions.Verbose >= 0)
        Log(llInfo, FormatText("Seems stream %d codec frame rate differs from container frame "
                               "rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
                               stream->index, av_q2d(average), average.num, average.den,
                               av_q2d(rate), rate.num, rate.den));
    FOptions.FrameRateNum = rate.num;
    FOptions.FrameRateDen = rate.den;
}

void TCustomFFmpeg::CopyInputAudio(AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    FOptions.AudioChannelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                                      ? static_cast<int64_t>(par->ch_layout.u.mask)
                                      : 0;
    FOptions.AudioChannels = par->ch_layout.nb_channels;
    FOptions.AudioSampleRate = par->sample_rate;
    FOptions.AudioSampleFmt = par->format;
}

// ---- OpenOutputFile ----

int TCustomFFmpeg::OpenOutputFile(const std::string& fileName, bool join) {
    CheckLibraries();
    if (FJoined) {
        FErrorText = "Cannot join more than one output file.";
        return -1;
    }
    const std::size_t streamsBefore = FOutputStreams.size();
    const std::size_t filesBefore = FOutputFiles.size();
    try {
        if (!OpenOutputSteps(fileName, join)) {
            DropOutputsFrom(filesBefore, streamsBefore);
            return -1;
        }
    } catch (const std::exception& e) {
        FErrorText = e.what();
        DropOutputsFrom(filesBefore, streamsBefore);
        return -1;
    }
    return OutputFileCount();
}

void TCustomFFmpeg::DropOutputFiles(int files) {
    if (files < 0 || files >= OutputFileCount()) return;
    std::size_t streams = 0;
    while (streams < FOutputStreams.size() && FOutputStreams[streams].FileIndex < files)
        ++streams;
    FJoined = false; // a joined output fills every slot up to the last
    DropOutputsFrom(static_cast<std::size_t>(files), streams);
}

void TCustomFFmpeg::DropOutputsFrom(std::size_t files, std::size_t streams) {
    FOutputStreams.resize(std::min(streams, FOutputStreams.size()));
    while (FOutputFiles.size() > files)
        FOutputFiles.pop_back();
}

const AVOutputFormat* TCustomFFmpeg::GuessOutputFormat(const std::string& fileName) {
    const AVOutputFormat* format = nullptr;
    if (!FOptions.FormatName.empty()) {
        format = ff::avformat.av_guess_format(FOptions.FormatName.c_str(), nullptr, nullptr);
        if (!format)
            FErrorText = FormatText("Requested output format '%s' is not a suitable output format",
                                    FOptions.FormatName.c_str());
        FOptions.FormatName.clear();
        return format;
    }
    format = ff::avformat.av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!format)
        FErrorText =
            FormatText("Unable to find a suitable output format for '%s'", fileName.c_str());
    return format;
}

bool TCustomFFmpeg::OpenOutputSteps(const std::string& fileName, bool join) {
    CheckNotAnInput(fileName);
    const AVOutputFormat* format = GuessOutputFormat(fileName);
    if (!format) return false;
    AVFormatContext* context = nullptr;
    const std::string libraryName = ToLibraryName(fileName);
    if (ff::avformat.avformat_alloc_output_context2(&context, format, nullptr,
                                                    libraryName.c_str()) < 0 ||
        !context)
        throw FFmpegException("avformat_alloc_context failed");
    auto file = std::make_shared<TOutputFile>(context);
    FOutputFiles.push_back(file);
    const int outputIndex = OutputFileCount() - 1;
    AddDefaultStreams(context, outputIndex, join);
    MoveMetadata(context);
    OpenOutputIo(*file, fileName);
    ApplyMuxerSettings(context);
    if (join && InputFileCount() > 1) {
        FJoined = true;
        RunJoin();
    }
    return true;
}

void TCustomFFmpeg::AddDefaultStreams(AVFormatContext* context, int outputFile, bool join) {
    if (FOptions.CopyAllStreams && !join) {
        AddCopiedStreams(outputFile);
        return;
    }
    const AVOutputFormat* format = context->oformat;
    bool useVideo = FOptions.VideoStreamCopy || format->video_codec != AV_CODEC_ID_NONE ||
                    FOptions.HasVideoCodecName;
    bool useAudio = FOptions.AudioStreamCopy || format->audio_codec != AV_CODEC_ID_NONE ||
                    FOptions.HasAudioCodecName;
    bool useSubtitle = FOptions.SubtitleStreamCopy || format->subtitle_codec != AV_CODEC_ID_NONE ||
                       FOptions.HasSubtitleCodecName;
    if (!FInputFiles.empty()) {
        bool hasVideo = false, hasAudio = false, hasSubtitle = false;
        const std::size_t inputs = join ? 1 : FInputFiles.size();
        for (std::size_t i = 0; i < inputs; ++i) {
            const AVFormatContext* input = FInputFiles[i].Context.get();
            hasVideo |= HasStreamOfType(input, AVMEDIA_TYPE_VIDEO);
            hasAudio |= HasStreamOfType(input, AVMEDIA_TYPE_AUDIO);
            hasSubtitle |= HasStreamOfType(input, AVMEDIA_TYPE_SUBTITLE);
        }
        useVideo = useVideo && hasVideo;
        useAudio = useAudio && hasAudio;
        useSubtitle = useSubtitle && hasSubtitle;
        // The format's own subtitle codec only when it can take the input's
        // subtitles (text stays text, pictures stay pictures).
        if (useSubtitle && !FOptions.SubtitleStreamCopy && !FOptions.HasSubtitleCodecName)
            useSubtitle = CanEncodeSubtitles(FInputFiles[0].Context.get(), format->subtitle_codec);
    }
    useVideo = useVideo && !FOptions.VideoDisable;
    useAudio = useAudio && !FOptions.AudioDisable;
    useSubtitle = useSubtitle && !FOptions.SubtitleDisable;
    auto create = [&](bool use, const char* what, void (TCustomFFmpeg::*add)(int)) {
        if (!use) return;
        try {
            (this->*add)(outputFile);
        } catch (const std::exception& e) {
            throw FFmpegException(FormatText("new_%s_stream fail: %s", what, e.what()));
        }
    };
    create(useVideo, "video", &TCustomFFmpeg::NewVideoStream);
    create(useAudio, "audio", &TCustomFFmpeg::NewAudioStream);
    create(useSubtitle, "subtitle", &TCustomFFmpeg::NewSubtitleStream);
    if (!useVideo && !join) AddCoverStream(outputFile);
}

// An output without pictures whose container holds a cover picture takes
// the first input's cover, copied as it is and marked as attached (never as
// a video stream of one frame). Explicit stream maps decide alone; a joined
// output, whose segments each bring their own, goes without.
void TCustomFFmpeg::AddCoverStream(int outputFile) {
    if (FInputFiles.empty() || !FOptions.StreamMaps.empty()) return;
    if (!HoldsCoverPicture(OutputContext(outputFile)->oformat)) return;
    const int cover = CoverStreamIndex(FInputFiles[0].Context.get());
    if (cover < 0) return;
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_VIDEO);
    setup.StreamCopy = true;
    setup.SourceStream = cover;
    setup.Stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
}

// One copied output stream for each video, audio and subtitle stream of the
// first input, in its order; data and attachment streams stay behind.
void TCustomFFmpeg::AddCopiedStreams(int outputFile) {
    FOptions.CopyAllStreams = false;
    if (FInputFiles.empty()) return;
    const AVFormatContext* input = FInputFiles[0].Context.get();
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const int type = input->streams[i]->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO &&
            type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        TOutputStreamSetup& setup = NewStream(outputFile, type);
        setup.StreamCopy = true;
        setup.SourceStream = static_cast<int>(i);
        setup.WholeFileCopy = true;
    }
    FOptions.VideoStreamCopy = FOptions.AudioStreamCopy = FOptions.SubtitleStreamCopy = false;
}

bool TCustomFFmpeg::CanEncodeSubtitles(const AVFormatContext* input, int codecId) const {
    if (!ff::avcodec.avcodec_find_encoder(static_cast<AVCodecID>(codecId))) return false;
    const AVCodecDescriptor* target =
        ff::avcodec.avcodec_descriptor_get(static_cast<AVCodecID>(codecId));
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters* par = input->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_SUBTITLE) continue;
        const AVCodecDescriptor* source = ff::avcodec.avcodec_descriptor_get(par->codec_id);
        if (!source || !target) return false;
        const int kinds = AV_CODEC_PROP_TEXT_SUB | AV_CODEC_PROP_BITMAP_SUB;
        return (source->props & kinds) == (target->props & kinds);
    }
    return false;
}

// Metadata pairs go in from the last to the first, so for a repeated key
// the first given value stays.
void TCustomFFmpeg::MoveMetadata(AVFormatContext* context) {
    if (FOptions.RecordingTimestamp != 0) {
        const std::time_t seconds = static_cast<std::time_t>(FOptions.RecordingTimestamp);
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        char text[40];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
        ff::avutil.av_dict_set(&context->metadata, "creation_time", text, 0);
    }
    for (auto it = FOptions.Metadata.rbegin(); it != FOptions.Metadata.rend(); ++it)
        ff::avutil.av_dict_set(&context->metadata, it->first.c_str(), it->second.c_str(), 0);
    FOptions.Metadata.clear();
}

// A file is written to its target's write name (see TOutputTarget); the
// context keeps the target's name for the muxer and for messages.
void TCustomFFmpeg::OpenOutputIo(TOutputFile& file, const std::string& fileName) {
    AVFormatContext* context = file.Context;
    const AVOutputFormat* format = context->oformat;
    const std::string libraryName = ToLibraryName(fileName);
    if ((format->flags & AVFMT_NEEDNUMBER) &&
        !ff::avformat.av_filename_number_test(libraryName.c_str()))
        throw FFmpegException(MediaErrorText(fileName, AVERROR(EDOM)));
    if (format->flags & AVFMT_NOFILE) return;
    file.FileName = fileName;
    file.Target.Prepare(libraryName, NewOutputsOnly);
    file.Identity = IdentifyFile(libraryName);
    // Only a program that stops while setting up gives up a blocked open
    // (a named pipe without a reader, a stalled network peer): a stopped
    // task still writes the end of its file. A named pipe's reader is
    // waited for here, so that the open below cannot block.
    TPipeWriterOpen pipe;
    if (OpenInterruptRequested() ||
        !pipe.WaitForReader(LocalPathOf(file.Target.WriteName()), OpenInterruptRequested))
        throw FFmpegException(MediaErrorText(fileName, AVERROR_EXIT));
    const AVIOInterruptCB interrupt = OpenInterruptCallback();
    const int code = ff::avformat.avio_open2(&context->pb, file.Target.WriteName().c_str(),
                                             AVIO_FLAG_WRITE, &interrupt, nullptr);
    pipe.Release();
    if (code < 0) throw FFmpegException(MediaErrorText(fileName, code));
}

void TCustomFFmpeg::ApplyMuxerSettings(AVFormatContext* context) {
    context->max_delay = static_cast<int>(FOptions.MuxMaxDelay * 1000000);
    ff::avutil.av_opt_set_int(context, "preload",
                              static_cast<int64_t>(FOptions.MuxPreload * 1000000),
                              AV_OPT_SEARCH_CHILDREN);
    if (FOptions.LoopOutput >= 0)
        ff::avutil.av_opt_set_int(context, "loop", FOptions.LoopOutput, AV_OPT_SEARCH_CHILDREN);
    context->flags |= AVFMT_FLAG_NONBLOCK;
    ApplyRecordedOptions(FOptionContexts, context, FOptionContexts.FormatOptions,
                         AV_OPT_FLAG_ENCODING_PARAM);
    for (const auto& [name, value] : FOptions.FormatPrivateOptions)
        if (ff::avutil.av_opt_set(context, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) <
            0) {
            if (StrictOptions) throw FFmpegException(InvalidValueText(name, value));
            Log(llWarning, InvalidValueText(name, value));
        }
    FOptions.FormatPrivateOptions.clear();
    TakePendingMuxerOptions(context); // now that the muxer is known
    FOptions.StreamIdMap.fill(0);
}

void TCustomFFmpeg::RunJoin() {
    int64_t total = 0;
    for (const TInputFileSlot& input : FInputFiles)
        if (input.Context->duration != AV_NOPTS_VALUE && input.Context->duration > 0)
            total += input.Context->duration;
    FTotalDuration = total == 0 ? -1 : total;
    const std::shared_ptr<TOutputFile> file = FOutputFiles.back();
    while (FOutputFiles.size() < FInputFiles.size() && OutputFileCount() < MAX_FILES)
        FOutputFiles.push_back(file);
}

// ---- new streams ----

TOutputStreamSetup& TCustomFFmpeg::NewStream(int outputFile, int mediaType) {
    AVFormatContext* context = OutputContext(outputFile);
    if (!context) throw FFmpegException("At least one output file must be specified");
    const unsigned index = context->nb_streams;
    AVStream* stream = ff::avformat.avformat_new_stream(context, nullptr);
    if (!stream) throw FFmpegException("Could not alloc stream");
    if (index < MAX_STREAMS) stream->id = FOptions.StreamIdMap[index];
    stream->codecpar->codec_type = static_cast<AVMediaType>(mediaType);
    TOutputStreamSetup setup;
    // A joined file fills several slots; its streams belong to its first one.
    setup.FileIndex = outputFile;
    while (setup.FileIndex > 0 && FOutputFiles[setup.FileIndex - 1] == FOutputFiles[outputFile])
        --setup.FileIndex;
    setup.Stream = stream;
    setup.MediaType = mediaType;
    const TMediaKind kind = MediaKindOf(mediaType);
    setup.BitstreamFilters = std::move(FOptions.BitstreamFilters[kind]);
    FOptions.BitstreamFilters[kind].clear();
    FOutputStreams.push_back(std::move(setup));
    return FOutputStreams.back();
}

// Allocates the stream's encoder context and fills in the recorded options.
void TCustomFFmpeg::ChooseEncoder(TOutputStreamSetup& setup, AVFormatContext* context, bool hasName,
                                  const std::string& name) {
    const AVMediaType type = static_cast<AVMediaType>(setup.MediaType);
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (hasName) {
        if (!FindCodec(name, type, true, CodecStrictness(type), &codec))
            throw FFmpegException(FErrorText);
        id = codec->id;
        setup.EncoderByName = true;
    } else {
        id = ff::avformat.av_guess_codec(context->oformat, nullptr, context->url, nullptr, type);
        codec = ff::avcodec.avcodec_find_encoder(id);
    }
    setup.Encoder = codec;
    setup.EncoderContext.reset(ff::avcodec.avcodec_alloc_context3(codec));
    if (!setup.EncoderContext) throw FFmpegException("avcodec_alloc_context failed");
    AVCodecContext* encoder = setup.EncoderContext.get();
    encoder->codec_type = type;
    encoder->codec_id = id;
    encoder->thread_count = FOptions.ThreadCount; // 0: automatic
    const int flags =
        AV_OPT_FLAG_ENCODING_PARAM | (type == AVMEDIA_TYPE_VIDEO   ? AV_OPT_FLAG_VIDEO_PARAM
                                      : type == AVMEDIA_TYPE_AUDIO ? AV_OPT_FLAG_AUDIO_PARAM
                                                                   : AV_OPT_FLAG_SUBTITLE_PARAM);
    const TMediaKind kind = MediaKindOf(type);
    ApplyRecordedOptions(
        FOptionContexts, encoder, FOptionContexts.CodecOptions[type], flags,
        [this, kind](const char* option) { return RecordedOptionFor(option, kind); });
    setup.PrivateOptions = std::move(FOptions.PrivateOptions[kind]);
    FOptions.PrivateOptions[kind].clear();
    TakePendingEncoderOptions(setup, kind); // now that the encoder is known
}

void TCustomFFmpeg::SetGlobalHeader(AVCodecContext* encoder, AVFormatContext* context, bool video) {
    const bool wanted = (context->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    AVCodecContext* options = FOptionContexts.CodecOptions[video ? 0 : 1];
    const bool global =
        video ? ((FOptions.VideoGlobalHeader & 1) || (FOptions.VideoGlobalHeader == 0 && wanted))
              : wanted;
    if (global) {
        if (encoder) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (options) options->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (video && (FOptions.VideoGlobalHeader & 2)) {
        if (encoder) encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (options) options->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
}

void TCustomFFmpeg::NewVideoStream(int outputFile) {
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_VIDEO);
    AVFormatContext* context = OutputContext(outputFile);
    AVStream* stream = setup.Stream;
    stream->codecpar->codec_tag = FOptions.VideoCodecTag;
    if (FOptions.VideoStreamCopy) {
        setup.StreamCopy = true;
        stream->sample_aspect_ratio =
            SampleAspect(FOptions.FrameAspectRatio, FOptions.FrameWidth, FOptions.FrameHeight);
        stream->codecpar->sample_aspect_ratio = stream->sample_aspect_ratio;
    } else {
        ChooseEncoder(setup, context, FOptions.HasVideoCodecName, FOptions.VideoCodecName);
        SetupVideoEncoder(setup, context);
    }
    SetGlobalHeader(setup.EncoderContext.get(), context, true);
    if (setup.EncoderContext) {
        setup.EncoderContext->codec_tag = FOptions.VideoCodecTag;
        ff::avcodec.avcodec_parameters_from_context(stream->codecpar, setup.EncoderContext.get());
    }
    SetLanguage(stream, FOptions.VideoLanguage);
    FOptions.VideoDisable = false;
    FOptions.HasVideoCodecName = false;
    FOptions.VideoCodecName.clear();
    FOptions.VideoStreamCopy = false;
    FOptions.FramePixFmt = -1;
}

AVRational TCustomFFmpeg::ChooseFrameRate(const AVCodec* codec) const {
    AVRational rate{FOptions.FrameRateNum, FOptions.FrameRateDen};
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
    if (codec && codec->supported_framerates && !FOptions.ForceFps)
        rate = codec->supported_framerates[ff::avutil.av_find_nearest_q_idx(
            rate, codec->supported_framerates)];
    return rate;
}

int TCustomFFmpeg::ChoosePixelFormat(const AVCodec* codec, int strictness) const {
    const int wanted = FOptions.FramePixFmt;
    if (!codec || !codec->pix_fmts) return wanted;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == wanted) return wanted;
    if (codec->id == AV_CODEC_ID_MJPEG && strictness < 0 &&
        (wanted == AV_PIX_FMT_YUV420P || wanted == AV_PIX_FMT_YUV422P))
        return wanted;
    return codec->pix_fmts[0];
}

void TCustomFFmpeg::SetupVideoEncoder(TOutputStreamSetup& setup, AVFormatContext*) {
    AVCodecContext* encoder = setup.EncoderContext.get();
    const AVRational rate = ChooseFrameRate(setup.Encoder);
    encoder->framerate = rate;
    encoder->time_base = InverseRate(rate.num, rate.den);
    encoder->width = FOptions.FrameWidth;
    encoder->height = FOptions.FrameHeight;
    encoder->sample_aspect_ratio =
        SampleAspect(FOptions.FrameAspectRatio, FOptions.FrameWidth, FOptions.FrameHeight);
    setup.Stream->sample_aspect_ratio = encoder->sample_aspect_ratio;
    setup.Stream->time_base = encoder->time_base;
    encoder->pix_fmt = static_cast<AVPixelFormat>(
        ChoosePixelFormat(setup.Encoder, encoder->strict_std_compliance));
    if (FOptions.IntraOnly) encoder->gop_size = 0;
    if (FOptions.VideoQScale != 0.0f || FOptions.SameQuality) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * FOptions.VideoQScale);
    }
    encoder->intra_matrix = CopyMatrix(FOptions.IntraMatrix.get());
    encoder->inter_matrix = CopyMatrix(FOptions.InterMatrix.get());
    if (FOptions.HasRcOverride) SetRcOverride(encoder);
    if (encoder->rc_initial_buffer_occupancy == 0)
        encoder->rc_initial_buffer_occupancy = encoder->rc_buffer_size * 3 / 4;
    encoder->intra_dc_precision = FOptions.IntraDcPrecision - 8;
    if (FOptions.DoPsnr) encoder->flags |= AV_CODEC_FLAG_PSNR;
    if (FOptions.DoPass == 1)
        encoder->flags |= AV_CODEC_FLAG_PASS1;
    else if (FOptions.DoPass == 2)
        encoder->flags |= AV_CODEC_FLAG_PASS2;
}

// A copy in library memory (the codec context frees it), or nullptr.
uint16_t* TCustomFFmpeg::CopyMatrix(const std::array<uint16_t, 64>* matrix) const {
    if (!matrix) return nullptr;
    auto* copy = static_cast<uint16_t*>(ff::avutil.av_mallocz(sizeof(uint16_t) * 64));
    if (!copy) throw FFmpegException("av_mallocz fail");
    std::copy(matrix->begin(), matrix->end(), copy);
    return copy;
}

// "start,end,q/start,end,q...": q > 0 a fixed quantizer, else a quality factor of -q/100.
void TCustomFFmpeg::SetRcOverride(AVCodecContext* encoder) const {
    std::vector<RcOverride> groups;
    const std::string& text = FOptions.RcOverride;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        std::size_t slash = text.find('/', start);
        if (slash == std::string::npos) slash = text.size();
        int first = 0, last = 0, q = 0;
        if (std::sscanf(text.substr(start, slash - start).c_str(), "%d,%d,%d", &first, &last, &q) !=
            3)
            throw FFmpegException("error parsing rc_override");
        RcOverride group{};
        group.start_frame = first;
        group.end_frame = last;
        if (q > 0) {
            group.qscale = q;
            group.quality_factor = 1.0f;
        } else {
            group.qscale = 0;
            group.quality_factor = -q / 100.0f;
        }
        groups.push_back(group);
        start = slash + 1;
    }
    if (groups.empty()) return;
    auto* list =
        static_cast<RcOverride*>(ff::avutil.av_mallocz(sizeof(RcOverride) * groups.size()));
    if (!list) throw FFmpegException("av_mallocz fail");
    std::copy(groups.begin(), groups.end(), list);
    ff::avutil.av_freep(&encoder->rc_override);
    encoder->rc_override = list;
    encoder->rc_override_count = static_cast<int>(groups.size());
}

void TCustomFFmpeg::NewAudioStream(int outputFile) {
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_AUDIO);
    AVFormatContext* context = OutputContext(outputFile);
    AVStream* stream = setup.Stream;
    stream->codecpar->codec_tag = FOptions.AudioCodecTag;
    if (FOptions.AudioStreamCopy) {
        setup.StreamCopy = true;
        stream->codecpar->sample_rate = FOptions.AudioSampleRate;
        ff::avutil.av_channel_layout_default(&stream->codecpar->ch_layout, FOptions.AudioChannels);
    } else {
        ChooseEncoder(setup, context, FOptions.HasAudioCodecName, FOptions.AudioCodecName);
        SetupAudioEncoder(setup);
    }
    SetGlobalHeader(setup.EncoderContext.get(), context, false);
    if (setup.EncoderContext) {
        setup.EncoderContext->codec_tag = FOptions.AudioCodecTag;
        ff::avcodec.avcodec_parameters_from_context(stream->codecpar, setup.EncoderContext.get());
    }
    SetLanguage(stream, FOptions.AudioLanguage);
    FOptions.AudioDisable = false;
    FOptions.HasAudioCodecName = false;
    FOptions.AudioCodecName.clear();
    FOptions.AudioStreamCopy = false;
}

int TCustomFFmpeg::ChooseSampleRate(const AVCodec* codec) const {
    const int wanted = FOptions.AudioSampleRate;
    if (!codec || !codec->supported_samplerates) return wanted;
    int best = codec->supported_samplerates[0];
    for (const int* rate = codec->supported_samplerates; *rate; ++rate)
        if (std::abs(*rate - wanted) < std::abs(best - wanted)) best = *rate;
    if (best != wanted)
        Log(llWarning,
            FormatText("Requested sampling rate unsupported using closest supported (%d)", best));
    return best;
}

void TCustomFFmpeg::SetupAudioEncoder(TOutputStreamSetup& setup) {
    AVCodecContext* encoder = setup.EncoderContext.get();
    const AVCodec* codec = setup.Encoder;
    if (FOptions.AudioQScale > -99999.0f) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * FOptions.AudioQScale);
    }
    const uint64_t layout = static_cast<uint64_t>(FOptions.AudioChannelLayout);
    if (layout != 0 && __builtin_popcountll(layout) == FOptions.AudioChannels)
        ff::avutil.av_channel_layout_from_mask(&encoder->ch_layout, layout);
    else
        ff::avutil.av_channel_layout_default(&encoder->ch_layout, FOptions.AudioChannels);
    int format = FOptions.AudioSampleFmt;
    if (codec && codec->sample_fmts) {
        bool listed = false;
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            listed |= *f == format;
        if (!listed) format = codec->sample_fmts[0];
    }
    encoder->sample_fmt = static_cast<AVSampleFormat>(format);
    encoder->sample_rate = ChooseSampleRate(codec);
    encoder->time_base = AVRational{1, encoder->sample_rate > 0 ? encoder->sample_rate : 1};
    setup.Stream->time_base = encoder->time_base;
}

void TCustomFFmpeg::NewSubtitleStream(int outputFile) {
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_SUBTITLE);
    AVStream* stream = setup.Stream;
    stream->codecpar->codec_tag = FOptions.SubtitleCodecTag;
    if (FOptions.SubtitleStreamCopy) {
        setup.StreamCopy = true;
    } else {
        const AVCodec* codec = nullptr;
        if (!FindCodec(FOptions.HasSubtitleCodecName ? FOptions.SubtitleCodecName : "",
                       AVMEDIA_TYPE_SUBTITLE, true, CodecStrictness(3), &codec))
            throw FFmpegException(FErrorText);
        if (codec || !FOptions.HasSubtitleCodecName) {
            ChooseEncoder(setup, OutputContext(outputFile), FOptions.HasSubtitleCodecName,
                          FOptions.SubtitleCodecName);
            setup.EncoderContext->codec_tag = FOptions.SubtitleCodecTag;
            ff::avcodec.avcodec_parameters_from_context(stream->codecpar,
                                                        setup.EncoderContext.get());
        }
    }
    SetLanguage(stream, FOptions.SubtitleLanguage);
    FOptions.SubtitleDisable = false;
    FOptions.HasSubtitleCodecName = false;
    FOptions.SubtitleCodecName.clear();
    FOptions.SubtitleStreamCopy = false;
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
