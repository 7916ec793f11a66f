#include "FormatCommand.h"
#include "BatchRun.h"
#include "FormatRow.h"
#include "JsonLines.h"
#include "PrintOptions.h"
#include "RowPictures.h"

#include "core/BatchPasses.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h" // ParseIniInteger
#include "core/LoudnessPass.h"
#include "core/TargetSize.h"
#include "core/WorkPriority.h"
#include "engine/FFmpegVCL.h"
#include "media/FFUtils.h"
#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "probe/AVProbe.h"

#include <algorithm>
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

class TFormatBatch {
public:
    TFormatBatch(const TFormatCommand& command, int code)
        : FCommand(command), FCode(code), FLog(FConsole, {&FConverter, FConverter.AVProbe()}),
          FPlan(FConverter), FPasses(FConverter, FPlan) {
        FConverter.NewOutputsOnly = true;
        FPlan.HookEveryFrame = FCommand.InvertHook;
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
        try {
            TProbedFile probed;
            std::string error;
            if (!ProbeRowSource(*FConverter.AVProbe(), file, probed, error))
                throw std::runtime_error(error);
            FRows.push_back(NewEditedRow(g, FCode, file, probed.Duration, FCommand.Edits, measure));
            try {
                FPlan.AddProbedRow(g, FCode, FRows.back(), static_cast<int>(FRows.size()) - 1,
                                   probed);
            } catch (...) {
                FRows.pop_back();
                throw;
            }
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
    }

    int Convert(TRowPictures& pictures) {
        if (FPlan.TaskCount() > 0) {
            const std::string problems = FPasses.Begin(FLoudness, FTargetSizeMB);
            if (!problems.empty()) {
                FConverter.ClearTasks();
                FConsole.Line(problems);
                FConsole.Line(FormatText("0 of %zu files converted (target size too small)",
                                         FCommand.Files.size()));
                return 1;
            }
        }
        TBatchRun run(FConverter, FConsole, FSignals, &FPlan);
        if (FCommand.InvertHook)
            FPlan.Drawer = [](const TlvFilesRecord&, THookInfo& frame) { InvertFrame(&frame); };
        else
            FPlan.Drawer = [&pictures](const TlvFilesRecord& row, THookInfo& frame) {
                pictures.Draw(row, *frame.Bitmap, frame.PTS);
            };
        RunPasses(run);
        for (const std::string& note : FPasses.TakeNotes())
            FConsole.Line(note);
        int finished = 0, stopped = 0, early = 0;
        for (int task = 0; task < FPlan.TaskCount(); ++task) {
            const TTerminateInfo& result = FPasses.Conversions()[task];
            if (IsUnfit(task))
                ++FFailed;
            else if (result.Finished && !result.ExceptionRaised && !result.EndedEarly.empty())
                ++early;
            else if (result.Finished && !result.ExceptionRaised)
                ++finished;
            else if (result.ExceptionRaised)
                ++FFailed;
            else
                ++stopped;
        }
        const std::string shorter =
            early > 0 ? FormatText(", %d ended early", early) : std::string();
        FConsole.Line(FormatText("%d of %zu files converted (%d failed, %d stopped%s)", finished,
                                 FCommand.Files.size(), FFailed, stopped, shorter.c_str()));
        return finished == static_cast<int>(FCommand.Files.size()) ? 0 : 1;
    }

    // Runs each pass of the batch (BatchPasses.h): the preparing pass, the
    // conversion, the size corrections, until the last or a stop.
    void RunPasses(TBatchRun& run) {
        try {
            do {
                LabelTasks(run);
                run.SetObserver(
                    FCommand.Json && FPasses.Pass() == TBatchPass::Conversion ? &FJson : nullptr);
                const std::vector<TTerminateInfo> results = run.Run(FJobs);
                if (run.Interrupted()) return void(FPasses.Next(results));
                if (!FPasses.Next(results)) return;
            } while (true);
        } catch (const std::exception& e) {
            // A pass whose task cannot be set up ends the batch.
            FConverter.ClearTasks();
            FConsole.Line(e.what());
        }
    }

    void LabelTasks(TBatchRun& run) {
        const int tasks = FConverter.TaskCount();
        for (int k = 0; k < tasks; ++k) {
            const std::string label =
                "[" + std::to_string(k + 1) + "/" + std::to_string(tasks) + "] ";
            const std::string caption = FPasses.TaskCaption(k);
            run.SetTaskLabel(k, caption.empty() ? label : label + caption + ": ");
            if (FPasses.Pass() != TBatchPass::Conversion) continue;
            // Rows refused after their first pass have no task here.
            const int planned = FPlan.PlanTask(k);
            const std::string& source = FPlan.TaskRecord(planned).SourceFile;
            FConsole.Line(label + source + " -> " + FPlan.TaskOutput(planned));
            if (FCommand.Json) FJson.AddTask(k, source, FPlan.TaskOutput(planned));
        }
    }

    bool IsUnfit(int task) const {
        const std::vector<int>& unfit = FPasses.Unfit();
        return std::find(unfit.begin(), unfit.end(), task) != unfit.end();
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
    int FLoudness = 0;                // LUFS; 0: the files keep their loudness
    double FTargetSizeMB = 0;         // each video file's size; 0: none
    std::deque<TlvFilesRecord> FRows; // the plan keeps pointers to the rows
    TBatchPlan FPlan;                 // after the converter it adds tasks to
    TBatchPasses FPasses;             // after the plan it adds passes to
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
