#include "FormatCommand.h"
#include "BatchRun.h"
#include "FormatRow.h"
#include "JsonLines.h"
#include "LoudnessBatch.h"
#include "TargetSizeBatch.h"
#include "PrintOptions.h"
#include "RowPictures.h"

#include "app/core/GlobalUnit.h"
#include "app/core/IniFile.h" // ParseIniInteger
#include "app/core/LoudnessPass.h"
#include "app/core/WorkPriority.h"
#include "engine/FFmpegVCL.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"
#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "probe/AVProbe.h"

#include <cstdlib>
#include <deque>
#include <memory>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// The output folder of one run: the settings are read from a scratch copy
// whose "OutPutDir" is the given folder, so the stored settings never see
// it. Removed with the object.
class TRunOutputFolder {
public:
    TRunOutputFolder(TGlobalObject& g, const std::string& folder) {
        if (folder.empty()) return;
        std::string pattern =
            TGlobalObject::GetSpecialFolder(TSpecialFolder::Temp) + "vantrel-convert-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("Cannot create a folder for the run's settings in " + pattern);
        FDir = pattern;
        try {
            UseSettingsCopy(g, folder);
        } catch (...) {
            RemoveFolder();
            throw;
        }
    }
    ~TRunOutputFolder() { RemoveFolder(); }
    TRunOutputFolder(const TRunOutputFolder&) = delete;
    TRunOutputFolder& operator=(const TRunOutputFolder&) = delete;

private:
    void UseSettingsCopy(TGlobalObject& g, const std::string& folder) {
        const fs::path copy = FDir / kSettingsFileName;
        std::error_code ec;
        if (fs::exists(g.SettingsFile(), ec) && !fs::copy_file(g.SettingsFile(), copy, ec))
            throw std::runtime_error("Cannot copy the settings file '" + g.SettingsFile() +
                                     "': " + ec.message());
        g.SetSettingsFile(copy.string());
        if (!g.Settings().WriteString(kSettingsSection, "OutPutDir", fs::absolute(folder).string()))
            throw std::runtime_error("Cannot write " + copy.string());
    }
    void RemoveFolder() {
        std::error_code ec;
        if (!FDir.empty()) fs::remove_all(FDir, ec);
    }

    fs::path FDir;
};

// A given output folder that is something else (a file) is an error; one
// that does not exist yet is made by the settings' folder rules.
void CheckOutputFolder(const std::string& folder) {
    std::error_code ec;
    if (!folder.empty() && fs::exists(folder, ec) && !fs::is_directory(folder, ec))
        throw std::runtime_error("--output-dir: " + folder + ": Not a directory");
}

// Adds the row's task with its output; returns the task index. Throws the
// converter's error; a task whose output failed is removed again.
int AddRowTask(TFFmpegVCL& converter, TFormatRow& row) {
    const int task = converter.AddTask(row.In.FileName, &row.In);
    if (task < 0) throw std::runtime_error(converter.LastErrMsg);
    if ((row.HasPicture && !converter.AddInput(task, row.Picture.FileName, &row.Picture)) ||
        !converter.SetOutputFile(task, row.Out.FileName, &row.Out)) {
        const std::string error = converter.LastErrMsg;
        converter.RemoveTask(task);
        throw std::runtime_error(error);
    }
    return task;
}

// The output name was free when it was made, but another program (another
// vantrel-convert of the same batch spread over several processes) created
// it before the task opened it.
bool NameTakenMeanwhile(const std::string& output, const std::string& error) {
    return error == MediaErrorText(output, AVERROR(EEXIST));
}

// The most names tried for one file when others keep taking them.
constexpr int kNameAttempts = 100;

class TFormatBatch {
public:
    TFormatBatch(const TFormatCommand& command, int code)
        : FCommand(command), FCode(code), FLog(FConsole, {&FConverter, FConverter.AVProbe()}) {
        FConverter.NewOutputsOnly = true;
    }

    int Run() {
        CheckOutputFolder(FCommand.OutputDir);
        if (!FConverter.LoadAVLib(ExecutableFolder() + "/LibAV"))
            throw std::runtime_error(FConverter.LastErrMsg);
        TRowPictures pictures(EditsNeedPictures(FCommand.Edits));
        TGlobalObject g;
        InitSettingsStore(g);
        CheckFolderAtStart(g, "OutPutDir");
        TThreadPriority priority;
        if (StoredWorkPriority(g.Settings(), priority)) FConverter.SetThreadPriority(priority);
        FJobs = FCommand.Jobs > 0 ? FCommand.Jobs : StoredConversionsAtATime(g.Settings());
        FLoudness =
            FCommand.Loudness != 0 ? FCommand.Loudness : StoredLoudnessTarget(g.Settings(), FCode);
        FTargetSizeMB = FCommand.TargetSizeMB > 0 ? FCommand.TargetSizeMB
                                                  : StoredTargetSize(g.Settings(), FCode);
        const TRunOutputFolder folder(g, FCommand.OutputDir);
        {
            const TScopedMessageHandler answer(AnswerNoOn(std::cerr));
            for (const std::string& file : FCommand.Files) {
                if (FSignals.Caught()) break;
                AddFile(g, file, pictures.Measure());
            }
        }
        if (!FSignals.StartConverting()) {
            FConsole.Line(FSignals.StoppedText());
            return FSignals.StoppedStatus();
        }
        return Convert(pictures);
    }

private:
    void AddFile(const TGlobalObject& g, const std::string& file, const TTextMeasure& measure) {
        TAVProbe& probe = *FConverter.AVProbe();
        try {
            if (!probe.LoadFile(file)) throw std::runtime_error(probe.LastErrMsg());
            AddFileTask(g, file, measure);
        } catch (const std::exception& e) {
            const std::string reason = e.what();
            // A file that a stop signal cut short is not a failure of its own.
            if (FSignals.Caught()) {
                ++FFailed;
                return;
            }
            FConsole.Line(reason.rfind(file + ":", 0) == 0 ? reason : file + ": " + reason);
            if (FCommand.Json) FJson.FileFailed(file, reason);
            ++FFailed;
        }
        probe.CloseFile();
    }

    // The row and its task; a name taken by another program meanwhile is
    // made again (the next free one).
    void AddFileTask(const TGlobalObject& g, const std::string& file, const TTextMeasure& measure) {
        std::set<std::string> taken;
        for (const TFormatRow& row : FRows)
            taken.insert(row.Out.FileName);
        for (int attempt = 1;; ++attempt) {
            FRows.push_back(BuildFormatRow(g, FCode, *FConverter.AVProbe(), file, FCommand.Edits,
                                           measure, true, taken));
            if (FCommand.InvertHook) FRows.back().Out.CustomHook = true;
            try {
                const int task = AddRowTask(FConverter, FRows.back());
                FTaskRows.resize(static_cast<std::size_t>(task) + 1, -1);
                FTaskRows[task] = static_cast<int>(FRows.size()) - 1;
                return;
            } catch (const std::exception& e) {
                const std::string output = FRows.back().Out.FileName;
                FRows.pop_back();
                if (attempt >= kNameAttempts || !NameTakenMeanwhile(output, e.what())) throw;
                taken.insert(output);
            }
        }
    }

    // Runs on a worker thread, one call at a time under the converter's hook
    // lock; the rows do not change while the batch runs.
    void DrawRow(TRowPictures& pictures, THookInfo* info) {
        if (!info || !info->Bitmap) return;
        const int task = info->TaskIndex;
        if (task < 0 || task >= static_cast<int>(FTaskRows.size()) || FTaskRows[task] < 0) return;
        pictures.Draw(FRows[FTaskRows[task]].Record, *info->Bitmap, info->PTS);
    }

    std::vector<TFormatRow*> TaskRows() {
        std::vector<TFormatRow*> rows;
        for (const int index : FTaskRows)
            rows.push_back(&FRows[index]);
        return rows;
    }

    // The measuring pass, then the rows' tasks again with their gains.
    bool MeasureLoudness() {
        if (!MeasureRowsLoudness(FConverter, FConsole, FSignals, TaskRows(), FLoudness, FJobs))
            return false;
        AddTasksAgain();
        return true;
    }

    // Each row's size goal; the problems of targets too small for a row.
    std::string PlanSizes() {
        std::string problems;
        FSizeRows = TaskRows();
        FSizeGoals.clear();
        const auto bytes = static_cast<int64_t>(FTargetSizeMB * 1e6);
        for (TFormatRow* row : FSizeRows) {
            FSizeGoals.push_back(TargetSizeApplies(*row) ? RowSizeGoal(*row, bytes) : TSizeGoal());
            const std::string problem =
                FSizeGoals.back().TargetBytes > 0
                    ? TargetSizeProblem(FSizeGoals.back(), row->Record.SourceFile)
                    : std::string();
            if (!problem.empty()) problems += (problems.empty() ? "" : "\n") + problem;
        }
        return problems;
    }

    // The first passes, then the rows' tasks again as second passes.
    bool FirstPasses() {
        FSizes = std::make_unique<TTargetSizeBatch>(FConverter, FConsole, FSignals, FJobs);
        if (!FSizes->RunFirstPasses(FSizeRows, FSizeGoals)) return false;
        AddTasksAgain();
        return true;
    }

    void AddTasksAgain() {
        const std::vector<int> order = FTaskRows;
        FTaskRows.clear();
        for (const int index : order) {
            TFormatRow& row = FRows[index];
            try {
                const int task = AddRowTask(FConverter, row);
                FTaskRows.resize(static_cast<std::size_t>(task) + 1, -1);
                FTaskRows[task] = index;
            } catch (const std::exception& e) {
                FConsole.Line(row.Record.SourceFile + ": " + e.what());
                if (FCommand.Json) FJson.FileFailed(row.Record.SourceFile, e.what());
                ++FFailed;
            }
        }
    }

    int Convert(TRowPictures& pictures) {
        if (FTargetSizeMB > 0 && FConverter.TaskCount() > 0) {
            const std::string problems = PlanSizes();
            if (!problems.empty()) {
                FConsole.Line(problems);
                FConsole.Line(FormatText("0 of %zu files converted (target size too small)",
                                         FCommand.Files.size()));
                return 1;
            }
        }
        if (FLoudness != 0 && FConverter.TaskCount() > 0 && !MeasureLoudness()) {
            FConsole.Line(FormatText("0 of %zu files converted (loudness measuring stopped)",
                                     FCommand.Files.size()));
            return FSignals.StoppedStatus();
        }
        if (FTargetSizeMB > 0 && FConverter.TaskCount() > 0 && !FirstPasses()) {
            FConsole.Line(
                FormatText("0 of %zu files converted (first pass stopped)", FCommand.Files.size()));
            return FSignals.StoppedStatus();
        }
        const int tasks = FConverter.TaskCount();
        TBatchRun run(FConverter, FConsole, FSignals);
        for (int k = 0; k < tasks; ++k) {
            const TFormatRow& row = FRows[FTaskRows[k]];
            const std::string label =
                "[" + std::to_string(k + 1) + "/" + std::to_string(tasks) + "] ";
            FConsole.Line(label + row.Record.SourceFile + " -> " + row.Out.FileName);
            run.SetTaskLabel(k, label);
            if (FCommand.Json) FJson.AddTask(k, row.Record.SourceFile, row.Out.FileName);
        }
        if (FCommand.Json) run.SetObserver(&FJson);
        FConverter.OnCustomHook = [this, &pictures](TCustomFFmpegVCL*, THookInfo* info) {
            if (FCommand.InvertHook)
                InvertFrame(info);
            else
                DrawRow(pictures, info);
        };
        int finished = 0, stopped = 0, early = 0;
        for (const TTerminateInfo& result : run.Run(FJobs)) {
            if (result.Finished && !result.ExceptionRaised && !result.EndedEarly.empty())
                ++early;
            else if (result.Finished && !result.ExceptionRaised)
                ++finished;
            else if (result.ExceptionRaised)
                ++FFailed;
            else
                ++stopped;
        }
        if (FSizes && !run.Interrupted())
            FSizes->Correct(FSizeRows, FSizeGoals,
                            [this](TFormatRow& row) { return AddRowTask(FConverter, row); });
        if (FSizes) {
            finished -= FSizes->Unfit();
            FFailed += FSizes->Unfit();
        }
        FConverter.OnCustomHook = nullptr;
        const std::string shorter =
            early > 0 ? FormatText(", %d ended early", early) : std::string();
        FConsole.Line(FormatText("%d of %zu files converted (%d failed, %d stopped%s)", finished,
                                 FCommand.Files.size(), FFailed, stopped, shorter.c_str()));
        return finished == static_cast<int>(FCommand.Files.size()) ? 0 : 1;
    }

    const TFormatCommand& FCommand;
    const int FCode;
    // Made before, gone after everything the run makes (the converter's
    // files, the scratch settings folder of Run).
    TStopSignals FSignals;
    TConsole FConsole;
    TFFmpegVCL FConverter;
    TLogToConsole FLog; // after the converter and the console it refers to
    TJsonLines FJson;
    int FJobs = 1;
    int FLoudness = 0;        // LUFS; 0: the files keep their loudness
    double FTargetSizeMB = 0; // each video file's size; 0: none
    // The target size's goals of the rows in task order, and its passes.
    std::vector<TFormatRow*> FSizeRows;
    std::vector<TSizeGoal> FSizeGoals;
    std::unique_ptr<TTargetSizeBatch> FSizes;
    std::deque<TFormatRow> FRows; // the hook keeps pointers into the rows
    std::vector<int> FTaskRows;   // task index -> index in FRows
    int FFailed = 0;
};

bool ParseJobs(const std::string& text, int& jobs) {
    int value = 0;
    if (!ParseIniInteger(text, value) || value < 1) return false;
    jobs = value;
    return true;
}

} // namespace

TFormatCommand ParseFormatCommand(const std::vector<std::string>& args) {
    TFormatCommand command;
    if (args.empty()) {
        command.Error = "Missing format code";
        return command;
    }
    command.Code = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            command.Files.push_back(arg);
            continue;
        }
        if (arg == "--invert-hook") {
            command.InvertHook = true;
            continue;
        }
        if (arg == "--json") {
            command.Json = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            command.Error = "Missing value for " + arg;
            return command;
        }
        const std::string& value = args[++i];
        if (arg == "--output-dir") {
            command.OutputDir = value;
        } else if (arg == "--jobs") {
            if (!ParseJobs(value, command.Jobs)) {
                command.Error = "Invalid value for --jobs: " + value;
                return command;
            }
        } else if (arg == "--loudness") {
            if (!ParseLoudnessTarget(value, command.Loudness)) {
                command.Error = "Invalid value for --loudness: " + value + " (LUFS, -70 to -5)";
                return command;
            }
        } else if (arg == "--target-size") {
            if (!ParseTargetSize(value, command.TargetSizeMB)) {
                command.Error = "Invalid value for --target-size: " + value + " (MB above 0)";
                return command;
            }
        } else if (arg == "--print-options") {
            command.PrintOptions = true;
            command.Files.push_back(value);
        } else {
            command.Edits.push_back(arg);
            command.Edits.push_back(value);
        }
    }
    if (command.Files.empty())
        command.Error = "At least one input file must be specified";
    else if (command.PrintOptions && command.Files.size() > 1)
        command.Error = "--print-options takes one file";
    return command;
}

int RunFormatCommand(const std::vector<std::string>& args) {
    const TFormatCommand command = ParseFormatCommand(args);
    try {
        if (!command.Error.empty()) throw std::invalid_argument(command.Error);
        if (command.PrintOptions) {
            if (!FFmpegLoader().LoadLibraries(ConverterLibraries))
                throw std::runtime_error(FFmpegLoader().GetLastError());
            return PrintConversionOptionsCommand(command.Code, command.Files[0], command.Edits);
        }
        TFormatBatch batch(command, ParseFormatCode(command.Code));
        return batch.Run();
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}
