// Reading the input files' packets for the conversion: each file on a
// reading thread of its own, ahead of the task's thread (TReadStage), or
// on the task's thread where that does not pay.
//
// Threads: the task's thread calls every method; while the reading runs
// ahead (from Start until Stop returns) the format contexts are the
// reading threads', and the task's thread reads only their streams'
// settings.
#pragma once

#include "engine/ReadStage.h"
#include "engine/StageFault.h"
#include "media/FFmpegHeaders.h"

#include <memory>
#include <vector>

class TInputReading {
public:
    TInputReading() = default;
    ~TInputReading() { Stop(); }
    TInputReading(const TInputReading&) = delete;
    TInputReading& operator=(const TInputReading&) = delete;

    // Whether this process may run on more than one core.
    static bool SeveralCores();
    // Reading ahead: only for a staged conversion on several cores, and not
    // when the packets are dumped (the dump shows each packet as read).
    static bool AheadAllowed(bool staged, bool dumps);

    // `inputs`: the open input files, by index, which outlive the reading;
    // with `ahead`, each gets a reading thread.
    void Start(std::vector<AVFormatContext*> inputs, bool ahead);
    // The next packet of `file` into `packet`: 0, or the code that ended
    // the file's reading (AVERROR(EAGAIN): no data yet, only when read
    // here). Raises the reading thread's error (FFmpegException).
    int Next(int file, AVPacket* packet);
    // The reading threads end; the files are the task's thread's again.
    void Stop();

private:
    std::vector<AVFormatContext*> FInputs;
    std::vector<std::unique_ptr<TReadStage>> FAhead; // by file; empty: read here
    TStageFault FFault{"read"};                      // the task's thread
};
