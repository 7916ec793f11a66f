// The player's display in the GUI: pictures handed over from another thread
// are painted and kept for repaints, the host's resizes reach the player, and
// a player opened without a host gets its own window captioned "FFPlayer".
#include "app/MainThreadPump.h"
#include "app/PlayerSurface.h"
#include "media/FFmpegLoader.h"
#include "player/FFPlay.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>

#include <thread>

namespace {

Bitmap32 Solid(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Bitmap32 picture;
    picture.SetSize(width, height);
    for (std::size_t i = 0; i < picture.Data.size(); i += 4) {
        picture.Data[i] = b;
        picture.Data[i + 1] = g;
        picture.Data[i + 2] = r;
        picture.Data[i + 3] = 255;
    }
    return picture;
}

QWidget* WindowCaptioned(const QString& caption) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == caption) return w;
    return nullptr;
}

} // namespace

class PlayerSurfaceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InstallMainThreadPump(); }

    void PicturesFromAnotherThreadArePaintedAndKept() {
        TPlayerSurface surface;
        surface.resize(200, 100);
        surface.show();
        QVERIFY(QTest::qWaitForWindowExposed(&surface));
        QVERIFY(surface.SetMode(200, 100));
        std::thread painter([&surface] {
            surface.Show(Solid(100, 100, 0, 0, 255), TSurfaceRect{50, 0, 100, 100});
        });
        painter.join();
        QTRY_COMPARE(surface.PicturesReceived(), 1);
        QImage shown = surface.grab().toImage();
        QCOMPARE(shown.pixelColor(100, 50), QColor(255, 0, 0));
        QCOMPARE(shown.pixelColor(10, 50), QColor(0, 0, 0)); // black beside it
        // A repaint (expose while paused) shows the same picture again.
        surface.Redraw();
        surface.repaint();
        QCOMPARE(surface.grab().toImage().pixelColor(100, 50), QColor(255, 0, 0));
        // Twice the size: the display area is scaled onto the widget.
        surface.resize(400, 200);
        QImage bigger = surface.grab().toImage();
        QCOMPARE(bigger.pixelColor(200, 100), QColor(255, 0, 0));
        QCOMPARE(bigger.pixelColor(50, 100), QColor(0, 0, 0));
    }

    void ResizesReachTheHandler() {
        TPlayerSurface surface;
        int width = 0, height = 0;
        surface.SetResizeHandler([&](int w, int h) {
            width = w;
            height = h;
        });
        surface.resize(321, 123);
        surface.show();
        QTRY_COMPARE(width, 321);
        QCOMPARE(height, 123);
        QCOMPARE(surface.ClientWidth(), 321);
        surface.SetResizeHandler(nullptr);
        surface.resize(300, 100);
        QCOMPARE(width, 321);
    }

    void PlayerWithoutAHostPlaysInItsOwnWindow() {
        QVERIFY2(FFmpegLoader().LoadLibraries(PlayerLibraries),
                 FFmpegLoader().GetLastError().c_str());
        testsupport::TempDir dir;
        std::string file = dir.file("clip.mkv");
        QVERIFY(testsupport::MakeMedia(
            file, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v mpeg4 -q:v 3"));
        InstallPlayerWindowFactory();
        {
            TFFPlayer player;
            player.DisableAudio = true;
            QVERIFY2(player.Open(file, nullptr, false), player.LastErrMsg().c_str());
            QWidget* window = WindowCaptioned("FFPlayer");
            QVERIFY(window != nullptr);
            auto* surface = dynamic_cast<TPlayerSurface*>(window);
            QVERIFY(surface != nullptr);
            QTRY_VERIFY_WITH_TIMEOUT(surface->PicturesReceived() > 3, 5000);
            player.Close(true);
            QVERIFY(WindowCaptioned("FFPlayer") == nullptr);
        }
        SetOwnWindowFactory(nullptr);
    }
};

QTEST_MAIN(PlayerSurfaceTest)
#include "tst_playersurface.moc"
