#include "engine/StreamEncoding.h"

#include "engine/InputReading.h"

#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"

#include <algorithm>
#include <mutex>

namespace {

// Frames an encoder's queue holds: enough to smooth out the uneven cost of
// pictures, few enough to keep the memory of a conversion small.
constexpr std::size_t kEncodeQueueFrames = 8;
// Pictures not yet fitted are the source's size: a queue of them holds fewer.
constexpr std::size_t kUnfittedQueuePictures = 4;

// A frame for the encoder's queue: a new reference to `source`'s buffers.
// The task's thread makes its reused buffers writable before it fills them
// again (a buffer the queue still holds is replaced then), as it does for
// an encoder that keeps frames; a frame without buffers of its own is copied.
ff::FramePtr QueuedFrame(const AVFrame* source) {
    ff::FramePtr copy(ff::avutil.av_frame_alloc());
    if (!copy || ff::avutil.av_frame_ref(copy.get(), source) < 0)
        throw FFmpegException("Out of memory while handing a frame to the encoder");
    return copy;
}

uint64_t LittleEndian(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// The encoder's report on a coded picture: quality (u32), picture type
// (u8), count of error values (u8), two bytes reserved, then the squared
// error of each plane (u64 each).
void ReadEncoderStats(TOutputStream& ost, const AVPacket* packet) {
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

const char* FailureText(const TOutputStream& ost) {
    return ost.MediaType == AVMEDIA_TYPE_VIDEO ? "Video encoding failed" : "Audio encoding failed";
}

} // namespace

TStreamEncoding::TStreamEncoding(TPacketWriter& writer, TStageControl control,
                                 TPictureCoding pictures, TVideoStats videoStats)
    : FWriter(writer), FControl(std::move(control)), FPictures(std::move(pictures)),
      FVideoStats(std::move(videoStats)) {}

bool TStreamEncoding::StagesAllowed(bool staged, int64_t limitFileSize, bool videoStats) {
    return staged && TInputReading::SeveralCores() && limitFileSize <= 0 && !videoStats;
}

void TStreamEncoding::Start(std::vector<TOutputStream>& streams, bool fitPictures) {
    for (TOutputStream& ost : streams) {
        if (!ost.EncodingNeeded || !ost.EncoderOpen) continue;
        if (ost.MediaType != AVMEDIA_TYPE_VIDEO && ost.MediaType != AVMEDIA_TYPE_AUDIO) continue;
        ost.Video.FitOnStage = fitPictures && ost.MediaType == AVMEDIA_TYPE_VIDEO;
        TOutputStream* stream = &ost;
        ost.Encoding = std::make_unique<TEncodeStage>(
            ost.Video.FitOnStage ? kUnfittedQueuePictures : kEncodeQueueFrames,
            [this, stream](TEncodeItem& item) { WorkOnItem(*stream, item); });
        ost.Encoding->Start();
        FStaged.push_back(stream);
    }
}

void TStreamEncoding::Send(TOutputStream& ost, AVFrame* frame) {
    if (!ost.Encoding) {
        Encode(ost, frame);
        return;
    }
    TEncodeItem item;
    item.Frame = QueuedFrame(frame);
    ost.Encoding->Give(std::move(item));
}

void TStreamEncoding::Give(TOutputStream& ost, const TInputStream& ist, AVFrame* picture,
                           int copies, int frameCounter) {
    TEncodeItem item;
    item.Frame = QueuedFrame(picture);
    item.Source = &ist;
    item.Copies = copies;
    item.Pts = ost.SyncOpts;
    item.Quality = ist.Quality;
    item.FrameCounter = frameCounter;
    ost.SyncOpts += copies;
    ost.FrameNumber += copies;
    ost.Encoding->Give(std::move(item));
}

// On the stream's thread: a picture (fitted here with Video.FitOnStage) is
// coded as often as it was given (a pause or stop is seen between the
// copies).
void TStreamEncoding::WorkOnItem(TOutputStream& ost, TEncodeItem& item) {
    if (!item.Source) {
        Encode(ost, item.Frame.get());
        return;
    }
    const AVFrame* final = ost.Video.FitOnStage ? FPictures.Fit(ost, *item.Source, item.Frame.get())
                                                : item.Frame.get();
    for (int i = 0; final && i < item.Copies; ++i) {
        if (i > 0) {
            FControl.WaitWhilePaused();
            if (FControl.Stopped()) break;
        }
        FPictures.Code(ost, final, item.Pts + i, item.Quality, item.FrameCounter);
    }
}

void TStreamEncoding::Encode(TOutputStream& ost, AVFrame* frame) {
    if (frame) ost.EncodeFault.Tick();
    if (ff::avcodec.avcodec_send_frame(ost.Encoder, frame) < 0)
        throw FFmpegException(FailureText(ost));
    Receive(ost);
}

void TStreamEncoding::Receive(TOutputStream& ost) {
    AVPacket* packet = ost.Writing.Packet.get();
    const bool video = ost.MediaType == AVMEDIA_TYPE_VIDEO;
    for (;;) {
        const int code = ff::avcodec.avcodec_receive_packet(ost.Encoder, packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return;
        if (code < 0) throw FFmpegException(FailureText(ost));
        const int size = packet->size;
        if (video) {
            FWriter.CountVideo(size);
            {
                std::lock_guard lock(FWriter.Lock());
                ReadEncoderStats(ost, packet);
            }
            if (ost.Writing.PassLog && ost.Encoder->stats_out)
                std::fputs(ost.Encoder->stats_out, ost.Writing.PassLog);
        } else {
            FWriter.CountAudio(size);
        }
        ost.Writing.PacketTimeBase = ost.Encoder->time_base;
        FWriter.Write(ost, packet);
        if (video && FVideoStats) FVideoStats(ost, size);
    }
}

void TStreamEncoding::Flush(TOutputStream& ost) {
    if (ost.Encoding) ost.Encoding->Flush();
}

void TStreamEncoding::Stop() {
    for (TOutputStream* ost : FStaged)
        if (ost->Encoding) ost->Encoding->Stop();
}
