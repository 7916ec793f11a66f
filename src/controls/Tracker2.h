// `TTrackBar2`: a track bar with an optional second thumb, so that it selects
// either one position (`PositionL`) or a range (`PositionL`..`PositionU`).
// Track, ticks and thumbs are drawn in built-in styles or left to the owner
// through the drawing events. Everything runs on the user-interface thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

enum TOrientation { toHorizontal, toVertical };
enum TTrackStyle { trUserDrawn, trFlat, trRaised, trLowered };
enum TTickStyle { tiUserDrawn, tiLine, tiSquare, tiRaisedSquare, tiLoweredSquare };
enum TTickOrientation { toTopLeft, toBottomRight, toBoth };
enum TThumbStyle {
    tsUserDrawn,
    tsRectangle,
    tsRaisedRectangle,
    tsLoweredRectangle,
    tsSmallPointer,
    tsMediumPointer,
    tsLargePointer
};

// A rectangle with exclusive right and bottom edges: a point is inside when
// Left <= x < Right and Top <= y < Bottom.
struct TBarRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool Contains(int x, int y) const { return Left <= x && x < Right && Top <= y && y < Bottom; }
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TBarRect&) const = default;
};

// Where things lie on the bar for its present size, range and positions.
struct TBarGeometry {
    int TrackLength = 0; // L: the distance a thumb travels
    int ThumbOffset = 0; // o
    int TrackOffset = 0; // t
    int ThumbWidth = 0, ThumbHeight = 0;
    TBarRect Track;
    // Top-left corners of the two thumbs.
    QPoint LowerThumb, UpperThumb;
    // Hit rectangles of the thumbs; empty for user-drawn thumbs.
    TBarRect LowerRect, UpperRect;
};

class TBarPainter;

class TTrackBar2 : public QWidget {
    Q_OBJECT
    // Draws with the published state and raises the drawing events.
    friend class TBarPainter;

public:
    explicit TTrackBar2(QWidget* parent = nullptr);
    ~TTrackBar2() override;

    int Max() const { return FMax; }
    void SetMax(int value);
    int Min() const { return FMin; }
    void SetMin(int value);
    // Follows the shape: vertical when taller than wide, horizontal when
    // wider than tall; a square bar keeps what it had.
    TOrientation Orientation() const;
    void SetOrientation(TOrientation value);
    int TrackSize() const { return FTrackSize; }
    void SetTrackSize(int value);
    TTrackStyle TrackStyle() const { return FTrackStyle; }
    void SetTrackStyle(TTrackStyle value);
    QColor TrackColor() const { return FTrackColor; }
    void SetTrackColor(const QColor& value);
    int TickSize() const { return FTickSize; }
    void SetTickSize(int value);
    TTickStyle TickStyle() const { return FTickStyle; }
    void SetTickStyle(TTickStyle value);
    QColor TickColor() const { return FTickColor; }
    void SetTickColor(const QColor& value);
    TTickOrientation TickOrientation() const { return FTickOrientation; }
    void SetTickOrientation(TTickOrientation value);
    int TickInterval() const { return FTickInterval; }
    void SetTickInterval(int value);
    int PositionL() const { return FPositionL; }
    void SetPositionL(int value);
    int PositionU() const { return FPositionU; }
    void SetPositionU(int value);
    int SmallChange() const { return FSmallChange; }
    void SetSmallChange(int value) { FSmallChange = value; }
    int LargeChange() const { return FLargeChange; }
    void SetLargeChange(int value) { FLargeChange = value; }
    int ThumbSize() const { return FThumbSize; }
    void SetThumbSize(int value);
    TThumbStyle ThumbStyle() const { return FThumbStyle; }
    void SetThumbStyle(TThumbStyle value);
    QColor ThumbColor() const { return FThumbColor; }
    void SetThumbColor(const QColor& value);
    bool SecondThumb() const { return FSecondThumb; }
    void SetSecondThumb(bool value);
    bool DitherThumb() const { return FDitherThumb; }
    void SetDitherThumb(bool value);
    bool TrackingL() const { return FTrackingL; }
    bool TrackingU() const { return FTrackingU; }
    // The 3-D look; switching it on sets the lowered track and raised thumbs.
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool value);

    TBarGeometry Geometry() const;
    // The value under a point of the bar (not limited to the range).
    int ValueAt(int x, int y) const;

    // Events. Sender is this bar; the painter draws on it.
    std::function<void(TTrackBar2* Sender)> OnChange;
    std::function<void(TTrackBar2* Sender, QPainter& Canvas)> OnPaint;
    std::function<void(TTrackBar2* Sender, QPainter& Canvas)> OnDrawTrack;
    std::function<void(TTrackBar2* Sender, QPainter& Canvas, int X, int Y)> OnDrawThumb;
    std::function<void(TTrackBar2* Sender, QPainter& Canvas, int X, int Y, int Position)>
        OnDrawTick;
    std::function<void(TTrackBar2* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift,
                       int X, int Y)>
        OnMouseDown;
    // Raised on every move over the bar, with the buttons held (none when hovering).
    std::function<void(TTrackBar2* Sender, Qt::MouseButtons Buttons, Qt::KeyboardModifiers Shift,
                       int X, int Y)>
        OnMouseMove;
    std::function<void(TTrackBar2* Sender, int Key, Qt::KeyboardModifiers Shift)> OnKeyDown;
    std::function<void(TTrackBar2* Sender)> OnEnter;
    std::function<void(TTrackBar2* Sender)> OnExit;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

    // The call of the change event. The drawing and its events are the
    // painter's (BarPainter.h).
    virtual void DoChange();

private:
    // Sets the upper or the lower position.
    void MoveThumb(bool upper, int value);

    // Published state.
    int FMax = 20;
    int FMin = 0;
    TOrientation FOrientation = toVertical;
    int FTrackSize = 10;
    TTrackStyle FTrackStyle = trLowered;
    QColor FTrackColor = Qt::white;
    int FTickSize = 6;
    TTickStyle FTickStyle = tiRaisedSquare;
    QColor FTickColor;
    TTickOrientation FTickOrientation = toBoth;
    int FTickInterval = 1;
    int FPositionL = 0;
    int FPositionU = 10;
    int FSmallChange = 1;
    int FLargeChange = 2;
    int FThumbSize = 20;
    TThumbStyle FThumbStyle = tsRaisedRectangle;
    QColor FThumbColor;
    bool FSecondThumb = false;
    bool FDitherThumb = true;
    bool FTrackingL = false;
    bool FTrackingU = false;
    bool FCtl3D = true;

    // The built-in drawing and its pictures.
    std::unique_ptr<TBarPainter> FPainter;
};
