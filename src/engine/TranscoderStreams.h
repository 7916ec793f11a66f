// The tables a conversion runs on: each input file and stream, and each
// output stream with its encoding and writing parts. Which thread owns
// which part is written on each structure.
#pragma once

#include "engine/FFmpeg.h"
#include "engine/FilterChain.h"
#include "engine/DecodeStage.h"
#include "engine/StageFault.h"
#include "engine/StageWorker.h"
#include "media/AVFilterEntries.h"
#include "media/FFHandles.h"
#include "media/SwResampleEntries.h"
#include "media/FFUtils.h"
#include "media/PicturePool.h"
#include "media/FFmpegHeaders.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
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
    // The stream's own decoding thread (FrameDecoding.h); null when the
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
    // The stream's own thread fits the pictures (set before it starts).
    bool FitOnStage = false;
    ff::SwsContextPtr Scaler;
    ff::FramePtr Temp;     // scaled picture (encoder size and format)
    TPicturePool TempPool; // Temp's buffers, taken again once the encoder is done
    ff::FramePtr Cropped;  // view of the decoded picture inside the bands
    ff::FramePtr EncodeFrame;
    ff::FilterGraphPtr Graph;
    AVFilterContext* FilterSource = nullptr;
    AVFilterContext* FilterSink = nullptr;
    ff::FramePtr Filtered;
    std::string ToneMap;  // filters that make an HDR source SDR BT.709; empty for SDR
    ff::FramePtr Cover;   // the source's cover picture, until the end
    int CoverSource = -1; // TInputStream the cover picture came from
    // The last picture written at a constant rate, repeated at the end for
    // as long as it lasts (the task's thread).
    ff::FramePtr Last;
    float Quality = -1.0f; // of the last coded frame / FF_QP2LAMBDA
    int PictureType = 0;   // of the last coded frame (AVPictureType)
    // Squared error per plane (Y, U, V, alpha) of the last coded frame and
    // summed over all of them, when the encoder reports it (PSNR flag).
    std::array<int64_t, 4> Error{};
    std::array<int64_t, 4> ErrorSum{};
};

// The audio encoding part of an output stream: resampling to the encoder's
// format, the sample queue and the frames cut from it. The task's thread's:
// the sound output (SoundOutput.h) works on it there.
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
// bitstream filters to the muxer, and the two-pass log. Filters, OutTime
// and ShownEnd are written under the packet writer's lock (PacketWriter.h);
// they are read without it only on the task's thread, for the streams that thread
// writes itself (copied and subtitle streams) or once the encoders' stages
// are flushed. Packet, PacketTimeBase and PassLog are the encoding thread's.
struct TStreamWriting {
    double OutTime = 0.0; // seconds: end of the last packet written
    // Seconds: where the latest picture or sound written ends when shown (a
    // picture without its length lasts a frame of the stream's rate).
    double ShownEnd = 0.0;
    AVRational PacketTimeBase{1, AV_TIME_BASE}; // of the packets handed to WritePacket
    std::vector<ff::BsfPtr> Filters;
    ff::PacketPtr Packet; // receives the encoder's packets
    FILE* PassLog = nullptr;
    // Copied packets left out before the first key packet (task's thread).
    int64_t WaitedForKey = 0;
};

// What an output stream's own thread gets to encode: sound frames as they
// are, pictures (cropped and scaled to the encoder's picture by the task's
// thread, or by the stream's own with Video.FitOnStage) to be coded as
// often as the frame rate asks.
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
// but, while Encoding runs, what its thread uses: Encoder, Writing and the
// coded frame's Video.Quality, PictureType, Error and ErrorSum (these four
// written under the transcoder's writer's lock). The picture fitting
// (cropping and scaling: the bands, Scaler, Temp, TempPool, Cropped and
// Last*) is the stream's thread's with Video.FitOnStage, else the task's.
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
    // Null when the task's thread encodes (StreamEncoding.h).
    std::unique_ptr<TEncodeStage> Encoding;
    TStageFault EncodeFault{"encode"}; // the thread that encodes
};
