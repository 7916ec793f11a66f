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
// A constant rate lands where it is aimed, short of the container: aimed
// at the middle of the accepted band.
constexpr double kConstantAim = 0.97;
// The share of the target below which a two-pass result is far off.
constexpr double kFarBelow = 0.6;
// Bits per pixel and frame below which pictures fall apart.
constexpr double kMinimumBitsPerPixel = 0.02;
constexpr int kMinimumVideoRate = 32'000;
constexpr int kDefaultAudioRate = 128'000;
// The audio rates a target may lower the audio to, highest first: every
// lossy audio encoder of the formats takes them.
constexpr int kLowerAudioRates[] = {96'000, 80'000, 64'000, 48'000, 32'000};

// The least second-pass rate a first pass shows grows with the rate of that
// pass: by about a third of the rate's rise for MPEG-4 on the pictures
// tried, so the rate that meets its own least lies that far beyond it.
constexpr double kLeastRateGrowth = 0.35;
constexpr double kLeastRateMargin = 1.02;
// Encoders whose least second-pass rate (PassTwoRate.h) needs more than
// the general minimum even on a black picture, in bits per pixel and
// frame (measured on black 640x480 pictures: 0.026 for wmv2).
struct TEncoderMinimum {
    const char* Encoder;
    double BitsPerPixel;
};
constexpr TEncoderMinimum kEncoderMinimums[] = {{"wmv2", 0.03}};

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

// The video's share of `aim` times the target.
int VideoRateAt(const TSizeGoal& goal, double aim) {
    const double total = goal.TargetBytes * 8.0 * aim / Seconds(goal);
    return static_cast<int>(std::clamp(total - goal.AudioBitRate, 0.0, 2e9));
}

bool LossyAudio(const std::string& codec) {
    if (codec.empty() || codec == "copy" || codec.rfind("pcm_", 0) == 0) return false;
    for (const char* lossless : {"flac", "alac", "wavpack", "tta", "truehd", "mlp"})
        if (codec == lossless) return false;
    return true;
}

int LowestAudioBitRate(const TSizeGoal& goal) {
    if (!goal.AudioLowerable) return goal.AudioBitRate;
    return std::min(goal.AudioBitRate, std::end(kLowerAudioRates)[-1]);
}

// The value of the last "name=value" of the options' lines and pairs.
bool OptionValue(const TOutputOptions& out, const std::string& name, double& value) {
    bool found = false;
    auto take = [&](const std::string& text) {
        double v = 0;
        if (std::from_chars(text.data(), text.data() + text.size(), v).ec != std::errc()) return;
        value = v;
        found = true;
    };
    std::size_t begin = 0;
    while (begin < out.ExtOptions.size()) {
        std::size_t end = out.ExtOptions.find('\n', begin);
        if (end == std::string::npos) end = out.ExtOptions.size();
        const std::string line = out.ExtOptions.substr(begin, end - begin);
        if (line.rfind(name + "=", 0) == 0) take(line.substr(name.size() + 1));
        begin = end + 1;
    }
    for (const auto& [key, text] : out.ExtOptionPairs)
        if (key == name) take(text);
    return found;
}

// Drops the rate options of an encode before: each encode sets its own.
void ClearRateOptions(TOutputOptions& out) {
    out.MaxRate = out.MinRate = out.BufSize = -1;
    std::erase_if(out.ExtOptionPairs, [](const auto& pair) {
        for (const char* name :
             {"b", "minrate", "maxrate", "bufsize", "pass", "passlogfile", "nal-hrd"})
            if (pair.first == name) return true;
        return false;
    });
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
    goal.AudioLowerable = goal.AudioBitRate > 0 && LossyAudio(out.AudioCodec);
    goal.Encoder = out.VideoCodec;
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
    return VideoRateAt(goal, kAim);
}

int ConstantVideoBitRate(const TSizeGoal& goal) {
    return VideoRateAt(goal, kConstantAim);
}

int MinimumVideoBitRate(const TSizeGoal& goal) {
    double bitsPerPixel = kMinimumBitsPerPixel;
    for (const TEncoderMinimum& minimum : kEncoderMinimums)
        if (goal.Encoder == minimum.Encoder) bitsPerPixel = minimum.BitsPerPixel;
    const double rate = bitsPerPixel * goal.Width * goal.Height * goal.FrameRate;
    return std::max(kMinimumVideoRate, static_cast<int>(rate));
}

int FittingAudioBitRate(const TSizeGoal& goal, int64_t leastVideoRate) {
    if (TargetVideoBitRate(goal) >= leastVideoRate || !goal.AudioLowerable)
        return goal.AudioBitRate;
    TSizeGoal lowered = goal;
    for (const int rate : kLowerAudioRates) {
        if (rate >= goal.AudioBitRate) continue;
        lowered.AudioBitRate = rate;
        if (TargetVideoBitRate(lowered) >= leastVideoRate) return rate;
    }
    return goal.AudioBitRate;
}

double SmallestTargetMB(const TSizeGoal& goal, int64_t leastVideoRate) {
    const double video = leastVideoRate > 0 ? leastVideoRate : MinimumVideoBitRate(goal);
    const double bits = (video + LowestAudioBitRate(goal)) * Seconds(goal);
    return std::ceil(bits / 8.0 / kAim / 1e5) / 10.0;
}

int64_t PassTwoWorkingRate(int64_t leastVideoRate, int firstPassRate) {
    const double gap = std::max<double>(leastVideoRate - firstPassRate, 0);
    return static_cast<int64_t>(std::ceil(
        (leastVideoRate + gap * kLeastRateGrowth / (1 - kLeastRateGrowth)) * kLeastRateMargin));
}

std::string TooSmallTarget(const std::string& file, double smallestMB) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", smallestMB);
    return file +
           ": the target size is too small for its length; the smallest size that works "
           "is " +
           text + " MB";
}

std::string TargetSizeProblem(const TSizeGoal& goal, const std::string& file) {
    if (TargetVideoBitRate(goal) >= MinimumVideoBitRate(goal)) return {};
    return TooSmallTarget(file, SmallestTargetMB(goal));
}

TPassTwoPicture PassTwoPictureOf(const TOutputOptions& out, double frameRate) {
    TPassTwoPicture picture;
    picture.FrameRate = frameRate;
    double value = 0;
    if (OptionValue(out, "bf", value)) picture.BFrames = static_cast<int>(value);
    if (OptionValue(out, "qmax", value)) picture.QMax = static_cast<int>(value);
    OptionValue(out, "b_qfactor", picture.BQuantFactor);
    OptionValue(out, "b_qoffset", picture.BQuantOffset);
    OptionValue(out, "i_qfactor", picture.IQuantFactor);
    OptionValue(out, "i_qoffset", picture.IQuantOffset);
    return picture;
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

bool SizeFarBelowGoal(const TSizeGoal& goal, int64_t producedBytes) {
    return producedBytes < goal.TargetBytes * kFarBelow;
}

void ApplyVideoPass(TOutputOptions& out, int pass, int rate, const std::string& log) {
    ClearRateOptions(out);
    out.VideoBitrate = rate;
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

void ApplyConstantRate(TOutputOptions& out, int rate) {
    ClearRateOptions(out);
    out.VideoBitrate = rate;
    const std::string text = std::to_string(rate);
    for (const char* name : {"b", "minrate", "maxrate", "bufsize"})
        out.ExtOptionPairs.emplace_back(name, text);
    if (out.VideoCodec == "libx264") out.ExtOptionPairs.emplace_back("nal-hrd", "cbr");
}
