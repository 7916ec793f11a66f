#include "player/PositionReport.h"

#include <cstdlib>

std::optional<std::int64_t> TPositionReport::Update(std::int64_t position, std::int64_t duration) {
    FCurrent = position;
    if (duration > 0 && position >= duration) {
        position = duration;
        // Whatever was reported last, the end is reported (also for a file
        // shorter than the smallest move).
        if (position != FLastReported) FLastReported = None;
    }
    const std::int64_t last = FLastReported;
    if (last != None && std::llabs(position - last) <= Step) return std::nullopt;
    FLastReported = position;
    return position;
}

void TPositionReport::Reset() {
    FCurrent = -1;
    FLastReported = None;
}
