// The built-in drawing of a `TTrackBar2`: its track, ticks and thumbs in
// the bar's styles, and the pictures they are drawn from (thumb, tick and
// the 8 x 8 dither pattern of a disabled bar), made again when what they
// show changes. User-drawn parts go to the bar's drawing events.
//
// Threads: user-interface thread only, as the bar.
#pragma once

#include "controls/Tracker2.h"

#include <QImage>

class QPainter;

// The pointer thumb pictures, pointing up: width x height. Bars lying on
// their side use them turned by a quarter.
struct TPointerSize {
    int Width, Height;
};
TPointerSize PointerSize(TThumbStyle style);
bool IsPointer(TThumbStyle style);

class TBarPainter {
public:
    explicit TBarPainter(TTrackBar2& bar) : FBar(bar) {}

    // The thumb picture for the bar's style, colour and direction; a pointer
    // style also sets the bar's thumb size to the picture's.
    void PrepareThumbImage();
    // The thumb picture made again and the bar repainted with it.
    void RedoThumb();
    void PrepareTickImage();
    void PrepareDitherPattern();

    // Each draws in the bar's style, or raises the bar's drawing event when
    // that part is user drawn.
    void DrawTrack(QPainter& canvas, const TBarGeometry& g) const;
    void DrawTicks(QPainter& canvas, const TBarGeometry& g) const;
    void DrawThumbs(QPainter& canvas, const TBarGeometry& g) const;

private:
    void DrawTickAt(QPainter& canvas, int x, int y) const;
    QImage ComposedThumb(int left, int top) const;

    TTrackBar2& FBar;
    QImage FThumbImage; // ARGB: transparent outside a pointer's mask
    QImage FTickImage;
    QImage FDither; // 8 x 8
};
