#include "controls/Tracker2.h"

#include "controls/BarLayout.h"
#include "controls/BarPainter.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

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

// The bar's layout for its present size, lie, thumb, track and range.
TBarLayout LayoutOf(const TTrackBar2& bar) {
    TBarShape shape;
    shape.Width = bar.width();
    shape.Height = bar.height();
    shape.Vertical = bar.Orientation() == toVertical;
    shape.ThumbStyle = bar.ThumbStyle();
    shape.ThumbSize = bar.ThumbSize();
    shape.TrackSize = bar.TrackSize();
    shape.Min = bar.Min();
    shape.Max = bar.Max();
    return TBarLayout(shape);
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
    return LayoutOf(*this).Place(FPositionL, FPositionU);
}

int TTrackBar2::ValueAt(int x, int y) const {
    return LayoutOf(*this).ValueAt(x, y);
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

void TTrackBar2::MoveThumb(bool upper, int value) {
    if (upper)
        SetPositionU(value);
    else
        SetPositionL(value);
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
    MoveThumb(upper, (upper ? FPositionU : FPositionL) + delta);
    if (OnKeyDown) OnKeyDown(this, event->key(), event->modifiers());
    event->accept();
}

void TTrackBar2::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), at.x(), at.y());
    if (focusPolicy() & Qt::ClickFocus) setFocus(Qt::MouseFocusReason);
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    // A press on a thumb drags it; beside it the thumb jumps to the point,
    // or with Shift steps towards it.
    const TBarLayout layout = LayoutOf(*this);
    const TBarGeometry g = layout.Place(FPositionL, FPositionU);
    const bool upper = FSecondThumb && layout.PicksUpper(g, at.x(), at.y());
    const TBarRect& thumb = upper ? g.UpperRect : g.LowerRect;
    if (thumb.Contains(at.x(), at.y())) {
        (upper ? FTrackingU : FTrackingL) = true;
    } else if (!(event->modifiers() & Qt::ShiftModifier)) {
        MoveThumb(upper, layout.ValueAt(at.x(), at.y()));
    } else if (int step = layout.StepTowards(thumb, at.x(), at.y(), FSmallChange)) {
        MoveThumb(upper, (upper ? FPositionU : FPositionL) + step);
    }
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
