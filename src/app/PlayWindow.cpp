#include "app/PlayWindow.h"

#include "player/FFPlay.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>

namespace {

constexpr std::int64_t SeekStep = 5000000; // microseconds

} // namespace

TPlayWindow::TPlayWindow(TFFPlayer& player) : FPlayer(player) {
    setWindowTitle("vantrel-play");
    setAccessibleName("vantrel-play");
    setFocusPolicy(Qt::StrongFocus);
}

bool TPlayWindow::HandleKey(int key) {
    std::int64_t position = FPlayer.CurrentPosition();
    switch (key) {
    case Qt::Key_Space:
        FPlayer.IsPaused() ? FPlayer.Resume() : FPlayer.Pause();
        return true;
    case Qt::Key_Left:
        FPlayer.Seek(0, false, position > SeekStep ? position - SeekStep : 0);
        return true;
    case Qt::Key_Right:
        FPlayer.Seek(0, false, position + SeekStep);
        return true;
    case Qt::Key_Period:
        FPlayer.StepFrame();
        return true;
    case Qt::Key_M:
        FPlayer.Mute = !FPlayer.Mute;
        return true;
    case Qt::Key_Q:
        close();
        return true;
    default:
        return false;
    }
}

void TPlayWindow::keyPressEvent(QKeyEvent* event) {
    if (!HandleKey(event->key())) TPlayerSurface::keyPressEvent(event);
}

void TPlayWindow::closeEvent(QCloseEvent* event) {
    if (OnClose) OnClose();
    FPlayer.Close(true);
    event->accept();
    QApplication::quit();
}
