// The pipeline's sound side: the audio callback on SDL's audio thread (it
// never waits: without a packet it plays silence), decoding and conversion to
// signed 16-bit through libswresample, the audio clock and the waveform of
// files without pictures.
#include "player/FFPlay.h"

#include "media/MyUtils.h"
#include "media/SDLEntries.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

constexpr int SampleArraySize = 0x20000;
constexpr int SilenceBytes = 1024;

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

} // namespace

void TCustomPlayer::AudioCallback(void* userdata, std::uint8_t* stream, int len) {
    auto* is = static_cast<TPlaybackState*>(userdata);
    is->Player->FillAudio(is, stream, len);
}

void TCustomPlayer::FillAudio(TPlaybackState* is, std::uint8_t* stream, int len) {
    std::int64_t callbackTime = ff::avutil.av_gettime();
    std::int64_t heldUntil = is->AudioHeldUntil;
    if (heldUntil != 0) {
        if (callbackTime < heldUntil) {
            // Waiting for the first picture: the clock stands still, the
            // output counts as running.
            std::memset(stream, 0, static_cast<std::size_t>(len));
            is->Audio.CalledHeld(callbackTime);
            return;
        }
        is->AudioHeldUntil = 0;
    }
    bool played = false; // sound (not silence) went out in this call
    bool silent = false;
    while (len > 0) {
        if (is->AudioBufIndex >= is->AudioBufSize) {
            silent = false;
            int size = DecodeAudio(is);
            if (is->AudioQueue.Aborted()) {
                std::memset(stream, 0, static_cast<std::size_t>(len));
                return;
            }
            if (size < 0) {
                is->AudioBuffer.assign(SilenceBytes, 0);
                is->AudioBufSize = SilenceBytes;
                silent = true;
            } else {
                is->AudioBufSize = size;
                if (is->ShowAudio) {
                    std::lock_guard lock(is->SampleLock);
                    auto* samples = reinterpret_cast<const std::int16_t*>(is->AudioBuffer.data());
                    for (int i = 0; i < size / 2; ++i) {
                        is->SampleArray[is->SampleIndex] = samples[i];
                        is->SampleIndex = (is->SampleIndex + 1) % SampleArraySize;
                    }
                }
            }
            is->AudioBufIndex = 0;
        }
        int count = std::min(len, is->AudioBufSize - is->AudioBufIndex);
        played = played || !silent;
        std::memset(stream, 0, static_cast<std::size_t>(count));
        if (!Mute && !silent)
            ff::sdl.SDL_MixAudioFormat(stream, is->AudioBuffer.data() + is->AudioBufIndex,
                                       AUDIO_S16SYS, static_cast<Uint32>(count), AudioVolume);
        len -= count;
        stream += count;
        is->AudioBufIndex += count;
        if (silent) is->AudioBufIndex = is->AudioBufSize.load();
    }
    // The clock moves on from the last sound played; silence does not move it.
    is->Audio.Called(callbackTime, silent ? 0 : is->AudioBufSize - is->AudioBufIndex, played);
}

// The next decoded and converted piece in AudioBuffer: its size in bytes, or
// -1 when none is ready now (paused, no packet yet, end of the stream).
int TCustomPlayer::DecodeAudio(TPlaybackState* is) {
    AVCodecContext* codec = is->AudioCodec.get();
    for (;;) {
        int result = ff::avcodec.avcodec_receive_frame(codec, is->AudioFrame.get());
        if (result == 0) {
            int size = ConvertAudio(is, is->AudioFrame.get());
            ff::avutil.av_frame_unref(is->AudioFrame.get());
            if (size > 0) return size;
            continue;
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            GetLogger().Log(this, llInfo, "avcodec_decode_audio2() failed");
        if (is->Paused || is->AudioQueue.Aborted()) return -1;
        ff::PacketPtr packet;
        bool isFlush = false;
        if (is->AudioQueue.Get(packet, isFlush, false) <= 0) return -1;
        if (isFlush) {
            ff::avcodec.avcodec_flush_buffers(codec);
            is->AudioSeekTarget = is->PendingAudioTarget.exchange(-1);
            continue;
        }
        if (packet->pts != AV_NOPTS_VALUE)
            is->Audio.SetDecoded(av_q2d(is->AudioSt->time_base) * static_cast<double>(packet->pts));
        if (ff::avcodec.avcodec_send_packet(codec, packet.get()) < 0)
            GetLogger().Log(this, llInfo, "avcodec_decode_audio2() failed");
    }
}

// Converts one decoded frame into AudioBuffer; 0 when nothing of it is to be
// played (before the seek target), -1 when it cannot be converted.
int TCustomPlayer::ConvertAudio(TPlaybackState* is, AVFrame* frame) {
    bool changed =
        frame->format != is->AudioSourceFormat || frame->sample_rate != is->AudioSourceRate ||
        ff::avutil.av_channel_layout_compare(&frame->ch_layout, &is->AudioSourceLayout) != 0;
    if (changed || !is->AudioConvert) {
        if (is->AudioConvert) ff::swresample.swr_free(&is->AudioConvert);
        AVChannelLayout output{};
        ff::avutil.av_channel_layout_default(&output, is->Audio.Channels());
        int error = ff::swresample.swr_alloc_set_opts2(
            &is->AudioConvert, &output, AV_SAMPLE_FMT_S16, is->Audio.Rate(), &frame->ch_layout,
            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        if (error >= 0) error = ff::swresample.swr_init(is->AudioConvert);
        ff::avutil.av_channel_layout_uninit(&output);
        if (error < 0) {
            if (is->AudioConvert) ff::swresample.swr_free(&is->AudioConvert);
            const char* name =
                ff::avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
            ReportError(FormatText("Cannot convert %s sample format to %s sample format",
                                   name ? name : "?", "s16"),
                        false);
            return -1;
        }
        is->AudioSourceFormat = frame->format;
        is->AudioSourceRate = frame->sample_rate;
        ff::avutil.av_channel_layout_uninit(&is->AudioSourceLayout);
        ff::avutil.av_channel_layout_copy(&is->AudioSourceLayout, &frame->ch_layout);
    }
    if (frame->pts != AV_NOPTS_VALUE)
        is->Audio.SetDecoded(av_q2d(is->AudioSt->time_base) * static_cast<double>(frame->pts));
    int room = ff::swresample.swr_get_out_samples(is->AudioConvert, frame->nb_samples) + 256;
    int frameBytes = 2 * is->Audio.Channels();
    is->AudioBuffer.resize(static_cast<std::size_t>(room) * frameBytes);
    std::uint8_t* output[1] = {is->AudioBuffer.data()};
    int samples = ff::swresample.swr_convert(is->AudioConvert, output, room,
                                             const_cast<const std::uint8_t**>(frame->extended_data),
                                             frame->nb_samples);
    if (samples < 0) {
        ReportError("av_audio_convert() failed", false);
        return -1;
    }
    double start = is->Audio.Decoded();
    is->Audio.AdvanceDecoded(samples);
    double target = is->AudioSeekTarget;
    if (target >= 0) {
        // Sound before the asked time is not played.
        if (is->Audio.Decoded() <= target) return 0;
        int skip = std::clamp(static_cast<int>((target - start) * is->Audio.Rate()), 0, samples);
        std::memmove(is->AudioBuffer.data(), is->AudioBuffer.data() + skip * frameBytes,
                     static_cast<std::size_t>(samples - skip) * frameBytes);
        samples -= skip;
        is->AudioSeekTarget = -1;
    }
    return samples * frameBytes;
}

// The time of the sound being heard now.
double TCustomPlayer::AudioClockNow(TPlaybackState* is) {
    return is->Audio.Heard(Now(), is->Paused);
}

// ---- Waveform ----

void TCustomPlayer::DrawWaveform(TPlaybackState* is) {
    int width = is->Display.Width(), height = is->Display.Height();
    int channels = std::max(1, is->Audio.Channels());
    if (width <= 0 || height <= 0) return;
    Bitmap32& picture = is->Display.Canvas();
    picture.SetSize(width, height);
    std::fill(picture.Data.begin(), picture.Data.end(), 0);
    std::vector<std::int16_t> samples;
    int start;
    {
        std::lock_guard lock(is->SampleLock);
        if (is->SampleArray.empty()) return;
        if (!is->Paused) {
            int bytesPerSecond = 2 * channels * std::max(1, is->Audio.Rate());
            int unplayed = (is->AudioBufSize - is->AudioBufIndex) / (2 * channels);
            std::int64_t callback = is->Audio.LastCall();
            double since = callback == 0
                               ? 0
                               : std::clamp(Now() - static_cast<double>(callback) / 1e6, 0.0, 1.0);
            int delay =
                unplayed - static_cast<int>(since * bytesPerSecond / (2 * channels)) + 2 * width;
            delay = std::max(delay, width) * channels;
            start = (is->SampleIndex - delay + SampleArraySize * 4) % SampleArraySize;
            int best = start;
            int bestScore = INT_MIN;
            for (int i = 0; i < 1000; i += channels) {
                int at = (start - i + SampleArraySize * 4) % SampleArraySize;
                int a = is->SampleArray[(at + 4 * channels) % SampleArraySize];
                int b = is->SampleArray[(at + 5 * channels) % SampleArraySize];
                int score =
                    is->SampleArray[at] - is->SampleArray[(at + 9 * channels) % SampleArraySize];
                if ((a ^ b) < 0 && score > bestScore) {
                    bestScore = score;
                    best = at;
                }
            }
            is->LastWaveStart = best;
        }
        start = is->LastWaveStart;
        samples.resize(static_cast<std::size_t>(width) * channels);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = is->SampleArray[(start + i) % SampleArraySize];
    }
    auto white = [&picture](int x, int y) {
        if (x < 0 || y < 0 || x >= picture.Width || y >= picture.Height) return;
        std::uint8_t* pixel = picture.Row(y) + x * 4;
        pixel[0] = pixel[1] = pixel[2] = pixel[3] = 255;
    };
    int band = height / channels;
    for (int ch = 0; ch < channels; ++ch) {
        int centre = ch * band + band / 2;
        for (int x = 0; x < width; ++x) {
            int value =
                samples[static_cast<std::size_t>(x) * channels + ch] * (band * 9 / 20) / 32768;
            int from = std::min(centre, centre - value), to = std::max(centre, centre - value);
            for (int y = from; y <= to; ++y)
                white(x, y);
        }
        if (ch > 0)
            for (int x = 0; x < width; ++x)
                white(x, ch * band);
    }
    is->Display.ShowCanvas();
}
