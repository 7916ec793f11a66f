// What an input being opened takes from the option state and gives back
// to it (InputSettings.h).
#include "engine/InputSettings.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <string>
#include <utility>

namespace {

bool IsCoverPicture(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

} // namespace

AVDictionary* TInputSettings::Parameters() const {
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

bool TInputSettings::SelectProgram(AVFormatContext* context) {
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
    return found;
}

int64_t TInputSettings::SeekToStart(AVFormatContext* context, const std::string& fileName) {
    int64_t timestamp = FOptions.StartTime;
    if (context->start_time != AV_NOPTS_VALUE) timestamp += context->start_time;
    if (FOptions.StartTime == 0) return timestamp;
    const int code = ff::avformat.av_seek_frame(context, -1, timestamp, AVSEEK_FLAG_BACKWARD);
    if (code < 0 && FOptions.Verbose > 0)
        GetLogger().Log(nullptr, llVerbose,
                        FormatText("%s: could not seek to position %0.3f", fileName.c_str(),
                                   static_cast<double>(timestamp) / AV_TIME_BASE));
    FOptions.StartTime = 0;
    return timestamp;
}

void TInputSettings::TakeStreams(AVFormatContext* context, std::vector<const AVCodec*>& decoders,
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
            if (video < 0 || static_cast<int>(i) == video) TakeVideo(stream);
            decoders.push_back(chosen[TMediaKind::Video]);
            // A cover picture is read even without pictures: it may go along
            // as the sound's cover (AddCoverStream).
            if (FOptions.VideoDisable && !IsCoverPicture(stream))
                stream->discard = AVDISCARD_ALL;
            else if (FOptions.VideoDiscard != 0)
                stream->discard = static_cast<AVDiscard>(FOptions.VideoDiscard);
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (audio < 0 || static_cast<int>(i) == audio) TakeAudio(stream);
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

void TInputSettings::TakeVideo(const AVStream* stream) {
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
    const AVCodecContext* decodeOptions = FContexts.CodecOptions[0];
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
        GetLogger().Log(nullptr, llInfo,
                        FormatText("Seems stream %d codec frame rate differs from container frame "
                                   "rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
                                   stream->index, av_q2d(average), average.num, average.den,
                                   av_q2d(rate), rate.num, rate.den));
    FOptions.FrameRateNum = rate.num;
    FOptions.FrameRateDen = rate.den;
}

void TInputSettings::TakeAudio(const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    FOptions.AudioChannelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                                      ? static_cast<int64_t>(par->ch_layout.u.mask)
                                      : 0;
    FOptions.AudioChannels = par->ch_layout.nb_channels;
    FOptions.AudioSampleRate = par->sample_rate;
    FOptions.AudioSampleFmt = par->format;
    FOptions.AudioGiven = {};
}
