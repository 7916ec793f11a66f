// Targets ("vcd", "svcd", "dvd", "dv", "dv50"): the norm, guessed from the
// frame rates when it is not given, and what each target sets for its norm.
#pragma once

#include "media/FFmpegHeaders.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// What tells the norm of a target whose text names none ("auto").
struct TNormClues {
    AVRational FrameRate{0, 0}; // the "r" given so far
    // The frame rates of the inputs' video streams, in order; asked only
    // when the frame rate does not decide. May be empty.
    std::function<std::vector<AVRational>()> InputVideoRates;
    std::string Fallback; // "film", "ntsc", anything else PAL
    bool Verbose = false; // log the norm found
};

// What a target sets, in the order it is applied.
struct TTargetSettings {
    std::string VideoCodec, AudioCodec; // empty: the codec names stay
    std::string Format;
    std::string FrameSize;
    std::string PixFmt; // empty: unchanged
    std::string FrameRate;
    // Through the option contexts, in order.
    std::vector<std::pair<std::string, std::string>> Options;
    // Private options of the video encoder.
    std::vector<std::pair<std::string, std::string>> VideoPrivate;
    int SampleRate = 0;
    bool MonoOnlyToStereo = false; // else always two channels
    float MuxPreload = 0.0f;       // seconds; 0: unchanged
    std::string DefaultAspect;     // when none was given; empty: none
};

// The settings of target `type` for `norm` ("pal", "ntsc", "film", else
// guessed from `clues`). Raises FFmpegException "frame_rate is invalid."
// when the norm must be guessed without a frame rate, then "Unknown target
// type".
TTargetSettings TargetSettings(const std::string& type, const std::string& norm,
                               const TNormClues& clues);
