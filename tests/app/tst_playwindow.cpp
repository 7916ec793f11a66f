// vantrel-play's window: its keys, sent as key presses, drive the player
// (space pauses and resumes, period steps, right and left seek 5 s, m mutes,
// q closes the window and the file).
#include "app/PlayWindow.h"
#include "app/MainThreadPump.h"
#include "media/FFmpegLoader.h"
#include "player/FFPlay.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <vector>

class PlayWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        InstallMainThreadPump();
        QVERIFY2(FFmpegLoader().LoadLibraries(PlayerLibraries),
                 FFmpegLoader().GetLastError().c_str());
        FFile = FDir.file("clip.mkv");
        QVERIFY(testsupport::MakeMedia(
            FFile, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                   "sine=frequency=440:sample_rate=44100 -t 12 -c:v mpeg4 -g 25 -q:v 3 "
                   "-c:a mp2 -ac 2"));
    }

    void KeysDriveThePlayer() {
        TFFPlayer player;
        std::vector<TPlayState> states;
        player.OnState = [&states](TCustomPlayer*, const TPlayState s) { states.push_back(s); };
        auto seen = [&states](TPlayState s) {
            return std::find(states.begin(), states.end(), s) != states.end();
        };
        TPlayWindow window(player);
        window.resize(320, 240);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY2(player.Open(FFile, &window, false), player.LastErrMsg().c_str());
        QTRY_VERIFY_WITH_TIMEOUT(window.PicturesReceived() > 2, 10000);

        QTest::keyClick(&window, Qt::Key_Space);
        QVERIFY(player.IsPaused());
        QTRY_VERIFY(seen(psPause));

        // One step: exactly one new picture, still paused.
        int shown = player.ShownPictures;
        QTest::keyClick(&window, Qt::Key_Period);
        QTRY_COMPARE(player.ShownPictures.load(), shown + 1);
        QTRY_VERIFY(seen(psStep));
        QTest::qWait(200);
        QCOMPARE(player.ShownPictures.load(), shown + 1);
        QVERIFY(player.IsPaused());

        QTest::keyClick(&window, Qt::Key_Space);
        QVERIFY(!player.IsPaused());
        QTRY_VERIFY(seen(psResume));

        std::int64_t before = player.CurrentPosition();
        QTest::keyClick(&window, Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(player.CurrentPosition() >= before + 4500000, 10000);
        before = player.CurrentPosition();
        QVERIFY(before >= 5000000);
        QTest::keyClick(&window, Qt::Key_Left);
        QTRY_VERIFY_WITH_TIMEOUT(player.CurrentPosition() <= before - 3000000, 10000);

        QVERIFY(!player.Mute);
        QTest::keyClick(&window, Qt::Key_M);
        QVERIFY(player.Mute);
        QTest::keyClick(&window, Qt::Key_M);
        QVERIFY(!player.Mute);

        // A key the tool does not use changes nothing.
        QVERIFY(!window.HandleKey(Qt::Key_X));
        QVERIFY(player.FileOpen());

        QTest::keyClick(&window, Qt::Key_Q);
        QVERIFY(!window.isVisible());
        QVERIFY(!player.FileOpen());
        QTRY_VERIFY(seen(psStop));
        player.OnState = nullptr;
    }

private:
    testsupport::TempDir FDir;
    std::string FFile;
};

QTEST_MAIN(PlayWindowTest)
#include "tst_playwindow.moc"
