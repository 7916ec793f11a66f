#include "editing/WinTrim.h"

#include "app/ConversionList.h"
#include "app/PlayerSurface.h"
#include "app/PreviewController.h"
#include "app/Skin.h"
#include "core/FormatCatalogue.h"
#include "core/FormatSeconds.h"
#include "core/IniFile.h"
#include "controls/Tracker2.h"
#include "effects/TrimTimes.h"
#include "probe/AVProbe.h"
#include "probe/StreamFacts.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kWidth = 902;
constexpr int kHeight = 560;
constexpr int kTitleHeight = 30;
// The range bar's place when the dialog is shown.
constexpr int kRangeLeft = 32, kRangeTop = 473, kRangeWidth = 838, kRangeHeight = 20;
constexpr int kPreviewBarWidth = 600;
// After a release's seek, position events move the playback bar again only
// once the player has had this long to get there.
constexpr int kSeekSettleMs = 300;

// Colours are written as 0x00BBGGRR numbers.
QColor FromColorNumber(int value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}
const int kBarBack = 9128736;
const int kRangeFill = 39423;
const int kPlayedFill = 13277302;
const int kRestFill = 8080164;

// A Delphi-style rectangle fill: left, top inclusive; right, bottom exclusive.
void FillBox(QPainter& canvas, int left, int top, int right, int bottom, int colour) {
    if (right > left && bottom > top)
        canvas.fillRect(left, top, right - left, bottom - top, FromColorNumber(colour));
}

int HalfOf(int width) {
    return static_cast<int>(std::lround(width / 2.0));
}

QString TimeText(std::int64_t microseconds) {
    return QString::fromStdString(TrimTimeText(microseconds));
}

constexpr std::int64_t kSecondUS = 1000000;

// The "Trimmed Length" column: whole seconds as a plain number ("95"),
// else with the milliseconds ("1.52").
QString LengthColumnText(std::int64_t microseconds) {
    if (microseconds % kSecondUS == 0) return QString::number(microseconds / kSecondUS);
    QString text = QString::number(static_cast<double>(microseconds) / kSecondUS, 'f', 3);
    while (text.endsWith('0'))
        text.chop(1);
    return text;
}

const char kTimeHint[] = "Type a time as H:MM:SS.mmm, for example 0:01:02.500";
const char kStepHint[] = "; Up and Down step one frame";
// While the chosen format copies the streams, the cut cannot fall between
// key frames.
const char kCopyTrimHint[] = ". The chosen format copies the streams without re-encoding: the "
                             "converted file starts at the key frame at or before Trim Start";

} // namespace

// ---------------------------------------------------------------------------
// Creation

TfrmTrim::TfrmTrim(QWidget* parent, TFilesList* list, std::string settingsFile)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), FList(list),
      FSettingsFile(std::move(settingsFile)) {
    setObjectName("frmTrim");
    setWindowTitle("Trim");
    setAccessibleName("Trim");
    setFixedSize(kWidth, kHeight);
    setModal(true);
    setStyleSheet(skin::StyleSheet());
    CreateMarkerImages();
    CreateControls();
    FFPlayer = std::make_unique<TFFPlayer>();
    FPreview = std::make_unique<TPreviewController>(
        TPreviewKind::Trim,
        TPreviewParts{imgbtnPlay, imgbtnpause, imgbtnStop, nullptr, trcPreview, lblTime, lblPTS},
        FFPlayer.get());
    ConnectHandlers();
}

TfrmTrim::~TfrmTrim() {
    if (!FFPlayer) return;
    FFPlayer->Close(true);
    FFPlayer.reset();
}

void TfrmTrim::CreateMarkerImages() {
    // The start marker points right into the range, the end marker left.
    auto marker = [](bool start) {
        QPixmap picture(12, 16);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        if (start) {
            path.moveTo(1, 0);
            path.lineTo(11, 8);
            path.lineTo(1, 16);
        } else {
            path.moveTo(11, 0);
            path.lineTo(1, 8);
            path.lineTo(11, 16);
        }
        path.closeSubpath();
        p.fillPath(path, start ? QColor(120, 220, 120) : QColor(240, 96, 80));
        p.setPen(QPen(Qt::white, 1));
        p.drawPath(path);
        return picture;
    };
    imglistPosLeft = marker(true);
    imglistPosRight = marker(false);
    FThumbImage = QPixmap(12, 16);
    FThumbImage.fill(Qt::transparent);
    {
        QPainter p(&FThumbImage);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(skin::LightBox());
        p.setPen(skin::HotFrame());
        p.drawRoundedRect(QRectF(0.5, 0.5, 11, 15), 3, 3);
    }
    FTrackImage = QPixmap(kPreviewBarWidth - 2, 16);
    FTrackImage.fill(Qt::transparent);
    QPainter p(&FTrackImage);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(skin::Band());
    p.setPen(skin::HotFrame());
    p.drawRoundedRect(QRectF(0.5, 0.5, FTrackImage.width() - 1, 15), 7, 7);
}

void TfrmTrim::CreateControls() {
    lblTitle = new QLabel("Trim", this);
    lblTitle->setObjectName("lblTitle");
    lblTitle->setGeometry(10, 0, 300, kTitleHeight);
    lblTitle->setStyleSheet("color: white;");
    lblTitle->setFont(skin::TitleFont(10));
    btnClose = new skin::TImageButton("btnClose", "", "close", 24, 24, 18, this);
    btnClose->move(kWidth - 30, 3);
    btnClose->setToolTip("Close");
    btnClose->setAccessibleName("Close");

    imgPreview = new TPlayerSurface(this);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setAccessibleName("imgPreview");
    imgPreview->setGeometry(28, 38, 845, 387);
    CreatePlayerRow();
    CreateRangeRow();
}

void TfrmTrim::CreatePlayerRow() {
    MakeRowButtons(this,
                   {{&imgbtnPlay, "imgbtnPlay", "Play", "play"},
                    {&imgbtnpause, "imgbtnpause", "Pause", "pause"},
                    {&imgbtnStop, "imgbtnStop", "Stop", "stop"}},
                   QPoint(28, 431), QSize(30, 30), 20, 32);
    trcPreview = new TTrackBar2(this);
    trcPreview->setObjectName("trcPreview");
    trcPreview->setAccessibleName("trcPreview");
    trcPreview->setGeometry(130, 436, kPreviewBarWidth, 20);
    trcPreview->SetTrackStyle(trUserDrawn);
    trcPreview->SetTickStyle(tiUserDrawn);
    trcPreview->SetThumbStyle(tsUserDrawn);
    trcPreview->SetThumbSize(12);
    trcPreview->setEnabled(false);
    lblTime = new QLabel("00:00:00 / ", this);
    lblTime->setObjectName("lblTime");
    lblTime->setGeometry(740, 436, 66, 20);
    lblTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblTime->setStyleSheet("color: white;");
    lblPTS = new QLabel("00:00:00", this);
    lblPTS->setObjectName("lblPTS");
    lblPTS->setGeometry(806, 436, 66, 20);
    lblPTS->setStyleSheet("color: white;");
}

void TfrmTrim::CreateRangeRow() {
    trcPosition = new TTrackBar2(this);
    trcPosition->setObjectName("trcPosition");
    trcPosition->setAccessibleName("trcPosition");
    trcPosition->setGeometry(kRangeLeft, kRangeTop, kRangeWidth, kRangeHeight);
    trcPosition->SetSecondThumb(true);
    trcPosition->SetTrackStyle(trUserDrawn);
    trcPosition->SetTickStyle(tiUserDrawn);
    trcPosition->SetThumbStyle(tsUserDrawn);
    trcPosition->SetThumbSize(12);

    CreateTimeFields();

    auto button = [this](const char* caption, const char* name, int x) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setGeometry(x, 511, 90, 26);
        b->setAutoDefault(false);
        b->setAccessibleName(QString(caption).remove('&'));
        return b;
    };
    btnDefault = button("&Default", "btnDefault", 580);
    btnOk = button("Ok", "btnOk", 680);
    btnCancel = button("Cancel", "btnCancel", 780);
}

// "Trim Start: " [<] [time] [>]   "Trim End: " [<] [time] [>]
void TfrmTrim::CreateTimeFields() {
    auto field = [this](const char* caption, const char* name, int x) {
        auto* label = new QLabel(caption, this);
        label->setGeometry(x, 512, 70, 24);
        label->setStyleSheet("color: white;");
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setGeometry(x + 94, 512, 100, 24);
        edit->setAccessibleName(QString(caption).remove(':').trimmed());
        edit->setToolTip(QString(kTimeHint) + kStepHint);
        edit->installEventFilter(this);
        label->setBuddy(edit);
        return edit;
    };
    edtStart = field("Trim Start: ", "edtStart", 32);
    btnStartBack = NewStepButton("btnStartBack", "<", "Trim Start one frame earlier", 104);
    btnStartForward = NewStepButton("btnStartForward", ">", "Trim Start one frame later", 228);
    edtTrimLength = field("Trim End: ", "edtTrimLength", 262);
    btnEndBack = NewStepButton("btnEndBack", "<", "Trim End one frame earlier", 334);
    btnEndForward = NewStepButton("btnEndForward", ">", "Trim End one frame later", 458);
    lblTimeError = new QLabel(this);
    lblTimeError->setObjectName("lblTimeError");
    lblTimeError->setAccessibleName("Trim time problem");
    lblTimeError->setGeometry(32, 538, 540, 20);
    lblTimeError->setStyleSheet("color: #ffb0a0;");
}

QPushButton* TfrmTrim::NewStepButton(const char* name, const char* caption, const char* accessible,
                                     int x) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setGeometry(x, 512, 22, 24);
    b->setAutoDefault(false);
    b->setAccessibleName(accessible);
    b->setToolTip(accessible);
    return b;
}

void TfrmTrim::ConnectHandlers() {
    connect(btnClose, &QToolButton::clicked, this, [this] { close(); });
    connect(imgbtnPlay, &QToolButton::clicked, this, &TfrmTrim::imgbtnPlayClick);
    connect(imgbtnpause, &QToolButton::clicked, this, &TfrmTrim::imgbtnpauseClick);
    connect(imgbtnStop, &QToolButton::clicked, this, &TfrmTrim::imgbtnStopClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmTrim::btnDefaultClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmTrim::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmTrim::btnCancelClick);
    connect(btnStartBack, &QPushButton::clicked, this, [this] { StepStart(-1); });
    connect(btnStartForward, &QPushButton::clicked, this, [this] { StepStart(1); });
    connect(btnEndBack, &QPushButton::clicked, this, [this] { StepEnd(-1); });
    connect(btnEndForward, &QPushButton::clicked, this, [this] { StepEnd(1); });
    connect(edtStart, &QLineEdit::editingFinished, this, &TfrmTrim::edtStartEditingFinished);
    connect(edtTrimLength, &QLineEdit::editingFinished, this,
            &TfrmTrim::edtTrimLengthEditingFinished);

    trcPosition->OnMouseDown = [this](TTrackBar2*, Qt::MouseButton button, Qt::KeyboardModifiers,
                                      int x, int) {
        if (button == Qt::LeftButton) trcPositionMouseDown(x);
    };
    trcPosition->OnMouseMove = [this](TTrackBar2*, Qt::MouseButtons buttons, Qt::KeyboardModifiers,
                                      int x, int) { trcPositionMouseMove(buttons, x); };
    trcPosition->OnDrawThumb = [this](TTrackBar2*, QPainter& canvas, int, int y) {
        trcPositionDrawThumb(canvas, y);
    };
    trcPosition->OnDrawTrack = [this](TTrackBar2* bar, QPainter& canvas) {
        canvas.fillRect(bar->rect(), skin::Background());
    };
    trcPreview->OnDrawThumb = [this](TTrackBar2*, QPainter& canvas, int x, int y) {
        trcPreviewDrawThumb(canvas, x, y);
    };
    trcPreview->OnMouseMove = [this](TTrackBar2*, Qt::MouseButtons buttons, Qt::KeyboardModifiers,
                                     int x, int) { trcPreviewMouseMove(buttons, x); };
    trcPreview->installEventFilter(this);
    trcPosition->installEventFilter(this);

    FFPlayer->OnFileOpen = [this](TCustomPlayer*, std::int64_t duration, int, int, int&, int&) {
        FFPlayerFileOpen(duration);
    };
    FFPlayer->OnPosition = [this](TCustomPlayer*, std::int64_t pts) { FFPlayerPosition(pts); };
    FFPlayer->OnState = [this](TCustomPlayer*, TPlayState state) { FFPlayerState(state); };
}

// ---------------------------------------------------------------------------
// Opening

// The source opens once the dialog's own event loop runs: opening services
// events while it waits, and an OK or Cancel taken then must end that loop.
void TfrmTrim::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) FormShow();
    });
}

void TfrmTrim::FormShow() {
    trcPosition->setGeometry(kRangeLeft, kRangeTop, kRangeWidth, kRangeHeight);
    lblTime->clear();
    lblPTS->clear();
    lblTimeError->clear();
    ShowCopyHint();
    FOpened = false;
    FRow = FList ? FList->SelectedRow() : -1;
    if (FRow >= 0) {
        OpenRow(FRow, false);
    } else if (FList && FList->RowCount() > 0) {
        FList->SelectRow(0);
        FRow = 0;
        OpenRow(FRow, true);
    }
    ++FOpenings;
}

// The time fields' hints say where a copied file starts while the chosen
// format copies the streams.
void TfrmTrim::ShowCopyHint() {
    const bool copying =
        TIniFile(FSettingsFile).ReadInteger("settings", "FormatCode", 1) == kModernCopy;
    const QString hint = QString(kTimeHint) + (copying ? kCopyTrimHint : "") + kStepHint;
    edtStart->setToolTip(hint);
    edtTrimLength->setToolTip(hint);
}

bool TfrmTrim::OpenRow(int row, bool centreMarkers) {
    const std::string folder =
        QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString();
    if (!FFPlayer->LibrariesLoaded() && !FFPlayer->LoadLibraries(folder)) return false;
    if (!OpenSource()) return false;
    const TlvFilesRecord& record = FList->Row(row)->Record;
    if (record.TrimStart >= 0) FStart = record.TrimStart;
    FEnd = record.TrimLength <= 0 ? FDuration * kSecondUS : record.TrimStart + record.TrimLength;
    FLeftX = MarkerX(FStart);
    FRightX = MarkerX(FEnd);
    if (centreMarkers) {
        FLeftX -= HalfOf(imglistPosLeft.width());
        FRightX -= HalfOf(imglistPosRight.width());
    }
    FPreview->SetButtons(false, true, true);
    edtStart->setText(TimeText(FStart));
    edtTrimLength->setText(TimeText(FEnd));
    trcPosition->update();
    return true;
}

// Opens the row's source in the player; the file-opened event sets the
// duration and the bars.
bool TfrmTrim::OpenSource() {
    if (!FList || FRow < 0 || FRow >= FList->RowCount()) return false;
    const std::string& file = FList->Row(FRow)->Record.SourceFile;
    if (!FFPlayer->Open(file, imgPreview, false)) {
        FPreview->SetButtons(true, false, false);
        return false;
    }
    FOpened = true;
    FPreview->Stopped = false;
    FPreview->Paused = false;
    return true;
}

// ---------------------------------------------------------------------------
// Player events

void TfrmTrim::FFPlayerFileOpen(std::int64_t ADuration) {
    FPreview->ShowLength(ADuration);
    FDuration = RoundedSeconds(ADuration);
    // A bar's maximum must lie above its minimum, also for a still picture.
    const int maximum = static_cast<int>(std::max<std::int64_t>(FDuration, 1));
    trcPreview->SetMax(maximum);
    trcPosition->SetMax(maximum);
    trcPosition->SetPositionU(maximum);
    trcPosition->SetPositionL(0);
    FUsableWidth = trcPosition->width() - imglistPosRight.width();
    TIniFile settings(FSettingsFile);
    FFPlayer->Mute = settings.ReadInteger("settings", "mute", 0) == 1;
    TStreamFacts facts;
    TAVProbe& probe = FFPlayer->Probe();
    const bool video = GetStreamFacts(probe, probe.FirstVideoStreamIndex(), facts);
    FFrameRate = video && facts.FrameRate > 0 ? facts.FrameRate : 25.0;
    trcPreview->setEnabled(true);
    trcPreview->SetPositionL(0);
}

void TfrmTrim::FFPlayerPosition(std::int64_t APTS) {
    FPreview->ShowPosition(APTS);
}

void TfrmTrim::FFPlayerState(TPlayState AState) {
    FPreview->ShowState(AState);
}

// ---------------------------------------------------------------------------
// The range bar

bool TfrmTrim::MoveStartMarker(int x, int startLimit) {
    const double mid = (FRightX - FLeftX) * 0.5 + FLeftX;
    if (!(x <= mid && x > 0 && x <= startLimit)) return false;
    const int hl = HalfOf(imglistPosLeft.width());
    if (x < hl) {
        FLeftX = 0;
        FStart = 0;
    } else {
        FLeftX = x - hl;
        FStart = static_cast<std::int64_t>(static_cast<double>(FLeftX) / trcPosition->width() *
                                           FDuration) *
                 kSecondUS;
    }
    trcPreview->SetPositionL(static_cast<int>(FStart / kSecondUS));
    edtStart->setText(TimeText(FStart));
    return true;
}

bool TfrmTrim::MoveEndMarker(int x, int endLimit) {
    const double mid = (FRightX - FLeftX) * 0.5 + FLeftX;
    if (!(x > mid && x <= endLimit) || FUsableWidth <= 0) return false;
    FRightX = x - HalfOf(imglistPosRight.width());
    FEnd = static_cast<std::int64_t>(static_cast<double>(FRightX) / FUsableWidth * FDuration) *
           kSecondUS;
    trcPreview->SetPositionL(static_cast<int>(FEnd / kSecondUS));
    edtTrimLength->setText(TimeText(FEnd));
    return true;
}

void TfrmTrim::trcPositionMouseDown(int X) {
    if (MoveStartMarker(X, FUsableWidth)) FPreview->Dragging = true;
    if (MoveEndMarker(X, FUsableWidth)) FPreview->Dragging = true;
    trcPosition->update();
}

void TfrmTrim::trcPositionMouseMove(Qt::MouseButtons Buttons, int X) {
    if (!(Buttons & Qt::LeftButton) || FEnd - FStart < 2 * kSecondUS) return;
    trcPosition->SetPositionL(
        static_cast<int>(static_cast<double>(X) / trcPosition->width() * trcPosition->Max()));
    MoveStartMarker(X, FUsableWidth + HalfOf(imglistPosLeft.width()));
    MoveEndMarker(X, FUsableWidth + HalfOf(imglistPosRight.width()));
    trcPosition->update();
}

void TfrmTrim::trcPositionDrawThumb(QPainter& Canvas, int Y) {
    const int w = trcPosition->width();
    FillBox(Canvas, 0, Y - 6, w, Y + 10, kBarBack);
    FillBox(Canvas, FLeftX + 10, Y + 2, FRightX + 2, Y + 6, kRangeFill);
    if (FRightX <= FUsableWidth) Canvas.drawPixmap(FRightX, Y - 4, imglistPosRight);
    if (FLeftX >= 0) Canvas.drawPixmap(FLeftX, Y - 4, imglistPosLeft);
}

// ---------------------------------------------------------------------------
// Typed and stepped times

int TfrmTrim::MarkerX(std::int64_t microseconds) const {
    if (FDuration <= 0) return 0;
    return static_cast<int>(std::lround(static_cast<double>(microseconds) / kSecondUS /
                                        static_cast<double>(FDuration) * FUsableWidth));
}

// The end marker at the bar's end stands for the duration in whole seconds,
// which may lie a little after the source's real end.
std::int64_t TfrmTrim::DurationLimitUS() const {
    return std::max(FDuration * kSecondUS, FPreview->Duration());
}

void TfrmTrim::SeekTo(std::int64_t microseconds) {
    trcPreview->SetPositionL(static_cast<int>(microseconds / kSecondUS));
    if (FFPlayer->FileOpen())
        FFPlayer->Seek(0, false, std::min(microseconds, FPreview->Duration()));
}

void TfrmTrim::SetStart(std::int64_t microseconds) {
    FStart = std::clamp<std::int64_t>(microseconds, 0, DurationLimitUS());
    FLeftX = MarkerX(FStart);
    edtStart->setText(TimeText(FStart));
    SeekTo(FStart);
    trcPosition->update();
}

void TfrmTrim::SetEnd(std::int64_t microseconds) {
    FEnd = std::clamp<std::int64_t>(microseconds, 0, DurationLimitUS());
    FRightX = MarkerX(FEnd);
    edtTrimLength->setText(TimeText(FEnd));
    SeekTo(FEnd);
    trcPosition->update();
}

// The time of a field the user has changed; true without a change too.
bool TfrmTrim::TypedTime(QLineEdit* field, std::int64_t& microseconds) {
    if (!field->isModified()) return true;
    if (!ParseTrimTime(field->text().toStdString(), microseconds)) {
        lblTimeError->setText(QString("\"%1\" is not a time. %2.").arg(field->text(), kTimeHint));
        return false;
    }
    lblTimeError->clear();
    if (microseconds > DurationLimitUS())
        lblTimeError->setText("The source ends at " + TimeText(DurationLimitUS()) +
                              "; the time was set to its end.");
    return true;
}

bool TfrmTrim::edtStartEditingFinished() {
    std::int64_t typed = FStart;
    if (!TypedTime(edtStart, typed)) return false;
    if (edtStart->isModified()) SetStart(typed);
    return true;
}

bool TfrmTrim::edtTrimLengthEditingFinished() {
    std::int64_t typed = FEnd;
    if (!TypedTime(edtTrimLength, typed)) return false;
    if (edtTrimLength->isModified()) SetEnd(typed);
    return true;
}

void TfrmTrim::StepStart(int frames) {
    if (!edtStartEditingFinished()) return;
    SetStart(StepFrames(FStart, FFrameRate, frames));
}

void TfrmTrim::StepEnd(int frames) {
    if (!edtTrimLengthEditingFinished()) return;
    SetEnd(StepFrames(FEnd, FFrameRate, frames));
}

// Up and Down in a time field step its time one frame.
bool TfrmTrim::FieldKey(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || (watched != edtStart && watched != edtTrimLength))
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
    const int frames = key == Qt::Key_Up ? 1 : -1;
    if (watched == edtStart)
        StepStart(frames);
    else
        StepEnd(frames);
    return true;
}

// ---------------------------------------------------------------------------
// The playback bar

void TfrmTrim::trcPreviewDrawThumb(QPainter& Canvas, int X, int Y) {
    FPreviewThumbX = X;
    FPreviewThumbY = Y;
    FillBox(Canvas, 0, 0, FTrackImage.width() + 2, 20, kBarBack);
    Canvas.drawPixmap(1, 2, FTrackImage);
    FillBox(Canvas, 5, 6, X + 10, Y + 7, kPlayedFill);
    FillBox(Canvas, X + 13, 5, trcPreview->width() - 6, Y + 8, kRestFill);
    Canvas.drawPixmap(X + 2, Y - 4, FThumbImage);
}

void TfrmTrim::trcPreviewMouseMove(Qt::MouseButtons Buttons, int X) {
    if (!(Buttons & Qt::LeftButton)) return;
    const double span = trcPreview->width() - FThumbImage.width() / 2.0;
    trcPreview->SetPositionL(static_cast<int>(X / span * trcPreview->Max()));
}

// A press on either bar holds the playback bar still; the release then
// seeks the player to where the bar points, so that the picture shows the
// time of the marker moved last.
bool TfrmTrim::eventFilter(QObject* watched, QEvent* event) {
    if (FieldKey(watched, event)) return true;
    const bool press = event->type() == QEvent::MouseButtonPress;
    const bool release = event->type() == QEvent::MouseButtonRelease;
    if ((watched == trcPreview || watched == trcPosition) && (press || release) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (press)
            FPreview->Dragging = true;
        else if (FPreview->Dragging)
            MouseReleased();
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmTrim::MouseReleased() {
    FPreview->SeekToBar(false);
    FPreview->SettleAfterSeek(kSeekSettleMs);
}

// ---------------------------------------------------------------------------
// Playback buttons

void TfrmTrim::imgbtnPlayClick() {
    if (FPreview->Paused && FFPlayer->FileOpen()) {
        FPreview->Resume();
    } else if (FPreview->Stopped || !FFPlayer->FileOpen()) {
        if (OpenSource())
            FPreview->SetButtons(false, true, true);
        else
            FPreview->SetButtons(true, false, false);
    }
}

void TfrmTrim::imgbtnpauseClick() {
    FPreview->Pause();
}

void TfrmTrim::imgbtnStopClick() {
    FPreview->Stop();
}

// ---------------------------------------------------------------------------
// Default, OK, Cancel, closing

std::string TfrmTrim::DurationText(std::int64_t durationUS) {
    const std::int64_t s = durationUS / 1000000;
    const int milliseconds = static_cast<int>((durationUS % 1000000) * 1000 / 1000000);
    char text[48];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d.%.3d", static_cast<int>(s / 3600),
                  static_cast<int>((s / 60) % 60), static_cast<int>(s % 60), milliseconds);
    return text;
}

void TfrmTrim::btnDefaultClick() {
    FStart = 0;
    FEnd = FDuration * kSecondUS;
    lblTimeError->clear();
    edtStart->setText("00:00:00");
    edtTrimLength->setText(QString::fromStdString(DurationText(FPreview->Duration())));
}

// A time typed but not yet taken is taken first; one that is not a time
// keeps the dialog open with the reason shown.
void TfrmTrim::btnOkClick() {
    if (!edtStartEditingFinished() || !edtTrimLengthEditingFinished()) return;
    // Without a source that opened, the times belong to another file.
    if (!FOpened || !FList || FRow < 0 || FRow >= FList->RowCount()) {
        accept();
        return;
    }
    TFilesItem* item = FList->Row(FRow);
    TlvFilesRecord& record = item->Record;
    const std::int64_t whole = FDuration * kSecondUS;
    const bool ranged = FStart >= 0 && FEnd > 0 && FStart < FEnd && FEnd <= DurationLimitUS();
    const std::int64_t length = ranged ? FEnd - FStart : whole;
    if (length <= 0) {
        record.TrimStart = record.TrimLength = 0;
        accept();
        return;
    }
    // The whole source: from its start to its end (the end marker at the
    // bar's end, or a typed time at or after the real end).
    const bool everything =
        !ranged || (FStart <= 0 && (FEnd == whole || FEnd >= FPreview->Duration()));
    record.TrimStart = FStart > 0 ? FStart : 0;
    record.TrimLength = everything ? 0 : length;
    // Without a range, the conversion runs from the start to the end.
    const std::int64_t converted = ranged ? length : whole - (FStart > 0 ? FStart : 0);
    item->setText(colTrimmed, LengthColumnText(converted));
    accept();
}

void TfrmTrim::btnCancelClick() {
    reject();
}

void TfrmTrim::done(int result) {
    FFPlayer->Close(false);
    QDialog::done(result);
}

void TfrmTrim::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), skin::Background());
    painter.fillRect(QRect(0, 0, width(), kTitleHeight), skin::Band());
    painter.fillRect(imgPreview->geometry().adjusted(-1, -1, 1, 1), Qt::black);
    painter.setPen(skin::HotFrame());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
