// The trim dialog: a playing preview of the selected row's source, a range
// bar with a start marker and an end marker, and the chosen times. OK stores
// the range in the row as `TrimStart`/`TrimLength` and shows the trimmed
// length in the row's "Trimmed Length" column. One dialog lives as long as
// the main window and is shown again on every opening.
//
// The markers move in whole seconds; the two time fields also take a typed
// or pasted time ("H:MM:SS.mmm") and step one frame at a time (their
// buttons, or Up and Down in the field), so a trim can start and end on any
// frame. The times are kept in microseconds.
//
// Everything here runs on the user-interface thread; the player raises its
// events there too (it hands them over to the main thread).
#pragma once

#include "player/FFPlay.h"

#include <QDialog>
#include <QPixmap>

#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPainter;
class QPushButton;
class TFilesList;
class TPlayerSurface;
class TPreviewController;
class TTrackBar2;
namespace skin {
class TImageButton;
}

class TfrmTrim : public QDialog {
    Q_OBJECT
public:
    // `list` is the main window's conversion list; `settingsFile` the
    // settings store that holds "mute".
    TfrmTrim(QWidget* parent, TFilesList* list, std::string settingsFile);
    ~TfrmTrim() override;

    // Handlers.
    void FormShow();
    void FFPlayerFileOpen(std::int64_t ADuration);
    void FFPlayerPosition(std::int64_t APTS);
    void FFPlayerState(TPlayState AState);
    void trcPositionMouseDown(int X);
    void trcPositionMouseMove(Qt::MouseButtons Buttons, int X);
    void trcPositionDrawThumb(QPainter& Canvas, int Y);
    void trcPreviewDrawThumb(QPainter& Canvas, int X, int Y);
    void trcPreviewMouseMove(Qt::MouseButtons Buttons, int X);
    void imgbtnPlayClick();
    void imgbtnpauseClick();
    void imgbtnStopClick();
    void btnDefaultClick();
    void btnOkClick();
    void btnCancelClick();
    // A time typed into a field (Enter or leaving the field); a text that is
    // not a time shows why in `lblTimeError` and changes nothing.
    bool edtStartEditingFinished();
    bool edtTrimLengthEditingFinished();
    // One frame later (1) or earlier (-1).
    void StepStart(int frames);
    void StepEnd(int frames);

    // The full duration in microseconds as the Default button writes it:
    // "HH:MM:SS.mmm".
    static std::string DurationText(std::int64_t durationUS);

    // What the dialog holds, for its owner and the tests: the times in
    // whole seconds (rounded down) and in microseconds.
    std::int64_t Start() const { return FStart / 1000000; }
    std::int64_t End() const { return FEnd / 1000000; }
    std::int64_t StartUS() const { return FStart; }
    std::int64_t EndUS() const { return FEnd; }
    // Frames per second of the source, as the steps use it.
    double FrameRate() const { return FFrameRate; }
    std::int64_t Duration() const { return FDuration; }
    int LeftMarkerX() const { return FLeftX; }
    int RightMarkerX() const { return FRightX; }
    int UsableWidth() const { return FUsableWidth; }
    // The source of this opening plays (else OK writes nothing).
    bool SourceOpened() const { return FOpened; }
    // How many openings have been completed.
    int Openings() const { return FOpenings; }

    // Title row
    QLabel* lblTitle = nullptr;
    skin::TImageButton* btnClose = nullptr;
    // Preview
    TPlayerSurface* imgPreview = nullptr;
    skin::TImageButton* imgbtnPlay = nullptr;
    skin::TImageButton* imgbtnpause = nullptr;
    skin::TImageButton* imgbtnStop = nullptr;
    TTrackBar2* trcPreview = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblPTS = nullptr;
    // Range
    TTrackBar2* trcPosition = nullptr;
    QPixmap imglistPosLeft, imglistPosRight;
    QLineEdit* edtStart = nullptr;
    QLineEdit* edtTrimLength = nullptr;
    QPushButton* btnStartBack = nullptr;
    QPushButton* btnStartForward = nullptr;
    QPushButton* btnEndBack = nullptr;
    QPushButton* btnEndForward = nullptr;
    QLabel* lblTimeError = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    std::unique_ptr<TFFPlayer> FFPlayer;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreatePlayerRow();
    void CreateRangeRow();
    void CreateMarkerImages();
    void CreateTimeFields();
    void ShowCopyHint();
    QPushButton* NewStepButton(const char* name, const char* caption, const char* accessible,
                               int x);
    void ConnectHandlers();
    bool OpenRow(int row, bool centreMarkers);
    bool OpenSource();
    // Press rules shared by a click and a drag: the start marker follows x
    // while x <= mid and 0 < x <= `startLimit`, the end marker while
    // x > mid and x <= `endLimit`.
    bool MoveStartMarker(int x, int startLimit);
    bool MoveEndMarker(int x, int endLimit);
    // A typed or stepped time: kept within the source, the marker moved to
    // it, the field and the player's picture showing it.
    void SetStart(std::int64_t microseconds);
    void SetEnd(std::int64_t microseconds);
    bool TypedTime(QLineEdit* field, std::int64_t& microseconds);
    int MarkerX(std::int64_t microseconds) const;
    std::int64_t DurationLimitUS() const;
    void SeekTo(std::int64_t microseconds);
    bool FieldKey(QObject* watched, QEvent* event);
    void MouseReleased();

    TFilesList* FList;
    std::string FSettingsFile;
    int FRow = -1; // the row of the present opening

    std::int64_t FStart = 0, FEnd = 0; // microseconds
    std::int64_t FDuration = 0;        // whole seconds
    double FFrameRate = 25.0;          // of the source's video, 25 without one
    int FLeftX = 0, FRightX = 0;       // marker places on `trcPosition`
    int FUsableWidth = 0;
    int FPreviewThumbX = 0, FPreviewThumbY = 0;
    // The player row: the flags, the duration in microseconds, the drag.
    std::unique_ptr<TPreviewController> FPreview;
    bool FOpened = false;
    int FOpenings = 0;
    QPixmap FTrackImage, FThumbImage;
};
