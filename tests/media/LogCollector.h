// Collects the logger's lines on the logging thread for a test.
#pragma once

#include "media/FFmpegLogger.h"

#include <mutex>
#include <string>
#include <vector>

struct TLoggedLine {
    TFFBaseComponent* Sender;
    std::uint32_t ThreadId;
    TLogLevel Level;
    std::string Text;
};

class LogCollector {
public:
    explicit LogCollector(bool onMainThread = false) {
        GetLogger().TriggerEventInMainThread = onMainThread;
        GetLogger().SetOnLog([this](TFFBaseComponent* sender, std::uint32_t id, TLogLevel level,
                                    const std::string& text) {
            std::lock_guard lock(Lock);
            Lines.push_back({sender, id, level, text});
        });
    }
    ~LogCollector() {
        GetLogger().SetOnLog(nullptr);
        GetLogger().TriggerEventInMainThread = true;
    }
    std::vector<TLoggedLine> Take() {
        std::lock_guard lock(Lock);
        return std::move(Lines);
    }
    bool Contains(const std::string& text) {
        std::lock_guard lock(Lock);
        for (const TLoggedLine& line : Lines)
            if (line.Text == text) return true;
        return false;
    }

private:
    std::mutex Lock;
    std::vector<TLoggedLine> Lines;
};
