// The rectangle tracker: hit codes and cursors, moving and resizing by
// dragging, the rectangle reported at the end of a drag, the carried
// control, and the inverting frame over the parent's picture.
#include "ControlsHarness.h"
#include "controls/RectTracker.h"

#include <QAccessible>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <optional>
#include <vector>

namespace {

// A host painted in one colour, so the inverted frame can be told apart.
class TPictureHost : public QWidget {
public:
    QColor Fill = QColor(40, 90, 160);

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Fill); }
};

struct TTrackerOnHost {
    std::unique_ptr<TPictureHost> Host = std::make_unique<TPictureHost>();
    TRectTracker* Tracker = nullptr;
    std::vector<TTrackRect> Changes;

    explicit TTrackerOnHost(QRect bounds = QRect(50, 40, 100, 100)) {
        Host->resize(400, 300);
        Tracker = new TRectTracker(Host.get());
        Tracker->setGeometry(bounds);
        Tracker->OnChange = [this](TCustomRectTracker*, const TTrackRect& r) {
            Changes.push_back(r);
        };
        Host->show();
        if (!QTest::qWaitForWindowExposed(Host.get())) Tracker = nullptr;
    }

    // The mouse in the host's coordinates, sent to the tracker where it
    // lies now (it grabs the mouse from the press to the release).
    // QTest takes the point (0, 0) for the middle of the widget, so it is
    // never sent.
    QPoint Local(QPoint onHost) const {
        const QPoint local = Tracker->mapFromParent(onHost);
        if (local.isNull()) qFatal("the tracker's own corner cannot be sent");
        return local;
    }
    void Press(QPoint onHost) { QTest::mousePress(Tracker, Qt::LeftButton, {}, Local(onHost)); }
    void MoveTo(QPoint onHost) { QTest::mouseMove(Tracker, Local(onHost)); }
    void Release(QPoint onHost) { QTest::mouseRelease(Tracker, Qt::LeftButton, {}, Local(onHost)); }
    void Drag(QPoint from, const std::vector<QPoint>& path) {
        Press(from);
        for (const QPoint& p : path)
            MoveTo(p);
        Release(path.empty() ? from : path.back());
    }
    // A move with no button held, as when the mouse hovers.
    void Hover(QPoint local) {
        QMouseEvent move(QEvent::MouseMove, local, Tracker->mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(Tracker, &move);
    }
};

QRgb Inverted(QRgb c) {
    return qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c));
}

} // namespace

class TestRectTracker : public QObject {
    Q_OBJECT

private slots:
    void startsWithItsDefaults() {
        TRectTracker tracker;
        QCOMPARE(tracker.size(), QSize(65, 65));
        QCOMPARE(tracker.minimumSize(), QSize(10, 10));
        QCOMPARE(tracker.DragMode(), uint8_t(9));
        QCOMPARE(tracker.AcControl(), nullptr);
        QCOMPARE(tracker.objectName(), QString("RectTracker"));
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(&tracker);
        QVERIFY(access);
        QCOMPARE(access->text(QAccessible::Name), QString("RectTracker"));
    }

    void hitCodes() {
        const TTrackRect area{2, 2, 98, 98};
        auto hit = [&](int x, int y) {
            return int(TCustomRectTracker::HitCode(x, y, 100, 100, area));
        };
        QCOMPARE(hit(2, 2), 4); // the corner is tested before the move area
        QCOMPARE(hit(6, 6), 8);
        QCOMPARE(hit(1, 20), 9); // on the frame, away from every handle
        // Handles: m(100) = 47, so the middle ones span 47..51.
        QCOMPARE(hit(0, 47), 0);
        QCOMPARE(hit(0, 52), 9);
        QCOMPARE(hit(99, 51), 1);
        QCOMPARE(hit(47, 0), 2);
        QCOMPARE(hit(51, 99), 3);
        QCOMPARE(hit(99, 0), 5);
        QCOMPARE(hit(0, 99), 6);
        QCOMPARE(hit(95, 95), 7);
        QCOMPARE(hit(97, 50), 1);  // the right handle lies over the move area
        QCOMPARE(hit(97, 20), 8);  // the right edge cannot be grabbed here
        QCOMPARE(hit(98, 20), 9);  // outside the move area
        QCOMPARE(hit(100, 50), 9); // outside the tracker
        // m(n) rounds half sizes up: a 65 wide tracker has its handle at 30.
        QCOMPARE(int(TCustomRectTracker::HitCode(30, 0, 65, 65, {2, 2, 63, 63})), 2);
        QCOMPARE(int(TCustomRectTracker::HitCode(29, 0, 65, 65, {2, 2, 63, 63})), 9);
    }

    void hoveringShowsTheHandlesCursor() {
        TTrackerOnHost on;
        QVERIFY(on.Tracker);
        on.Hover(QPoint(2, 2));
        QCOMPARE(on.Tracker->cursor().shape(), Qt::SizeFDiagCursor);
        on.Hover(QPoint(50, 98));
        QCOMPARE(on.Tracker->cursor().shape(), Qt::SizeVerCursor);
        on.Hover(QPoint(98, 2));
        QCOMPARE(on.Tracker->cursor().shape(), Qt::SizeBDiagCursor);
        on.Hover(QPoint(1, 49));
        QCOMPARE(on.Tracker->cursor().shape(), Qt::SizeHorCursor);
        on.Hover(QPoint(30, 30));
        QCOMPARE(on.Tracker->cursor().shape(), Qt::SizeAllCursor);
        on.Hover(QPoint(1, 20));
        QCOMPARE(on.Tracker->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(on.Tracker->geometry(), QRect(50, 40, 100, 100)); // hovering drags nothing
    }

    void draggingTheInsideMovesAndReportsOnce() {
        TTrackerOnHost on;
        QVERIFY(on.Tracker);
        on.Drag(QPoint(80, 70), {QPoint(85, 72), QPoint(95, 80), QPoint(110, 90)});
        QCOMPARE(on.Tracker->geometry(), QRect(80, 60, 100, 100));
        QCOMPARE(on.Tracker->DragMode(), uint8_t(9));
        QCOMPARE(on.Changes.size(), size_t(1));
        QCOMPARE(on.Changes[0], (TTrackRect{82, 62, 178, 158}));
        QCOMPARE(on.Changes[0], on.Tracker->TrackRect());
    }

    void aDragBackToTheStartReportsNothing() {
        TTrackerOnHost on;
        QVERIFY(on.Tracker);
        on.Drag(QPoint(80, 70), {QPoint(120, 100), QPoint(80, 70)});
        QCOMPARE(on.Tracker->geometry(), QRect(50, 40, 100, 100));
        QVERIFY(on.Changes.empty());
        on.Drag(QPoint(149, 139), {QPoint(170, 160), QPoint(149, 139)}); // bottom-right handle
        QCOMPARE(on.Tracker->geometry(), QRect(50, 40, 100, 100));
        QVERIFY(on.Changes.empty());
    }

    void theLeftHandleStopsShrinkingAtTen() {
        TTrackerOnHost on;
        QVERIFY(on.Tracker);
        const QPoint grip(50, 40 + 48); // left middle handle
        on.Press(grip);
        QCOMPARE(on.Tracker->DragMode(), uint8_t(0));
        for (int x = 60; x <= 200; x += 10)
            on.MoveTo(QPoint(x, grip.y()));
        // The right edge stays at 150 while the width drops to 10; past that
        // the width cannot shrink further and the left edge stops too.
        QCOMPARE(on.Tracker->width(), 10);
        QCOMPARE(on.Tracker->x() + on.Tracker->width(), 150);
        for (int x = 130; x >= 20; x -= 10)
            on.MoveTo(QPoint(x, grip.y()));
        QCOMPARE(on.Tracker->x(), 20);
        QCOMPARE(on.Tracker->width(), 130);
        QCOMPARE(on.Tracker->height(), 100);
        on.Release(QPoint(20, grip.y()));
        QCOMPARE(on.Changes.size(), size_t(1));
        QCOMPARE(on.Changes[0], (TTrackRect{22, 42, 148, 138}));
    }

    void cornersResizeTwoEdges() {
        TTrackerOnHost on;
        QVERIFY(on.Tracker);
        on.Drag(QPoint(148, 138), {QPoint(160, 150), QPoint(178, 168)}); // bottom-right
        QCOMPARE(on.Tracker->geometry(), QRect(50, 40, 130, 130));
        on.Drag(QPoint(51, 41), {QPoint(41, 36), QPoint(31, 21)}); // top-left
        QCOMPARE(on.Tracker->geometry(), QRect(30, 20, 150, 150));
        on.Drag(QPoint(178, 21),
                {QPoint(184, 25), QPoint(190, 30)}); // top-right: right edge and top
        QCOMPARE(on.Tracker->geometry(), QRect(30, 29, 162, 141));
        on.Drag(QPoint(31, 168),
                {QPoint(35, 174), QPoint(40, 180)}); // bottom-left: left edge and bottom
        QCOMPARE(on.Tracker->geometry(), QRect(39, 29, 153, 153));
        on.Drag(QPoint(39 + 75, 29), {QPoint(39 + 75, 19), QPoint(39 + 75, 9)}); // top middle
        QCOMPARE(on.Tracker->geometry(), QRect(39, 9, 153, 173));
        on.Drag(QPoint(39 + 76, 181),
                {QPoint(39 + 76, 165), QPoint(39 + 76, 150)}); // bottom middle
        QCOMPARE(on.Tracker->geometry(), QRect(39, 9, 153, 142));
        on.Drag(QPoint(191, 9 + 70), {QPoint(220, 9 + 70), QPoint(250, 9 + 70)}); // right middle
        QCOMPARE(on.Tracker->geometry(), QRect(39, 9, 212, 142));
        QCOMPARE(on.Changes.size(), size_t(7));
    }

    void aCornerPastTheMinimumKeepsTheOtherEdge() {
        TTrackerOnHost on(QRect(50, 40, 40, 12));
        QVERIFY(on.Tracker);
        // Top-left corner down and to the right: the height reaches 10 after
        // two pixels, then only the left edge follows.
        on.Drag(QPoint(51, 41), {QPoint(53, 43), QPoint(57, 47), QPoint(61, 51)});
        QCOMPARE(on.Tracker->geometry(), QRect(60, 42, 30, 10));
    }

    void theMouseEventsComeAfterTheTrackersOwnHandling() {
        TTrackerOnHost on;
        QVERIFY(on.Tracker);
        std::vector<QString> seen;
        on.Tracker->OnMouseDown = [&](TCustomRectTracker* t, Qt::MouseButton, Qt::KeyboardModifiers,
                                      int x, int y) {
            seen.push_back(QString("down %1 %2 mode %3").arg(x).arg(y).arg(t->DragMode()));
        };
        on.Tracker->OnMouseMove = [&](TCustomRectTracker* t, Qt::MouseButtons,
                                      Qt::KeyboardModifiers, int x, int y) {
            seen.push_back(QString("move %1 %2 at %3").arg(x).arg(y).arg(t->x()));
        };
        on.Tracker->OnMouseUp = [&](TCustomRectTracker* t, Qt::MouseButton, Qt::KeyboardModifiers,
                                    int, int) {
            seen.push_back(
                QString("up mode %1 changes %2").arg(t->DragMode()).arg(on.Changes.size()));
        };
        on.Drag(QPoint(80, 70), {QPoint(90, 70)});
        const std::vector<QString> expected{"down 30 30 mode 8", "move 40 30 at 60",
                                            "up mode 9 changes 0"};
        QCOMPARE(seen, expected);
        QCOMPARE(on.Changes.size(), size_t(1));

        // The owner corrects the tracker after each move, as the crop dialog does.
        on.Tracker->OnMouseMove = [](TCustomRectTracker* t, Qt::MouseButtons, Qt::KeyboardModifiers,
                                     int, int) {
            if (t->x() + t->width() > 300) t->move(300 - t->width(), t->y());
        };
        on.Drag(QPoint(90, 70), {QPoint(200, 70), QPoint(400, 70)});
        QCOMPARE(on.Tracker->geometry(), QRect(200, 40, 100, 100));
        // A right click starts no drag.
        QTest::mousePress(on.Tracker, Qt::RightButton, {}, QPoint(30, 30));
        QCOMPARE(on.Tracker->DragMode(), uint8_t(9));
        QTest::mouseRelease(on.Tracker, Qt::RightButton, {}, QPoint(30, 30));
    }

    void carriesAControlFivePixelsInside() {
        TTrackerOnHost on;
        QVERIFY(on.Tracker);
        auto* carried = new QWidget(on.Host.get());
        carried->setGeometry(20, 30, 100, 50);
        carried->show();
        on.Tracker->SetAcControl(carried);
        QCOMPARE(on.Tracker->AcControl(), carried);
        QCOMPARE(on.Tracker->geometry(), QRect(15, 25, 110, 60));
        QCOMPARE(carried->geometry(), QRect(20, 30, 100, 50));
        on.Tracker->resize(120, 60);
        QCOMPARE(carried->geometry(), QRect(20, 30, 110, 50));
        // It follows when the tracker is dragged about, too.
        on.Drag(QPoint(40, 27), {QPoint(60, 47)});
        QCOMPARE(on.Tracker->geometry(), QRect(35, 45, 120, 60));
        QCOMPARE(carried->geometry(), QRect(40, 50, 110, 50));

        // A control that goes away is let go of.
        delete carried;
        QCOMPARE(on.Tracker->AcControl(), nullptr);
        on.Tracker->resize(90, 90);
        QCOMPARE(on.Tracker->size(), QSize(90, 90));

        on.Tracker->SetAcControl(on.Tracker);
        QCOMPARE(on.Tracker->AcControl(), nullptr);
        QCOMPARE(on.Tracker->size(), QSize(90, 90));
    }

    void theFrameInvertsThePictureUnderIt() {
        TTrackerOnHost on;
        QVERIFY(on.Tracker);
        const QImage shot = Shot(on.Host.get(), "recttracker");
        const QRgb fill = on.Host->Fill.rgb();
        const QRgb inverted = Inverted(fill);
        const int l = 50, t = 40; // the tracker's place, 100 x 100
        // The handles: corners, and the middle ones at m(100) = 47.
        for (QPoint h : {QPoint(0, 0), QPoint(95, 0), QPoint(0, 95), QPoint(95, 95), QPoint(47, 0),
                         QPoint(0, 47), QPoint(95, 47), QPoint(47, 95)})
            QCOMPARE(shot.pixel(l + h.x() + 1, t + h.y() + 1), inverted);
        // The dotted frame at 2 and at 97 alternates with the picture.
        int onFrame = 0, offFrame = 0;
        for (int y = 10; y < 40; ++y) {
            const QRgb left = shot.pixel(l + 2, t + y), right = shot.pixel(l + 97, t + y);
            QVERIFY(left == inverted || left == fill);
            (left == inverted ? onFrame : offFrame)++;
            (right == inverted ? onFrame : offFrame)++;
        }
        QVERIFY(onFrame > 10 && offFrame > 10);
        // The inside and the outside show the picture.
        QCOMPARE(shot.pixel(l + 50, t + 50), fill);
        QCOMPARE(shot.pixel(l + 1, t + 20), fill);
        QCOMPARE(shot.pixel(l + 98, t + 20), fill);
        QCOMPARE(shot.pixel(l - 1, t - 1), fill);

        // The window on the screen shows the same, painted through the
        // window's backing store rather than into a picture of its own.
        on.Host->repaint();
        const QImage screen = on.Host->screen()
                                  ->grabWindow(on.Host->winId())
                                  .toImage()
                                  .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(screen.pixel(l + 1, t + 1), inverted);
        QCOMPARE(screen.pixel(l + 50, t + 50), fill);

        // Over another picture the frame shows again, in that picture's inverse.
        on.Host->Fill = QColor(250, 250, 250);
        const QImage light = Shot(on.Host.get(), "recttracker-light");
        QCOMPARE(light.pixel(l + 1, t + 1), qRgb(5, 5, 5));
    }
};

QTEST_MAIN(TestRectTracker)
#include "tst_recttracker.moc"
