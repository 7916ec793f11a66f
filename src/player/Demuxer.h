// The player's reading of one file: opening it, choosing the streams,
// reading packets into the queues of the streams being decoded, seeking and
// the end of the input. It reports what happened through IDemuxerEvents and
// decides nothing about the play state.
#pragma once

#include "media/FFmpegHeaders.h"
#include "player/PacketQueue.h"

#include <atomic>
#include <cstdint>
#include <string>

// What the demuxer reports, on the read thread.
class IDemuxerEvents {
public:
    virtual ~IDemuxerEvents() = default;
    // The input moved to `exact` seconds (-1: a byte position); the packet
    // queues are flushed when this returns.
    virtual void SeekMoving(double exact) = 0;
    // The queues hold the flush marker (`moved`), or the seek failed. The
    // reading goes on when this returns.
    virtual void SeekLanded(bool moved, double exact) = 0;
    // The seek request is cleared: another one may be made.
    virtual void SeekDone() = 0;
    // A read failed: the end of the input (`atEnd`), else error `code`;
    // `first`: the first time since the open or the last seek.
    virtual void ReadStopped(bool atEnd, int code, bool first) = 0;
};

// The best streams of each kind; -1 for none.
struct TStreamChoice {
    int Audio = -1, Video = -1, Subtitle = -1;
};

enum class TFeed { Audio, Video, Subtitle };

// Read thread: Open, ChooseStreams, Feed, Run, Close. Host threads: the
// seek request and the atomics behind Reading, Drained, PauseResult. The
// facts of the file (StartTime ... Context) are written by Open before the
// pipeline is handed to others and read-only after it.
class TDemuxer {
public:
    // `abort` ends Run and interrupts a blocking read; `paused` pauses a
    // network input's reading.
    TDemuxer(const std::atomic<bool>& abort, const std::atomic<bool>& paused);
    ~TDemuxer();
    TDemuxer(const TDemuxer&) = delete;
    TDemuxer& operator=(const TDemuxer&) = delete;

    // Empty when the file opened with its stream parameters, else the reason.
    std::string Open(const std::string& fileName, const std::string& videoSize);
    TStreamChoice ChooseStreams(bool noAudio, bool noVideo) const;
    // Packets of `streamIndex` go to `queue` from now on; the streams not fed
    // are not read.
    void Feed(TFeed kind, int streamIndex, TPacketQueue& queue);
    // Reads until `abort`: 0, or -1 when it could not start.
    int Run(IDemuxerEvents& events);
    void Close();

    // Any thread. False when a seek is still pending (this one is dropped).
    bool RequestSeek(int flags, std::int64_t relative, std::int64_t position);
    bool SeekPending() const { return FSeekRequest.load(); }
    std::int64_t PendingSeekPosition() const { return FSeekPosition; }
    // In the library's read (it may block on a stalled input).
    bool Reading() const { return FReading.load(); }
    // The input ended and every fed queue is empty.
    bool Drained() const { return FDrained.load(); }
    // What the last pause or play of the input returned (AVERROR(ENOSYS):
    // the format cannot pause).
    int PauseResult() const { return FPauseResult.load(); }

    AVFormatContext* Context() const { return FContext; }
    AVStream* Stream(int index) const;
    const std::string& FileName() const { return FFileName; }
    std::int64_t StartTime() const { return FStartTime; } // microseconds
    std::int64_t Duration() const { return FDuration; }   // microseconds, -1 unknown
    bool IsImageSequence() const { return FImageSequence; }
    bool IsCapture() const { return FCapture; }

private:
    struct TFed {
        int Stream = -1;
        TPacketQueue* Queue = nullptr;
    };
    static int Interrupt(void* opaque);
    void FollowPause();
    bool QueuesFull();
    int QueuedBytes();
    void WaitAtEnd();
    bool ReadOne(AVPacket* packet, IDemuxerEvents& events);
    void Route(AVPacket* packet);
    void DoSeek(IDemuxerEvents& events);
    int SeekInput();
    void FlushFed();
    TFed& Fed(TFeed kind) { return FFed[static_cast<int>(kind)]; }

    const std::atomic<bool>& FAbort;
    const std::atomic<bool>& FPaused;
    AVFormatContext* FContext = nullptr;
    std::string FFileName;
    std::int64_t FStartTime = 0, FDuration = -1;
    bool FImageSequence = false, FCapture = false;
    TFed FFed[3];

    // Read thread only.
    bool FLastPaused = false;
    bool FEndOfInput = false;
    bool FEndLogged = false;

    std::atomic<bool> FReading{false}, FDrained{false};
    std::atomic<int> FPauseResult{0};
    // The seek request: the fields are written before FSeekRequest is set
    // and read by the read thread after it saw it set.
    std::atomic<bool> FSeekRequest{false};
    std::int64_t FSeekPosition = 0, FSeekRelative = 0;
    int FSeekFlags = 0;
};
