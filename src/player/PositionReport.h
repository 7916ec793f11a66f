// The play position of the component: the position of the moment, and which
// positions go to the host. A move of more than 10 ms is reported; the end
// of a file of known duration is reported as the duration itself, once,
// however close the report before it was.
//
//   if (auto report = positions.Update(position, duration)) post(*report);
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>

// Any thread (atomics): Update comes from the playback and video threads,
// Current and Reset from host calls.
class TPositionReport {
public:
    // `position` is the position now (microseconds from the start),
    // `duration` the file's (<= 0: unknown). The position to report, if any.
    std::optional<std::int64_t> Update(std::int64_t position, std::int64_t duration);
    // The last position given to Update; -1 before the first.
    std::int64_t Current() const { return FCurrent.load(); }
    // Forgets everything (a file closes).
    void Reset();

private:
    static constexpr std::int64_t None = std::numeric_limits<std::int64_t>::min();
    static constexpr std::int64_t Step = 10000; // smallest move reported

    std::atomic<std::int64_t> FCurrent{-1};
    std::atomic<std::int64_t> FLastReported{None};
};
