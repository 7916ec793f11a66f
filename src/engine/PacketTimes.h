// The time stamps of the packets read, put on the conversion's time line:
// each input file's offset and scale are applied, and a step of a stream's
// times that is not its own course is folded into its file's offset (a
// format that restarts its clock, or a damaged time stamp in one that
// does not), so that the outputs see times that go on without a gap.
//
// Threads: the task's thread only. The offsets are the task's input slots'
// (a join moves the next input's on too); the streams' times are the
// tables', which this only reads.
#pragma once

#include "engine/FFmpeg.h"
#include "engine/TranscoderStreams.h"
#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TPacketTimeOptions {
    bool CopyTs = false;            // the times are kept as they are read
    float DtsDeltaThreshold = 0.0f; // seconds a step may take and still be the stream's own
    int Verbose = 0;
};

class TPacketTimes {
public:
    using TLog = std::function<void(int level, const std::string& text)>;

    // The tables outlive this.
    TPacketTimes(const std::vector<TInputFileRun>& files, const std::vector<TInputStream>& streams,
                 std::vector<TInputFileSlot>& slots, TPacketTimeOptions options, TLog log);

    // Puts `packet`, just read from stream `ist` of input file `fileIndex`,
    // on the time line; `clockRestarts`: the file's format may restart its
    // clock (AVFMT_TS_DISCONT).
    void Adjust(const TInputStream& ist, AVPacket* packet, int fileIndex, bool clockRestarts);

    // Whether a sound or picture time stamp `dts` (microseconds) of a format
    // without clock restarts is damage: back beyond `threshold` from where
    // its stream was, or ahead beyond it of every sound and picture stream
    // of its file (a stream that only paused, a sparse one, is not ahead of
    // the others).
    bool IsDamagedJump(const TInputStream& ist, int64_t dts, int64_t threshold) const;

private:
    void ApplyOffsetAndScale(const TInputStream& ist, AVPacket* packet,
                             const TInputFileSlot& slot) const;

    const std::vector<TInputFileRun>& FFiles;
    const std::vector<TInputStream>& FStreams;
    std::vector<TInputFileSlot>& FSlots;
    const TPacketTimeOptions FOptions;
    const TLog FLog;
};
