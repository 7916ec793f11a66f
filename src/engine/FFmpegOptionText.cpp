// Option text helpers that need no media library.
#include "engine/FFmpegOptions.h"

#include "engine/FFmpegRecords.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    std::string::size_type pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

// A decimal number at `p` with "." as its separator whatever the locale
// (after blanks and a "+"); moves `p` past it. False when there is none.
bool ReadDouble(const char*& p, const char* end, double& value) {
    const char* q = p;
    while (q < end && (*q == ' ' || *q == '\t'))
        ++q;
    if (q < end && *q == '+' && q + 1 < end && q[1] != '-') ++q;
    const auto [stop, error] = std::from_chars(q, end, value, std::chars_format::general);
    if (error != std::errc() || !std::isfinite(value)) return false;
    p = stop;
    return true;
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

} // namespace

std::string UnifyLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> SplitOptionLines(const std::string& text) {
    std::string rest = UnifyLineBreaks(Trim(text));
    ReplaceAll(rest, "<CRLF>", "\n");
    std::vector<std::pair<std::string, std::string>> lines;
    if (rest.empty()) return lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t lf = rest.find('\n', start);
        const std::string line =
            rest.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            lines.emplace_back(Lower(line), std::string());
        else
            lines.emplace_back(Lower(line.substr(0, eq)), line.substr(eq + 1));
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    return lines;
}

TOptionPairs RecordOptions(const std::string& text, const TOptionPairs& pairs) {
    TOptionPairs options = SplitOptionLines(text);
    for (const auto& [name, value] : pairs)
        options.emplace_back(Lower(name), value);
    return options;
}

bool IsSharedCodecOption(const std::string& name) {
    return IsOneOf(name, {"b", "maxrate", "minrate", "bufsize", "trellis", "level", "flags"});
}

bool IsInputSkippedOption(const std::string& name) {
    return IsOneOf(
        name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"});
}

bool IsOutputSkippedOption(const std::string& name) {
    return IsInputSkippedOption(name) || IsOneOf(name, {"acodec", "vcodec", "scodec", "s"});
}

int64_t ParseInt64Value(const std::string& text) {
    const std::string t = Trim(text);
    errno = 0;
    char* end = nullptr;
    const long long v = t.empty() ? 0 : std::strtoll(t.c_str(), &end, 10);
    if (t.empty() || *end != '\0' || errno == ERANGE)
        throw FFmpegException("'" + text + "' is not a valid integer value");
    return v;
}

int ParseIntValue(const std::string& text) {
    const int64_t v = ParseInt64Value(text);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        throw FFmpegException("'" + text + "' is not a valid integer value");
    return static_cast<int>(v);
}

double ParseFloatValue(const std::string& text) {
    const std::string t = Trim(text);
    const char* p = t.data();
    const char* end = t.data() + t.size();
    double v = 0.0;
    if (t.empty() || !ReadDouble(p, end, v) || p != end)
        throw FFmpegException("'" + text + "' is not a valid floating point value");
    return v;
}

uint32_t TagFromText(const std::string& text) {
    uint32_t tag = 0;
    for (int i = 3; i >= 0; --i)
        tag = (tag << 8) | static_cast<unsigned char>(text[i]);
    return tag;
}

namespace {
// The leading integer of a text, 0 when there is none.
int LeadingInt(const std::string& text) {
    const std::string t = Trim(text);
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (end == t.c_str() || *end != '\0' || errno == ERANGE || v > INT32_MAX || v < INT32_MIN)
        return 0;
    return static_cast<int>(v);
}
} // namespace

double AspectFromText(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        const int x = LeadingInt(text.substr(0, colon));
        const int y = LeadingInt(text.substr(colon + 1));
        return y > 0 ? static_cast<double>(x) / y : 0.0;
    }
    const std::string t = Trim(text);
    const char* p = t.data();
    double v = 0.0;
    if (!ReadDouble(p, t.data() + t.size(), v) || p != t.data() + t.size()) return 0.0;
    return v;
}

namespace {
// strtol with base detection; returns the number and moves `p` past it.
int NextLong(const char*& p) {
    char* end = nullptr;
    const long v = std::strtol(p, &end, 0);
    p = end;
    return static_cast<int>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}
// Skips one character unless the text has ended.
void SkipOne(const char*& p) {
    if (*p) ++p;
}
} // namespace

TStreamMap ParseStreamMap(const std::string& text) {
    const char* p = text.c_str();
    TStreamMap m;
    m.FileIndex = NextLong(p);
    SkipOne(p);
    m.StreamIndex = NextLong(p);
    if (*p) {
        SkipOne(p);
        m.SyncFileIndex = NextLong(p);
        SkipOne(p);
        m.SyncStreamIndex = NextLong(p);
    } else {
        m.SyncFileIndex = m.FileIndex;
        m.SyncStreamIndex = m.StreamIndex;
    }
    return m;
}

TMetaDataMap ParseMetaDataMap(const std::string& text) {
    const char* p = text.c_str();
    TMetaDataMap m;
    m.OutFile = NextLong(p);
    SkipOne(p);
    m.InFile = NextLong(p);
    return m;
}

std::pair<long, double> ParseTsScale(const std::string& text) {
    const char* p = text.c_str();
    char* end = nullptr;
    const long stream = std::strtol(p, &end, 0);
    p = end;
    SkipOne(p);
    double scale = 0.0;
    if (!ReadDouble(p, text.c_str() + text.size(), scale)) scale = 0.0;
    return {stream, scale};
}

std::array<uint16_t, 64> ParseMatrix(const std::string& text) {
    std::array<uint16_t, 64> matrix{};
    const char* p = text.c_str();
    for (int i = 0; i < 64; ++i) {
        matrix[i] = static_cast<uint16_t>(std::atoi(p));
        if (i == 63) break;
        p = std::strchr(p, ',');
        if (!p)
            throw FFmpegException(
                FormatText("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i));
        ++p;
    }
    return matrix;
}

THookModuleWords SplitHookWords(const std::string& text) {
    const bool bars = text.find('|') != std::string::npos;
    THookModuleWords words;
    std::string word;
    auto isSeparator = [bars](char c) { return bars ? c == '|' : (c == ' ' || c == '\t'); };
    for (std::size_t i = 0; i <= text.size() && words.size() < 63; ++i) {
        if (i == text.size() || isSeparator(text[i])) {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += text[i];
        }
    }
    return words;
}

int64_t RoundHalfEvenInt(double value) {
    return static_cast<int64_t>(std::nearbyint(value));
}
