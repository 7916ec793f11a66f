// The conversion of one task in progress. Internal to the engine; the task
// (TCustomFFmpeg) creates one per conversion on the thread that runs it.
// That thread conducts: it has the set-up build the tables, starts the
// units that run beside it, hands their items on, and ends them. Everything
// here belongs to it but what the structures below give to a unit's thread.
//
// The units it owns, each with its own state: the set-up that builds the
// tables (ConversionSetup.h), the reading of the inputs (InputReading.h),
// the choice of the input to read next and of a join's segment
// (InputChoice.h), the packets' time stamps (PacketTimes.h), stream copy
// (StreamCopy.h), the check of the output's length at the end
// (LengthCheck.h), the decoding threads (FrameDecoding.h), the way of the
// decoded pictures to the outputs (PictureHandOver.h) and the work on each
// (PictureWork.h), the layout of the decoded pictures for the encoders
// (DecoderPictureLayout.h), the encoding and its packets (StreamEncoding.h), the
// sound output (SoundOutput.h), the subtitle output (SubtitleOutput.h), the
// packet writing (PacketWriter.h), the video output with its preview
// (VideoOutput.h) and the progress report (ProgressSender.h,
// ProgressReport.h). The conductor itself is FFmpegTranscoder.cpp (start
// and end, the loop and its packet step, the ends of inputs, the stages'
// start and stop).
#pragma once

#include "engine/FFmpeg.h"
#include "engine/ConversionOptions.h"
#include "engine/ConversionSetup.h"
#include "engine/FilterChain.h"
#include "engine/FrameDecoding.h"
#include "engine/InputChoice.h"
#include "engine/InputReading.h"
#include "engine/LengthCheck.h"
#include "engine/PacketTimes.h"
#include "engine/PacketWriter.h"
#include "engine/ProgressReport.h"
#include "engine/ProgressSender.h"
#include "engine/SoundOutput.h"
#include "engine/PictureHandOver.h"
#include "engine/PictureWork.h"
#include "engine/StageControl.h"
#include "engine/StageFault.h"
#include "engine/StreamCopy.h"
#include "engine/StreamEncoding.h"
#include "engine/StreamEnds.h"
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
    void LayDecodedPictures();
    void StartReadStages();
    void StartDecodingStages();
    void StopStages();
    bool DecodeStagesAllowed() const;
    // To the sound output, against the time of the stream `ost` syncs to;
    // `cut`: samples at the front that lie before the start point.
    void AudioOutput(TOutputStream& ost, TInputStream& ist, AVFrame* samples, int cut);

    // The loop and its packet step.
    void Loop();
    void RunLoop();
    bool FileSizeReached() const;
    bool ReadPacket(int fileIndex);
    TInputStream* StreamOf(int fileIndex, const AVPacket* packet);
    bool PastRecordingTime(TInputStream& ist, const AVPacket* packet);
    bool PastShortestEnd(TInputStream& ist, const AVPacket* packet);
    int64_t ShortestStreamEnd() const;
    void DecodingError(const TInputStream& ist) const;
    void FirstPacketTime(TInputStream& ist, const AVPacket* packet);
    void RefusePictureCopiesWithoutKey();
    int PacketStep(TInputStream& ist, AVPacket* packet);
    int DecodeAndDistribute(TInputStream& ist, const AVPacket* packet);
    int ReceiveFrames(TInputStream& ist, bool draining);
    void DistributeFrame(TInputStream& ist, AVFrame* frame, int64_t packetTime);
    int DistributeSubtitle(TInputStream& ist, const AVPacket* packet);
    // The ends of the inputs and of the conversion.
    void EndOfInput(int fileIndex);
    void NextSegment(int fileIndex);
    void DrainDecoder(TInputStream& ist);
    void FlushEncoders();
    void FlushEncoder(TOutputStream& ost);
    void FinishConversion();
    void NoteEarlyEnd();
    bool Interrupted() const;

    void HoldCoverPictures();
    void RepeatLastPictures();
    void SoundUnderEveryPicture();

    void Log(int level, const std::string& text) const;

    const TTaskShare FEngine; // what the task being converted lends it
    // The options as they were when the conversion started (the stages read
    // nothing else of the option state).
    const TConversionOptions FOptions;
    // Turning upright, tone mapping ahead of the hook, deinterlacing and
    // the hook: the picture hand-over's thread's while it runs, else the
    // task's.
    TPictureWork FPictureWork;
    // The count of the picture being handed on (task's thread; the picture
    // hand-over sets it, the video output reads it).
    int FPictureCounter = 0;
    std::vector<TInputFileRun> FInputFiles;
    std::vector<TInputStream> FInputStreams;
    std::vector<TOutputStream> FOutputStreams;
    std::vector<AVFormatContext*> FOutputs; // distinct output files, in order
    bool FJoined = false;
    // With "shortest": the source time (microseconds) where the shortest
    // converted stream ends as its source declares it (set on the task's
    // thread before the stages start, only read after).
    int64_t FShortestEnd = kNoStreamEnd;
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
    std::vector<bool> FNoPacket; // the input choice's, by input file
    ff::PacketPtr FPacket;       // the packet read
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
    TInputChoice FChoice{{FInputFiles, FInputStreams, FOutputStreams, FNoPacket, FJoined},
                         FOptions.MaxFrames,
                         FOptions.InputSync};
    TPacketTimes FTimes{
        FInputFiles, FInputStreams, FEngine.FInputFiles,
        TPacketTimeOptions{FOptions.CopyTs, FOptions.DtsDeltaThreshold, FOptions.Verbose},
        [this](int level, const std::string& text) { Log(level, text); }};
    TLengthCheck FLength{{FInputStreams, FOutputStreams, FJoined, FSourceDuration},
                         FOptions.StartTime,
                         FOptions.RecordingTime};
    TStreamCopy FCopy{FWriter, FOptions.StartTime, FOptions.CopyInitialNonkeyframes != 0};
    TPictureHandOver FPictures{
        {FPictureWork, FInputStreams, FOutputStreams, FEngine.FInputFiles, FPictureCounter},
        FControl,
        FOptions.StartTime,
        [this](TOutputStream& ost, TInputStream& ist, AVFrame* picture, AVRational) {
            FVideo.Output(ost, ist, picture, FPictureCounter);
        }};
    // Builds the tables above; the task's thread, before any stage starts.
    TConversionSetup FSetup{FEngine, FOptions, FWriter,
                            TConversionTables{FInputFiles, FInputStreams, FOutputStreams, FOutputs,
                                              FNoPacket, FJoined, FSourceDuration, FHeadersWritten,
                                              FPictureWork}};
};
