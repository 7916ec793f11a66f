// Subtitle output: each decoded subtitle is encoded at once and its packets
// written (a DVB subtitle is followed by the packet that clears it).
//
// Threads: the task's thread only.
#pragma once

#include "engine/PacketWriter.h"
#include "engine/TranscoderStreams.h"
#include "media/FFHandles.h"

#include <cstdint>

class TSubtitleOutput {
public:
    // `writer` outlives this; `startTime` (microseconds): where the output
    // starts in the input; `exitOnError`: a subtitle without a time ends
    // the conversion instead of being left out.
    TSubtitleOutput(TPacketWriter& writer, int64_t startTime, bool exitOnError);

    // Encodes `subtitle` of `packetTime` (microseconds, AV_NOPTS_VALUE:
    // unknown) for `ost` and writes it; raises FFmpegException.
    void Output(TOutputStream& ost, AVSubtitle& subtitle, int64_t packetTime);

private:
    TPacketWriter& FWriter;
    const int64_t FStartTime;
    const bool FExitOnError;
    ff::AvBuffer FBuffer; // the encoder's output, made at the first subtitle
};
