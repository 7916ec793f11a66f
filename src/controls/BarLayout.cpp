#include "controls/BarLayout.h"

#include "controls/BarPainter.h"

#include <algorithm>
#include <cstdint>

namespace {

// The thumb's size across and along the bar's lie, and the offset of its
// centre from its corner along the track.
void SizeThumb(const TBarShape& s, TBarGeometry& g) {
    if (s.ThumbStyle == tsUserDrawn) {
        g.ThumbWidth = g.ThumbHeight = s.ThumbSize;
        g.ThumbOffset = s.ThumbSize / 2;
    } else if (IsPointer(s.ThumbStyle)) {
        const TPointerSize size = PointerSize(s.ThumbStyle);
        g.ThumbWidth = s.Vertical ? size.Height : size.Width;
        g.ThumbHeight = s.Vertical ? size.Width : size.Height;
        g.ThumbOffset = s.ThumbSize / 2;
    } else {
        g.ThumbWidth = s.Vertical ? s.ThumbSize : s.ThumbSize / 2;
        g.ThumbHeight = s.Vertical ? s.ThumbSize / 2 : s.ThumbSize;
        g.ThumbOffset = s.ThumbSize / 4;
    }
}

std::int64_t RangeOf(const TBarShape& s) {
    return std::max<std::int64_t>(std::int64_t(s.Max) - s.Min, 1);
}

} // namespace

TBarGeometry TBarLayout::Place(int lower, int upper) const {
    const TBarShape& s = FShape;
    TBarGeometry g;
    SizeThumb(s, g);
    const int along = s.Vertical ? s.Height : s.Width;
    const int L = along - s.ThumbSize;
    const int o = g.ThumbOffset;
    g.TrackLength = L;
    // The track runs between the thumb centres at the two ends of the range.
    const int a = o, b = L + o;
    const int t = (along - (b - a)) / 2 - o;
    g.TrackOffset = t;
    const std::int64_t range = RangeOf(s);
    auto scaled = [&](std::int64_t n) { return static_cast<int>(n * L / range); };
    if (s.Vertical) {
        g.Track = {s.Width / 2 - s.TrackSize / 2, a + t, s.Width / 2 + s.TrackSize / 2, b + t};
        const int x = s.Width / 2 - g.ThumbWidth / 2;
        g.LowerThumb = QPoint(x, scaled(std::int64_t(s.Max) - lower) + t);
        g.UpperThumb = QPoint(x, scaled(std::int64_t(s.Max) - upper) + t);
    } else {
        g.Track = {a + t, s.Height / 2 - s.TrackSize / 2, b + t, s.Height / 2 + s.TrackSize / 2};
        const int y = s.Height / 2 - g.ThumbHeight / 2;
        g.LowerThumb = QPoint(scaled(std::int64_t(lower) - s.Min) + t, y);
        g.UpperThumb = QPoint(scaled(std::int64_t(upper) - s.Min) + t, y);
    }
    if (s.ThumbStyle != tsUserDrawn) {
        auto rect = [&](QPoint p) {
            return TBarRect{p.x(), p.y(), p.x() + g.ThumbWidth, p.y() + g.ThumbHeight};
        };
        g.LowerRect = rect(g.LowerThumb);
        g.UpperRect = rect(g.UpperThumb);
    }
    return g;
}

int TBarLayout::ValueAt(int x, int y) const {
    TBarGeometry g;
    SizeThumb(FShape, g);
    const std::int64_t range = RangeOf(FShape);
    const int along = FShape.Vertical ? FShape.Height : FShape.Width;
    const std::int64_t L = std::max(along - FShape.ThumbSize, 1);
    if (FShape.Vertical)
        return static_cast<int>(FShape.Max - (std::int64_t(y) + g.ThumbOffset) * range / L);
    return static_cast<int>(FShape.Min + (std::int64_t(x) - g.ThumbOffset) * range / L);
}

bool TBarLayout::PicksUpper(const TBarGeometry& g, int x, int y) const {
    if (FShape.Vertical) return y < (g.LowerRect.Top + g.UpperRect.Bottom) / 2;
    return x > (g.LowerRect.Right + g.UpperRect.Left) / 2;
}

int TBarLayout::StepTowards(const TBarRect& thumb, int x, int y, int step) const {
    if (FShape.Vertical) {
        if (y < thumb.Top) return step;
        if (y >= thumb.Bottom) return -step;
        return 0;
    }
    if (x >= thumb.Right) return step;
    if (x < thumb.Left) return -step;
    return 0;
}
