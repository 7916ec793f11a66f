// The conversion of one task in progress: the stream tables built at its
// start, the transcoding loop and its end. Internal to the engine; the task
// (TCustomFFmpeg) creates one per conversion on the thread that runs it.
// That thread conducts: it starts the stages that run beside it (each input
// file's reading, each decoded stream's decoding, the work on the decoded
// pictures, each encoded stream's encoding and writing), hands their items
// on, and ends them. Everything here belongs to it but what the structures
// below give to a stage's thread.
//
// The unit is split by step of the conversion: FFmpegPrepare.cpp (stream
// tables, mapping, codec parameters), FFmpegCodecs.cpp (opening and closing
// the codecs), FFmpegFileHeaders.cpp (tags, chapters, headers),
// FFmpegVideoFilters.cpp (the video filter graph), FFmpegLoop.cpp (the
// loop, the packet step, copying, the end), FFmpegRead.cpp, FFmpegDecode.cpp
// FFmpegEncode.cpp and FFmpegPictures.cpp (the stages' threads), FFmpegWrite.cpp (writing),
// FFmpegVideo.cpp (video output, the preview), FFmpegAudio.cpp (audio and
// subtitle output) and FFmpegProgress.cpp (the progress report). The work
// on each decoded picture is its own unit, TPictureWork.
#pragma once

#include "engine/FFmpeg.h"
#include "engine/ConversionOptions.h"
#include "engine/FilterChain.h"
#include "engine/PipeStage.h"
#include "engine/DecodeStage.h"
#include "engine/PictureWork.h"
#include "engine/ReadStage.h"
#include "engine/StageFault.h"
#include "engine/StageWorker.h"
#include "engine/TaskShare.h"
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

namespace ff {
struct FilterGraphDeleter {
    void operator()(AVFilterGraph* p) const;
};
struct SwrDeleter {
    void operator()(SwrContext* p) const;
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* p) const;
};
struct BsfDeleter {
    void operator()(AVBSFContext* p) const;
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfDeleter>;
} // namespace ff

// One input file of the conversion.
struct TInputFileRun {
    int FirstStream = 0;
    int StreamCount = 0;
    bool Eof = false;
};

// One stream of an input file.
struct TInputStream {
    int FileIndex = 0;
    int StreamIndex = 0;
    AVStream* Stream = nullptr;
    bool Discard = true; // until some output stream uses it
    bool DecodingNeeded = false;
    int64_t Start = 0;                // wall clock with "re"
    int64_t NextPts = AV_NOPTS_VALUE; // microseconds
    int64_t Pts = 0;                  // microseconds: the stream's current time (packets)
    int64_t FramePts = 0;             // microseconds: time of the last decoded frame
    int64_t FrameNextPts = AV_NOPTS_VALUE;
    bool IsStart = true; // at start and after a discontinuity
    bool PastRecordingTime = false;
    bool Drained = false;
    bool ReportedMultipleFrames = false;
    int Quality = 0; // of the last decoded picture
    const AVCodec* Decoder = nullptr;
    ff::CodecContextPtr DecoderContext;
    bool DecoderOpen = false;
    ff::FramePtr Frame; // decoded frame, reused
    // The stream's own decoding thread (FFmpegDecode.cpp); null when the
    // task's thread decodes. While it runs, DecoderContext is its thread's
    // but between a drain's Finish and the stage's end.
    std::unique_ptr<TDecodeStage> Decoding;
    std::unique_ptr<TAudioChain> AudioChain; // the "af" filters of decoded samples
    // Degrees clockwise the pictures are turned to be upright (the turning
    // itself is the picture work's).
    int Rotation = 0;
};

// The video encoding part of an output stream: cropping, scaling and
// filtering to the encoder's picture, the cover picture, and what the
// encoder reported of the last coded frame.
struct TVideoEncoding {
    bool Crop = false;
    int TopBand = 0, BottomBand = 0, LeftBand = 0, RightBand = 0;
    int FirstTopBand = 0, FirstBottomBand = 0, FirstLeftBand = 0, FirstRightBand = 0;
    int FirstWidth = 0, FirstHeight = 0;
    int LastWidth = 0, LastHeight = 0, LastFormat = -1;
    ff::SwsContextPtr Scaler;
    ff::FramePtr Temp;    // scaled picture (encoder size and format)
    ff::FramePtr Cropped; // view of the decoded picture inside the bands
    ff::FramePtr EncodeFrame;
    ff::FilterGraphPtr Graph;
    AVFilterContext* FilterSource = nullptr;
    AVFilterContext* FilterSink = nullptr;
    ff::FramePtr Filtered;
    std::string ToneMap;   // filters that make an HDR source SDR BT.709; empty for SDR
    ff::FramePtr Cover;    // the source's cover picture, until the end
    int CoverSource = -1;  // TInputStream the cover picture came from
    float Quality = -1.0f; // of the last coded frame / FF_QP2LAMBDA
    int PictureType = 0;   // of the last coded frame (AVPictureType)
    // Squared error per plane (Y, U, V, alpha) of the last coded frame and
    // summed over all of them, when the encoder reports it (PSNR flag).
    std::array<int64_t, 4> Error{};
    std::array<int64_t, 4> ErrorSum{};
};

// The audio encoding part of an output stream: resampling to the encoder's
// format, the sample queue and the frames cut from it.
struct TAudioEncoding {
    ff::SwrPtr Resampler;
    int ResampleInFormat = -1, ResampleInRate = 0, ResampleInChannels = 0;
    uint64_t ResampleInMask = 0;
    bool Resample = false;
    ff::AudioFifoPtr Fifo;
    ff::FramePtr AudioFrame;
    int AudioFrameCapacity = 0;      // samples AudioFrame's buffer holds
    int64_t AudioEncodedEnd = 0;     // time of the sample after the last one encoded
    bool AudioTimed = false;         // SyncOpts was set from an input time
    std::vector<uint8_t*> Converted; // plane pointers into ConvertedBuffer
    ff::AvBuffer ConvertedBuffer;
    unsigned ConvertedSize = 0;
};

// The writing part of an output stream: the packets' way through the
// bitstream filters to the muxer, and the two-pass log.
struct TStreamWriting {
    double OutTime = 0.0;                       // seconds: end of the last packet written
    AVRational PacketTimeBase{1, AV_TIME_BASE}; // of the packets handed to WritePacket
    std::vector<ff::BsfPtr> Filters;
    ff::PacketPtr Packet; // receives the encoder's packets
    FILE* PassLog = nullptr;
};

// What an output stream's own thread gets to encode: sound frames as they
// are, pictures still to be cropped and scaled to the encoder's picture and
// coded as often as the frame rate asks.
struct TEncodeItem {
    ff::FramePtr Frame;
    const TInputStream* Source = nullptr; // pictures: where the picture came from
    int Copies = 1;                       // pictures
    int64_t Pts = 0;                      // pictures: of the first copy (encoder time base)
    int Quality = 0;                      // pictures: of the decoded picture
    int FrameCounter = 0;                 // pictures: for the preview
};

// An output stream's own thread: it takes the items to encode, in order,
// and writes the packets the encoder makes.
using TEncodeStage = TStageWorker<TEncodeItem, FFmpegException>;

// One stream of an output file. Everything belongs to the task's thread
// but, while Encoding runs, what its thread uses: Encoder, Writing, the
// picture fitting of Video (Crop and the bands, Scaler, Temp, Cropped,
// Last*) and the coded frame's Video.Quality, PictureType, Error and
// ErrorSum (these four written under the transcoder's FWriteLock).
struct TOutputStream {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SourceIndex = 0; // TInputStream
    int SyncIndex = 0;   // TInputStream the stream syncs to
    AVStream* Stream = nullptr;
    AVFormatContext* Output = nullptr;
    TOutputStreamSetup* Setup = nullptr;
    AVCodecContext* Encoder = nullptr; // Setup's context, opened here
    bool EncoderOpen = false;
    bool EncodingNeeded = false;
    bool Copy = false;
    int MediaType = -1;
    int64_t FrameNumber = 0;
    int64_t SyncOpts = 0; // encoder time-base units
    bool Active = false;

    TVideoEncoding Video;
    TAudioEncoding Audio;
    TStreamWriting Writing;
    // Null when the task's thread encodes (see TCustomFFmpeg::StagedEncoding).
    std::unique_ptr<TEncodeStage> Encoding;
    TStageFault EncodeFault{"encode"}; // the thread that encodes
};

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
    // FFmpegPrepare.cpp, FFmpegCodecs.cpp, FFmpegFileHeaders.cpp, FFmpegVideoFilters.cpp
    void PrepareConversion();
    void BuildInputTables();
    int64_t SourceDuration() const;
    void CheckOutputsAndMaps();
    void MapStreams();
    int FindSource(int file, int mediaType) const;
    void SetStreamParameters();
    void SetCopyParameters(TOutputStream& ost, TInputStream& ist);
    void SetEncodeParameters(TOutputStream& ost, TInputStream& ist);
    void SetupPassLog(TOutputStream& ost, int index);
    void CheckPassTwoRate(const TOutputStream& ost, const std::string& stats) const;
    void OpenEncoders(bool subtitles);
    void CopySubtitleHeader(TOutputStream& ost);
    void OpenDecoders();
    void SetStartTimes();
    void CopyMetadataMaps();
    void CarrySourceTags();
    void CopyChapters();
    void WriteHeaders();
    void LogStreamMapping();
    void SetupBitstreamFilters(TOutputStream& ost);
    int ConfigureFilters(TInputStream& ist, TOutputStream& ost);
    int ConfigureFiltersSteps(TInputStream& ist, TOutputStream& ost, AVFilterContext*& last);
    void PrepareToneMap(TInputStream& ist, TOutputStream& ost);
    void KeepSourceDepth(const TInputStream& ist, TOutputStream& ost);
    bool KeepsHdr(const TOutputStream& ost) const;
    void KeepHdrColours(const TInputStream& ist, TOutputStream& ost);
    void PassHdrMetadata(const TInputStream& ist, TOutputStream& ost);
    bool HookOn() const;
    void ToneMapAheadOfHook(TInputStream& ist);
    void FitH264Limits(TOutputStream& ost);
    static int LinkFilterChain(AVFilterGraph* graph, const std::string& text,
                               AVFilterContext*& last);
    void KeepOrDropRotation(TOutputStream& ost, const TInputStream& ist);

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
    void NoteMultipleFrames(TInputStream& ist);
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

    // FFmpegWrite.cpp
    void WritePacket(TOutputStream& ost, AVPacket* packet);
    void WriteFiltered(TOutputStream& ost, AVPacket* packet);
    std::vector<ff::PacketPtr> FilterStage(TOutputStream& ost, std::size_t f,
                                           std::vector<ff::PacketPtr> in, bool end);
    void DrainBitstreamFilters(TOutputStream& ost);
    void WriteFromChain(TOutputStream& ost, AVPacket* packet);
    void ReceivePackets(TOutputStream& ost);

    // FFmpegRead.cpp
    static bool SeveralCores();
    bool ReadStagesAllowed() const;
    void StartReadStages();
    int NextPacket(int fileIndex, AVPacket* packet);
    void StopReadStages();

    // FFmpegDecode.cpp
    bool DecodeStagesAllowed() const;
    void StartDecodingStages();
    int DecodeOnStage(TInputStream& ist, const AVPacket* packet);
    int TakeDecoded(TInputStream& ist);
    void EndDecodingStage(TInputStream& ist);

    // FFmpegEncode.cpp
    void StartEncodingStages();
    bool StagesAllowed() const;
    // Hands `frame` (its pts set) to the stream's encoder; the caller keeps it.
    void SendToEncoder(TOutputStream& ost, AVFrame* frame);
    void EncodeOnStage(TOutputStream& ost, AVFrame* frame);
    void WorkOnItem(TOutputStream& ost, TEncodeItem& item);
    // Hands a picture and its copies to the stream's thread.
    void GivePicture(TOutputStream& ost, TInputStream& ist, AVFrame* picture, int copies);
    void FlushEncodingStage(TOutputStream& ost);
    void StopEncodingStages();

    // FFmpegPictures.cpp
    bool PictureStageAllowed() const;
    void StartPictureStage();
    void WorkOnPicture(TInputStream& ist, AVFrame* frame);
    void GiveToPictureStage(TInputStream& ist, const AVFrame* frame);
    void TakePictures();
    void FinishPictures();
    void StopPictureStage();
    void OutputPicture(TInputStream& ist, AVFrame* picture, bool beforeStop);

    // FFmpegVideo.cpp
    void VideoOutput(TOutputStream& ost, TInputStream& ist, AVFrame* picture, AVRational sar);
    int FramesToWrite(TOutputStream& ost, double syncTime);
    int LimitCopies(const TOutputStream& ost, int n);
    AVFrame* FitPicture(TOutputStream& ost, const TInputStream& ist, AVFrame* picture);
    void EncodeVideo(TOutputStream& ost, TInputStream& ist, AVFrame* picture);
    void CodePicture(TOutputStream& ost, const AVFrame* picture, int64_t pts, int quality,
                     int frameCounter);
    // On the task's thread or a stream's; FLastPreview and FPreviewContext
    // are under the process-wide preview-flag lock.
    void DoPreview(const AVFrame* picture, const AVCodecContext* encoder, int frameCounter);
    void WriteVideoStats(TOutputStream& ost, int frameSize);
    void KeepCover(TOutputStream& ost, const AVFrame* picture);
    void HoldCoverPictures();
    void ReadEncoderStats(TOutputStream& ost, const AVPacket* packet);

    // FFmpegAudio.cpp
    // `cut`: samples at the front that lie before the start point.
    void AudioOutput(TOutputStream& ost, TInputStream& ist, AVFrame* samples, int cut);
    void ApplyVolume(AVFrame* samples, const AVCodecContext* decoder);
    void EnsureResampler(TOutputStream& ost, const AVFrame* samples);
    bool SyncAudio(TOutputStream& ost, TInputStream& ist, const AVFrame* samples, int& skip,
                   int& silence);
    uint8_t** ConvertedPlanes(TOutputStream& ost, int count);
    void PushSamples(TOutputStream& ost, uint8_t** data, int count);
    void DrainResampler(TOutputStream& ost);
    void EncodeAudioFrames(TOutputStream& ost, bool flush);
    void SubtitleOutput(TOutputStream& ost, TInputStream& ist, AVSubtitle& subtitle,
                        int64_t packetTime);

    // FFmpegProgress.cpp
    void MaybeReport(int fileIndex);
    void ProgressReport(bool final, int fileIndex);
    std::string ReportLine(bool final, TOutputStream* video, double t1, double bitRate,
                           int64_t size, int frameNumber, int fps, float quality);
    std::string QpHistogramText(float quality);

    void Log(int level, const std::string& text) const;
    static const char* TypeName(int type); // a media type's name

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
    int FDupFrames = 0, FDropFrames = 0;
    // Microseconds the inputs last together (0: unknown), set before the
    // loop; whether copies of pictures were cut at that end (logged once).
    int64_t FSourceDuration = 0;
    bool FCopiesLimited = false;
    std::array<int, 52> FQpHistogram{}; // reports per rounded quantizer ("qphist")
    bool FChanged = false;
    // Taken around every write to an output file and the reading of what
    // the encoders' threads set for the progress report.
    std::mutex FWriteLock;
    std::atomic<int64_t> FVideoBytes{0}, FAudioBytes{0};
    int64_t FHeaderBytes = 0;
    int64_t FPacketsWritten = 0; // FWriteLock: to every output
    int64_t FStartTime = 0;      // wall clock when the loop began
    int64_t FLastReport = 0;     // wall clock of the last progress report
    int64_t FLastPreview = 0;
    double FReportedTime = 0.0; // seconds: the progress time never goes back
    bool FHeadersWritten = false;
    bool FLoopEnd = false; // the inputs are done (shortest, last joined segment)
    // The loop ended at a limit the options set (frames, size, shortest).
    bool FEndedByLimit = false;
    std::vector<bool> FNoPacket;
    ff::PacketPtr FPacket;
    ff::PacketPtr FCopyPacket;
    TToRGBContext FPreviewContext;
    ff::AvBuffer FSubtitleBuffer;
    FILE* FVStats = nullptr;
    bool FLoggedMultipleFrames = false;
    // The inputs' reading threads, by file (FFmpegRead.cpp); empty when
    // the task's thread reads.
    std::vector<std::unique_ptr<TReadStage>> FReading;
    TStageFault FReadFault{"read"};     // the task's thread
    TStageFault FDecodeFault{"decode"}; // the task's thread
    // The pictures' own thread (FFmpegPictures.cpp), fed and emptied by
    // the task's thread; null when the task's thread works on them.
    std::unique_ptr<TPipeStage<TPictureItem, TPictureItem, FFmpegException>> FPictureStage;
};
