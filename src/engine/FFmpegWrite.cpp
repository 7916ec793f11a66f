// Writing: the packets' way from the encoders (and the copied streams)
// through the bitstream filters to the muxers, and what the encoders report
// of each coded picture.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>

void TTranscoder::WritePacket(TOutputStream& ost, AVPacket* packet) {
    std::lock_guard lock(FWriteLock);
    packet->stream_index = ost.Stream->index;
    if (ost.Writing.Filters.empty()) {
        ff::avcodec.av_packet_rescale_ts(packet, ost.Writing.PacketTimeBase, ost.Stream->time_base);
        WriteFiltered(ost, packet);
        return;
    }
    // Through the chain in order; a filter may hold packets back or make
    // several. The chain counts in the time base it was made with (the
    // muxer may have chosen another one for the stream since).
    ff::avcodec.av_packet_rescale_ts(packet, ost.Writing.PacketTimeBase,
                                     ost.Writing.Filters.front()->time_base_in);
    std::vector<ff::PacketPtr> stage;
    stage.emplace_back(ff::avcodec.av_packet_alloc());
    if (!stage.back() || ff::avcodec.av_packet_ref(stage.back().get(), packet) < 0)
        throw FFmpegException("av_mallocz fail");
    ff::avcodec.av_packet_unref(packet);
    for (std::size_t f = 0; f < ost.Writing.Filters.size(); ++f)
        stage = FilterStage(ost, f, std::move(stage), false);
    for (ff::PacketPtr& out : stage)
        WriteFromChain(ost, out.get());
}

void TTranscoder::WriteFromChain(TOutputStream& ost, AVPacket* packet) {
    packet->stream_index = ost.Stream->index;
    ff::avcodec.av_packet_rescale_ts(packet, ost.Writing.Filters.back()->time_base_out,
                                     ost.Stream->time_base);
    WriteFiltered(ost, packet);
}

// At the end: each filter of the chain gives up what it holds back, which
// the filters after it still see.
void TTranscoder::DrainBitstreamFilters(TOutputStream& ost) {
    if (ost.Writing.Filters.empty()) return;
    std::vector<ff::PacketPtr> stage;
    for (std::size_t f = 0; f < ost.Writing.Filters.size(); ++f)
        stage = FilterStage(ost, f, std::move(stage), true);
    for (ff::PacketPtr& out : stage)
        WriteFromChain(ost, out.get());
}

// The packets that filter `f` makes of `in` (and, with `end`, of what it
// still holds). A packet the filter refuses goes on unchanged.
std::vector<ff::PacketPtr> TTranscoder::FilterStage(TOutputStream& ost, std::size_t f,
                                                    std::vector<ff::PacketPtr> in, bool end) {
    AVBSFContext* filter = ost.Writing.Filters[f].get();
    std::vector<ff::PacketPtr> out;
    auto receive = [&] {
        for (;;) {
            ff::PacketPtr next(ff::avcodec.av_packet_alloc());
            if (!next) throw FFmpegException("av_mallocz fail");
            if (ff::avcodec.av_bsf_receive_packet(filter, next.get()) < 0) return;
            out.push_back(std::move(next));
        }
    };
    for (ff::PacketPtr& packet : in) {
        const int code = ff::avcodec.av_bsf_send_packet(filter, packet.get());
        if (code < 0) {
            const std::string text = MediaErrorText(
                FormatText("%s failed for stream %d, codec %s", filter->filter->name,
                           ost.StreamIndex, ost.Copy ? "copy" : ost.Encoder->codec->name),
                code);
            if (FOptions.ExitOnError) throw FFmpegException(text);
            Log(llError, text);
            out.push_back(std::move(packet));
            continue;
        }
        receive();
    }
    if (end && ff::avcodec.av_bsf_send_packet(filter, nullptr) >= 0) receive();
    return out;
}

void TTranscoder::WriteFiltered(TOutputStream& ost, AVPacket* packet) {
    const int64_t end = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (end != AV_NOPTS_VALUE) {
        const double time =
            static_cast<double>(end + packet->duration) * av_q2d(ost.Stream->time_base);
        ost.Writing.OutTime = std::max(ost.Writing.OutTime, time);
    }
    const int code = ff::avformat.av_interleaved_write_frame(ost.Output, packet);
    if (code < 0) throw FFmpegException(MediaErrorText("av_interleaved_write_frame()", code));
    // A cover picture alone does not make an output that holds something.
    if (!(ost.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) ++FPacketsWritten;
}

namespace {

uint64_t LittleEndian(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

} // namespace

// The encoder's report on a coded picture: quality (u32), picture type
// (u8), count of error values (u8), two bytes reserved, then the squared
// error of each plane (u64 each).
void TTranscoder::ReadEncoderStats(TOutputStream& ost, const AVPacket* packet) {
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
            FVideoBytes += size;
            {
                std::lock_guard lock(FWriteLock);
                ReadEncoderStats(ost, packet);
            }
            if (ost.Writing.PassLog && ost.Encoder->stats_out)
                std::fputs(ost.Encoder->stats_out, ost.Writing.PassLog);
        } else {
            FAudioBytes += size;
        }
        ost.Writing.PacketTimeBase = ost.Encoder->time_base;
        WritePacket(ost, packet);
        if (video && FOptions.HasVStatsFileName) WriteVideoStats(ost, size);
    }
}
