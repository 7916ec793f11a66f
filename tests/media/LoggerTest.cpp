// The logger: library lines assembled per thread, level rules, delivery on
// the main thread or on the logging thread.
#include "LogCollector.h"
#include "MediaTestSupport.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFUtils.h"
#include "media/MainThread.h"
#include "media/MyUtils.h"

#include <cstdarg>
#include <stdexcept>
#include <gtest/gtest.h>
#include <thread>

namespace {

void LibraryLog(void* context, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LibraryLogCallback(context, level, format, args);
    va_end(args);
}

std::vector<std::string> Texts(const std::vector<TLoggedLine>& lines) {
    std::vector<std::string> texts;
    for (const TLoggedLine& line : lines)
        texts.push_back(line.Text);
    return texts;
}

class Logger : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadSystemLibraries()); }
    void SetUp() override { GetLogger().SetLogLevel(llInfo); }
    void TearDown() override { GetLogger().SetLogLevel(llInfo); }
};

TEST_F(Logger, LevelConversions) {
    EXPECT_EQ(LogLevelToLibrary(llQuiet), -8);
    EXPECT_EQ(LogLevelToLibrary(llPanic), 0);
    EXPECT_EQ(LogLevelToLibrary(llInfo), 32);
    EXPECT_EQ(LogLevelToLibrary(llDebug), 48);
    EXPECT_EQ(LibraryToLogLevel(-8), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(0), llPanic);
    EXPECT_EQ(LibraryToLogLevel(16), llError);
    EXPECT_EQ(LibraryToLogLevel(20), llError);
    EXPECT_EQ(LibraryToLogLevel(-1), llPanic);
    EXPECT_EQ(LibraryToLogLevel(-100), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(56), llDebug);
    EXPECT_EQ(LibraryToLogLevel(1000), llDebug);
}

TEST_F(Logger, SetLogLevelTextWordsAndNumbers) {
    TFFLogger& logger = GetLogger();
    logger.SetLogLevelText("DEBUG");
    EXPECT_EQ(logger.GetLogLevel(), llDebug);
    EXPECT_EQ(ff::avutil.av_log_get_level(), AV_LOG_DEBUG);
    EXPECT_EQ(LibraryFilterLevel(), AV_LOG_DEBUG);
    logger.SetLogLevelText("20");
    EXPECT_EQ(logger.GetLogLevel(), llError);
    logger.SetLogLevelText("-100");
    EXPECT_EQ(logger.GetLogLevel(), llQuiet);
    logger.SetLogLevelText("Warning");
    EXPECT_EQ(logger.GetLogLevel(), llWarning);
    EXPECT_THROW(logger.SetLogLevelText("loud"), EConvertError);
    EXPECT_THROW(logger.SetLogLevelText("12x"), EConvertError);
    EXPECT_THROW(logger.SetLogLevelText(""), EConvertError);
    EXPECT_EQ(logger.GetLogLevel(), llWarning);
}

TEST_F(Logger, SameLevelDoesNotCallTheLibrariesAgain) {
    GetLogger().SetLogLevel(llWarning);
    ff::avutil.av_log_set_level(AV_LOG_TRACE); // changed behind the logger's back
    GetLogger().SetLogLevel(llWarning);
    EXPECT_EQ(ff::avutil.av_log_get_level(), AV_LOG_TRACE);
    GetLogger().SetLogLevel(llError);
    EXPECT_EQ(ff::avutil.av_log_get_level(), AV_LOG_ERROR);
}

TEST_F(Logger, SecondLoggerIsRefused) {
    GetLogger();
    try {
        TFFLogger second;
        FAIL() << "created";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
    }
}

TEST_F(Logger, ComponentMessagesFollowTheLevelAndTheVerboseRule) {
    LogCollector log;
    TFFBaseComponent sender;
    GetLogger().SetLogLevel(llWarning);
    GetLogger().Log(&sender, llInfo, "info");
    GetLogger().Log(&sender, llVerbose, "verbose");
    GetLogger().Log(&sender, llWarning, "warning");
    GetLogger().LogFmt(&sender, llError, "error %d %s", 7, "x");
    GetLogger().Log(&sender, llDebug, "debug");
    GetLogger().SetLogLevel(llQuiet);
    GetLogger().Log(&sender, llVerbose, "verbose quiet");
    GetLogger().Log(&sender, llInfo, "info quiet");
    GetLogger().Log(&sender, llQuiet, "quiet");
    std::vector<TLoggedLine> lines = log.Take();
    EXPECT_EQ(Texts(lines), (std::vector<std::string>{"verbose", "warning", "error 7 x", "quiet"}));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].Sender, &sender);
    EXPECT_EQ(lines[0].Level, llVerbose);
    EXPECT_EQ(lines[0].ThreadId, CurrentThreadId());
}

TEST_F(Logger, LibraryLineIsAssembledWithTheFirstCallsPrefix) {
    LogCollector log;
    TOptionContexts contexts;
    ASSERT_TRUE(AllocOptionContexts(contexts, SWS_BICUBIC));
    void* context = contexts.ScalerOptions;
    LibraryLog(context, AV_LOG_INFO, "abc");
    LibraryLog(context, AV_LOG_INFO, "def%d\n", 1);
    std::vector<TLoggedLine> lines = log.Take();
    ASSERT_EQ(lines.size(), 1u);
    std::string prefix =
        FormatText("[swscaler @ %016" PRIXPTR "]", reinterpret_cast<std::uintptr_t>(context));
    EXPECT_EQ(lines[0].Text, prefix + "abcdef1");
    EXPECT_EQ(lines[0].Sender, &GetLogger());
    EXPECT_EQ(lines[0].Level, llInfo);
}

TEST_F(Logger, LibraryMessageSplitsIntoLines) {
    LogCollector log;
    LibraryLog(nullptr, AV_LOG_WARNING, "a\nb\n");
    LibraryLog(nullptr, AV_LOG_ERROR, "\n");
    std::vector<TLoggedLine> lines = log.Take();
    EXPECT_EQ(Texts(lines), (std::vector<std::string>{"a", "b", ""}));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Level, llWarning);
    EXPECT_EQ(lines[2].Level, llError);
}

TEST_F(Logger, LibraryCallsAboveTheFilterAreDropped) {
    LogCollector log;
    GetLogger().SetLogLevel(llWarning);
    LibraryLog(nullptr, AV_LOG_INFO, "dropped\n");
    LibraryLog(nullptr, AV_LOG_WARNING, "kept\n");
    // Through the libraries themselves.
    ff::avutil.av_log(nullptr, AV_LOG_ERROR, "from av_log %s\n", "x");
    ff::avutil.av_log(nullptr, AV_LOG_VERBOSE, "not this\n");
    EXPECT_EQ(Texts(log.Take()), (std::vector<std::string>{"kept", "from av_log x"}));
}

TEST_F(Logger, LongLibraryMessageIsKeptWhole) {
    LogCollector log;
    std::string longText(5000, 'x');
    LibraryLog(nullptr, AV_LOG_ERROR, "%s\n", longText.c_str());
    std::vector<TLoggedLine> lines = log.Take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Text, longText);
}

TEST_F(Logger, InterleavedThreadsGetTheirOwnLines) {
    LogCollector log;
    std::uint32_t ids[2] = {};
    auto worker = [&ids](int n) {
        ids[n] = CurrentThreadId();
        for (int i = 0; i < 200; ++i) {
            LibraryLog(nullptr, AV_LOG_INFO, "t%d-", n);
            std::this_thread::yield();
            LibraryLog(nullptr, AV_LOG_INFO, "%d", i);
            LibraryLog(nullptr, AV_LOG_INFO, "\n");
        }
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    std::vector<TLoggedLine> lines = log.Take();
    ASSERT_EQ(lines.size(), 400u);
    int next[2] = {0, 0};
    for (const TLoggedLine& line : lines) {
        int n = line.ThreadId == ids[0] ? 0 : 1;
        ASSERT_EQ(line.ThreadId, ids[n]);
        EXPECT_EQ(line.Text, "t" + std::to_string(n) + "-" + std::to_string(next[n]++));
    }
    EXPECT_EQ(next[0], 200);
    EXPECT_EQ(next[1], 200);
}

TEST_F(Logger, MainThreadDeliveryQueuesAndTheLoggingThreadGoesOn) {
    SetMainThread();
    LogCollector log(true);
    TFFBaseComponent sender;
    std::uint32_t workerId = 0;
    // The main thread does not service while the worker logs: a waiting
    // delivery would never return and the join would hang.
    std::thread worker([&] {
        workerId = CurrentThreadId();
        for (int i = 0; i < 50; ++i)
            GetLogger().LogFmt(&sender, llInfo, "line %d", i);
        LibraryLog(nullptr, AV_LOG_ERROR, "library\n");
    });
    worker.join();
    EXPECT_TRUE(log.Take().empty());
    ProcessPendingMessages();
    std::vector<TLoggedLine> lines = log.Take();
    ASSERT_EQ(lines.size(), 51u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(lines[i].Text, "line " + std::to_string(i));
        EXPECT_EQ(lines[i].Sender, &sender);
        EXPECT_EQ(lines[i].ThreadId, workerId);
    }
    EXPECT_EQ(lines[50].Text, "library");
    EXPECT_EQ(lines[50].Sender, &GetLogger());
    EXPECT_EQ(lines[50].Level, llError);
    // The main thread's own lines arrive at once.
    GetLogger().Log(&sender, llError, "main");
    EXPECT_EQ(Texts(log.Take()), (std::vector<std::string>{"main"}));
    ClearMainThread();
}

// A handler that fails on the main thread loses its line; the exception
// stays out of the host's loop and the lines after it still arrive.
TEST_F(Logger, AQueuedHandlerThatThrowsStaysOutOfTheMainLoop) {
    SetMainThread();
    GetLogger().TriggerEventInMainThread = true;
    std::vector<std::string> texts;
    GetLogger().SetOnLog(
        [&texts](TFFBaseComponent*, std::uint32_t, TLogLevel, const std::string& text) {
            if (text == "bad") throw std::runtime_error("handler failed");
            texts.push_back(text);
        });
    std::thread worker([] {
        GetLogger().Log(nullptr, llError, "bad");
        GetLogger().Log(nullptr, llError, "good");
    });
    worker.join();
    EXPECT_NO_THROW(ProcessPendingMessages());
    EXPECT_NO_THROW(ProcessPendingMessages());
    GetLogger().SetOnLog(nullptr);
    ClearMainThread();
    EXPECT_EQ(texts, (std::vector<std::string>{"good"}));
}

TEST_F(Logger, WithoutMainThreadDeliveryTheHandlerRunsOnTheLoggingThread) {
    SetMainThread();
    LogCollector log(false);
    std::uint32_t workerId = 0;
    std::thread worker([&] {
        workerId = CurrentThreadId();
        GetLogger().Log(nullptr, llError, "direct");
    });
    worker.join();
    std::vector<TLoggedLine> lines = log.Take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].ThreadId, workerId);
    ClearMainThread();
}

TEST_F(Logger, NoHandlerDropsLines) {
    GetLogger().SetOnLog(nullptr);
    GetLogger().Log(nullptr, llError, "nobody");
    LibraryLog(nullptr, AV_LOG_ERROR, "nobody\n");
    LogCollector log;
    EXPECT_TRUE(log.Take().empty());
}

} // namespace
