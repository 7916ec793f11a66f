// The process-wide logger: the media libraries' log output (split into whole
// lines per thread) and the media components' own messages, filtered by
// level and handed to one OnLog handler.
#pragma once

#include "media/FFBaseComponent.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

enum TLogLevel : std::uint8_t {
    llQuiet,
    llPanic,
    llFatal,
    llError,
    llWarning,
    llInfo,
    llVerbose,
    llDebug
};

// Sender, id of the thread that logged, level, one line without its line end.
using TLogEvent = std::function<void(TFFBaseComponent* Sender, std::uint32_t AThreadID,
                                     TLogLevel ALogLevel, const std::string& ALogMsg)>;

// Raised by SetLogLevelText for a text that is neither a level nor a number.
class EConvertError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// (ordinal - 1) * 8: llQuiet -8 ... llDebug 48.
int LogLevelToLibrary(TLogLevel level);
// level / 8 + 1 (toward zero), clamped to llQuiet..llDebug.
TLogLevel LibraryToLogLevel(int libraryLevel);
// The library filter level: library calls above it are dropped at once.
int LibraryFilterLevel();

// The id the logger reports for the calling thread.
std::uint32_t CurrentThreadId();

class TFFLogger : public TFFBaseComponent {
public:
    // Fails with "Allow creating only one instance of TFFLogger." when a
    // logger exists already.
    explicit TFFLogger(TFFBaseComponent* owner = nullptr);
    ~TFFLogger() override;

    TLogLevel GetLogLevel() const { return LogLevel; }
    // Stores the level and applies it to the libraries when it changes.
    void SetLogLevel(TLogLevel level);
    // "quiet" ... "debug" (any case) or a library level as a decimal number.
    void SetLogLevelText(const std::string& text);

    // With true (the default) OnLog runs on the main thread: each line is
    // queued there and the logging thread goes on. With false the handler
    // runs on the logging thread.
    std::atomic<bool> TriggerEventInMainThread{true};

    void SetOnLog(TLogEvent handler);

    void Log(TFFBaseComponent* sender, TLogLevel level, const std::string& text);
    void LogFmt(TFFBaseComponent* sender, TLogLevel level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // Applies the level to the libraries (when av_log_set_level is bound).
    void ApplyLevel();
    // One complete library line (called by the library callback).
    void DeliverLibraryLine(std::uint32_t threadId, int libraryLevel, const std::string& line);

private:
    friend TFFLogger& GetLogger();
    struct TInstanceLockHeld {};
    // The logger GetLogger makes, with the instance lock already held.
    explicit TFFLogger(TInstanceLockHeld);
    // Becomes the single logger (instance lock held).
    void Register();
    void Fire(TFFBaseComponent* sender, std::uint32_t threadId, TLogLevel level,
              const std::string& text);

    std::atomic<TLogLevel> LogLevel{llInfo};
    std::mutex HandlerLock; // guards OnLog
    TLogEvent OnLog;
};

// The single logger; creates one without an owner when none exists (that
// one lives until the process ends). A logger made by the host must outlive
// every thread that may still log through it.
TFFLogger& GetLogger();

// Installs LibraryLogCallback in the libraries and applies the level;
// av_log_set_callback and av_log_set_level must be bound.
void InstallLibraryLog();

// The callback given to av_log_set_callback.
extern "C" void LibraryLogCallback(void* context, int level, const char* format, va_list args);
