#include "player/AudioOutput.h"

#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"
#include "media/MyUtils.h"
#include "media/SDLEntries.h"
#include "media/SwResampleEntries.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr int WaveSize = 0x20000;
constexpr int SilenceBytes = 1024;

} // namespace

TAudioOutput::~TAudioOutput() {
    Close();
}

void TAudioOutput::Log(TLogLevel level, const std::string& text) {
    GetLogger().Log(FSender, level, text);
}

// ---- Opening and closing (read thread) ----

std::string TAudioOutput::OpenDevice(const AVCodecContext* codec) {
    if (ff::sdl.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return std::string("SDL_OpenAudio() failed: ") + ff::sdl.SDL_GetError();
    SDL_AudioSpec wanted{}, obtained{};
    wanted.freq = codec->sample_rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(codec->ch_layout.nb_channels == 1 ? 1 : 2);
    wanted.silence = 0;
    wanted.samples = 1024;
    wanted.callback = &TAudioOutput::Callback;
    wanted.userdata = this;
    FDevice = ff::sdl.SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (FDevice == 0 || codec->sample_rate <= 0) {
        std::string reason = std::string("SDL_OpenAudio() failed: ") + ff::sdl.SDL_GetError();
        if (FDevice) ff::sdl.SDL_CloseAudioDevice(FDevice);
        FDevice = 0;
        ff::sdl.SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return reason;
    }
    FLinks.Clock.SetFormat(obtained.freq, obtained.channels, static_cast<int>(obtained.size));
    return {};
}

void TAudioOutput::Start(AVCodecContext* codec, const AVStream* stream,
                         const std::atomic<bool>& mute, const std::atomic<int>& volume,
                         TFFBaseComponent* sender) {
    FCodec = codec;
    FStream = stream;
    FMute = &mute;
    FVolume = &volume;
    FSender = sender;
    FBufSize = 0;
    FBufIndex = 0;
    FFrame.reset(ff::avutil.av_frame_alloc());
    {
        std::lock_guard lock(FWaveLock);
        FWave.assign(WaveSize, 0);
    }
    if (FDevice) ff::sdl.SDL_PauseAudioDevice(FDevice, 0);
}

// The packet queue is aborted before: a callback running meanwhile returns.
void TAudioOutput::Close() {
    if (FDevice) {
        ff::sdl.SDL_CloseAudioDevice(FDevice);
        ff::sdl.SDL_QuitSubSystem(SDL_INIT_AUDIO);
        FDevice = 0;
    }
    if (FConvert) ff::swresample.swr_free(&FConvert);
    ff::avutil.av_channel_layout_uninit(&FSourceLayout);
    FCodec = nullptr;
}

// ---- Output (audio thread) ----

void TAudioOutput::Callback(void* userdata, std::uint8_t* stream, int len) {
    static_cast<TAudioOutput*>(userdata)->Fill(stream, len);
}

void TAudioOutput::Fill(std::uint8_t* stream, int len) {
    std::int64_t callbackTime = ff::avutil.av_gettime();
    std::int64_t heldUntil = FLinks.HeldUntil;
    if (heldUntil != 0) {
        if (callbackTime < heldUntil) {
            // Waiting for the first picture: the clock stands still, the
            // output counts as running.
            std::memset(stream, 0, static_cast<std::size_t>(len));
            FLinks.Clock.CalledHeld(callbackTime);
            return;
        }
        FLinks.HeldUntil = 0;
    }
    bool played = false; // sound (not silence) went out in this call
    bool silent = false;
    while (len > 0) {
        if (FBufIndex >= FBufSize && !NextPiece(silent)) {
            std::memset(stream, 0, static_cast<std::size_t>(len));
            return;
        }
        int count = std::min(len, FBufSize - FBufIndex);
        played = played || !silent;
        std::memset(stream, 0, static_cast<std::size_t>(count));
        if (!*FMute && !silent)
            ff::sdl.SDL_MixAudioFormat(stream, FBuffer.data() + FBufIndex, AUDIO_S16SYS,
                                       static_cast<Uint32>(count), *FVolume);
        len -= count;
        stream += count;
        FBufIndex += count;
        if (silent) FBufIndex = FBufSize.load();
    }
    // The clock moves on from the last sound played; silence does not move it.
    FLinks.Clock.Called(callbackTime, silent ? 0 : FBufSize - FBufIndex, played);
}

// The next piece of sound in FBuffer, silence when none is ready; false
// when the output is being closed.
bool TAudioOutput::NextPiece(bool& silent) {
    int size = Decode();
    if (FLinks.Packets.Aborted()) return false;
    silent = size < 0;
    if (silent) {
        FBuffer.assign(SilenceBytes, 0);
        FBufSize = SilenceBytes;
    } else {
        FBufSize = size;
        KeepSamples(size);
    }
    FBufIndex = 0;
    return true;
}

void TAudioOutput::KeepSamples(int size) {
    if (!FLinks.KeepWave) return;
    std::lock_guard lock(FWaveLock);
    auto* samples = reinterpret_cast<const std::int16_t*>(FBuffer.data());
    for (int i = 0; i < size / 2; ++i) {
        FWave[FWaveIndex] = samples[i];
        FWaveIndex = (FWaveIndex + 1) % WaveSize;
    }
}

// The next decoded and converted piece in FBuffer: its size in bytes, or -1
// when none is ready now (paused, no packet yet, end of the stream).
int TAudioOutput::Decode() {
    for (;;) {
        int result = ff::avcodec.avcodec_receive_frame(FCodec, FFrame.get());
        if (result == 0) {
            int size = Convert(FFrame.get());
            ff::avutil.av_frame_unref(FFrame.get());
            if (size > 0) return size;
            continue;
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            Log(llInfo, "avcodec_decode_audio2() failed");
        if (FLinks.Paused || FLinks.Packets.Aborted()) return -1;
        ff::PacketPtr packet;
        bool isFlush = false;
        if (FLinks.Packets.Get(packet, isFlush, false) <= 0) return -1;
        if (isFlush) {
            ff::avcodec.avcodec_flush_buffers(FCodec);
            FSeekTarget = FPendingTarget.exchange(-1);
            continue;
        }
        if (packet->pts != AV_NOPTS_VALUE)
            FLinks.Clock.SetDecoded(av_q2d(FStream->time_base) * static_cast<double>(packet->pts));
        if (ff::avcodec.avcodec_send_packet(FCodec, packet.get()) < 0)
            Log(llInfo, "avcodec_decode_audio2() failed");
    }
}

// A converter from the frame's format to the output's; false when there is
// none.
bool TAudioOutput::PrepareConverter(AVFrame* frame) {
    bool changed = frame->format != FSourceFormat || frame->sample_rate != FSourceRate ||
                   ff::avutil.av_channel_layout_compare(&frame->ch_layout, &FSourceLayout) != 0;
    if (!changed && FConvert) return true;
    if (FConvert) ff::swresample.swr_free(&FConvert);
    AVChannelLayout output{};
    ff::avutil.av_channel_layout_default(&output, FLinks.Clock.Channels());
    int error = ff::swresample.swr_alloc_set_opts2(
        &FConvert, &output, AV_SAMPLE_FMT_S16, FLinks.Clock.Rate(), &frame->ch_layout,
        static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    if (error >= 0) error = ff::swresample.swr_init(FConvert);
    ff::avutil.av_channel_layout_uninit(&output);
    if (error < 0) {
        if (FConvert) ff::swresample.swr_free(&FConvert);
        const char* name =
            ff::avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
        Log(llError, FormatText("Cannot convert %s sample format to %s sample format",
                                name ? name : "?", "s16"));
        return false;
    }
    FSourceFormat = frame->format;
    FSourceRate = frame->sample_rate;
    ff::avutil.av_channel_layout_uninit(&FSourceLayout);
    ff::avutil.av_channel_layout_copy(&FSourceLayout, &frame->ch_layout);
    return true;
}

// Converts one decoded frame into FBuffer; 0 when nothing of it is to be
// played (before the seek target), -1 when it cannot be converted.
int TAudioOutput::Convert(AVFrame* frame) {
    if (!PrepareConverter(frame)) return -1;
    TAudioClock& clock = FLinks.Clock;
    if (frame->pts != AV_NOPTS_VALUE)
        clock.SetDecoded(av_q2d(FStream->time_base) * static_cast<double>(frame->pts));
    int room = ff::swresample.swr_get_out_samples(FConvert, frame->nb_samples) + 256;
    int frameBytes = 2 * clock.Channels();
    FBuffer.resize(static_cast<std::size_t>(room) * frameBytes);
    std::uint8_t* output[1] = {FBuffer.data()};
    int samples = ff::swresample.swr_convert(FConvert, output, room,
                                             const_cast<const std::uint8_t**>(frame->extended_data),
                                             frame->nb_samples);
    if (samples < 0) {
        Log(llError, "av_audio_convert() failed");
        return -1;
    }
    double start = clock.Decoded();
    clock.AdvanceDecoded(samples);
    return DropBeforeTarget(start, samples, frameBytes) * frameBytes;
}

// The samples of the piece from `start` (seconds) that are played: those
// from the seek target on.
int TAudioOutput::DropBeforeTarget(double start, int samples, int frameBytes) {
    double target = FSeekTarget;
    if (target < 0) return samples;
    if (FLinks.Clock.Decoded() <= target) return 0;
    int skip = std::clamp(static_cast<int>((target - start) * FLinks.Clock.Rate()), 0, samples);
    std::memmove(FBuffer.data(), FBuffer.data() + skip * frameBytes,
                 static_cast<std::size_t>(samples - skip) * frameBytes);
    FSeekTarget = -1;
    return samples - skip;
}

// ---- Waveform (playback thread) ----

bool TAudioOutput::WaveSamples(int width, int channels, bool paused, double now,
                               std::vector<std::int16_t>& samples) {
    std::lock_guard lock(FWaveLock);
    if (FWave.empty()) return false;
    if (!paused) FLastWaveStart = WaveStart(width, channels, now);
    samples.resize(static_cast<std::size_t>(width) * channels);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = FWave[(FLastWaveStart + i) % WaveSize];
    return true;
}

// Where the samples heard at `now` start in the ring, moved back to a rising
// zero crossing so that a steady tone stands still. FWaveLock is held.
int TAudioOutput::WaveStart(int width, int channels, double now) {
    TAudioClock& clock = FLinks.Clock;
    int bytesPerSecond = 2 * channels * std::max(1, clock.Rate());
    int unplayed = (FBufSize - FBufIndex) / (2 * channels);
    std::int64_t callback = clock.LastCall();
    double since =
        callback == 0 ? 0 : std::clamp(now - static_cast<double>(callback) / 1e6, 0.0, 1.0);
    int delay = unplayed - static_cast<int>(since * bytesPerSecond / (2 * channels)) + 2 * width;
    delay = std::max(delay, width) * channels;
    int start = (FWaveIndex - delay + WaveSize * 4) % WaveSize;
    int best = start;
    int bestScore = INT_MIN;
    for (int i = 0; i < 1000; i += channels) {
        int at = (start - i + WaveSize * 4) % WaveSize;
        int a = FWave[(at + 4 * channels) % WaveSize];
        int b = FWave[(at + 5 * channels) % WaveSize];
        int score = FWave[at] - FWave[(at + 9 * channels) % WaveSize];
        if ((a ^ b) < 0 && score > bestScore) {
            bestScore = score;
            best = at;
        }
    }
    return best;
}
