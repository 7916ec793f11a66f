#include "app/MainThreadPump.h"

#include "media/MainThread.h"

#include <QCoreApplication>
#include <QTimer>

void InstallMainThreadPump() {
    static QTimer* timer = nullptr;
    if (timer) return;
    SetMainThread();
    SetMessagePumpHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    // Posted calls are few (progress, previews, log lines, terminations), so
    // looking for them every 10 ms costs nothing and keeps the window live.
    timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout,
                     [] { ServiceMainThread(std::chrono::milliseconds(0)); });
    timer->start();
}
