// Which input file the conversion reads next: the one of the stream that
// is furthest behind, by the time of its packets read or of the output it
// feeds; with joined inputs, the segment being read, one after the other.
// An input without data for now is passed over until another one gives a
// packet.
//
// Threads: the task's thread only, as the tables it reads.
#pragma once

#include "engine/TranscoderStreams.h"

#include <array>
#include <vector>

class TInputChoice {
public:
    // What the choice reads; everything outlives it. `NoPacket`: by input
    // file, whether it had no data the last time it was read.
    struct TTables {
        const std::vector<TInputFileRun>& Files;
        const std::vector<TInputStream>& Inputs;
        const std::vector<TOutputStream>& Outputs;
        std::vector<bool>& NoPacket;
        const bool& Joined;
    };
    // `maxFrames`: by media type, the frames an output stream may have;
    // `inputSync`: the input time chooses, else the output time.
    TInputChoice(const TTables& tables, const std::array<int, 4>& maxFrames, bool inputSync);

    // Time of the next unit `ost` will write, in seconds.
    static double OutputTime(const TOutputStream& ost);

    // The input file to read next, -1 when none has a packet to give now;
    // `limitReached`: an output stream has all the frames it may have.
    int Next(bool& limitReached) const;
    // `file` had no data yet; another one had.
    void NoData(int file) { FTables.NoPacket[file] = true; }
    void DataCame();
    // With no input to read: whether one only had no data yet and is worth
    // another try (its note is cleared), rather than all being at their end.
    bool RetryLater();

    // Joined inputs: the segment being read, and the move to the next one.
    int Segment() const { return FSegment; }
    void NextSegment() { ++FSegment; }

private:
    int NextOfAll(bool& limitReached) const;

    const TTables FTables;
    const std::array<int, 4> FMaxFrames;
    const bool FInputSync;
    int FSegment = 0;
};
