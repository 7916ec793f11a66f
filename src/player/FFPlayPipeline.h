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
#include "player/FFPlayText.h"
#include "player/PacketQueue.h"
#include "player/PictureQueue.h"
#include "player/Presenter.h"
#include "player/SubPictureQueue.h"
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

// Ownership: the read thread owns the format context, the stream choice and
// the queues' producer side; the video thread owns the decoder state of the
// video stream and Filter*; the audio callback owns Audio* decoding fields;
// the playback thread owns the display fields. Fields shared between threads
// are atomics or are guarded by the locks noted; the queues lock themselves.
class TCustomPlayer;

struct TPlaybackState : std::enable_shared_from_this<TPlaybackState> {
    TCustomPlayer* Player = nullptr;
    // Threads.
    std::thread ReadThread, RefreshThread, VideoThread, SubtitleThread;
    // The video thread holds this state while it runs and sets VideoDone at
    // its end. A hook that does not return when the file closes leaves it
    // behind: VideoExitLock guards VideoInHook (video thread) and
    // VideoAbandoned (the closing read thread), so that either the close
    // waits for the thread or the thread, back from the hook, touches
    // nothing but this state.
    TManualEvent VideoDone{false};
    std::mutex VideoExitLock;
    bool VideoInHook = false;
    bool VideoAbandoned = false;
    TToRGBContext HookContext; // video thread: the hook's bitmap and scalers

    std::atomic<int> OpenStatus{0}; // 0 opening, 1 opened, -1 failed, -2 cleaned up

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

    // Decoded bitmap subtitles (subtitle thread fills, playback thread
    // blends; it locks itself).
    TSubPictureQueue SubPictures;
    // Text subtitles: made at the subtitle stream's open when its decoder
    // gives text; events from the subtitle thread, drawing by the playback
    // thread (it locks itself).
    std::unique_ptr<TTextSubtitles> TextSubtitles;
    // A second reading of the file with its own decoder, for the text
    // subtitles that started before a seek target and are still due at it
    // (the seek lands after their packets): read thread only.
    ff::InputContextPtr SubtitleLookback;
    ff::CodecContextPtr SubtitleLookbackCodec;
    bool SubtitleLookbackFailed = false;

    TPacketQueue AudioQueue, VideoQueue, SubtitleQueue;
    // The video stream's decoding (the video thread runs it).
    TVideoDecoder Video{VideoQueue, Pictures, Refresh};

    // Clocks (seconds). VideoCurrent*: written by the playback thread (and
    // TogglePause), read by others through the atomics.
    std::atomic<double> VideoCurrentPTS{0};
    std::atomic<double> VideoCurrentPTSDrift{0};
    std::atomic<std::int64_t> VideoCurrentPosition{-1};

    // Audio.
    TAudioClock Audio; // the time of the sound (locks nothing: atomics)
    // Until the decoder has two pictures ready after the open or a seek (at
    // the latest until this av_gettime), the audio callback plays silence
    // without decoding and the display shows only the first picture, so
    // sound and pictures start together. 0: not held. Set by the read
    // thread, cleared by the video thread; HoldShown by the playback thread.
    std::atomic<std::int64_t> AudioHeldUntil{0};
    std::atomic<bool> HoldShown{false}; // a picture was shown while held
    // The sound's output (SDL's audio thread runs it).
    TAudioOutput Sound{TAudioLinks{AudioQueue, Audio, Paused, AudioHeldUntil, ShowAudio}};

    // Player additions.
    std::int64_t AudioDuration = -1;
    std::atomic<bool> EndReported{false};
    std::atomic<int> StartPausedFrames{0};
    std::atomic<bool> PausedAtSeek{false};
    std::atomic<bool> JustSeeked{false};
    int Rotation = 0; // degrees clockwise to stand upright (StreamRotation)
};
