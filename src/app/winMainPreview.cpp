// The main window's preview panel: the player's picture, the position and
// volume bars, the player buttons and the snapshot button.
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

void TfrmMain::CreatePreviewPanel() {
    pan1 = new TPlayerSurface(this);
    pan1->setObjectName("pan1");
    pan1->setGeometry(516, 134, 370, 240);
    pan1->setToolTip("Preview");
    pan1->setAccessibleName("Preview");
    PlayerSurface = pan1;
    lblTime = new QLabel("00:00:00 / ", this);
    lblTime->setObjectName("lblTime");
    lblTime->setGeometry(516, 378, 74, 18);
    lblPTS = new QLabel(kZeroTime, this);
    lblPTS->setObjectName("lblPTS");
    lblPTS->setGeometry(590, 378, 80, 18);
    trcPreview = new TTrackBar2(this);
    trcPreview->setObjectName("trcPreview");
    trcPreview->setGeometry(511, 398, 380, 20);
    trcPreview->SetTrackSize(12);
    trcPreview->SetThumbSize(15);
    trcPreview->SetTrackStyle(trUserDrawn);
    trcPreview->SetTickStyle(tiUserDrawn);
    trcPreview->SetThumbStyle(tsUserDrawn);
    trcPreview->SetMax(trcPreview->width());
    trcPreview->SetPositionL(0);
    trcPreview->setFocusPolicy(Qt::NoFocus);
    trcPreview->setToolTip("Position");
    trcPreview->setAccessibleName("Position");
    FFPlayer = std::make_unique<TFFPlayer>();
}

void TfrmMain::CreatePlayerButtons() {
    MakeRowButtons(this,
                   {{&imgbtnPre, "imgbtnPre", "Previous", "previous"},
                    {&imgbtnPlay, "imgbtnPlay", "Play", "play"},
                    {&imgbtnPause, "imgbtnPause", "Pause", "pause"},
                    {&imgbtnStop, "imgbtnStop", "Stop", "stop"},
                    {&imgbtnNext, "imgbtnNext", "Next", "next"},
                    {&imgbtnSnap, "imgbtnSnap", "Snapshot", "snapshot"},
                    {&imgbtnMute, "imgbtnMute", "Mute", "sound"}},
                   QPoint(516, 422), QSize(39, 25), 20, 39);
    imglistVolumeMute[0] = skin::Pixmap("sound", 20);
    imglistVolumeMute[1] = skin::Pixmap("muted", 20);
    trcVolume = new TTrackBar2(this);
    trcVolume->setObjectName("trcVolume");
    trcVolume->setGeometry(803, 425, 83, 20);
    trcVolume->SetTrackSize(7);
    trcVolume->SetThumbSize(23);
    trcVolume->SetTrackStyle(trUserDrawn);
    trcVolume->SetTickStyle(tiUserDrawn);
    trcVolume->SetThumbStyle(tsUserDrawn);
    trcVolume->SetMin(0);
    trcVolume->SetMax(128);
    trcVolume->setFocusPolicy(Qt::NoFocus);
    trcVolume->setToolTip("Volume");
    trcVolume->setAccessibleName("Volume");
    CreatePreviewPictures();
}

void TfrmMain::CreatePreviewPictures() {
    imgPreviewTrack = new QLabel(this);
    imgPreviewTrack->setObjectName("imgPreviewTrack");
    imgPreviewTrack->setPixmap(TrackPicture(378, 16, 2.5, 7.5));
    imgPreviewTrack->hide();
    imgVolumeTrack = new QLabel(this);
    imgVolumeTrack->setObjectName("imgVolumeTrack");
    imgVolumeTrack->setPixmap(TrackPicture(81, 12, 2.5, 7));
    imgVolumeTrack->hide();
    imglistpreViewTrack[0] = ThumbPicture(kPreviewThumbPicture, 20, 12, 11);
}

void TfrmMain::ConnectPreview() {
    Preview->Attach(
        TPreviewParts{imgbtnPlay, imgbtnPause, imgbtnStop, imgbtnSnap, trcPreview, lblTime, lblPTS},
        FFPlayer.get());
    connect(imgbtnPlay, &QToolButton::clicked, this, &TfrmMain::imgbtnPlayClick);
    connect(imgbtnPause, &QToolButton::clicked, this, &TfrmMain::imgbtnPauseClick);
    connect(imgbtnStop, &QToolButton::clicked, this, &TfrmMain::imgbtnStopClick);
    connect(imgbtnPre, &QToolButton::clicked, this, &TfrmMain::imgbtnPreClick);
    connect(imgbtnNext, &QToolButton::clicked, this, &TfrmMain::imgbtnNextClick);
    connect(imgbtnSnap, &QToolButton::clicked, this, &TfrmMain::imgbtnSnapClick);
    // Mouse presses toggle the sound in the event filter; a click arrives
    // here only from the keyboard or an assistive technology.
    connect(imgbtnMute, &QToolButton::clicked, this, &TfrmMain::imgbtnMuteMouseDown);
    trcPreview->OnDrawTrack = [this](TTrackBar2* s, QPainter& c) { trcPreviewDrawTrack(s, c); };
    trcPreview->OnDrawThumb = [this](TTrackBar2* s, QPainter& c, int x, int y) {
        trcPreviewDrawThumb(s, c, x, y);
    };
    trcPreview->OnMouseMove = [this](TTrackBar2* s, Qt::MouseButtons b, Qt::KeyboardModifiers,
                                     int x, int y) { trcPreviewMouseMove(s, b, x, y); };
    trcVolume->OnDrawTrack = [this](TTrackBar2* s, QPainter& c) { trcVolumeDrawTrack(s, c); };
    trcVolume->OnDrawThumb = [this](TTrackBar2* s, QPainter& c, int x, int y) {
        trcVolumeDrawThumb(s, c, x, y);
    };
    trcVolume->OnMouseMove = [this](TTrackBar2* s, Qt::MouseButtons b, Qt::KeyboardModifiers, int x,
                                    int y) { trcVolumeMouseMove(s, b, x, y); };
    trcVolume->OnChange = [this](TTrackBar2* s) { trcVolumeChange(s); };
    FFPlayer->OnFileOpen = [this](TCustomPlayer* s, std::int64_t d, int w, int h, int& sw,
                                  int& sh) { FFPlayerFileOpen(s, d, w, h, sw, sh); };
    FFPlayer->OnPosition = [this](TCustomPlayer* s, std::int64_t pts) { FFPlayerPosition(s, pts); };
    FFPlayer->OnState = [this](TCustomPlayer* s, TPlayState state) { FFPlayerState(s, state); };
}

// ---------------------------------------------------------------------------
// Player buttons

void TfrmMain::UpdatePreNextEnabling() {
    const int selected = lvFIles->SelectedRow();
    const int i = selected < 0 ? 0 : selected;
    const int count = lvFIles->RowCount();
    if (i > 0) {
        imgbtnPre->setEnabled(true);
        imgbtnNext->setEnabled(i + 1 != count);
    } else {
        imgbtnPre->setEnabled(false);
        imgbtnNext->setEnabled(count != 1);
    }
}

void TfrmMain::lvFIlesClick() {
    UpdatePreNextEnabling();
}

void TfrmMain::lvFIlesDblClick() {
    const int row = lvFIles->SelectedRow();
    if (row < 0) return;
    // The paused row goes on where it stood; any other row plays from its
    // start, also while another one is paused.
    if (lvFIles->Row(row) != playerRow_) Paused = false;
    imgbtnPlayClick();
}

void TfrmMain::imgbtnPlayClick() {
    UpdatePreNextEnabling();
    if (Paused) {
        Preview->Resume();
        return;
    }
    if (!FFPlayer->LibrariesLoaded() &&
        !FFPlayer->LoadLibraries(
            QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString())) {
        mmoLog->appendPlainText(QString::fromStdString(FFPlayer->LastErrMsg()));
        return;
    }
    PlayerSurface = pan1;
    if (lvFIles->RowCount() == 0) {
        PlayAfterAdd = true;
        btnAddClick();
        return;
    }
    if (lvFIles->SelectedRow() < 0) {
        lvFIles->SelectRow(0);
        lvFIles->setFocus();
    }
    if (lvFIles->SelectedRow() >= 0) PlaySelectedRow();
}

void TfrmMain::PlaySelectedRow() {
    const int row = lvFIles->SelectedRow();
    if (row < 0) return;
    for (QWidget* w : {imgbtnStop, imgbtnPlay, imgbtnPause, imgbtnSnap})
        w->setEnabled(false);
    const std::string file = lvFIles->Row(row)->Record.SourceFile;
    if (!FFPlayer->Open(file, pan1, false)) {
        mmoLog->appendPlainText(QString::fromStdString(FFPlayer->LastErrMsg()));
        ShowPlayerStopped();
        return;
    }
    playerRow_ = lvFIles->Row(row);
    Paused = false;
    trcPreview->setEnabled(true);
    for (QWidget* w : {imgbtnStop, imgbtnPause, imgbtnSnap})
        w->setEnabled(true);
    imgbtnPlay->setEnabled(false);
}

void TfrmMain::imgbtnPauseClick() {
    if (Paused) return;
    Preview->Pause();
}

void TfrmMain::imgbtnStopClick() {
    if (FFPlayer->FileOpen() && FFPlayer->IsPaused()) FFPlayer->Resume();
    FFPlayer->Close(true);
    ShowPlayerStopped();
}

void TfrmMain::ShowPlayerStopped() {
    playerRow_ = nullptr;
    Paused = false;
    // Putting the bar back is no seek.
    SeekDragging = true;
    Preview->ShowStopped();
    SeekDragging = false;
    // Back to a black panel: the surface keeps the last picture otherwise.
    pan1->SetMode(pan1->width(), pan1->height());
    pan1->repaint();
}

void TfrmMain::PlayRow(int row) {
    lvFIles->SelectRow(row);
    lvFIles->setFocus();
    UpdatePreNextEnabling();
    PlaySelectedRow();
}

void TfrmMain::imgbtnPreClick() {
    UpdatePreNextEnabling();
    const int i = std::max(lvFIles->SelectedRow(), 0);
    if (i > 0) PlayRow(i - 1);
}

void TfrmMain::imgbtnNextClick() {
    UpdatePreNextEnabling();
    const int i = std::max(lvFIles->SelectedRow(), 0);
    if (i + 1 < lvFIles->RowCount()) PlayRow(i + 1);
}

void TfrmMain::imgbtnMuteMouseDown() {
    Muted = !Muted;
    imgbtnMute->setIcon(QIcon(imglistVolumeMute[Muted ? 1 : 0]));
    imgbtnMute->setAccessibleDescription(Muted ? "Muted" : "Sound on");
    FFPlayer->Mute = Muted;
    TIniFile settings(GlobalObject->SettingsFile());
    settings.WriteString(kSettings, "mute", Muted ? "1" : "0");
}

void TfrmMain::imgbtnSnapClick() {
    const Bitmap24& frame = FFPlayer->CurrentFrame();
    if (frame.Width < 1 || frame.Height < 1) return;
    const QImage full =
        QImage(frame.Data.data(), frame.Width, frame.Height, frame.Stride, QImage::Format_BGR888)
            .copy();
    imgPreview->setGeometry(pan1->rect());
    QImage small(pan1->size(), QImage::Format_RGB32);
    small.fill(Qt::black);
    {
        QPainter canvas(&small);
        canvas.setRenderHint(QPainter::SmoothPixmapTransform);
        canvas.drawImage(small.rect(), full);
    }
    SaveSnapshots(*GlobalObject, full, small, true);
}

// ---------------------------------------------------------------------------
// Player events

void TfrmMain::FFPlayerFileOpen(TCustomPlayer*, int64_t ADuration, int AFrameWidth,
                                int AFrameHeight, int& AScreenWidth, int& AScreenHeight) {
    mmoLog->appendPlainText(QString::fromStdString(FFPlayer->Probe().GetFormatInfoText()));
    char line[128];
    std::snprintf(line, sizeof line, "duration: %f, frame size: %dx%d",
                  static_cast<double>(ADuration) / 1e6, AFrameWidth, AFrameHeight);
    mmoLog->appendPlainText(line);
    if (PlayerSurface) {
        AScreenWidth = PlayerSurface->width();
        AScreenHeight = PlayerSurface->height();
    }
    Preview->ShowLength(ADuration);
    trcPreview->SetTickInterval(1);
    trcPreview->SetMax(trcPreview->width());
    trcPreview->setEnabled(ADuration > 0);
    FFPlayer->AudioVolume = trcVolume->PositionL();
    TIniFile settings(GlobalObject->SettingsFile());
    FFPlayer->Mute = settings.ReadInteger(kSettings, "mute", 0) == 1;
    SeekDragging = true;
    trcPreview->SetPositionL(0);
    SeekDragging = false;
}

void TfrmMain::FFPlayerPosition(TCustomPlayer*, int64_t APTS) {
    // A report still on its way when the file ended (or was stopped) would
    // put a time back beside the rewound bar.
    if (!imgbtnStop->isEnabled()) return;
    Preview->ShowPosition(APTS);
}

void TfrmMain::FFPlayerState(TCustomPlayer*, int AState) {
    Preview->ShowState(static_cast<TPlayState>(AState));
}

// ---------------------------------------------------------------------------
// Seeking, volume and keys

bool TfrmMain::PreviewMessage(QWidget* widget, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        if (widget == imgbtnMute) {
            if (imgbtnMute->isEnabled()) imgbtnMuteMouseDown();
            return true;
        }
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && widget == trcPreview && trcPreview->isEnabled()) {
            ++seekDrag_;
            seekSettling_ = false;
            SeekDragging = true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && SeekDragging &&
            !seekSettling_)
            FinishSeekDrag();
        return false;
    default:
        return false;
    }
}

// The keys come here only when the control with the focus has not used
// them: a button still presses on Space, a text box or the list keeps its
// keys, and an open menu has its own.
void TfrmMain::keyPressEvent(QKeyEvent* event) {
    if (PreviewKey(event->key()))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

bool TfrmMain::PreviewKey(int key) {
    if (!FFPlayer) return false;
    if (key == Qt::Key_Space) {
        if (imgbtnPause->isEnabled())
            imgbtnPauseClick();
        else if (imgbtnPlay->isEnabled())
            imgbtnPlayClick();
        return true;
    }
    if ((key == Qt::Key_Left || key == Qt::Key_Right) && FFPlayer->FileOpen()) {
        SeekBy(key == Qt::Key_Left ? -kKeySeekStep : kKeySeekStep);
        return true;
    }
    return false;
}

void TfrmMain::FinishSeekDrag() {
    const int max = std::max(trcPreview->Max(), 1);
    FFPlayer->Seek(0, false, BarTime(trcPreview->PositionL(), max, Preview->Duration()));
    ++SeekCount;
    seekSettling_ = true;
    const int drag = seekDrag_;
    QTimer::singleShot(kSeekSettleMs, this, [this, drag] {
        if (drag != seekDrag_) return;
        seekSettling_ = false;
        SeekDragging = false;
    });
}

void TfrmMain::SeekBy(int64_t microseconds) {
    int64_t target = std::max<int64_t>(FFPlayer->CurrentPosition(), 0) + microseconds;
    target = std::clamp<int64_t>(target, 0, std::max<int64_t>(Preview->Duration(), 0));
    FFPlayer->Seek(0, false, target);
}

void TfrmMain::trcPreviewMouseMove(TTrackBar2* Sender, Qt::MouseButtons Buttons, int X, int) {
    if (!(Buttons & Qt::LeftButton) || !Sender->isEnabled()) return;
    const int span = Sender->width() - RoundEven(kPreviewThumbPicture / 2.0);
    Sender->SetPositionL(static_cast<int>(static_cast<double>(X) / span * Sender->Max()));
}

void TfrmMain::trcVolumeMouseMove(TTrackBar2* Sender, Qt::MouseButtons Buttons, int X, int) {
    if (!(Buttons & Qt::LeftButton)) return;
    const int span = Sender->width() - RoundEven(kVolumeThumbPicture / 2.0);
    Sender->SetPositionL(static_cast<int>(static_cast<double>(X) / span * 128));
}

void TfrmMain::trcVolumeChange(TTrackBar2* Sender) {
    FFPlayer->AudioVolume = Sender->PositionL();
    TIniFile settings(GlobalObject->SettingsFile());
    settings.WriteString(kSettings, "volume", std::to_string(Sender->PositionL()));
}

// ---------------------------------------------------------------------------
// Drawing the bars

void TfrmMain::trcPreviewDrawTrack(TTrackBar2*, QPainter& Canvas) {
    Canvas.drawPixmap(1, 2, imgPreviewTrack->pixmap());
}

void TfrmMain::trcPreviewDrawThumb(TTrackBar2* Sender, QPainter& Canvas, int X, int Y) {
    const QPixmap track = imgPreviewTrack->pixmap();
    FillBetween(Canvas, 0, 0, Sender->width(), Sender->height(), kWindowColour);
    Canvas.drawPixmap(1, 2, track);
    FillBetween(Canvas, 5, 6, X + 10, Y + 7, kPlayedColour);
    FillBetween(Canvas, X + 13, 5, track.width() - 8, Y + 8, kRestColour);
    Canvas.drawPixmap(X + 2, Y - 6, imglistpreViewTrack[0]);
    PreviewThumbX = X;
    PreviewThumbY = Y;
}

void TfrmMain::trcVolumeDrawTrack(TTrackBar2* Sender, QPainter& Canvas) {
    FillBetween(Canvas, 0, 0, Sender->width(), Sender->height(), kWindowColour);
    Canvas.drawPixmap(1, 4, imgVolumeTrack->pixmap());
}

void TfrmMain::trcVolumeDrawThumb(TTrackBar2* Sender, QPainter& Canvas, int X, int Y) {
    // This bar places its 23-pixel thumb one pixel above its top; the
    // fills follow the groove of the track picture.
    const int groove = 8;
    FillBetween(Canvas, 4, groove, X + 11, groove + 4, kPlayedColour);
    FillBetween(Canvas, X + 13, groove, Sender->width() - 5, groove + 4, kRestColour);
    Canvas.drawPixmap(X + 5, Y, imglistpreViewTrack[0]);
    VolumeThumbX = X;
    VolumeThumbY = Y;
}
