// Creating a task's output streams: choosing the encoder and preparing its
// context from the option state for pictures, sound and subtitles.
#include "engine/FFmpeg.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <cmath>

namespace {

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
