#include "player/PacketQueue.h"

#include "media/AVCodecEntries.h"

#include <chrono>

using namespace std::chrono_literals;

void TPacketQueue::Start() {
    Flush();
    AbortRequest = false;
}

int TPacketQueue::Put(AVPacket* packet) {
    TEntry entry;
    entry.Packet.reset(ff::avcodec.av_packet_alloc());
    if (!entry.Packet) return -1;
    ff::avcodec.av_packet_move_ref(entry.Packet.get(), packet);
    int size = entry.Packet->size;
    {
        std::lock_guard lock(Lock);
        Entries.push_back(std::move(entry));
        ++Count;
        Bytes += size + PacketEntrySize;
    }
    Changed.notify_one();
    return 0;
}

int TPacketQueue::PutFlush() {
    {
        std::lock_guard lock(Lock);
        TEntry entry;
        entry.Flush = true;
        Entries.push_back(std::move(entry));
        ++Count;
        Bytes += PacketEntrySize;
    }
    Changed.notify_one();
    return 0;
}

int TPacketQueue::PutEmpty(int streamIndex) {
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    if (!packet) return -1;
    packet->stream_index = streamIndex;
    return Put(packet.get());
}

int TPacketQueue::Get(ff::PacketPtr& packet, bool& isFlush, bool block) {
    std::unique_lock lock(Lock);
    for (;;) {
        if (AbortRequest) return -1;
        if (!Entries.empty()) {
            TEntry entry = std::move(Entries.front());
            Entries.pop_front();
            --Count;
            Bytes -= (entry.Packet ? entry.Packet->size : 0) + PacketEntrySize;
            isFlush = entry.Flush;
            packet = std::move(entry.Packet);
            return 1;
        }
        if (!block) return 0;
        Changed.wait_for(lock, 100ms);
    }
}

void TPacketQueue::Abort() {
    {
        std::lock_guard lock(Lock);
        AbortRequest = true;
    }
    Changed.notify_all();
}

void TPacketQueue::Flush() {
    std::lock_guard lock(Lock);
    Entries.clear();
    Count = 0;
    Bytes = 0;
}

int TPacketQueue::PacketCount() {
    std::lock_guard lock(Lock);
    return Count;
}

int TPacketQueue::ByteSize() {
    std::lock_guard lock(Lock);
    return Bytes;
}
