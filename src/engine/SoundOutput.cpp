// Sound output: volume, resampling and sample-format conversion, the
// synchronisation that pads, drops or stretches samples, and the queue that
// cuts samples into encoder frames.
#include "engine/SoundOutput.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

template <class T> T Clip(int64_t value, int64_t low, int64_t high) {
    return static_cast<T>(std::clamp(value, low, high));
}

// Scales `count` samples by volume / 256 with clipping to full scale.
void ScaleSamples(uint8_t* data, int count, AVSampleFormat format, int volume) {
    switch (format) {
    case AV_SAMPLE_FMT_U8:
        for (int i = 0; i < count; ++i)
            data[i] = Clip<uint8_t>((((data[i] - 128) * volume + 128) >> 8) + 128, 0, 255);
        break;
    case AV_SAMPLE_FMT_S16: {
        auto* s = reinterpret_cast<int16_t*>(data);
        for (int i = 0; i < count; ++i)
            s[i] = Clip<int16_t>((s[i] * volume + 128) >> 8, -32768, 32767);
        break;
    }
    case AV_SAMPLE_FMT_S32: {
        auto* s = reinterpret_cast<int32_t*>(data);
        for (int i = 0; i < count; ++i)
            s[i] = Clip<int32_t>((static_cast<int64_t>(s[i]) * volume + 128) >> 8, INT32_MIN,
                                 INT32_MAX);
        break;
    }
    case AV_SAMPLE_FMT_FLT: {
        auto* s = reinterpret_cast<float*>(data);
        const float gain = volume / 256.0f;
        for (int i = 0; i < count; ++i)
            s[i] = std::clamp(s[i] * gain, -1.0f, 1.0f);
        break;
    }
    case AV_SAMPLE_FMT_DBL: {
        auto* s = reinterpret_cast<double*>(data);
        const double gain = volume / 256.0;
        for (int i = 0; i < count; ++i)
            s[i] = std::clamp(s[i] * gain, -1.0, 1.0);
        break;
    }
    default:
        break;
    }
}

} // namespace

void TSoundOutput::ApplyVolume(AVFrame* samples, int volume) {
    if (ff::avutil.av_frame_make_writable(samples) < 0) return;
    const auto format = static_cast<AVSampleFormat>(samples->format);
    const int channels = samples->ch_layout.nb_channels;
    const bool planar = ff::avutil.av_sample_fmt_is_planar(format);
    const AVSampleFormat packed = ff::avutil.av_get_packed_sample_fmt(format);
    const int planes = planar ? channels : 1;
    const int count = planar ? samples->nb_samples : samples->nb_samples * channels;
    for (int p = 0; p < planes; ++p)
        ScaleSamples(samples->extended_data[p], count, packed, volume);
}

void TSoundOutput::Output(TOutputStream& ost, TInputStream& ist, int64_t syncPts, AVFrame* samples,
                          int cut) {
    if (!ost.EncoderOpen || samples->nb_samples <= 0 || samples->sample_rate <= 0) return;
    EnsureResampler(ost, samples);
    int skip = 0, silence = 0;
    if (!Sync(ost, ist, syncPts, samples, skip, silence)) return;
    skip = std::min(skip + cut, samples->nb_samples);
    if (skip >= samples->nb_samples) return;
    AVCodecContext* encoder = ost.Encoder;
    if (silence > 0) {
        uint8_t** planes = ConvertedPlanes(ost, silence);
        ff::avutil.av_samples_set_silence(planes, 0, silence, encoder->ch_layout.nb_channels,
                                          encoder->sample_fmt);
        PushSamples(ost, planes, silence);
    }
    // The input from the first sample kept.
    const auto format = static_cast<AVSampleFormat>(samples->format);
    const int channels = samples->ch_layout.nb_channels;
    const int bytes = ff::avutil.av_get_bytes_per_sample(format);
    const bool planar = ff::avutil.av_sample_fmt_is_planar(format);
    const int planesIn = planar ? channels : 1;
    uint8_t* input[AV_NUM_DATA_POINTERS > 64 ? AV_NUM_DATA_POINTERS : 64] = {};
    for (int p = 0; p < planesIn && p < 64; ++p)
        input[p] = samples->extended_data[p] +
                   static_cast<std::ptrdiff_t>(skip) * bytes * (planar ? 1 : channels);
    const int count = samples->nb_samples - skip;
    if (ost.Audio.Resampler) {
        const int capacity = ff::swresample.swr_get_out_samples(ost.Audio.Resampler.get(), count);
        uint8_t** planes = ConvertedPlanes(ost, capacity);
        const int converted = ff::swresample.swr_convert(
            ost.Audio.Resampler.get(), planes, capacity, const_cast<const uint8_t**>(input), count);
        if (converted < 0) {
            if (FOptions.ExitOnError) throw FFmpegException("av_audio_convert() failed");
            Log(llError, "av_audio_convert() failed");
            return;
        }
        PushSamples(ost, planes, converted);
    } else {
        PushSamples(ost, input, count);
    }
    EncodeFrames(ost, false);
}

// A resampler whenever the samples differ from the encoder's in format, rate
// or channels, or drift is to be compensated; made again when the input changes.
void TSoundOutput::EnsureResampler(TOutputStream& ost, const AVFrame* samples) {
    const AVCodecContext* encoder = ost.Encoder;
    const int channels = samples->ch_layout.nb_channels;
    const uint64_t mask =
        samples->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? samples->ch_layout.u.mask : 0;
    if (ost.Audio.ResampleInFormat == samples->format &&
        ost.Audio.ResampleInRate == samples->sample_rate &&
        ost.Audio.ResampleInChannels == channels && ost.Audio.ResampleInMask == mask)
        return;
    ost.Audio.ResampleInFormat = samples->format;
    ost.Audio.ResampleInRate = samples->sample_rate;
    ost.Audio.ResampleInChannels = channels;
    ost.Audio.ResampleInMask = mask;
    const bool sameLayout =
        ff::avutil.av_channel_layout_compare(&samples->ch_layout, &encoder->ch_layout) == 0 ||
        (channels == encoder->ch_layout.nb_channels && mask == 0);
    ost.Audio.Resample =
        samples->sample_rate != encoder->sample_rate || !sameLayout || FOptions.AudioSyncMethod > 1;
    const bool convert = samples->format != encoder->sample_fmt;
    if (!ost.Audio.Resample && !convert) {
        ost.Audio.Resampler.reset();
        return;
    }
    AVChannelLayout in{};
    if (mask)
        ff::avutil.av_channel_layout_from_mask(&in, mask);
    else
        ff::avutil.av_channel_layout_default(&in, channels);
    SwrContext* context = nullptr;
    int code = ff::swresample.swr_alloc_set_opts2(
        &context, const_cast<AVChannelLayout*>(&encoder->ch_layout), encoder->sample_fmt,
        encoder->sample_rate, &in, static_cast<AVSampleFormat>(samples->format),
        samples->sample_rate, 0, nullptr);
    ost.Audio.Resampler.reset(context);
    if (code >= 0 && ost.Audio.Resample) {
        ff::avutil.av_opt_set_int(context, "filter_size", 16, 0);
        ff::avutil.av_opt_set_int(context, "phase_shift", 10, 0);
        ff::avutil.av_opt_set_int(context, "linear_interp", 0, 0);
        ff::avutil.av_opt_set_double(context, "cutoff", 0.8, 0);
    }
    if (code >= 0) code = ff::swresample.swr_init(context);
    if (code < 0) {
        ost.Audio.Resampler.reset();
        if (ost.Audio.Resample)
            throw FFmpegException(FormatText(
                "Can not resample %d channels @ %d Hz to %d channels @ %d Hz", channels,
                samples->sample_rate, encoder->ch_layout.nb_channels, encoder->sample_rate));
        throw FFmpegException(FormatText(
            "Cannot convert %s sample format to %s sample format",
            ff::avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(samples->format)),
            ff::avutil.av_get_sample_fmt_name(encoder->sample_fmt)));
    }
}

// Audio synchronisation before the samples go to the FIFO, against the
// time of the stream the output syncs to (`syncPts`, microseconds). Fills
// `skip` (input samples to drop) and `silence` (output samples to add
// first); false when nothing of the input is left.
bool TSoundOutput::Sync(TOutputStream& ost, TInputStream& ist, int64_t syncPts,
                        const AVFrame* samples, int& skip, int& silence) {
    const AVCodecContext* encoder = ost.Encoder;
    const double syncTime = static_cast<double>(syncPts - FOptions.StartTime) / AV_TIME_BASE;
    const double outRate = encoder->sample_rate;
    const double inRate = samples->sample_rate;
    int64_t pending = ff::avutil.av_audio_fifo_size(ost.Audio.Fifo.get());
    if (ost.Audio.Resampler)
        pending += ff::swresample.swr_get_delay(ost.Audio.Resampler.get(), encoder->sample_rate);
    if (FOptions.AudioSyncMethod == 0) {
        // The samples follow one another: the input's time is taken for the
        // first ones and where it moves away from the samples by more than
        // the drift threshold (a cut, a gap), so that container time stamps
        // rounded to milliseconds leave no holes between packets (muxers
        // such as DV refuse those). Never before what was encoded already.
        const int64_t target = std::llround(syncTime * outRate) - pending;
        const int64_t gap = target - ost.SyncOpts;
        const bool moved = std::llabs(gap) > std::llround(FOptions.AudioDriftThreshold * outRate);
        if (!ost.Audio.AudioTimed || moved) {
            // DV lays each picture's sound beside it: a late start or a jump
            // ahead is filled with silence there (up to a minute), as its
            // muxer takes no picture whose sound has not come.
            if (gap > 0 && gap <= 60 * std::llround(outRate) &&
                std::strcmp(ost.Output->oformat->name, "dv") == 0)
                silence = static_cast<int>(gap);
            else
                ost.SyncOpts = target;
        }
        ost.Audio.AudioTimed = true;
        ost.SyncOpts = std::max(ost.SyncOpts, ost.Audio.AudioEncodedEnd);
        return true;
    }
    const double delta = syncTime * outRate - static_cast<double>(ost.SyncOpts) - pending;
    if (std::fabs(delta) <= 50) return true;
    const double inDelta = delta * inRate / outRate;
    if (ist.IsStart || std::fabs(delta) > FOptions.AudioDriftThreshold * outRate) {
        if (inDelta < 0) {
            skip = static_cast<int>(std::min<double>(-inDelta, samples->nb_samples));
            if (FOptions.Verbose > 2)
                Log(llVerbose, FormatText("discarding %d audio samples", static_cast<int>(-delta)));
            if (skip >= samples->nb_samples) return false;
        } else {
            silence = static_cast<int>(delta);
            if (FOptions.Verbose > 2)
                Log(llVerbose,
                    FormatText("adding %d audio samples of silence", static_cast<int>(delta)));
        }
        ist.IsStart = false;
        return true;
    }
    if (FOptions.AudioSyncMethod > 1) {
        const int comp =
            static_cast<int>(std::clamp(delta, static_cast<double>(-FOptions.AudioSyncMethod),
                                        static_cast<double>(FOptions.AudioSyncMethod)));
        if (!ost.Audio.Resampler)
            throw FFmpegException("Assertion failure: drift compensation without a resampler");
        if (FOptions.Verbose > 2)
            Log(llVerbose, FormatText("compensating audio timestamp drift:%f compensation:%d in:%d",
                                      delta, comp, encoder->sample_rate));
        ff::swresample.swr_set_compensation(ost.Audio.Resampler.get(), comp, encoder->sample_rate);
    }
    return true;
}

// Plane pointers into the stream's conversion buffer, grown to hold `count`
// output samples.
uint8_t** TSoundOutput::ConvertedPlanes(TOutputStream& ost, int count) {
    const AVCodecContext* encoder = ost.Encoder;
    const int channels = encoder->ch_layout.nb_channels;
    const int size = ff::avutil.av_samples_get_buffer_size(nullptr, channels, std::max(count, 1),
                                                           encoder->sample_fmt, 0);
    if (size < 0) throw FFmpegException("Buffer sizes too large in do_audio_out");
    if (!ost.Audio.ConvertedBuffer || ost.Audio.ConvertedSize < static_cast<unsigned>(size)) {
        ost.Audio.ConvertedBuffer.reset(static_cast<uint8_t*>(ff::avutil.av_malloc(size)));
        ost.Audio.ConvertedSize = ost.Audio.ConvertedBuffer ? static_cast<unsigned>(size) : 0;
        if (!ost.Audio.ConvertedBuffer) throw FFmpegException("Out of memory in do_audio_out");
    }
    ost.Audio.Converted.assign(std::max(channels, 1), nullptr);
    ff::avutil.av_samples_fill_arrays(ost.Audio.Converted.data(), nullptr,
                                      ost.Audio.ConvertedBuffer.get(), channels, std::max(count, 1),
                                      encoder->sample_fmt, 0);
    return ost.Audio.Converted.data();
}

// The samples the resampler still holds, into the FIFO.
void TSoundOutput::DrainResampler(TOutputStream& ost) {
    if (!ost.Audio.Resampler) return;
    for (;;) {
        const int capacity =
            std::max(ff::swresample.swr_get_out_samples(ost.Audio.Resampler.get(), 0), 0);
        if (capacity == 0) return;
        uint8_t** planes = ConvertedPlanes(ost, capacity);
        const int count =
            ff::swresample.swr_convert(ost.Audio.Resampler.get(), planes, capacity, nullptr, 0);
        if (count <= 0) return;
        PushSamples(ost, planes, count);
    }
}

void TSoundOutput::PushSamples(TOutputStream& ost, uint8_t** data, int count) {
    if (count <= 0) return;
    if (ff::avutil.av_audio_fifo_write(ost.Audio.Fifo.get(), reinterpret_cast<void**>(data),
                                       count) < count)
        throw FFmpegException("av_fifo_realloc2() failed");
}

// Encodes whole encoder frames from the FIFO; with `flush` also the rest
// (as a short last frame, or padded with silence when the encoder needs
// whole frames).
void TSoundOutput::EncodeFrames(TOutputStream& ost, bool flush) {
    AVCodecContext* encoder = ost.Encoder;
    AVAudioFifo* fifo = ost.Audio.Fifo.get();
    const int frameSize = encoder->frame_size;
    const bool variable =
        frameSize <= 1 || (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    AVFrame* frame = ost.Audio.AudioFrame.get();
    for (;;) {
        const int available = ff::avutil.av_audio_fifo_size(fifo);
        if (available == 0) return;
        if (!variable && available < frameSize && !flush) return;
        const int take = variable ? std::min(available, 16384) : std::min(available, frameSize);
        const int capacity = std::max(take, variable ? take : frameSize);
        if (!frame->buf[0] || ost.Audio.AudioFrameCapacity < capacity) {
            ff::avutil.av_frame_unref(frame);
            frame->format = encoder->sample_fmt;
            frame->sample_rate = encoder->sample_rate;
            ff::avutil.av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
            frame->nb_samples = std::max(capacity, variable ? 16384 : frameSize);
            if (ff::avutil.av_frame_get_buffer(frame, 0) < 0)
                throw FFmpegException("Out of memory in do_audio_out");
            ost.Audio.AudioFrameCapacity = frame->nb_samples;
        }
        frame->nb_samples = ost.Audio.AudioFrameCapacity;
        if (ff::avutil.av_frame_make_writable(frame) < 0)
            throw FFmpegException("Out of memory in do_audio_out");
        ff::avutil.av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->extended_data), take);
        frame->nb_samples = take;
        if (!variable && take < frameSize &&
            !(encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
            ff::avutil.av_samples_set_silence(frame->extended_data, take, frameSize - take,
                                              encoder->ch_layout.nb_channels, encoder->sample_fmt);
            frame->nb_samples = frameSize;
        }
        frame->pts = ost.SyncOpts;
        FSend(ost, frame);
        ost.SyncOpts += frame->nb_samples;
        ost.Audio.AudioEncodedEnd = ost.SyncOpts;
        ++ost.FrameNumber;
    }
}

void TSoundOutput::Flush(TOutputStream& ost) {
    DrainResampler(ost);
    EncodeFrames(ost, true);
}

void TSoundOutput::PadWithSilence(TOutputStream& ost, double end) {
    if (!ost.EncoderOpen || ost.Encoder->sample_rate <= 0) return;
    DrainResampler(ost);
    const int64_t held = ost.SyncOpts + ff::avutil.av_audio_fifo_size(ost.Audio.Fifo.get());
    int64_t missing = std::llround(end * ost.Encoder->sample_rate) - held;
    while (missing > 0) {
        const int count = static_cast<int>(std::min<int64_t>(missing, 16384));
        uint8_t** planes = ConvertedPlanes(ost, count);
        ff::avutil.av_samples_set_silence(planes, 0, count, ost.Encoder->ch_layout.nb_channels,
                                          ost.Encoder->sample_fmt);
        PushSamples(ost, planes, count);
        missing -= count;
    }
}

void TSoundOutput::Log(int level, const std::string& text) {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
}
