// The state of the player's pipeline while a file is open: packet queues,
// the picture and subpicture queues, clocks and the audio buffers.
#pragma once

#include "media/FFHandles.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"
#include "media/SDLHeaders.h"
#include "player/AudioClock.h"
#include "player/AudioOutput.h"
#include "player/Demuxer.h"
#include "player/PacketQueue.h"
#include "player/PictureHook.h"
#include "player/PictureQueue.h"
#include "player/PlaybackClock.h"
#include "player/Presenter.h"
#include "player/Subtitles.h"
#include "player/VideoDecoder.h"
#include "player/PlayerSync.h"
#include "player/VideoSurface.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the threads of one open file share. The units keep their own state
// private and name their threads themselves: TDemuxer (read thread),
// TVideoDecoder (video thread), TSubtitles (subtitle thread, its blending on
// the playback thread), TAudioOutput (SDL's audio thread), TPresenter
// (playback thread); the queues and TAudioClock lock themselves. What is
// left here, by owner:
// - read thread (TStreamReader, TStreamComponents): the stream choice and
//   the decoders (AudioStream ... SubtitleCodec, Rotation, AudioDuration),
//   written while opening (before OpenStatus is 1) and when closing (after
//   the other threads ended); read-only for the others meanwhile; OpenError.
// - component (host calls, the playback thread under the player lock, and
//   the units' event handlers it runs): the play state, all atomics (Paused,
//   PendingShows, StartPausedFrames, PausedAtSeek, JustSeeked,
//   EndReported, AudioHeldUntil, HoldShown, OpenStatus, AbortRequest,
//   Refresh, VideoOpen).
// - playback thread (TVideoRefresh): the display's position
//   (VideoCurrentPosition), ShowAudio, and LastShown* under LastShownLock
//   (TCurrentPicture reads them); the clocks (TPlaybackClock) are atomics.
// - video thread: PictureHook (which locks itself for the closing read
//   thread).
// - threads: ReadThread and RefreshThread are started by the opening host
//   call and joined by the component's close; VideoThread and
//   SubtitleThread are started and joined by the read thread
//   (TStreamComponents).
struct TPlaybackState : std::enable_shared_from_this<TPlaybackState> {
    // Threads.
    std::thread ReadThread, RefreshThread, VideoThread, SubtitleThread;
    // The video thread holds this state while it runs and sets VideoDone at
    // its end. A hook that does not return when the file closes leaves it
    // behind: either the close waits for the thread or the thread, back
    // from the hook it was given up on, touches nothing but this state.
    TManualEvent VideoDone{false};
    TPictureHook PictureHook;

    std::atomic<int> OpenStatus{0}; // 0 opening, 1 opened, -1 failed, -2 cleaned up
    // Why the open failed: written by the read thread before OpenStatus
    // becomes -1, read by the opening host call after.
    std::string OpenError;

    int AudioStream = -1, VideoStream = -1, SubtitleStream = -1;
    AVStream* AudioSt = nullptr;
    AVStream* VideoSt = nullptr;
    AVStream* SubtitleSt = nullptr;
    ff::CodecContextPtr AudioCodec, VideoCodec, SubtitleCodec;
    // Whether the video decoder is open (host calls read this, not VideoSt).
    std::atomic<bool> VideoOpen{false};

    // Control.
    std::atomic<bool> AbortRequest{false};
    std::atomic<bool> Paused{false};
    // The file, its reading and the seek request (the read thread runs it).
    TDemuxer Input{AbortRequest, Paused};
    std::atomic<bool> Refresh{false};
    std::atomic<int> PendingShows{0}; // pictures to show while paused (step, seek)

    // Display (playback thread).
    TPresenter Display;
    std::atomic<int> ShowAudio{0};
    // The picture on the display (a reference to its buffer) and its time:
    // written by the playback thread, read by CurrentFrame, under
    // LastShownLock.
    std::mutex LastShownLock;
    ff::FramePtr LastShown;
    double LastShownPTS = 0;

    // The decoded pictures, with the schedule of their display (video
    // thread fills, playback thread shows; it locks itself).
    TPictureQueue Pictures;

    TPacketQueue AudioQueue, VideoQueue, SubtitleQueue;
    // The video stream's decoding (the video thread runs it).
    TVideoDecoder Video{VideoQueue, Pictures, Refresh};
    // The subtitle stream's decoding and blending (the subtitle thread runs
    // its decoding).
    TSubtitles Subtitles{SubtitleQueue, AbortRequest};

    // The file position of the picture on the display (playback thread).
    std::atomic<std::int64_t> VideoCurrentPosition{-1};

    // Audio.
    TAudioClock Audio; // the time of the sound (locks nothing: atomics)
    // Until the decoder has two pictures ready after the open or a seek (at
    // the latest until this av_gettime), the audio callback plays silence
    // without decoding and the display shows only the first picture, so
    // sound and pictures start together. 0: not held. Set by the read
    // thread (Clock.HoldSound), cleared by the video thread.
    std::atomic<std::int64_t> AudioHeldUntil{0};
    // The display's and the sound's time, and the sound's hold.
    TPlaybackClock Clock{Audio, Paused, AudioHeldUntil};
    // The sound's output (SDL's audio thread runs it).
    TAudioOutput Sound{TAudioLinks{AudioQueue, Audio, Paused, AudioHeldUntil, ShowAudio}};

    // Player additions.
    std::int64_t AudioDuration = -1;
    std::atomic<bool> EndReported{false};
    std::atomic<int> StartPausedFrames{0};
    std::atomic<bool> PausedAtSeek{false};
    std::atomic<bool> JustSeeked{false};
    int Rotation = 0; // degrees clockwise to stand upright (StreamRotation)

    // The video's size standing upright; false without a video decoder.
    // Read thread, or others while the decoders are open.
    bool UprightSize(int& width, int& height) const {
        if (!VideoCodec || VideoCodec->width <= 0) return false;
        const bool turned = IsQuarterTurn(Rotation);
        width = turned ? VideoCodec->height : VideoCodec->width;
        height = turned ? VideoCodec->width : VideoCodec->height;
        return true;
    }
};

// What the pipeline's threads tell the component that conducts them (the
// player), and the little they ask of it. Every call is safe on the read,
// video and playback threads.
class IPipelineOwner {
public:
    virtual ~IPipelineOwner() = default;
    // Logs `text` as an error (`store`: it becomes the host's last error).
    virtual void ReportError(const std::string& text, bool store) = 0;
    // Whether a picture is on its way (the first one after a seek's flush),
    // or none comes any more: a host waiting for a seek's picture waits for
    // it only while one comes.
    virtual void ExpectPicture(bool coming) = 0;
    // A seek has reached the file (read thread).
    virtual void SeekReached(TPlaybackState& is) = 0;
    // The file is about to be closed (read thread, after a successful open).
    virtual void InputClosing() = 0;
    // Asks the playback thread to shut the pipeline down.
    virtual void PostQuit() = 0;
    // Whether the host asked for one more picture (video thread).
    virtual bool Stepping() const = 0;
    // The host's hook on `picture` before it is queued; false when the file
    // was closed while the host held it (video thread).
    virtual bool HookPicture(TPlaybackState& is, AVFrame* picture, double pts) = 0;
    // A picture was queued (video thread).
    virtual void PictureQueued(TPlaybackState& is) = 0;
    // The display or the end of the input moved the position.
    virtual void UpdatePosition() = 0;
};
