#include "controls/RectTracker.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kHandle = 5; // handle side, in pixels
constexpr int kCarriedInset = 5;
constexpr int kMinSide = 10;
constexpr uint8_t kNoDrag = 9;

bool InSquare(int x, int y, int left, int top) {
    return TTrackRect{left, top, left + kHandle, top + kHandle}.Contains(x, y);
}

} // namespace

TCustomRectTracker::TCustomRectTracker(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("RectTracker"));
    setAccessibleName(QStringLiteral("RectTracker"));
    setMinimumSize(kMinSide, kMinSide);
    setMouseTracking(true);
    resize(65, 65);
    FMoveArea = {2, 2, width() - 2, height() - 2};
}

// The carried control is let go of, not destroyed.
TCustomRectTracker::~TCustomRectTracker() = default;

uint8_t TCustomRectTracker::HitCode(int x, int y, int w, int h, const TTrackRect& moveArea) {
    const int mw = HandleStart(w), mh = HandleStart(h);
    const int right = w - kHandle, bottom = h - kHandle;
    if (InSquare(x, y, 0, 0)) return 4;
    if (InSquare(x, y, right, bottom)) return 7;
    if (InSquare(x, y, 0, bottom)) return 6;
    if (InSquare(x, y, right, 0)) return 5;
    if (InSquare(x, y, 0, mh)) return 0;
    if (InSquare(x, y, right, mh)) return 1;
    if (InSquare(x, y, mw, 0)) return 2;
    if (InSquare(x, y, mw, bottom)) return 3;
    if (moveArea.Contains(x, y)) return 8;
    return kNoDrag;
}

Qt::CursorShape TCustomRectTracker::CursorFor(uint8_t code) {
    switch (code) {
    case 4:
    case 7:
        return Qt::SizeFDiagCursor;
    case 5:
    case 6:
        return Qt::SizeBDiagCursor;
    case 0:
    case 1:
        return Qt::SizeHorCursor;
    case 2:
    case 3:
        return Qt::SizeVerCursor;
    case 8:
        return Qt::SizeAllCursor;
    default:
        return Qt::ArrowCursor;
    }
}

TTrackRect TCustomRectTracker::TrackRect() const {
    return {x() + 2, y() + 2, x() + width() - 2, y() + height() - 2};
}

// The frame and the handles invert what lies under them, so they show over
// any picture.
void TCustomRectTracker::paintEvent(QPaintEvent*) {
    const int w = width(), h = height();
    if (!FKeepMoveArea) FMoveArea = {2, 2, w - 2, h - 2};
    QPainter canvas(this);
    canvas.setCompositionMode(QPainter::RasterOp_SourceOrNotDestination);
    QPen frame(Qt::black);
    frame.setStyle(Qt::DotLine);
    canvas.setPen(frame);
    canvas.setBrush(Qt::NoBrush);
    canvas.drawRect(2, 2, w - 5, h - 5); // the outline covers x 2 .. w - 3
    const int mw = HandleStart(w), mh = HandleStart(h);
    const int right = w - kHandle, bottom = h - kHandle;
    const QPoint handles[] = {{0, 0},       {0, mh},    {0, bottom}, {mw, 0},
                              {mw, bottom}, {right, 0}, {right, mh}, {right, bottom}};
    for (const QPoint& corner : handles)
        canvas.fillRect(corner.x(), corner.y(), kHandle, kHandle, Qt::black);
}

void TCustomRectTracker::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        FPressBounds = geometry();
        FLastX = at.x();
        FLastY = at.y();
        FDragMode = HitCode(at.x(), at.y(), width(), height(), FMoveArea);
    }
    if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), at.x(), at.y());
    event->accept();
}

void TCustomRectTracker::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    Drag(at.x(), at.y());
    const QPoint now = mapFromGlobal(event->globalPosition().toPoint());
    setCursor(CursorFor(HitCode(now.x(), now.y(), width(), height(), FMoveArea)));
    if (OnMouseMove) OnMouseMove(this, event->buttons(), event->modifiers(), at.x(), at.y());
    event->accept();
}

// One step of a drag. The last mouse position is kept where the left or top
// edge moves, because the mouse is then measured from the moved edge.
void TCustomRectTracker::Drag(int x, int y) {
    const int dx = x - FLastX, dy = y - FLastY;
    const int l = this->x(), t = this->y(), w = width(), h = height();
    const bool shrinkW = w > kMinSide || dx <= 0, shrinkH = h > kMinSide || dy <= 0;
    switch (FDragMode) {
    case 0:
        if (shrinkW) setGeometry(l + dx, t, w - dx, h);
        break;
    case 1:
        resize(w + dx, h);
        FLastX = x;
        break;
    case 2:
        if (shrinkH) setGeometry(l, t + dy, w, h - dy);
        break;
    case 3:
        resize(w, h + dy);
        FLastY = y;
        break;
    case 4:
        if (shrinkW)
            setGeometry(l + dx, shrinkH ? t + dy : t, w - dx, shrinkH ? h - dy : h);
        else if (shrinkH)
            setGeometry(l, t + dy, w, h - dy);
        break;
    case 5:
        setGeometry(l, shrinkH ? t + dy : t, w + dx, shrinkH ? h - dy : h);
        FLastX = x;
        break;
    case 6:
        setGeometry(shrinkW ? l + dx : l, t, shrinkW ? w - dx : w, h + dy);
        FLastY = y;
        break;
    case 7:
        setGeometry(l, t, w + dx, h + dy);
        FLastX = x;
        FLastY = y;
        break;
    case 8:
        move(l + dx, t + dy);
        break;
    default:
        break;
    }
}

void TCustomRectTracker::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const bool left = event->button() == Qt::LeftButton;
    if (left) {
        FLastX = FLastY = -1;
        FDragMode = kNoDrag;
    }
    if (OnMouseUp) OnMouseUp(this, event->button(), event->modifiers(), at.x(), at.y());
    if (left && geometry() != FPressBounds && OnChange) OnChange(this, TrackRect());
    event->accept();
}

// ---- the carried control -----------------------------------------------

// A control's bounds in the tracker's parent's coordinates.
QRect TCustomRectTracker::CarriedBounds(QWidget* control) const {
    QRect r = control->geometry();
    QWidget* from = control->parentWidget();
    QWidget* to = parentWidget();
    if (from && to && from != to) r.moveTopLeft(to->mapFromGlobal(from->mapToGlobal(r.topLeft())));
    return r;
}

void TCustomRectTracker::SetAcControl(QWidget* control) {
    if (control == this) control = nullptr;
    FAcControl = control;
    if (!control) return;
    FUpdatingCarried = true;
    const QRect r = CarriedBounds(control);
    setGeometry(r.adjusted(-kCarriedInset, -kCarriedInset, kCarriedInset, kCarriedInset));
    FUpdatingCarried = false;
}

void TCustomRectTracker::PlaceCarried() {
    QWidget* control = FAcControl; // cleared by itself when the control is gone
    if (!control || FUpdatingCarried) return;
    QRect r = geometry().adjusted(kCarriedInset, kCarriedInset, -kCarriedInset, -kCarriedInset);
    QWidget* from = parentWidget();
    QWidget* to = control->parentWidget();
    if (from && to && from != to) r.moveTopLeft(to->mapFromGlobal(from->mapToGlobal(r.topLeft())));
    control->setGeometry(r);
}

void TCustomRectTracker::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FMoveArea = {2, 2, width() - 2, height() - 2};
    PlaceCarried();
}

// The carried control follows a move too, so it stays inside the frame.
void TCustomRectTracker::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    PlaceCarried();
}
