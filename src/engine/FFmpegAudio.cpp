// Subtitle output: encoding subtitles and writing their packets.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"

#include <algorithm>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
constexpr int kSubtitleBufferSize = 1024 * 1024;

} // namespace

void TTranscoder::AudioOutput(TOutputStream& ost, TInputStream& ist, AVFrame* samples, int cut) {
    const TInputStream& sync = FInputStreams[ost.SyncIndex >= 0 ? ost.SyncIndex : ost.SourceIndex];
    FSound.Output(ost, ist, sync.FramePts, samples, cut);
}

// ---- subtitles ----

void TTranscoder::SubtitleOutput(TOutputStream& ost, TInputStream&, AVSubtitle& subtitle,
                                 int64_t packetTime) {
    if (packetTime == AV_NOPTS_VALUE) {
        if (FOptions.ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
        Log(llError, "Subtitle packets must have a pts");
        return;
    }
    if (!ost.EncoderOpen) return;
    if (!FSubtitleBuffer) {
        FSubtitleBuffer.reset(static_cast<uint8_t*>(ff::avutil.av_malloc(kSubtitleBufferSize)));
        if (!FSubtitleBuffer) throw FFmpegException("Subtitle encoding failed");
    }
    const bool dvb = ost.Encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const int64_t time =
        packetTime - FOptions.StartTime + int64_t(subtitle.start_display_time) * 1000;
    subtitle.end_display_time -= subtitle.start_display_time;
    subtitle.start_display_time = 0;
    subtitle.pts = time;
    const unsigned rects = subtitle.num_rects;
    for (int i = 0; i < (dvb ? 2 : 1); ++i) {
        if (i == 1) subtitle.num_rects = 0; // the packet that clears the picture
        const int size = ff::avcodec.avcodec_encode_subtitle(ost.Encoder, FSubtitleBuffer.get(),
                                                             kSubtitleBufferSize, &subtitle);
        subtitle.num_rects = rects;
        if (size < 0) throw FFmpegException("Subtitle encoding failed");
        AVPacket* packet = ost.Writing.Packet.get();
        ff::avcodec.av_packet_unref(packet);
        if (ff::avcodec.av_new_packet(packet, size) < 0)
            throw FFmpegException("Subtitle encoding failed");
        std::copy(FSubtitleBuffer.get(), FSubtitleBuffer.get() + size, packet->data);
        packet->pts = packet->dts = time + (i == 1 ? int64_t(subtitle.end_display_time) * 1000 : 0);
        packet->duration = i == 0 ? int64_t(subtitle.end_display_time) * 1000 : 0;
        ost.Writing.PacketTimeBase = kMicroseconds;
        FWriter.Write(ost, packet);
        ++ost.FrameNumber;
    }
}
