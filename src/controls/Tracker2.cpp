#include "controls/Tracker2.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);

// The pointer thumb pictures, pointing up: width x height. Bars lying on
// their side use them turned by a quarter.
struct TPointerSize {
    int Width, Height;
};
TPointerSize PointerSize(TThumbStyle style) {
    switch (style) {
    case tsSmallPointer:
        return {11, 18};
    case tsMediumPointer:
        return {15, 24};
    default:
        return {21, 32};
    }
}

bool IsPointer(TThumbStyle style) {
    return style == tsSmallPointer || style == tsMediumPointer || style == tsLargePointer;
}

// The two-pixel bevel of the raised and lowered track and thumbs.
void DrawBevel(QPainter& p, const TBarRect& r, bool raised) {
    const QColor outerLight = raised ? QColor(Qt::white) : QColor(Qt::black);
    const QColor outerDark = raised ? QColor(Qt::black) : QColor(Qt::white);
    const QColor innerLight = raised ? kSilver : kGrey;
    const QColor innerDark = raised ? kGrey : kSilver;
    const int w = r.Width(), h = r.Height();
    p.fillRect(r.Left, r.Top, w, 1, outerLight);
    p.fillRect(r.Left, r.Top, 1, h, outerLight);
    p.fillRect(r.Left + 1, r.Top + 1, w - 2, 1, innerLight);
    p.fillRect(r.Left + 1, r.Top + 1, 1, h - 2, innerLight);
    p.fillRect(r.Left, r.Bottom - 1, w, 1, outerDark);
    p.fillRect(r.Right - 1, r.Top, 1, h, outerDark);
    p.fillRect(r.Left + 1, r.Bottom - 2, w - 2, 1, innerDark);
    p.fillRect(r.Right - 2, r.Top + 1, 1, h - 2, innerDark);
}

// The pointer thumb picture for a bar's direction: the tip points at the
// side that carries the ticks.
QImage PointerImage(TThumbStyle style, bool vertical, bool bottomRight, const QColor& color) {
    const TPointerSize size = PointerSize(style);
    QImage up(size.Width, size.Height, QImage::Format_ARGB32);
    up.fill(Qt::transparent);
    {
        QPainter p(&up);
        const int w = size.Width - 1, h = size.Height - 1, mid = w / 2;
        const QPolygon shape(
            {QPoint(mid, 0), QPoint(w, mid), QPoint(w, h), QPoint(0, h), QPoint(0, mid)});
        p.setPen(Qt::black);
        p.setBrush(color);
        p.drawPolygon(shape);
    }
    if (vertical) {
        const QImage left = up.transformed(QTransform().rotate(-90));
        return bottomRight ? left.mirrored(true, false) : left;
    }
    return bottomRight ? up.mirrored(false, true) : up;
}

// Replaces the region of one colour around (x, y) by the dither pattern,
// the pattern lying on the bar from (originX, originY) of the picture.
void FloodDither(QImage& image, int x, int y, const QImage& dither, int originX, int originY) {
    if (!image.rect().contains(x, y) || dither.isNull()) return;
    const QRgb target = image.pixel(x, y);
    std::vector<bool> seen(static_cast<size_t>(image.width()) * image.height(), false);
    std::vector<QPoint> stack{QPoint(x, y)};
    while (!stack.empty()) {
        const QPoint q = stack.back();
        stack.pop_back();
        if (!image.rect().contains(q)) continue;
        const size_t index = static_cast<size_t>(q.y()) * image.width() + q.x();
        if (seen[index] || image.pixel(q) != target) continue;
        seen[index] = true;
        image.setPixel(q, dither.pixel((originX + q.x()) & 7, (originY + q.y()) & 7));
        stack.insert(stack.end(), {QPoint(q.x() + 1, q.y()), QPoint(q.x() - 1, q.y()),
                                   QPoint(q.x(), q.y() + 1), QPoint(q.x(), q.y() - 1)});
    }
}

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

QAccessibleInterface* TrackBar2Accessible(const QString&, QObject* object) {
    if (auto* bar = qobject_cast<TTrackBar2*>(object)) return new TTrackBar2Accessible(bar);
    return nullptr;
}

} // namespace

TTrackBar2::TTrackBar2(QWidget* parent) : QWidget(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(TrackBar2Accessible), true);
    (void)factoryInstalled;
    FTickColor = palette().color(QPalette::Button);
    FThumbColor = palette().color(QPalette::Button);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAutoFillBackground(true);
    resize(500, 50);
    FOrientation = Orientation();
    PrepareThumbImage();
    PrepareTickImage();
    PrepareDitherPattern();
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
    ThumbGeometryChanged();
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
    PrepareDitherPattern();
    update();
}

void TTrackBar2::SetTickSize(int value) {
    FTickSize = value;
    PrepareTickImage();
    update();
}

void TTrackBar2::SetTickStyle(TTickStyle value) {
    FTickStyle = value;
    if (value == tiLine) FTickColor = Qt::black;
    PrepareTickImage();
    update();
}

void TTrackBar2::SetTickColor(const QColor& value) {
    FTickColor = value;
    PrepareTickImage();
    update();
}

void TTrackBar2::SetTickOrientation(TTickOrientation value) {
    FTickOrientation = value;
    ThumbGeometryChanged();
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
    NotifyAccessibleValue();
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
    ThumbGeometryChanged();
}

void TTrackBar2::SetThumbStyle(TThumbStyle value) {
    FThumbStyle = value;
    ThumbGeometryChanged();
}

void TTrackBar2::SetThumbColor(const QColor& value) {
    FThumbColor = value;
    PrepareThumbImage();
    update();
}

void TTrackBar2::SetSecondThumb(bool value) {
    FSecondThumb = value;
    PrepareThumbImage();
    update();
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
        PrepareThumbImage();
    }
    update();
}

void TTrackBar2::ThumbGeometryChanged() {
    PrepareThumbImage();
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
        PrepareThumbImage();
    }
    QPainter canvas(this);
    if (OnPaint) OnPaint(this, canvas);
    const TBarGeometry g = Geometry();
    if (FTrackStyle == trUserDrawn)
        DoDrawTrack(canvas);
    else
        DrawTrack(canvas, g);
    DrawTicks(canvas, g);
    DrawThumbs(canvas, g);
}

void TTrackBar2::DrawTrack(QPainter& canvas, const TBarGeometry& g) {
    const TBarRect& r = g.Track;
    if (r.Width() <= 0 || r.Height() <= 0) return;
    if (isEnabled()) {
        canvas.fillRect(r.Left, r.Top, r.Width(), r.Height(), FTrackColor);
    } else {
        canvas.setBrushOrigin(0, 0);
        canvas.fillRect(r.Left, r.Top, r.Width(), r.Height(), QBrush(FDither));
    }
    if (FTrackStyle == trRaised || FTrackStyle == trLowered)
        DrawBevel(canvas, r, FTrackStyle == trRaised);
}

void TTrackBar2::DoDrawTrack(QPainter& canvas) {
    if (OnDrawTrack) OnDrawTrack(this, canvas);
}

void TTrackBar2::PrepareTickImage() {
    const int s = std::max(FTickSize, 1);
    FTickImage = QImage(s, s, QImage::Format_RGB32);
    FTickImage.fill(FTickColor);
    QPainter p(&FTickImage);
    const TBarRect r{0, 0, s, s};
    switch (FTickStyle) {
    case tiSquare:
        p.setPen(Qt::black);
        p.drawRect(0, 0, s - 1, s - 1);
        break;
    case tiRaisedSquare:
    case tiLoweredSquare: {
        const bool raised = FTickStyle == tiRaisedSquare;
        const QColor light = raised ? QColor(Qt::white) : QColor(Qt::black);
        const QColor dark = raised ? QColor(Qt::black) : QColor(Qt::white);
        p.fillRect(r.Left, r.Top, s, 1, light);
        p.fillRect(r.Left, r.Top, 1, s, light);
        p.fillRect(r.Left, s - 1, s, 1, dark);
        p.fillRect(s - 1, r.Top, 1, s, dark);
        break;
    }
    default:
        break;
    }
}

void TTrackBar2::DrawTicks(QPainter& canvas, const TBarGeometry& g) {
    if (FTickInterval < 1) return;
    const bool vertical = Orientation() == toVertical;
    const bool nearSide = FTickOrientation == toTopLeft || FTickOrientation == toBoth;
    const bool farSide = FTickOrientation == toBottomRight || FTickOrientation == toBoth;
    const int farEdge = (vertical ? width() : height()) - FTickSize - 2;
    const int64_t range = std::max<int64_t>(int64_t(FMax) - FMin, 1);
    const int L = g.TrackLength, shift = g.ThumbOffset + g.TrackOffset;
    auto place = [&](int64_t v) {
        const int64_t steps = vertical ? FMax - v : v - FMin;
        return static_cast<int>(steps * L / range) + shift;
    };
    auto tick = [&](int p, int64_t v) {
        for (int side = 0; side < 2; ++side) {
            if (!(side == 0 ? nearSide : farSide)) continue;
            const int across = side == 0 ? 2 : farEdge;
            const int x = vertical ? across : p, y = vertical ? p : across;
            if (FTickStyle == tiUserDrawn)
                DoDrawTick(canvas, x, y, static_cast<int>(v));
            else
                DrawTickAt(canvas, x, y);
        }
    };
    const int64_t last = FMin + (int64_t(FMax) - FMin) / FTickInterval * FTickInterval;
    if (FTickStyle != tiUserDrawn && L > 0 && int64_t(FTickInterval) * L <= range) {
        // Ticks at most a pixel apart cover every pixel of their span: draw
        // each pixel once instead of once per value.
        const int from = std::min(place(FMin), place(last)),
                  to = std::max(place(FMin), place(last));
        for (int p = from; p <= to; ++p)
            tick(p, 0);
        return;
    }
    for (int64_t v = FMin; v <= last; v += FTickInterval)
        tick(place(v), v);
}

void TTrackBar2::DrawTickAt(QPainter& canvas, int x, int y) {
    const bool vertical = Orientation() == toVertical;
    if (FTickStyle == tiLine) {
        if (vertical)
            canvas.fillRect(x, y, FTickSize, 1, FTickColor);
        else
            canvas.fillRect(x, y, 1, FTickSize, FTickColor);
        return;
    }
    if (vertical)
        canvas.drawImage(x, y - FTickSize / 2, FTickImage);
    else
        canvas.drawImage(x - FTickSize / 2, y, FTickImage);
}

void TTrackBar2::DoDrawTick(QPainter& canvas, int x, int y, int position) {
    if (OnDrawTick) OnDrawTick(this, canvas, x, y, position);
}

void TTrackBar2::PrepareThumbImage() {
    const bool vertical = Orientation() == toVertical;
    if (IsPointer(FThumbStyle)) {
        FThumbSize = PointerSize(FThumbStyle).Width;
        FThumbImage =
            PointerImage(FThumbStyle, vertical, FTickOrientation == toBottomRight, FThumbColor);
        return;
    }
    if (FThumbStyle == tsUserDrawn) {
        FThumbImage = QImage();
        return;
    }
    const int w = std::max(vertical ? FThumbSize : FThumbSize / 2, 1);
    const int h = std::max(vertical ? FThumbSize / 2 : FThumbSize, 1);
    FThumbImage = QImage(w, h, QImage::Format_ARGB32);
    FThumbImage.fill(FThumbColor);
    QPainter p(&FThumbImage);
    if (FThumbStyle == tsRectangle) {
        p.setPen(Qt::black);
        p.drawRect(0, 0, w - 1, h - 1);
    } else {
        DrawBevel(p, TBarRect{0, 0, w, h}, FThumbStyle == tsRaisedRectangle);
    }
}

QImage TTrackBar2::ComposedThumb(int left, int top) const {
    QImage thumb = FThumbImage;
    if (!isEnabled() && FDitherThumb)
        FloodDither(thumb, thumb.width() / 2, thumb.height() / 2, FDither, left, top);
    return thumb;
}

void TTrackBar2::DrawThumbs(QPainter& canvas, const TBarGeometry& g) {
    if (FThumbStyle == tsUserDrawn) {
        DoDrawThumb(canvas, g.LowerThumb.x(), g.LowerThumb.y());
        if (FSecondThumb) DoDrawThumb(canvas, g.UpperThumb.x(), g.UpperThumb.y());
        return;
    }
    canvas.drawImage(g.LowerThumb, ComposedThumb(g.LowerThumb.x(), g.LowerThumb.y()));
    if (!FSecondThumb) return;
    canvas.drawImage(g.UpperThumb, ComposedThumb(g.UpperThumb.x(), g.UpperThumb.y()));
    // The range line between the two thumbs.
    if (Orientation() == toVertical) {
        const int y = (g.ThumbHeight + g.LowerThumb.y() + g.UpperThumb.y()) / 2;
        canvas.fillRect(g.Track.Left, y, g.Track.Width(), 1, Qt::black);
    } else {
        const int x = (g.ThumbWidth + g.LowerThumb.x() + g.UpperThumb.x()) / 2;
        canvas.fillRect(x, g.Track.Top, 1, g.Track.Height(), Qt::black);
    }
}

void TTrackBar2::DoDrawThumb(QPainter& canvas, int x, int y) {
    if (OnDrawThumb) OnDrawThumb(this, canvas, x, y);
}

void TTrackBar2::PrepareDitherPattern() {
    FDither = QImage(8, 8, QImage::Format_RGB32);
    const QColor other = FTrackColor.rgb() == kSilver.rgb() ? kGrey : kSilver;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            FDither.setPixelColor(x, y, (x + y) % 2 ? other : FTrackColor);
}

void TTrackBar2::DoChange() {
    if (OnChange) OnChange(this);
}

void TTrackBar2::NotifyAccessibleValue() {
    if (!QAccessible::isActive()) return;
    QAccessibleValueChangeEvent event(this, FPositionL);
    QAccessible::updateAccessibility(&event);
}

// ---- state changes -----------------------------------------------------

void TTrackBar2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (FOrientation != Orientation()) {
        FOrientation = Orientation();
        PrepareThumbImage();
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
