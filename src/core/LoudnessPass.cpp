#include "core/LoudnessPass.h"

#include "core/FormatKeys.h"
#include "core/IniFile.h"

#include <charconv>
#include <cmath>
#include <fstream>

namespace {

constexpr int kLowestTarget = -70;
constexpr int kHighestTarget = -5;
// The meter reports this (or less) for audio below its absolute gate.
constexpr double kSilence = -69.9;

// The limiter works on samples; lossy encoders and the reconstruction
// between samples add up to about 1 dB, so it limits that much below the
// -1 dBTP ceiling.
constexpr double kLimiterCeilingDb = -2.0;

constexpr char kReadingKey[] = "lavfi.r128.I=";

std::string Number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return std::string(text, result.ptr);
}

// Escapes a value for a filter's option inside a filter graph's text: once
// for the option parser, once more for the graph parser.
std::string EscapeFilterValue(const std::string& value) {
    std::string once, twice;
    for (char c : value) {
        if (c == '\\' || c == '\'' || c == ':') once += '\\';
        once += c;
    }
    for (char c : once) {
        if (c == '\\' || c == '\'' || c == '[' || c == ']' || c == ',' || c == ';') twice += '\\';
        twice += c;
    }
    return twice;
}

} // namespace

bool ParseLoudnessTarget(const std::string& text, int& target) {
    int value = 0;
    if (!ParseIniInteger(text, value) || value < kLowestTarget || value > kHighestTarget)
        return false;
    target = value;
    return true;
}

int StoredLoudnessTarget(const TIniFile& settings, int formatCode) {
    const std::string text =
        ReadFormatKey(settings, "formatInfo" + std::to_string(formatCode), kUserLoudnessTarget);
    int target = 0;
    return ParseLoudnessTarget(text, target) ? target : 0;
}

void BuildMeasuringOptions(const TInputOptions& in, const TOutputOptions& out,
                           const std::string& readings, TInputOptions& measureIn,
                           TOutputOptions& measureOut) {
    measureIn = in;
    measureOut.Reset();
    measureOut.FileName = readings + ".null";
    measureOut.ForceFormat = "null";
    measureOut.DisableVideo = true;
    measureOut.DisableSubtitle = true;
    measureOut.AudioCodec = "pcm_s16le";
    measureOut.StartTime = out.StartTime;
    measureOut.RecordingTime = out.RecordingTime;
    measureOut.ExtOptionPairs.emplace_back(
        "af", "ebur128=metadata=1,ametadata=mode=print:key=lavfi.r128.I:file=" +
                  EscapeFilterValue(readings));
}

std::optional<double> ReadMeasuredLoudness(const std::string& readings) {
    std::ifstream file(readings);
    std::string line, last;
    while (std::getline(file, line))
        if (line.rfind(kReadingKey, 0) == 0) last = line.substr(sizeof kReadingKey - 1);
    double value = 0;
    const auto result = std::from_chars(last.data(), last.data() + last.size(), value);
    if (last.empty() || result.ec != std::errc() || !std::isfinite(value) || value <= kSilence)
        return std::nullopt;
    return value;
}

std::string LoudnessFilters(double measured, int target) {
    const double limit = std::pow(10.0, kLimiterCeilingDb / 20.0);
    return "volume=" + Number(target - measured) + "dB,alimiter=limit=" + Number(limit) +
           ":level=0";
}

void ApplyLoudness(TOutputOptions& out, double measured, int target) {
    out.ExtOptionPairs.emplace_back("af", LoudnessFilters(measured, target));
}
