#include "core/TargetSizePlan.h"

#include "core/GlobalUnit.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

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
    if (it != FRates.end()) ApplyVideoPass(out, 2, it->second, Log(row));
}

int TTargetSizePlan::Rate(int row) const {
    const auto it = FRates.find(row);
    return it == FRates.end() ? 0 : it->second;
}
