// The player's queue of packets from the read thread to one decoder.
#pragma once

#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

// Every entry counts its packet's size plus this much towards ByteSize.
inline constexpr int PacketEntrySize = 72;

// A FIFO of packets between the read thread (producer) and one consumer
// (video or subtitle thread blocking, the audio callback never blocking).
// Lock guards every field except AbortRequest, which is also read without it.
class TPacketQueue {
public:
    ~TPacketQueue() { Flush(); }
    void Start();
    // Takes over `packet` (moves its reference); the flush marker is queued as
    // a marker. -1 when the packet cannot be held.
    int Put(AVPacket* packet);
    int PutFlush();
    // Puts an empty packet of `streamIndex` (end of input).
    int PutEmpty(int streamIndex);
    // 1 with a packet (caller frees it), 0 when none (not blocking), -1 when
    // aborted. `isFlush` tells the flush marker.
    int Get(ff::PacketPtr& packet, bool& isFlush, bool block);
    void Abort();
    void Flush();
    int PacketCount();
    int ByteSize();
    bool Aborted() const { return AbortRequest.load(); }

private:
    struct TEntry {
        ff::PacketPtr Packet; // empty for the flush marker
        bool Flush = false;
    };
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TEntry> Entries;
    int Count = 0;
    int Bytes = 0;
    std::atomic<bool> AbortRequest{false};
};
