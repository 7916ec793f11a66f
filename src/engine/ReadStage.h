// Reading one input file's packets on a thread of its own, ahead of the
// task's thread, into a short queue; the task's thread takes them in the
// order they were read, with the reading's end or error code at the end.
//
// Threads: the file's format context is read by the stage's thread only
// from Start until Stop returns (the task's thread reads its streams'
// settings, which reading does not change); the task's thread calls every
// method. FStopping is read by the stage's thread while it waits for data.
#pragma once

#include "engine/FFmpegRecords.h"
#include "engine/SourceStage.h"
#include "engine/StageFault.h"
#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"

#include <atomic>
#include <cstddef>

// A packet read, or the code that ended the reading (no packet).
struct TReadItem {
    ff::PacketPtr Packet;
    int Code = 0;
};

class TReadStage {
public:
    // `input`: an open format context; `capacity`: packets the queue holds.
    TReadStage(AVFormatContext* input, std::size_t capacity);
    ~TReadStage() { Stop(); }
    TReadStage(const TReadStage&) = delete;
    TReadStage& operator=(const TReadStage&) = delete;

    void Start() { FSource.Start(); }
    // Moves the next packet into `packet` and returns 0, or returns the code
    // that ended the reading (AVERROR_EOF after it, and after a stop).
    // Raises the stage's error (FFmpegException).
    int Take(AVPacket* packet);
    void Stop();

private:
    bool ReadOne(TReadItem& item); // the stage's thread

    AVFormatContext* const FInput;
    std::atomic<bool> FStopping{false};
    int FEndCode = 0;           // the task's thread: the code the reading ended with
    TStageFault FFault{"read"}; // the stage's thread
    TSourceStage<TReadItem, FFmpegException> FSource;
};
