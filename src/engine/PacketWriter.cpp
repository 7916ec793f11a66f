// Writing: the packets' way from the encoders (and the copied streams)
// through the bitstream filters to the muxers.
#include "engine/PacketWriter.h"

#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>

void TPacketWriter::Write(TOutputStream& ost, AVPacket* packet) {
    std::lock_guard lock(FLock);
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

void TPacketWriter::WriteFromChain(TOutputStream& ost, AVPacket* packet) {
    packet->stream_index = ost.Stream->index;
    ff::avcodec.av_packet_rescale_ts(packet, ost.Writing.Filters.back()->time_base_out,
                                     ost.Stream->time_base);
    WriteFiltered(ost, packet);
}

// At the end: each filter of the chain gives up what it holds back, which
// the filters after it still see.
void TPacketWriter::Drain(TOutputStream& ost) {
    if (ost.Writing.Filters.empty()) return;
    std::lock_guard lock(FLock);
    std::vector<ff::PacketPtr> stage;
    for (std::size_t f = 0; f < ost.Writing.Filters.size(); ++f)
        stage = FilterStage(ost, f, std::move(stage), true);
    for (ff::PacketPtr& out : stage)
        WriteFromChain(ost, out.get());
}

// The packets that filter `f` makes of `in` (and, with `end`, of what it
// still holds). A packet the filter refuses goes on unchanged.
std::vector<ff::PacketPtr> TPacketWriter::FilterStage(TOutputStream& ost, std::size_t f,
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
            if (FExitOnError) throw FFmpegException(text);
            GetLogger().Log(nullptr, llError, text);
            out.push_back(std::move(packet));
            continue;
        }
        receive();
    }
    if (end && ff::avcodec.av_bsf_send_packet(filter, nullptr) >= 0) receive();
    return out;
}

// Seconds a packet lasts: its own length, else for a picture a frame of the
// stream's rate (encoders give none where the frames do not tell it).
double TPacketWriter::Length(const TOutputStream& ost, const AVPacket& packet) {
    if (packet.duration > 0)
        return static_cast<double>(packet.duration) * av_q2d(ost.Stream->time_base);
    const AVRational rate = ost.Stream->avg_frame_rate;
    if (ost.MediaType != AVMEDIA_TYPE_VIDEO || rate.num <= 0 || rate.den <= 0) return 0.0;
    return av_q2d(av_inv_q(rate));
}

void TPacketWriter::WriteFiltered(TOutputStream& ost, AVPacket* packet) {
    FFault.Tick();
    const int64_t end = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (end != AV_NOPTS_VALUE) {
        const double time =
            static_cast<double>(end + packet->duration) * av_q2d(ost.Stream->time_base);
        ost.Writing.OutTime = std::max(ost.Writing.OutTime, time);
        const int64_t shown = packet->pts != AV_NOPTS_VALUE ? packet->pts : end;
        ost.Writing.ShownEnd = std::max(ost.Writing.ShownEnd,
                                        static_cast<double>(shown) * av_q2d(ost.Stream->time_base) +
                                            Length(ost, *packet));
    }
    const int code = ff::avformat.av_interleaved_write_frame(ost.Output, packet);
    if (code < 0) throw FFmpegException(MediaErrorText("av_interleaved_write_frame()", code));
    // A cover picture alone does not make an output that holds something.
    if (!(ost.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) ++FPacketsWritten;
}

void TPacketWriter::OpenFilters(TOutputStream& ost) {
    for (const TBitstreamFilterEntry& entry : ost.Setup->BitstreamFilters) {
        AVBSFContext* context = nullptr;
        if (ff::avcodec.av_bsf_alloc(entry.Filter, &context) < 0)
            throw FFmpegException("av_mallocz fail");
        ff::BsfPtr filter(context);
        const AVCodecParameters* in = ost.Writing.Filters.empty()
                                          ? ost.Stream->codecpar
                                          : ost.Writing.Filters.back()->par_out;
        ff::avcodec.avcodec_parameters_copy(context->par_in, in);
        context->time_base_in = ost.Writing.Filters.empty()
                                    ? ost.Stream->time_base
                                    : ost.Writing.Filters.back()->time_base_out;
        if (!entry.Args.empty())
            ff::avutil.av_opt_set_from_string(context->priv_data, entry.Args.c_str(), nullptr, "=",
                                              ":");
        const int code = ff::avcodec.av_bsf_init(context);
        if (code < 0)
            throw FFmpegException(MediaErrorText(
                FormatText("%s failed for stream %d", entry.Filter->name, ost.StreamIndex), code));
        ost.Writing.Filters.push_back(std::move(filter));
    }
    if (!ost.Writing.Filters.empty())
        ff::avcodec.avcodec_parameters_copy(ost.Stream->codecpar,
                                            ost.Writing.Filters.back()->par_out);
}

std::string TPacketWriter::Totals(int64_t fileSize) const {
    const int64_t sum = FVideoBytes + FAudioBytes + FHeaderBytes;
    return FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                      FVideoBytes / 1024.0, FAudioBytes / 1024.0, FHeaderBytes / 1024.0,
                      sum ? static_cast<double>(fileSize - sum) * 100 / sum : 0.0);
}
