#include "engine/PictureHandOver.h"

#include "media/AVFilterEntries.h"
#include "media/AVUtilEntries.h"

#include <algorithm>

namespace {

// Pictures the stage's queue holds: each is a reference to a decoded
// picture, which keeps the decoder from using that buffer again.
constexpr std::size_t kPictureQueue = 2;

} // namespace

TPictureHandOver::TPictureHandOver(const TTables& tables, TStageControl control, int64_t startTime,
                                   TVideoOutput output)
    : FTables(tables), FControl(std::move(control)), FStartTime(startTime),
      FOutput(std::move(output)) {}

// Only when the work changes pictures: a picture that would only be
// counted is not worth a hand-over. A conversion on the caller's thread
// calls the hook there. With the reading, decoding and encoding on threads
// of their own, the task's thread has little else to do for one picture
// output than that output's fitting, and a hand-over there would only add
// the pictures in the stage's queues to the memory, not speed; with several
// picture outputs to fit, the picture work goes beside them.
bool TPictureHandOver::StageAllowed(bool decodingApart) const {
    if (!decodingApart || !FTables.Work.Changes()) return false;
    const auto pictureOutputs =
        std::count_if(FTables.Outputs.begin(), FTables.Outputs.end(), [](const TOutputStream& ost) {
            return ost.EncodingNeeded && ost.MediaType == AVMEDIA_TYPE_VIDEO;
        });
    return pictureOutputs > 1;
}

void TPictureHandOver::Start(bool decodingApart) {
    if (!StageAllowed(decodingApart)) return;
    // On the stage's thread: a pause holds the pictures not yet worked on,
    // and after a stop none is worked on any more.
    auto work = [this](TPictureItem& item,
                       const TPipeStage<TPictureItem, TPictureItem>::TEmit& emit) {
        FControl.WaitWhilePaused();
        if (FControl.Stopped()) return;
        AVFrame* done = FTables.Work.Work(item.Stream, item.Frame.get(), item.Pts);
        // Moved, not shared: the work's own frame gets a new buffer for the
        // next picture instead of a copy of this one to write over.
        TPictureItem out;
        out.Frame.reset(ff::avutil.av_frame_alloc());
        if (!out.Frame) throw FFmpegException("Out of memory while handing a picture on");
        ff::avutil.av_frame_move_ref(out.Frame.get(), done);
        out.Stream = item.Stream;
        out.Pts = item.Pts;
        out.Quality = item.Quality;
        out.Counted = FTables.Work.Pictures();
        out.BeforeStop = !FControl.Stopped();
        emit(std::move(out));
    };
    FStage = std::make_unique<TPipeStage<TPictureItem, TPictureItem, FFmpegException>>(
        kPictureQueue, work);
    FStage->Start();
}

void TPictureHandOver::Work(TInputStream& ist, AVFrame* frame) {
    if (FStage) {
        Give(ist, frame);
        Take();
        return;
    }
    AVFrame* picture =
        FTables.Work.Work(static_cast<int>(&ist - FTables.Inputs.data()), frame, ist.FramePts);
    FTables.Counter = FTables.Work.Pictures();
    Output(ist, picture, false);
}

void TPictureHandOver::Give(TInputStream& ist, const AVFrame* frame) {
    TPictureItem item;
    item.Frame.reset(ff::avutil.av_frame_alloc());
    if (!item.Frame || ff::avutil.av_frame_ref(item.Frame.get(), frame) < 0)
        throw FFmpegException("Out of memory while handing a picture on");
    item.Stream = static_cast<int>(&ist - FTables.Inputs.data());
    item.Pts = ist.FramePts;
    item.Quality = ist.Quality;
    FStage->Give(std::move(item));
}

// Hands on the pictures that are ready. The stream's time and quality are
// the picture's again while it goes to the outputs (the next picture's are
// worked out from the decoder's frame, not from these). A pause holds
// them; after a stop only those worked on before it go on, the ones the
// task's thread would have handed on itself.
void TPictureHandOver::Take() {
    TPictureItem item;
    for (;;) {
        FControl.WaitWhilePaused();
        if (!FStage->Take(item)) break;
        if (!item.BeforeStop) continue;
        TInputStream& ist = FTables.Inputs[item.Stream];
        ist.FramePts = item.Pts;
        ist.Quality = item.Quality;
        FTables.Counter = item.Counted;
        Output(ist, item.Frame.get(), true);
        item.Frame.reset();
    }
}

void TPictureHandOver::Finish() {
    if (!FStage) return;
    FStage->Finish();
    Take();
    if (FControl.Stopped()) Stop();
}

void TPictureHandOver::Stop() {
    if (!FStage) return;
    FStage->Stop();
    FStage.reset();
}

// A worked-on picture of `ist` to each output stream it feeds, through the
// stream's filters where it has them; after a stop only when `beforeStop`
// (worked on before it).
void TPictureHandOver::Output(TInputStream& ist, AVFrame* picture, bool beforeStop) {
    const bool sought = FTables.Slots[ist.FileIndex].Sought;
    if (ist.FramePts < FStartTime || (sought && ist.FramePts < 0)) return;
    const int index = static_cast<int>(&ist - FTables.Inputs.data());
    for (TOutputStream& ost : FTables.Outputs) {
        if (ost.SourceIndex != index || !ost.EncodingNeeded || (!beforeStop && FControl.Stopped()))
            continue;
        if (!ost.Video.Graph) {
            FOutput(ost, ist, picture, picture->sample_aspect_ratio);
            continue;
        }
        picture->pts = ist.FramePts;
        if (ff::avfilter.av_buffersrc_add_frame_flags(ost.Video.FilterSource, picture,
                                                      AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
            continue;
        while (ff::avfilter.av_buffersink_get_frame(ost.Video.FilterSink,
                                                    ost.Video.Filtered.get()) >= 0) {
            FOutput(ost, ist, ost.Video.Filtered.get(), ost.Video.Filtered->sample_aspect_ratio);
            ff::avutil.av_frame_unref(ost.Video.Filtered.get());
        }
    }
}
