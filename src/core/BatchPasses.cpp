#include "core/BatchPasses.h"

#include "core/BatchPlan.h"
#include "engine/FFmpegVCL.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {

namespace fs = std::filesystem;

const char* const kMeasuring = "Measuring loudness";
const char* const kFirstPass = "First pass";
const char* const kEncodingAgain = "Encoding again";

int64_t FileSize(const std::string& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

// A task that neither finished nor failed was stopped.
bool AnyStopped(const std::vector<TTerminateInfo>& results) {
    for (const TTerminateInfo& result : results)
        if (!result.Finished && !result.ExceptionRaised) return true;
    return false;
}

} // namespace

TBatchPasses::TBatchPasses(TCustomFFmpegVCL& converter, TBatchPlan& plan)
    : FConverter(converter), FPlan(plan) {}

std::string TBatchPasses::Begin(int loudness, double targetMB) {
    FCorrections = 0;
    FGoals.clear();
    FConversions.assign(static_cast<std::size_t>(FPlan.TaskCount()), TTerminateInfo());
    FUnfit.clear();
    FRefused.clear();
    FCorrected.clear();
    FNotes.clear();
    FLoudness.Begin(loudness);
    FSizes.Begin(targetMB);
    StartPass(TBatchPass::Conversion);
    if (!FLoudness.Measuring() && !FSizes.FirstPassing()) return {};
    if (std::string problems = PlanSizes(); !problems.empty()) return problems;
    FConverter.ClearTasks();
    AddPreparingTasks();
    if (!FPassTasks.empty()) return {};
    // Nothing to prepare (no audio, no video): the conversion is the only pass.
    FLoudness.EndMeasuring();
    FSizes.EndFirstPasses();
    AddConversionTasks();
    return {};
}

// Each task's goal; the refusals of targets too small for their row.
std::string TBatchPasses::PlanSizes() {
    std::string problems;
    if (!FSizes.FirstPassing()) return problems;
    for (int task = 0; task < FPlan.TaskCount(); ++task) {
        const TTaskPlan& plan = FPlan.TaskPlan(task);
        const TProbedFile& source = FPlan.TaskSource(task);
        if (!TargetSizeApplies(plan.Out, source.Source.VideoStreamIndex >= 0)) continue;
        TSizeGoal goal = SizeGoalOf(plan.In, plan.Out, source.Duration,
                                    source.Source.AudioStreamIndex >= 0, FSizes.TargetBytes());
        LowerAudio(task, goal, MinimumVideoBitRate(goal));
        const std::string problem = FSizes.Plan(task, goal, FPlan.TaskRecord(task).SourceFile);
        if (problem.empty())
            FGoals[task] = goal;
        else
            problems += (problems.empty() ? "" : "\n") + problem;
    }
    return problems;
}

// Lowers the task's audio rate so that its video gets `leastVideoRate`;
// false when it need not or cannot.
bool TBatchPasses::LowerAudio(int task, TSizeGoal& goal, int64_t leastVideoRate) {
    const int rate = FittingAudioBitRate(goal, leastVideoRate);
    if (rate == goal.AudioBitRate) return false;
    goal.AudioBitRate = rate;
    FSizes.SetAudioRate(task, rate);
    FNotes.push_back(FormatText("%s: the audio is written at %d kbit/s so that the file fits "
                                "in %lld bytes",
                                FPlan.TaskRecord(task).SourceFile.c_str(), rate / 1000,
                                static_cast<long long>(goal.TargetBytes)));
    return true;
}

// After the first passes: a row whose encoder needs more for its second
// pass than its target leaves gets less audio where that is enough, else
// it is refused (the encoder would fail).
void TBatchPasses::CheckPassTwoRates() {
    for (auto it = FGoals.begin(); it != FGoals.end();) {
        const auto& [task, goal] = *it;
        const int64_t least =
            FSizes.PassTwoLeastRate(task, FPlan.TaskPlan(task).Out, goal.FrameRate);
        if (least <= FSizes.Rate(task)) {
            ++it;
        } else if (LowerAudio(task, it->second, least)) {
            FSizes.SetRate(task, TargetVideoBitRate(goal));
            ++it;
        } else {
            const int64_t working = PassTwoWorkingRate(least, FSizes.Rate(task));
            Refuse(task, TooSmallTarget(FPlan.TaskRecord(task).SourceFile,
                                        SmallestTargetMB(goal, working)));
            it = FGoals.erase(it);
        }
    }
}

void TBatchPasses::Refuse(int task, const std::string& reason) {
    FRefused.push_back(task);
    TTerminateInfo& report = FConversions[task];
    report.ExceptionRaised = true;
    report.ExceptionMsg = reason;
    FNotes.push_back(reason);
}

bool TBatchPasses::Refused(int task) const {
    return std::find(FRefused.begin(), FRefused.end(), task) != FRefused.end();
}

void TBatchPasses::AddPreparingTasks() {
    StartPass(TBatchPass::Preparing);
    for (int task = 0; task < FPlan.TaskCount(); ++task) {
        const TTaskPlan& plan = FPlan.TaskPlan(task);
        if (FLoudness.Measuring() && FPlan.TaskSource(task).Source.AudioStreamIndex >= 0) {
            TInputOptions in;
            TOutputOptions out;
            FLoudness.MeasuringOptions(task, plan.In, plan.Out, in, out);
            FLoudness.AddMeasuringTask(AddTask(task, in, out), task);
            FCaptions.push_back(kMeasuring);
        }
        if (FSizes.Planned(task)) {
            AddTask(task, plan.In, FSizes.FirstPassOptions(task, plan.Out));
            FCaptions.push_back(kFirstPass);
        }
    }
    FPlan.SetPassTasks(FPassTasks);
}

// Adds a task of a pass for the planned task; returns the converter's task.
int TBatchPasses::AddTask(int planTask, const TInputOptions& in, const TOutputOptions& out) {
    TInputOptions input = in;
    TOutputOptions output = out;
    const int task = FConverter.AddTask(input.FileName, &input);
    if (task < 0 || !FConverter.SetOutputFile(task, output.FileName, &output)) {
        const std::string error = FConverter.LastErrMsg;
        if (task >= 0) FConverter.RemoveTask(task);
        throw FFmpegException(FPlan.TaskRecord(planTask).SourceFile + ": " + error);
    }
    FPassTasks.push_back(planTask);
    return task;
}

// The planned tasks again, with each row's gain and as its second pass.
void TBatchPasses::AddConversionTasks() {
    FConverter.ClearTasks();
    StartPass(TBatchPass::Conversion);
    for (int task = 0; task < FPlan.TaskCount(); ++task) {
        if (Refused(task)) continue;
        TTaskPlan& plan = FPlan.EditTaskPlan(task);
        FLoudness.ApplyTo(task, plan.Out);
        FSizes.ApplySecondPass(task, plan.Out);
        try {
            AddPlannedTask(FConverter, plan);
        } catch (const std::exception& e) {
            throw FFmpegException(FPlan.TaskRecord(task).SourceFile + ": " + e.what());
        }
        FPassTasks.push_back(task);
    }
    // Without refusals the converter's tasks are the plan's again.
    FPlan.SetPassTasks(FRefused.empty() ? std::vector<int>() : FPassTasks);
}

std::string TBatchPasses::TaskCaption(int task) const {
    if (task < 0 || task >= static_cast<int>(FCaptions.size())) return {};
    return FCaptions[task];
}

bool TBatchPasses::LastPass() const {
    if (FPass == TBatchPass::Preparing) return false;
    return FGoals.empty() || FPass == TBatchPass::Done;
}

void TBatchPasses::StartPass(TBatchPass pass) {
    FPass = pass;
    FPassTasks.clear();
    FCaptions.clear();
}

bool TBatchPasses::Next(const std::vector<TTerminateInfo>& results) {
    const TBatchPass ended = FPass;
    if (ended == TBatchPass::Conversion || ended == TBatchPass::Correction)
        NoteConversions(results);
    if (ended == TBatchPass::Done || AnyStopped(results)) {
        FPass = TBatchPass::Done;
        FPlan.SetPassTasks({});
        return false;
    }
    if (ended == TBatchPass::Preparing) {
        for (std::size_t task = 0; task < results.size(); ++task)
            FLoudness.MeasuringEnded(static_cast<int>(task), results[task].Finished,
                                     results[task].ExceptionRaised);
        const bool measured = !FLoudness.Measuring() || FLoudness.EndMeasuring();
        FSizes.EndFirstPasses();
        CheckPassTwoRates();
        if (measured) {
            AddConversionTasks();
            if (!FPassTasks.empty()) return true;
        }
    } else if (!FGoals.empty() && AddCorrections()) {
        return true;
    }
    RemoveUnfit();
    FPass = TBatchPass::Done;
    FPlan.SetPassTasks({});
    return false;
}

void TBatchPasses::NoteConversions(const std::vector<TTerminateInfo>& results) {
    for (std::size_t task = 0; task < results.size(); ++task) {
        // Without passes of their own the converter's tasks are the plan's.
        const int planTask = FPassTasks.empty()         ? static_cast<int>(task)
                             : task < FPassTasks.size() ? FPassTasks[task]
                                                        : -1;
        if (planTask >= 0 && planTask < static_cast<int>(FConversions.size()))
            FConversions[planTask] = results[task];
    }
}

// Another encode at a corrected rate for each finished file that missed its
// goal; false when none is due (or the corrections are used up).
bool TBatchPasses::AddCorrections() {
    if (FCorrections >= kCorrections) return false;
    FConverter.ClearTasks();
    StartPass(TBatchPass::Correction);
    bool any = false;
    for (const auto& [task, goal] : FGoals)
        any = AddCorrection(task, goal) || any;
    if (!any) return false;
    ++FCorrections;
    FPlan.SetPassTasks(FPassTasks);
    return true;
}

// A file far below its goal, or below it after an encode again at a higher
// rate, shows an encoder at its finest quantiser: it gets a constant rate,
// padded.
bool TBatchPasses::AddCorrection(int task, const TSizeGoal& goal) {
    TTaskPlan& plan = FPlan.EditTaskPlan(task);
    const int64_t size = FConversions[task].Finished ? FileSize(plan.Out.FileName) : -1;
    if (size < 0 || SizeWithinGoal(goal, size)) return false;
    const bool stuck =
        SizeFarBelowGoal(goal, size) || (size < goal.TargetBytes && FCorrected.count(task) > 0);
    const bool fill = stuck && !FSizes.Filling(task) && FillsToRate(goal.Encoder);
    if (fill) FSizes.SetFilling(task);
    const int rate =
        fill ? ConstantVideoBitRate(goal) : CorrectedVideoBitRate(goal, FSizes.Rate(task), size);
    FSizes.SetRate(task, rate);
    FCorrected.insert(task);
    FNotes.push_back(FormatText("%s: %lld bytes for a target of %lld; encoding again at %d bit/s%s",
                                plan.Out.FileName.c_str(), static_cast<long long>(size),
                                static_cast<long long>(goal.TargetBytes), rate,
                                FSizes.Filling(task) ? ", constant" : ""));
    std::error_code ec;
    fs::remove(plan.Out.FileName, ec); // this batch's own output
    FSizes.ApplySecondPass(task, plan.Out);
    AddTask(task, plan.In, plan.Out);
    FCaptions.push_back(kEncodingAgain);
    return true;
}

// A file still larger than its target after the corrections (an encoder
// that cannot go lower) is not kept: the target is never exceeded.
void TBatchPasses::RemoveUnfit() {
    for (const auto& [task, goal] : FGoals) {
        const std::string& output = FPlan.TaskPlan(task).Out.FileName;
        const int64_t size = FileSize(output);
        if (size <= goal.TargetBytes) continue;
        std::error_code ec;
        fs::remove(output, ec);
        FNotes.push_back(FormatText("%s: does not fit in %lld bytes even at the lowest rate (%lld "
                                    "bytes); the file is removed",
                                    FPlan.TaskRecord(task).SourceFile.c_str(),
                                    static_cast<long long>(goal.TargetBytes),
                                    static_cast<long long>(size)));
        FUnfit.push_back(task);
    }
}

std::vector<std::string> TBatchPasses::TakeNotes() {
    std::vector<std::string> notes;
    notes.swap(FNotes);
    return notes;
}
