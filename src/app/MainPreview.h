// The main window's preview panel beyond the shared player row
// (PreviewController.h): the panel's controls, playing the list's rows,
// previous and next, the snapshot, the sound, seeking by dragging and by
// keys, and the drawing of the position and volume bars.
//
// Threads: user-interface thread only (the player raises its events there).
#pragma once

#include <Qt>
#include <cstdint>

class QEvent;
class QKeyEvent;
class QPainter;
class QTreeWidgetItem;
class QWidget;
class TTrackBar2;
class TfrmMain;

class TMainPreview {
public:
    explicit TMainPreview(TfrmMain& window) : FWindow(window) {}

    // The picture, the time labels and the position bar.
    void CreatePanel();
    // The player buttons, the volume bar and their pictures.
    void CreateButtons();
    // The buttons, bars and player events to the window's handlers.
    void Connect();
    // The stored volume and mute setting on the bar and the mute button.
    void ShowVolumeAndMute();

    void Play();
    void Pause();
    void Stop();
    void Previous();
    void Next();
    void ToggleMute();
    void Snap();
    // A double click on a row: the paused row goes on, any other plays anew.
    void PlayClickedRow();
    void UpdatePreNextEnabling();
    // The row whose source the player has open, none when it is closed.
    const QTreeWidgetItem* PlayerRow() const { return FPlayerRow; }

    void FileOpened(std::int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                    int& screenHeight);
    void PositionReported(std::int64_t pts);

    // The preview's part of the application's mouse events and of the keys
    // that come to the window itself; true when the event is used up.
    bool Message(QWidget* widget, QEvent* event);
    // Space plays or pauses, Left and Right seek; true when the key was used.
    bool Key(int key);

    void DrawPreviewTrack(QPainter& canvas);
    void DrawPreviewThumb(TTrackBar2* bar, QPainter& canvas, int x, int y);
    void PreviewMouseMove(TTrackBar2* bar, Qt::MouseButtons buttons, int x);
    void DrawVolumeTrack(TTrackBar2* bar, QPainter& canvas);
    void DrawVolumeThumb(TTrackBar2* bar, QPainter& canvas, int x, int y);
    void VolumeMouseMove(TTrackBar2* bar, Qt::MouseButtons buttons, int x);
    void VolumeChanged(TTrackBar2* bar);

private:
    bool KeyUnused(QKeyEvent& event);
    void CreatePictures();
    void PlaySelectedRow();
    void PlayRow(int row);
    void ShowPlayerStopped();
    void SeekBy(std::int64_t microseconds);
    void FinishSeekDrag();

    TfrmMain& FWindow;
    // Counts presses on the position bar, so that the end of an old drag's
    // settling time leaves a new drag alone; set while it settles.
    int FSeekDrag = 0;
    bool FSeekSettling = false;
    // The row whose source the player has open (playing, paused, or waiting
    // at its start after the end), none when the player is closed. Only
    // compared, never followed: it is cleared whenever the player closes.
    const QTreeWidgetItem* FPlayerRow = nullptr;
};
