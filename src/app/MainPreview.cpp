#include "app/MainPreview.h"

#include "app/winMain.h"

#include "app/PlayerSurface.h"
#include "app/Snapshots.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "controls/Tracker2.h"
#include "player/FFPlay.h"
#include "probe/AVProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const char* const kSettings = "settings";
const char* const kZeroTime = "00:00:00";

const QColor kWindowColour(24, 52, 91);
const QColor kPlayedColour(118, 152, 202);
const QColor kRestColour(36, 75, 123);

// Widths of the thumb pictures the mouse rules measure with.
constexpr int kPreviewThumbPicture = 13;
constexpr int kVolumeThumbPicture = 39;
// How long position reports keep off the bar after a seek by dragging.
constexpr int kSeekSettleMs = 300;
constexpr std::int64_t kKeySeekStep = 5'000'000;

// Volume as the player takes it: 0..128, anything else 64. Without a stored
// value it is 64 too: a fresh installation would otherwise play silently.
int StoredVolume(const TIniFile& settings) {
    const int volume = settings.ReadInteger(kSettings, "volume", 64);
    return (volume >= 0 && volume <= 128) ? volume : 64;
}

// Rounding to nearest with ties to even, as the mouse rules measure.
int RoundEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

void FillBetween(QPainter& canvas, int left, int top, int right, int bottom, const QColor& c) {
    if (right > left && bottom > top) canvas.fillRect(left, top, right - left, bottom - top, c);
}

// A groove with a light rim, the track picture of both bars.
QPixmap TrackPicture(int width, int height, double grooveTop, double grooveHeight) {
    QPixmap picture(width, height);
    picture.fill(kWindowColour);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(93, 120, 152));
    p.setBrush(QColor(16, 36, 64));
    p.drawRoundedRect(QRectF(0.5, grooveTop, width - 1, grooveHeight), 3, 3);
    return picture;
}

// A round knob in the lower part of a transparent picture.
QPixmap ThumbPicture(int width, int height, int diameter, int centreY) {
    QPixmap picture(width, height);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shine(width / 2.0 - 2, centreY - 2, diameter);
    shine.setColorAt(0, QColor(255, 255, 255));
    shine.setColorAt(1, QColor(150, 180, 220));
    p.setPen(QColor(40, 70, 110));
    p.setBrush(shine);
    p.drawEllipse(QPointF(width / 2.0, centreY), diameter / 2.0, diameter / 2.0);
    return picture;
}

} // namespace

// ---------------------------------------------------------------------------
// Creation

void TMainPreview::CreatePanel() {
    TfrmMain& w = FWindow;
    w.pan1 = new TPlayerSurface(&w);
    w.pan1->setObjectName("pan1");
    w.pan1->setGeometry(516, 134, 370, 240);
    w.pan1->setToolTip("Preview");
    w.pan1->setAccessibleName("Preview");
    w.PlayerSurface = w.pan1;
    w.lblTime = new QLabel("00:00:00 / ", &w);
    w.lblTime->setObjectName("lblTime");
    w.lblTime->setGeometry(516, 378, 74, 18);
    w.lblPTS = new QLabel(kZeroTime, &w);
    w.lblPTS->setObjectName("lblPTS");
    w.lblPTS->setGeometry(590, 378, 80, 18);
    TTrackBar2* bar = w.trcPreview = new TTrackBar2(&w);
    bar->setObjectName("trcPreview");
    bar->setGeometry(511, 398, 380, 20);
    bar->SetTrackSize(12);
    bar->SetThumbSize(15);
    bar->SetTrackStyle(trUserDrawn);
    bar->SetTickStyle(tiUserDrawn);
    bar->SetThumbStyle(tsUserDrawn);
    bar->SetMax(bar->width());
    bar->SetPositionL(0);
    bar->setFocusPolicy(Qt::NoFocus);
    bar->setToolTip("Position");
    bar->setAccessibleName("Position");
    w.FFPlayer = std::make_unique<TFFPlayer>();
}

void TMainPreview::CreateButtons() {
    TfrmMain& w = FWindow;
    MakeRowButtons(&w,
                   {{&w.imgbtnPre, "imgbtnPre", "Previous", "previous"},
                    {&w.imgbtnPlay, "imgbtnPlay", "Play", "play"},
                    {&w.imgbtnPause, "imgbtnPause", "Pause", "pause"},
                    {&w.imgbtnStop, "imgbtnStop", "Stop", "stop"},
                    {&w.imgbtnNext, "imgbtnNext", "Next", "next"},
                    {&w.imgbtnSnap, "imgbtnSnap", "Snapshot", "snapshot"},
                    {&w.imgbtnMute, "imgbtnMute", "Mute", "sound"}},
                   QPoint(516, 422), QSize(39, 25), 20, 39);
    w.imglistVolumeMute[0] = skin::Pixmap("sound", 20);
    w.imglistVolumeMute[1] = skin::Pixmap("muted", 20);
    TTrackBar2* bar = w.trcVolume = new TTrackBar2(&w);
    bar->setObjectName("trcVolume");
    bar->setGeometry(803, 425, 83, 20);
    bar->SetTrackSize(7);
    bar->SetThumbSize(23);
    bar->SetTrackStyle(trUserDrawn);
    bar->SetTickStyle(tiUserDrawn);
    bar->SetThumbStyle(tsUserDrawn);
    bar->SetMin(0);
    bar->SetMax(128);
    bar->setFocusPolicy(Qt::NoFocus);
    bar->setToolTip("Volume");
    bar->setAccessibleName("Volume");
    CreatePictures();
}

void TMainPreview::CreatePictures() {
    TfrmMain& w = FWindow;
    w.imgPreviewTrack = new QLabel(&w);
    w.imgPreviewTrack->setObjectName("imgPreviewTrack");
    w.imgPreviewTrack->setPixmap(TrackPicture(378, 16, 2.5, 7.5));
    w.imgPreviewTrack->hide();
    w.imgVolumeTrack = new QLabel(&w);
    w.imgVolumeTrack->setObjectName("imgVolumeTrack");
    w.imgVolumeTrack->setPixmap(TrackPicture(81, 12, 2.5, 7));
    w.imgVolumeTrack->hide();
    w.imglistpreViewTrack[0] = ThumbPicture(kPreviewThumbPicture, 20, 12, 11);
}

void TMainPreview::Connect() {
    TfrmMain& w = FWindow;
    w.Preview->Attach(TPreviewParts{w.imgbtnPlay, w.imgbtnPause, w.imgbtnStop, w.imgbtnSnap,
                                    w.trcPreview, w.lblTime, w.lblPTS},
                      w.FFPlayer.get());
    QObject::connect(w.imgbtnPlay, &QToolButton::clicked, &w, &TfrmMain::imgbtnPlayClick);
    QObject::connect(w.imgbtnPause, &QToolButton::clicked, &w, &TfrmMain::imgbtnPauseClick);
    QObject::connect(w.imgbtnStop, &QToolButton::clicked, &w, &TfrmMain::imgbtnStopClick);
    QObject::connect(w.imgbtnPre, &QToolButton::clicked, &w, &TfrmMain::imgbtnPreClick);
    QObject::connect(w.imgbtnNext, &QToolButton::clicked, &w, &TfrmMain::imgbtnNextClick);
    QObject::connect(w.imgbtnSnap, &QToolButton::clicked, &w, &TfrmMain::imgbtnSnapClick);
    // Mouse presses toggle the sound in the event filter; a click arrives
    // here only from the keyboard or an assistive technology.
    QObject::connect(w.imgbtnMute, &QToolButton::clicked, &w, &TfrmMain::imgbtnMuteMouseDown);
    TfrmMain* m = &w;
    w.trcPreview->OnDrawTrack = [m](TTrackBar2* s, QPainter& c) { m->trcPreviewDrawTrack(s, c); };
    w.trcPreview->OnDrawThumb = [m](TTrackBar2* s, QPainter& c, int x, int y) {
        m->trcPreviewDrawThumb(s, c, x, y);
    };
    w.trcPreview->OnMouseMove = [m](TTrackBar2* s, Qt::MouseButtons b, Qt::KeyboardModifiers, int x,
                                    int y) { m->trcPreviewMouseMove(s, b, x, y); };
    w.trcVolume->OnDrawTrack = [m](TTrackBar2* s, QPainter& c) { m->trcVolumeDrawTrack(s, c); };
    w.trcVolume->OnDrawThumb = [m](TTrackBar2* s, QPainter& c, int x, int y) {
        m->trcVolumeDrawThumb(s, c, x, y);
    };
    w.trcVolume->OnMouseMove = [m](TTrackBar2* s, Qt::MouseButtons b, Qt::KeyboardModifiers, int x,
                                   int y) { m->trcVolumeMouseMove(s, b, x, y); };
    w.trcVolume->OnChange = [m](TTrackBar2* s) { m->trcVolumeChange(s); };
    w.FFPlayer->OnFileOpen = [m](TCustomPlayer* s, std::int64_t d, int fw, int fh, int& sw,
                                 int& sh) { m->FFPlayerFileOpen(s, d, fw, fh, sw, sh); };
    w.FFPlayer->OnPosition = [m](TCustomPlayer* s, std::int64_t pts) {
        m->FFPlayerPosition(s, pts);
    };
    w.FFPlayer->OnState = [m](TCustomPlayer* s, TPlayState state) { m->FFPlayerState(s, state); };
}

void TMainPreview::ShowVolumeAndMute() {
    TfrmMain& w = FWindow;
    TIniFile settings(w.Global().SettingsFile());
    w.trcVolume->SetMin(0);
    w.trcVolume->SetMax(128);
    w.trcVolume->SetPositionL(StoredVolume(settings));
    w.Muted = settings.ReadInteger(kSettings, "mute", 0) == 1;
    w.imgbtnMute->setIcon(QIcon(w.imglistVolumeMute[w.Muted ? 1 : 0]));
    w.trcVolume->update();
}

// ---------------------------------------------------------------------------
// Player buttons

void TMainPreview::UpdatePreNextEnabling() {
    TfrmMain& w = FWindow;
    const int selected = w.lvFIles->SelectedRow();
    const int i = selected < 0 ? 0 : selected;
    const int count = w.lvFIles->RowCount();
    if (i > 0) {
        w.imgbtnPre->setEnabled(true);
        w.imgbtnNext->setEnabled(i + 1 != count);
    } else {
        w.imgbtnPre->setEnabled(false);
        w.imgbtnNext->setEnabled(count != 1);
    }
}

void TMainPreview::PlayClickedRow() {
    TfrmMain& w = FWindow;
    const int row = w.lvFIles->SelectedRow();
    if (row < 0) return;
    if (w.lvFIles->Row(row) != FPlayerRow) w.Paused = false;
    w.imgbtnPlayClick();
}

void TMainPreview::Play() {
    TfrmMain& w = FWindow;
    UpdatePreNextEnabling();
    if (w.Paused) {
        w.Preview->Resume();
        return;
    }
    if (!w.FFPlayer->LibrariesLoaded() &&
        !w.FFPlayer->LoadLibraries(
            QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString())) {
        w.mmoLog->appendPlainText(QString::fromStdString(w.FFPlayer->LastErrMsg()));
        return;
    }
    w.PlayerSurface = w.pan1;
    if (w.lvFIles->RowCount() == 0) {
        w.PlayAfterAdd = true;
        w.btnAddClick();
        return;
    }
    if (w.lvFIles->SelectedRow() < 0) {
        w.lvFIles->SelectRow(0);
        w.lvFIles->setFocus();
    }
    if (w.lvFIles->SelectedRow() >= 0) PlaySelectedRow();
}

void TMainPreview::PlaySelectedRow() {
    TfrmMain& w = FWindow;
    const int row = w.lvFIles->SelectedRow();
    if (row < 0) return;
    for (QWidget* b : {w.imgbtnStop, w.imgbtnPlay, w.imgbtnPause, w.imgbtnSnap})
        b->setEnabled(false);
    const std::string file = w.lvFIles->Row(row)->Record.SourceFile;
    if (!w.FFPlayer->Open(file, w.pan1, false)) {
        w.mmoLog->appendPlainText(QString::fromStdString(w.FFPlayer->LastErrMsg()));
        ShowPlayerStopped();
        return;
    }
    FPlayerRow = w.lvFIles->Row(row);
    w.Paused = false;
    w.trcPreview->setEnabled(true);
    for (QWidget* b : {w.imgbtnStop, w.imgbtnPause, w.imgbtnSnap})
        b->setEnabled(true);
    w.imgbtnPlay->setEnabled(false);
}

void TMainPreview::Pause() {
    if (FWindow.Paused) return;
    FWindow.Preview->Pause();
}

void TMainPreview::Stop() {
    TFFPlayer& player = *FWindow.FFPlayer;
    if (player.FileOpen() && player.IsPaused()) player.Resume();
    player.Close(true);
    ShowPlayerStopped();
}

void TMainPreview::ShowPlayerStopped() {
    TfrmMain& w = FWindow;
    FPlayerRow = nullptr;
    w.Paused = false;
    // Putting the bar back is no seek.
    w.SeekDragging = true;
    w.Preview->ShowStopped();
    w.SeekDragging = false;
    // Back to a black panel: the surface keeps the last picture otherwise.
    w.pan1->SetMode(w.pan1->width(), w.pan1->height());
    w.pan1->repaint();
}

void TMainPreview::PlayRow(int row) {
    FWindow.lvFIles->SelectRow(row);
    FWindow.lvFIles->setFocus();
    UpdatePreNextEnabling();
    PlaySelectedRow();
}

void TMainPreview::Previous() {
    UpdatePreNextEnabling();
    const int i = std::max(FWindow.lvFIles->SelectedRow(), 0);
    if (i > 0) PlayRow(i - 1);
}

void TMainPreview::Next() {
    UpdatePreNextEnabling();
    const int i = std::max(FWindow.lvFIles->SelectedRow(), 0);
    if (i + 1 < FWindow.lvFIles->RowCount()) PlayRow(i + 1);
}

void TMainPreview::ToggleMute() {
    TfrmMain& w = FWindow;
    w.Muted = !w.Muted;
    w.imgbtnMute->setIcon(QIcon(w.imglistVolumeMute[w.Muted ? 1 : 0]));
    w.imgbtnMute->setAccessibleDescription(w.Muted ? "Muted" : "Sound on");
    w.FFPlayer->Mute = w.Muted;
    TIniFile settings(w.Global().SettingsFile());
    settings.WriteString(kSettings, "mute", w.Muted ? "1" : "0");
}

void TMainPreview::Snap() {
    TfrmMain& w = FWindow;
    const Bitmap24& frame = w.FFPlayer->CurrentFrame();
    if (frame.Width < 1 || frame.Height < 1) return;
    const QImage full =
        QImage(frame.Data.data(), frame.Width, frame.Height, frame.Stride, QImage::Format_BGR888)
            .copy();
    w.imgPreview->setGeometry(w.pan1->rect());
    QImage small(w.pan1->size(), QImage::Format_RGB32);
    small.fill(Qt::black);
    {
        QPainter canvas(&small);
        canvas.setRenderHint(QPainter::SmoothPixmapTransform);
        canvas.drawImage(small.rect(), full);
    }
    SaveSnapshots(w.Global(), full, small, true);
}

// ---------------------------------------------------------------------------
// Player events

void TMainPreview::FileOpened(int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                              int& screenHeight) {
    TfrmMain& w = FWindow;
    w.mmoLog->appendPlainText(QString::fromStdString(w.FFPlayer->Probe().GetFormatInfoText()));
    char line[128];
    std::snprintf(line, sizeof line, "duration: %f, frame size: %dx%d",
                  static_cast<double>(duration) / 1e6, frameWidth, frameHeight);
    w.mmoLog->appendPlainText(line);
    if (w.PlayerSurface) {
        screenWidth = w.PlayerSurface->width();
        screenHeight = w.PlayerSurface->height();
    }
    w.Preview->ShowLength(duration);
    w.trcPreview->SetTickInterval(1);
    w.trcPreview->SetMax(w.trcPreview->width());
    w.trcPreview->setEnabled(duration > 0);
    w.FFPlayer->AudioVolume = w.trcVolume->PositionL();
    TIniFile settings(w.Global().SettingsFile());
    w.FFPlayer->Mute = settings.ReadInteger(kSettings, "mute", 0) == 1;
    w.SeekDragging = true;
    w.trcPreview->SetPositionL(0);
    w.SeekDragging = false;
}

void TMainPreview::PositionReported(int64_t pts) {
    // A report still on its way when the file ended (or was stopped) would
    // put a time back beside the rewound bar.
    if (!FWindow.imgbtnStop->isEnabled()) return;
    FWindow.Preview->ShowPosition(pts);
}

// ---------------------------------------------------------------------------
// Seeking, volume and keys

bool TMainPreview::Message(QWidget* widget, QEvent* event) {
    TfrmMain& w = FWindow;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        if (widget == w.imgbtnMute) {
            if (w.imgbtnMute->isEnabled()) w.imgbtnMuteMouseDown();
            return true;
        }
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && widget == w.trcPreview &&
            w.trcPreview->isEnabled()) {
            ++FSeekDrag;
            FSeekSettling = false;
            w.SeekDragging = true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && w.SeekDragging &&
            !FSeekSettling)
            FinishSeekDrag();
        return false;
    case QEvent::KeyPress:
        return widget == &w && KeyUnused(static_cast<QKeyEvent&>(*event));
    default:
        return false;
    }
}

// A key reaches the window itself only when the control with the focus has
// not used it: a button still presses on Space, a text box or the list keeps
// its keys, and an open menu has its own.
bool TMainPreview::KeyUnused(QKeyEvent& event) {
    if (!Key(event.key())) return false;
    event.accept();
    return true;
}

bool TMainPreview::Key(int key) {
    TfrmMain& w = FWindow;
    if (!w.FFPlayer) return false;
    if (key == Qt::Key_Space) {
        if (w.imgbtnPause->isEnabled())
            w.imgbtnPauseClick();
        else if (w.imgbtnPlay->isEnabled())
            w.imgbtnPlayClick();
        return true;
    }
    if ((key == Qt::Key_Left || key == Qt::Key_Right) && w.FFPlayer->FileOpen()) {
        SeekBy(key == Qt::Key_Left ? -kKeySeekStep : kKeySeekStep);
        return true;
    }
    return false;
}

void TMainPreview::FinishSeekDrag() {
    TfrmMain& w = FWindow;
    const int max = std::max(w.trcPreview->Max(), 1);
    w.FFPlayer->Seek(0, false, BarTime(w.trcPreview->PositionL(), max, w.Preview->Duration()));
    ++w.SeekCount;
    FSeekSettling = true;
    const int drag = FSeekDrag;
    QTimer::singleShot(kSeekSettleMs, &w, [this, drag] {
        if (drag != FSeekDrag) return;
        FSeekSettling = false;
        FWindow.SeekDragging = false;
    });
}

void TMainPreview::SeekBy(int64_t microseconds) {
    TfrmMain& w = FWindow;
    int64_t target = std::max<int64_t>(w.FFPlayer->CurrentPosition(), 0) + microseconds;
    target = std::clamp<int64_t>(target, 0, std::max<int64_t>(w.Preview->Duration(), 0));
    w.FFPlayer->Seek(0, false, target);
}

void TMainPreview::PreviewMouseMove(TTrackBar2* bar, Qt::MouseButtons buttons, int x) {
    if (!(buttons & Qt::LeftButton) || !bar->isEnabled()) return;
    const int span = bar->width() - RoundEven(kPreviewThumbPicture / 2.0);
    bar->SetPositionL(static_cast<int>(static_cast<double>(x) / span * bar->Max()));
}

void TMainPreview::VolumeMouseMove(TTrackBar2* bar, Qt::MouseButtons buttons, int x) {
    if (!(buttons & Qt::LeftButton)) return;
    const int span = bar->width() - RoundEven(kVolumeThumbPicture / 2.0);
    bar->SetPositionL(static_cast<int>(static_cast<double>(x) / span * 128));
}

void TMainPreview::VolumeChanged(TTrackBar2* bar) {
    FWindow.FFPlayer->AudioVolume = bar->PositionL();
    TIniFile settings(FWindow.Global().SettingsFile());
    settings.WriteString(kSettings, "volume", std::to_string(bar->PositionL()));
}

// ---------------------------------------------------------------------------
// Drawing the bars

void TMainPreview::DrawPreviewTrack(QPainter& canvas) {
    canvas.drawPixmap(1, 2, FWindow.imgPreviewTrack->pixmap());
}

void TMainPreview::DrawPreviewThumb(TTrackBar2* bar, QPainter& canvas, int x, int y) {
    const QPixmap track = FWindow.imgPreviewTrack->pixmap();
    FillBetween(canvas, 0, 0, bar->width(), bar->height(), kWindowColour);
    canvas.drawPixmap(1, 2, track);
    FillBetween(canvas, 5, 6, x + 10, y + 7, kPlayedColour);
    FillBetween(canvas, x + 13, 5, track.width() - 8, y + 8, kRestColour);
    canvas.drawPixmap(x + 2, y - 6, FWindow.imglistpreViewTrack[0]);
    FWindow.PreviewThumbX = x;
    FWindow.PreviewThumbY = y;
}

void TMainPreview::DrawVolumeTrack(TTrackBar2* bar, QPainter& canvas) {
    FillBetween(canvas, 0, 0, bar->width(), bar->height(), kWindowColour);
    canvas.drawPixmap(1, 4, FWindow.imgVolumeTrack->pixmap());
}

void TMainPreview::DrawVolumeThumb(TTrackBar2* bar, QPainter& canvas, int x, int y) {
    // This bar places its 23-pixel thumb one pixel above its top; the
    // fills follow the groove of the track picture.
    const int groove = 8;
    FillBetween(canvas, 4, groove, x + 11, groove + 4, kPlayedColour);
    FillBetween(canvas, x + 13, groove, bar->width() - 5, groove + 4, kRestColour);
    canvas.drawPixmap(x + 5, y, FWindow.imglistpreViewTrack[0]);
    FWindow.VolumeThumbX = x;
    FWindow.VolumeThumbY = y;
}
