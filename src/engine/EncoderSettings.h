// What the option state sets on a new output stream's encoder: frame rate,
// size, pixel format, quantizers and passes for video; channels, sample
// format and rate for audio; global headers for both. Used by the task's
// stream set-up on the caller's thread while the task is idle.
#pragma once

#include "engine/FFmpegOptions.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"

#include <array>
#include <cstdint>
#include <string>

// The sample aspect ratio that shows a width x height picture at `aspect`
// (width / height); with no size, a 4:3 picture is assumed.
AVRational SampleAspect(float aspect, int width, int height);

// Whether a width x height picture has whole colour samples in the pixel
// format (a 4:2:0 format halves both sides, so it needs even sizes).
bool WholeChromaSamples(int format, int width, int height);

// The message for an encoder that did not open, after `head`: a picture
// smaller than the encoder takes or with an odd side in a format that
// halves that side's colour samples, or more sound channels than it takes,
// told plainly; otherwise the general advice. `channels` is the sound's
// count the encoder was opened with (a failed opening clears the context's).
std::string EncoderFailureText(const std::string& head, const AVCodecContext* encoder,
                               const AVCodec* codec, int channels);

// The warning for sound mixed to a layout the encoder takes, the layouts
// by name: "The encoder ac3 takes no 7.1 sound: output stream #0.1 is mixed
// to 5.1(side)".
std::string ChannelsMixedText(const AVCodec* codec, const AVChannelLayout& from,
                              const AVChannelLayout& to, int file, int stream);

// x265 writes its lines to the terminal itself, past the log and its
// filter: it gets a level one step quieter than the libraries', so that
// its information lines come only with verbose logging. A log level the
// options' x265-params give stays.
void SetX265LogLevel(TPrivateOptions& options);

// Until the track an output's sound is made from is known, the libraries'
// preferred track stands in for it. Once it is known, the settings the
// options did not give are set from `source` (channels and layout, sample
// format where the codec takes it, the nearest rate the codec takes), with
// the time bases that follow the rate. Channels the codec does not take
// are mixed to a layout it takes (true then). `codec` may be null.
bool FollowSourceSound(AVCodecContext* encoder, const AVCodec* codec, AVStream* stream,
                       const AVCodecParameters* source, TSoundSettingsGiven given);

class TEncoderSettings {
public:
    // The settings read `options` and mark global headers on the recorded
    // codec options of `contexts` too (both stay the caller's).
    TEncoderSettings(const TOptionState& options, TOptionContexts& contexts)
        : FOptions(options), FContexts(contexts) {}

    // Prepares an encoder context (not opened) of `codec` (may be null) for
    // `stream`; the stream's time base follows the encoder's.
    void SetupVideo(AVCodecContext* encoder, const AVCodec* codec, AVStream* stream) const;
    void SetupAudio(AVCodecContext* encoder, const AVCodec* codec, AVStream* stream) const;
    // Global (and, for video, local) headers as the output format and the
    // "vglobal" option want them; `encoder` may be null (a copied stream).
    void SetGlobalHeader(AVCodecContext* encoder, const AVFormatContext* context, bool video) const;

private:
    AVRational ChooseFrameRate(const AVCodec* codec) const;
    int ChoosePixelFormat(const AVCodec* codec, int strictness) const;
    int ChooseSampleRate(const AVCodec* codec) const;
    void SetRcOverride(AVCodecContext* encoder) const;
    static uint16_t* CopyMatrix(const std::array<uint16_t, 64>* matrix);

    const TOptionState& FOptions;
    TOptionContexts& FContexts;
};
