// The player component: plays one media file with sound into a host's
// display surface (or an own window), reports the file, the position and the
// play state through events, gives the current picture, and with the hook on
// hands every picture to the host before it is shown.
//
//   TFFPlayer player;
//   player.OnPosition = [](TCustomPlayer*, std::int64_t pts) { ... };
//   if (!player.LibrariesLoaded()) player.LoadLibraries(folder);
//   if (!player.Open(file, &surface, false)) show(player.LastErrMsg());
//   player.Pause(); player.Seek(0, true, 5000000); player.Close(true);
#pragma once

#include "media/AVFilterEntries.h"
#include "media/Bitmap24.h"
#include "media/FFBaseComponent.h"
#include "media/FFUtils.h"
#include "media/FFmpegLogger.h"
#include "media/SwResampleEntries.h"
#include "player/HostEvents.h"
#include "player/FFPlayPipeline.h"
#include "player/CurrentPicture.h"
#include "player/PlayerSync.h"
#include "player/PositionReport.h"
#include "player/VideoRefresh.h"
#include "player/VideoSurface.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class TAVProbe;
class TCustomPlayer;

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };
enum TAudioDriver { adDefault, adDirectSound, adWaveOut };
// The display goes through IVideoSurface (SDL is used for the sound only), so
// TVideoDriver has no effect: VideoDriver is kept, and read by no one, so
// that hosts which set it still build.
enum TVideoDriver { vdDefault, vdDirectDraw, vdGDI };

using TFileOpenEvent =
    std::function<void(TCustomPlayer* Sender, const std::int64_t ADuration, const int AFrameWidth,
                       const int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
using THookEvent =
    std::function<void(TCustomPlayer* Sender, Bitmap24& ABitmap, const std::int64_t APTS)>;
using TPositionEvent = std::function<void(TCustomPlayer* Sender, const std::int64_t APTS)>;
using TPlayStateEvent = std::function<void(TCustomPlayer* Sender, const TPlayState AState)>;

class TCustomPlayer : public TFFBaseComponent {
public:
    explicit TCustomPlayer(TFFBaseComponent* owner = nullptr);
    ~TCustomPlayer() override;

    static const char* Version() { return "2.3"; }

    bool LibrariesLoaded() const;
    bool LoadLibraries(const std::string& folder);
    // `window` is the host's display (nullptr: an own window when the GUI
    // installed a factory, else no display).
    bool Open(const std::string& fileName, IVideoSurface* window, bool startPaused);
    void Close(bool wait);
    void Pause();
    void Resume();
    void StepFrame();
    bool IsPaused();
    void Seek(std::uint8_t flags, bool wait, std::int64_t position);
    // The picture in the read slot of the picture queue (0 x 0 without video).
    Bitmap24& CurrentFrame();
    Bitmap24& CurrentFrame(std::int64_t& pts);
    const std::string& LastErrMsg() const { return FLastErrMsg; }
    bool FileOpen() const { return FFileOpen.load(); }
    TPlayState State() const { return FState.load(); }
    std::int64_t CurrentPosition() const { return FPositions.Current(); }
    TAVProbe& Probe() { return *FProbe; }

    float GetAspectRatio() const { return FAspectRatio.load(); }
    void SetAspectRatio(float value);

    // Properties (set before Open unless said otherwise).
    TAudioDriver AudioDriver = adDefault;
    TVideoDriver VideoDriver = vdDefault; // no effect (see TVideoDriver)
    std::atomic<int> AudioVolume{128};    // 0..128, any time
    bool DisableAudio = false;
    bool DisableVideo = false;
    bool DisableDisplay = false;
    std::atomic<bool> Mute{false}; // any time
    int FrameWidth = 0;
    int FrameHeight = 0;
    std::atomic<bool> Hook{false}; // any time
    std::atomic<int> ScreenWidth{0}, ScreenHeight{0};
    bool TriggerEventInMainThread = true;

    // Events; assign while no file is open.
    TFileOpenEvent OnFileOpen;
    THookEvent OnHook;
    TPositionEvent OnPosition;
    TPlayStateEvent OnState;

    // Statistics of the display, for benchmarks and tests: pictures shown and
    // dropped (late at the display, or skipped after decoding to catch up)
    // since construction, and a call on the playback thread for each
    // picture shown (its time, the audio clock then, whether there is audio).
    std::atomic<int> ShownPictures{0};
    std::atomic<int> DroppedPictures{0};
    std::function<void(double APTS, double AAudioClock, bool AHasAudio)> OnPictureShown;
    bool Stepping() const { return FStepping.load(); }
    bool Seeking() const { return FSeeking.load(); }

private:
    friend struct TPlayerPipelineAccess; // tests look at the pipeline
    // ---- host calls and events ----
    bool OpenNow(const std::string& fileName, IVideoSurface* window, bool startPaused);
    void CloseNow(bool wait);
    void SetState(TPlayState state);
    void DeliverEvent(const TEventEntry& entry);
    void RaiseFileOpen(IVideoSurface* window);
    void WaitForPlayThread();
    void JoinFinishedThreads();
    void ResetPlayer();
    std::int64_t ToHostTime(double seconds) const;
    void ServiceWait();
    // ---- the pipeline's life ----
    bool StreamOpen(const std::string& fileName, bool startPaused);
    void StartReadThread(TPlaybackState& is, const std::string& fileName);
    void StreamClose();
    void ShutDownPipeline();
    std::shared_ptr<TPlaybackState> HeldStream();
    void TogglePause(TPlaybackState* is);
    void PlayThreadRun();
    void EventLoop();
    // ---- what the pipeline tells (through FReports) ----
    void ReportError(const std::string& text, bool store);
    void ExpectPicture(bool coming);
    void SeekReached(TPlaybackState& is);
    void InputClosing();
    void PostQuit();
    bool HookPicture(TPlaybackState& is, AVFrame* picture, double pts);
    void PictureQueued(TPlaybackState& is);
    void UpdatePosition();

    // Hands what the pipeline's threads tell on to the player. A member, not
    // a base of the player: the dispatch of a base would change under those
    // threads when the player's destructor starts, before it has ended them.
    class TPipelineReports final : public IPipelineOwner {
    public:
        explicit TPipelineReports(TCustomPlayer& player) : P(player) {}
        void ReportError(const std::string& text, bool store) override {
            P.ReportError(text, store);
        }
        void ExpectPicture(bool coming) override { P.ExpectPicture(coming); }
        void SeekReached(TPlaybackState& is) override { P.SeekReached(is); }
        void InputClosing() override { P.InputClosing(); }
        void PostQuit() override { P.PostQuit(); }
        bool Stepping() const override { return P.Stepping(); }
        bool HookPicture(TPlaybackState& is, AVFrame* picture, double pts) override {
            return P.HookPicture(is, picture, pts);
        }
        void PictureQueued(TPlaybackState& is) override { P.PictureQueued(is); }
        void UpdatePosition() override { P.UpdatePosition(); }

    private:
        TCustomPlayer& P;
    };

    std::string FLastErrMsg;
    std::atomic<bool> FFileOpen{false};
    std::string FFileName;
    IVideoSurface* FSurface = nullptr; // host's or own window; playback thread draws
    std::unique_ptr<IVideoSurface> FOwnWindow;
    std::atomic<float> FAspectRatio{0};

    std::atomic<bool> FStepping{false};
    std::atomic<bool> FSeeking{false};
    TPositionReport FPositions;
    std::atomic<TPlayState> FState{psStop};

    TCurrentPicture FCurrentPicture; // CurrentFrame's (host threads)
    std::unique_ptr<TAVProbe> FProbe;

    // The player lock: held by the playback thread per event, and by Close.
    std::recursive_timed_mutex FPlayerLock;
    TManualEvent FSeekDone{true}, FFrameQueued{true}, FPlayThreadDone{true};

    // The pipeline; created by StreamOpen, let go by StreamClose after its
    // threads ended. The pipeline's own threads use FStream; host calls hold
    // a reference (HeldStream) while they use it, so a pipeline shut down
    // meanwhile is freed only when the last of them returns.
    std::atomic<TPlaybackState*> FStream{nullptr};
    std::mutex FStreamLock; // guards FStreamOwner
    std::shared_ptr<TPlaybackState> FStreamOwner;
    TLoopEventQueue FLoopEvents;
    TPipelineReports FReports{*this};
    // The display of the open file (playback thread).
    TVideoRefresh FRefresh{TRefreshLinks{ScreenWidth, ScreenHeight, FAspectRatio, ShownPictures,
                                         DroppedPictures, OnPictureShown, FReports}};

    std::mutex FHandlerLock; // guards the four handlers against destruction
    std::thread FPlayThread;

    // Host calls of the host's thread never run inside each other.
    TCallGate FCallGate;
    // Host events and the event thread that delivers them (last: it ends
    // its thread before the gate and the handler lock it uses go).
    THostEvents FHostEvents{this, psStop};
};

class TFFPlayer : public TCustomPlayer {
public:
    explicit TFFPlayer(TFFBaseComponent* owner = nullptr) : TCustomPlayer(owner) {}
};
