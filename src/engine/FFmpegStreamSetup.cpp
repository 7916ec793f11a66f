// Creating a task's output streams: choosing the encoder and preparing its
// context from the option state for pictures, sound and subtitles.
#include "engine/FFmpeg.h"

#include "engine/EncoderSettings.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <cmath>

namespace {

void SetLanguage(AVStream* stream, std::string& language) {
    if (!language.empty())
        ff::avutil.av_dict_set(&stream->metadata, "language", language.c_str(), 0);
    language.clear();
}

} // namespace

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
        [this, kind](const char* option) { return FTaskOptions.RecordedOptionFor(option, kind); });
    setup.PrivateOptions = std::move(FOptions.PrivateOptions[kind]);
    FOptions.PrivateOptions[kind].clear();
    FTaskOptions.TakePendingEncoderOptions(setup.Encoder, setup.PrivateOptions,
                                           kind); // now that the encoder is known
}

void TCustomFFmpeg::NewVideoStream(int outputFile) {
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_VIDEO);
    AVFormatContext* context = OutputContext(outputFile);
    AVStream* stream = setup.Stream;
    const TEncoderSettings settings(FOptions, FOptionContexts);
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

void TCustomFFmpeg::NewAudioStream(int outputFile) {
    TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_AUDIO);
    AVFormatContext* context = OutputContext(outputFile);
    AVStream* stream = setup.Stream;
    const TEncoderSettings settings(FOptions, FOptionContexts);
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
    FOptions.AudioDisable = false;
    FOptions.HasAudioCodecName = false;
    FOptions.AudioCodecName.clear();
    FOptions.AudioStreamCopy = false;
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
