#include "engine/PacketTimes.h"

#include "engine/FFmpegOptions.h"
#include "media/AVUtilEntries.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

bool IsSoundOrPicture(const TInputStream& ist) {
    const auto type = ist.Stream->codecpar->codec_type;
    return type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
}

} // namespace

TPacketTimes::TPacketTimes(const std::vector<TInputFileRun>& files,
                           const std::vector<TInputStream>& streams,
                           std::vector<TInputFileSlot>& slots, TPacketTimeOptions options, TLog log)
    : FFiles(files), FStreams(streams), FSlots(slots), FOptions(options), FLog(std::move(log)) {}

void TPacketTimes::ApplyOffsetAndScale(const TInputStream& ist, AVPacket* packet,
                                       const TInputFileSlot& slot) const {
    const AVRational base = ist.Stream->time_base;
    const int64_t offset = ff::avutil.av_rescale_q(slot.TsOffset, kMicroseconds, base);
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;
    const double scale = ist.StreamIndex < MAX_STREAMS ? slot.TsScale[ist.StreamIndex] : 0.0;
    if (scale != 0.0) {
        if (packet->dts != AV_NOPTS_VALUE) packet->dts = RoundHalfEvenInt(packet->dts * scale);
        if (packet->pts != AV_NOPTS_VALUE) packet->pts = RoundHalfEvenInt(packet->pts * scale);
    }
}

void TPacketTimes::Adjust(const TInputStream& ist, AVPacket* packet, int fileIndex,
                          bool clockRestarts) {
    TInputFileSlot& slot = FSlots[fileIndex];
    ApplyOffsetAndScale(ist, packet, slot);
    if (packet->dts == AV_NOPTS_VALUE || ist.NextPts == AV_NOPTS_VALUE || FOptions.CopyTs) return;
    const AVRational base = ist.Stream->time_base;
    const int64_t dts = ff::avutil.av_rescale_q(packet->dts, base, kMicroseconds);
    const int64_t delta = dts - ist.NextPts;
    const int64_t threshold = static_cast<int64_t>(FOptions.DtsDeltaThreshold * AV_TIME_BASE);
    // A format that may restart its clock folds every step back into the
    // offset; in any other a jump beyond the threshold is damage (a flipped
    // bit of a time stamp), which would otherwise be filled with copies of
    // pictures up to the jumped time.
    if (clockRestarts) {
        if (std::llabs(delta) <= threshold && dts + 1 >= ist.Pts) return;
        if (FOptions.Verbose > 2)
            FLog(llVerbose, FormatText("timestamp discontinuity %lld, new offset= %lld",
                                       static_cast<long long>(delta),
                                       static_cast<long long>(slot.TsOffset - delta)));
    } else {
        if (!IsDamagedJump(ist, dts, threshold)) return;
        FLog(llWarning,
             FormatText("Time stamps of stream #%d.%d jump by %.3f s, taken as a "
                        "discontinuity",
                        ist.FileIndex, ist.StreamIndex, static_cast<double>(delta) / AV_TIME_BASE));
    }
    slot.TsOffset -= delta;
    const int64_t shift = ff::avutil.av_rescale_q(delta, kMicroseconds, base);
    packet->dts -= shift;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
}

bool TPacketTimes::IsDamagedJump(const TInputStream& ist, int64_t dts, int64_t threshold) const {
    if (!IsSoundOrPicture(ist)) return false;
    if (dts < ist.NextPts - threshold) return true;
    const TInputFileRun& file = FFiles[ist.FileIndex];
    int64_t reached = ist.NextPts;
    for (int i = file.FirstStream; i < file.FirstStream + file.StreamCount; ++i) {
        const TInputStream& other = FStreams[i];
        if (IsSoundOrPicture(other) && !other.Discard && other.NextPts != AV_NOPTS_VALUE)
            reached = std::max(reached, other.NextPts);
    }
    return dts > reached + threshold;
}
