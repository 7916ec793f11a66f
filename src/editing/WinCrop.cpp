#include "editing/WinCrop.h"

#include "app/ConversionList.h"
#include "app/PlayerSurface.h"
#include "app/PreviewController.h"
#include "app/Skin.h"
#include "controls/NamedWidget.h"
#include "core/IniFile.h"
#include "controls/RectTracker.h"
#include "controls/Tracker2.h"
#include "editing/FrameRenderer.h"
#include "effects/AdjustmentRanges.h"
#include "effects/FrameEffects.h"
#include "media/MainThread.h"
#include "probe/AVProbe.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr const char* kSettings = "settings";
constexpr int kViewWidth = 420, kViewHeight = 303;
constexpr int kPreviewLeft = 12, kViewTop = 40, kOutputLeft = 448;
// How long the opening waits for the player's first picture.
constexpr int kFirstPictureMs = 3000;

// A stored colour (red in the lowest byte).
QColor StoredColor(uint32_t c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}
const QColor kViewBack = StoredColor(15780518);

QLabel* Caption(const QString& text, QWidget* parent, int x, int y, int w) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, 22);
    label->setAccessibleName(text);
    return label;
}

QPushButton* Button(const char* name, const QString& caption, QWidget* parent, QRect at) {
    return Named(new QPushButton(caption, parent), name, AccessibleCaption(caption), at);
}

QSpinBox* SpinEdit(const char* name, const QString& accessible, QWidget* parent, int min, int max) {
    auto* edit = new QSpinBox(parent);
    edit->setObjectName(name);
    edit->setAccessibleName(accessible);
    edit->setRange(min, max);
    return edit;
}

QSlider* Bar(const char* name, const QString& accessible, QWidget* parent, int min, int max) {
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(name);
    bar->setAccessibleName(accessible);
    bar->setRange(min, max);
    return bar;
}

} // namespace

// ---------------------------------------------------------------------------
// Creation

TfrmCrop::TfrmCrop(QWidget* parent, TFilesList* list, std::string settingsFile)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), FList(list),
      FSettingsFile(std::move(settingsFile)) {
    setObjectName("frmCrop");
    setWindowTitle("Crop");
    setAccessibleName("Crop");
    setFixedSize(880, 560);
    setModal(true);
    setStyleSheet(skin::StyleSheet());
    FPreviewImage = QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    FOutputImage = QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    CreateControls();
    FFPlayer = std::make_unique<TFFPlayer>();
    if (!FFPlayer->LibrariesLoaded())
        FFPlayer->LoadLibraries(
            QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString());
    FPreview = std::make_unique<TPreviewController>(
        TPreviewKind::Crop,
        TPreviewParts{imgbtnPlay, imgbtnpause, imgbtnStop, nullptr, trcPreview, lblTime, lblPTS},
        FFPlayer.get());
    FPreview->Paused = true;
    ConnectHandlers();
}

TfrmCrop::~TfrmCrop() {
    StopPlayer();
}

void TfrmCrop::CreateControls() {
    auto* title = Caption("Crop", this, 12, 6, 200);
    title->setFont(skin::TitleFont(12));
    btnClose = new skin::TImageButton("btnClose", "", "close", 26, 26, 16, this);
    btnClose->setToolTip("Close");
    btnClose->setAccessibleName("Close");
    btnClose->move(width() - 34, 4);
    imgPreview = new QLabel(this);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setAccessibleName("imgPreview");
    imgPreview->setGeometry(kPreviewLeft, kViewTop, kViewWidth, kViewHeight);
    imgOutput = new QLabel(this);
    imgOutput->setObjectName("imgOutput");
    imgOutput->setAccessibleName("imgOutput");
    imgOutput->setGeometry(kOutputLeft, kViewTop, kViewWidth, kViewHeight);
    RectTracker = new TRectTracker(this);
    RectTracker->setObjectName("RectTracker");
    RectTracker->setAccessibleName("RectTracker");
    RectTracker->setGeometry(kPreviewLeft, kViewTop, kViewWidth, kViewHeight);
    RectTracker->raise();
    pan1 = new TPlayerSurface(this);
    pan1->setObjectName("pan1");
    pan1->setGeometry(0, 0, 160, 120);
    pan1->hide();
    CreatePlayerRow();
    pageEdit = new QTabWidget(this);
    pageEdit->setObjectName("pageEdit");
    pageEdit->setAccessibleName("pageEdit");
    pageEdit->setGeometry(kPreviewLeft, 410, 680, 140);
    // The pages are light: their captions are dark.
    pageEdit->setStyleSheet("QLabel { color: black; }");
    CreateCropPage();
    CreateEffectPage();
    pageEdit->setCurrentWidget(tabEffect);
    CreateHiddenControls();
    btnDefault = Button("btnDefault", "&Default", this, QRect(708, 420, 160, 28));
    btnOk = Button("btnOk", "Ok", this, QRect(708, 470, 76, 28));
    btnCancel = Button("btnCancel", "Cancel", this, QRect(792, 470, 76, 28));
    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
}

void TfrmCrop::CreatePlayerRow() {
    MakeRowButtons(this,
                   {{&imgbtnPlay, "imgbtnPlay", "Play", "play"},
                    {&imgbtnpause, "imgbtnpause", "Pause", "pause"},
                    {&imgbtnStop, "imgbtnStop", "Stop", "stop"}},
                   QPoint(kPreviewLeft, 360), QSize(30, 30), 20, 34);
    trcPreview = new TTrackBar2(this);
    trcPreview->setObjectName("trcPreview");
    trcPreview->setAccessibleName("trcPreview");
    trcPreview->setGeometry(120, 364, 380, 20);
    trcPreview->SetOrientation(toHorizontal);
    trcPreview->SetTrackStyle(trUserDrawn);
    trcPreview->SetThumbStyle(tsUserDrawn);
    trcPreview->SetTickStyle(tiUserDrawn);
    trcPreview->SetMax(trcPreview->width());
    lblTime = Caption("00:00:00 / ", this, 508, 363, 70);
    lblTime->setObjectName("lblTime");
    lblPTS = Caption("00:00:00", this, 578, 363, 70);
    lblPTS->setObjectName("lblPTS");
    FMuteIcons[0] = skin::Pixmap("sound", 20);
    FMuteIcons[1] = skin::Pixmap("muted", 20);
    imgbtnMute = new skin::TImageButton("imgbtnMute", "", "sound", 30, 30, 20, this);
    imgbtnMute->setToolTip("Mute");
    imgbtnMute->setAccessibleName("Mute");
    imgbtnMute->move(748, 360);
    trcVolume = new TTrackBar2(this);
    trcVolume->setObjectName("trcVolume");
    trcVolume->setAccessibleName("trcVolume");
    trcVolume->setGeometry(782, 362, 86, 26);
    trcVolume->SetOrientation(toHorizontal);
    trcVolume->SetTrackStyle(trUserDrawn);
    trcVolume->SetThumbStyle(tsUserDrawn);
    trcVolume->SetTickStyle(tiUserDrawn);
    trcVolume->SetMax(128);
}

void TfrmCrop::CreateCropPage() {
    tabCrop = new QWidget();
    tabCrop->setObjectName("tabCrop");
    tabCrop->setAccessibleName("Crop");
    pageEdit->addTab(tabCrop, "Crop");
    struct Item {
        QSpinBox** edit;
        const char* name;
        const char* caption;
        int x, y;
    };
    const Item items[] = {{&spedUp, "spedUp", "Up:", 12, 12},
                          {&spedLeft, "spedLeft", "Left:", 12, 50},
                          {&spedRight, "spedRight", "Right:", 220, 12},
                          {&spedDown, "spedDown", "Down:", 220, 50}};
    for (const Item& item : items) {
        Caption(item.caption, tabCrop, item.x, item.y, 50);
        *item.edit = SpinEdit(item.name, QString(item.caption).remove(':'), tabCrop, 0, 100000);
        (*item.edit)->setGeometry(item.x + 56, item.y, 90, 24);
        (*item.edit)->setReadOnly(true);
    }
    btnCropReset = Button("btnCropReset", "Reset", tabCrop, QRect(440, 30, 90, 28));
    // Nothing enables this page: the margins are set with the tracker.
    tabCrop->setEnabled(false);
}

void TfrmCrop::CreateEffectPage() {
    tabEffect = new QWidget();
    tabEffect->setObjectName("tabEffect");
    tabEffect->setAccessibleName("Effect");
    pageEdit->addTab(tabEffect, "Effect");
    struct Item {
        QSlider** bar;
        QSpinBox** edit;
        const char* barName;
        const char* editName;
        const char* caption;
        int min, max, x, y;
    };
    const Item items[] = {{&trcContrast, &spedtContrast, "trcContrast", "spedtContrast",
                           "Contrast:", -100, 100, 8, 10},
                          {&trcBrightness, &spedtBrightness, "trcBrightness", "spedtBrightness",
                           "Brightness:", 0, 512, 8, 50},
                          {&trcSaturation, &spedtSaturation, "trcSaturation", "spedtSaturation",
                           "Saturation:", 0, 512, 330, 10},
                          {&trcExposure, &spedtExposure, "trcExposure", "spedtExposure",
                           "Exposure:", -255, 512, 330, 50}};
    for (const Item& item : items) {
        const QString name = QString(item.caption).remove(':');
        Caption(item.caption, tabEffect, item.x, item.y, 76);
        *item.bar = Bar(item.barName, name, tabEffect, item.min, item.max);
        (*item.bar)->setGeometry(item.x + 78, item.y, 150, 24);
        *item.edit = SpinEdit(item.editName, name, tabEffect, item.min, item.max);
        (*item.edit)->setGeometry(item.x + 232, item.y, 70, 24);
        const QString hint = QString::fromStdString(AdjustmentHint(name.toStdString()));
        (*item.bar)->setToolTip(hint);
        (*item.edit)->setToolTip(hint);
    }
    // The form's first values; opening puts the row's in.
    trcBrightness->setValue(256);
    trcSaturation->setValue(256);
    spedtBrightness->setValue(256);
    spedtSaturation->setValue(256);
    btnEffectReset = Button("btnEffectReset", "Reset", tabEffect, QRect(560, 86, 90, 24));
    chkProcessText = new QCheckBox("Process  Added Text", tabEffect);
    chkProcessText->setObjectName("chkProcessText");
    chkProcessText->setAccessibleName("Process  Added Text");
    chkProcessText->hide();
    chkProcessImage = new QCheckBox("Process  Added Image", tabEffect);
    chkProcessImage->setObjectName("chkProcessImage");
    chkProcessImage->setAccessibleName("Process  Added Image");
    chkProcessImage->hide();
}

// Controls the form keeps but never shows; they have no effect on anything.
void TfrmCrop::CreateHiddenControls() {
    cmbZoom = new QComboBox(this);
    cmbZoom->setObjectName("cmbZoom");
    cmbZoom->setAccessibleName("cmbZoom");
    cmbZoom->addItems({"Full screen", "Letterbox"});
    cmbZoom->hide();
    lblZoom = new QLabel("Zoom:", this);
    lblZoom->setObjectName("lblZoom");
    lblZoom->setAccessibleName("lblZoom");
    lblZoom->hide();
    trcAutoadjust = Bar("trcAutoadjust", "Auto adjust", this, 0, 10);
    trcAutoadjust->hide();
    spedtAutoadjust = SpinEdit("spedtAutoadjust", "Auto adjust", this, 0, 10);
    spedtAutoadjust->hide();
    rbAudioadjust = new QCheckBox("Audio adjust", this);
    rbAudioadjust->setObjectName("rbAudioadjust");
    rbAudioadjust->setAccessibleName("Audio adjust");
    rbAudioadjust->hide();
    lbl22 = new QLabel("Auto adjust:", this);
    lbl22->setObjectName("lbl22");
    lbl22->setAccessibleName("Auto adjust:");
    lbl22->hide();
}

void TfrmCrop::ConnectHandlers() {
    connect(btnClose, &QToolButton::clicked, this, [this] { close(); });
    connect(btnOk, &QPushButton::clicked, this, &TfrmCrop::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmCrop::btnCancelClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmCrop::btnDefaultClick);
    connect(btnCropReset, &QPushButton::clicked, this, &TfrmCrop::btnDefaultClick);
    connect(btnEffectReset, &QPushButton::clicked, this, &TfrmCrop::btnEffectResetClick);
    connect(imgbtnPlay, &QToolButton::clicked, this, &TfrmCrop::imgbtnPlayClick);
    connect(imgbtnpause, &QToolButton::clicked, this, &TfrmCrop::imgbtnpauseClick);
    connect(imgbtnStop, &QToolButton::clicked, this, &TfrmCrop::imgbtnStopClick);
    connect(imgbtnMute, &QToolButton::clicked, this, &TfrmCrop::imgbtnMuteClick);
    connect(Timer1, &QTimer::timeout, this, &TfrmCrop::Timer1Timer);
    for (QSpinBox* edit : {spedUp, spedLeft, spedRight, spedDown})
        connect(edit, &QSpinBox::valueChanged, this, [this, edit] { spedMarginChange(edit); });
    ConnectEffect(trcContrast, spedtContrast);
    ConnectEffect(trcBrightness, spedtBrightness);
    ConnectEffect(trcSaturation, spedtSaturation);
    ConnectEffect(trcExposure, spedtExposure);
    RectTracker->OnMouseDown = [this](TCustomRectTracker*, Qt::MouseButton button,
                                      Qt::KeyboardModifiers, int, int) {
        if (button == Qt::LeftButton) RectTrackerMouseDown();
    };
    RectTracker->OnMouseMove = [this](TCustomRectTracker*, Qt::MouseButtons buttons,
                                      Qt::KeyboardModifiers, int, int) {
        if (buttons & Qt::LeftButton) RectTrackerMouseMove();
    };
    RectTracker->OnMouseUp = [this](TCustomRectTracker*, Qt::MouseButton button,
                                    Qt::KeyboardModifiers, int, int) {
        if (button == Qt::LeftButton) RectTrackerMouseUp();
    };
    trcPreview->OnPaint = [this](TTrackBar2*, QPainter& canvas) { DrawPreviewBar(canvas); };
    trcVolume->OnPaint = [this](TTrackBar2*, QPainter& canvas) { DrawVolumeBar(canvas); };
    trcVolume->OnChange = [this](TTrackBar2*) { trcVolumeChange(); };
    trcVolume->OnMouseMove = [](TTrackBar2* bar, Qt::MouseButtons buttons, Qt::KeyboardModifiers,
                                int x, int) {
        if (!(buttons & Qt::LeftButton) || bar->width() <= 20) return;
        bar->SetPositionL(
            static_cast<int>(static_cast<double>(x) / (bar->width() - 20) * bar->Max()));
    };
    trcPreview->installEventFilter(this);
    FFPlayer->Hook = true;
    FFPlayer->OnHook = [this](TCustomPlayer*, Bitmap24& bitmap, std::int64_t) {
        if (FPreview->Stopped || FPreview->Paused) return;
        std::lock_guard lock(FFrameLock);
        FFrameBuffer = bitmap;
        FHasFrame = true;
    };
    FFPlayer->OnFileOpen = [this](TCustomPlayer*, std::int64_t duration, int, int, int&, int&) {
        FFPlayerFileOpen(duration);
    };
    FFPlayer->OnPosition = [this](TCustomPlayer*, std::int64_t pts) { FFPlayerPosition(pts); };
    FFPlayer->OnState = [this](TCustomPlayer*, TPlayState state) { FFPlayerState(state); };
}

// The track bar writes its position into the spin edit, the spin edit sets
// the bar (which limits the value to its range).
void TfrmCrop::ConnectEffect(QSlider* bar, QSpinBox* edit) {
    connect(bar, &QSlider::valueChanged, edit, [edit](int value) {
        if (edit->value() != value) edit->setValue(value);
    });
    connect(edit, &QSpinBox::valueChanged, bar, [bar](int value) {
        if (bar->value() != value) bar->setValue(value);
    });
}

// ---------------------------------------------------------------------------
// Opening

// The source opens once the dialog's own event loop runs: opening services
// events while it waits for the first picture, and an OK or Cancel taken
// then must end that loop (one taken before exec() has entered it would
// leave a hidden modal dialog that never returns).
void TfrmCrop::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) FormShow();
    });
}

TlvFilesRecord* TfrmCrop::Row() const {
    if (!FList) return nullptr;
    const int row = FList->SelectedRow();
    return row >= 0 ? &FList->Row(row)->Record : nullptr;
}

void TfrmCrop::FormShow() {
    lblTime->clear();
    lblPTS->clear();
    FPreview->Stopped = true;
    FPreview->Paused = true;
    FMoving = FUpdating = FPressed = false;
    FOpened = false;
    FPictureKnown = false;
    if (FList && FList->SelectedRow() < 0 && FList->RowCount() > 0) FList->SelectRow(0);
    TlvFilesRecord* record = Row();
    if (record) cmbZoom->setCurrentIndex(record->ZoomMode == "lbox" ? 1 : 0);
    FPreviewImage.fill(kViewBack);
    FOutputImage.fill(kViewBack);
    imgPreview->setPixmap(QPixmap::fromImage(FPreviewImage));
    imgOutput->setPixmap(QPixmap::fromImage(FOutputImage));
    RectTracker->hide();
    if (!record || !OpenSource()) {
        FPreview->SetButtons(false, false, false);
        trcPreview->setEnabled(false);
        return;
    }
    // Closed while the player opened (the open serves events): the close
    // found nothing open yet, so the player is shut here.
    if (!isVisible()) {
        FFPlayer->Close(true);
        return;
    }
    FPreview->Stopped = false;
    FPreview->Paused = false;
    FPreview->SetButtons(false, true, true);
    TAVProbe& probe = FFPlayer->Probe();
    TVideoStreamInfo video;
    if (probe.VideoStreamCount() <= 0 || !probe.GetVideoStreamInfo(-1, video)) {
        for (QSpinBox* edit : {spedUp, spedLeft, spedRight, spedDown}) {
            edit->setEnabled(false);
            SetMargin(edit, 0);
        }
        SetEffectsEnabled(false);
    } else {
        FVideoW = video.Width;
        FVideoH = video.Height;
        PlaceTracker(*record);
        trcBrightness->setValue(record->Brightness);
        trcContrast->setValue(record->Contrast);
        trcSaturation->setValue(record->Saturation);
        trcExposure->setValue(record->Exposure);
        chkProcessText->setChecked(record->ProcessText);
        chkProcessImage->setChecked(record->ProcessImage);
    }
    RectTracker->update();
    FTop = record->CropTop;
    FLeft = record->CropLeft;
    FRight = record->CropRight;
    FBottom = record->CropBottom;
    TIniFile settings(FSettingsFile);
    const int volume = settings.ReadInteger(kSettings, "volume", 0);
    trcVolume->SetMin(0);
    trcVolume->SetMax(128);
    trcVolume->SetPositionL(volume >= 0 && volume <= 128 ? volume : 64);
    FMuted = settings.ReadInteger(kSettings, "mute", 0) == 1;
    ShowMute();
    RecomputeCrop();
    // Closed while it waited for the first picture: the player is shut and
    // OK has left the row as it was.
    if (!isVisible()) return;
    FOpened = true;
    Timer1->start();
}

bool TfrmCrop::OpenSource() {
    TlvFilesRecord* record = Row();
    if (!record || !FFPlayer->LibrariesLoaded()) return false;
    return FFPlayer->Open(record->SourceFile, pan1, false);
}

// The player may have no picture yet right after opening; the picture
// rectangle needs one, so wait for it (with a limit).
bool TfrmCrop::WaitForFirstPicture() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kFirstPictureMs && isVisible()) {
        if (FFPlayer->CurrentFrame().Width > 0) return true;
        {
            std::lock_guard lock(FFrameLock);
            if (FHasFrame) return true;
        }
        ServiceMainThread(std::chrono::milliseconds(10));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return false;
}

// The tracker needs the picture's place, which needs a picture. Until one
// has come the spin edits show the row's margins and the tracker stays
// hidden; a picture that comes later (a slow decoder) places it then, from
// the preview timer. Without one, OK keeps the row's margins and crop.
void TfrmCrop::PlaceTracker(const TlvFilesRecord& record) {
    ShowStoredMargins(record);
    if (!WaitForFirstPicture()) return;
    // The hook's copy is the whole decoded frame; the player's current
    // picture only stands in while the hook has delivered none.
    Bitmap24 picture;
    {
        std::lock_guard lock(FFrameLock);
        if (FHasFrame) picture = FFrameBuffer;
    }
    if (picture.Width == 0) picture = FFPlayer->CurrentFrame();
    FitTracker(picture);
}

void TfrmCrop::ShowStoredMargins(const TlvFilesRecord& record) {
    FPictureKnown = false;
    RectTracker->hide();
    RectTracker->setEnabled(false);
    FUpdating = true;
    spedUp->setValue(FLastUp = std::max(0, record.MarginUp));
    spedDown->setValue(FLastDown = std::max(0, record.MarginDown));
    spedLeft->setValue(FLastLeft = std::max(0, record.MarginLeft));
    spedRight->setValue(FLastRight = std::max(0, record.MarginRight));
    FUpdating = false;
    for (QSpinBox* edit : {spedUp, spedLeft, spedRight, spedDown})
        edit->setEnabled(false);
}

// Places the tracker over the fitted picture at the margins the spin edits
// show.
void TfrmCrop::FitTracker(const Bitmap24& picture) {
    const std::optional<QRect> fitted = DrawFitted(FPreviewImage, picture);
    if (!fitted || fitted->width() <= 0 || fitted->height() <= 0) return;
    imgPreview->setPixmap(QPixmap::fromImage(FPreviewImage));
    const QRect r = *fitted;
    FPicL = imgPreview->x() + r.left();
    FPicT = imgPreview->y() + r.top();
    FPicW = r.width();
    FPicH = r.height();
    FPictureKnown = true;
    const int up = spedUp->value(), down = spedDown->value();
    const int left = spedLeft->value(), right = spedRight->value();
    RectTracker->setGeometry(FPicL, FPicT, FPicW, FPicH);
    SetMargin(spedUp, up);
    SetMargin(spedDown, down);
    SetMargin(spedLeft, left);
    SetMargin(spedRight, right);
    RectTracker->setGeometry(FPicL + left, FPicT + up, FPicW - right - left, FPicH - down - up);
    RectTracker->setEnabled(true);
    RectTracker->show();
    RectTracker->raise();
    for (QSpinBox* edit : {spedUp, spedLeft, spedRight, spedDown})
        edit->setEnabled(true);
    RecomputeCrop();
}

void TfrmCrop::SetEffectsEnabled(bool enabled) {
    for (QWidget* w :
         {static_cast<QWidget*>(trcContrast), static_cast<QWidget*>(trcBrightness),
          static_cast<QWidget*>(trcSaturation), static_cast<QWidget*>(trcExposure),
          static_cast<QWidget*>(chkProcessText), static_cast<QWidget*>(chkProcessImage)})
        w->setEnabled(enabled);
}

// Sets a margin as a change the user did not make with the tracker.
void TfrmCrop::SetMargin(QSpinBox* edit, int value) {
    if (edit->value() == value)
        spedMarginChange(edit);
    else
        edit->setValue(value);
}

// ---------------------------------------------------------------------------
// Crop values

int32_t TfrmCrop::MarginToCrop(int margin, int sourceSize, int pictureSize) {
    double x = margin;
    if (pictureSize > 0 && sourceSize != pictureSize)
        x = x * static_cast<double>(sourceSize) / pictureSize;
    const auto rounded = static_cast<int32_t>(RoundHalfEven(x));
    return 2 * (rounded / 2);
}

void TfrmCrop::RecomputeCrop() {
    if (!FPictureKnown) return; // the row's own values stay
    FTop = MarginToCrop(spedUp->value(), FVideoH, FPicH);
    FBottom = MarginToCrop(spedDown->value(), FVideoH, FPicH);
    FLeft = MarginToCrop(spedLeft->value(), FVideoW, FPicW);
    FRight = MarginToCrop(spedRight->value(), FVideoW, FPicW);
}

// ---------------------------------------------------------------------------
// Tracker

void TfrmCrop::RectTrackerMouseDown() {
    const QRect g = RectTracker->geometry();
    FPressL = g.x();
    FPressT = g.y();
    FPressR = g.x() + g.width();
    FPressB = g.y() + g.height();
    FPressed = true;
    // The tracker has taken the press already: 8 is a press on its inside.
    FMoving = RectTracker->DragMode() == 8;
}

// Keeps the tracker on the picture after each of its own moves.
void TfrmCrop::RectTrackerMouseMove() {
    if (!FPressed) return;
    int l = RectTracker->x(), t = RectTracker->y();
    int w = RectTracker->width(), h = RectTracker->height();
    if (l + 2 < FPicL) {
        l = FPicL;
        if (!FMoving) w = FPressR - FPicL;
    }
    if (t + 2 < FPicT) {
        t = FPicT;
        if (!FMoving) h = FPressB - FPicT;
    }
    const bool pastRight = l + w - 2 - FPicL > FPicW;
    const bool pastBottom = t + h - 2 - FPicT > FPicH;
    if (pastRight && pastBottom) {
        if (FMoving) {
            l = FPicL + FPicW - w;
            t = FPicT + FPicH - h;
        } else {
            t = FPressT;
            l = FPressL;
            w = FPicL + FPicW - l;
            h = FPicT + FPicH - t;
        }
    } else if (pastRight) {
        if (FMoving) {
            l = FPicL + FPicW - w;
        } else {
            l = FPressL;
            w = FPicL + FPicW - l;
        }
    } else if (t + h - 2 - FPicT >= FPicH) {
        if (FMoving) {
            t = FPicT + FPicH - h;
        } else {
            t = FPressT;
            h = FPicT + FPicH - t;
        }
    }
    RectTracker->setGeometry(l, t, w, h);
    WriteMarginsFromTracker();
}

void TfrmCrop::WriteMarginsFromTracker() {
    const QRect g = RectTracker->geometry();
    FUpdating = true;
    spedUp->setValue(std::max(0, g.y() - FPicT));
    spedDown->setValue(std::max(0, FPicH + FPicT - g.height() - g.y()));
    spedLeft->setValue(std::max(0, g.x() - FPicL));
    spedRight->setValue(std::max(0, FPicW + FPicL - g.width() - g.x()));
    FLastUp = spedUp->value();
    FLastDown = spedDown->value();
    FLastLeft = spedLeft->value();
    FLastRight = spedRight->value();
    FUpdating = false;
    RecomputeCrop();
}

void TfrmCrop::RectTrackerMouseUp() {
    FPressed = false;
    FMoving = false;
}

// A margin set by the dialog itself (opening, resets) moves the tracker.
void TfrmCrop::spedMarginChange(QSpinBox* Sender) {
    if (FUpdating) return;
    const bool vertical = Sender == spedUp || Sender == spedDown;
    int& last = Sender == spedUp     ? FLastUp
                : Sender == spedDown ? FLastDown
                : Sender == spedLeft ? FLastLeft
                                     : FLastRight;
    const int side = vertical ? RectTracker->height() : RectTracker->width();
    if (side <= 10 && Sender->value() >= last) {
        if (Sender->value() != last) {
            const QSignalBlocker block(Sender);
            Sender->setValue(last);
        }
        return;
    }
    const QRect g = RectTracker->geometry();
    if (vertical) {
        const int up = std::max(0, spedUp->value()), down = std::max(0, spedDown->value());
        RectTracker->setGeometry(g.x(), FPicT + up, g.width(), FPicH - up - down);
    } else {
        const int left = std::max(0, spedLeft->value()), right = std::max(0, spedRight->value());
        RectTracker->setGeometry(FPicL + left, g.y(), FPicW - left - right, g.height());
    }
    last = std::max(0, Sender->value());
    if (vertical)
        FPressT = RectTracker->y();
    else
        FPressL = RectTracker->x();
    RecomputeCrop();
}

// ---------------------------------------------------------------------------
// Buttons

void TfrmCrop::btnDefaultClick() {
    for (QSpinBox* edit : {spedUp, spedLeft, spedRight, spedDown}) {
        const QSignalBlocker block(edit);
        edit->setValue(0);
    }
    FLastUp = FLastDown = FLastLeft = FLastRight = 0;
    RectTracker->setGeometry(FPicL, FPicT, FPicW, FPicH);
    RecomputeCrop();
}

void TfrmCrop::btnEffectResetClick() {
    trcBrightness->setValue(255);
    trcContrast->setValue(0);
    trcSaturation->setValue(255);
    trcExposure->setValue(0);
    chkProcessText->setChecked(false);
    chkProcessImage->setChecked(false);
}

// A source the player could not open leaves the row as it was: the form's
// first values would overwrite the user's earlier crop and effects.
void TfrmCrop::btnOkClick() {
    TlvFilesRecord* record = Row();
    if (record && FOpened) {
        // Margins in preview pixels mean nothing without the picture's place.
        if (FPictureKnown) {
            record->MarginUp = spedUp->value();
            record->MarginLeft = spedLeft->value();
            record->MarginDown = spedDown->value();
            record->MarginRight = spedRight->value();
            record->CropTop = MarginToCrop(record->MarginUp, FVideoH, FPicH);
            record->CropBottom = MarginToCrop(record->MarginDown, FVideoH, FPicH);
            record->CropLeft = MarginToCrop(record->MarginLeft, FVideoW, FPicW);
            record->CropRight = MarginToCrop(record->MarginRight, FVideoW, FPicW);
        }
        record->ZoomMode = cmbZoom->currentIndex() == 1 ? "lbox" : "full";
        record->Brightness = trcBrightness->value();
        record->Contrast = trcContrast->value();
        record->Saturation = trcSaturation->value();
        record->Exposure = trcExposure->value();
        record->ProcessText = chkProcessText->isChecked();
        record->ProcessImage = chkProcessImage->isChecked();
    }
    accept();
}

void TfrmCrop::btnCancelClick() {
    reject();
}

void TfrmCrop::imgbtnPlayClick() {
    if (FPreview->Paused && !FPreview->Stopped) {
        FPreview->Resume();
    } else if (FPreview->Stopped) {
        if (!OpenSource()) {
            FPreview->SetButtons(true, false, false);
            return;
        }
        FPreview->Stopped = false;
        FPreview->Paused = false;
        FPreview->SetButtons(false, true, true);
    }
}

void TfrmCrop::imgbtnpauseClick() {
    FPreview->Pause();
}

void TfrmCrop::imgbtnStopClick() {
    FPreview->Stop();
}

void TfrmCrop::imgbtnMuteClick() {
    FMuted = !FMuted;
    FFPlayer->Mute = FMuted;
    TIniFile(FSettingsFile).WriteString(kSettings, "mute", FMuted ? "1" : "0");
    ShowMute();
}

void TfrmCrop::ShowMute() {
    imgbtnMute->setIcon(QIcon(FMuteIcons[FMuted ? 1 : 0]));
    imgbtnMute->setAccessibleDescription(FMuted ? "Muted" : "Sound on");
}

void TfrmCrop::trcVolumeChange() {
    FFPlayer->AudioVolume = trcVolume->PositionL();
    TIniFile(FSettingsFile)
        .WriteString(kSettings, "volume", std::to_string(trcVolume->PositionL()));
    trcVolume->update();
}

// ---------------------------------------------------------------------------
// Player events

void TfrmCrop::FFPlayerFileOpen(std::int64_t ADuration) {
    FPreview->ShowLength(ADuration);
    trcPreview->SetMax(std::max(1, trcPreview->width()));
    FFPlayer->AudioVolume = trcVolume->PositionL();
    FFPlayer->Mute = TIniFile(FSettingsFile).ReadInteger(kSettings, "mute", 0) == 1;
    trcPreview->SetPositionL(0);
    trcPreview->setEnabled(true);
}

void TfrmCrop::FFPlayerPosition(std::int64_t APTS) {
    FPreview->ShowPosition(APTS);
}

void TfrmCrop::FFPlayerState(TPlayState AState) {
    FPreview->ShowState(AState);
}

// ---------------------------------------------------------------------------
// Preview

void TfrmCrop::Timer1Timer() {
    {
        std::lock_guard lock(FFrameLock);
        if (!FHasFrame) return;
        FTimerFrame = FFrameBuffer;
    }
    if (!FPictureKnown && FVideoW > 0) FitTracker(FTimerFrame);
    FPreviewImage.fill(kViewBack);
    DrawFitted(FPreviewImage, FTimerFrame);
    imgPreview->setPixmap(QPixmap::fromImage(FPreviewImage));
    const int w = FTimerFrame.Width - FLeft - FRight, h = FTimerFrame.Height - FTop - FBottom;
    if (w <= 0 || h <= 0 || FLeft < 0 || FTop < 0) return;
    // The crop, with the effects drawn as the conversion draws them.
    Bitmap24 output;
    output.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        std::memcpy(output.Row(y), FTimerFrame.Row(y + FTop) + std::size_t{3} * FLeft,
                    std::size_t{3} * w);
    AdjustPicture(output, trcBrightness->value(), trcContrast->value(), trcSaturation->value(),
                  trcExposure->value());
    FOutput = QImage(output.Data.data(), w, h, output.Stride, QImage::Format_BGR888).copy();
    FOutputImage.fill(kViewBack);
    DrawFitted(FOutputImage, output);
    imgOutput->setPixmap(QPixmap::fromImage(FOutputImage));
    ++FOutputsDrawn;
}

void TfrmCrop::DrawPreviewBar(QPainter& canvas) {
    const int w = trcPreview->width();
    const int x =
        trcPreview->Max() > 0
            ? static_cast<int>(std::int64_t{w - 15} * trcPreview->PositionL() / trcPreview->Max())
            : 0;
    canvas.fillRect(0, 0, w, 20, StoredColor(9128736));
    canvas.fillRect(QRect(QPoint(5, 6), QPoint(x + 10, 13)), StoredColor(13277302));
    canvas.fillRect(QRect(QPoint(x + 13, 5), QPoint(w - 5, 14)), StoredColor(8080164));
    canvas.setBrush(skin::HotFill());
    canvas.setPen(skin::HotFrame());
    canvas.drawEllipse(x + 2, 2, 12, 14);
}

void TfrmCrop::DrawVolumeBar(QPainter& canvas) {
    const int w = trcVolume->width();
    const int x =
        trcVolume->Max() > 0
            ? static_cast<int>(std::int64_t{w - 20} * trcVolume->PositionL() / trcVolume->Max())
            : 0;
    canvas.fillRect(trcVolume->rect(), skin::Background());
    canvas.fillRect(QRect(QPoint(4, 12), QPoint(x + 2, 15)), StoredColor(13277302));
    canvas.fillRect(QRect(QPoint(x + 13, 12), QPoint(w - 4, 15)), StoredColor(8080164));
    canvas.setBrush(skin::HotFill());
    canvas.setPen(skin::HotFrame());
    canvas.drawEllipse(x + 2, 6, 12, 14);
}

// The left button on the preview bar: dragging sets the position, the
// release seeks there.
bool TfrmCrop::eventFilter(QObject* watched, QEvent* event) {
    if (watched != trcPreview || !trcPreview->isEnabled())
        return QDialog::eventFilter(watched, event);
    auto* mouse = dynamic_cast<QMouseEvent*>(event);
    if (!mouse) return QDialog::eventFilter(watched, event);
    const int barWidth = trcPreview->width() - 15;
    if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        FPreview->Dragging = true;
    } else if (event->type() == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton) &&
               barWidth > 0) {
        trcPreview->SetPositionL(
            static_cast<int>(mouse->position().x() / barWidth * trcPreview->Max()));
        return true;
    } else if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton &&
               FPreview->Dragging) {
        FPreview->SeekToBar(true);
        FPreview->Dragging = false;
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Closing

void TfrmCrop::closeEvent(QCloseEvent* event) {
    StopPlayer();
    QDialog::closeEvent(event);
}

void TfrmCrop::done(int result) {
    StopPlayer();
    QDialog::done(result);
}

void TfrmCrop::StopPlayer() {
    if (FPreview) FPreview->Stopped = true;
    if (Timer1) Timer1->stop();
    if (!FFPlayer) return;
    FFPlayer->Close(true);
    FFPlayer->OnHook = nullptr;
    FFPlayer->OnFileOpen = nullptr;
    FFPlayer->OnPosition = nullptr;
    FFPlayer->OnState = nullptr;
}
