#include "engine/FrameDecoding.h"

#include "engine/InputReading.h"
#include "media/AVCodecEntries.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <limits>

namespace {

// Packets a decoder's queue holds.
constexpr std::size_t kDecodeQueuePackets = 4;

} // namespace

TFrameDecoding::TFrameDecoding(const TDecodingOptions& options, TStageControl control,
                               TDeliver deliver)
    : FOptions(options), FControl(std::move(control)), FDeliver(std::move(deliver)) {}

bool TFrameDecoding::Allowed(bool staged, std::size_t inputFiles,
                             const std::vector<TOutputStream>& outputs) const {
    if (!staged || !TInputReading::SeveralCores()) return false;
    if (FOptions.Shortest && inputFiles > 1) return false;
    if (FOptions.LimitFileSize > 0) return false;
    for (const int limit : FOptions.MaxFrames)
        if (limit != std::numeric_limits<int>::max()) return false;
    for (const TOutputStream& ost : outputs)
        if (ost.SyncIndex >= 0 && ost.SyncIndex != ost.SourceIndex) return false;
    return true;
}

void TFrameDecoding::Start(std::vector<TInputStream>& streams) {
    for (TInputStream& ist : streams) {
        AVCodecContext* decoder = ist.DecoderContext.get();
        if (!ist.DecodingNeeded || !ist.DecoderOpen || !decoder) continue;
        if (decoder->codec_type != AVMEDIA_TYPE_VIDEO && decoder->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        ist.Decoding = std::make_unique<TDecodeStage>(decoder, kDecodeQueuePackets);
        ist.Decoding->Start();
    }
}

int TFrameDecoding::Decode(TInputStream& ist, const AVPacket* packet) {
    TPacketItem item;
    item.Time = ist.Pts;
    if (packet) {
        item.Packet.reset(ff::avcodec.av_packet_alloc());
        if (!item.Packet || ff::avcodec.av_packet_ref(item.Packet.get(), packet) < 0)
            throw FFmpegException("Out of memory while handing a packet to the decoder");
    }
    ist.Decoding->Give(std::move(item));
    if (!packet) ist.Decoding->Finish();
    return Take(ist);
}

// Hands on the frames that are ready, up to the mark of a refused packet
// (-1) or a stop (the frames decoded past it are dropped with the stage). A
// pause holds every frame, as it holds every packet on one thread.
int TFrameDecoding::Take(TInputStream& ist) {
    TDecodedItem item;
    for (;;) {
        FControl.WaitWhilePaused();
        if (FControl.Stopped() || !ist.Decoding->Take(item)) break;
        if (item.Failed) return -1;
        if (item.Second && !item.Draining) NoteMultipleFrames(ist);
        FDeliver(ist, item.Frame.get(), item.Time);
        item.Frame.reset();
    }
    return 0;
}

void TFrameDecoding::End(TInputStream& ist) {
    if (!ist.Decoding) return;
    ist.Decoding->Stop();
    ist.Decoding.reset();
}

void TFrameDecoding::NoteMultipleFrames(TInputStream& ist) const {
    // With frame threads a decoder hands out frames as its threads finish,
    // so only a decoder without them says something here.
    if (ist.DecoderContext->active_thread_type & FF_THREAD_FRAME) return;
    if ((FOptions.Verbose > 0 && !ist.ReportedMultipleFrames) || FOptions.Verbose > 1) {
        ist.ReportedMultipleFrames = true;
        GetLogger().Log(nullptr, llError,
                        FormatText("Multiple frames in a packet from stream %d", ist.StreamIndex));
    }
}
