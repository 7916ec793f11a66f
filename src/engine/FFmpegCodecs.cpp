// Opening the codecs of a conversion in its set-up (the encoders,
// subtitles' after the others, then the decoders) and the inputs' start
// times; the transcoder's closing of them, at the end or after an error.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <mutex>

void TConversionSetup::OpenEncoders(bool subtitles) {
    for (TOutputStream& ost : FOutputStreams) {
        if (!ost.EncodingNeeded || (ost.MediaType == AVMEDIA_TYPE_SUBTITLE) != subtitles) continue;
        if (subtitles) CopySubtitleHeader(ost);
        const AVCodec* codec = ost.Setup->Encoder;
        if (!codec) codec = ff::avcodec.avcodec_find_encoder(ost.Encoder->codec_id);
        if (!codec) {
            const std::string text =
                FormatText("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                           static_cast<int>(ost.Encoder->codec_id), ost.FileIndex, ost.StreamIndex,
                           TypeName(ost.MediaType));
            LogStreamMapping();
            Log(llError, text);
            throw FFmpegException(text);
        }
        if (ost.MediaType == AVMEDIA_TYPE_VIDEO && std::string(codec->name) == "libx264")
            FitH264Limits(ost);
        AVDictionary* options = nullptr;
        for (const auto& [name, value] : ost.Setup->PrivateOptions)
            ff::avutil.av_dict_set(&options, name.c_str(), value.c_str(), 0);
        ff::DictionaryPtr owned;
        int code;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            code = ff::avcodec.avcodec_open2(ost.Encoder, codec, &options);
        }
        owned.reset(options);
        if (code < 0) {
            const std::string text = FormatText(
                "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                "parameters such as bit_rate, rate, width or height. Please check error log "
                "message to find out more detail information.",
                ost.FileIndex, ost.StreamIndex, TypeName(ost.MediaType));
            LogStreamMapping();
            Log(llError, text);
            throw FFmpegException(text);
        }
        ost.EncoderOpen = true;
        for (const AVDictionaryEntry* e = nullptr;
             (e = ff::avutil.av_dict_get(options, "", e, AV_DICT_IGNORE_SUFFIX));)
            Log(llWarning, FormatText("Option %s not found for encoder %s", e->key, codec->name));
        ff::avcodec.avcodec_parameters_from_context(ost.Stream->codecpar, ost.Encoder);
        ost.Stream->time_base = ost.Encoder->time_base;
        if (ost.MediaType == AVMEDIA_TYPE_VIDEO) {
            ost.Stream->avg_frame_rate = ost.Encoder->framerate;
            ost.Stream->sample_aspect_ratio = ost.Encoder->sample_aspect_ratio;
        }
        if (ost.MediaType == AVMEDIA_TYPE_AUDIO) {
            ost.Audio.Fifo.reset(ff::avutil.av_audio_fifo_alloc(
                ost.Encoder->sample_fmt, ost.Encoder->ch_layout.nb_channels, 1024));
            if (!ost.Audio.Fifo) throw FFmpegException("av_fifo_alloc fail");
        }
        FWriter.CountHeader(ost.Encoder->extradata_size);
    }
}

void TConversionSetup::CopySubtitleHeader(TOutputStream& ost) {
    AVCodecContext* encoder = ost.Encoder;
    encoder->time_base = AVRational{1, 1000};
    const AVCodecContext* decoder = FInputStreams[ost.SourceIndex].DecoderContext.get();
    if (!decoder || !decoder->subtitle_header || encoder->subtitle_header) return;
    encoder->subtitle_header = static_cast<uint8_t*>(
        ff::avutil.av_mallocz(static_cast<std::size_t>(decoder->subtitle_header_size) + 1));
    if (!encoder->subtitle_header) throw FFmpegException("av_mallocz fail");
    std::copy(decoder->subtitle_header, decoder->subtitle_header + decoder->subtitle_header_size,
              encoder->subtitle_header);
    encoder->subtitle_header_size = decoder->subtitle_header_size;
}

void TConversionSetup::OpenDecoders() {
    for (TInputStream& ist : FInputStreams) {
        if (!ist.DecodingNeeded) continue;
        const AVCodecParameters* par = ist.Stream->codecpar;
        const AVCodec* codec =
            ist.Decoder ? ist.Decoder : ff::avcodec.avcodec_find_decoder(par->codec_id);
        const char* type = TypeName(par->codec_type);
        if (!codec)
            throw FFmpegException(
                FormatText("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                           static_cast<int>(par->codec_id), ist.FileIndex, ist.StreamIndex, type));
        ist.DecoderContext.reset(ff::avcodec.avcodec_alloc_context3(codec));
        AVCodecContext* decoder = ist.DecoderContext.get();
        if (!decoder || ff::avcodec.avcodec_parameters_to_context(decoder, par) < 0)
            throw FFmpegException("avcodec_alloc_context failed");
        decoder->pkt_timebase = ist.Stream->time_base;
        decoder->thread_count = FOptions.ThreadCount;
        const int mediaType = par->codec_type;
        if (mediaType >= 0 && mediaType < 5)
            ApplyRecordedOptions(FEngine.FOptionContexts, decoder,
                                 FEngine.FOptionContexts.CodecOptions[mediaType],
                                 AV_OPT_FLAG_DECODING_PARAM);
        int code;
        {
            std::lock_guard<std::mutex> lock(CodecLock());
            code = ff::avcodec.avcodec_open2(decoder, codec, nullptr);
        }
        if (code < 0)
            throw FFmpegException(
                FormatText("Error while opening decoder for input stream #%d.%d (%s)",
                           ist.FileIndex, ist.StreamIndex, type));
        ist.DecoderOpen = true;
        ist.Frame.reset(ff::avutil.av_frame_alloc());
        if (!ist.Frame) throw FFmpegException("av_mallocz fail");
    }
}

void TTranscoder::CloseCodecs() {
    StopEncodingStages();
    std::lock_guard<std::mutex> lock(CodecLock());
    for (TOutputStream& ost : FOutputStreams) {
        if (ost.Encoder) ff::avutil.av_freep(&ost.Encoder->stats_in); // two-pass statistics
        if (ost.EncoderOpen) {
            ost.EncoderOpen = false;
            ost.Setup->EncoderContext.reset();
            ost.Encoder = nullptr;
        }
    }
    for (TInputStream& ist : FInputStreams)
        if (ist.DecoderOpen) {
            ist.DecoderOpen = false;
            ist.DecoderContext.reset();
        }
}

void TConversionSetup::SetStartTimes() {
    for (TInputStream& ist : FInputStreams) {
        const AVRational rate = ist.Stream->avg_frame_rate;
        const int delay = ist.DecoderContext ? ist.DecoderContext->has_b_frames : 0;
        ist.Pts = rate.num && rate.den
                      ? -RoundHalfEvenInt(static_cast<double>(delay) * AV_TIME_BASE / av_q2d(rate))
                      : 0;
        ist.NextPts = AV_NOPTS_VALUE;
        ist.IsStart = true;
    }
}
