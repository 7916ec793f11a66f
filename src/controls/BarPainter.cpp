#include "controls/BarPainter.h"

#include <QPainter>
#include <QPolygon>
#include <QTransform>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);

} // namespace

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

namespace {

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

} // namespace

void TBarPainter::DrawTrack(QPainter& canvas, const TBarGeometry& g) const {
    if (FBar.FTrackStyle == trUserDrawn) {
        if (FBar.OnDrawTrack) FBar.OnDrawTrack(&FBar, canvas);
        return;
    }
    const TBarRect& r = g.Track;
    if (r.Width() <= 0 || r.Height() <= 0) return;
    if (FBar.isEnabled()) {
        canvas.fillRect(r.Left, r.Top, r.Width(), r.Height(), FBar.FTrackColor);
    } else {
        canvas.setBrushOrigin(0, 0);
        canvas.fillRect(r.Left, r.Top, r.Width(), r.Height(), QBrush(FDither));
    }
    if (FBar.FTrackStyle == trRaised || FBar.FTrackStyle == trLowered)
        DrawBevel(canvas, r, FBar.FTrackStyle == trRaised);
}

void TBarPainter::PrepareTickImage() {
    const int s = std::max(FBar.FTickSize, 1);
    FTickImage = QImage(s, s, QImage::Format_RGB32);
    FTickImage.fill(FBar.FTickColor);
    QPainter p(&FTickImage);
    const TBarRect r{0, 0, s, s};
    switch (FBar.FTickStyle) {
    case tiSquare:
        p.setPen(Qt::black);
        p.drawRect(0, 0, s - 1, s - 1);
        break;
    case tiRaisedSquare:
    case tiLoweredSquare: {
        const bool raised = FBar.FTickStyle == tiRaisedSquare;
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

void TBarPainter::DrawTicks(QPainter& canvas, const TBarGeometry& g) const {
    if (FBar.FTickInterval < 1) return;
    const bool vertical = FBar.Orientation() == toVertical;
    const bool nearSide = FBar.FTickOrientation == toTopLeft || FBar.FTickOrientation == toBoth;
    const bool farSide = FBar.FTickOrientation == toBottomRight || FBar.FTickOrientation == toBoth;
    const int farEdge = (vertical ? FBar.width() : FBar.height()) - FBar.FTickSize - 2;
    const int64_t range = std::max<int64_t>(int64_t(FBar.FMax) - FBar.FMin, 1);
    const int L = g.TrackLength, shift = g.ThumbOffset + g.TrackOffset;
    auto place = [&](int64_t v) {
        const int64_t steps = vertical ? FBar.FMax - v : v - FBar.FMin;
        return static_cast<int>(steps * L / range) + shift;
    };
    auto tick = [&](int p, int64_t v) {
        for (int side = 0; side < 2; ++side) {
            if (!(side == 0 ? nearSide : farSide)) continue;
            const int across = side == 0 ? 2 : farEdge;
            const int x = vertical ? across : p, y = vertical ? p : across;
            if (FBar.FTickStyle != tiUserDrawn)
                DrawTickAt(canvas, x, y);
            else if (FBar.OnDrawTick)
                FBar.OnDrawTick(&FBar, canvas, x, y, static_cast<int>(v));
        }
    };
    const int64_t last =
        FBar.FMin + (int64_t(FBar.FMax) - FBar.FMin) / FBar.FTickInterval * FBar.FTickInterval;
    if (FBar.FTickStyle != tiUserDrawn && L > 0 && int64_t(FBar.FTickInterval) * L <= range) {
        // Ticks at most a pixel apart cover every pixel of their span: draw
        // each pixel once instead of once per value.
        const int from = std::min(place(FBar.FMin), place(last)),
                  to = std::max(place(FBar.FMin), place(last));
        for (int p = from; p <= to; ++p)
            tick(p, 0);
        return;
    }
    for (int64_t v = FBar.FMin; v <= last; v += FBar.FTickInterval)
        tick(place(v), v);
}

void TBarPainter::DrawTickAt(QPainter& canvas, int x, int y) const {
    const bool vertical = FBar.Orientation() == toVertical;
    if (FBar.FTickStyle == tiLine) {
        if (vertical)
            canvas.fillRect(x, y, FBar.FTickSize, 1, FBar.FTickColor);
        else
            canvas.fillRect(x, y, 1, FBar.FTickSize, FBar.FTickColor);
        return;
    }
    if (vertical)
        canvas.drawImage(x, y - FBar.FTickSize / 2, FTickImage);
    else
        canvas.drawImage(x - FBar.FTickSize / 2, y, FTickImage);
}

void TBarPainter::RedoThumb() {
    PrepareThumbImage();
    FBar.update();
}

void TBarPainter::PrepareThumbImage() {
    const bool vertical = FBar.Orientation() == toVertical;
    if (IsPointer(FBar.FThumbStyle)) {
        FBar.FThumbSize = PointerSize(FBar.FThumbStyle).Width;
        FThumbImage = PointerImage(FBar.FThumbStyle, vertical,
                                   FBar.FTickOrientation == toBottomRight, FBar.FThumbColor);
        return;
    }
    if (FBar.FThumbStyle == tsUserDrawn) {
        FThumbImage = QImage();
        return;
    }
    const int w = std::max(vertical ? FBar.FThumbSize : FBar.FThumbSize / 2, 1);
    const int h = std::max(vertical ? FBar.FThumbSize / 2 : FBar.FThumbSize, 1);
    FThumbImage = QImage(w, h, QImage::Format_ARGB32);
    FThumbImage.fill(FBar.FThumbColor);
    QPainter p(&FThumbImage);
    if (FBar.FThumbStyle == tsRectangle) {
        p.setPen(Qt::black);
        p.drawRect(0, 0, w - 1, h - 1);
    } else {
        DrawBevel(p, TBarRect{0, 0, w, h}, FBar.FThumbStyle == tsRaisedRectangle);
    }
}

QImage TBarPainter::ComposedThumb(int left, int top) const {
    QImage thumb = FThumbImage;
    if (!FBar.isEnabled() && FBar.FDitherThumb)
        FloodDither(thumb, thumb.width() / 2, thumb.height() / 2, FDither, left, top);
    return thumb;
}

void TBarPainter::DrawThumbs(QPainter& canvas, const TBarGeometry& g) const {
    if (FBar.FThumbStyle == tsUserDrawn) {
        if (!FBar.OnDrawThumb) return;
        FBar.OnDrawThumb(&FBar, canvas, g.LowerThumb.x(), g.LowerThumb.y());
        if (FBar.FSecondThumb) FBar.OnDrawThumb(&FBar, canvas, g.UpperThumb.x(), g.UpperThumb.y());
        return;
    }
    canvas.drawImage(g.LowerThumb, ComposedThumb(g.LowerThumb.x(), g.LowerThumb.y()));
    if (!FBar.FSecondThumb) return;
    canvas.drawImage(g.UpperThumb, ComposedThumb(g.UpperThumb.x(), g.UpperThumb.y()));
    // The range line between the two thumbs.
    if (FBar.Orientation() == toVertical) {
        const int y = (g.ThumbHeight + g.LowerThumb.y() + g.UpperThumb.y()) / 2;
        canvas.fillRect(g.Track.Left, y, g.Track.Width(), 1, Qt::black);
    } else {
        const int x = (g.ThumbWidth + g.LowerThumb.x() + g.UpperThumb.x()) / 2;
        canvas.fillRect(x, g.Track.Top, 1, g.Track.Height(), Qt::black);
    }
}

void TBarPainter::PrepareDitherPattern() {
    FDither = QImage(8, 8, QImage::Format_RGB32);
    const QColor other = FBar.FTrackColor.rgb() == kSilver.rgb() ? kGrey : kSilver;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            FDither.setPixelColor(x, y, (x + y) % 2 ? other : FBar.FTrackColor);
}
