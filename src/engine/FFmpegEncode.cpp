// The encoders' own threads: each sound and picture output stream that is
// encoded gets one, fed by the task's thread through a short queue, so that
// reading, decoding and picture work go on while the encoder codes. The
// frames reach each encoder in the same order as on one thread, and the
// muxer orders the packets of all streams by time, so the files are the
// same byte for byte.
#include "engine/FFmpegTranscoder.h"

namespace {

// Frames an encoder's queue holds: enough to smooth out the uneven cost of
// pictures, few enough to keep the memory of a conversion small.
constexpr std::size_t kEncodeQueueFrames = 8;

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

} // namespace

// Some outputs need the encoder's results at once on the task's thread:
// the size limit reads the file as it grows, and the statistics file the
// frame counts next to each coded picture.
bool TTranscoder::StagesAllowed() const {
    return FEngine.StagedEncoding && FOptions.LimitFileSize <= 0 && !FOptions.HasVStatsFileName;
}

void TTranscoder::StartEncodingStages() {
    if (!StagesAllowed()) return;
    for (std::size_t i = 0; i < FOutputStreams.size(); ++i) {
        TOutputStream& ost = FOutputStreams[i];
        if (!ost.EncodingNeeded || !ost.EncoderOpen) continue;
        if (ost.MediaType != AVMEDIA_TYPE_VIDEO && ost.MediaType != AVMEDIA_TYPE_AUDIO) continue;
        ost.Encoding =
            std::make_unique<TEncodeStage>(kEncodeQueueFrames, [this, i](ff::FramePtr& frame) {
                EncodeOnStage(FOutputStreams[i], frame.get());
            });
        ost.Encoding->Start();
    }
}

void TTranscoder::SendToEncoder(TOutputStream& ost, AVFrame* frame) {
    if (ost.Encoding)
        ost.Encoding->Give(QueuedFrame(frame));
    else
        EncodeOnStage(ost, frame);
}

// On the stream's encoding thread, or the task's thread without one.
void TTranscoder::EncodeOnStage(TOutputStream& ost, AVFrame* frame) {
    if (ff::avcodec.avcodec_send_frame(ost.Encoder, frame) < 0)
        throw FFmpegException(ost.MediaType == AVMEDIA_TYPE_VIDEO ? "Video encoding failed"
                                                                  : "Audio encoding failed");
    ReceivePackets(ost);
}

// Waits until the stream's encoder has coded every frame given to it; the
// encoder then belongs to the task's thread again.
void TTranscoder::FlushEncodingStage(TOutputStream& ost) {
    if (ost.Encoding) ost.Encoding->Flush();
}

void TTranscoder::StopEncodingStages() {
    for (TOutputStream& ost : FOutputStreams)
        if (ost.Encoding) ost.Encoding->Stop();
}
