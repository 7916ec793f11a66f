// The conductor's own part: its start and end, and the start and stop of
// the units that run beside the task's thread.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"

#include <mutex>

TTranscoder::TTranscoder(const TTaskShare& task)
    : FEngine(task), FOptions(ConversionOptionsOf(task.FOptions, task.FOptionContexts)),
      FPictureWork({&task.Task, task.OnHookCallback, task.FFrameHooks, FOptions.UsingVhook},
                   FOptions.DoDeinterlace,
                   [this](int level, const std::string& text) { Log(level, text); }),
      FSound(TSoundOptions{FOptions.StartTime, FOptions.AudioSyncMethod,
                           FOptions.AudioDriftThreshold, FOptions.ExitOnError, FOptions.Verbose},
             [this](TOutputStream& ost, AVFrame* frame) { FEncoding.Send(ost, frame); }),
      FControl{[this] { FEngine.WaitWhilePaused(); }, [this] { return Interrupted(); }},
      FDecoding(TDecodingOptions{FOptions.OptShortest, FOptions.MaxFrames, FOptions.LimitFileSize,
                                 FOptions.Verbose},
                FControl,
                [this](TInputStream& ist, AVFrame* frame, int64_t time) {
                    DistributeFrame(ist, frame, time);
                }),
      // The encoding threads code the pictures as the task's thread would.
      FEncoding(FWriter, FControl,
                {[this](TOutputStream& ost, const AVFrame* picture, int64_t pts, int quality,
                        int counter) { FVideo.Code(ost, picture, pts, quality, counter); },
                 [this](TOutputStream& ost, const TInputStream& ist, AVFrame* picture) {
                     return FVideo.Fit(ost, ist, picture);
                 }},
                FOptions.HasVStatsFileName
                    ? TStreamEncoding::TVideoStats(
                          [this](TOutputStream& ost, int size) { FVideo.WriteStats(ost, size); })
                    : TStreamEncoding::TVideoStats()),
      FVideo(VideoOptionsOf(FOptions),
             {FEncoding,
              FProgress,
              FWriter,
              FInputStreams,
              FSourceDuration,
              FControl,
              {FEngine.FPreviewFlags, FEngine.OnPreview, &FEngine.Task, FEngine.FPreviewer}},
             [this](int level, const std::string& text) { Log(level, text); }),
      FProgressSender(
          FProgress, FWriter, FOutputStreams, FOutputs, FOptions.Verbose, FEngine.ProgressInterval,
          task.OnProgressCallback ? TProgressSender::TSend([this](const TProgressValues& v) {
              FEngine.OnProgressCallback(&FEngine.Task, v.FileIndex, v.FrameNumber, v.Fps,
                                         v.Quality, v.BitRate, v.Size, v.Time,
                                         FEngine.FTotalDuration);
          })
                                  : TProgressSender::TSend()) {}

TTranscoder::~TTranscoder() {
    CloseCodecs();
    for (TOutputStream& ost : FOutputStreams)
        if (ost.Writing.PassLog) std::fclose(ost.Writing.PassLog);
}

void TTranscoder::Log(int level, const std::string& text) const {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
}

void TTranscoder::Run() {
    PrepareConversion();
    Loop();
    FinishConversion();
}

void TTranscoder::PrepareConversion() {
    FSetup.Run();
    if (TStreamEncoding::StagesAllowed(FEngine.StagedEncoding, FOptions.LimitFileSize,
                                       FOptions.HasVStatsFileName))
        FEncoding.Start(FOutputStreams, FPictureWork.Changes() && !PictureStageAllowed());
    FPacket.reset(ff::avcodec.av_packet_alloc());
    FCopyPacket.reset(ff::avcodec.av_packet_alloc());
    if (!FPacket || !FCopyPacket) throw FFmpegException("av_mallocz fail");
}

void TTranscoder::CloseCodecs() {
    StopStages();
    std::lock_guard<std::mutex> lock(CodecLock());
    for (TOutputStream& ost : FOutputStreams) {
        if (ost.Encoder) ff::avutil.av_freep(&ost.Encoder->stats_in); // two-pass statistics
        if (ost.EncoderOpen) {
            ost.EncoderOpen = false;
            ost.Setup->EncoderContext.reset();
            ost.Encoder = nullptr;
        }
    }
    for (TInputStream& ist : FInputStreams)
        if (ist.DecoderOpen) {
            ist.DecoderOpen = false;
            ist.DecoderContext.reset();
        }
}

// ---- the stages ----

void TTranscoder::StartReadStages() {
    std::vector<AVFormatContext*> inputs;
    for (int i = 0; i < FEngine.InputFileCount(); ++i)
        inputs.push_back(FEngine.InputContext(i));
    FReading.Start(std::move(inputs),
                   TInputReading::AheadAllowed(FEngine.StagedEncoding,
                                               FOptions.DoPktDump || FOptions.DoHexDump));
}

bool TTranscoder::DecodeStagesAllowed() const {
    return FDecoding.Allowed(FEngine.StagedEncoding, FInputFiles.size(), FOutputStreams);
}

void TTranscoder::StartDecodingStages() {
    if (DecodeStagesAllowed()) FDecoding.Start(FInputStreams);
}

// Ends the threads of every stage: the inputs and codecs are the task's
// thread's again.
void TTranscoder::StopStages() {
    FReading.Stop();
    StopPictureStage();
    for (TInputStream& ist : FInputStreams)
        TFrameDecoding::End(ist);
    FEncoding.Stop();
}

void TTranscoder::AudioOutput(TOutputStream& ost, TInputStream& ist, AVFrame* samples, int cut) {
    const TInputStream& sync = FInputStreams[ost.SyncIndex >= 0 ? ost.SyncIndex : ost.SourceIndex];
    FSound.Output(ost, ist, sync.FramePts, samples, cut);
}
