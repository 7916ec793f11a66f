// The player row of a preview: the Play, Pause and Stop buttons (and the
// Snapshot button of the main window), the position bar and the two time
// labels. The main window and the crop, trim and watermark dialogs build
// their own rows (names, places and pictures are theirs) and hand them to
// one controller, which keeps the row in step with the player: the buttons
// of each play state, the times, the bar, and a seek to where the bar
// points.
//
// Threads: everything runs on the user-interface thread; only `Stopped`
// and `Paused` are atomics, for a player hook that reads them on the video
// thread.
#pragma once

#include "player/FFPlay.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>

class QLabel;
class QPoint;
class QSize;
class QWidget;
class TTrackBar2;
namespace skin {
class TImageButton;
}

// The window a row belongs to: the windows answer the player differently.
enum class TPreviewKind { MainWindow, Crop, Trim, WaterMark };

// What a change does to one control or flag.
enum class TSwitch : unsigned char { Keep, On, Off };

// What a player state report changes on a row, in this order: the flags,
// the bar back to 0, the player rewound (seek to 0 and pause), the buttons
// (Snapshot follows Stop), the bar's enabling, both labels "00:00:00".
struct TRowChange {
    TSwitch Stopped = TSwitch::Keep, Paused = TSwitch::Keep;
    bool BarToStart = false;
    bool Rewind = false;
    std::uint8_t RewindFlags = 0;
    TSwitch Play = TSwitch::Keep, Pause = TSwitch::Keep, Stop = TSwitch::Keep;
    TSwitch Bar = TSwitch::Keep;
    bool ZeroTimes = false;
    // The report counts only while the player has a file open and paused
    // (a pause report may come after the stop that followed the pause).
    bool NeedsPausedPlayer = false;
};

// The state table of one kind of window.
TRowChange PreviewStateChange(TPreviewKind kind, TPlayState state);

// The position of a bar of maximum `max` for a time of `pts` microseconds
// of `duration`: max × pts div duration, or rounded to the nearest when
// `round`; 0 without a duration.
int BarPosition(int max, std::int64_t pts, std::int64_t duration, bool round);

// The time a bar at `position` of `max` points at: the integer part of
// position / max × duration; 0 without a maximum.
std::int64_t BarTime(int position, int max, std::int64_t duration);

// A row's controls; a window without a Stop or Snapshot button leaves it
// null.
struct TPreviewParts {
    QWidget* Play = nullptr;
    QWidget* Pause = nullptr;
    QWidget* Stop = nullptr;
    QWidget* Snap = nullptr;
    TTrackBar2* Bar = nullptr;
    QLabel* Time = nullptr;   // the current time
    QLabel* Length = nullptr; // the length
};

// One image button of a row: where the window keeps it, its name, hint
// (also its accessible name) and icon.
struct TRowButton {
    skin::TImageButton** Button;
    const char* Name;
    const char* Hint;
    const char* Icon;
};

// Makes a row of image buttons of `size` (icons of `iconSize`) from
// `start`, `step` pixels apart.
void MakeRowButtons(QWidget* parent, std::initializer_list<TRowButton> buttons, QPoint start,
                    QSize size, int iconSize, int step);

class TPreviewController {
public:
    TPreviewController(TPreviewKind kind, const TPreviewParts& parts, TCustomPlayer* player);
    // A controller whose row is made later; Attach it before any other call.
    explicit TPreviewController(TPreviewKind kind) : FKind(kind) {}
    void Attach(const TPreviewParts& parts, TCustomPlayer* player);

    // Enabling of the buttons; the Snapshot button follows Stop.
    void SetButtons(bool play, bool pause, bool stop);
    void SetButtons(TSwitch play, TSwitch pause, TSwitch stop);

    // A file opened: keeps its duration and shows its length.
    void ShowLength(std::int64_t duration);
    // The time of the frame shown; the bar follows unless the user drags it.
    void ShowPosition(std::int64_t pts);
    // A player state report, as the window's table has it; returns what it
    // changed (nothing for a report that does not count).
    TRowChange ShowState(TPlayState state);
    // The stopped row: the bar at 0 and disabled, only Play enabled, both
    // labels "00:00:00".
    void ShowStopped();

    // The buttons.
    void Resume();
    void Pause();
    // Resumes a paused player (it closes cleanly only when running), closes
    // its file and shows the stopped row.
    void Stop();

    // Seeks the player to where the bar points (nothing without a file).
    void SeekToBar(bool wait);
    // After a release's seek, position reports move the bar again only
    // once the player has had `settleMs` to get there (a new press in the
    // meantime keeps the bar held).
    void SettleAfterSeek(int settleMs);

    std::int64_t Duration() const { return FDuration; }

    std::atomic<bool> Stopped{true};
    std::atomic<bool> Paused{false};
    // The user drags the bar: position reports leave it alone.
    bool Dragging = false;

private:
    void ApplyFlags(const TRowChange& change);

    TPreviewKind FKind;
    TPreviewParts FParts;
    TCustomPlayer* FPlayer = nullptr;
    std::int64_t FDuration = 0; // microseconds
    int FReleases = 0;          // ends the wait after a release's seek
};
