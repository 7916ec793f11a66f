// The passes of a batch with a loudness target or a target size, shared by
// the main window and vantrel-convert --format. The plan's conversion tasks
// are added first; Begin then puts before them a preparing pass (each row
// with audio measured for loudness, each row that writes video given its
// first video pass), after which the conversion runs with each row's gain
// and as its second pass. A file that then exceeds its target size, or lies
// more than 10 % below it, is encoded again at a corrected rate (at most
// kCorrections times); one still larger than the target is removed, so no
// file ever exceeds it.
//
// Each pass is a batch of the converter's own: the caller runs it (with the
// batch runner) and hands its results to Next, which sets up the next one.
//
// Threads: used on the thread that owns the converter's task list (the
// user-interface thread, or the tool's main thread), where the runner's
// reports arrive.
#pragma once

#include "core/LoudnessPlan.h"
#include "core/TargetSize.h"
#include "core/TargetSizePlan.h"
#include "engine/FFmpegRecords.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class TBatchPlan;
class TCustomFFmpegVCL;

enum class TBatchPass { Preparing, Conversion, Correction, Done };

class TBatchPasses {
public:
    static constexpr int kCorrections = 3;

    TBatchPasses(TCustomFFmpegVCL& converter, TBatchPlan& plan);

    // A new batch, the plan's tasks added to the converter: `loudness` in
    // LUFS (0: off), `targetMB` in MB (0: off). Returns the refusal of rows
    // whose target size is too small, a line each naming the row's file and
    // the smallest size that works (nothing is changed then); empty when the
    // batch may start. With anything to prepare, the converter's tasks are
    // replaced by the preparing pass. Throws when a folder for the readings
    // or pass logs cannot be made, or a task cannot be set up.
    std::string Begin(int loudness, double targetMB);
    TBatchPass Pass() const { return FPass; }
    // What task `task` of the running pass does, for the progress shown
    // ("Measuring loudness", "First pass", "Encoding again"); empty for the
    // conversion itself.
    std::string TaskCaption(int task) const;
    // The running pass's tasks end the batch unless a stop cut them short
    // and unless a size correction follows (then the end actions wait).
    bool LastPass() const;

    // The running pass ended with `results` (in task order): sets up the
    // next pass on the converter and returns true, or returns false when
    // the batch is over (a stopped task ends it). Throws when a task of the
    // next pass cannot be set up.
    bool Next(const std::vector<TTerminateInfo>& results);

    // Each planned task's conversion report (corrections replace theirs).
    const std::vector<TTerminateInfo>& Conversions() const { return FConversions; }
    // The planned tasks whose file did not fit and was removed.
    const std::vector<int>& Unfit() const { return FUnfit; }
    // The planned tasks refused after their first pass (their conversion
    // report has the reason, naming the row and the smallest size).
    const std::vector<int>& Refused() const { return FRefused; }
    // The audio rate a planned task's target lowered its audio to; 0 when
    // it keeps its own.
    int LoweredAudioRate(int task) const { return FSizes.AudioRate(task); }
    // What the passes said of files encoded again or removed; emptied.
    std::vector<std::string> TakeNotes();

private:
    std::string PlanSizes();
    bool LowerAudio(int task, TSizeGoal& goal, int64_t leastVideoRate);
    void CheckPassTwoRates();
    void Refuse(int task, const std::string& reason);
    bool Refused(int task) const;
    bool AddCorrection(int task, const TSizeGoal& goal);
    void AddPreparingTasks();
    int AddTask(int planTask, const TInputOptions& in, const TOutputOptions& out);
    void AddConversionTasks();
    void NoteConversions(const std::vector<TTerminateInfo>& results);
    bool AddCorrections();
    void RemoveUnfit();
    void StartPass(TBatchPass pass);

    TCustomFFmpegVCL& FConverter;
    TBatchPlan& FPlan;
    TLoudnessPlan FLoudness;
    TTargetSizePlan FSizes;
    TBatchPass FPass = TBatchPass::Done;
    int FCorrections = 0;               // correction passes run so far
    std::map<int, TSizeGoal> FGoals;    // planned task -> its size goal
    std::vector<int> FPassTasks;        // converter task -> planned task
    std::vector<std::string> FCaptions; // converter task -> its caption
    std::vector<TTerminateInfo> FConversions;
    std::vector<int> FUnfit;
    std::vector<int> FRefused;
    std::set<int> FCorrected; // planned tasks encoded again so far
    std::vector<std::string> FNotes;
};
