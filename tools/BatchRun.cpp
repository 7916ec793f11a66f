#include "BatchRun.h"

#include <cstring>

#include "media/Bitmap24.h"

#include "engine/FFmpegVCL.h"
#include "media/FFUtils.h"
#include "media/FFmpegLogger.h"
#include "media/MainThread.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <iterator>
#include <pthread.h>
#include <unistd.h>

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler sets an atomic value");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads an atomic flag");
std::atomic<int> gCaughtSignal{0};   // the first stop signal, 0 before one came
std::atomic<bool> gSettingUp{false}; // a signal now makes opening give up
// The thread that takes the signals; written before the handler is set.
pid_t gMainThreadId = 0;
pthread_t gMainThread{};

// Ctrl-C, and the stop requests of the system and of a closed terminal.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
static_assert(std::size(kStopSignals) == 3, "TStopSignals keeps one old action per signal");

// The first signal only notes itself (and, while the command sets up, asks
// the components to give up opening files); a second one (of any of them)
// ends the program at once, as the default action of that signal does. A
// signal that another thread took goes on to the main thread, whose
// blocked open or read it has to interrupt.
extern "C" void CatchStopSignal(int signal) {
    const int savedErrno = errno;
    if (gettid() != gMainThreadId) {
        pthread_kill(gMainThread, signal);
    } else if (int none = 0; gCaughtSignal.compare_exchange_strong(none, signal)) {
        if (gSettingUp.load()) RequestOpenInterrupt();
    } else {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
        raise(signal);
    }
    errno = savedErrno;
}

void CatchStopSignals(bool restartCalls, struct sigaction* old) {
    struct sigaction action {};
    action.sa_handler = CatchStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = restartCalls ? SA_RESTART : 0;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        sigaction(kStopSignals[i], &action, old ? &old[i] : nullptr);
}

// Blocks the stop signals on the calling thread for its lifetime: threads
// started meanwhile (the workers, and every thread they start) inherit the
// blocked signals, so it is always the main thread that takes them.
class TInterruptBlock {
public:
    TInterruptBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : kStopSignals)
            sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &FOld);
    }
    ~TInterruptBlock() { pthread_sigmask(SIG_SETMASK, &FOld, nullptr); }
    TInterruptBlock(const TInterruptBlock&) = delete;
    TInterruptBlock& operator=(const TInterruptBlock&) = delete;

private:
    sigset_t FOld;
};

} // namespace

TStopSignals::TStopSignals() {
    gCaughtSignal = 0;
    gSettingUp = true;
    gMainThreadId = gettid();
    gMainThread = pthread_self();
    // Without SA_RESTART a blocked open or read of the set-up returns, and
    // the libraries then ask whether to give up.
    CatchStopSignals(false, FOld);
}

TStopSignals::~TStopSignals() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        sigaction(kStopSignals[i], &FOld[i], nullptr);
    gSettingUp = false;
}

// The flag goes down before the signal is looked at: a signal after that
// stops the batch, one before it is seen here.
bool TStopSignals::StartConverting() {
    gSettingUp = false;
    if (Caught()) return false;
    CatchStopSignals(true, nullptr);
    return true;
}

bool TStopSignals::Caught() const {
    return gCaughtSignal != 0;
}

int TStopSignals::Signal() const {
    return gCaughtSignal;
}

std::string TStopSignals::StoppedText() const {
    return FormatText("Stopped by signal %d before converting: nothing was written", Signal());
}

std::string ProgressText(const TProgressInfo& info) {
    std::string text;
    if (info.FrameNumber >= 0)
        text = FormatText("frame=%5d fps=%3d q=%3.1f ", info.FrameNumber, info.FPS,
                          static_cast<double>(info.Quality));
    return text + FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s",
                             static_cast<double>(info.CurrentSize) / 1024.0,
                             static_cast<double>(info.CurrentDuration) / 1e6,
                             static_cast<double>(info.BitRate));
}

std::string TerminationText(const TTerminateInfo& info) {
    if (info.ExceptionRaised) return "failed: " + info.ExceptionMsg;
    if (info.Finished && !info.EndedEarly.empty()) return "ended early: " + info.EndedEarly;
    return info.Finished ? "finished" : "stopped";
}

TConsole::~TConsole() {
    if (FProgressShown) std::fputc('\n', FOut);
}

void TConsole::Progress(const std::string& text) {
    const std::lock_guard<std::mutex> lock(FLock);
    // The spaces cover the end of a longer line shown before.
    std::fprintf(FOut, "\r%s   ", text.c_str());
    std::fflush(FOut);
    FProgressShown = true;
}

void TConsole::Line(const std::string& text) {
    const std::lock_guard<std::mutex> lock(FLock);
    if (FProgressShown) std::fputc('\n', FOut);
    FProgressShown = false;
    std::fprintf(FOut, "%s\n", text.c_str());
    std::fflush(FOut);
}

TLogToConsole::TLogToConsole(TConsole& console, std::vector<const TFFBaseComponent*> quiet)
    : FOldTrigger(GetLogger().TriggerEventInMainThread) {
    // Lines are printed on the thread that logs them: the main thread may
    // be busy in a long wait.
    GetLogger().TriggerEventInMainThread = false;
    GetLogger().SetOnLog([&console, quiet = std::move(quiet)](TFFBaseComponent* sender,
                                                              std::uint32_t, TLogLevel level,
                                                              const std::string& text) {
        // llQuiet lines are the tasks' failures, printed as their results.
        if (level == llQuiet || level > llWarning ||
            std::find(quiet.begin(), quiet.end(), sender) != quiet.end())
            return;
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (!line.empty()) console.Line(line);
    });
}

TLogToConsole::~TLogToConsole() {
    GetLogger().SetOnLog(nullptr);
    GetLogger().TriggerEventInMainThread = FOldTrigger;
}

TBatchRun::TBatchRun(TCustomFFmpegVCL& converter, TConsole& console, const TStopSignals& signals,
                     TBatchPlan* plan)
    : FConverter(converter), FConsole(console), FSignals(signals), FOwnPlan(converter),
      FRunner(converter, plan ? *plan : FOwnPlan) {
    FRunner.OnTaskProgress = [this](const TTaskReport& report) {
        FConsole.Progress(Label(report.Task) + ProgressText(*report.Info));
        if (FObserver) FObserver->Progress(*report.Info);
    };
    FRunner.OnTaskEnded = [this](const TTaskEnd& end) {
        FConsole.Line(Label(end.Info->TaskIndex) + "Conversion " + TerminationText(*end.Info));
        if (FObserver) FObserver->Ended(*end.Info);
    };
}

TBatchRun::~TBatchRun() = default;

void TBatchRun::SetTaskLabel(int task, const std::string& label) {
    FLabels[task] = label;
}

std::string TBatchRun::Label(int task) const {
    const auto it = FLabels.find(task);
    return it == FLabels.end() ? std::string() : it->second;
}

std::vector<TTerminateInfo> TBatchRun::Run(int maxConcurrent) {
    if (FConverter.TaskCount() == 0) return {};
    FInterrupted = false;
    {
        const TInterruptBlock block;
        FRunner.Start(maxConcurrent);
    }
    while (!FRunner.Ended()) {
        ServiceMainThread(std::chrono::milliseconds(50));
        if (!FInterrupted && FSignals.Caught()) {
            FInterrupted = true;
            FConsole.Line("Stopping...");
            FConverter.Stop(true);
        }
    }
    return FRunner.Results();
}

void InvertFrame(THookInfo* info) {
    if (!info || !info->Bitmap) return;
    // Eight bytes at a time: inverting a byte is flipping its bits.
    std::uint8_t* p = info->Bitmap->Data.data();
    std::size_t left = info->Bitmap->Data.size();
    for (; left >= sizeof(std::uint64_t);
         p += sizeof(std::uint64_t), left -= sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        word = ~word;
        std::memcpy(p, &word, sizeof word);
    }
    for (; left > 0; ++p, --left)
        *p = static_cast<std::uint8_t>(~*p);
}
