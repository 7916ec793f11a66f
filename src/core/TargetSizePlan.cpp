#include "core/TargetSizePlan.h"

#include "core/GlobalUnit.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

bool FillsToRate(const std::string& encoder) {
    return encoder == "libx264" || KeepsMpegFamilyStatistics(encoder);
}

TTargetSizePlan::~TTargetSizePlan() {
    RemoveFolder();
}

void TTargetSizePlan::RemoveFolder() {
    std::error_code ec;
    if (!FDir.empty()) std::filesystem::remove_all(FDir, ec);
    FDir.clear();
}

void TTargetSizePlan::Begin(double megabytes) {
    RemoveFolder();
    FRates.clear();
    FAudioRates.clear();
    FFilling.clear();
    FBytes = static_cast<int64_t>(megabytes * 1e6);
    FFirstPassing = FBytes > 0;
    if (!FFirstPassing) return;
    std::string pattern =
        TGlobalObject::GetSpecialFolder(TSpecialFolder::Temp) + "vantrel-passes-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        FFirstPassing = false;
        throw std::runtime_error("Cannot create a folder for the pass logs in " + pattern);
    }
    FDir = pattern;
}

std::string TTargetSizePlan::Log(int row) const {
    return (FDir / ("row" + std::to_string(row))).string();
}

std::string TTargetSizePlan::Plan(int row, const TSizeGoal& goal, const std::string& file) {
    std::string problem = TargetSizeProblem(goal, file);
    if (problem.empty()) FRates[row] = TargetVideoBitRate(goal);
    return problem;
}

TOutputOptions TTargetSizePlan::FirstPassOptions(int row, const TOutputOptions& out) const {
    TOutputOptions first = out;
    first.FileName = Log(row) + "-pass1" + std::filesystem::path(out.FileName).extension().string();
    ApplyVideoPass(first, 1, FRates.at(row), Log(row));
    return first;
}

void TTargetSizePlan::ApplySecondPass(int row, TOutputOptions& out) const {
    const auto it = FRates.find(row);
    if (it == FRates.end()) return;
    if (Filling(row))
        ApplyConstantRate(out, it->second);
    else
        ApplyVideoPass(out, 2, it->second, Log(row));
    if (const auto audio = FAudioRates.find(row); audio != FAudioRates.end())
        out.AudioBitrate = audio->second;
}

int TTargetSizePlan::AudioRate(int row) const {
    const auto it = FAudioRates.find(row);
    return it == FAudioRates.end() ? 0 : it->second;
}

int64_t TTargetSizePlan::PassTwoLeastRate(int row, const TOutputOptions& out,
                                          double frameRate) const {
    if (!KeepsMpegFamilyStatistics(out.VideoCodec)) return 0;
    // The first pass writes the video alone: its statistics are stream 0's.
    std::ifstream file(Log(row) + "-0.log", std::ios::binary);
    if (!file.is_open()) return 0;
    std::ostringstream stats;
    stats << file.rdbuf();
    return std::max<int64_t>(0,
                             LowestPassTwoBitRate(stats.str(), PassTwoPictureOf(out, frameRate)));
}

int TTargetSizePlan::Rate(int row) const {
    const auto it = FRates.find(row);
    return it == FRates.end() ? 0 : it->second;
}
