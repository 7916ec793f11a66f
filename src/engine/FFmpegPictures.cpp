// The work on decoded pictures (turning upright, tone mapping ahead of the
// hook, deinterlacing, the hook) on a thread of its own, between the
// decoding and the hand-off to the output streams. The task's thread gives
// each decoded picture with its time, takes the pictures worked on back in
// the same order and hands them on as it would have itself: the outputs
// see the same pictures with the same times, so the files are the same.
#include "engine/FFmpegTranscoder.h"

#include "media/AVFilterEntries.h"

#include <algorithm>

namespace {

// Pictures the stage's queue holds: each is a reference to a decoded
// picture, which keeps the decoder from using that buffer again.
constexpr std::size_t kPictureQueue = 2;

} // namespace

// Under the decoding stages' conditions, and only when the work changes
// pictures: a picture that would only be counted is not worth a hand-over.
// A conversion on the caller's thread calls the hook there. With the
// reading, decoding and encoding on threads of their own, the task's thread
// has little else to do for one picture output than that output's fitting,
// and a hand-over there would only add the pictures in the stage's queues
// to the memory, not speed; with several picture outputs to fit, the
// picture work goes beside them.
bool TTranscoder::PictureStageAllowed() const {
    if (!FEngine.Threaded || !DecodeStagesAllowed() || !FPictureWork.Changes()) return false;
    const auto pictureOutputs =
        std::count_if(FOutputStreams.begin(), FOutputStreams.end(), [](const TOutputStream& ost) {
            return ost.EncodingNeeded && ost.MediaType == AVMEDIA_TYPE_VIDEO;
        });
    return pictureOutputs > 1;
}

void TTranscoder::StartPictureStage() {
    if (!PictureStageAllowed()) return;
    // On the stage's thread: a pause holds the pictures not yet worked on,
    // and after a stop none is worked on any more.
    auto work = [this](TPictureItem& item,
                       const TPipeStage<TPictureItem, TPictureItem>::TEmit& emit) {
        FEngine.WaitWhilePaused();
        if (Interrupted()) return;
        AVFrame* done = FPictureWork.Work(item.Stream, item.Frame.get(), item.Pts);
        // Moved, not shared: the work's own frame gets a new buffer for the
        // next picture instead of a copy of this one to write over.
        TPictureItem out;
        out.Frame.reset(ff::avutil.av_frame_alloc());
        if (!out.Frame) throw FFmpegException("Out of memory while handing a picture on");
        ff::avutil.av_frame_move_ref(out.Frame.get(), done);
        out.Stream = item.Stream;
        out.Pts = item.Pts;
        out.Quality = item.Quality;
        out.Counted = FPictureWork.Pictures();
        out.BeforeStop = !Interrupted();
        emit(std::move(out));
    };
    FPictureStage = std::make_unique<TPipeStage<TPictureItem, TPictureItem, FFmpegException>>(
        kPictureQueue, work);
    FPictureStage->Start();
}

// The picture work of a decoded picture (its time and quality set on the
// stream), here or on the stage's thread.
void TTranscoder::WorkOnPicture(TInputStream& ist, AVFrame* frame) {
    if (FPictureStage) {
        GiveToPictureStage(ist, frame);
        TakePictures();
        return;
    }
    AVFrame* picture =
        FPictureWork.Work(static_cast<int>(&ist - FInputStreams.data()), frame, ist.FramePts);
    FPictureCounter = FPictureWork.Pictures();
    OutputPicture(ist, picture, false);
}

void TTranscoder::GiveToPictureStage(TInputStream& ist, const AVFrame* frame) {
    TPictureItem item;
    item.Frame.reset(ff::avutil.av_frame_alloc());
    if (!item.Frame || ff::avutil.av_frame_ref(item.Frame.get(), frame) < 0)
        throw FFmpegException("Out of memory while handing a picture on");
    item.Stream = static_cast<int>(&ist - FInputStreams.data());
    item.Pts = ist.FramePts;
    item.Quality = ist.Quality;
    FPictureStage->Give(std::move(item));
}

// Hands on the pictures that are ready. The stream's time and quality are
// the picture's again while it goes to the outputs (the next picture's are
// worked out from the decoder's frame, not from these). A pause holds
// them; after a stop only those worked on before it go on, the ones the
// task's thread would have handed on itself.
void TTranscoder::TakePictures() {
    TPictureItem item;
    for (;;) {
        FEngine.WaitWhilePaused();
        if (!FPictureStage->Take(item)) break;
        if (!item.BeforeStop) continue;
        TInputStream& ist = FInputStreams[item.Stream];
        ist.FramePts = item.Pts;
        ist.Quality = item.Quality;
        FPictureCounter = item.Counted;
        OutputPicture(ist, item.Frame.get(), true);
        item.Frame.reset();
    }
}

// Waits for every picture given and hands them on (the end of a stream).
// After a stop the stage ends: what is left is the task's thread's.
void TTranscoder::FinishPictures() {
    if (!FPictureStage) return;
    FPictureStage->Finish();
    TakePictures();
    if (Interrupted()) StopPictureStage();
}

void TTranscoder::StopPictureStage() {
    if (!FPictureStage) return;
    FPictureStage->Stop();
    FPictureStage.reset();
}

// A worked-on picture of `ist` (FramePts its time) to each output stream
// it feeds, through the stream's filters where it has them; after a stop
// only when `beforeStop` (worked on before it).
void TTranscoder::OutputPicture(TInputStream& ist, AVFrame* picture, bool beforeStop) {
    const bool sought = FEngine.FInputFiles[ist.FileIndex].Sought;
    if (ist.FramePts < FOptions.StartTime || (sought && ist.FramePts < 0)) return;
    const int index = static_cast<int>(&ist - FInputStreams.data());
    for (TOutputStream& ost : FOutputStreams) {
        if (ost.SourceIndex != index || !ost.EncodingNeeded || (!beforeStop && Interrupted()))
            continue;
        if (!ost.Video.Graph) {
            FVideo.Output(ost, ist, picture, FPictureCounter);
            continue;
        }
        picture->pts = ist.FramePts;
        if (ff::avfilter.av_buffersrc_add_frame_flags(ost.Video.FilterSource, picture,
                                                      AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
            continue;
        while (ff::avfilter.av_buffersink_get_frame(ost.Video.FilterSink,
                                                    ost.Video.Filtered.get()) >= 0) {
            FVideo.Output(ost, ist, ost.Video.Filtered.get(), FPictureCounter);
            ff::avutil.av_frame_unref(ost.Video.Filtered.get());
        }
    }
}
