// Opening a task's input files: the format and its parameters, the
// program, the start point and the streams' decoders and settings.
#include "engine/FFmpeg.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/UnicodeProtocol.h"

#include <mutex>

namespace {

bool IsCoverPicture(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

} // namespace

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
