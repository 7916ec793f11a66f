// The main window's frame, which the system does not draw: the frame paints
// the window's bands and rim, the title row moves the window and a double click on it maximises or
// restores it, the rim resizes it and shows the resize cursors, the maximise button's tip follows
// the window's state, and a new size lays the controls out again (the sizes and places are
// MainLayout.h's).
//
// Threads: user-interface thread only.
#pragma once

#include <QObject>

class QMouseEvent;
class TfrmMain;
class TMainLayout;

class TMainFrame : public QObject {
public:
    // Watches the window's own events from now on.
    TMainFrame(TfrmMain& window, TMainLayout& layout);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // True when the press started a resize from the rim.
    bool Pressed(const QMouseEvent& event);
    void ShowRimCursor(const QMouseEvent& event);
    void ShowMaximizeTip();
    // The title band, the band behind the tool row, the lines between the
    // rows and the rim.
    void PaintBands();

    TfrmMain& FWindow;
    TMainLayout& FLayout;
};
