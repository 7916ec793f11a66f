// The crop and effects dialog: plays the selected row's source, shows the
// current frame on the left with a rectangle tracker for the crop and the
// cropped, adjusted result on the right (refreshed every 100 ms). OK writes
// the row's margins, crop values, zoom mode, adjustments and flags; Cancel
// leaves the row as it was. The main window makes a fresh dialog for every
// opening.
//
// Threads: the controls, the timer and the player's events run on the
// user-interface thread. The player's hook runs on its video thread and only
// copies the frame into `FFrameBuffer` under `FFrameLock`; the stopped and
// paused flags it reads are atomics.
#pragma once

#include "media/Bitmap24.h"
#include "player/FFPlay.h"

#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QRect>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPainter;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class TFilesList;
class TPlayerSurface;
class TRectTracker;
class TPreviewController;
class TTrackBar2;
struct TlvFilesRecord;
namespace skin {
class TImageButton;
}

class TfrmCrop : public QDialog {
    Q_OBJECT
public:
    // `list` is the main window's conversion list; `settingsFile` the
    // settings store holding "volume" and "mute".
    TfrmCrop(QWidget* parent, TFilesList* list, std::string settingsFile);
    ~TfrmCrop() override;

    // A margin in preview pixels as a crop value in source pixels: scaled
    // by source / picture size, rounded, the odd results dropped to even.
    static int32_t MarginToCrop(int margin, int sourceSize, int pictureSize);

    // Handlers.
    void FormShow();
    void RectTrackerMouseDown();
    void RectTrackerMouseMove();
    void RectTrackerMouseUp();
    void spedMarginChange(QSpinBox* Sender);
    void btnDefaultClick();
    void btnEffectResetClick();
    void btnOkClick();
    void btnCancelClick();
    void imgbtnPlayClick();
    void imgbtnpauseClick();
    void imgbtnStopClick();
    void imgbtnMuteClick();
    void trcVolumeChange();
    void Timer1Timer();
    void FFPlayerFileOpen(std::int64_t ADuration);
    void FFPlayerPosition(std::int64_t APTS);
    void FFPlayerState(TPlayState AState);

    // Controls (the form's names).
    QLabel* imgPreview = nullptr;
    TRectTracker* RectTracker = nullptr;
    QLabel* imgOutput = nullptr;
    TPlayerSurface* pan1 = nullptr;
    QTabWidget* pageEdit = nullptr;
    QWidget* tabCrop = nullptr;
    QWidget* tabEffect = nullptr;
    QSpinBox* spedUp = nullptr;
    QSpinBox* spedLeft = nullptr;
    QSpinBox* spedRight = nullptr;
    QSpinBox* spedDown = nullptr;
    QPushButton* btnCropReset = nullptr;
    QComboBox* cmbZoom = nullptr;
    QLabel* lblZoom = nullptr;
    QSlider* trcContrast = nullptr;
    QSpinBox* spedtContrast = nullptr;
    QSlider* trcBrightness = nullptr;
    QSpinBox* spedtBrightness = nullptr;
    QSlider* trcSaturation = nullptr;
    QSpinBox* spedtSaturation = nullptr;
    QSlider* trcExposure = nullptr;
    QSpinBox* spedtExposure = nullptr;
    QCheckBox* chkProcessText = nullptr;
    QCheckBox* chkProcessImage = nullptr;
    QSlider* trcAutoadjust = nullptr;
    QSpinBox* spedtAutoadjust = nullptr;
    QCheckBox* rbAudioadjust = nullptr;
    QLabel* lbl22 = nullptr;
    QPushButton* btnEffectReset = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    skin::TImageButton* btnClose = nullptr;
    skin::TImageButton* imgbtnPlay = nullptr;
    skin::TImageButton* imgbtnpause = nullptr;
    skin::TImageButton* imgbtnStop = nullptr;
    TTrackBar2* trcPreview = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblPTS = nullptr;
    TTrackBar2* trcVolume = nullptr;
    skin::TImageButton* imgbtnMute = nullptr;
    QTimer* Timer1 = nullptr;
    std::unique_ptr<TFFPlayer> FFPlayer;

    // State, for the owner and the tests.
    QRect PictureRect() const { return QRect(FPicL, FPicT, FPicW, FPicH); }
    int32_t CropTop() const { return FTop; }
    int32_t CropLeft() const { return FLeft; }
    int32_t CropRight() const { return FRight; }
    int32_t CropBottom() const { return FBottom; }
    // The source is open and shown (false while it opens, and for a source
    // the player cannot open).
    bool Opened() const { return FOpened; }
    // Pictures the timer drew into the output view.
    int OutputsDrawn() const { return FOutputsDrawn; }
    const QImage& OutputBitmap() const { return FOutput; }
    // The picture the output view was last drawn from, as the player gave it.
    const Bitmap24& OutputSource() const { return FTimerFrame; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateCropPage();
    void CreateEffectPage();
    void CreatePlayerRow();
    void CreateHiddenControls();
    void ConnectHandlers();
    void ConnectEffect(QSlider* bar, QSpinBox* edit);
    TlvFilesRecord* Row() const;
    bool OpenSource();
    bool WaitForFirstPicture();
    void PlaceTracker(const TlvFilesRecord& record);
    void ShowStoredMargins(const TlvFilesRecord& record);
    void FitTracker(const Bitmap24& picture);
    void SetEffectsEnabled(bool enabled);
    void SetMargin(QSpinBox* edit, int value);
    void WriteMarginsFromTracker();
    void RecomputeCrop();
    void ShowMute();
    void StopPlayer();
    void DrawPreviewBar(QPainter& canvas);
    void DrawVolumeBar(QPainter& canvas);

    TFilesList* FList;
    std::string FSettingsFile;

    // Picture rectangle in form pixels; source size.
    int FPicL = 0, FPicT = 0, FPicW = 0, FPicH = 0;
    int FVideoW = 0, FVideoH = 0;
    // Live crop values, source pixels.
    int32_t FTop = 0, FLeft = 0, FRight = 0, FBottom = 0;
    int FLastUp = 0, FLastLeft = 0, FLastRight = 0, FLastDown = 0;
    // Tracker bounds at the press: left, top, right edge, bottom edge.
    int FPressL = 0, FPressT = 0, FPressR = 0, FPressB = 0;
    bool FPressed = false;
    bool FMoving = false;
    bool FUpdating = false;
    bool FOpened = false;
    // The picture's place is known: the tracker is shown and OK writes the
    // margins and crop values (false until a first picture has come).
    bool FPictureKnown = false;
    bool FMuted = false;
    // The player row; its stopped and paused flags are read by the hook.
    std::unique_ptr<TPreviewController> FPreview;
    int FOutputsDrawn = 0;

    std::mutex FFrameLock; // guards FFrameBuffer and FHasFrame (hook thread, timer)
    Bitmap24 FFrameBuffer;
    bool FHasFrame = false;
    // User-interface thread only.
    Bitmap24 FTimerFrame;
    QImage FPreviewImage, FOutputImage, FOutput;
    QPixmap FMuteIcons[2];
};
