// The picture side of a conversion's output streams: how many times each
// picture is written (dropped or repeated to keep the output's frame rate,
// never far past the end of the sources), fitting it to the encoder
// (cropping and scaling), coding it, the cover picture kept for the end, the
// preview of the coded pictures and the video statistics file.
//
// Threads: Output and Copies run on the task's thread (FCopiesLimited is
// its). Fit runs on the thread that fits the stream's pictures (its
// encoder's thread with Video.FitOnStage, else the task's), Code on the
// thread that owns the stream's encoder; the preview they show
// (FLastPreview, FPreviewContext) is under the process-wide preview-flag
// lock. WriteStats runs where the encoder's packets are read, which is the
// task's thread: a statistics file keeps the encoders there
// (TStreamEncoding::StagesAllowed), so FVStats is the task's thread's.
#pragma once

#include "engine/ConversionOptions.h"
#include "engine/FFmpeg.h"
#include "engine/PacketWriter.h"
#include "engine/ProgressReport.h"
#include "engine/StageControl.h"
#include "engine/StreamEncoding.h"
#include "engine/TranscoderStreams.h"
#include "media/DisplayPicture.h"
#include "media/FFUtils.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the video output reads of the conversion's options.
struct TVideoOptions {
    // Microseconds into the input where the output starts.
    int64_t StartTime = 0;
    // 0: each picture once; 1: pictures dropped and repeated for a constant
    // rate; 2: only dropped, for a variable rate; -1: as the format allows.
    int VideoSyncMethod = -1;
    // Pictures an output stream takes at most.
    int MaxPictures = INT_MAX;
    int SwsFlags = 0;
    // A picture that cannot be cropped ends the conversion.
    bool ExitOnError = false;
    int TopFieldFirst = -1; // -1: the picture's own field order
    bool SameQuality = false;
    int MeThreshold = 0;
    std::string StatsFileName; // empty: no statistics file
    int Verbose = 0;
};

TVideoOptions VideoOptionsOf(const TConversionOptions& options);

// The task's preview: its flags (1: the engine's own window, 2: the host's
// callback), the host's callback and the window, all under the preview-flag
// lock but the flags, which any thread reads.
struct TVideoPreview {
    std::atomic<int>& Flags;
    const TEnginePreviewCallback& OnPreview;
    TCustomFFmpeg* Task; // handed to the callback
    std::unique_ptr<TPreviewer>& Previewer;
};

class TVideoOutput {
public:
    using TLog = std::function<void(int level, const std::string& text)>;
    // The units the pictures go through; all outlive this.
    struct TLinks {
        TStreamEncoding& Encoding;
        TProgressReport& Progress;   // the task's thread
        const TPacketWriter& Writer; // the video bytes, for the statistics file
        const std::vector<TInputStream>& Inputs;
        // Microseconds the inputs last together (0: unknown), set before the
        // first picture.
        const int64_t& SourceDuration;
        TStageControl Control;
        TVideoPreview Preview;
    };

    TVideoOutput(const TVideoOptions& options, TLinks links, TLog log);
    ~TVideoOutput();
    TVideoOutput(const TVideoOutput&) = delete;
    TVideoOutput& operator=(const TVideoOutput&) = delete;

    // A picture of `ist` (FramePts its time) to the stream `ost`, written as
    // often as its time asks; `counter`: the picture's count, for the
    // preview.
    void Output(TOutputStream& ost, TInputStream& ist, AVFrame* picture, int counter);
    // How many times the picture at `syncTime` (the encoder's time base) is
    // written: 0 drops it. The drops and repeats go into the progress report.
    int Copies(TOutputStream& ost, double syncTime);
    // The picture in the encoder's size and format: `picture`, or a frame of
    // the stream's (valid until its next Fit); null when it cannot be
    // cropped (logged). Raises FFmpegException.
    AVFrame* Fit(TOutputStream& ost, const TInputStream& ist, AVFrame* picture);
    // Codes a fitted picture at the stream's next time.
    void Encode(TOutputStream& ost, const TInputStream& ist, const AVFrame* picture, int counter);
    // Codes a fitted picture at `pts` and shows it in the preview.
    void Code(TOutputStream& ost, const AVFrame* picture, int64_t pts, int quality, int counter);
    // A line of the statistics file for the coded picture of `frameSize`.
    void WriteStats(TOutputStream& ost, int frameSize);
    // At the end: the last picture of a constant-rate stream that lasts two
    // or more of its frames (a slide show's, a recording's still end) is
    // repeated up to `end` (microseconds in the input), as a picture is
    // repeated while the next one is awaited. The stream's encoder must be
    // the calling thread's.
    void RepeatLastPicture(TOutputStream& ost, const TInputStream& ist, int64_t end, int counter);

private:
    int PicturesToWrite(TOutputStream& ost);
    int FramesToWrite(TOutputStream& ost, double syncTime);
    bool ConstantRate(const TOutputStream& ost) const;
    static void KeepLast(TOutputStream& ost, const AVFrame* picture);
    int LimitCopies(const TOutputStream& ost, int n);
    void FollowSizeChange(TOutputStream& ost, const TInputStream& ist, const AVFrame& picture);
    AVFrame* Crop(TOutputStream& ost, AVFrame* picture);
    static void KeepCover(TOutputStream& ost, const AVFrame* picture);
    void Preview(const AVFrame* picture, const AVCodecContext* encoder, int counter);
    void Log(int level, const std::string& text) const { FLog(level, text); }

    const TVideoOptions FOptions;
    TLinks FLinks;
    const TLog FLog;
    bool FCopiesLimited = false;     // the task's thread: the cut was logged
    int64_t FLastPreview = 0;        // preview-flag lock
    TDisplayContext FPreviewContext; // preview-flag lock
    FILE* FStats = nullptr;          // the task's thread
};
