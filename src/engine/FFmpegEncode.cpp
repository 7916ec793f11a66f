// The output streams' own threads: each sound and picture output stream
// that is encoded gets one, fed by the task's thread through a short queue.
// A picture stream's thread codes the pictures the task's thread cropped
// and scaled to the encoder's; meanwhile the task's thread works on the
// next pictures (effects, layers, the hook). The frames reach each
// encoder in the same order as on one thread, and the muxer orders the
// packets of all streams by time, so the files are the same byte for byte.
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
// frame counts next to each coded picture. On one core the hand-overs
// would only cost time, as for the reading and decoding.
bool TTranscoder::StagesAllowed() const {
    return FEngine.StagedEncoding && SeveralCores() && FOptions.LimitFileSize <= 0 &&
           !FOptions.HasVStatsFileName;
}

void TTranscoder::StartEncodingStages() {
    if (!StagesAllowed()) return;
    for (std::size_t i = 0; i < FOutputStreams.size(); ++i) {
        TOutputStream& ost = FOutputStreams[i];
        if (!ost.EncodingNeeded || !ost.EncoderOpen) continue;
        if (ost.MediaType != AVMEDIA_TYPE_VIDEO && ost.MediaType != AVMEDIA_TYPE_AUDIO) continue;
        ost.Encoding =
            std::make_unique<TEncodeStage>(kEncodeQueueFrames, [this, i](TEncodeItem& item) {
                WorkOnItem(FOutputStreams[i], item);
            });
        ost.Encoding->Start();
    }
}

void TTranscoder::SendToEncoder(TOutputStream& ost, AVFrame* frame) {
    if (!ost.Encoding) {
        EncodeOnStage(ost, frame);
        return;
    }
    TEncodeItem item;
    item.Frame = QueuedFrame(frame);
    ost.Encoding->Give(std::move(item));
}

// The stream's time stamps and counts go on at once on the task's thread,
// which decides on the next pictures by them.
void TTranscoder::GivePicture(TOutputStream& ost, TInputStream& ist, AVFrame* picture, int copies) {
    TEncodeItem item;
    item.Frame = QueuedFrame(picture);
    item.Source = &ist;
    item.Copies = copies;
    item.Pts = ost.SyncOpts;
    item.Quality = ist.Quality;
    item.FrameCounter = FPictureCounter;
    ost.SyncOpts += copies;
    ost.FrameNumber += copies;
    ost.Encoding->Give(std::move(item));
}

// On the stream's thread: a picture (fitted to the encoder by the task's
// thread) is coded as often as it was given (a pause or stop is seen
// between the copies).
void TTranscoder::WorkOnItem(TOutputStream& ost, TEncodeItem& item) {
    if (!item.Source) {
        EncodeOnStage(ost, item.Frame.get());
        return;
    }
    const AVFrame* final = item.Frame.get();
    for (int i = 0; final && i < item.Copies; ++i) {
        if (i > 0) {
            FEngine.WaitWhilePaused();
            if (Interrupted()) break;
        }
        CodePicture(ost, final, item.Pts + i, item.Quality, item.FrameCounter);
    }
}

// On the stream's encoding thread, or the task's thread without one.
void TTranscoder::EncodeOnStage(TOutputStream& ost, AVFrame* frame) {
    if (frame) ost.EncodeFault.Tick();
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

// Ends the threads of every stage, the reading and decoding ones too: the
// inputs and codecs are the task's thread's again.
void TTranscoder::StopEncodingStages() {
    StopReadStages();
    StopPictureStage();
    for (TInputStream& ist : FInputStreams)
        EndDecodingStage(ist);
    for (TOutputStream& ost : FOutputStreams)
        if (ost.Encoding) ost.Encoding->Stop();
}
