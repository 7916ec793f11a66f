// The conversion of one task in progress. Internal to the engine; the task
// (TCustomFFmpeg) creates one per conversion on the thread that runs it.
// That thread conducts: it has the set-up build the tables, starts the
// units that run beside it, hands their items on, and ends them. Everything
// here belongs to it but what the structures below give to a unit's thread.
//
// The units it owns, each with its own state: the set-up that builds the
// tables (ConversionSetup.h), the reading of the inputs (InputReading.h),
// the decoding threads (FrameDecoding.h), the work on each decoded picture
// (PictureWork.h), the encoding and its packets (StreamEncoding.h), the
// sound output (SoundOutput.h), the subtitle output (SubtitleOutput.h), the
// packet writing (PacketWriter.h), the video output with its preview
// (VideoOutput.h) and the progress report (ProgressSender.h,
// ProgressReport.h). The conductor itself is FFmpegTranscoder.cpp (start,
// end, the stages' start and stop), FFmpegLoop.cpp (the loop, the packet
// step, copying, the end) and FFmpegPictures.cpp (the picture stage's
// hand-over).
#pragma once

#include "engine/FFmpeg.h"
#include "engine/ConversionOptions.h"
#include "engine/ConversionSetup.h"
#include "engine/FilterChain.h"
#include "engine/FrameDecoding.h"
#include "engine/InputReading.h"
#include "engine/PacketWriter.h"
#include "engine/ProgressReport.h"
#include "engine/ProgressSender.h"
#include "engine/SoundOutput.h"
#include "engine/PipeStage.h"
#include "engine/PictureWork.h"
#include "engine/StageControl.h"
#include "engine/StageFault.h"
#include "engine/StreamEncoding.h"
#include "engine/SubtitleOutput.h"
#include "engine/TaskShare.h"
#include "engine/TranscoderStreams.h"
#include "engine/VideoOutput.h"
#include "media/AVFilterEntries.h"
#include "media/FFHandles.h"
#include "media/SwResampleEntries.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TTranscoder {
public:
    explicit TTranscoder(const TTaskShare& task);
    ~TTranscoder();
    TTranscoder(const TTranscoder&) = delete;
    TTranscoder& operator=(const TTranscoder&) = delete;

    // PrepareConversion, the loop and its end; raises FFmpegException.
    void Run();
    // Closes whatever codecs are still open (after an error).
    void CloseCodecs();

private:
    // FFmpegTranscoder.cpp: the set-up, then what the loop needs; the
    // stages' start and stop.
    void PrepareConversion();
    void StartReadStages();
    void StartDecodingStages();
    void StopStages();
    bool DecodeStagesAllowed() const;
    // To the sound output, against the time of the stream `ost` syncs to;
    // `cut`: samples at the front that lie before the start point.
    void AudioOutput(TOutputStream& ost, TInputStream& ist, AVFrame* samples, int cut);

    // FFmpegLoop.cpp
    void Loop();
    void RunLoop();
    int ChooseInput(bool& limitReached);
    bool ReadPacket(int fileIndex);
    void AdjustTimes(TInputStream& ist, AVPacket* packet, int fileIndex);
    bool IsDamagedJump(const TInputStream& ist, int64_t dts, int64_t threshold) const;
    int PacketStep(TInputStream& ist, AVPacket* packet);
    int DecodeAndDistribute(TInputStream& ist, const AVPacket* packet);
    int ReceiveFrames(TInputStream& ist, bool draining);
    void DistributeFrame(TInputStream& ist, AVFrame* frame, int64_t packetTime);
    void CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket* packet);
    int DistributeSubtitle(TInputStream& ist, const AVPacket* packet);
    void EndOfInput(int fileIndex);
    void NextSegment(int fileIndex);
    void DrainDecoder(TInputStream& ist);
    void FlushEncoders();
    void FlushEncoder(TOutputStream& ost);
    void FinishConversion();
    int64_t ExpectedLength() const;
    void NoteEarlyEnd();
    bool Interrupted() const;

    // FFmpegPictures.cpp
    bool PictureStageAllowed() const;
    void StartPictureStage();
    void WorkOnPicture(TInputStream& ist, AVFrame* frame);
    void GiveToPictureStage(TInputStream& ist, const AVFrame* frame);
    void TakePictures();
    void FinishPictures();
    void StopPictureStage();
    void OutputPicture(TInputStream& ist, AVFrame* picture, bool beforeStop);

    void HoldCoverPictures();

    void Log(int level, const std::string& text) const;

    const TTaskShare FEngine; // what the task being converted lends it
    // The options as they were when the conversion started (the stages read
    // nothing else of the option state).
    const TConversionOptions FOptions;
    // Turning upright, tone mapping ahead of the hook, deinterlacing and
    // the hook: the picture stage's thread's while it runs, else the task's.
    TPictureWork FPictureWork;
    // The count of the picture being handed on (task's thread).
    int FPictureCounter = 0;
    std::vector<TInputFileRun> FInputFiles;
    std::vector<TInputStream> FInputStreams;
    std::vector<TOutputStream> FOutputStreams;
    std::vector<AVFormatContext*> FOutputs; // distinct output files, in order
    bool FJoined = false;
    int FSegment = 0; // join: the input being read
    // Microseconds the inputs last together (0: unknown), set before the
    // loop.
    int64_t FSourceDuration = 0;
    TProgressReport FProgress{FOptions.QpHist};  // the task's thread
    TPacketWriter FWriter{FOptions.ExitOnError}; // see its header for its threads
    // The task's thread.
    TSoundOutput FSound;
    bool FHeadersWritten = false;
    bool FLoopEnd = false; // the inputs are done (shortest, last joined segment)
    // The loop ended at a limit the options set (frames, size, shortest).
    bool FEndedByLimit = false;
    std::vector<bool> FNoPacket;
    ff::PacketPtr FPacket;
    ff::PacketPtr FCopyPacket;
    // The task's pause and stop, as the units see them.
    const TStageControl FControl;
    // The units; the task's thread calls them.
    TInputReading FReading;
    TStageFault FDecodeFault{"decode"}; // decoding on the task's thread
    TFrameDecoding FDecoding;
    TStreamEncoding FEncoding;
    TVideoOutput FVideo;
    TSubtitleOutput FSubtitles{FWriter, FOptions.StartTime, FOptions.ExitOnError};
    TProgressSender FProgressSender;
    // The pictures' own thread (FFmpegPictures.cpp), fed and emptied by
    // the task's thread; null when the task's thread works on them.
    std::unique_ptr<TPipeStage<TPictureItem, TPictureItem, FFmpegException>> FPictureStage;
    // Builds the tables above; the task's thread, before any stage starts.
    TConversionSetup FSetup{FEngine, FOptions, FWriter,
                            TConversionTables{FInputFiles, FInputStreams, FOutputStreams, FOutputs,
                                              FNoPacket, FJoined, FSourceDuration, FHeadersWritten,
                                              FPictureWork}};
};
