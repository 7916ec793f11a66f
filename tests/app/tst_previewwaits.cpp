// Clicks that land inside the preview player's waits: the player runs window
// messages while it waits for its threads, so a click there must neither run
// a second player call inside the first nor wait for a thread that waits for
// it. Each case is driven through the main window's buttons; a watchdog turns
// a hang into a failure with its name.
#include "WindowHarness.h"

#include "app/PlayerSurface.h"
#include "player/FFPlay.h"
#include "probe/AVProbe.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Ends the program with `what` when it is still armed after `seconds`: a
// hang on the main thread cannot fail a test any other way.
class TWatchdog {
public:
    TWatchdog(const char* what, int seconds)
        : FThread([this, what, seconds] {
              std::unique_lock lock(FLock);
              if (!FDone.wait_for(lock, std::chrono::seconds(seconds),
                                  [this] { return FDisarmed; })) {
                  std::fprintf(stderr, "FAIL: hung: %s\n", what);
                  std::_Exit(3);
              }
          }) {}
    ~TWatchdog() {
        {
            std::lock_guard lock(FLock);
            FDisarmed = true;
        }
        FDone.notify_all();
        FThread.join();
    }

private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FDisarmed = false;
    std::thread FThread;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Writes `bytes` into the named pipe once a reader has it open.
void FeedPipe(const std::string& pipe, const std::string& bytes) {
    const int fd = ::open(pipe.c_str(), O_WRONLY);
    if (fd < 0) return;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break; // the reader has gone
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

} // namespace

class PreviewWaitsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> harness;
    std::unique_ptr<TfrmMain> window;

private slots:
    void initTestCase() { std::signal(SIGPIPE, SIG_IGN); }
    void init() {
        harness = std::make_unique<TWindowHarness>();
        window = harness->NewWindow();
    }
    void cleanup() {
        if (window) TWindowHarness::Dispose(window);
        harness.reset();
    }

    // Next is clicked while the first row's source (a named pipe nobody
    // writes to yet) opens; the pipe is fed only after the click. The second
    // row plays once the first open has returned.
    void NextClickedWhileASlowSourceOpensPlaysTheNextRow() {
        const std::string slow = harness->Media("slow.ts");
        QVERIFY(testsupport::MakeMedia(slow, "-f lavfi -i testsrc2=size=96x64:rate=10 -f lavfi "
                                             "-i sine=f=440 -t 2 -c:v mpeg4 -c:a mp2 -shortest"));
        const std::string next = harness->MakeClip("next.avi");
        QVERIFY(!next.empty());
        TWindowHarness::AddFiles(*window, {slow, next});
        QCOMPARE(window->lvFIles->RowCount(), 2);
        const std::string bytes = ReadAll(slow);
        fs::remove(slow);
        QCOMPARE(::mkfifo(slow.c_str(), 0600), 0);
        window->lvFIles->SelectRow(0);

        TWatchdog watchdog("a click inside a slow open", 60);
        std::thread writer;
        bool clicked = false;
        QTimer::singleShot(100, window.get(), [&] {
            QTest::mouseClick(window->imgbtnNext, Qt::LeftButton);
            clicked = true;
            writer = std::thread(FeedPipe, slow, bytes);
        });
        QTest::mouseClick(window->imgbtnPlay, Qt::LeftButton);
        QVERIFY(clicked); // the click landed inside the open
        QVERIFY(TWindowHarness::WaitFor([&] { return window->pan1->PicturesReceived() >= 2; }));
        QCOMPARE(window->lvFIles->SelectedRow(), 1);
        QVERIFY(window->FFPlayer->FileOpen());
        QVERIFY2(window->FFPlayer->Probe().GetFileName().find("next.avi") != std::string::npos,
                 window->FFPlayer->Probe().GetFileName().c_str());
        QTest::mouseClick(window->imgbtnStop, Qt::LeftButton);
        QVERIFY(!window->FFPlayer->FileOpen());
        writer.join();
    }

    // Stop, Next or Previous is clicked while the player pauses at the end
    // of the file, after the window's end-of-file handler has rewound it.
    // The hook holds the first picture after the rewind until the click has
    // run, so the pause is waiting for that picture when the click comes.
    void ClickDuringTheEndOfFilePauseIsCarriedOutAndTheButtonsStayLive_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("playedRow");
        QTest::addColumn<int>("nextRow"); // -1: nothing plays after the click
        QTest::newRow("Stop") << "imgbtnStop" << 0 << -1;
        QTest::newRow("Next") << "imgbtnNext" << 0 << 1;
        QTest::newRow("Previous") << "imgbtnPre" << 1 << 0;
    }
    void ClickDuringTheEndOfFilePauseIsCarriedOutAndTheButtonsStayLive() {
        QFETCH(QString, button);
        QFETCH(int, playedRow);
        QFETCH(int, nextRow);
        const std::string first = harness->MakeClip("first.avi");
        const std::string second = harness->MakeClip("second.avi");
        QVERIFY(!first.empty() && !second.empty());
        TWindowHarness::AddFiles(*window, {first, second});
        QWidget* clicked = window->findChild<QWidget*>(button);
        QVERIFY(clicked);
        TCustomPlayer& player = *window->FFPlayer;
        std::mutex lock;
        std::condition_variable changed;
        bool done = false;
        std::atomic<bool> queued{false};
        player.OnHook = [&](TCustomPlayer*, Bitmap24&, std::int64_t) {
            if (player.State() != psEnd || queued.exchange(true)) return;
            QueueInMainThread([&] {
                QTest::mouseClick(clicked, Qt::LeftButton);
                std::lock_guard guard(lock);
                done = true;
                changed.notify_all();
            });
            std::unique_lock guard(lock);
            changed.wait_for(guard, std::chrono::seconds(5), [&] { return done; });
        };
        player.Hook = true;

        TWatchdog watchdog("a click inside the end-of-file pause", 60);
        window->lvFIles->SelectRow(playedRow);
        QTest::mouseClick(window->imgbtnPlay, Qt::LeftButton);
        QVERIFY(TWindowHarness::WaitFor([&] {
            std::lock_guard guard(lock);
            return done;
        }));
        if (nextRow < 0) {
            // The end of the file has taken Stop away before the click: the
            // file waits, paused at its start, for Play.
            QVERIFY(player.FileOpen() && player.IsPaused());
            QVERIFY(window->imgbtnPlay->isEnabled() && !window->imgbtnStop->isEnabled());
        } else {
            QCOMPARE(window->lvFIles->SelectedRow(), nextRow);
            QVERIFY(TWindowHarness::WaitFor([&] { return player.FileOpen(); }, 5000));
            const std::string name = nextRow == 0 ? "first.avi" : "second.avi";
            QVERIFY(player.Probe().GetFileName().find(name) != std::string::npos);
        }
        // The buttons still work: a file plays and stops.
        player.Hook = false;
        QVERIFY(TWindowHarness::WaitFor(
            [&] { return window->imgbtnPlay->isEnabled() || window->imgbtnStop->isEnabled(); }));
        if (window->imgbtnStop->isEnabled()) {
            QTest::mouseClick(window->imgbtnStop, Qt::LeftButton);
            QVERIFY(!player.FileOpen());
        }
        const int before = window->pan1->PicturesReceived();
        QTest::mouseClick(window->imgbtnPlay, Qt::LeftButton);
        QVERIFY(player.FileOpen());
        QVERIFY(
            TWindowHarness::WaitFor([&] { return window->pan1->PicturesReceived() > before + 1; }));
        QTest::mouseClick(window->imgbtnStop, Qt::LeftButton);
        QVERIFY(!player.FileOpen());
        player.OnHook = nullptr;
        TWindowHarness::Dispose(window); // Quit returns
    }
};

QTEST_MAIN(PreviewWaitsTest)
#include "tst_previewwaits.moc"
