#include "controls/Tracker2.h"

#include "controls/BarPainter.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// What a screen reader sees: a slider named by its accessible name, else
// its tool tip, else its object name, whose value is the lower position.
class TTrackBar2Accessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TTrackBar2Accessible(TTrackBar2* bar) : QAccessibleWidget(bar, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        if (kind != QAccessible::Name) return QAccessibleWidget::text(kind);
        if (!widget()->accessibleName().isEmpty()) return widget()->accessibleName();
        if (!widget()->toolTip().isEmpty()) return widget()->toolTip();
        return widget()->objectName();
    }
    QVariant currentValue() const override { return Bar()->PositionL(); }
    void setCurrentValue(const QVariant& value) override { Bar()->SetPositionL(value.toInt()); }
    QVariant maximumValue() const override { return Bar()->Max(); }
    QVariant minimumValue() const override { return Bar()->Min(); }
    QVariant minimumStepSize() const override { return Bar()->SmallChange(); }

private:
    TTrackBar2* Bar() const { return static_cast<TTrackBar2*>(widget()); }
};

// Tells a screen reader that the lower position moved.
void AnnounceValue(TTrackBar2* bar) {
    if (!QAccessible::isActive()) return;
    QAccessibleValueChangeEvent event(bar, bar->PositionL());
    QAccessible::updateAccessibility(&event);
}

QAccessibleInterface* TrackBar2Accessible(const QString&, QObject* object) {
    if (auto* bar = qobject_cast<TTrackBar2*>(object)) return new TTrackBar2Accessible(bar);
    return nullptr;
}

} // namespace

TTrackBar2::TTrackBar2(QWidget* parent)
    : QWidget(parent), FPainter(std::make_unique<TBarPainter>(*this)) {
    static const bool factoryInstalled = (QAccessible::installFactory(TrackBar2Accessible), true);
    (void)factoryInstalled;
    FTickColor = palette().color(QPalette::Button);
    FThumbColor = palette().color(QPalette::Button);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAutoFillBackground(true);
    resize(500, 50);
    FOrientation = Orientation();
    FPainter->PrepareThumbImage();
    FPainter->PrepareTickImage();
    FPainter->PrepareDitherPattern();
}

TTrackBar2::~TTrackBar2() = default;

// ---- properties --------------------------------------------------------

void TTrackBar2::SetMax(int value) {
    if (value == FMax) return;
    FMax = value;
    if (FMax < FPositionU) FPositionU = FMax;
    update();
}

void TTrackBar2::SetMin(int value) {
    if (value == FMin) return;
    FMin = value;
    if (FMin > FPositionL) FPositionL = FMin;
    update();
}

TOrientation TTrackBar2::Orientation() const {
    if (width() == height()) return FOrientation;
    return height() > width() ? toVertical : toHorizontal;
}

void TTrackBar2::SetOrientation(TOrientation value) {
    if (value == Orientation()) return;
    if (width() != height()) resize(height(), width());
    FOrientation = value;
    FPainter->RedoThumb();
}

void TTrackBar2::SetTrackSize(int value) {
    FTrackSize = value;
    update();
}

void TTrackBar2::SetTrackStyle(TTrackStyle value) {
    FTrackStyle = value;
    update();
}

void TTrackBar2::SetTrackColor(const QColor& value) {
    FTrackColor = value;
    FPainter->PrepareDitherPattern();
    update();
}

void TTrackBar2::SetTickSize(int value) {
    FTickSize = value;
    FPainter->PrepareTickImage();
    update();
}

void TTrackBar2::SetTickStyle(TTickStyle value) {
    FTickStyle = value;
    if (value == tiLine) FTickColor = Qt::black;
    FPainter->PrepareTickImage();
    update();
}

void TTrackBar2::SetTickColor(const QColor& value) {
    FTickColor = value;
    FPainter->PrepareTickImage();
    update();
}

void TTrackBar2::SetTickOrientation(TTickOrientation value) {
    FTickOrientation = value;
    FPainter->RedoThumb();
}

void TTrackBar2::SetTickInterval(int value) {
    FTickInterval = value;
    update();
}

void TTrackBar2::SetPositionL(int value) {
    if (value == FPositionL) return;
    if (FSecondThumb && value >= FPositionU)
        value = FPositionU - 1;
    else if (value > FMax)
        value = FMax;
    else if (value < FMin)
        value = FMin;
    FPositionL = value;
    update();
    AnnounceValue(this);
    DoChange();
}

void TTrackBar2::SetPositionU(int value) {
    if (value == FPositionU) return;
    if (value > FMax)
        value = FMax;
    else if (FPositionL >= value)
        value = FPositionL + 1;
    FPositionU = value;
    update();
    DoChange();
}

void TTrackBar2::SetThumbSize(int value) {
    FThumbSize = value;
    FPainter->RedoThumb();
}

void TTrackBar2::SetThumbStyle(TThumbStyle value) {
    FThumbStyle = value;
    FPainter->RedoThumb();
}

void TTrackBar2::SetThumbColor(const QColor& value) {
    FThumbColor = value;
    FPainter->RedoThumb();
}

void TTrackBar2::SetSecondThumb(bool value) {
    FSecondThumb = value;
    FPainter->RedoThumb();
}

void TTrackBar2::SetDitherThumb(bool value) {
    FDitherThumb = value;
    if (!isEnabled()) update();
}

void TTrackBar2::SetCtl3D(bool value) {
    if (value == FCtl3D) return;
    FCtl3D = value;
    if (value) {
        FTrackStyle = trLowered;
        if (FThumbStyle == tsRectangle || FThumbStyle == tsLoweredRectangle)
            FThumbStyle = tsRaisedRectangle;
        FPainter->PrepareThumbImage();
    }
    update();
}

// ---- geometry ----------------------------------------------------------

TBarGeometry TTrackBar2::Geometry() const {
    TBarGeometry g;
    const bool vertical = Orientation() == toVertical;
    const int w = width(), h = height();
    if (FThumbStyle == tsUserDrawn) {
        g.ThumbWidth = g.ThumbHeight = FThumbSize;
        g.ThumbOffset = FThumbSize / 2;
    } else if (IsPointer(FThumbStyle)) {
        const TPointerSize size = PointerSize(FThumbStyle);
        g.ThumbWidth = vertical ? size.Height : size.Width;
        g.ThumbHeight = vertical ? size.Width : size.Height;
        g.ThumbOffset = FThumbSize / 2;
    } else {
        g.ThumbWidth = vertical ? FThumbSize : FThumbSize / 2;
        g.ThumbHeight = vertical ? FThumbSize / 2 : FThumbSize;
        g.ThumbOffset = FThumbSize / 4;
    }
    const int along = vertical ? h : w;
    const int L = along - FThumbSize;
    const int o = g.ThumbOffset;
    g.TrackLength = L;
    // The track runs between the thumb centres at the two ends of the range.
    const int a = o, b = L + o;
    const int t = (along - (b - a)) / 2 - o;
    g.TrackOffset = t;
    const int64_t range = std::max<int64_t>(int64_t(FMax) - FMin, 1);
    auto scaled = [&](int64_t n) { return static_cast<int>(n * L / range); };
    if (vertical) {
        g.Track = {w / 2 - FTrackSize / 2, a + t, w / 2 + FTrackSize / 2, b + t};
        const int x = w / 2 - g.ThumbWidth / 2;
        g.LowerThumb = QPoint(x, scaled(int64_t(FMax) - FPositionL) + t);
        g.UpperThumb = QPoint(x, scaled(int64_t(FMax) - FPositionU) + t);
    } else {
        g.Track = {a + t, h / 2 - FTrackSize / 2, b + t, h / 2 + FTrackSize / 2};
        const int y = h / 2 - g.ThumbHeight / 2;
        g.LowerThumb = QPoint(scaled(int64_t(FPositionL) - FMin) + t, y);
        g.UpperThumb = QPoint(scaled(int64_t(FPositionU) - FMin) + t, y);
    }
    if (FThumbStyle != tsUserDrawn) {
        auto rect = [&](QPoint p) {
            return TBarRect{p.x(), p.y(), p.x() + g.ThumbWidth, p.y() + g.ThumbHeight};
        };
        g.LowerRect = rect(g.LowerThumb);
        g.UpperRect = rect(g.UpperThumb);
    }
    return g;
}

int TTrackBar2::ValueAt(int x, int y) const {
    const TBarGeometry g = Geometry();
    const int64_t range = std::max<int64_t>(int64_t(FMax) - FMin, 1);
    const int64_t L = std::max(g.TrackLength, 1);
    if (Orientation() == toVertical)
        return static_cast<int>(FMax - (int64_t(y) + g.ThumbOffset) * range / L);
    return static_cast<int>(FMin + (int64_t(x) - g.ThumbOffset) * range / L);
}

// ---- painting ----------------------------------------------------------

void TTrackBar2::paintEvent(QPaintEvent*) {
    if (FOrientation != Orientation()) {
        FOrientation = Orientation();
        FPainter->PrepareThumbImage();
    }
    QPainter canvas(this);
    if (OnPaint) OnPaint(this, canvas);
    const TBarGeometry g = Geometry();
    FPainter->DrawTrack(canvas, g);
    FPainter->DrawTicks(canvas, g);
    FPainter->DrawThumbs(canvas, g);
}

void TTrackBar2::DoChange() {
    if (OnChange) OnChange(this);
}

// ---- state changes -----------------------------------------------------

void TTrackBar2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (FOrientation != Orientation()) {
        FOrientation = Orientation();
        FPainter->PrepareThumbImage();
    }
    update();
}

void TTrackBar2::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) update();
}

void TTrackBar2::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
    if (OnEnter) OnEnter(this);
}

void TTrackBar2::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
    if (OnExit) OnExit(this);
}

// ---- keyboard and mouse ------------------------------------------------

void TTrackBar2::StepPosition(bool upper, int delta) {
    if (upper)
        SetPositionU(FPositionU + delta);
    else
        SetPositionL(FPositionL + delta);
}

void TTrackBar2::keyPressEvent(QKeyEvent* event) {
    const bool upper = FSecondThumb && (event->modifiers() & Qt::ShiftModifier);
    int delta = 0;
    switch (event->key()) {
    case Qt::Key_PageUp:
        delta = FLargeChange;
        break;
    case Qt::Key_PageDown:
        delta = -FLargeChange;
        break;
    case Qt::Key_Left:
    case Qt::Key_Down:
        delta = -FSmallChange;
        break;
    case Qt::Key_Up:
    case Qt::Key_Right:
        delta = FSmallChange;
        break;
    default:
        if (OnKeyDown) OnKeyDown(this, event->key(), event->modifiers());
        QWidget::keyPressEvent(event);
        return;
    }
    StepPosition(upper, delta);
    if (OnKeyDown) OnKeyDown(this, event->key(), event->modifiers());
    event->accept();
}

void TTrackBar2::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), at.x(), at.y());
    if (focusPolicy() & Qt::ClickFocus) setFocus(Qt::MouseFocusReason);
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    const TBarGeometry g = Geometry();
    bool upper = false;
    if (FSecondThumb) {
        if (Orientation() == toVertical)
            upper = at.y() < (g.LowerRect.Top + g.UpperRect.Bottom) / 2;
        else
            upper = at.x() > (g.LowerRect.Right + g.UpperRect.Left) / 2;
    }
    PressThumb(upper, at.x(), at.y(), event->modifiers(), upper ? g.UpperRect : g.LowerRect);
}

void TTrackBar2::PressThumb(bool upper, int x, int y, Qt::KeyboardModifiers shift,
                            const TBarRect& rect) {
    if (rect.Contains(x, y)) {
        (upper ? FTrackingU : FTrackingL) = true;
        return;
    }
    if (!(shift & Qt::ShiftModifier)) {
        if (upper)
            SetPositionU(ValueAt(x, y));
        else
            SetPositionL(ValueAt(x, y));
        return;
    }
    // Shift steps towards the mouse, unless the mouse lies on the thumb's span.
    int delta = 0;
    if (Orientation() == toVertical) {
        if (y < rect.Top) delta = FSmallChange;
        if (y >= rect.Bottom) delta = -FSmallChange;
    } else {
        if (x >= rect.Right) delta = FSmallChange;
        if (x < rect.Left) delta = -FSmallChange;
    }
    if (delta != 0) StepPosition(upper, delta);
}

void TTrackBar2::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(this, event->buttons(), event->modifiers(), at.x(), at.y());
    if (FTrackingU)
        SetPositionU(ValueAt(at.x(), at.y()));
    else if (FTrackingL)
        SetPositionL(ValueAt(at.x(), at.y()));
    event->accept();
}

void TTrackBar2::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) FTrackingL = FTrackingU = false;
    event->accept();
}
