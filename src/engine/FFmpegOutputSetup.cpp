// Opening a task's output files: the format, the default streams (with a
// cover picture where the container takes one), the metadata, the byte
// stream and the muxer's settings.
#include "engine/FFmpeg.h"

#include "engine/OptionCheck.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/UnicodeProtocol.h"

#include <algorithm>
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
    FTaskOptions.TakePendingMuxerOptions(context); // now that the muxer is known
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
