#include "media/FFmpegLogger.h"

#include "media/AVUtilEntries.h"
#include "media/CRuntimeEntries.h"
#include "media/FFUtils.h"
#include "media/MainThread.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Written whole when the logger applies its level; read by every thread
// the libraries log from.
std::atomic<int> FilterLevel{AV_LOG_INFO};

// The single logger. InstanceLock guards Instance: setting, clearing and
// reading it. The logger GetLogger makes itself is never freed, so threads
// that still log while the process ends (codec and audio threads) never
// reach a freed logger; a logger the host makes lives as long as the host
// keeps it.
TFFLogger* Instance = nullptr;
std::mutex InstanceLock;

struct TLevelWord {
    const char* Word;
    int Level;
};

const TLevelWord LevelWords[] = {{"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC},
                                 {"fatal", AV_LOG_FATAL},     {"error", AV_LOG_ERROR},
                                 {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
                                 {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG}};

int ParseLibraryLevel(const std::string& text) {
    std::string word = Lower(text);
    for (const TLevelWord& entry : LevelWords)
        if (word == entry.Word) return entry.Level;
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}

// "[name @ address]" of a library context; empty without a context.
std::string ContextPrefix(void* context) {
    if (!context) return {};
    const AVClass* cls = *static_cast<const AVClass**>(context);
    const char* name = "NULL";
    if (cls) name = cls->item_name ? cls->item_name(context) : cls->class_name;
    return FormatText("[%s @ %016" PRIXPTR "]", name ? name : "NULL",
                      reinterpret_cast<std::uintptr_t>(context));
}

// Formats a library message in full (no fixed buffer, so nothing is cut).
std::string FormatLibraryMessage(const char* format, va_list args) {
    auto print = ff::crt.vsnprintf ? ff::crt.vsnprintf : &::vsnprintf;
    char small[2048];
    va_list copy;
    va_copy(copy, args);
    int length = print(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0) return {};
    if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
    std::vector<char> large(static_cast<size_t>(length) + 1);
    print(large.data(), large.size(), format, args);
    return std::string(large.data(), static_cast<size_t>(length));
}

} // namespace

int LogLevelToLibrary(TLogLevel level) {
    return (static_cast<int>(level) - 1) * 8;
}

TLogLevel LibraryToLogLevel(int libraryLevel) {
    int q = libraryLevel / 8 + 1;
    return static_cast<TLogLevel>(
        std::clamp(q, static_cast<int>(llQuiet), static_cast<int>(llDebug)));
}

int LibraryFilterLevel() {
    return FilterLevel;
}

std::uint32_t CurrentThreadId() {
    return static_cast<std::uint32_t>(gettid());
}

TFFLogger::TFFLogger(TFFBaseComponent* owner) : TFFBaseComponent(owner) {
    std::lock_guard lock(InstanceLock);
    Register();
}

TFFLogger::TFFLogger(TInstanceLockHeld) : TFFBaseComponent(nullptr) {
    Register();
}

void TFFLogger::Register() {
    if (Instance) throw EAssertionFailed("Allow creating only one instance of TFFLogger.");
    LogLevel = LibraryToLogLevel(FilterLevel);
    Instance = this;
}

TFFLogger::~TFFLogger() {
    std::lock_guard lock(InstanceLock);
    if (Instance == this) Instance = nullptr;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
    if (LogLevel.exchange(level) == level) return;
    ApplyLevel();
}

void TFFLogger::SetLogLevelText(const std::string& text) {
    SetLogLevel(LibraryToLogLevel(ParseLibraryLevel(text)));
}

void TFFLogger::SetOnLog(TLogEvent handler) {
    std::lock_guard lock(HandlerLock);
    OnLog = std::move(handler);
}

void TFFLogger::ApplyLevel() {
    if (!ff::avutil.av_log_set_level) return;
    FilterLevel = LogLevelToLibrary(LogLevel);
    ff::avutil.av_log_set_level(FilterLevel);
}

void TFFLogger::Log(TFFBaseComponent* sender, TLogLevel level, const std::string& text) {
    TLogLevel current = LogLevel;
    if (level <= current || (level == llVerbose && current != llQuiet))
        Fire(sender, CurrentThreadId(), level, text);
}

void TFFLogger::LogFmt(TFFBaseComponent* sender, TLogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    Log(sender, level, text);
}

void TFFLogger::DeliverLibraryLine(std::uint32_t threadId, int libraryLevel,
                                   const std::string& line) {
    Fire(this, threadId, LibraryToLogLevel(libraryLevel), line);
}

// Each delivery carries its own values, so lines of different threads never
// share a slot; queued lines keep their order.
void TFFLogger::Fire(TFFBaseComponent* sender, std::uint32_t threadId, TLogLevel level,
                     const std::string& text) {
    TLogEvent handler;
    {
        std::lock_guard lock(HandlerLock);
        handler = OnLog;
    }
    if (!handler) return;
    if (TriggerEventInMainThread)
        QueueInMainThread([handler, sender, threadId, level, text] {
            // A failing handler cannot report through itself; the line is
            // dropped rather than the exception let into the host's loop.
            try {
                handler(sender, threadId, level, text);
            } catch (...) {
            }
        });
    else
        handler(sender, threadId, level, text);
}

TFFLogger& GetLogger() {
    std::lock_guard lock(InstanceLock);
    if (!Instance) new TFFLogger(TFFLogger::TInstanceLockHeld{}); // kept in Instance for good
    return *Instance;
}

void InstallLibraryLog() {
    Assert(ff::avutil.av_log_set_callback && ff::avutil.av_log_set_level);
    ff::avutil.av_log_set_callback(&LibraryLogCallback);
    GetLogger().ApplyLevel();
}

extern "C" void LibraryLogCallback(void* context, int level, const char* format, va_list args) {
    if (level > FilterLevel) return;
    std::string prefix = ContextPrefix(context);
    std::string message = FormatLibraryMessage(format, args);
    // The calling thread's line so far; a continuation carries no prefix.
    thread_local std::string pending;
    if (pending.empty())
        pending = prefix + message;
    else
        pending += message;
    std::uint32_t threadId = CurrentThreadId();
    while (pending.find('\n') != std::string::npos) {
        std::string line = FetchToken(pending, "\n", true);
        GetLogger().DeliverLibraryLine(threadId, level, line);
    }
}
