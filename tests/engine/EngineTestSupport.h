// Shared set-up of the engine tests: the media libraries, a log collector
// and small test media made once per program.
#pragma once

#include "engine/FFmpegRecords.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Collects the logger's lines on the logging thread.
class EngineLog {
public:
    EngineLog() {
        GetLogger().TriggerEventInMainThread = false;
        GetLogger().SetOnLog(
            [this](TFFBaseComponent*, std::uint32_t, TLogLevel level, const std::string& text) {
                std::lock_guard<std::mutex> lock(Lock);
                Lines.emplace_back(level, text);
            });
    }
    ~EngineLog() { GetLogger().SetOnLog(nullptr); }
    bool Contains(const std::string& text) {
        std::lock_guard<std::mutex> lock(Lock);
        for (const auto& line : Lines)
            if (line.second.find(text) != std::string::npos) return true;
        return false;
    }
    // The last line holding `text`, empty when none does.
    std::string Find(const std::string& text) {
        std::lock_guard<std::mutex> lock(Lock);
        for (auto line = Lines.rbegin(); line != Lines.rend(); ++line)
            if (line->second.find(text) != std::string::npos) return line->second;
        return {};
    }
    int Count(const std::string& text) {
        std::lock_guard<std::mutex> lock(Lock);
        int count = 0;
        for (const auto& line : Lines)
            count += line.second.find(text) != std::string::npos ? 1 : 0;
        return count;
    }
    int CountAtOrBelow(TLogLevel level) {
        std::lock_guard<std::mutex> lock(Lock);
        int count = 0;
        for (const auto& line : Lines)
            count += line.first <= level ? 1 : 0;
        return count;
    }

private:
    std::mutex Lock;
    std::vector<std::pair<TLogLevel, std::string>> Lines;
};

// Loads the converter's libraries once.
inline void RequireLibraries() {
    static const bool loaded = FFmpegLoader().LoadLibraries(ConverterLibraries);
    ASSERT_TRUE(loaded) << FFmpegLoader().GetLastError();
}

// A fixture base that loads the libraries before the fixture's members are
// built: a task made before loading has no option contexts yet.
struct LibrariesFirst {
    LibrariesFirst() { FFmpegLoader().LoadLibraries(ConverterLibraries); }
};

// Test media made on first use in one folder for the whole program.
struct EngineMedia {
    testsupport::TempDir Dir;
    std::string AudioVideo; // 2 s, 160x120 at 25 fps, mpeg4 + mp2 stereo 44100 Hz, avi
    std::string VideoOnly;  // 1 s, 160x120 mpeg4, avi
    std::string OneSecond;  // 1 s audio+video mkv
    std::string TwoSeconds; // 2 s audio+video mkv

    static EngineMedia& Get() {
        static EngineMedia media;
        return media;
    }

private:
    EngineMedia() {
        const std::string av = "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                               "sine=frequency=440:sample_rate=44100 -ac 2 ";
        AudioVideo = Dir.file("av.avi");
        VideoOnly = Dir.file("video.avi");
        OneSecond = Dir.file("one.mkv");
        TwoSeconds = Dir.file("two.mkv");
        testsupport::MakeMedia(AudioVideo, av + "-t 2 -c:v mpeg4 -c:a mp2");
        testsupport::MakeMedia(VideoOnly,
                               "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v mpeg4");
        testsupport::MakeMedia(OneSecond, av + "-t 1 -c:v mpeg4 -c:a mp2");
        testsupport::MakeMedia(TwoSeconds, av + "-t 2 -c:v mpeg4 -c:a mp2");
    }
};

// Runs `action` and returns the FFmpegException's message ("" when none).
inline std::string EngineError(const std::function<void()>& action) {
    try {
        action();
    } catch (const FFmpegException& e) {
        return e.what();
    }
    return "";
}
