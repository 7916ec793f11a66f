// The main window's size: it grows from its designed 914 x 566 (also its
// smallest size), the list and the preview taking the room; its rim resizes
// it; its size, place and maximised state are kept in the settings file
// between runs.
//
// Threads: user-interface thread only.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <utility>
#include <vector>

class QMouseEvent;
class QWidget;
class TfrmMain;

class TMainLayout {
public:
    explicit TMainLayout(TfrmMain& window) : FWindow(window) {}

    // Keeps every control's place in the designed size; the layout grows
    // them from there.
    void RecordDesignPlaces();
    // Places the controls for the window's size.
    void LayOut();
    // The stored place, when one fits a screen.
    void RestorePlace();
    void StorePlace() const;
    // The edges of the window's rim at `pos` (none when maximised).
    Qt::Edges EdgesAt(const QPoint& pos) const;
    // A press on the window's rim starts resizing; true when it did.
    bool StartEdgeResize(const QMouseEvent& event) const;
    // Maximises the window, or restores it (the maximise button, a double
    // click on the title row).
    void ToggleMaximized();

private:
    // Extra pixels: across and down, and the part of across that the list
    // takes.
    struct TGrowth {
        int Across = 0, Down = 0, List = 0;
    };
    QRect GrownPlace(const QWidget* widget, const QRect& design, const TGrowth& growth) const;
    void FitPositionBar(int oldWidth);

    TfrmMain& FWindow;
    std::vector<std::pair<QWidget*, QRect>> FDesignPlaces;
    QPixmap FDesignTrack;
    int FDesignPositionBarWidth = 0;
};
