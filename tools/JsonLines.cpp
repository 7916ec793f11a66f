#include "JsonLines.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace {

const char* const kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// Length of the well-formed UTF-8 sequence at `p` (of `left` bytes), or 0:
// no overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t Utf8Length(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return length;
}

void AppendEscaped(std::string& out, unsigned char c) {
    switch (c) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
        static const char digits[] = "0123456789abcdef";
        out += "\\u00";
        out += digits[c >> 4];
        out += digits[c & 15];
        return;
    }
    out += static_cast<char>(c);
}

std::string JsonOrNull(const std::string& text) {
    return text.empty() ? "null" : JsonQuoted(text);
}

} // namespace

std::string JsonQuoted(const std::string& text) {
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        const std::size_t length = Utf8Length(p, left);
        if (length == 0) {
            out += kReplacement;
            ++p;
            --left;
        } else if (length == 1) {
            AppendEscaped(out, *p);
            ++p;
            --left;
        } else {
            out.append(reinterpret_cast<const char*>(p), length);
            p += length;
            left -= length;
        }
    }
    return out + "\"";
}

std::string JsonLine(const TJsonRecord& record) {
    return "{\"file\":" + JsonQuoted(record.File) + ",\"state\":" + JsonQuoted(record.State) +
           ",\"percent\":" + std::to_string(record.Percent) +
           ",\"output\":" + JsonOrNull(record.Output) + ",\"error\":" + JsonOrNull(record.Error) +
           "}";
}

int JsonPercent(const TProgressInfo& info) {
    if (info.TotalDuration <= 0 || info.CurrentDuration <= 0) return 0;
    const std::int64_t percent = info.CurrentDuration * 100 / info.TotalDuration;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

void TJsonLines::Write(const TJsonRecord& record) {
    const std::string line = JsonLine(record) + "\n";
    std::fwrite(line.data(), 1, line.size(), FOut);
    std::fflush(FOut);
}

void TJsonLines::AddTask(int task, const std::string& file, const std::string& output) {
    const std::lock_guard<std::mutex> lock(FLock);
    TJsonRecord& record = FTasks[task];
    record = TJsonRecord{file, "queued", 0, output, ""};
    Write(record);
}

void TJsonLines::FileFailed(const std::string& file, const std::string& error) {
    const std::lock_guard<std::mutex> lock(FLock);
    Write(TJsonRecord{file, "failed", 0, "", error});
}

void TJsonLines::Progress(const TProgressInfo& info) {
    const std::lock_guard<std::mutex> lock(FLock);
    const auto it = FTasks.find(info.TaskIndex);
    if (it == FTasks.end()) return;
    it->second.State = "converting";
    it->second.Percent = JsonPercent(info);
    Write(it->second);
}

// A finished task is at 100%; a stopped or failed one keeps the percentage
// it reached, and a failed one has no output file.
void TJsonLines::Ended(const TTerminateInfo& info) {
    const std::lock_guard<std::mutex> lock(FLock);
    const auto it = FTasks.find(info.TaskIndex);
    if (it == FTasks.end()) return;
    TJsonRecord& record = it->second;
    if (info.ExceptionRaised) {
        record.State = "failed";
        record.Error = info.ExceptionMsg.empty() ? "Unknown error" : info.ExceptionMsg;
        record.Output.clear();
    } else if (info.Finished && !info.EndedEarly.empty()) {
        record.State = "incomplete";
        record.Percent = info.ReachedPercent;
        record.Error = info.EndedEarly;
    } else if (info.Finished) {
        record.State = "finished";
        record.Percent = 100;
    } else {
        record.State = "stopped";
        // A task stopped before it converted anything leaves no file.
        std::error_code ec;
        if (!std::filesystem::exists(record.Output, ec)) record.Output.clear();
    }
    Write(record);
}
