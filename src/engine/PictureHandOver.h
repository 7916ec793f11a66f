// The way of each decoded picture from its decoder to the output streams
// it feeds: the picture work (turning upright, tone mapping ahead of the
// hook, deinterlacing, the hook), here or on a thread of its own, then
// each output's filters where it has them, then the video output.
//
// With the thread, the task's thread gives each decoded picture with its
// time, takes the pictures worked on back in the same order and hands them
// on as it would have itself: the outputs see the same pictures with the
// same times, so the files are the same.
//
// Threads: the task's thread calls every method. The picture work is the
// stage's thread's from Start until Stop returns, else the task's; the
// tables and the picture counter are the task's thread's.
#pragma once

#include "engine/FFmpeg.h"
#include "engine/PictureWork.h"
#include "engine/PipeStage.h"
#include "engine/StageControl.h"
#include "engine/TranscoderStreams.h"
#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TPictureHandOver {
public:
    // A picture of `ist` (FramePts its time) to the video output of `ost`,
    // with the sample aspect ratio it has there.
    using TVideoOutput = std::function<void(TOutputStream& ost, TInputStream& ist, AVFrame* picture,
                                            AVRational sar)>;

    // What the hand-over works on; everything outlives it. `Counter`: the
    // count of the picture being handed on, which the video output reads.
    struct TTables {
        TPictureWork& Work;
        std::vector<TInputStream>& Inputs;
        std::vector<TOutputStream>& Outputs;
        const std::vector<TInputFileSlot>& Slots;
        int& Counter;
    };

    // `startTime` (microseconds): pictures before it are not handed on.
    TPictureHandOver(const TTables& tables, TStageControl control, int64_t startTime,
                     TVideoOutput output);
    ~TPictureHandOver() { Stop(); }
    TPictureHandOver(const TPictureHandOver&) = delete;
    TPictureHandOver& operator=(const TPictureHandOver&) = delete;

    // Starts the thread when the work is worth one; `decodingApart`: the
    // conversion runs on a worker of its own and decodes on threads of
    // their own.
    void Start(bool decodingApart);
    // The picture work of a decoded picture (its time and quality set on
    // the stream) and its hand-over to the outputs, here or through the
    // thread (the pictures it has ready are handed on meanwhile).
    void Work(TInputStream& ist, AVFrame* frame);
    // Waits for every picture given and hands them on (the end of a
    // stream). After a stop the thread ends.
    void Finish();
    // Ends the thread: what waits is dropped, the picture work is the task's
    // thread's again.
    void Stop();

    // Whether the pictures get a thread of their own: the decoding runs
    // apart, the pictures are worked on, and more than one output takes them.
    bool StageAllowed(bool decodingApart) const;

private:
    void Give(TInputStream& ist, const AVFrame* frame);
    void Take();
    void Output(TInputStream& ist, AVFrame* picture, bool beforeStop);

    const TTables FTables;
    const TStageControl FControl;
    const int64_t FStartTime;
    const TVideoOutput FOutput;
    // The picture work's own thread; null when the task's thread works.
    std::unique_ptr<TPipeStage<TPictureItem, TPictureItem, FFmpegException>> FStage;
};
