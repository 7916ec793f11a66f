// Decoding one input stream on a thread of its own. The task's thread gives
// the stream's packets in reading order (and, at the end, a drain); the
// stage's thread decodes them and keeps the frames, which the task's thread
// takes back in decoding order and hands on to the output streams.
//
// Threads: the decoder context belongs to the stage's thread from Start
// until Finish or Stop returns, and to the task's thread before and after;
// the task's thread calls every method. The queues are TPipeStage's.
#pragma once

#include "engine/PipeStage.h"
#include "engine/FFmpegRecords.h"
#include "engine/StageFault.h"
#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"

#include <cstddef>
#include <cstdint>

// A packet to decode, or a drain (no packet) that makes the decoder give up
// the frames it holds back.
struct TPacketItem {
    ff::PacketPtr Packet;
    int64_t Time = 0; // microseconds: the stream's packet time when it was read
};

// A decoded frame with the packet time it was decoded at; or the mark of a
// packet the decoder refused (no frame, Failed set), which the task's
// thread reports where it would have without the stage.
struct TDecodedItem {
    ff::FramePtr Frame;
    int64_t Time = 0;
    bool Failed = false;
    bool Second = false;   // the second frame of one packet
    bool Draining = false; // given up by a drain
};

class TDecodeStage {
public:
    // `decoder`: an open decoder context; `capacity`: packets the queue holds.
    TDecodeStage(AVCodecContext* decoder, std::size_t capacity);
    TDecodeStage(const TDecodeStage&) = delete;
    TDecodeStage& operator=(const TDecodeStage&) = delete;

    void Start() { FPipe.Start(); }
    // Raise the first error of the stage's thread (FFmpegException).
    void Give(TPacketItem item) { FPipe.Give(std::move(item)); }
    bool Take(TDecodedItem& out) { return FPipe.Take(out); }
    void Finish() { FPipe.Finish(); }
    void Stop() { FPipe.Stop(); }

    // One packet's (or a drain's) frames, in decoding order; on whatever
    // thread owns `decoder`. Raises on a frame it cannot keep.
    static void Decode(AVCodecContext* decoder, TPacketItem& item,
                       const TPipeStage<TPacketItem, TDecodedItem>::TEmit& emit);

private:
    static int ReceiveAll(AVCodecContext* decoder, const TPacketItem& item, int& count,
                          const TPipeStage<TPacketItem, TDecodedItem>::TEmit& emit);

    TStageFault FFault{"decode"}; // the stage's thread
    TPipeStage<TPacketItem, TDecodedItem, FFmpegException> FPipe;
};
