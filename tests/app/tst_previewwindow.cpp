// The engine's own preview window on the desktop: size, caption, picture,
// closing, and the way the engine reaches it from a worker thread.
#include "app/PreviewWindow.h"
#include "media/FFUtils.h"
#include "media/MainThread.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

// A picture whose every pixel tells its place: blue = x, green = y, red 200.
Bitmap24 Pattern(int width, int height) {
    Bitmap24 bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = bitmap.Row(y) + 3 * x;
            p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y), p[2] = 200;
        }
    return bitmap;
}

constexpr auto kWaitLimit = std::chrono::seconds(20);

// Services the main thread until `ready` holds; false at the deadline.
template <class Predicate> bool ServiceUntil(Predicate ready) {
    const auto until = std::chrono::steady_clock::now() + kWaitLimit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        ServiceMainThread(std::chrono::milliseconds(10));
    }
    return true;
}

// Tells a worker still waiting for the test to stop, services the main
// thread while it finishes and joins it; a worker that does not finish in
// time ends the test program instead of hanging it.
struct TWorkerRelease {
    std::thread& Worker;
    std::atomic<int>& Step;
    std::atomic<bool>& Done;
    ~TWorkerRelease() {
        int waiting = 1;
        Step.compare_exchange_strong(waiting, -1);
        if (!ServiceUntil([this] { return Done.load(); }))
            qFatal("The preview worker did not finish in time");
        Worker.join();
    }
};

std::vector<TPreviewForm*> PreviewForms() {
    std::vector<TPreviewForm*> forms;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* form = qobject_cast<TPreviewForm*>(w)) forms.push_back(form);
    return forms;
}

} // namespace

class TestPreviewWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SetMainThread(); }

    void showsThePictureAtItsFirstSize() {
        TPreviewWindow window;
        const int64_t pts = 3723'500'000; // 1:02:03.5
        QVERIFY(window.Show(Pattern(64, 48), 1, pts));
        TPreviewForm* form = window.Form();
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->size(), QSize(64, 48));
        QCOMPARE(form->windowTitle(), QString::fromStdString(DurationToText(pts)));
        QVERIFY(form->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(form->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY((form->frameGeometry().center() - screen.center()).manhattanLength() <= 4);
        const QImage shown = form->grab().toImage();
        QCOMPARE(shown.pixelColor(0, 0), QColor(200, 0, 0));
        QCOMPARE(shown.pixelColor(63, 47), QColor(200, 47, 63));
        QCOMPARE(shown.pixelColor(10, 20), QColor(200, 20, 10));

        // A later, larger picture is drawn from the corner; the size stays.
        QVERIFY(window.Show(Pattern(100, 80), 2, 0));
        QCOMPARE(form->size(), QSize(64, 48));
        QCOMPARE(form->windowTitle(), QString::fromStdString(DurationToText(0)));
        QCOMPARE(form->grab().toImage().pixelColor(63, 47), QColor(200, 47, 63));
    }

    void closingEndsThePreview() {
        TPreviewWindow window;
        QVERIFY(window.Show(Pattern(32, 24), 1, 0));
        window.Form()->close();
        QVERIFY(!window.Show(Pattern(32, 24), 2, 40000));
        QVERIFY(!window.Form()->isVisible());
    }

    // The engine's previewer runs on a worker and hands each picture to the
    // main thread, where the installed factory makes the window.
    void engineReachesTheWindowFromAWorker() {
        InstallPreviewWindows();
        auto previewer = std::make_unique<TPreviewer>();
        const Bitmap24 picture = Pattern(40, 30);
        // 1: first picture shown; 2: window closed, show again; 3: shown
        // again; -1: the test gave up, the worker stops.
        std::atomic<int> step{0};
        std::atomic<bool> done{false};
        bool first = false, afterClose = true;
        std::thread worker([&] {
            first = previewer->Show(picture, 1, 1'000'000);
            step = 1;
            const auto until = std::chrono::steady_clock::now() + kWaitLimit;
            while (step == 1 && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
            if (step == 2) {
                afterClose = previewer->Show(picture, 2, 2'000'000);
                step = 3;
            }
            done = true;
        });
        // Whatever the checks below find, the worker is let go and joined.
        const TWorkerRelease release{worker, step, done};
        QVERIFY(ServiceUntil([&] { return step != 0; }));
        QVERIFY(first);
        const std::vector<TPreviewForm*> forms = PreviewForms();
        QCOMPARE(int(forms.size()), 1);
        QCOMPARE(forms[0]->size(), QSize(40, 30));
        QCOMPARE(forms[0]->windowTitle(), QString::fromStdString(DurationToText(1'000'000)));
        forms[0]->close();
        step = 2;
        QVERIFY(ServiceUntil([&] { return done.load(); }));
        QCOMPARE(step.load(), 3);
        QVERIFY(!afterClose);
        // Freeing the previewer frees its window on the main thread.
        previewer.reset();
        ServiceMainThread(std::chrono::milliseconds(10));
        QVERIFY(PreviewForms().empty());
        SetPreviewWindowFactory(nullptr);
    }
};

QTEST_MAIN(TestPreviewWindow)
#include "tst_previewwindow.moc"
