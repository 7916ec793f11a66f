// The player component conducts the pipeline: host operations, the play
// state and its events, the playback thread's loop, positions, the hook and
// the current picture. The pipeline's parts do the work: the read thread
// (TStreamReader, which opens the decoders through TStreamComponents), the
// display (TVideoRefresh) and the units they run (TDemuxer, TVideoDecoder,
// TAudioOutput, TSubtitles).
#include "player/FFPlay.h"

#include "media/FFmpegLoader.h"
#include "media/MainThread.h"
#include "media/MyUtils.h"
#include "media/SDLEntries.h"
#include "player/StreamReader.h"
#include "probe/AVProbe.h"

#include <cmath>
#include <cstdlib>
#include <exception>

using namespace std::chrono_literals;

namespace {

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

const char* AudioDriverName(TAudioDriver driver) {
    switch (driver) {
    case adDirectSound:
        return "directsound";
    case adWaveOut:
        return "winmm";
    default:
        return "";
    }
}

// Tries to take `lock` for up to `ms` milliseconds.
bool TryLockFor(std::unique_lock<std::recursive_timed_mutex>& lock, int ms) {
    for (int waited = 0;; waited += 5) {
        if (lock.try_lock()) return true;
        if (waited >= ms) return false;
        std::this_thread::sleep_for(5ms);
    }
}

} // namespace

TCustomPlayer::TCustomPlayer(TFFBaseComponent* owner)
    : TFFBaseComponent(owner), FProbe(std::make_unique<TAVProbe>(this)) {
    Name = "FFPlayer";
    ResetPlayer();
}

TCustomPlayer::~TCustomPlayer() {
    {
        std::lock_guard lock(FHandlerLock);
        OnPosition = nullptr;
        OnState = nullptr;
        OnHook = nullptr;
    }
    Close(true);
    JoinFinishedThreads();
    if (FPlayThread.joinable()) FPlayThread.join();
    FHostEvents.Join({});
}

bool TCustomPlayer::LibrariesLoaded() const {
    return FFmpegLoader().AreLoaded(PlayerLibraries);
}

bool TCustomPlayer::LoadLibraries(const std::string& folder) {
    FFmpegLoader().SetLibraryFolder(folder);
    if (FFmpegLoader().LoadLibraries(PlayerLibraries)) return true;
    FLastErrMsg = FFmpegLoader().GetLastError();
    return false;
}

void TCustomPlayer::ReportError(const std::string& text, bool store) {
    if (store) FLastErrMsg = text;
    GetLogger().Log(this, llError, text);
}

// ---- Open and close ----

// Host calls go through FCallGate: one made while another of them waits
// (a click served by that wait), or made by a handler of the event thread,
// is queued and runs when that call or handler returns. A queued Open
// reports success; its failure goes to the log.

bool TCustomPlayer::Open(const std::string& fileName, IVideoSurface* window, bool startPaused) {
    TGatedCall call(FCallGate, [this, fileName, window, startPaused] {
        if (!Open(fileName, window, startPaused)) ReportError(FLastErrMsg, false);
    });
    if (!call) return true;
    return OpenNow(fileName, window, startPaused);
}

bool TCustomPlayer::OpenNow(const std::string& fileName, IVideoSurface* window, bool startPaused) {
    if (!LibrariesLoaded()) {
        ReportError("libav or libsdl not loaded.", true);
        return false;
    }
    CloseNow(true);
    JoinFinishedThreads();
    FLastErrMsg.clear();
    if (AudioDriver != adDefault) ::setenv("SDL_AUDIODRIVER", AudioDriverName(AudioDriver), 1);
    // SDL plays the sound only; left alone it would turn SIGINT and SIGTERM
    // into events of its own that nobody reads, and the host could no longer
    // be interrupted or terminated. A host that wants them sets "0".
    ::setenv("SDL_NO_SIGNAL_HANDLERS", "1", 0);
    if (ff::sdl.SDL_Init(0) != 0) {
        ReportError(FormatText("Could not initialize SDL with ScreenHandle(%u): %s",
                               window ? 1u : 0u, ff::sdl.SDL_GetError()),
                    true);
        return false;
    }
    if (DisableDisplay) DisableVideo = true;
    FSurface = nullptr;
    if (!DisableDisplay) {
        if (!window) FOwnWindow = MakeOwnWindow("FFPlayer");
        FSurface = window ? window : FOwnWindow.get();
    }
    FCurrentPicture.Reset();
    FLoopEvents.Clear();
    FHostEvents.Reset();
    if (!StreamOpen(fileName, startPaused)) {
        FSurface = nullptr;
        FOwnWindow.reset();
        return false;
    }
    FFileName = fileName;
    if (FSurface)
        FSurface->SetResizeHandler([this](int width, int height) {
            FLoopEvents.Push(TLoopEvent{TLoopEventKind::Resize, width, height});
        });
    try {
        FProbe->AttachContext(FStream.load()->Input.Context());
    } catch (const std::exception& e) {
        GetLogger().Log(this, llWarning, e.what());
    }
    RaiseFileOpen(window);
    FPlayThreadDone.Reset();
    FHostEvents.Start([this](const TEventEntry& entry) { DeliverEvent(entry); },
                      TriggerEventInMainThread);
    FPlayThread = std::thread(&TCustomPlayer::PlayThreadRun, this);
    return true;
}

void TCustomPlayer::RaiseFileOpen(IVideoSurface* window) {
    TPlaybackState* is = FStream.load();
    auto call = [this, is] {
        TFileOpenEvent handler;
        {
            std::lock_guard lock(FHandlerLock);
            handler = OnFileOpen;
        }
        if (!handler) return;
        std::int64_t duration = is->Input.IsImageSequence() ? 0 : is->Input.Duration();
        int width = -1, height = -1;
        is->UprightSize(width, height); // -1 x -1 without video
        int screenWidth = ScreenWidth, screenHeight = ScreenHeight;
        handler(this, duration, width, height, screenWidth, screenHeight);
        ScreenWidth = screenWidth;
        ScreenHeight = screenHeight;
    };
    try {
        if (TriggerEventInMainThread)
            RunInMainThread(call);
        else
            call();
    } catch (const std::exception& e) {
        GetLogger().Log(this, llError, e.what());
    }
    if (window && (ScreenWidth == 0 || ScreenHeight == 0)) {
        ScreenWidth = window->ClientWidth();
        ScreenHeight = window->ClientHeight();
    }
}

void TCustomPlayer::Close(bool wait) {
    TGatedCall call(FCallGate, [this, wait] { Close(wait); });
    if (call) CloseNow(wait);
}

void TCustomPlayer::CloseNow(bool wait) {
    {
        std::lock_guard lock(FPlayerLock);
        TPlaybackState* is = FStream.load();
        if (is && FFileOpen) {
            if (is->Paused) TogglePause(is);
            FStepping = false;
            PostQuit();
        }
    }
    if (wait) {
        WaitForPlayThread();
        JoinFinishedThreads();
    }
}

void TCustomPlayer::ServiceWait() {
    if (IsMainThread()) ProcessPendingMessages();
}

void TCustomPlayer::WaitForPlayThread() {
    int tries = 1;
    for (;;) {
        if (FPlayThreadDone.WaitFor(100ms)) return;
        ServiceWait();
        if (!FFileOpen) return;
        std::unique_lock lock(FPlayerLock, std::defer_lock);
        if (!TryLockFor(lock, 100)) continue;
        ++tries;
        if (!FFileOpen) return;
        TPlaybackState* is = FStream.load();
        if ((tries > 10 && is && is->Input.Reading()) || tries > 20) {
            ShutDownPipeline();
            return;
        }
        PostQuit();
    }
}

void TCustomPlayer::JoinFinishedThreads() {
    if (FPlayThread.joinable()) {
        while (!FPlayThreadDone.WaitFor(20ms))
            ServiceWait();
        FPlayThread.join();
    }
    FHostEvents.Join([this] { ServiceWait(); });
    if (!FFileOpen) {
        FOwnWindow.reset();
        FSurface = nullptr;
    }
}

void TCustomPlayer::ShutDownPipeline() {
    StreamClose();
    ResetPlayer();
}

void TCustomPlayer::ResetPlayer() {
    FFileOpen = false;
    FPositions.Reset();
    FStepping = false;
    FSeeking = false;
    FSeekDone.Set();
}

// ---- Host operations ----

// Host operations hold the pipeline while they use it: the playback thread
// may shut it down at any time (quit, Close without waiting).

void TCustomPlayer::Pause() {
    TGatedCall call(FCallGate, [this] { Pause(); });
    if (!call) return;
    std::shared_ptr<TPlaybackState> is = HeldStream();
    if (!FFileOpen || !is || is->Paused) return;
    TogglePause(is.get());
    FStepping = false;
    SetState(psPause);
}

void TCustomPlayer::Resume() {
    TGatedCall call(FCallGate, [this] { Resume(); });
    if (!call) return;
    std::shared_ptr<TPlaybackState> is = HeldStream();
    if (!FFileOpen || !is || !is->Paused) return;
    TogglePause(is.get());
    FStepping = false;
    SetState(psResume);
}

void TCustomPlayer::StepFrame() {
    TGatedCall call(FCallGate, [this] { StepFrame(); });
    if (!call) return;
    std::shared_ptr<TPlaybackState> is = HeldStream();
    if (!FFileOpen || !is) return;
    // A paused file stays paused: the video thread decodes one picture and
    // the refresh shows exactly that one. A playing file pauses itself after
    // its next queued picture.
    if (is->Paused) is->PendingShows = 1;
    bool wasStepping = FStepping.exchange(true);
    if (!wasStepping) SetState(psStep);
}

bool TCustomPlayer::IsPaused() {
    std::shared_ptr<TPlaybackState> is = HeldStream();
    return !FFileOpen || !is || is->Paused;
}

void TCustomPlayer::Seek(std::uint8_t flags, bool wait, std::int64_t position) {
    TGatedCall call(FCallGate, [this, flags, wait, position] { Seek(flags, wait, position); });
    if (!call) return;
    std::shared_ptr<TPlaybackState> is = HeldStream();
    if (!FFileOpen || !is) return;
    std::int64_t relative = 0;
    if (!(flags & AVSEEK_FLAG_BYTE)) {
        if (is->Input.Duration() > 0 && position > is->Input.Duration())
            position = is->Input.Duration();
        relative = position <= 0 ? 1 : 0;
        position += is->Input.StartTime();
    }
    if (is->Input.SeekPending()) return;
    FSeeking = true;
    is->PausedAtSeek = is->Paused.load();
    FSeekDone.Reset();
    is->Input.RequestSeek(flags & 15, relative, position);
    if (!wait) return;
    while (FFileOpen && !FSeekDone.WaitFor(100ms))
        ServiceWait();
    if (!is->VideoOpen) return;
    while (FFileOpen && !FFrameQueued.WaitFor(100ms))
        ServiceWait();
}

void TCustomPlayer::SetAspectRatio(float value) {
    if (FAspectRatio.exchange(value) != value && FFileOpen)
        FLoopEvents.Push(TLoopEvent{TLoopEventKind::Reopen});
}

// ---- Current picture ----

Bitmap24& TCustomPlayer::CurrentFrame() {
    std::int64_t pts = 0;
    return CurrentFrame(pts);
}

Bitmap24& TCustomPlayer::CurrentFrame(std::int64_t& pts) {
    std::shared_ptr<TPlaybackState> held = HeldStream();
    std::unique_lock playerLock(FPlayerLock, std::defer_lock);
    TryLockFor(playerLock, 200); // keeps the decoders from closing meanwhile
    return FCurrentPicture.Take(FFileOpen && playerLock.owns_lock() ? held.get() : nullptr, pts);
}

std::int64_t TCustomPlayer::ToHostTime(double seconds) const {
    TPlaybackState* is = FStream.load();
    std::int64_t start = is ? is->Input.StartTime() : 0;
    return std::llround(seconds * 1000000.0) - start;
}

// ---- States and host events ----

void TCustomPlayer::SetState(TPlayState state) {
    FState = state;
    bool hasHandler;
    {
        std::lock_guard lock(FHandlerLock);
        hasHandler = static_cast<bool>(OnState);
    }
    if (hasHandler)
        FHostEvents.Post(TEventEntry{TEventEntry::StateEvent, state, 0});
    else if (state == psStop)
        FHostEvents.Post(TEventEntry{TEventEntry::StopEvent, state, 0});
}

// An entry of the event thread to its handler. Player calls the handler
// makes run when it has returned (from `held`'s end, while the delivery is
// still marked as running on this thread).
void TCustomPlayer::DeliverEvent(const TEventEntry& entry) {
    TGatedCall held(FCallGate);
    std::unique_lock lock(FHandlerLock);
    if (entry.Kind == TEventEntry::PositionEvent && OnPosition) {
        TPositionEvent handler = OnPosition;
        lock.unlock();
        handler(this, entry.PTS);
    } else if (entry.Kind == TEventEntry::StateEvent && OnState) {
        TPlayStateEvent handler = OnState;
        lock.unlock();
        handler(this, static_cast<TPlayState>(entry.State));
    }
}

void TCustomPlayer::PlayThreadRun() {
    SetState(psPlay);
    try {
        EventLoop();
    } catch (const std::exception& e) {
        GetLogger().Log(this, llFatal, std::string("PlayThread Exception: ") + e.what());
        std::lock_guard lock(FPlayerLock);
        ShutDownPipeline();
    }
    SetState(psStop);
    FPlayThreadDone.Set();
}

// ---- The pipeline's life ----

bool TCustomPlayer::StreamOpen(const std::string& fileName, bool startPaused) {
    std::shared_ptr<TPlaybackState> is;
    try {
        is = std::make_shared<TPlaybackState>();
    } catch (const std::bad_alloc&) {
        ReportError("av_mallocz() failed.", true);
        return false;
    }
    is->Display.Attach(FSurface);
    if (startPaused) {
        is->Paused = true;
        is->StartPausedFrames = 1;
        FStepping = false;
    }
    try {
        StartReadThread(*is, fileName);
    } catch (const std::system_error&) {
        ReportError("SDL_CreateThread() failed.", true);
        return false;
    }
    while (is->OpenStatus == 0) {
        ServiceWait();
        std::this_thread::sleep_for(10ms);
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
        state->RefreshThread =
            std::thread([state, this] { TVideoRefresh::Tick(*state, FLoopEvents); });
        return true;
    }
    while (is->OpenStatus == -1) {
        ServiceWait();
        std::this_thread::sleep_for(10ms);
    }
    is->ReadThread.join();
    FLastErrMsg = is->OpenError;
    ResetPlayer();
    return false;
}

void TCustomPlayer::StartReadThread(TPlaybackState& is, const std::string& fileName) {
    TReadOptions options;
    if (FrameWidth > 0 && FrameHeight > 0)
        options.VideoSize = FormatText("%dx%d", FrameWidth, FrameHeight);
    options.DisableAudio = DisableAudio;
    options.DisableVideo = DisableVideo;
    options.DisableDisplay = DisableDisplay;
    TComponentLinks links{Mute, AudioVolume, this, DroppedPictures, FReports};
    is.ReadThread = std::thread(
        [&is, options, links, fileName] { TStreamReader(is, options, links).Run(fileName); });
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

void TCustomPlayer::TogglePause(TPlaybackState* is) {
    if (!is) return;
    std::function<void()> serve;
    if (IsMainThread()) serve = [] { ProcessPendingMessages(); };
    FSeekDone.WaitOrSet(250ms, serve);
    if (is->Paused) {
        double now = Now();
        // The pictures queued before the pause are timed from the first one
        // shown after it, not taken as late.
        is->Pictures.ResumeSchedule(is->Clock.StoodFor(now));
        is->Clock.Resume(now, is->Input.PauseResult() != AVERROR(ENOSYS));
        is->Paused = false;
    } else {
        if (is->VideoOpen) FFrameQueued.WaitOrSet(250ms, serve);
        is->Paused = true;
    }
}

// The playback thread: what the host's surface and the refresh thread ask,
// one event at a time under the player lock.
void TCustomPlayer::EventLoop() {
    for (;;) {
        TLoopEvent event;
        bool got = FLoopEvents.Wait(event, 100ms);
        std::lock_guard lock(FPlayerLock);
        TPlaybackState* is = FStream.load();
        if (!is || !FFileOpen) return;
        if (!got) continue;
        if (event.Kind == TLoopEventKind::Quit) {
            ShutDownPipeline();
            return;
        }
        FRefresh.Handle(*is, event);
    }
}

// ---- What the pipeline tells ----

void TCustomPlayer::PostQuit() {
    FLoopEvents.Push(TLoopEvent{TLoopEventKind::Quit});
}

void TCustomPlayer::ExpectPicture(bool coming) {
    if (coming)
        FFrameQueued.Reset();
    else
        FFrameQueued.Set();
}

// A seek has reached the file: the host's wait for it ends, and without
// pictures the seek is over (else the first picture after it ends it).
void TCustomPlayer::SeekReached(TPlaybackState& is) {
    FSeekDone.Set();
    if (!is.VideoSt) FSeeking = false;
}

void TCustomPlayer::InputClosing() {
    try {
        FProbe->AttachContext(nullptr);
    } catch (const std::exception&) {
    }
}

// The video thread has queued a picture. The play state follows from it
// here: a waiting seek is done, a file opened paused pauses after its first
// picture, and a step pauses again.
void TCustomPlayer::PictureQueued(TPlaybackState& is) {
    FFrameQueued.Set();
    is.EndReported = false;
    if (!is.Input.SeekPending()) FSeeking = false;
    if (is.StartPausedFrames != 0) {
        if (is.StartPausedFrames == 1) is.PendingShows = 1;
        if (is.StartPausedFrames > 1) {
            is.StartPausedFrames = 0;
            SetState(psPause);
        } else {
            is.StartPausedFrames += 1;
        }
    }
    if (FStepping.exchange(false) && !is.Paused) TogglePause(&is);
}

void TCustomPlayer::UpdatePosition() {
    TPlaybackState* is = FStream.load();
    if (!FFileOpen || !is || is->Input.IsImageSequence()) return;
    const std::int64_t start = is->Input.StartTime(), duration = is->Input.Duration();
    std::int64_t position;
    if (is->VideoSt) {
        position = std::llround(is->Clock.Video(Now(), start / 1000000.0) * 1000000.0) - start;
    } else if (is->AudioSt) {
        position = std::llround(is->Clock.Sound(Now()) * 1000000.0) - start;
        if (is->AudioDuration > 0 && position >= is->AudioDuration && duration > position)
            position = duration;
    } else {
        return;
    }
    std::optional<std::int64_t> report = FPositions.Update(position, duration);
    bool hasHandler = false;
    if (report) {
        std::lock_guard lock(FHandlerLock);
        hasHandler = static_cast<bool>(OnPosition);
    }
    if (hasHandler) FHostEvents.Post(TEventEntry{TEventEntry::PositionEvent, psPlay, *report});
    if (!is->Input.IsCapture() && !is->EndReported && is->Input.Drained()) {
        if (is->VideoSt) is->EndReported = true;
        SetState(psEnd);
    }
}

// False when the file was closed while the hook ran: the caller then
// touches nothing of the player (it may be gone) and ends its thread.
bool TCustomPlayer::HookPicture(TPlaybackState& is, AVFrame* picture, double pts) {
    if (!Hook) return true;
    THookEvent handler;
    {
        std::lock_guard lock(FHandlerLock);
        handler = OnHook;
    }
    if (!handler) return true;
    const std::int64_t hostPts = ToHostTime(pts);
    return is.PictureHook.Run(
        picture, [&](Bitmap24& bitmap) { handler(this, bitmap, hostPts); },
        [this](const std::string& text) { GetLogger().Log(this, llError, text); });
}
