// What an input being opened takes from the option state and gives back to
// it: the demuxer's parameters, the program and start position asked for,
// and the picture and sound parameters of its streams, which the outputs
// made after it start from. Used by the task's set-up on the caller's
// thread while the task is idle.
#pragma once

#include "engine/FFmpegOptions.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <string>
#include <vector>

class TInputSettings {
public:
    // Both stay the caller's; the settings write `options` (one-shot
    // options are used up, stream parameters copied in).
    TInputSettings(TOptionState& options, const TOptionContexts& contexts)
        : FOptions(options), FContexts(contexts) {}

    // The parameters for demuxers that need them (raw formats, devices);
    // the caller frees the dictionary.
    AVDictionary* Parameters() const;
    // Keeps only the streams of the program asked for (if one was); false
    // when the file has no such program. The request is used up.
    bool SelectProgram(AVFormatContext* context);
    // Seeks to the start time asked for (used up) and gives the file's time
    // there, microseconds.
    int64_t SeekToStart(AVFormatContext* context, const std::string& fileName);
    // One decoder per stream (the chosen one of its kind, none for data),
    // discards of disabled kinds, and the best streams' parameters copied
    // into the options. Raises on a stream of no known type.
    void TakeStreams(AVFormatContext* context, std::vector<const AVCodec*>& decoders,
                     const TByKind<const AVCodec*>& chosen);

private:
    void TakeVideo(const AVStream* stream);
    void TakeAudio(const AVStream* stream);

    TOptionState& FOptions;
    const TOptionContexts& FContexts;
};
