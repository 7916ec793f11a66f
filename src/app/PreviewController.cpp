#include "app/PreviewController.h"

#include "app/Skin.h"
#include "core/FormatSeconds.h"
#include "controls/Tracker2.h"

#include <QLabel>
#include <QPoint>
#include <QSize>
#include <QTimer>

#include <cmath>

namespace {

const char* const kZeroTime = "00:00:00";

void Switch(QWidget* widget, TSwitch change) {
    if (widget && change != TSwitch::Keep) widget->setEnabled(change == TSwitch::On);
}

void Switch(std::atomic<bool>& flag, TSwitch change) {
    if (change != TSwitch::Keep) flag = change == TSwitch::On;
}

TSwitch On(bool on) {
    return on ? TSwitch::On : TSwitch::Off;
}

// The crop and trim dialogs follow the player's pause and stop reports;
// at the end they rewind the player and leave the bar where it is.
TRowChange DialogStateChange(TPlayState state) {
    TRowChange change;
    if (state == psPause) {
        change.Paused = change.Play = TSwitch::On;
    } else if (state == psStop) {
        change.Stopped = change.Play = TSwitch::On;
        change.Pause = change.Stop = change.Bar = TSwitch::Off;
    } else if (state == psEnd) {
        change.Stopped = change.Play = TSwitch::On;
        change.Pause = TSwitch::Off;
        change.Rewind = true;
    }
    return change;
}

// The main window and the watermark editor answer only the end: the bar
// back to 0 and disabled, the player rewound with the seek flags 4.
TRowChange EndOnlyStateChange(TPreviewKind kind, TPlayState state) {
    TRowChange change;
    if (state != psEnd) return change;
    change.BarToStart = change.Rewind = true;
    change.RewindFlags = 4;
    change.Play = TSwitch::On;
    change.Pause = change.Bar = TSwitch::Off;
    if (kind == TPreviewKind::MainWindow) {
        change.Paused = change.Stop = TSwitch::Off;
        change.ZeroTimes = true;
    }
    return change;
}

} // namespace

TRowChange PreviewStateChange(TPreviewKind kind, TPlayState state) {
    if (kind == TPreviewKind::MainWindow || kind == TPreviewKind::WaterMark)
        return EndOnlyStateChange(kind, state);
    TRowChange change = DialogStateChange(state);
    change.NeedsPausedPlayer = kind == TPreviewKind::Trim && state == psPause;
    return change;
}

int BarPosition(int max, std::int64_t pts, std::int64_t duration, bool round) {
    if (duration <= 0) return 0;
    if (round) return static_cast<int>(std::llround(static_cast<double>(max) * pts / duration));
    return static_cast<int>(std::int64_t{max} * pts / duration);
}

std::int64_t BarTime(int position, int max, std::int64_t duration) {
    if (max <= 0) return 0;
    return static_cast<std::int64_t>(static_cast<double>(position) / max *
                                     static_cast<double>(duration));
}

void MakeRowButtons(QWidget* parent, std::initializer_list<TRowButton> buttons, QPoint start,
                    QSize size, int iconSize, int step) {
    QPoint at = start;
    for (const TRowButton& item : buttons) {
        *item.Button = new skin::TImageButton(item.Name, "", item.Icon, size.width(), size.height(),
                                              iconSize, parent);
        (*item.Button)->setToolTip(item.Hint);
        (*item.Button)->setAccessibleName(item.Hint);
        (*item.Button)->move(at);
        at.rx() += step;
    }
}

// ---------------------------------------------------------------------------

TPreviewController::TPreviewController(TPreviewKind kind, const TPreviewParts& parts,
                                       TCustomPlayer* player)
    : FKind(kind), FParts(parts), FPlayer(player) {}

void TPreviewController::Attach(const TPreviewParts& parts, TCustomPlayer* player) {
    FParts = parts;
    FPlayer = player;
}

void TPreviewController::SetButtons(bool play, bool pause, bool stop) {
    SetButtons(On(play), On(pause), On(stop));
}

void TPreviewController::SetButtons(TSwitch play, TSwitch pause, TSwitch stop) {
    Switch(FParts.Play, play);
    Switch(FParts.Pause, pause);
    Switch(FParts.Stop, stop);
    Switch(FParts.Snap, stop);
}

void TPreviewController::ShowLength(std::int64_t duration) {
    FDuration = duration;
    FParts.Length->setText(QString::fromStdString(FormatMicroseconds(duration)));
}

void TPreviewController::ShowPosition(std::int64_t pts) {
    // The dialogs' time label carries the separator before the length.
    const bool dialog = FKind == TPreviewKind::Crop || FKind == TPreviewKind::Trim;
    FParts.Time->setText(QString::fromStdString(FormatMicroseconds(pts)) + (dialog ? " / " : ""));
    if (Dragging || FDuration <= 0) return;
    FParts.Bar->SetPositionL(
        BarPosition(FParts.Bar->Max(), pts, FDuration, FKind == TPreviewKind::Trim));
}

TRowChange TPreviewController::ShowState(TPlayState state) {
    const TRowChange change = PreviewStateChange(FKind, state);
    if (change.NeedsPausedPlayer && (!FPlayer->FileOpen() || !FPlayer->IsPaused()))
        return TRowChange{};
    ApplyFlags(change);
    if (change.BarToStart) FParts.Bar->SetPositionL(0);
    if (change.Rewind) {
        FPlayer->Seek(change.RewindFlags, false, 0);
        FPlayer->Pause();
    }
    SetButtons(change.Play, change.Pause, change.Stop);
    Switch(FParts.Bar, change.Bar);
    if (change.ZeroTimes) {
        FParts.Time->setText(kZeroTime);
        FParts.Length->setText(kZeroTime);
    }
    return change;
}

void TPreviewController::ApplyFlags(const TRowChange& change) {
    Switch(Stopped, change.Stopped);
    Switch(Paused, change.Paused);
}

void TPreviewController::ShowStopped() {
    FParts.Bar->SetPositionL(0);
    FParts.Bar->setEnabled(false);
    SetButtons(true, false, false);
    FParts.Time->setText(kZeroTime);
    FParts.Length->setText(kZeroTime);
}

void TPreviewController::Resume() {
    FPlayer->Resume();
    Paused = false;
    SetButtons(false, true, true);
    // The main window's bar keeps its enabling (a file without a duration
    // has it disabled).
    if (FKind != TPreviewKind::MainWindow) FParts.Bar->setEnabled(true);
}

void TPreviewController::Pause() {
    FPlayer->Pause();
    Paused = true;
    SetButtons(TSwitch::On, TSwitch::Off,
               FKind == TPreviewKind::MainWindow ? TSwitch::On : TSwitch::Keep);
}

void TPreviewController::Stop() {
    FPlayer->Resume();
    Paused = false;
    FPlayer->Close(true);
    Stopped = true;
    ShowStopped();
}

void TPreviewController::SeekToBar(bool wait) {
    if (!FPlayer->FileOpen() || FParts.Bar->Max() <= 0) return;
    FPlayer->Seek(0, wait, BarTime(FParts.Bar->PositionL(), FParts.Bar->Max(), FDuration));
}

void TPreviewController::SettleAfterSeek(int settleMs) {
    const int release = ++FReleases;
    QTimer::singleShot(settleMs, FParts.Bar, [this, release] {
        if (release == FReleases) Dragging = false;
    });
}
