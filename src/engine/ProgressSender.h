// Gathering a conversion's progress report from its output streams and
// files, and sending it: to the task's progress callback when it has one,
// else as a line to the log. The report's counters and line are
// TProgressReport's.
//
// Threads: the task's thread calls every method. The encoders' threads
// write the numbers of the coded pictures under the packet writer's lock,
// which the gathering holds while it reads them.
#pragma once

#include "engine/PacketWriter.h"
#include "engine/ProgressReport.h"
#include "engine/TranscoderStreams.h"

#include <cstdint>
#include <functional>
#include <vector>

// What one report tells.
struct TProgressValues {
    int FileIndex = -1;   // the input just read; -1 at the end
    int FrameNumber = -1; // of the first active video stream; -1 without one
    int Fps = -1;
    float Quality = -1.0f;
    float BitRate = 0.0f; // kbit/s
    int64_t Size = 0;     // bytes of the first output file
    int64_t Time = 0;     // microseconds written
};

class TProgressSender {
public:
    // Empty: no callback, the report goes to the log.
    using TSend = std::function<void(const TProgressValues&)>;

    // Everything given outlives this; `interval`: microseconds between two
    // reports; `verbose`: the log's verbosity (below 0: quiet).
    TProgressSender(TProgressReport& report, TPacketWriter& writer,
                    const std::vector<TOutputStream>& streams,
                    const std::vector<AVFormatContext*>& outputs, int verbose, int64_t interval,
                    TSend send);

    // Reports when the interval has passed since the last report.
    void Maybe(int fileIndex);
    // Reports now; the final report logs the totals as well.
    void Report(bool final, int fileIndex);

private:
    int64_t FirstOutputSize() const; // bytes; under the writer's lock

    TProgressReport& FReport;
    TPacketWriter& FWriter;
    const std::vector<TOutputStream>& FStreams;
    const std::vector<AVFormatContext*>& FOutputs;
    const int FVerbose;
    const int64_t FInterval;
    const TSend FSend;
};
