#include "engine/DecodeStage.h"

#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"

TDecodeStage::TDecodeStage(AVCodecContext* decoder, std::size_t capacity)
    : FPipe(capacity, [this, decoder](TPacketItem& item, const auto& emit) {
          FFault.Tick();
          Decode(decoder, item, emit);
      }) {}

void TDecodeStage::Decode(AVCodecContext* decoder, TPacketItem& item,
                          const TPipeStage<TPacketItem, TDecodedItem>::TEmit& emit) {
    AVPacket* packet = item.Packet.get();
    int count = 0;
    int code = ff::avcodec.avcodec_send_packet(decoder, packet);
    if (code == AVERROR(EAGAIN)) { // frames are waiting: take them first
        if (ReceiveAll(decoder, item, count, emit) < 0) {
            TDecodedItem failed;
            failed.Failed = true;
            emit(std::move(failed));
            return;
        }
        code = ff::avcodec.avcodec_send_packet(decoder, packet);
    }
    const int received = ReceiveAll(decoder, item, count, emit);
    if ((code < 0 && code != AVERROR_EOF) || received < 0) {
        TDecodedItem failed;
        failed.Failed = true;
        emit(std::move(failed));
    }
}

// Every frame the decoder has ready; -1 on a decoding error.
int TDecodeStage::ReceiveAll(AVCodecContext* decoder, const TPacketItem& item, int& count,
                             const TPipeStage<TPacketItem, TDecodedItem>::TEmit& emit) {
    for (;;) {
        ff::FramePtr frame(ff::avutil.av_frame_alloc());
        if (!frame) throw FFmpegException("Out of memory while decoding");
        const int code = ff::avcodec.avcodec_receive_frame(decoder, frame.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return 0;
        if (code < 0) return -1;
        TDecodedItem out;
        out.Frame = std::move(frame);
        out.Time = item.Time;
        out.Second = ++count == 2;
        out.Draining = !item.Packet;
        emit(std::move(out));
    }
}
