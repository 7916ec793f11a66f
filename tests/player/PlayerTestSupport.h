// Shared set-up of the player tests: the player's libraries, a recording
// surface, waits that serve the main thread, and media made once.
#pragma once

#include "media/FFmpegLoader.h"
#include "media/FFHandles.h"
#include "media/FFmpegLogger.h"
#include "media/MainThread.h"
#include "player/FFPlay.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A display that remembers what it was given. Any thread.
class TRecordingSurface : public IVideoSurface {
public:
    TRecordingSurface(int width, int height) : FWidth(width), FHeight(height) {}
    int ClientWidth() const override { return FWidth; }
    int ClientHeight() const override { return FHeight; }
    bool SetMode(int width, int height) override {
        std::lock_guard lock(Lock);
        ModeWidth = width;
        ModeHeight = height;
        return true;
    }
    void Show(const Bitmap32& picture, const TSurfaceRect& rect) override {
        std::lock_guard lock(Lock);
        Last = picture;
        LastRect = rect;
        ++Shown;
    }
    void Redraw() override {}

    std::mutex Lock; // guards everything below
    int ModeWidth = 0, ModeHeight = 0;
    Bitmap32 Last;
    TSurfaceRect LastRect;
    int Shown = 0;

private:
    int FWidth, FHeight;
};

// Serves the main thread until `done` holds; false when `seconds` pass.
template <typename Done> bool WaitUntil(Done done, double seconds = 10) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        ServiceMainThread(std::chrono::milliseconds(5));
    }
    return true;
}

// Collects the logger's lines on the logging thread.
class TPlayerLog {
public:
    TPlayerLog() {
        GetLogger().TriggerEventInMainThread = false;
        GetLogger().SetOnLog(
            [this](TFFBaseComponent*, std::uint32_t, TLogLevel, const std::string& text) {
                std::lock_guard lock(Lock);
                Lines.push_back(text);
            });
    }
    ~TPlayerLog() { GetLogger().SetOnLog(nullptr); }
    bool Contains(const std::string& text) {
        std::lock_guard lock(Lock);
        for (const auto& line : Lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

private:
    std::mutex Lock;
    std::vector<std::string> Lines;
};

// Test media, made on first use for the whole program.
struct TPlayerMedia {
    testsupport::TempDir Dir;
    std::string AudioVideo; // 2 s, 160x120 at 25 fps, key frame every 10, mpeg4 + mp2, mkv
    std::string VideoOnly;  // 2 s, 160x120 at 25 fps, key frame every 10, mpeg4, mkv
    std::string Tone;       // 1 s, 440 Hz mono 44100 Hz signed 16-bit, wav
    std::string Wide;       // 1 s, 160x90 picture stored as 80x90 with 2:1 pixels, mkv

    static TPlayerMedia& Get();
};

// Loads the player's libraries once and makes the test thread the main thread.
class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    TPlayerMedia& Media() { return TPlayerMedia::Get(); }
};

// The decoding of frame `index` of `file` by ffmpeg as 24-bit BGR rows.
std::vector<std::uint8_t> OracleFrame(const std::string& file, int index, int width, int height);
// Mean absolute difference between a bitmap and BGR rows of the same size.
double MeanDifference(const Bitmap24& bitmap, const std::vector<std::uint8_t>& rows);

// Events as the host sees them (on the main thread).
struct TSeen {
    std::vector<TPlayState> States;
    std::vector<std::int64_t> Positions;
    void Attach(TFFPlayer& player) {
        player.OnState = [this](TCustomPlayer*, const TPlayState s) { States.push_back(s); };
        player.OnPosition = [this](TCustomPlayer*, const std::int64_t p) {
            Positions.push_back(p);
        };
    }
    int Count(TPlayState state) const {
        return static_cast<int>(std::count(States.begin(), States.end(), state));
    }
    bool Has(TPlayState state) const { return Count(state) > 0; }
};

// A decoder for `stream`, opened under the codec lock as the player opens
// its own; a failure fails the test. Null when no decoder is known.
ff::CodecContextPtr OpenStreamCodec(const AVStream& stream);
