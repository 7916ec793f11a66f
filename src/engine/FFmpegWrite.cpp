// What the encoders make: every packet they have ready is written, and
// what they report of each coded picture is kept for the reports.
#include "engine/FFmpegTranscoder.h"

#include <algorithm>

namespace {

uint64_t LittleEndian(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// The encoder's report on a coded picture: quality (u32), picture type
// (u8), count of error values (u8), two bytes reserved, then the squared
// error of each plane (u64 each).
void ReadEncoderStats(TOutputStream& ost, const AVPacket* packet) {
    size_t size = 0;
    const uint8_t* stats =
        ff::avcodec.av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
    if (!stats || size < 5) return;
    ost.Video.Quality =
        static_cast<float>(static_cast<int32_t>(LittleEndian(stats, 4))) / FF_QP2LAMBDA;
    ost.Video.PictureType = stats[4];
    if (size < 6) return;
    const std::size_t count = std::min<std::size_t>(stats[5], ost.Video.Error.size());
    for (std::size_t i = 0; i < count && 8 + 8 * (i + 1) <= size; ++i) {
        ost.Video.Error[i] = static_cast<int64_t>(LittleEndian(stats + 8 + 8 * i, 8));
        ost.Video.ErrorSum[i] += ost.Video.Error[i];
    }
}

} // namespace

// Takes every packet the encoder has ready and writes it.
void TTranscoder::ReceivePackets(TOutputStream& ost) {
    AVPacket* packet = ost.Writing.Packet.get();
    const bool video = ost.MediaType == AVMEDIA_TYPE_VIDEO;
    for (;;) {
        const int code = ff::avcodec.avcodec_receive_packet(ost.Encoder, packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return;
        if (code < 0)
            throw FFmpegException(video ? "Video encoding failed" : "Audio encoding failed");
        const int size = packet->size;
        if (video) {
            FWriter.CountVideo(size);
            {
                std::lock_guard lock(FWriter.Lock());
                ReadEncoderStats(ost, packet);
            }
            if (ost.Writing.PassLog && ost.Encoder->stats_out)
                std::fputs(ost.Encoder->stats_out, ost.Writing.PassLog);
        } else {
            FWriter.CountAudio(size);
        }
        ost.Writing.PacketTimeBase = ost.Encoder->time_base;
        FWriter.Write(ost, packet);
        if (video && FOptions.HasVStatsFileName) WriteVideoStats(ost, size);
    }
}
