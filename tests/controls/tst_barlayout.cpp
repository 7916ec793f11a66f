// The track bar's layout alone: which thumb a press takes and where it steps
// on a vertical bar, ranges near the ends of int, and a range of one value.
#include "controls/BarLayout.h"

#include <QTest>

namespace {

// 20 x 200, range 0..20, rectangle thumbs of size 20: L = 180, o = 5,
// t = 5, thumb y = 9 * (20 - position) + 5.
TBarShape VerticalShape() {
    TBarShape shape;
    shape.Width = 20;
    shape.Height = 200;
    shape.Vertical = true;
    return shape;
}

TBarShape HorizontalShape(int min, int max) {
    TBarShape shape;
    shape.Width = 200;
    shape.Height = 20;
    shape.Min = min;
    shape.Max = max;
    return shape;
}

} // namespace

class TestBarLayout : public QObject {
    Q_OBJECT

private slots:
    void aVerticalBarPicksTheUpperThumbAboveTheMidpointAndStepsUpwards() {
        const TBarLayout layout(VerticalShape());
        const TBarGeometry g = layout.Place(5, 15);
        QCOMPARE(g.LowerRect, (TBarRect{0, 140, 20, 150}));
        QCOMPARE(g.UpperRect, (TBarRect{0, 50, 20, 60}));
        // Midpoint (140 + 60) div 2 = 100; the upper thumb lies above it.
        QVERIFY(layout.PicksUpper(g, 10, 99));
        QVERIFY(!layout.PicksUpper(g, 10, 100));
        QVERIFY(!layout.PicksUpper(g, 0, 180));
        // Above the thumb is up, below it down, beside its span nothing.
        QCOMPARE(layout.StepTowards(g.LowerRect, 10, 139, 3), 3);
        QCOMPARE(layout.StepTowards(g.LowerRect, 10, 140, 3), 0);
        QCOMPARE(layout.StepTowards(g.LowerRect, 0, 149, 3), 0);
        QCOMPARE(layout.StepTowards(g.LowerRect, 10, 150, 3), -3);
        // The top of the bar is the maximum.
        QCOMPARE(layout.ValueAt(10, 0), 20);

        // Lying down, right is up.
        const TBarLayout flat(HorizontalShape(0, 20));
        const TBarGeometry h = flat.Place(5, 15); // x 50..59 and 140..149
        QVERIFY(flat.PicksUpper(h, 101, 10));
        QVERIFY(!flat.PicksUpper(h, 100, 10));
        QCOMPARE(flat.StepTowards(h.LowerRect, 60, 10, 2), 2);
        QCOMPARE(flat.StepTowards(h.LowerRect, 59, 10, 2), 0);
        QCOMPARE(flat.StepTowards(h.LowerRect, 49, 10, 2), -2);
    }

    void rangesNearTheEndsOfIntMapWithoutOverflow() {
        const TBarLayout layout(HorizontalShape(-2000000000, 2000000000));
        const TBarGeometry g = layout.Place(-2000000000, 2000000000);
        QCOMPARE(g.LowerThumb.x(), 5);   // the start of the travel
        QCOMPARE(g.UpperThumb.x(), 185); // its end, 180 further
        QCOMPARE(layout.Place(0, 0).LowerThumb.x(), 95);
        QCOMPARE(layout.ValueAt(5, 10), -2000000000);
        QCOMPARE(layout.ValueAt(185, 10), 2000000000);
        QCOMPARE(layout.ValueAt(95, 10), 0);
    }

    void aRangeOfOneValueAndABarShorterThanItsThumbStillLayOut() {
        const TBarLayout single(HorizontalShape(7, 7));
        QCOMPARE(single.Place(7, 7).LowerThumb.x(), 5);
        QCOMPARE(single.ValueAt(5, 10), 7);

        TBarShape tiny = HorizontalShape(0, 20);
        tiny.Width = 20; // as wide as its thumb: no travel left
        const TBarLayout small(tiny);
        QCOMPARE(small.Place(0, 20).TrackLength, 0);
        QCOMPARE(small.ValueAt(5, 10), 0); // no division by the travel of 0
    }
};

QTEST_MAIN(TestBarLayout)
#include "tst_barlayout.moc"
