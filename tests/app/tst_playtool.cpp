// The real vantrel-play program ends within a second when it is asked to:
// SIGINT and SIGTERM while it plays and while its file opens (a named pipe
// without a writer, whose opening never ends by itself), and on a display
// of its own (Xvfb) the q key and closing the window, as a window manager
// asks it to, while the file opens.
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

// Last: Xlib defines names that Qt uses.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;

namespace {

// The system call thread `tid` of `pid` is in; -1 when it runs or is gone.
long SystemCall(qint64 pid, const std::string& tid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + tid + "/syscall");
    long call = -1;
    if (!(in >> call)) return -1;
    return call;
}

// Whether a thread of `pid` has been waiting in an open at two looks 50 ms
// apart (the named pipe's open, which waits for a writer).
bool WaitsInAnOpen(qint64 pid) {
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(tasks, error)) {
        const std::string tid = entry.path().filename().string();
        if (SystemCall(pid, tid) != SYS_openat) continue;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (SystemCall(pid, tid) == SYS_openat) return true;
    }
    return false;
}

template <typename Done> bool WaitUntil(Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QTest::qWait(20);
    }
    return true;
}

// A display server of the test's own; empty Name when Xvfb is missing.
class TVirtualDisplay {
public:
    TVirtualDisplay() {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty()) return;
        for (int number = 90 + (::getpid() % 50); number < 200; ++number) {
            const QString name = ":" + QString::number(number);
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
                fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
                continue;
            FServer.start("Xvfb", {name, "-screen", "0", "800x600x24", "-nolisten", "tcp"});
            if (!FServer.waitForStarted(5000)) return;
            for (int i = 0; i < 250 && !FDisplay; ++i) {
                FDisplay = XOpenDisplay(name.toLatin1().constData());
                if (!FDisplay) QTest::qWait(20);
            }
            if (FDisplay) Name = name;
            return;
        }
    }
    ~TVirtualDisplay() {
        if (FDisplay) XCloseDisplay(FDisplay);
        FServer.terminate();
        FServer.waitForFinished(5000);
    }
    Display* X() const { return FDisplay; }

    // The top window named `title`; 0 when there is none.
    Window Find(const char* title) const { return Find(DefaultRootWindow(FDisplay), title); }

    // Asks `window` to close as a window manager does.
    void Close(Window window) const {
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(FDisplay, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(FDisplay, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(FDisplay, window, False, NoEventMask, &event);
        XFlush(FDisplay);
    }

    // Presses and releases `key` in `window`.
    void Key(Window window, KeySym key) const {
        XSetInputFocus(FDisplay, window, RevertToParent, CurrentTime);
        for (int type : {KeyPress, KeyRelease}) {
            XEvent event = {};
            event.xkey.type = type;
            event.xkey.display = FDisplay;
            event.xkey.window = window;
            event.xkey.root = DefaultRootWindow(FDisplay);
            event.xkey.time = CurrentTime;
            event.xkey.same_screen = True;
            event.xkey.keycode = XKeysymToKeycode(FDisplay, key);
            XSendEvent(FDisplay, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
                       &event);
        }
        XFlush(FDisplay);
    }

    QString Name;

private:
    Window Find(Window parent, const char* title) const {
        char* name = nullptr;
        if (XFetchName(FDisplay, parent, &name) && name) {
            const bool same = std::string(name) == title;
            XFree(name);
            if (same) return parent;
        }
        Window root = 0, up = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(FDisplay, parent, &root, &up, &children, &count)) return 0;
        Window found = 0;
        for (unsigned i = 0; i < count && !found; ++i)
            found = Find(children[i], title);
        if (children) XFree(children);
        return found;
    }

    QProcess FServer;
    Display* FDisplay = nullptr;
};

} // namespace

class PlayToolTest : public QObject {
    Q_OBJECT

    testsupport::TempDir dir;
    std::string clip;

    void Start(QProcess& process, const std::string& file, const std::string& sound,
               const QString& display = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (display.isEmpty()) {
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        } else {
            environment.insert("QT_QPA_PLATFORM", "xcb");
            environment.insert("DISPLAY", display);
        }
        environment.insert("SDL_AUDIODRIVER", "disk");
        environment.insert("SDL_DISKAUDIOFILE", QString::fromStdString(sound));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(VANTREL_PLAY_EXE, {QString::fromStdString(file)});
    }

    // Sends `signal` and checks that the program ends within a second.
    void SignalEndsItWithinASecond(QProcess& process, int signal) {
        EndsWithinASecond(
            process, [&] { ::kill(static_cast<pid_t>(process.processId()), signal); },
            128 + signal);
    }
    // Does `ask` and checks that the program ends within a second with
    // `status`.
    template <typename Ask> void EndsWithinASecond(QProcess& process, Ask ask, int status) {
        QElapsedTimer clock;
        clock.start();
        ask();
        const bool ended = process.waitForFinished(1000);
        const qint64 took = clock.elapsed();
        if (!ended) {
            process.kill();
            process.waitForFinished(5000);
        }
        QVERIFY2(ended, "the program did not end within a second");
        QVERIFY2(took <= 1000, qPrintable(QString::number(took)));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
    }

private slots:
    void initTestCase() {
        clip = dir.file("clip.mkv");
        QVERIFY(testsupport::MakeMedia(clip, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                                             "-i sine=f=440:sample_rate=44100 -t 30 -c:v mpeg4 "
                                             "-c:a mp2"));
    }

    void SignalsWhilePlaying_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void SignalsWhilePlaying() {
        QFETCH(int, signal);
        const std::string sound = dir.file("sound" + std::to_string(signal) + ".raw");
        QProcess process;
        Start(process, clip, sound);
        QVERIFY(process.waitForStarted(5000));
        // Playing: the sound reaches the disk driver's file.
        QVERIFY(WaitUntil(
            [&] {
                std::error_code error;
                return fs::file_size(sound, error) > 16384 && !error;
            },
            15000));
        SignalEndsItWithinASecond(process, signal);
    }

    void SignalsWhileTheFileOpens_data() { SignalsWhilePlaying_data(); }
    void SignalsWhileTheFileOpens() {
        QFETCH(int, signal);
        const std::string pipe = dir.file("pipe" + std::to_string(signal));
        QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
        QProcess process;
        Start(process, pipe, dir.file("unused.raw"));
        QVERIFY(process.waitForStarted(5000));
        QVERIFY(WaitUntil([&] { return WaitsInAnOpen(process.processId()); }, 15000));
        SignalEndsItWithinASecond(process, signal);
    }

    void QuitKeyAndClosingWhileTheFileOpens_data() {
        QTest::addColumn<bool>("key");
        QTest::newRow("q") << true;
        QTest::newRow("closing") << false;
    }
    void QuitKeyAndClosingWhileTheFileOpens() {
        QFETCH(bool, key);
        TVirtualDisplay display;
        if (display.Name.isEmpty()) QSKIP("no Xvfb to show the window on");
        const std::string pipe = dir.file(key ? "pipe-q" : "pipe-close");
        QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
        QProcess process;
        Start(process, pipe, dir.file("unused.raw"), display.Name);
        QVERIFY(process.waitForStarted(5000));
        QVERIFY(WaitUntil([&] { return WaitsInAnOpen(process.processId()); }, 15000));
        Window window = 0;
        QVERIFY(WaitUntil([&] { return (window = display.Find("vantrel-play")) != 0; }, 10000));
        EndsWithinASecond(
            process,
            [&] {
                if (key)
                    display.Key(window, XK_q);
                else
                    display.Close(window);
            },
            0);
    }
};

QTEST_GUILESS_MAIN(PlayToolTest)
#include "tst_playtool.moc"
