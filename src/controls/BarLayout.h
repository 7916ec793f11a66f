// Where things lie on a `TTrackBar2` and back: the track, the thumbs for
// two positions, the position under a point, and what a press beside a
// thumb does. Pure arithmetic over the bar's shape, so it can be checked
// without a window.
//
//   const TBarLayout layout(shape);
//   TBarGeometry g = layout.Place(lower, upper);
//   int value = layout.ValueAt(x, y);
#pragma once

#include "controls/Tracker2.h"

// What the layout depends on: the bar's size and lie, its thumb and track
// sizes and the range of its positions.
struct TBarShape {
    int Width = 0, Height = 0;
    bool Vertical = false;
    TThumbStyle ThumbStyle = tsRaisedRectangle;
    int ThumbSize = 20;
    int TrackSize = 10;
    int Min = 0, Max = 20;
};

// A value object; any thread.
class TBarLayout {
public:
    explicit TBarLayout(const TBarShape& shape) : FShape(shape) {}

    // The track and the thumbs at positions `lower` and `upper`.
    TBarGeometry Place(int lower, int upper) const;
    // The position under a point (not limited to the range). A vertical bar
    // has its maximum at the top.
    int ValueAt(int x, int y) const;
    // With two thumbs, whether a press at the point takes the upper one: it
    // lies on the upper thumb's side of the midpoint between them.
    bool PicksUpper(const TBarGeometry& g, int x, int y) const;
    // The step a shift-press beside `thumb` makes towards the point: `step`
    // up, `-step` down, 0 on the thumb's span.
    int StepTowards(const TBarRect& thumb, int x, int y, int step) const;

private:
    TBarShape FShape;
};
