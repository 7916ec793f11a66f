// The pipeline's stream side: opening a file, the read thread with its seek
// and queue limits, opening and closing the decoders, the pause toggle, the
// playback thread's event loop and the refresh thread.
#include "player/FFPlay.h"

#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "media/SDLEntries.h"
#include "media/UnicodeProtocol.h"
#include "probe/AVProbe.h"

#include <climits>
#include <cmath>
#include <cstring>

using namespace std::chrono_literals;

namespace {

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

// ---- Opening and closing the stream ----

bool TCustomPlayer::StreamOpen(const std::string& fileName, bool startPaused) {
    std::shared_ptr<TPlaybackState> is;
    try {
        is = std::make_shared<TPlaybackState>();
    } catch (const std::bad_alloc&) {
        ReportError("av_mallocz() failed.", true);
        return false;
    }
    is->Player = this;
    is->Display.Attach(FSurface);
    if (startPaused) {
        is->Paused = true;
        is->StartPausedFrames = 1;
        FStepping = false;
    }
    try {
        is->ReadThread = std::thread(&TCustomPlayer::ReadThreadRun, this, is.get(), fileName);
    } catch (const std::system_error&) {
        ReportError("SDL_CreateThread() failed.", true);
        return false;
    }
    while (is->OpenStatus == 0) {
        ServiceWait();
        SleepMs(10);
    }
    if (is->OpenStatus == 1) {
        if (!is->VideoSt && !DisableDisplay) is->ShowAudio = 1;
        TPlaybackState* state = is.get();
        {
            std::lock_guard lock(FStreamLock);
            FStreamOwner = std::move(is);
        }
        FStream = state;
        FFileOpen = true;
        state->RefreshThread = std::thread(&TCustomPlayer::RefreshThreadRun, this, state);
        return true;
    }
    while (is->OpenStatus == -1) {
        ServiceWait();
        SleepMs(10);
    }
    is->ReadThread.join();
    ResetPlayer();
    return false;
}

void TCustomPlayer::StreamClose() {
    TPlaybackState* is = FStream.load();
    if (!is) return;
    is->AbortRequest = true;
    is->AudioQueue.Abort();
    is->VideoQueue.Abort();
    is->SubtitleQueue.Abort();
    is->Pictures.Abort();
    is->Subtitles.Abort();
    if (is->ReadThread.joinable()) is->ReadThread.join();
    if (is->RefreshThread.joinable()) is->RefreshThread.join();
    if (FSurface) FSurface->SetResizeHandler(nullptr);
    std::shared_ptr<TPlaybackState> owner;
    {
        std::lock_guard frameLock(FFrameLock);
        std::lock_guard streamLock(FStreamLock);
        FStream = nullptr;
        FFileOpen = false;
        owner = std::move(FStreamOwner);
    }
    // Freed here, or by the last host call still holding it.
}

std::shared_ptr<TPlaybackState> TCustomPlayer::HeldStream() {
    std::lock_guard lock(FStreamLock);
    return FStreamOwner;
}

// ---- Read thread ----

namespace {

// How long the sound waits at most for the first picture after the open or a
// seek (a broken video stream must not silence the file).
constexpr std::int64_t AudioHoldLimit = 1500000;

void HoldSound(TPlaybackState& is) {
    is.Clock.HoldSound(ff::avutil.av_gettime() + AudioHoldLimit);
}

} // namespace

// What the demuxer reports, turned into the pipeline's flushes; the
// component decides what the seek's end means for the play state.
class TReadEvents : public IDemuxerEvents {
public:
    TReadEvents(TCustomPlayer& player, TPlaybackState& is) : Player(player), Is(is) {}

    void SeekMoving(double exact) override {
        if (Is.VideoSt) {
            // Pictures decoded from here on are from before the seek: none
            // is queued, and none may end the seek (JustSeeked) before the
            // video thread has met the flush marker.
            Is.Pictures.MarkFlushPending();
            Is.Video.SeekStarting(exact);
        }
        Is.JustSeeked = true;
        if (Is.AudioSt) Is.Sound.SeekStarting(exact);
        if (!Is.VideoSt) return;
        if (Is.AudioSt) HoldSound(Is);
        // Set again by the video thread with the first picture after the
        // flush marker, so cleared before that marker is queued.
        Player.FFrameQueued.Reset();
    }

    void SeekLanded(bool moved, double exact) override {
        if (!moved) {
            Player.ReportError(FormatText("%s: error while seeking", Is.Input.FileName().c_str()),
                               false);
            if (Is.VideoSt) Player.FFrameQueued.Set();
        } else {
            Is.Subtitles.Seeked(exact);
        }
        Is.EndReported = false;
    }

    void SeekDone() override { Player.SeekReached(&Is); }

    void ReadStopped(bool atEnd, int code, bool first) override {
        if (Is.VideoSt && !atEnd) Player.FFrameQueued.Set();
        if (!first || Is.Input.IsImageSequence()) return;
        const char* name = Is.Input.FileName().c_str();
        if (atEnd)
            GetLogger().Log(&Player, llInfo, FormatText("reach end of file: %s", name));
        else
            Player.ReportError(FormatText("error #%d while reading file: %s", code, name), false);
    }

private:
    TCustomPlayer& Player;
    TPlaybackState& Is;
};

void TCustomPlayer::ReadThreadRun(TPlaybackState* is, std::string fileName) {
    int result = -1;
    try {
        if (ReadOpenInput(is, fileName)) {
            is->OpenStatus = 1;
            TReadEvents events(*this, *is);
            result = is->Input.Run(events);
        }
    } catch (const std::exception& e) {
        ReportError(e.what(), false);
    }
    ReadEnd(is, result);
}

bool TCustomPlayer::ReadOpenInput(TPlaybackState* is, const std::string& fileName) {
    std::string size =
        FrameWidth > 0 && FrameHeight > 0 ? FormatText("%dx%d", FrameWidth, FrameHeight) : "";
    FLastErrMsg = is->Input.Open(fileName, size);
    if (!FLastErrMsg.empty()) return false;
    ReadChooseStreams(is);
    if (is->AudioStream >= 0 || is->VideoStream >= 0) return true;
    FLastErrMsg = FormatText("%s: could not open codecs, no stream to play.",
                             FromLibraryName(fileName).c_str());
    return false;
}

void TCustomPlayer::ReadChooseStreams(TPlaybackState* is) {
    TStreamChoice choice = is->Input.ChooseStreams(DisableAudio, DisableVideo);
    if (choice.Audio >= 0 && choice.Video >= 0) HoldSound(*is);
    if (choice.Audio >= 0) ComponentOpen(is, choice.Audio);
    int videoResult = choice.Video >= 0 ? ComponentOpen(is, choice.Video) : -1;
    if (videoResult < 0) is->AudioHeldUntil = 0;
    if (choice.Subtitle >= 0 && is->VideoSt) ComponentOpen(is, choice.Subtitle);
    if (videoResult < 0 && !DisableDisplay) is->ShowAudio = 2;
}

// A seek has reached the file: the host's wait for it ends, and without
// pictures the seek is over (else the first picture after it ends it).
void TCustomPlayer::SeekReached(TPlaybackState* is) {
    FSeekDone.Set();
    if (!is->VideoSt) FSeeking = false;
}

void TCustomPlayer::ReadEnd(TPlaybackState* is, int result) {
    if (is->OpenStatus != 1) is->OpenStatus = -1;
    is->AbortRequest = true;
    if (is->AudioStream >= 0) ComponentClose(is, is->AudioStream);
    if (is->VideoStream >= 0) ComponentClose(is, is->VideoStream);
    if (is->SubtitleStream >= 0) ComponentClose(is, is->SubtitleStream);
    is->Subtitles.Close();
    // SDL keeps per-thread data (its error text) for threads it did not
    // start; this thread is done with SDL, so that data goes now.
    ff::sdl.SDL_TLSCleanup();
    if (is->OpenStatus == 1) {
        try {
            FProbe->AttachContext(nullptr);
        } catch (const std::exception&) {
        }
    }
    is->Input.Close();
    if (result != 0 && is->OpenStatus == 1) PostQuit();
    if (is->OpenStatus == -1) is->OpenStatus = -2;
}

// ---- Decoders ----

int TCustomPlayer::ComponentOpen(TPlaybackState* is, int streamIndex) {
    AVStream* stream = is->Input.Stream(streamIndex);
    if (!stream) return -1;
    const AVCodec* decoder = ff::avcodec.avcodec_find_decoder(stream->codecpar->codec_id);
    ff::CodecContextPtr codec(ff::avcodec.avcodec_alloc_context3(decoder));
    if (!codec || ff::avcodec.avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
        ReportError("avcodec_open() failed.", false);
        return -1;
    }
    codec->pkt_timebase = stream->time_base;
    codec->workaround_bugs = 1;
    codec->error_concealment = 3;
    codec->thread_count = 0; // automatic: one thread cannot decode large pictures in time
    {
        std::lock_guard lock(CodecLock());
        if (!decoder || ff::avcodec.avcodec_open2(codec.get(), decoder, nullptr) < 0) {
            ReportError("avcodec_open() failed.", false);
            return -1;
        }
    }
    if (codec->codec_type == AVMEDIA_TYPE_AUDIO) {
        std::string failure = is->Sound.OpenDevice(codec.get());
        if (!failure.empty()) {
            ReportError(failure, false);
            std::lock_guard lock(CodecLock());
            codec.reset();
            return -1;
        }
    }
    switch (codec->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        is->VideoStream = streamIndex;
        is->VideoSt = stream;
        is->VideoCodec = std::move(codec);
        is->VideoOpen = true;
        is->Rotation = StreamRotation(stream);
        is->Video.Open(is->VideoCodec.get(), stream, is->Rotation);
        is->VideoQueue.Start();
        is->VideoQueue.PutFlush();
        is->Input.Feed(TFeed::Video, streamIndex, is->VideoQueue);
        is->VideoDone.Reset();
        is->VideoThread = std::thread([this, hold = is->shared_from_this()] {
            VideoThreadRun(hold.get());
            hold->VideoDone.Set();
        });
        break;
    case AVMEDIA_TYPE_AUDIO:
        is->AudioStream = streamIndex;
        is->AudioSt = stream;
        is->AudioCodec = std::move(codec);
        is->AudioDuration = stream->duration != AV_NOPTS_VALUE
                                ? ff::avutil.av_rescale_q(stream->duration, stream->time_base,
                                                          AVRational{1, 1000000})
                                : -1;
        is->AudioQueue.Start();
        is->AudioQueue.PutFlush();
        is->Input.Feed(TFeed::Audio, streamIndex, is->AudioQueue);
        is->Sound.Start(is->AudioCodec.get(), stream, Mute, AudioVolume, this);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        is->SubtitleStream = streamIndex;
        is->SubtitleSt = stream;
        if (std::string failure = is->Subtitles.Open(
                TSubtitles::TSource{codec.get(), stream, streamIndex, is->VideoStream,
                                    is->Input.FileName(), is->Input.Context()->interrupt_callback});
            !failure.empty())
            ReportError(failure, false);
        is->SubtitleCodec = std::move(codec);
        is->SubtitleQueue.Start();
        is->SubtitleQueue.PutFlush();
        is->Input.Feed(TFeed::Subtitle, streamIndex, is->SubtitleQueue);
        is->SubtitleThread = std::thread([is] { is->Subtitles.Run(is->Paused, is->PausedAtSeek); });
        break;
    default:
        break;
    }
    return 0;
}

void TCustomPlayer::ComponentClose(TPlaybackState* is, int streamIndex) {
    AVStream* stream = is->Input.Stream(streamIndex);
    ff::CodecContextPtr codec;
    if (streamIndex == is->VideoStream) {
        is->VideoQueue.Abort();
        is->Pictures.Abort();
        JoinVideoThread(is);
        is->VideoQueue.Flush();
        is->VideoOpen = false;
        codec = std::move(is->VideoCodec);
        is->VideoSt = nullptr;
        is->VideoStream = -1;
    } else if (streamIndex == is->AudioStream) {
        is->AudioQueue.Abort();
        is->Sound.Close();
        is->AudioQueue.Flush();
        codec = std::move(is->AudioCodec);
        is->AudioSt = nullptr;
        is->AudioStream = -1;
        is->AudioDuration = -1;
    } else if (streamIndex == is->SubtitleStream) {
        is->SubtitleQueue.Abort();
        is->Subtitles.Abort();
        if (is->SubtitleThread.joinable()) is->SubtitleThread.join();
        is->SubtitleQueue.Flush();
        codec = std::move(is->SubtitleCodec);
        is->SubtitleSt = nullptr;
        is->SubtitleStream = -1;
    }
    stream->discard = AVDISCARD_ALL;
    std::lock_guard lock(CodecLock());
    codec.reset();
}

namespace {

// How long a close waits for a hook that does not return.
constexpr auto HookReturnLimit = std::chrono::seconds(2);

} // namespace

// Waits for the video thread's end. A hook of the host that has not returned
// after HookReturnLimit is not waited for: the thread is let go, holding the
// pipeline state it uses (its shared reference) but nothing of the player,
// which may be destroyed before the hook returns. Back from the hook it sees
// that it was given up on and ends at once. Keeping the player alive instead would
// make Close and the host's window wait as long as the hook.
void TCustomPlayer::JoinVideoThread(TPlaybackState* is) {
    if (!is->VideoThread.joinable()) return;
    auto deadline = std::chrono::steady_clock::now() + HookReturnLimit;
    while (!is->VideoDone.WaitFor(50ms)) {
        if (std::chrono::steady_clock::now() < deadline) continue;
        if (!is->PictureHook.Abandon()) continue; // busy elsewhere: it ends soon
        is->VideoThread.detach();
        GetLogger().Log(this, llWarning, "OnHook does not return: the video thread is left to end");
        return;
    }
    is->VideoThread.join();
}

// ---- Pause and seek ----

namespace {

// Waits up to `ms` for `signal`, serving the main thread meanwhile; sets it
// when the time runs out.
void WaitOrSet(TManualEvent& signal, int ms, bool mainThread) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!signal.WaitFor(mainThread ? 20ms : std::chrono::milliseconds(ms))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            signal.Set();
            return;
        }
        if (mainThread) ProcessPendingMessages();
    }
}

} // namespace

void TCustomPlayer::TogglePause(TPlaybackState* is) {
    if (!is) return;
    bool mainThread = IsMainThread();
    WaitOrSet(FSeekDone, 250, mainThread);
    if (is->Paused) {
        double now = Now();
        // The pictures queued before the pause are timed from the first one
        // shown after it, not taken as late.
        is->Pictures.ResumeSchedule(is->Clock.StoodFor(now));
        is->Clock.Resume(now, is->Input.PauseResult() != AVERROR(ENOSYS));
        is->Paused = false;
    } else {
        if (is->VideoOpen) WaitOrSet(FFrameQueued, 250, mainThread);
        is->Paused = true;
    }
}

// ---- Playback thread ----

void TCustomPlayer::PostQuit() {
    FLoopEvents.Push(TLoopEvent{TLoopEventKind::Quit});
}

void TCustomPlayer::EventLoop() {
    for (;;) {
        TLoopEvent event;
        bool got = FLoopEvents.Wait(event, 100ms);
        std::lock_guard lock(FPlayerLock);
        TPlaybackState* is = FStream.load();
        if (!is || !FFileOpen) return;
        if (!got) continue;
        switch (event.Kind) {
        case TLoopEventKind::Quit:
            ShutDownPipeline();
            return;
        case TLoopEventKind::Resize:
            ScreenWidth = event.Width;
            ScreenHeight = event.Height;
            MakeSurface(is, true);
            VideoRefresh(is, false);
            break;
        case TLoopEventKind::Expose:
            VideoRefresh(is, false);
            break;
        case TLoopEventKind::Refresh:
            VideoRefresh(is, true);
            is->Refresh = false;
            break;
        case TLoopEventKind::Reopen:
            MakeSurface(is, true);
            VideoRefresh(is, false);
            break;
        }
    }
}

void TCustomPlayer::RefreshThreadRun(TPlaybackState* is) {
    // Decided once: the streams are closed while this thread still runs.
    const int period = is->AudioSt && is->ShowAudio ? 20 : 5;
    while (!is->AbortRequest) {
        if (!is->Refresh.exchange(true)) FLoopEvents.Push(TLoopEvent{TLoopEventKind::Refresh});
        SleepMs(period);
    }
}
