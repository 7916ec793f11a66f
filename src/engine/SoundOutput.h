// The sound side of a conversion's output streams: decoded samples are
// brought to the encoder's format, rate and channels, kept in time with the
// stream they sync to (padded, cut or stretched), queued, and cut into the
// encoder's frames, which go to the stream's encoder.
//
// Threads: one per conversion, used on the task's thread only; so are the
// Audio parts of the output streams it works on. The frames it hands on
// go to the encoder through the send function given at construction.
#pragma once

#include "engine/TranscoderStreams.h"

#include <cstdint>
#include <functional>
#include <string>

// What the sound output reads of the conversion's options.
struct TSoundOptions {
    // Microseconds into the input where the output starts.
    int64_t StartTime = 0;
    // 0: the samples follow one another; 1: padded or cut to their sync
    // stream; more: also stretched by up to that many samples a second.
    int AudioSyncMethod = 0;
    // Seconds the samples may stray from their sync stream.
    float AudioDriftThreshold = 0.0f;
    // A failed resampling ends the conversion.
    bool ExitOnError = false;
    int Verbose = 0;
};

class TSoundOutput {
public:
    // Hands a frame (its pts set) to the stream's encoder; the caller keeps it.
    using TSend = std::function<void(TOutputStream&, AVFrame*)>;

    TSoundOutput(const TSoundOptions& options, TSend send)
        : FOptions(options), FSend(std::move(send)) {}

    // Scales the samples by `volume` / 256, clipped to full scale.
    static void ApplyVolume(AVFrame* samples, int volume);
    // The decoded `samples` of `ist` to the stream `ost`, whose sync stream
    // is at `syncPts` microseconds; `cut`: samples at the front that lie
    // before the start point.
    void Output(TOutputStream& ost, TInputStream& ist, int64_t syncPts, AVFrame* samples, int cut);
    // At the end: what the resampler and the queue still hold, the last
    // frame short or padded with silence as the encoder needs.
    void Flush(TOutputStream& ost);
    // Silence after what the stream holds, so that its sound lasts until
    // `end` seconds of output time (nothing when it lasts that long).
    void PadWithSilence(TOutputStream& ost, double end);

private:
    void EnsureResampler(TOutputStream& ost, const AVFrame* samples);
    bool Sync(TOutputStream& ost, TInputStream& ist, int64_t syncPts, const AVFrame* samples,
              int& skip, int& silence);
    uint8_t** ConvertedPlanes(TOutputStream& ost, int count);
    void PushSamples(TOutputStream& ost, uint8_t** data, int count);
    void DrainResampler(TOutputStream& ost);
    void EncodeFrames(TOutputStream& ost, bool flush);
    static void Log(int level, const std::string& text);

    const TSoundOptions FOptions;
    const TSend FSend;
};
