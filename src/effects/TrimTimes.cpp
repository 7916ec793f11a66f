#include "effects/TrimTimes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr std::int64_t kSecond = 1000000;

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Digits only, at least one; false for an empty or signed field.
bool WholeNumber(const std::string& field, std::int64_t& value) {
    if (field.empty() || field.size() > 12) return false;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value);
    return error == std::errc() && stop == end && field[0] != '-' && field[0] != '+';
}

// "SS" or "SS.ffffff" in microseconds.
bool SecondsField(const std::string& field, std::int64_t& value) {
    const std::size_t dot = field.find('.');
    std::int64_t whole = 0;
    if (!WholeNumber(field.substr(0, dot), whole)) return false;
    std::int64_t fraction = 0;
    if (dot != std::string::npos) {
        std::string digits = field.substr(dot + 1);
        if (digits.empty() || digits.size() > 6) return false;
        digits.append(6 - digits.size(), '0');
        if (!WholeNumber(digits, fraction)) return false;
    }
    value = whole * kSecond + fraction;
    return true;
}

std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) return fields;
        start = colon + 1;
    }
}

} // namespace

std::string TrimTimeText(std::int64_t microseconds) {
    if (microseconds < 0) microseconds = 0;
    const std::int64_t seconds = microseconds / kSecond;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
    const int milliseconds = static_cast<int>((microseconds % kSecond) / 1000);
    if (microseconds % kSecond == 0) return text;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", milliseconds);
    return text + std::string(fraction);
}

bool ParseTrimTime(const std::string& text, std::int64_t& microseconds) {
    const std::vector<std::string> fields = Fields(Trimmed(text));
    if (fields.size() > 3) return false;
    std::int64_t seconds = 0;
    if (!SecondsField(fields.back(), seconds)) return false;
    const bool first = fields.size() == 1;
    if (!first && seconds >= 60 * kSecond) return false;
    std::int64_t minutes = 0, hours = 0;
    if (fields.size() >= 2 && !WholeNumber(fields[fields.size() - 2], minutes)) return false;
    if (fields.size() == 3 && (!WholeNumber(fields[0], hours) || minutes >= 60)) return false;
    if (hours > 999999) return false;
    microseconds = ((hours * 60 + minutes) * 60) * kSecond + seconds;
    return true;
}

std::int64_t StepFrames(std::int64_t microseconds, double rate, int frames) {
    if (!(rate > 0)) return std::max<std::int64_t>(microseconds, 0);
    const double frameUS = kSecond / rate;
    const auto nearest = std::llround(static_cast<double>(microseconds) / frameUS);
    const std::int64_t index = std::max<std::int64_t>(nearest + frames, 0);
    return static_cast<std::int64_t>(std::floor(static_cast<double>(index) * frameUS));
}
