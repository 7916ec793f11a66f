// Whether a conversion that ran to the end of its sources wrote as much as
// they last: the length its output should have, and the note when the
// output falls well short of it (the source was cut while it converted, or
// is shorter than its header claims).
//
// Threads: the task's thread, once the conversion has ended; the tables
// are its own then.
#pragma once

#include "engine/TranscoderStreams.h"
#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <string>
#include <vector>

class TLengthCheck {
public:
    // What the check reads; everything outlives it. `SourceDuration`:
    // microseconds the inputs last together, 0: unknown.
    struct TTables {
        const std::vector<TInputStream>& Inputs;
        const std::vector<TOutputStream>& Outputs;
        const bool& Joined;
        const int64_t& SourceDuration;
    };
    // An input file: its context and the microseconds left out at its start
    // (opened at a start time).
    struct TInputFile {
        const AVFormatContext* Context = nullptr;
        int64_t SoughtTime = 0;
    };
    // The output that falls short.
    struct TShortfall {
        std::string Text; // empty: the output is long enough
        int Percent = 0;  // of the length it reached, below 100
    };

    // `startTime` (microseconds): where the outputs start in the inputs;
    // `recordingTime`: how long they may last at most.
    TLengthCheck(const TTables& tables, int64_t startTime, int64_t recordingTime);

    // How long the output should last when every source of `inputs` is read
    // to its end, in microseconds; 0 when unknown.
    int64_t Expected(const std::vector<TInputFile>& inputs) const;
    // What the outputs reached against `expected`.
    TShortfall Shortfall(int64_t expected) const;

private:
    int64_t MappedLength(const std::vector<TInputFile>& inputs) const;

    const TTables FTables;
    const int64_t FStartTime;
    const int64_t FRecordingTime;
};
