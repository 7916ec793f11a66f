// The player's video decoding: packets from the read thread to pictures in
// the picture queue, through the filter graph (tone mapping, rotation), with
// the exact landing of a seek and the skipping of pictures while the display
// falls behind. It reports through IVideoDecoderEvents and decides nothing
// about the play state.
#pragma once

#include "media/FFHandles.h"
#include "media/FFmpegHeaders.h"
#include "player/PacketQueue.h"
#include "player/PictureQueue.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

// What the decoder asks and reports, on the video thread.
class IVideoDecoderEvents {
public:
    virtual ~IVideoDecoderEvents() = default;
    // Whether decoding may go on now (asked again every 10 ms until it may).
    virtual bool MayDecode() = 0;
    // The decoder met the flush marker of a seek (or of the open).
    virtual void Flushed() = 0;
    // A picture at or after a seek's target, from after its flush, is about
    // to be queued.
    virtual void PictureAfterFlush() = 0;
    // The host's turn at `picture` before it is queued; false when the file
    // closed meanwhile (the decoder then ends and reports nothing more).
    virtual bool Hook(AVFrame* picture, double pts) = 0;
    // How far the pictures are ahead of the sound (seconds), when known.
    virtual std::optional<double> OffSound() = 0;
    virtual void PictureQueued() = 0;
    // A decoded picture was skipped to catch up with the display.
    virtual void PictureSkipped() = 0;
    // The end of the input reached the decoder (each time it is told).
    virtual void InputEnded() = 0;
    // The decoder gave its last picture: no picture comes any more.
    virtual void InputFinished() = 0;
    virtual void Failed(const std::string& text) = 0;
};

// The duration of one picture of `stream` (its frame rate), else 0.04 s.
double FrameDuration(const AVStream* stream);

// Open on the read thread before the video thread starts, Run on the video
// thread; SeekStarting from the read thread, FallBehind from the playback
// thread (atomics). Everything else is the video thread's.
class TVideoDecoder {
public:
    // `refreshPending`: the display has a refresh waiting (it keeps up).
    TVideoDecoder(TPacketQueue& packets, TPictureQueue& pictures,
                  const std::atomic<bool>& refreshPending);
    ~TVideoDecoder();
    TVideoDecoder(const TVideoDecoder&) = delete;
    TVideoDecoder& operator=(const TVideoDecoder&) = delete;

    void Open(AVCodecContext* codec, AVStream* stream, int rotation);
    // Decodes until the packet queue is aborted, the filter graph cannot be
    // built or a hook reports the file closed.
    void Run(IVideoDecoderEvents& events);

    // A seek to `exact` seconds (-1: not a time) whose flush marker is
    // queued next: pictures before it are dropped, the last one kept for
    // a target after the end.
    void SeekStarting(double exact);
    // The display showed a picture late: more pictures are skipped.
    void FallBehind();
    // Pictures decoded per picture queued (1: none skipped).
    float SkipRate() const { return FSkipFrames.load(); }

private:
    struct TDecoding;
    int DecodePacket(AVPacket* packet, IVideoDecoderEvents& events);
    bool SkipPicture();
    int FilterPicture(AVFrame* frame, IVideoDecoderEvents& events);
    int FinishInput(IVideoDecoderEvents& events);
    int PassPicture(AVFrame* picture, IVideoDecoderEvents& events);
    void Flush(IVideoDecoderEvents& events);
    int QueuePicture(AVFrame* picture, double pts, IVideoDecoderEvents& events);

    TPacketQueue& FPackets;
    TPictureQueue& FPictures;
    const std::atomic<bool>& FRefreshPending;
    AVCodecContext* FCodec = nullptr;
    AVStream* FStream = nullptr;
    int FRotation = 0;

    // Video thread only.
    std::unique_ptr<TDecoding> FDecoding;
    float FSkipIndex = 0;
    double FSeekTarget = -1; // pictures before it are dropped
    ff::FramePtr FHeldFrame; // the last picture dropped before the target

    std::atomic<float> FSkipFrames{1};
    std::atomic<double> FPendingTarget{-1}; // the next flush's target
    // False from a seek's start until the decoder met its flush marker.
    std::atomic<bool> FFlushMet{false};
};
