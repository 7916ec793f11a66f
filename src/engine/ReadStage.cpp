#include "engine/ReadStage.h"

#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"

namespace {

// How long the reading waits before it asks again an input that has no
// data yet (a live source).
constexpr unsigned kNoDataWait = 10000; // microseconds

} // namespace

TReadStage::TReadStage(AVFormatContext* input, std::size_t capacity)
    : FInput(input), FSource(capacity, [this](TReadItem& item) { return ReadOne(item); }) {}

int TReadStage::Take(AVPacket* packet) {
    if (FEndCode != 0) return AVERROR_EOF;
    TReadItem item;
    if (!FSource.Take(item)) return FEndCode = AVERROR_EOF;
    if (!item.Packet) return FEndCode = item.Code < 0 ? item.Code : AVERROR_EOF;
    ff::avcodec.av_packet_move_ref(packet, item.Packet.get());
    return 0;
}

void TReadStage::Stop() {
    FStopping = true;
    FSource.Stop();
}

// One packet, or the end: the item without a packet is the last one.
bool TReadStage::ReadOne(TReadItem& item) {
    FFault.Tick();
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    if (!packet) throw FFmpegException("Out of memory while reading");
    int code = ff::avformat.av_read_frame(FInput, packet.get());
    while (code == AVERROR(EAGAIN) && !FStopping) {
        ff::avutil.av_usleep(kNoDataWait);
        code = ff::avformat.av_read_frame(FInput, packet.get());
    }
    if (code < 0) {
        item.Code = code == AVERROR(EAGAIN) ? AVERROR_EXIT : code;
        return false;
    }
    item.Packet = std::move(packet);
    return true;
}
