// Writing a conversion's packets: each output stream's bitstream filters,
// the muxers behind them, and the byte counts the final report shows.
//
// Threads: Write and Drain run on the task's thread (copied streams, the
// end) and on the encoders' threads; every write to an output file, and
// what the stream's Writing part holds, is under Lock(), which the
// transcoder also takes to read what the encoders' threads set for the
// progress report. The byte counters are atomic; the header bytes are the
// task's thread's, counted before the loop.
#pragma once

#include "engine/StageFault.h"
#include "engine/TranscoderStreams.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TPacketWriter {
public:
    // `exitOnError`: a bitstream filter's failure ends the conversion
    // instead of passing the packet on unchanged.
    explicit TPacketWriter(bool exitOnError) : FExitOnError(exitOnError) {}
    TPacketWriter(const TPacketWriter&) = delete;
    TPacketWriter& operator=(const TPacketWriter&) = delete;

    // Opens the stream's bitstream filters, in the order its set-up names
    // them, once its codec parameters are known; the stream's parameters
    // become the last filter's. The task's thread.
    static void OpenFilters(TOutputStream& ost);
    // Writes `packet` (in ost.Writing.PacketTimeBase) through the stream's
    // filters to its file; the packet is used up.
    void Write(TOutputStream& ost, AVPacket* packet);
    // At the end: writes what the stream's filters still hold back.
    void Drain(TOutputStream& ost);

    std::mutex& Lock() { return FLock; }

    void CountVideo(int64_t bytes) { FVideoBytes += bytes; }
    void CountAudio(int64_t bytes) { FAudioBytes += bytes; }
    void CountHeader(int64_t bytes) { FHeaderBytes += bytes; }
    int64_t VideoBytes() const { return FVideoBytes; }
    // Packets written to every output but cover pictures; under Lock() or
    // once no other thread writes.
    int64_t PacketsWritten() const { return FPacketsWritten; }
    // The final report's line of what went where, for an output of
    // `fileSize` bytes.
    std::string Totals(int64_t fileSize) const;

private:
    void WriteFiltered(TOutputStream& ost, AVPacket* packet);
    static double Length(const TOutputStream& ost, const AVPacket& packet);
    void WriteFromChain(TOutputStream& ost, AVPacket* packet);
    std::vector<ff::PacketPtr> FilterStage(TOutputStream& ost, std::size_t f,
                                           std::vector<ff::PacketPtr> in, bool end);

    const bool FExitOnError;
    std::mutex FLock;
    TStageFault FFault{"write"}; // FLock
    std::atomic<int64_t> FVideoBytes{0}, FAudioBytes{0};
    int64_t FHeaderBytes = 0;    // the task's thread
    int64_t FPacketsWritten = 0; // FLock
};
