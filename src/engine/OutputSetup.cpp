// Opening a task's output files, joining, creating their streams with the
// encoders' contexts prepared from the option state, and closing them.
#include "engine/OutputSetup.h"

#include "engine/CodecChoice.h"
#include "engine/CopiedAttachments.h"
#include "engine/EncoderSettings.h"
#include "engine/OptionCheck.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/UnicodeProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

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

// A container whose picture codec goes in only as a cover (MP3's ID3v2
// picture frame): it takes no moving picture, only a still attached to the
// sound, at most one.
bool TakesPicturesOnlyAsCover(const AVOutputFormat* format) {
    return format->video_codec != AV_CODEC_ID_NONE &&
           ff::avformat.avformat_query_codec(format, format->video_codec, FF_COMPLIANCE_NORMAL) ==
               MKTAG('A', 'P', 'I', 'C');
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

void SetLanguage(AVStream* stream, std::string& language) {
    if (!language.empty())
        ff::avutil.av_dict_set(&stream->metadata, "language", language.c_str(), 0);
    language.clear();
}

} // namespace

TOutputSetup::TOutputSetup(TOutputSetupLinks links)
    : FLinks(links), FOptions(links.Options.State()) {}

TOutputSetup::~TOutputSetup() {
    Clear();
}

void TOutputSetup::Clear() {
    FStreams.clear();
    FFiles.clear(); // closes the files; an empty one is removed
}

AVFormatContext* TOutputSetup::Context(int index) const {
    return index >= 0 && index < FileCount() ? FFiles[index]->Context : nullptr;
}

// ---- opening ----

int TOutputSetup::Open(const std::string& fileName, bool join) {
    if (FJoined) {
        FLinks.ErrorText = "Cannot join more than one output file.";
        return -1;
    }
    const std::size_t streamsBefore = FStreams.size();
    const std::size_t filesBefore = FFiles.size();
    try {
        if (!OpenSteps(fileName, join)) {
            DropFrom(filesBefore, streamsBefore);
            return -1;
        }
    } catch (const std::exception& e) {
        FLinks.ErrorText = e.what();
        DropFrom(filesBefore, streamsBefore);
        return -1;
    }
    return FileCount();
}

void TOutputSetup::DropFiles(int files) {
    if (files < 0 || files >= FileCount()) return;
    std::size_t streams = 0;
    while (streams < FStreams.size() && FStreams[streams].FileIndex < files)
        ++streams;
    FJoined = false; // a joined output fills every slot up to the last
    DropFrom(static_cast<std::size_t>(files), streams);
}

void TOutputSetup::DropFrom(std::size_t files, std::size_t streams) {
    FStreams.resize(std::min(streams, FStreams.size()));
    while (FFiles.size() > files)
        FFiles.pop_back();
}

const AVOutputFormat* TOutputSetup::GuessFormat(const std::string& fileName) {
    const AVOutputFormat* format = nullptr;
    if (!FOptions.FormatName.empty()) {
        format = ff::avformat.av_guess_format(FOptions.FormatName.c_str(), nullptr, nullptr);
        if (!format)
            FLinks.ErrorText =
                FormatText("Requested output format '%s' is not a suitable output format",
                           FOptions.FormatName.c_str());
        FOptions.FormatName.clear();
        return format;
    }
    format = ff::avformat.av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!format)
        FLinks.ErrorText =
            FormatText("Unable to find a suitable output format for '%s'", fileName.c_str());
    return format;
}

bool TOutputSetup::OpenSteps(const std::string& fileName, bool join) {
    CheckNotAnInput(fileName);
    const AVOutputFormat* format = GuessFormat(fileName);
    if (!format) return false;
    AVFormatContext* context = nullptr;
    const std::string libraryName = ToLibraryName(fileName);
    if (ff::avformat.avformat_alloc_output_context2(&context, format, nullptr,
                                                    libraryName.c_str()) < 0 ||
        !context)
        throw FFmpegException("avformat_alloc_context failed");
    auto file = std::make_shared<TOutputFile>(context);
    FFiles.push_back(file);
    const int outputIndex = FileCount() - 1;
    AddDefaultStreams(context, outputIndex, join);
    MoveMetadata(context);
    OpenIo(*file, fileName);
    ApplyMuxerSettings(context);
    if (join && static_cast<int>(FLinks.Inputs.size()) > 1) {
        FJoined = true;
        Join();
    }
    return true;
}

void TOutputSetup::AddDefaultStreams(AVFormatContext* context, int outputFile, bool join) {
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
    if (!FLinks.Inputs.empty()) {
        bool hasVideo = false, hasAudio = false, hasSubtitle = false;
        const std::size_t inputs = join ? 1 : FLinks.Inputs.size();
        for (std::size_t i = 0; i < inputs; ++i) {
            const AVFormatContext* input = FLinks.Inputs[i].Context.get();
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
            useSubtitle =
                CanEncodeSubtitles(FLinks.Inputs[0].Context.get(), format->subtitle_codec);
    }
    // A container that holds only a cover gets the source's cover below, never its video.
    useVideo = useVideo && !FOptions.VideoDisable && !TakesPicturesOnlyAsCover(format);
    useAudio = useAudio && !FOptions.AudioDisable;
    useSubtitle = useSubtitle && !FOptions.SubtitleDisable;
    auto create = [&](bool use, const char* what, void (TOutputSetup::*add)(int)) {
        if (!use) return;
        try {
            (this->*add)(outputFile);
        } catch (const std::exception& e) {
            throw FFmpegException(FormatText("new_%s_stream fail: %s", what, e.what()));
        }
    };
    create(useVideo, "video", &TOutputSetup::NewVideoStream);
    create(useAudio, "audio", &TOutputSetup::NewAudioStream);
    create(useSubtitle, "subtitle", &TOutputSetup::NewSubtitleStream);
    if (!useVideo && !join) AddCoverStream(outputFile);
}

// An output without pictures whose container holds a cover picture takes
// the first input's cover, copied as it is and marked as attached (never as
// a video stream of one frame). Explicit stream maps decide alone; a joined
// output, whose segments each bring their own, goes without.
void TOutputSetup::AddCoverStream(int outputFile) {
    if (FLinks.Inputs.empty() || !FOptions.StreamMaps.empty()) return;
    if (!HoldsCoverPicture(Context(outputFile)->oformat)) return;
    const int cover = CoverStreamIndex(FLinks.Inputs[0].Context.get());
    if (cover < 0) return;
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_VIDEO);
    setup.StreamCopy = true;
    setup.SourceStream = cover;
    setup.Stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
}

// One copied output stream for each video, audio and subtitle stream of the
// first input, in its order; data streams stay behind. An output that keeps
// attached files takes the attachments and cover pictures as such, after
// the other streams; elsewhere a cover is copied as a picture stream.
void TOutputSetup::AddCopiedStreams(int outputFile) {
    FOptions.CopyAllStreams = false;
    if (FLinks.Inputs.empty()) return;
    const AVFormatContext* input = FLinks.Inputs[0].Context.get();
    const bool attachments = KeepsAttachments(Context(outputFile));
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const int type = input->streams[i]->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO &&
            type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        if (attachments && GoesAsAttachment(input->streams[i])) continue;
        TOutputStreamSetup& setup = NewStream(outputFile, type);
        setup.StreamCopy = true;
        setup.SourceStream = static_cast<int>(i);
        setup.WholeFileCopy = true;
    }
    if (attachments) CopyAttachments(Context(outputFile), input);
    FOptions.VideoStreamCopy = FOptions.AudioStreamCopy = FOptions.SubtitleStreamCopy = false;
}

bool TOutputSetup::CanEncodeSubtitles(const AVFormatContext* input, int codecId) const {
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
void TOutputSetup::MoveMetadata(AVFormatContext* context) {
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
void TOutputSetup::OpenIo(TOutputFile& file, const std::string& fileName) {
    AVFormatContext* context = file.Context;
    const AVOutputFormat* format = context->oformat;
    const std::string libraryName = ToLibraryName(fileName);
    if ((format->flags & AVFMT_NEEDNUMBER) &&
        !ff::avformat.av_filename_number_test(libraryName.c_str()))
        throw FFmpegException(MediaErrorText(fileName, AVERROR(EDOM)));
    if (format->flags & AVFMT_NOFILE) return;
    file.FileName = fileName;
    file.Target.Prepare(libraryName, FLinks.NewOutputsOnly);
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

void TOutputSetup::ApplyMuxerSettings(AVFormatContext* context) {
    context->max_delay = static_cast<int>(FOptions.MuxMaxDelay * 1000000);
    ff::avutil.av_opt_set_int(context, "preload",
                              static_cast<int64_t>(FOptions.MuxPreload * 1000000),
                              AV_OPT_SEARCH_CHILDREN);
    if (FOptions.LoopOutput >= 0)
        ff::avutil.av_opt_set_int(context, "loop", FOptions.LoopOutput, AV_OPT_SEARCH_CHILDREN);
    context->flags |= AVFMT_FLAG_NONBLOCK;
    ApplyRecordedOptions(FLinks.Options.Contexts(), context,
                         FLinks.Options.Contexts().FormatOptions, AV_OPT_FLAG_ENCODING_PARAM);
    for (const auto& [name, value] : FOptions.FormatPrivateOptions)
        if (ff::avutil.av_opt_set(context, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) <
            0) {
            if (FLinks.StrictOptions) throw FFmpegException(InvalidValueText(name, value));
            GetLogger().Log(nullptr, llWarning, InvalidValueText(name, value));
        }
    FOptions.FormatPrivateOptions.clear();
    FLinks.Options.TakePendingMuxerOptions(context); // now that the muxer is known
    FOptions.StreamIdMap.fill(0);
}

void TOutputSetup::Join() {
    int64_t total = 0;
    for (const TInputFileSlot& input : FLinks.Inputs)
        if (input.Context->duration != AV_NOPTS_VALUE && input.Context->duration > 0)
            total += input.Context->duration;
    FLinks.TotalDuration = total == 0 ? -1 : total;
    const std::shared_ptr<TOutputFile> file = FFiles.back();
    while (FFiles.size() < FLinks.Inputs.size() && FileCount() < MAX_FILES)
        FFiles.push_back(file);
}

std::string TOutputSetup::CloseFiles(bool keep) {
    std::string error;
    for (const std::shared_ptr<TOutputFile>& file : FFiles) {
        const std::string text = file->Close(keep); // a joined file closes once
        if (error.empty()) error = text;
    }
    return error;
}

// Refuses an input that is one of the task's outputs, or the reverse,
// before anything is opened for writing.
void TOutputSetup::CheckNotAnInput(const std::string& outputName) const {
    const std::vector<TFileIdentity> output = IdentifyFiles(ToLibraryName(outputName));
    for (const TInputFileSlot& input : FLinks.Inputs) {
        const char* url = input.Context ? input.Context->url : nullptr;
        if (url && SharedFile(output, IdentifyFiles(url)))
            throw FFmpegException(FormatText("Output file '%s' is the same file as input file '%s'",
                                             outputName.c_str(), FromLibraryName(url).c_str()));
    }
}

bool TOutputSetup::ReplacesFile(const TFileIdentity& file) const {
    for (const std::shared_ptr<TOutputFile>& output : FFiles)
        if (output->Target.Replaces() && IsSameFile(file, output->Identity)) return true;
    return false;
}

void TOutputSetup::CheckNotAnOutput(const std::string& inputName) const {
    const std::vector<TFileIdentity> input = IdentifyFiles(ToLibraryName(inputName));
    for (const std::shared_ptr<TOutputFile>& output : FFiles)
        if (!output->FileName.empty() && SharedFile(input, {output->Identity}))
            throw FFmpegException(FormatText("Input file '%s' is the same file as output file '%s'",
                                             inputName.c_str(), output->FileName.c_str()));
}

// ---- streams ----

TOutputStreamSetup& TOutputSetup::NewStream(int outputFile, int mediaType) {
    AVFormatContext* context = Context(outputFile);
    if (!context) throw FFmpegException("At least one output file must be specified");
    const unsigned index = context->nb_streams;
    AVStream* stream = ff::avformat.avformat_new_stream(context, nullptr);
    if (!stream) throw FFmpegException("Could not alloc stream");
    if (index < MAX_STREAMS) stream->id = FOptions.StreamIdMap[index];
    stream->codecpar->codec_type = static_cast<AVMediaType>(mediaType);
    TOutputStreamSetup setup;
    // A joined file fills several slots; its streams belong to its first one.
    setup.FileIndex = outputFile;
    while (setup.FileIndex > 0 && FFiles[setup.FileIndex - 1] == FFiles[outputFile])
        --setup.FileIndex;
    setup.Stream = stream;
    setup.MediaType = mediaType;
    const TMediaKind kind = MediaKindOf(mediaType);
    setup.BitstreamFilters = std::move(FOptions.BitstreamFilters[kind]);
    FOptions.BitstreamFilters[kind].clear();
    FStreams.push_back(std::move(setup));
    return FStreams.back();
}

// Allocates the stream's encoder context and fills in the recorded options.
void TOutputSetup::ChooseEncoder(TOutputStreamSetup& setup, AVFormatContext* context, bool hasName,
                                 const std::string& name) {
    const AVMediaType type = static_cast<AVMediaType>(setup.MediaType);
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (hasName) {
        if (!FindCodecByName(name, type, true, CodecStrictness(FLinks.Options.Contexts(), type),
                             &codec, FLinks.ErrorText))
            throw FFmpegException(FLinks.ErrorText);
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
    ApplyRecordedOptions(FLinks.Options.Contexts(), encoder,
                         FLinks.Options.Contexts().CodecOptions[type], flags,
                         [this, kind](const char* option) {
                             return FLinks.Options.RecordedOptionFor(option, kind);
                         });
    setup.PrivateOptions = std::move(FOptions.PrivateOptions[kind]);
    FOptions.PrivateOptions[kind].clear();
    FLinks.Options.TakePendingEncoderOptions(setup.Encoder, setup.PrivateOptions,
                                             kind); // now that the encoder is known
}

void TOutputSetup::NewVideoStream(int outputFile) {
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_VIDEO);
    AVFormatContext* context = Context(outputFile);
    AVStream* stream = setup.Stream;
    const TEncoderSettings settings(FOptions, FLinks.Options.Contexts());
    stream->codecpar->codec_tag = FOptions.VideoCodecTag;
    if (FOptions.VideoStreamCopy) {
        setup.StreamCopy = true;
        stream->sample_aspect_ratio =
            SampleAspect(FOptions.FrameAspectRatio, FOptions.FrameWidth, FOptions.FrameHeight);
        stream->codecpar->sample_aspect_ratio = stream->sample_aspect_ratio;
    } else {
        ChooseEncoder(setup, context, FOptions.HasVideoCodecName, FOptions.VideoCodecName);
        settings.SetupVideo(setup.EncoderContext.get(), setup.Encoder, setup.Stream);
    }
    settings.SetGlobalHeader(setup.EncoderContext.get(), context, true);
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

void TOutputSetup::NewAudioStream(int outputFile) {
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_AUDIO);
    AVFormatContext* context = Context(outputFile);
    AVStream* stream = setup.Stream;
    const TEncoderSettings settings(FOptions, FLinks.Options.Contexts());
    stream->codecpar->codec_tag = FOptions.AudioCodecTag;
    if (FOptions.AudioStreamCopy) {
        setup.StreamCopy = true;
        stream->codecpar->sample_rate = FOptions.AudioSampleRate;
        ff::avutil.av_channel_layout_default(&stream->codecpar->ch_layout, FOptions.AudioChannels);
    } else {
        ChooseEncoder(setup, context, FOptions.HasAudioCodecName, FOptions.AudioCodecName);
        settings.SetupAudio(setup.EncoderContext.get(), setup.Encoder, setup.Stream);
    }
    settings.SetGlobalHeader(setup.EncoderContext.get(), context, false);
    if (setup.EncoderContext) {
        setup.EncoderContext->codec_tag = FOptions.AudioCodecTag;
        ff::avcodec.avcodec_parameters_from_context(stream->codecpar, setup.EncoderContext.get());
    }
    SetLanguage(stream, FOptions.AudioLanguage);
    setup.SourceStream = FOptions.AudioSourceStream;
    setup.SoundGiven = FOptions.AudioGiven;
    FOptions.AudioSourceStream = -1;
    FOptions.AudioDisable = false;
    FOptions.HasAudioCodecName = false;
    FOptions.AudioCodecName.clear();
    FOptions.AudioStreamCopy = false;
}

void TOutputSetup::NewSubtitleStream(int outputFile) {
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_SUBTITLE);
    AVStream* stream = setup.Stream;
    stream->codecpar->codec_tag = FOptions.SubtitleCodecTag;
    if (FOptions.SubtitleStreamCopy) {
        setup.StreamCopy = true;
    } else {
        const AVCodec* codec = nullptr;
        if (!FindCodecByName(FOptions.HasSubtitleCodecName ? FOptions.SubtitleCodecName : "",
                             AVMEDIA_TYPE_SUBTITLE, true,
                             CodecStrictness(FLinks.Options.Contexts(), 3), &codec,
                             FLinks.ErrorText))
            throw FFmpegException(FLinks.ErrorText);
        if (codec || !FOptions.HasSubtitleCodecName) {
            ChooseEncoder(setup, Context(outputFile), FOptions.HasSubtitleCodecName,
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
