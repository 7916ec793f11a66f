#include "engine/InputChoice.h"

#include <algorithm>
#include <limits>

TInputChoice::TInputChoice(const TTables& tables, const std::array<int, 4>& maxFrames,
                           bool inputSync)
    : FTables(tables), FMaxFrames(maxFrames), FInputSync(inputSync) {}

double TInputChoice::OutputTime(const TOutputStream& ost) {
    if (ost.EncodingNeeded && ost.Encoder && ost.MediaType != AVMEDIA_TYPE_SUBTITLE)
        return static_cast<double>(ost.SyncOpts) * av_q2d(ost.Encoder->time_base);
    return ost.Writing.OutTime;
}

int TInputChoice::Next(bool& limitReached) const {
    const int chosen = NextOfAll(limitReached);
    if (limitReached || !FTables.Joined) return chosen;
    if (FTables.Files[FSegment].Eof || FTables.NoPacket[FSegment]) return -1;
    return FSegment;
}

// Joined inputs only look for a stream at its frame limit here.
int TInputChoice::NextOfAll(bool& limitReached) const {
    limitReached = false;
    double smallestIn = std::numeric_limits<double>::max();
    double smallestOut = std::numeric_limits<double>::max();
    int chosen = -1;
    for (const TOutputStream& ost : FTables.Outputs) {
        if (ost.SourceIndex < 0) continue;
        const TInputStream& ist = FTables.Inputs[ost.SourceIndex];
        if (FTables.Joined && ist.FileIndex != FSegment) continue;
        if (ost.MediaType >= 0 && ost.MediaType < 4 &&
            ost.FrameNumber >= FMaxFrames[ost.MediaType]) {
            limitReached = true;
            return -1;
        }
        if (FTables.Joined) continue;
        if (ist.PastRecordingTime || FTables.NoPacket[ist.FileIndex]) continue;
        if (FTables.Files[ist.FileIndex].Eof) continue;
        const double inTime = static_cast<double>(ist.Pts);
        const double outTime = OutputTime(ost);
        if (inTime < smallestIn) {
            smallestIn = inTime;
            if (FInputSync) chosen = ist.FileIndex;
        }
        if (outTime < smallestOut) {
            smallestOut = outTime;
            if (!FInputSync) chosen = ist.FileIndex;
        }
    }
    return chosen;
}

void TInputChoice::DataCame() {
    std::fill(FTables.NoPacket.begin(), FTables.NoPacket.end(), false);
}

bool TInputChoice::RetryLater() {
    if (FTables.Joined ||
        std::none_of(FTables.NoPacket.begin(), FTables.NoPacket.end(), [](bool b) { return b; }))
        return false;
    DataCame();
    return true;
}
