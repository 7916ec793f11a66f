// The input streams' own decoding threads: each sound and picture stream
// that is decoded gets one, fed with its packets by the task's thread
// through a short queue. The task's thread takes the decoded frames back in
// decoding order, with the packet time each was decoded at, and hands them
// to the output streams as it did when it decoded them itself; each output
// stream sees the same frames in the same order, so the files are the same.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <limits>

namespace {

// Packets a decoder's queue holds.
constexpr std::size_t kDecodeQueuePackets = 4;

} // namespace

// The frames of a stream reach the output streams later than on one
// thread. That changes nothing but where the output's own clock is read to
// choose the next input or to end: the frame limits, the end at the
// shortest of several inputs and a stream kept in step with another input.
bool TTranscoder::DecodeStagesAllowed() const {
    if (!FEngine.StagedEncoding || !SeveralCores()) return false;
    if (FOptions.OptShortest && FInputFiles.size() > 1) return false;
    for (const int limit : FOptions.MaxFrames)
        if (limit != std::numeric_limits<int>::max()) return false;
    for (const TOutputStream& ost : FOutputStreams)
        if (ost.SyncIndex >= 0 && ost.SyncIndex != ost.SourceIndex) return false;
    return true;
}

void TTranscoder::StartDecodingStages() {
    if (!DecodeStagesAllowed()) return;
    for (TInputStream& ist : FInputStreams) {
        AVCodecContext* decoder = ist.DecoderContext.get();
        if (!ist.DecodingNeeded || !ist.DecoderOpen || !decoder) continue;
        if (decoder->codec_type != AVMEDIA_TYPE_VIDEO && decoder->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        ist.Decoding = std::make_unique<TDecodeStage>(decoder, kDecodeQueuePackets);
        ist.Decoding->Start();
    }
}

// Gives `packet` (null: the drain at the end) to the stream's thread and
// hands on every frame that is ready; a drain waits for all of them. -1
// when the decoder refused a packet.
int TTranscoder::DecodeOnStage(TInputStream& ist, const AVPacket* packet) {
    TPacketItem item;
    item.Time = ist.Pts;
    if (packet) {
        item.Packet.reset(ff::avcodec.av_packet_alloc());
        if (!item.Packet || ff::avcodec.av_packet_ref(item.Packet.get(), packet) < 0)
            throw FFmpegException("Out of memory while handing a packet to the decoder");
    }
    ist.Decoding->Give(std::move(item));
    if (!packet) ist.Decoding->Finish();
    return TakeDecoded(ist);
}

// Hands on the frames that are ready, up to the mark of a refused packet
// (-1) or a stop (the frames decoded past it are dropped with the stage). A
// pause holds every frame, as it holds every packet on one thread.
int TTranscoder::TakeDecoded(TInputStream& ist) {
    TDecodedItem item;
    for (;;) {
        FEngine.WaitWhilePaused();
        if (Interrupted() || !ist.Decoding->Take(item)) break;
        if (item.Failed) return -1;
        if (item.Second && !item.Draining) NoteMultipleFrames(ist);
        DistributeFrame(ist, item.Frame.get(), item.Time);
        item.Frame.reset();
    }
    return 0;
}

// Once the stream's last frames are handed on, or at a stop, the decoder
// is the task's thread's again.
void TTranscoder::EndDecodingStage(TInputStream& ist) {
    if (!ist.Decoding) return;
    ist.Decoding->Stop();
    ist.Decoding.reset();
}

void TTranscoder::NoteMultipleFrames(TInputStream& ist) {
    // With frame threads a decoder hands out frames as its threads finish,
    // so only a decoder without them says something here.
    if (ist.DecoderContext->active_thread_type & FF_THREAD_FRAME) return;
    if ((FOptions.Verbose > 0 && !ist.ReportedMultipleFrames) || FOptions.Verbose > 1) {
        ist.ReportedMultipleFrames = true;
        Log(llError, FormatText("Multiple frames in a packet from stream %d", ist.StreamIndex));
    }
}
