// The preview controller shared by the main window and the edit dialogs:
// the times it shows, where the bar follows the player, how each kind of
// window answers the player's state reports, and the hold on the bar after
// a release's seek. The player has no file open here, so its seeks and
// pauses do nothing; the row's controls are real widgets.
#include "app/PreviewController.h"
#include "core/FormatSeconds.h"
#include "controls/Tracker2.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWidget>

namespace {

// A row with every control, all enabled, the bar at 0 of 600.
struct TRow {
    QWidget window;
    QPushButton* Play = new QPushButton("Play", &window);
    QPushButton* Pause = new QPushButton("Pause", &window);
    QPushButton* Stop = new QPushButton("Stop", &window);
    QPushButton* Snap = new QPushButton("Snapshot", &window);
    TTrackBar2* Bar = new TTrackBar2(&window);
    QLabel* Time = new QLabel("0:00:07", &window);
    QLabel* Length = new QLabel("0:00:09", &window);
    TFFPlayer Player;
    TPreviewController Controller;

    explicit TRow(TPreviewKind kind, bool withStop = true)
        : Controller(kind, Parts(withStop), &Player) {
        Bar->SetMax(600);
    }
    TPreviewParts Parts(bool withStop) {
        return TPreviewParts{Play, Pause, withStop ? Stop : nullptr, withStop ? Snap : nullptr, Bar,
                             Time, Length};
    }
    // Enabling of Play, Pause, Stop, Snapshot and the bar, as "1" and "0".
    QString Enabling() const {
        QString text;
        for (const QWidget* w :
             {static_cast<const QWidget*>(Play), static_cast<const QWidget*>(Pause),
              static_cast<const QWidget*>(Stop), static_cast<const QWidget*>(Snap),
              static_cast<const QWidget*>(Bar)})
            text += w->isEnabled() ? '1' : '0';
        return text;
    }
};

} // namespace

class PreviewControllerTest : public QObject {
    Q_OBJECT
private slots:
    // Times are rounded to the nearest second (halves up) before they are
    // shown; a time before the start shows as the start.
    void TimesRoundToTheNearestSecond() {
        QCOMPARE(RoundedSeconds(1'499'999), 1);
        QCOMPARE(RoundedSeconds(1'500'000), 2);
        QCOMPARE(RoundedSeconds(0), 0);
        QCOMPARE(FormatMicroseconds(65'000'000), std::string("0:01:05"));
        QCOMPARE(FormatMicroseconds(3'599'500'000), std::string("1:00:00"));
        QCOMPARE(FormatMicroseconds(-2'000'000), std::string("0:00:00"));
    }

    // The bar follows the player by truncation, the trim dialog's by
    // rounding; nothing moves it while the user drags it or without a
    // duration. The dialogs' time label carries the " / " before the length.
    void PositionReportsMoveTheBarUnlessDragged() {
        TRow main(TPreviewKind::MainWindow);
        main.Controller.ShowPosition(5'000'000);
        QCOMPARE(main.Bar->PositionL(), 0); // no duration yet
        main.Controller.ShowLength(2'000'000);
        QCOMPARE(main.Length->text(), QString("0:00:02"));
        main.Controller.ShowPosition(999'999);
        QCOMPARE(main.Bar->PositionL(), 299);
        QCOMPARE(main.Time->text(), QString("0:00:01"));
        main.Controller.Dragging = true;
        main.Controller.ShowPosition(1'900'000);
        QCOMPARE(main.Bar->PositionL(), 299);
        QCOMPARE(main.Time->text(), QString("0:00:02"));

        TRow trim(TPreviewKind::Trim);
        trim.Controller.ShowLength(2'000'000);
        trim.Controller.ShowPosition(999'999);
        QCOMPARE(trim.Bar->PositionL(), 300);
        QCOMPARE(trim.Time->text(), QString("0:00:01 / "));

        QCOMPARE(BarTime(300, 600, 2'000'000), 1'000'000);
        QCOMPARE(BarTime(300, 0, 2'000'000), 0);
    }

    // The main window at the end of the file: the stopped row of its state
    // table (only Play enabled, the bar disabled at 0, both times zero, the
    // pause flag cleared); the other reports change nothing.
    void MainWindowEndShowsTheStoppedRow() {
        TRow row(TPreviewKind::MainWindow);
        row.Bar->SetPositionL(250);
        row.Controller.Paused = true;
        for (TPlayState state : {psPlay, psPause, psResume, psStep, psStop})
            row.Controller.ShowState(state);
        QCOMPARE(row.Enabling(), QString("11111"));
        QVERIFY(row.Controller.Paused);
        const TRowChange change = row.Controller.ShowState(psEnd);
        QVERIFY(change.Rewind);
        QCOMPARE(int(change.RewindFlags), 4);
        QCOMPARE(row.Enabling(), QString("10000"));
        QCOMPARE(row.Bar->PositionL(), 0);
        QCOMPARE(row.Time->text(), QString("00:00:00"));
        QCOMPARE(row.Length->text(), QString("00:00:00"));
        QVERIFY(!row.Controller.Paused);
    }

    // The watermark editor rewinds and disables the bar at the end but keeps
    // its times; it has no Stop button.
    void WatermarkEndKeepsTheTimes() {
        TRow row(TPreviewKind::WaterMark, false);
        row.Bar->SetPositionL(250);
        row.Controller.ShowState(psEnd);
        QCOMPARE(row.Enabling(), QString("10110"));
        QCOMPARE(row.Bar->PositionL(), 0);
        QCOMPARE(row.Time->text(), QString("0:00:07"));
    }

    // The crop and trim dialogs follow pause and stop reports; at the end
    // they rewind the player with the flags 0 and leave the bar as it is.
    // The trim dialog takes a pause report only while its player is paused.
    void DialogsFollowPauseAndStopReports() {
        TRow crop(TPreviewKind::Crop);
        crop.Controller.Stopped = false;
        crop.Play->setEnabled(false);
        crop.Controller.ShowState(psPause);
        QVERIFY(crop.Controller.Paused);
        QCOMPARE(crop.Enabling(), QString("11111"));
        crop.Controller.ShowState(psStop);
        QVERIFY(crop.Controller.Stopped);
        QCOMPARE(crop.Enabling(), QString("10000"));

        TRow end(TPreviewKind::Crop);
        end.Controller.Stopped = false;
        end.Bar->SetPositionL(250);
        const TRowChange change = end.Controller.ShowState(psEnd);
        QVERIFY(change.Rewind);
        QCOMPARE(int(change.RewindFlags), 0);
        QVERIFY(end.Controller.Stopped);
        QCOMPARE(end.Enabling(), QString("10111"));
        QCOMPARE(end.Bar->PositionL(), 250);

        TRow trim(TPreviewKind::Trim);
        trim.Play->setEnabled(false);
        trim.Controller.ShowState(psPause); // its player has no file open
        QVERIFY(!trim.Controller.Paused);
        QVERIFY(!trim.Play->isEnabled());
    }

    // Pause and Stop as the buttons do them; the main window's Pause also
    // enables Stop and Snapshot, the dialogs' leaves them.
    void ButtonsSwitchTheRow() {
        TRow main(TPreviewKind::MainWindow);
        main.Controller.SetButtons(false, true, false);
        main.Controller.Pause();
        QVERIFY(main.Controller.Paused);
        QCOMPARE(main.Enabling(), QString("10111"));
        main.Controller.Resume();
        QCOMPARE(main.Enabling(), QString("01111"));

        TRow crop(TPreviewKind::Crop);
        crop.Controller.SetButtons(false, true, false);
        crop.Bar->setEnabled(false);
        crop.Controller.Pause();
        QCOMPARE(crop.Enabling(), QString("10000"));
        crop.Controller.Resume();
        QCOMPARE(crop.Enabling(), QString("01111"));
        crop.Bar->SetPositionL(250);
        crop.Controller.Stop();
        QVERIFY(crop.Controller.Stopped);
        QCOMPARE(crop.Enabling(), QString("10000"));
        QCOMPARE(crop.Bar->PositionL(), 0);
        QCOMPARE(crop.Length->text(), QString("00:00:00"));
    }

    // After a release the bar stays held until the last release's wait is
    // over: an earlier release's wait does not let it go.
    void TheLastReleaseEndsTheHold() {
        TRow row(TPreviewKind::Trim);
        row.Controller.Dragging = true;
        QElapsedTimer clock;
        clock.start();
        row.Controller.SettleAfterSeek(50);
        row.Controller.SettleAfterSeek(400); // a second release while the first waits
        QTRY_VERIFY_WITH_TIMEOUT(!row.Controller.Dragging, 5000);
        QVERIFY2(clock.elapsed() >= 390, "the first release's wait let the bar go");
    }
};

QTEST_MAIN(PreviewControllerTest)
#include "tst_previewcontroller.moc"
