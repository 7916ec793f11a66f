// The range track bar: position rules, geometry, painting in the built-in
// styles and through the owner's events, mouse and keyboard.
#include "ControlsHarness.h"
#include "controls/Tracker2.h"

#include <QAccessible>
#include <QApplication>
#include <QPainter>
#include <QTest>
#include <vector>

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kSilver = qRgb(192, 192, 192);

// A 200 x 20 bar, range 0..20, rectangle thumbs of size 20, on a shown host:
// L = 180, o = 5, t = 5, thumb x = 9 * position + 5.
struct TBarOnHost {
    std::unique_ptr<QWidget> Host = ShownHost();
    TTrackBar2* Bar = nullptr;
    int Changes = 0;

    explicit TBarOnHost(QSize size = QSize(200, 20)) {
        if (!Host) return;
        Bar = new TTrackBar2(Host.get());
        Bar->setGeometry(QRect(QPoint(10, 10), size));
        Bar->OnChange = [this](TTrackBar2* sender) {
            if (sender == Bar) ++Changes;
        };
        Bar->show();
    }
};

} // namespace

class TestTrackBar2 : public QObject {
    Q_OBJECT

private slots:
    void startsWithItsDefaults() {
        TTrackBar2 bar;
        QCOMPARE(bar.Max(), 20);
        QCOMPARE(bar.Min(), 0);
        QCOMPARE(bar.PositionL(), 0);
        QCOMPARE(bar.PositionU(), 10);
        QCOMPARE(bar.size(), QSize(500, 50));
        QCOMPARE(bar.Orientation(), toHorizontal); // 500 x 50 is wider than tall
        QCOMPARE(bar.TrackStyle(), trLowered);
        QCOMPARE(bar.ThumbStyle(), tsRaisedRectangle);
        QCOMPARE(bar.TickStyle(), tiRaisedSquare);
        QCOMPARE(bar.TickOrientation(), toBoth);
        QCOMPARE(bar.ThumbSize(), 20);
        QCOMPARE(bar.TrackSize(), 10);
        QVERIFY(!bar.SecondThumb());
        QVERIFY(bar.DitherThumb());
        QVERIFY(bar.focusPolicy() & Qt::TabFocus);
    }

    void positionsKeepTheirOrderAndRange() {
        TTrackBar2 bar;
        int changes = 0;
        bar.OnChange = [&](TTrackBar2*) { ++changes; };
        bar.SetSecondThumb(true);
        bar.SetPositionL(10); // PositionU is 10
        QCOMPARE(bar.PositionL(), 9);
        QCOMPARE(changes, 1);
        bar.SetPositionL(5);
        bar.SetPositionU(3);
        QCOMPARE(bar.PositionU(), 6);
        QCOMPARE(changes, 3);
        bar.SetPositionU(40);
        QCOMPARE(bar.PositionU(), 20);
        bar.SetPositionL(-4);
        QCOMPARE(bar.PositionL(), 0);

        // The same value again changes nothing and says nothing.
        changes = 0;
        bar.SetPositionL(0);
        bar.SetPositionU(20);
        QCOMPARE(changes, 0);
    }

    void aClampedValueStillReportsAChange() {
        TTrackBar2 bar;
        int changes = 0;
        bar.OnChange = [&](TTrackBar2*) { ++changes; };
        bar.SetPositionL(25);
        QCOMPARE(bar.PositionL(), 20);
        bar.SetPositionL(25);
        QCOMPARE(bar.PositionL(), 20);
        QCOMPARE(changes, 2);
    }

    void rangeChangesPullPositionsSilently() {
        TTrackBar2 bar;
        int changes = 0;
        bar.OnChange = [&](TTrackBar2*) { ++changes; };
        bar.SetMax(6); // below PositionU 10
        QCOMPARE(bar.PositionU(), 6);
        bar.SetMin(3); // above PositionL 0
        QCOMPARE(bar.PositionL(), 3);
        QCOMPARE(changes, 0);
    }

    void styleSideEffects() {
        TTrackBar2 bar;
        bar.SetTickColor(Qt::red);
        bar.SetTickStyle(tiLine);
        QCOMPARE(bar.TickColor(), QColor(Qt::black));

        bar.SetCtl3D(false);
        bar.SetTrackStyle(trFlat);
        bar.SetThumbStyle(tsLoweredRectangle);
        bar.SetCtl3D(true);
        QCOMPARE(bar.TrackStyle(), trLowered);
        QCOMPARE(bar.ThumbStyle(), tsRaisedRectangle);
        bar.SetThumbStyle(tsSmallPointer);
        bar.SetCtl3D(false);
        bar.SetCtl3D(true);
        QCOMPARE(bar.ThumbStyle(), tsSmallPointer); // pointers stay
    }

    void horizontalGeometry() {
        TTrackBar2 bar;
        bar.resize(200, 20);
        bar.SetPositionL(10);
        const TBarGeometry g = bar.Geometry();
        QCOMPARE(g.TrackLength, 180);
        QCOMPARE(g.ThumbOffset, 5);
        QCOMPARE(g.TrackOffset, 5);
        QCOMPARE(g.Track, (TBarRect{10, 5, 190, 15}));
        QCOMPARE(g.LowerThumb, QPoint(95, 0));
        QCOMPARE(g.LowerRect, (TBarRect{95, 0, 105, 20}));
        QCOMPARE(bar.ValueAt(150, 10), 16); // (150 - 5) * 20 div 180
        QCOMPARE(bar.ValueAt(0, 10), 0);    // truncated toward zero
    }

    void verticalGeometry() {
        TTrackBar2 bar;
        bar.resize(20, 200);
        QCOMPARE(bar.Orientation(), toVertical);
        bar.SetPositionL(5);
        const TBarGeometry g = bar.Geometry();
        QCOMPARE(g.ThumbWidth, 20);
        QCOMPARE(g.ThumbHeight, 10);
        QCOMPARE(g.Track, (TBarRect{5, 10, 15, 190}));
        QCOMPARE(g.LowerThumb, QPoint(0, 140)); // (20 - 5) * 180 div 20 + 5
        QCOMPARE(bar.ValueAt(10, 50), 14);      // 20 - (50 + 5) * 20 div 180
    }

    void aRangeAwayFromZeroStaysOnTheBar() {
        TTrackBar2 bar;
        bar.resize(200, 20);
        bar.SetMin(-100);
        bar.SetMax(100);
        bar.SetPositionL(-100);
        const TBarGeometry g = bar.Geometry();
        QCOMPARE(g.Track, (TBarRect{10, 5, 190, 15}));
        QCOMPARE(g.LowerThumb.x(), 5);
        bar.SetPositionL(100);
        QCOMPARE(bar.Geometry().LowerThumb.x(), 185);
        QCOMPARE(bar.ValueAt(95, 10), 0);
    }

    void orientationFollowsTheShape() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        QCOMPARE(on.Bar->Orientation(), toHorizontal);
        on.Bar->resize(20, 200);
        QCOMPARE(on.Bar->Orientation(), toVertical);
        on.Bar->resize(50, 50); // a square keeps what it had
        QCOMPARE(on.Bar->Orientation(), toVertical);
        on.Bar->resize(30, 120);
        on.Bar->SetOrientation(toHorizontal); // does not fit: width and height swap
        QCOMPARE(on.Bar->size(), QSize(120, 30));
        QCOMPARE(on.Bar->Orientation(), toHorizontal);
        on.Bar->resize(60, 60);
        on.Bar->SetOrientation(toVertical);
        QCOMPARE(on.Bar->size(), QSize(60, 60));
        QCOMPARE(on.Bar->Orientation(), toVertical);
    }

    void drawsItsBuiltInStyles() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetPositionL(10);
        const QImage shot = Shot(on.Bar, "trackbar-raised");
        QVERIFY(ColourCount(shot) >= 5);
        // Raised thumb at x 95..104: white outer left edge, black outer right.
        QCOMPARE(shot.pixel(95, 2), kWhite);
        QCOMPARE(shot.pixel(104, 2), kBlack);
        QCOMPARE(shot.pixel(96, 10), kSilver);
        // Lowered track at x 10..189, y 5..14: black outer top, white fill.
        QCOMPARE(shot.pixel(40, 5), kBlack);
        QCOMPARE(shot.pixel(40, 10), kWhite);
        QCOMPARE(shot.pixel(40, 14), kWhite); // outer bottom edge of a lowered bevel
        QVERIFY(shot.pixel(40, 3) != kWhite); // background above the track
    }

    void ticksOfAHugeRangeCoverTheTrack() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetTickStyle(tiLine);
        on.Bar->SetMax(2'000'000'000);
        on.Bar->SetThumbStyle(tsUserDrawn); // nothing over the ticks
        const QImage shot = Shot(on.Bar, "trackbar-dense-ticks");
        for (int x = 10; x <= 190; ++x) {
            QCOMPARE(shot.pixel(x, 3), kBlack);
            QCOMPARE(shot.pixel(x, 16), kBlack);
        }
        QVERIFY(shot.pixel(9, 3) != kBlack);
        QVERIFY(shot.pixel(191, 16) != kBlack);
    }

    void drawsTheRangeLineBetweenTwoThumbs() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetTickStyle(tiUserDrawn);
        on.Bar->SetSecondThumb(true);
        on.Bar->SetPositionU(15);
        on.Bar->SetPositionL(5);
        const QImage shot = Shot(on.Bar, "trackbar-range");
        // Thumbs at x 50 and 140, 10 wide: the line at (10 + 50 + 140) div 2.
        QCOMPARE(shot.pixel(100, 10), kBlack);
        QCOMPARE(shot.pixel(99, 10), kWhite);
        QCOMPARE(shot.pixel(140, 2), kWhite); // upper thumb's left edge
    }

    void dithersWhileDisabled() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetTickStyle(tiUserDrawn);
        on.Bar->setEnabled(false);
        const QImage shot = Shot(on.Bar, "trackbar-disabled");
        // The track: white and silver alternating, odd x + y silver.
        QCOMPARE(shot.pixel(50, 9), kSilver);
        QCOMPARE(shot.pixel(51, 9), kWhite);
        // The thumb's face (x 5..14 at position 0) is dithered as well.
        QCOMPARE(shot.pixel(8, 9), kSilver);
        QCOMPARE(shot.pixel(9, 9), kWhite);

        on.Bar->SetDitherThumb(false);
        const QImage plain = Shot(on.Bar, "trackbar-disabled-plain");
        QCOMPARE(plain.pixel(8, 9), plain.pixel(9, 9));
        QCOMPARE(plain.pixel(50, 9), kSilver); // the track stays dithered
    }

    void pointerThumbsTakeThePictureSize() {
        TBarOnHost on(QSize(200, 40));
        QVERIFY(on.Bar);
        on.Bar->SetThumbColor(Qt::red);
        on.Bar->SetThumbStyle(tsMediumPointer);
        QCOMPARE(on.Bar->ThumbSize(), 15);
        const TBarGeometry g = on.Bar->Geometry();
        QCOMPARE(g.ThumbWidth, 15);
        QCOMPARE(g.ThumbHeight, 24);
        QCOMPARE(g.ThumbOffset, 7);
        const QImage shot = Shot(on.Bar, "trackbar-pointer");
        const QPoint p = g.LowerThumb;
        QCOMPARE(shot.pixel(p.x() + 7, p.y() + 15), qRgb(255, 0, 0)); // the body
        QVERIFY(shot.pixel(p.x() + 1, p.y() + 1) != qRgb(255, 0, 0)); // beside the tip
        QCOMPARE(shot.pixel(p.x() + 7, p.y()), kBlack);               // the tip, pointing up
    }

    void theOwnerDrawsTrackTicksAndThumbs() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetMax(4);
        on.Bar->SetTrackStyle(trUserDrawn);
        on.Bar->SetTickStyle(tiUserDrawn);
        on.Bar->SetThumbStyle(tsUserDrawn);
        on.Bar->SetSecondThumb(true);
        on.Bar->SetPositionU(3);
        on.Bar->SetPositionL(1);
        std::vector<QString> calls;
        on.Bar->OnPaint = [&](TTrackBar2*, QPainter&) { calls.push_back("paint"); };
        on.Bar->OnDrawTrack = [&](TTrackBar2*, QPainter& canvas) {
            calls.push_back("track");
            canvas.fillRect(0, 0, 200, 20, Qt::darkBlue);
        };
        on.Bar->OnDrawTick = [&](TTrackBar2*, QPainter&, int x, int y, int position) {
            calls.push_back(QString("tick %1 %2 %3").arg(x).arg(y).arg(position));
        };
        on.Bar->OnDrawThumb = [&](TTrackBar2*, QPainter& canvas, int x, int y) {
            calls.push_back(QString("thumb %1 %2").arg(x).arg(y));
            canvas.fillRect(x, 0, 4, 20, Qt::yellow);
        };
        const QImage shot = Shot(on.Bar, "trackbar-owner");
        // User-drawn thumbs are ThumbSize square (o = 10): L = 180, t = 0;
        // ticks at v * 45 + 10, at y 2 and 20 - 6 - 2.
        const std::vector<QString> expected{
            "paint",        "track",         "tick 10 2 0",   "tick 10 12 0", "tick 55 2 1",
            "tick 55 12 1", "tick 100 2 2",  "tick 100 12 2", "tick 145 2 3", "tick 145 12 3",
            "tick 190 2 4", "tick 190 12 4", "thumb 45 0",    "thumb 135 0"};
        QCOMPARE(calls, expected);
        QCOMPARE(shot.pixel(46, 10), qRgb(255, 255, 0));
        QCOMPARE(shot.pixel(60, 10), qRgb(0, 0, 128));

        calls.clear();
        on.Bar->SetTickInterval(0);
        Shot(on.Bar, "trackbar-no-ticks");
        QCOMPARE(calls, (std::vector<QString>{"paint", "track", "thumb 45 0", "thumb 135 0"}));
    }

    void dragsTheThumbItWasPressedOn() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetPositionL(10); // thumb x 95..104
        on.Changes = 0;
        QTest::mousePress(on.Bar, Qt::LeftButton, {}, QPoint(100, 10));
        QVERIFY(on.Bar->TrackingL());
        QCOMPARE(on.Bar->PositionL(), 10);
        QVERIFY(on.Bar->hasFocus());
        QTest::mouseMove(on.Bar, QPoint(59, 10));
        QCOMPARE(on.Bar->PositionL(), 6); // (59 - 5) * 20 div 180
        QTest::mouseMove(on.Bar, QPoint(400, 10));
        QCOMPARE(on.Bar->PositionL(), 20);
        QTest::mouseRelease(on.Bar, Qt::LeftButton, {}, QPoint(400, 10));
        QVERIFY(!on.Bar->TrackingL());
        QCOMPARE(on.Changes, 2);
        QTest::mouseMove(on.Bar, QPoint(30, 10)); // no button: nothing follows
        QCOMPARE(on.Bar->PositionL(), 20);
    }

    void aPressBesideTheThumbJumpsOrSteps() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        int positionAtMouseDown = -1;
        on.Bar->OnMouseDown = [&](TTrackBar2* bar, Qt::MouseButton, Qt::KeyboardModifiers, int,
                                  int) { positionAtMouseDown = bar->PositionL(); };
        on.Bar->SetPositionL(10);
        QTest::mousePress(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(150, 10));
        QTest::mouseRelease(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(150, 10));
        QCOMPARE(positionAtMouseDown, 10); // raised before the bar acts
        QCOMPARE(on.Bar->PositionL(), 11);
        QTest::mousePress(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 10));
        QTest::mouseRelease(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 10));
        QCOMPARE(on.Bar->PositionL(), 10);
        QTest::mousePress(on.Bar, Qt::LeftButton, {}, QPoint(150, 10));
        QTest::mouseRelease(on.Bar, Qt::LeftButton, {}, QPoint(150, 10));
        QCOMPARE(on.Bar->PositionL(), 16);
        QVERIFY(!on.Bar->TrackingL());
        // Another button reaches the owner only.
        QTest::mousePress(on.Bar, Qt::RightButton, {}, QPoint(40, 10));
        QTest::mouseRelease(on.Bar, Qt::RightButton, {}, QPoint(40, 10));
        QCOMPARE(positionAtMouseDown, 16);
        QCOMPARE(on.Bar->PositionL(), 16);
    }

    void aShiftClickOnTheThumbsSpanDoesNothing() {
        TBarOnHost on(QSize(200, 40)); // thumb 10 x 20 at y 10..29
        QVERIFY(on.Bar);
        on.Bar->SetPositionL(10); // x 95..104
        on.Changes = 0;
        QTest::mouseClick(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(98, 35));
        QTest::mouseClick(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(104, 3));
        QCOMPARE(on.Bar->PositionL(), 10);
        QCOMPARE(on.Changes, 0);
        QVERIFY(!on.Bar->TrackingL());
        QTest::mouseClick(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(105, 35));
        QCOMPARE(on.Bar->PositionL(), 11);
    }

    void theNearerSideOfTheMidpointPicksTheThumb() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetSecondThumb(true);
        on.Bar->SetPositionU(15); // x 140..149
        on.Bar->SetPositionL(5);  // x 50..59; midpoint (60 + 140) div 2 = 100
        QTest::mouseClick(on.Bar, Qt::LeftButton, {}, QPoint(98, 10));
        QCOMPARE(on.Bar->PositionL(), 10); // short of the midpoint: the lower thumb
        QCOMPARE(on.Bar->PositionU(), 15);
        on.Bar->SetPositionL(5);
        QTest::mouseClick(on.Bar, Qt::LeftButton, {}, QPoint(120, 10));
        QCOMPARE(on.Bar->PositionU(), 12);
        QCOMPARE(on.Bar->PositionL(), 5);
        QTest::mouseClick(on.Bar, Qt::LeftButton, {}, QPoint(80, 10));
        QCOMPARE(on.Bar->PositionL(), 8);
        QCOMPARE(on.Bar->PositionU(), 12);

        // Dragging the upper thumb below the lower one stops just above it.
        const int upperX = on.Bar->Geometry().UpperThumb.x();
        QTest::mousePress(on.Bar, Qt::LeftButton, {}, QPoint(upperX + 2, 10));
        QVERIFY(on.Bar->TrackingU());
        QTest::mouseMove(on.Bar, QPoint(20, 10));
        QCOMPARE(on.Bar->PositionU(), 9);
        QTest::mouseRelease(on.Bar, Qt::LeftButton, {}, QPoint(20, 10));
        QVERIFY(!on.Bar->TrackingU());
    }

    void userDrawnThumbsAreSetNotDragged() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetThumbStyle(tsUserDrawn);
        on.Bar->SetSecondThumb(true);
        on.Bar->SetPositionU(15);
        on.Bar->SetPositionL(5);
        std::vector<QPoint> moves;
        on.Bar->OnMouseMove = [&](TTrackBar2*, Qt::MouseButtons buttons, Qt::KeyboardModifiers,
                                  int x, int y) {
            if (buttons & Qt::LeftButton) moves.emplace_back(x, y);
        };
        // o = 10 and t = 0 here, so x 55 is value (55 - 10) * 20 div 180 = 5:
        // the press lands on the lower thumb's picture, yet sets the upper
        // position, which stays above the lower one.
        QTest::mousePress(on.Bar, Qt::LeftButton, {}, QPoint(55, 10));
        QVERIFY(!on.Bar->TrackingU() && !on.Bar->TrackingL());
        QCOMPARE(on.Bar->PositionU(), 6);
        QCOMPARE(on.Bar->PositionL(), 5);
        QTest::mouseMove(on.Bar, QPoint(150, 10));
        QCOMPARE(on.Bar->PositionU(), 6); // moving is left to the owner
        QTest::mouseRelease(on.Bar, Qt::LeftButton, {}, QPoint(150, 10));
        QCOMPARE(moves, (std::vector<QPoint>{QPoint(150, 10)}));
    }

    void verticalBarsFollowTheMouseUpwards() {
        TBarOnHost on(QSize(20, 200));
        QVERIFY(on.Bar);
        on.Bar->SetPositionL(5); // thumb y 140..149
        QTest::mouseClick(on.Bar, Qt::LeftButton, {}, QPoint(10, 50));
        QCOMPARE(on.Bar->PositionL(), 14);
        QTest::mouseClick(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 20));
        QCOMPARE(on.Bar->PositionL(), 15); // above the thumb: up
        QTest::mouseClick(on.Bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 190));
        QCOMPARE(on.Bar->PositionL(), 14);
    }

    void keysStepTheThumbs() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->SetSmallChange(1);
        on.Bar->SetLargeChange(4);
        on.Bar->SetPositionL(10);
        std::vector<int> keys;
        on.Bar->OnKeyDown = [&](TTrackBar2* bar, int key, Qt::KeyboardModifiers) {
            keys.push_back(key);
            keys.push_back(bar->PositionL());
        };
        QTest::keyClick(on.Bar, Qt::Key_Right);
        QTest::keyClick(on.Bar, Qt::Key_Up);
        QCOMPARE(on.Bar->PositionL(), 12);
        QTest::keyClick(on.Bar, Qt::Key_Left);
        QTest::keyClick(on.Bar, Qt::Key_Down);
        QTest::keyClick(on.Bar, Qt::Key_PageDown);
        QCOMPARE(on.Bar->PositionL(), 6);
        QTest::keyClick(on.Bar, Qt::Key_PageUp);
        QCOMPARE(on.Bar->PositionL(), 10);
        // The owner's key handling follows the step and sees its result.
        QCOMPARE(keys.size(), size_t(12));
        QCOMPARE(keys[0], int(Qt::Key_Right));
        QCOMPARE(keys[1], 11);

        // Shift moves the lower thumb without a second thumb, the upper with one.
        QTest::keyClick(on.Bar, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(on.Bar->PositionL(), 11);
        on.Bar->SetSecondThumb(true);
        on.Bar->SetPositionU(15);
        QTest::keyClick(on.Bar, Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(on.Bar->PositionU(), 19);
        QTest::keyClick(on.Bar, Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(on.Bar->PositionU(), 20);
        QCOMPARE(on.Bar->PositionL(), 11);
    }

    void focusChangesReachTheOwner() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        auto* other = new QWidget(on.Host.get());
        other->setFocusPolicy(Qt::StrongFocus);
        other->show();
        std::vector<QString> events;
        on.Bar->OnEnter = [&](TTrackBar2*) { events.push_back("enter"); };
        on.Bar->OnExit = [&](TTrackBar2*) { events.push_back("exit"); };
        on.Bar->setFocus();
        other->setFocus();
        QCOMPARE(events, (std::vector<QString>{"enter", "exit"}));
    }

    void aScreenReaderSeesANamedSlider() {
        TBarOnHost on;
        QVERIFY(on.Bar);
        on.Bar->setObjectName("trcPreview");
        on.Bar->SetPositionL(7);
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(on.Bar);
        QVERIFY(access);
        QCOMPARE(access->role(), QAccessible::Slider);
        QCOMPARE(access->text(QAccessible::Name), QString("trcPreview"));
        on.Bar->setToolTip("Position");
        QCOMPARE(access->text(QAccessible::Name), QString("Position"));
        QAccessibleValueInterface* value = access->valueInterface();
        QVERIFY(value);
        QCOMPARE(value->currentValue().toInt(), 7);
        QCOMPARE(value->maximumValue().toInt(), 20);
        value->setCurrentValue(12);
        QCOMPARE(on.Bar->PositionL(), 12);
    }
};

QTEST_MAIN(TestTrackBar2)
#include "tst_trackbar2.moc"
