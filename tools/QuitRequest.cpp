#include "QuitRequest.h"

#include "media/MainThread.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace quitrequest {

namespace {

// How long the orderly end may take before the process ends at once.
constexpr auto OrderlyLimit = std::chrono::milliseconds(700);

// The signal handler only writes the signal's number into this pipe; the
// watcher thread reads it. Set once by Install.
int gPipe[2] = {-1, -1};
std::atomic<int> gStatus{-1}; // -1 until the first request

// Set by Install before the watcher starts, read by the watcher only.
std::function<void()> gOrderly;

extern "C" void OnQuitSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

// Takes the requests: hands the first to the main thread, then keeps the
// deadline.
void Watch() {
    for (;;) {
        char byte = 0;
        const ssize_t n = ::read(gPipe[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        if (byte != 0) Request(128 + byte);
        QueueInMainThread(gOrderly);
        std::this_thread::sleep_for(OrderlyLimit);
        std::_Exit(Status());
    }
}

} // namespace

void Install(std::function<void()> orderly) {
    if (gPipe[0] >= 0 || ::pipe2(gPipe, O_CLOEXEC) != 0) return;
    gOrderly = std::move(orderly);
    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::thread(Watch).detach();
}

void Request(int status) {
    int none = -1;
    if (!gStatus.compare_exchange_strong(none, status)) return;
    if (gPipe[1] < 0) return;
    // A zero byte: a request made here, with its status already set.
    const char byte = 0;
    [[maybe_unused]] ssize_t written = ::write(gPipe[1], &byte, 1);
}

bool Requested() {
    return gStatus.load() >= 0;
}

int Status() {
    const int status = gStatus.load();
    return status < 0 ? 0 : status;
}

} // namespace quitrequest
