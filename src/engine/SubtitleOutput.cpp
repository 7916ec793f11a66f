#include "engine/SubtitleOutput.h"

#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFmpegLogger.h"

#include <algorithm>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
constexpr int kSubtitleBufferSize = 1024 * 1024;

} // namespace

TSubtitleOutput::TSubtitleOutput(TPacketWriter& writer, int64_t startTime, bool exitOnError)
    : FWriter(writer), FStartTime(startTime), FExitOnError(exitOnError) {}

void TSubtitleOutput::Output(TOutputStream& ost, AVSubtitle& subtitle, int64_t packetTime) {
    if (packetTime == AV_NOPTS_VALUE) {
        if (FExitOnError) throw FFmpegException("Subtitle packets must have a pts");
        GetLogger().Log(nullptr, llError, "Subtitle packets must have a pts");
        return;
    }
    if (!ost.EncoderOpen) return;
    if (!FBuffer) {
        FBuffer.reset(static_cast<uint8_t*>(ff::avutil.av_malloc(kSubtitleBufferSize)));
        if (!FBuffer) throw FFmpegException("Subtitle encoding failed");
    }
    const bool dvb = ost.Encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const int64_t time = packetTime - FStartTime + int64_t(subtitle.start_display_time) * 1000;
    subtitle.end_display_time -= subtitle.start_display_time;
    subtitle.start_display_time = 0;
    subtitle.pts = time;
    const unsigned rects = subtitle.num_rects;
    for (int i = 0; i < (dvb ? 2 : 1); ++i) {
        if (i == 1) subtitle.num_rects = 0; // the packet that clears the picture
        const int size = ff::avcodec.avcodec_encode_subtitle(ost.Encoder, FBuffer.get(),
                                                             kSubtitleBufferSize, &subtitle);
        subtitle.num_rects = rects;
        if (size < 0) throw FFmpegException("Subtitle encoding failed");
        AVPacket* packet = ost.Writing.Packet.get();
        ff::avcodec.av_packet_unref(packet);
        if (ff::avcodec.av_new_packet(packet, size) < 0)
            throw FFmpegException("Subtitle encoding failed");
        std::copy(FBuffer.get(), FBuffer.get() + size, packet->data);
        packet->pts = packet->dts = time + (i == 1 ? int64_t(subtitle.end_display_time) * 1000 : 0);
        packet->duration = i == 0 ? int64_t(subtitle.end_display_time) * 1000 : 0;
        ost.Writing.PacketTimeBase = kMicroseconds;
        FWriter.Write(ost, packet);
        ++ost.FrameNumber;
    }
}
