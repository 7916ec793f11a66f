#include "engine/StreamCopy.h"

#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"

#include <cstring>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

} // namespace

bool CopiedPicturesDecode(const AVOutputFormat* format, AVCodecID codec) {
    const bool matroska = format && std::strcmp(format->name, "matroska") == 0;
    return !matroska ||
           (codec != AV_CODEC_ID_QTRLE && codec != AV_CODEC_ID_SMC && codec != AV_CODEC_ID_8BPS);
}

TStreamCopy::TStreamCopy(TPacketWriter& writer, int64_t startTime, bool initialNonKeys)
    : FWriter(writer), FStartTime(startTime), FInitialNonKeys(initialNonKeys) {}

void TStreamCopy::Copy(TOutputStream& ost, const TInputStream& ist, const AVPacket* packet) {
    if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && !FInitialNonKeys) return;
    if (ost.MediaType == AVMEDIA_TYPE_VIDEO) {
        FWriter.CountVideo(packet->size);
        ++ost.SyncOpts;
    } else if (ost.MediaType == AVMEDIA_TYPE_AUDIO) {
        FWriter.CountAudio(packet->size);
    }
    if (!FPacket) FPacket.reset(ff::avcodec.av_packet_alloc());
    AVPacket* copy = FPacket.get();
    if (!copy || ff::avcodec.av_packet_ref(copy, packet) < 0)
        throw FFmpegException("av_mallocz fail");
    const AVRational base = ist.Stream->time_base;
    const int64_t start = ff::avutil.av_rescale_q(FStartTime, kMicroseconds, base);
    if (copy->pts != AV_NOPTS_VALUE) copy->pts -= start;
    if (copy->dts == AV_NOPTS_VALUE)
        copy->dts = ff::avutil.av_rescale_q(ist.Pts, kMicroseconds, base);
    copy->dts -= start;
    if (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) // a still for the whole length
        copy->pts = copy->dts = 0;
    ost.Writing.PacketTimeBase = base;
    FWriter.Write(ost, copy);
    ++ost.FrameNumber;
}
