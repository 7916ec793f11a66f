#include "engine/StreamCopy.h"

#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"
#include "media/MyUtils.h"

#include <cstring>

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

const char* CodecName(AVCodecID codec) {
    const AVCodecDescriptor* descriptor = ff::avcodec.avcodec_descriptor_get(codec);
    return descriptor ? descriptor->name : "unknown";
}

} // namespace

bool IsMatroska(const AVOutputFormat* format) {
    return format && std::strcmp(format->name, "matroska") == 0;
}

bool CopiedPicturesDecode(const AVOutputFormat* format, AVCodecID codec) {
    return !IsMatroska(format) ||
           (codec != AV_CODEC_ID_QTRLE && codec != AV_CODEC_ID_SMC && codec != AV_CODEC_ID_8BPS);
}

TStreamCopy::TStreamCopy(TPacketWriter& writer, int64_t startTime, bool initialNonKeys)
    : FWriter(writer), FStartTime(startTime), FInitialNonKeys(initialNonKeys) {}

void TStreamCopy::Copy(TOutputStream& ost, const TInputStream& ist, const AVPacket* packet) {
    if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && !FInitialNonKeys) {
        ++ost.Writing.WaitedForKey;
        return;
    }
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
    // A raw stream's packets carry no times: those of a stream that is
    // shown in the order it is stored (no reordered pictures) are the
    // decoding times worked out above, which containers that keep times of
    // presentation (Matroska) need.
    if (copy->pts == AV_NOPTS_VALUE && ist.Stream->codecpar->video_delay == 0)
        copy->pts = copy->dts;
    // Reordered pictures without times have no time of presentation to
    // give, and Matroska keeps nothing else.
    if (copy->pts == AV_NOPTS_VALUE && IsMatroska(ost.Output->oformat))
        throw FFmpegException(FormatText(
            "Output stream #%d.%d cannot be copied into matroska: the %s pictures carry no "
            "times and are not stored in the order they are shown (convert them instead)",
            ost.FileIndex, ost.StreamIndex, CodecName(ist.Stream->codecpar->codec_id)));
    if (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) // a still for the whole length
        copy->pts = copy->dts = 0;
    ost.Writing.PacketTimeBase = base;
    FWriter.Write(ost, copy);
    ++ost.FrameNumber;
}
