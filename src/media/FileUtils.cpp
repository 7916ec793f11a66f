#include "media/FileUtils.h"

#include "media/MyUtils.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <ctime>
#include <sys/stat.h>

std::string FetchToken(std::string& text, const std::string& delimiter, bool remove) {
    std::size_t at = delimiter.empty() ? std::string::npos : text.find(delimiter);
    if (at == std::string::npos) {
        std::string result = text;
        if (remove) text.clear();
        return result;
    }
    std::string result = text.substr(0, at);
    if (remove) text.erase(0, at + delimiter.size());
    return result;
}

bool IsExistingFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string ReadOnceSourceText(const std::string& path) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) return {};
    if (!S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode) && !S_ISCHR(info.st_mode)) return {};
    return "Not a regular file: a pipe or a device cannot be probed and then converted";
}

std::int64_t GetFileSize64(const std::string& path) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

double LocalTimeZoneOffset() {
    tzset();
    return -static_cast<double>(timezone) / 86400.0;
}

double UnixTimeToLocalDateTime(std::int64_t seconds) {
    return static_cast<double>(seconds) / 86400.0 + 25569.0 + LocalTimeZoneOffset();
}

namespace {

struct TDateTimeParts {
    int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

TDateTimeParts SplitDateTime(double dateTime) {
    using namespace std::chrono;
    long long totalMs = std::llround(dateTime * 86400000.0);
    long long dayCount = totalMs >= 0 ? totalMs / 86400000 : -((-totalMs + 86399999) / 86400000);
    long long msOfDay = totalMs - dayCount * 86400000;
    year_month_day date{sys_days{year{1899} / December / 30} + days{dayCount}};
    return {static_cast<int>(date.year()),          static_cast<int>(unsigned(date.month())),
            static_cast<int>(unsigned(date.day())), static_cast<int>(msOfDay / 3600000),
            static_cast<int>(msOfDay / 60000 % 60), static_cast<int>(msOfDay / 1000 % 60),
            static_cast<int>(msOfDay % 1000)};
}

// Length of the run of `c` starting at `at`.
std::size_t RunLength(const std::string& text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && std::tolower(text[end]) == std::tolower(text[at]))
        ++end;
    return end - at;
}

std::string Field(int value, std::size_t width) {
    return FormatText("%0*d", static_cast<int>(width), value);
}

} // namespace

std::string DateTimeToText(const std::string& pattern, double dateTime) {
    TDateTimeParts p = SplitDateTime(dateTime);
    std::string text;
    for (std::size_t at = 0; at < pattern.size();) {
        char c = static_cast<char>(std::tolower(pattern[at]));
        std::size_t run = RunLength(pattern, at);
        std::size_t two = std::min<std::size_t>(run, 2);
        switch (c) {
        case 'y':
            text += run >= 3 ? Field(p.Year, 4) : Field(p.Year % 100, 2);
            break;
        case 'm':
            text += Field(p.Month, two);
            break;
        case 'd':
            text += Field(p.Day, two);
            break;
        case 'h':
            text += Field(p.Hour, two);
            break;
        case 'n':
            text += Field(p.Minute, two);
            break;
        case 's':
            text += Field(p.Second, two);
            break;
        case 'z':
            text += run >= 3 ? Field(p.Millisecond, 3) : Field(p.Millisecond, 1);
            break;
        default:
            text.append(pattern, at, run);
            break;
        }
        at += run;
    }
    return text;
}
