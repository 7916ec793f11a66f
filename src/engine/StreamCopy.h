// Stream copy: a packet read goes to an output stream as it is, its times
// moved by the start point, without being decoded or encoded.
//
// Threads: the task's thread only (the writer is shared as its header says).
#pragma once

#include "engine/PacketWriter.h"
#include "engine/TranscoderStreams.h"
#include "media/FFHandles.h"

#include <cstdint>

// Whether `format` is Matroska's muxer (not WebM's), whose files keep what
// other containers drop: attachments, a rotation tag.
bool IsMatroska(const AVOutputFormat* format);

// Whether pictures of `codec` copied into `format` still decode as they
// did: Matroska's muxer writes QuickTime's run-length and palette codecs
// without the depth and colour table of their sample description, so
// their copies would not decode, or decode in other colours.
bool CopiedPicturesDecode(const AVOutputFormat* format, AVCodecID codec);

class TStreamCopy {
public:
    // `writer` outlives this; `startTime` (microseconds): where the output
    // starts in the input; `initialNonKeys`: packets ahead of the first key
    // frame are copied too (else a copy starts at a key frame).
    TStreamCopy(TPacketWriter& writer, int64_t startTime, bool initialNonKeys);

    // Writes `packet` of `ist` (its time line's, ist.Pts its time) to `ost`;
    // raises FFmpegException.
    void Copy(TOutputStream& ost, const TInputStream& ist, const AVPacket* packet);

private:
    TPacketWriter& FWriter;
    const int64_t FStartTime;
    const bool FInitialNonKeys;
    ff::PacketPtr FPacket; // the copy handed to the writer, made at the first
};
