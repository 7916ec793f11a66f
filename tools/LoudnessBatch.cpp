#include "LoudnessBatch.h"
#include "BatchRun.h"

#include "app/core/GlobalUnit.h"
#include "app/core/LoudnessPass.h"
#include "engine/FFmpegVCL.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// A folder of its own for the meter's readings, removed with the object.
class TReadingsFolder {
public:
    TReadingsFolder() {
        std::string pattern =
            TGlobalObject::GetSpecialFolder(TSpecialFolder::Temp) + "vantrel-loudness-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("Cannot create a folder for the loudness readings in " +
                                     pattern);
        FDir = pattern;
    }
    ~TReadingsFolder() {
        std::error_code ec;
        fs::remove_all(FDir, ec);
    }
    TReadingsFolder(const TReadingsFolder&) = delete;
    TReadingsFolder& operator=(const TReadingsFolder&) = delete;

    std::string File(std::size_t row) const {
        return (FDir / ("row" + std::to_string(row) + ".txt")).string();
    }

private:
    fs::path FDir;
};

struct TMeasuredRow {
    TFormatRow* Row;
    std::string Readings;
};

// One task per row with audio; rows whose task cannot be set up are
// converted at their own loudness.
std::vector<TMeasuredRow> AddMeasuringTasks(TFFmpegVCL& converter, const TReadingsFolder& folder,
                                            const std::vector<TFormatRow*>& rows) {
    std::vector<TMeasuredRow> measured;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (!rows[k]->HasAudio) continue;
        TInputOptions in;
        TOutputOptions out;
        const std::string readings = folder.File(k);
        BuildMeasuringOptions(rows[k]->In, rows[k]->Out, readings, in, out);
        const int task = converter.AddTask(rows[k]->In.FileName, &in);
        if (task < 0) continue;
        if (!converter.SetOutputFile(task, out.FileName, &out)) {
            converter.RemoveTask(task);
            continue;
        }
        measured.push_back({rows[k], readings});
    }
    return measured;
}

} // namespace

bool MeasureRowsLoudness(TFFmpegVCL& converter, TConsole& console, const TStopSignals& signals,
                         const std::vector<TFormatRow*>& rows, int target, int jobs) {
    converter.ClearTasks();
    const TReadingsFolder folder;
    const std::vector<TMeasuredRow> measured = AddMeasuringTasks(converter, folder, rows);
    TBatchRun run(converter, console, signals);
    const int tasks = static_cast<int>(measured.size());
    for (int k = 0; k < tasks; ++k)
        run.SetTaskLabel(k, "[" + std::to_string(k + 1) + "/" + std::to_string(tasks) +
                                "] Measuring loudness: ");
    const std::vector<TTerminateInfo> results = run.Run(jobs);
    converter.ClearTasks();
    if (run.Interrupted()) return false;
    for (std::size_t k = 0; k < measured.size() && k < results.size(); ++k) {
        if (!results[k].Finished || results[k].ExceptionRaised) continue;
        if (const auto loudness = ReadMeasuredLoudness(measured[k].Readings))
            ApplyLoudness(measured[k].Row->Out, *loudness, target);
    }
    return true;
}
