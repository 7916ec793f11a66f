// What a task's set-up opens and creates: its input files and the streams
// of its output files, as the conversion finds them when it starts.
//
// Threads: filled and read by the caller's thread while the task is idle;
// the conversion takes them over on the thread that runs the task, and the
// caller does not touch them meanwhile.
#pragma once

#include "engine/FFmpegOptions.h"
#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"

#include <array>
#include <cstdint>
#include <vector>

// One opened input file.
struct TInputFileSlot {
    ff::InputContextPtr Context;
    int64_t TsOffset = 0;                      // microseconds
    std::array<double, MAX_STREAMS> TsScale{}; // 0 = no scaling
    std::vector<const AVCodec*> Decoders;      // one per stream, chosen by name or none
    bool Sought = false;    // opened at a start time: what decodes before it is not converted
    int64_t SoughtTime = 0; // that start time, microseconds of the file left out
};

// One stream created on an output file, with what it needs for encoding.
struct TOutputStreamSetup {
    int FileIndex = 0;
    AVStream* Stream = nullptr; // owned by the output's format context
    int MediaType = -1;         // AVMEDIA_TYPE_*
    bool StreamCopy = false;
    const AVCodec* Encoder = nullptr; // chosen by name, guessed, or none (copy)
    bool EncoderByName = false;
    ff::CodecContextPtr EncoderContext; // prepared, not opened
    TPrivateOptions PrivateOptions;     // encoder-private options for avcodec_open2
    std::vector<TBitstreamFilterEntry> BitstreamFilters;
    int SourceStream = -1; // stream of the first input it is made from, -1: the default choice
    TSoundSettingsGiven SoundGiven; // sound: the settings the options gave
    // Made by copy_all_streams: the whole file is copied, so a preview
    // (which needs decoded pictures) simply shows nothing for it.
    bool WholeFileCopy = false;
};
