#include "core/LoudnessPlan.h"

#include "core/GlobalUnit.h"
#include "core/LoudnessPass.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

TLoudnessPlan::~TLoudnessPlan() {
    RemoveFolder();
}

void TLoudnessPlan::RemoveFolder() {
    std::error_code ec;
    if (!FDir.empty()) std::filesystem::remove_all(FDir, ec);
    FDir.clear();
}

void TLoudnessPlan::Begin(int target) {
    RemoveFolder();
    FTaskRows.clear();
    FLoudness.clear();
    FFailed.clear();
    FStopped = false;
    FTarget = target;
    FMeasuring = target != 0;
    if (!FMeasuring) return;
    std::string pattern =
        TGlobalObject::GetSpecialFolder(TSpecialFolder::Temp) + "vantrel-loudness-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        FMeasuring = false;
        throw std::runtime_error("Cannot create a folder for the loudness readings in " + pattern);
    }
    FDir = pattern;
}

std::string TLoudnessPlan::Readings(int row) const {
    return (FDir / ("row" + std::to_string(row) + ".txt")).string();
}

void TLoudnessPlan::MeasuringOptions(int row, const TInputOptions& in, const TOutputOptions& out,
                                     TInputOptions& measureIn, TOutputOptions& measureOut) const {
    BuildMeasuringOptions(in, out, Readings(row), measureIn, measureOut);
}

void TLoudnessPlan::AddMeasuringTask(int task, int row) {
    FTaskRows[task] = row;
}

int TLoudnessPlan::MeasuredRow(int task) const {
    const auto it = FTaskRows.find(task);
    return it == FTaskRows.end() ? -1 : it->second;
}

std::vector<int> TLoudnessPlan::MeasuringRows() const {
    std::vector<int> rows;
    for (const auto& [task, row] : FTaskRows)
        rows.push_back(row);
    return rows;
}

void TLoudnessPlan::MeasuringEnded(int task, bool finished, bool failed) {
    if (!FTaskRows.count(task)) return;
    if (failed)
        FFailed.insert(task);
    else if (!finished)
        FStopped = true;
}

bool TLoudnessPlan::EndMeasuring() {
    FMeasuring = false;
    if (FStopped) return false;
    for (const auto& [task, row] : FTaskRows)
        if (FFailed.count(task))
            continue;
        else if (const auto loudness = ReadMeasuredLoudness(Readings(row)))
            FLoudness[row] = *loudness;
    return true;
}

void TLoudnessPlan::ApplyTo(int row, TOutputOptions& out) const {
    const auto it = FLoudness.find(row);
    if (FTarget != 0 && it != FLoudness.end()) ApplyLoudness(out, it->second, FTarget);
}
