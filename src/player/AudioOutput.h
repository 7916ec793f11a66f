// The player's sound: the output device's callback on SDL's audio thread
// (it never waits: without a packet it plays silence), decoding and the
// conversion to signed 16-bit, the drop of the sound before a seek's target
// and the ring of recent samples the waveform is drawn from.
#pragma once

#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"
#include "media/FFmpegLogger.h"
#include "media/SDLHeaders.h"
#include "player/AudioClock.h"
#include "player/PacketQueue.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// What the output follows: its packets, the clock it moves, and the flags it
// reads (set by others).
struct TAudioLinks {
    TPacketQueue& Packets;
    TAudioClock& Clock;
    const std::atomic<bool>& Paused;
    // Until this av_gettime the output plays silence without decoding (0:
    // not held); the output clears it when the time has passed.
    std::atomic<std::int64_t>& HeldUntil;
    // Non-zero: the samples played are kept for the waveform.
    const std::atomic<int>& KeepWave;
};

// Open, Start and Close on the read thread; Fill on SDL's audio thread (or a
// test's); SeekStarting on the read thread (atomic); WaveSamples on the
// playback thread (under FWaveLock). The decoding fields are Fill's.
class TAudioOutput {
public:
    explicit TAudioOutput(const TAudioLinks& links) : FLinks(links) {}
    ~TAudioOutput();
    TAudioOutput(const TAudioOutput&) = delete;
    TAudioOutput& operator=(const TAudioOutput&) = delete;

    // Opens the output device for `codec`'s sound; the reason when it cannot.
    std::string OpenDevice(const AVCodecContext* codec);
    // Decodes with `codec` from now on; the device (if open) starts playing.
    // `mute` and `volume` (0..128) are read at every call. `sender` logs.
    void Start(AVCodecContext* codec, const AVStream* stream, const std::atomic<bool>& mute,
               const std::atomic<int>& volume, TFFBaseComponent* sender);
    void Close();

    // Fills `stream` with `len` bytes of sound (silence when none is ready).
    void Fill(std::uint8_t* stream, int len);
    // The sound before `exact` seconds is dropped after the next flush
    // marker (-1: nothing is dropped).
    void SeekStarting(double exact) { FPendingTarget = exact; }

    // The samples of the waveform for `width` columns of `channels`
    // interleaved samples, those heard at `now` (seconds), or the same as
    // last time when paused. False when there are none.
    bool WaveSamples(int width, int channels, bool paused, double now,
                     std::vector<std::int16_t>& samples);

private:
    static void Callback(void* userdata, std::uint8_t* stream, int len);
    bool NextPiece(bool& silent);
    void KeepSamples(int size);
    int Decode();
    bool PrepareConverter(AVFrame* frame);
    int Convert(AVFrame* frame);
    int DropBeforeTarget(double start, int samples, int frameBytes);
    int WaveStart(int width, int channels, double now);
    void Log(TLogLevel level, const std::string& text);

    TAudioLinks FLinks;
    SDL_AudioDeviceID FDevice = 0;
    AVCodecContext* FCodec = nullptr;
    const AVStream* FStream = nullptr;
    const std::atomic<bool>* FMute = nullptr;
    const std::atomic<int>* FVolume = nullptr;
    TFFBaseComponent* FSender = nullptr;

    // Fill's (SDL's audio thread).
    std::vector<std::uint8_t> FBuffer; // signed 16-bit interleaved
    SwrContext* FConvert = nullptr;
    int FSourceFormat = -1, FSourceRate = 0;
    AVChannelLayout FSourceLayout{};
    ff::FramePtr FFrame;

    // Also read by the waveform.
    std::atomic<int> FBufSize{0}, FBufIndex{0};
    std::atomic<double> FSeekTarget{-1}; // samples before it are dropped
    std::atomic<double> FPendingTarget{-1};
    std::mutex FWaveLock; // guards FWave, FWaveIndex
    std::vector<std::int16_t> FWave;
    int FWaveIndex = 0;
    int FLastWaveStart = 0; // playback thread
};
