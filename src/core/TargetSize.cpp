#include "core/TargetSize.h"

#include "core/FormatKeys.h"
#include "core/IniFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

// The share of the target the streams are aimed at: the rest is left for
// the container (indexes, headers, interleaving) and the encoder's spread.
constexpr double kAim = 0.95;
// Bits per pixel and frame below which pictures fall apart.
constexpr double kMinimumBitsPerPixel = 0.02;
constexpr int kMinimumVideoRate = 32'000;
constexpr int kDefaultAudioRate = 128'000;

double Seconds(const TSizeGoal& goal) {
    return std::max(goal.LengthUs, int64_t{1}) / 1e6;
}

bool ParsePair(const std::string& text, char separator, double& a, double& b) {
    const auto at = text.find(separator);
    if (at == std::string::npos) return false;
    const char* end = text.data() + text.size();
    return std::from_chars(text.data(), text.data() + at, a).ec == std::errc() &&
           std::from_chars(text.data() + at + 1, end, b).ec == std::errc() && b != 0;
}

double FrameRateOf(const std::string& text) {
    double num = 25, den = 1;
    if (ParsePair(text, '/', num, den)) return num / den;
    if (std::from_chars(text.data(), text.data() + text.size(), num).ec == std::errc() && num > 0)
        return num;
    return 25;
}

} // namespace

TSizeGoal SizeGoalOf(const TInputOptions& in, const TOutputOptions& out, int64_t durationUs,
                     bool hasAudio, int64_t bytes) {
    TSizeGoal goal;
    goal.TargetBytes = bytes;
    const int64_t start = in.StartTime > 0 ? in.StartTime : 0;
    goal.LengthUs =
        out.RecordingTime > 0 ? out.RecordingTime : std::max<int64_t>(durationUs - start, 0);
    if (hasAudio && !out.DisableAudio)
        goal.AudioBitRate = out.AudioBitrate > 0 ? out.AudioBitrate : kDefaultAudioRate;
    double w = 0, h = 0;
    if (!ParsePair(out.FrameSize, 'x', w, h)) {
        w = 640;
        h = 480;
    }
    goal.Width = static_cast<int>(w);
    goal.Height = static_cast<int>(h);
    goal.FrameRate = FrameRateOf(out.FrameRate);
    return goal;
}

bool TargetSizeApplies(const TOutputOptions& out, bool hasVideo) {
    return hasVideo && !out.DisableVideo && !out.VideoCodec.empty();
}

bool ParseTargetSize(const std::string& text, double& megabytes) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || !(value > 0) ||
        value > 1e6)
        return false;
    megabytes = value;
    return true;
}

double StoredTargetSize(const TIniFile& settings, int formatCode) {
    double megabytes = 0;
    const std::string text =
        ReadFormatKey(settings, "formatInfo" + std::to_string(formatCode), kUserTargetSize);
    return ParseTargetSize(text, megabytes) ? megabytes : 0;
}

int TargetVideoBitRate(const TSizeGoal& goal) {
    const double total = goal.TargetBytes * 8.0 * kAim / Seconds(goal);
    return static_cast<int>(std::clamp(total - goal.AudioBitRate, 0.0, 2e9));
}

int MinimumVideoBitRate(const TSizeGoal& goal) {
    const double rate = kMinimumBitsPerPixel * goal.Width * goal.Height * goal.FrameRate;
    return std::max(kMinimumVideoRate, static_cast<int>(rate));
}

double SmallestTargetMB(const TSizeGoal& goal) {
    const double bits = (MinimumVideoBitRate(goal) + double(goal.AudioBitRate)) * Seconds(goal);
    return std::ceil(bits / 8.0 / kAim / 1e5) / 10.0;
}

std::string TargetSizeProblem(const TSizeGoal& goal, const std::string& file) {
    if (TargetVideoBitRate(goal) >= MinimumVideoBitRate(goal)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", SmallestTargetMB(goal));
    return file +
           ": the target size is too small for its length; the smallest size that works "
           "is " +
           text + " MB";
}

int CorrectedVideoBitRate(const TSizeGoal& goal, int rate, int64_t producedBytes) {
    const double audioBytes = goal.AudioBitRate * Seconds(goal) / 8.0;
    const double aimed = goal.TargetBytes * kAim - audioBytes;
    const double videoBytes = std::max(producedBytes - audioBytes, 1.0);
    return std::max(1, static_cast<int>(rate * aimed / videoBytes));
}

bool SizeWithinGoal(const TSizeGoal& goal, int64_t producedBytes) {
    return producedBytes <= goal.TargetBytes && producedBytes >= goal.TargetBytes * 0.9;
}

void ApplyVideoPass(TOutputOptions& out, int pass, int rate, const std::string& log) {
    out.VideoBitrate = rate;
    out.MaxRate = out.MinRate = out.BufSize = -1;
    out.ExtOptionPairs.emplace_back("b", std::to_string(rate));
    // No rate cap of a preset: the passes spread the bits freely.
    out.ExtOptionPairs.emplace_back("maxrate", "0");
    out.ExtOptionPairs.emplace_back("bufsize", "0");
    out.ExtOptionPairs.emplace_back("pass", std::to_string(pass));
    out.ExtOptionPairs.emplace_back("passlogfile", log);
    if (pass != 1) return;
    out.DisableAudio = true;
    out.DisableSubtitle = true;
}
