#include "probe/PacketScan.h"

#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"
#include "media/FFmpegLoader.h"

#include <algorithm>

namespace {

bool Watched(const AVStream* stream) {
    const AVMediaType type = stream->codecpar->codec_type;
    return type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
}

// A non-blocking read that has nothing yet is asked again, a few times.
int ReadPacket(AVFormatContext* context, AVPacket* packet) {
    int code = AVERROR(EAGAIN);
    for (int attempt = 0; attempt < 1000 && code == AVERROR(EAGAIN); ++attempt)
        code = ff::avformat.av_read_frame(context, packet);
    return code;
}

} // namespace

std::vector<TPackets> ScanPackets(AVFormatContext* context, std::int64_t byteBudget) {
    const unsigned count = context ? context->nb_streams : 0;
    std::vector<TPackets> seen(count, TPackets::Unknown);
    unsigned waiting = 0;
    for (unsigned i = 0; i < count; ++i)
        waiting += Watched(context->streams[i]) ? 1 : 0;
    ff::PacketPtr packet(count ? ff::avcodec.av_packet_alloc() : nullptr);
    if (!packet) return seen;
    std::int64_t read = 0;
    int code = 0;
    while (waiting > 0 && read <= byteBudget && (code = ReadPacket(context, packet.get())) >= 0) {
        const int index = packet->stream_index;
        read += packet->size;
        ff::avcodec.av_packet_unref(packet.get());
        if (index < 0 || static_cast<unsigned>(index) >= count) continue;
        if (seen[index] == TPackets::Some) continue;
        seen[index] = TPackets::Some;
        if (Watched(context->streams[index])) --waiting;
    }
    if (code == AVERROR_EOF)
        std::replace(seen.begin(), seen.end(), TPackets::Unknown, TPackets::None);
    return seen;
}
