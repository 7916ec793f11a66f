// `TRectTracker`: a dotted rectangle with eight handles drawn over its parent
// (the frame inverts what lies under it). Dragging the inside moves it, a
// handle resizes it, and the rectangle is reported when a drag ends. It can
// carry a sibling control (`AcControl`) kept 5 pixels inside its bounds.
// Everything runs on the user-interface thread.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>

// A rectangle by its edges, right and bottom exclusive.
struct TTrackRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool Contains(int x, int y) const { return Left <= x && x < Right && Top <= y && y < Bottom; }
    bool operator==(const TTrackRect&) const = default;
};

class TCustomRectTracker;
using TTrackerEvent = std::function<void(TCustomRectTracker* Sender, const TTrackRect& TrackRect)>;

class TCustomRectTracker : public QWidget {
    Q_OBJECT
public:
    explicit TCustomRectTracker(QWidget* parent = nullptr);
    ~TCustomRectTracker() override;

    // The drag a press at (x, y) starts, for a tracker of the given size:
    // 0..3 the left, right, top and bottom handles, 4..7 the top-left,
    // top-right, bottom-left and bottom-right corners, 8 the move area,
    // 9 none.
    static uint8_t HitCode(int x, int y, int width, int height, const TTrackRect& moveArea);
    static Qt::CursorShape CursorFor(uint8_t code);
    uint8_t DragMode() const { return FDragMode; }
    // The rectangle `OnChange` reports: the frame's inside, in the parent's
    // coordinates.
    TTrackRect TrackRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

    QWidget* AcControl() const { return FAcControl; }
    void SetAcControl(QWidget* control);

    TTrackerEvent OnChange;
    // The mouse events, raised after the tracker's own handling.
    std::function<void(TCustomRectTracker* Sender, Qt::MouseButton Button,
                       Qt::KeyboardModifiers Shift, int X, int Y)>
        OnMouseDown;
    std::function<void(TCustomRectTracker* Sender, Qt::MouseButtons Buttons,
                       Qt::KeyboardModifiers Shift, int X, int Y)>
        OnMouseMove;
    std::function<void(TCustomRectTracker* Sender, Qt::MouseButton Button,
                       Qt::KeyboardModifiers Shift, int X, int Y)>
        OnMouseUp;

private:
    void Drag(int x, int y);
    void PlaceCarried();
    QRect CarriedBounds(QWidget* control) const;
    static int HandleStart(int n) { return (n + 1) / 2 - 3; }

    // Pressing inside it moves the tracker; (2, 2, width - 2, height - 2).
    TTrackRect FMoveArea;
    // Mouse position at the press or the last resize step; -1 when idle.
    int32_t FLastX = -1, FLastY = -1;
    // When false, painting resets the move area to its default.
    bool FKeepMoveArea = false;
    uint8_t FDragMode = 9;
    QRect FPressBounds;
    QPointer<QWidget> FAcControl;
    // Set while `AcControl` is assigned, so the tracker's own move does not
    // move the control back.
    bool FUpdatingCarried = false;
};

class TRectTracker : public TCustomRectTracker {
    Q_OBJECT
public:
    explicit TRectTracker(QWidget* parent = nullptr) : TCustomRectTracker(parent) {}

    using TCustomRectTracker::AcControl;
    using TCustomRectTracker::OnChange;
    using TCustomRectTracker::OnMouseDown;
    using TCustomRectTracker::OnMouseMove;
    using TCustomRectTracker::OnMouseUp;
    using TCustomRectTracker::SetAcControl;
};
