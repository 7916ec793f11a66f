// Which streams of a file bring packets at all. A container may declare a
// track that holds nothing (an empty picture or sound track of a Matroska
// file): such a stream has parameters like any other but never gives a
// frame, and a conversion that takes it gets nothing.
//
//   const std::vector<TPackets> seen = ScanPackets(probe.FormatContext());
//   if (seen[i] == TPackets::None) ... stream i is empty ...
//
// Used from the thread that owns the context, like the probe.
#pragma once

#include <cstdint>
#include <vector>

struct AVFormatContext;

enum class TPackets : std::int8_t {
    Some,    // at least one packet came
    None,    // the whole file was read and none came
    Unknown, // the reading stopped before the end (budget, error, stop)
};

// How much a scan reads at most before it gives up on the streams that
// have not spoken yet.
inline constexpr std::int64_t kPacketScanBudget = 64ll << 20;

// One entry per stream of `context`. Reads packets from the context's
// position (and leaves it wherever the reading stopped) until every picture
// and sound stream has given one, the file ends or `byteBudget` bytes of
// packets were read. Streams of other kinds stay Unknown unless they spoke.
std::vector<TPackets> ScanPackets(AVFormatContext* context,
                                  std::int64_t byteBudget = kPacketScanBudget);
