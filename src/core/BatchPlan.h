// Planning of a conversion batch, shared by the main window and
// vantrel-convert --format: for each row, the probe of its source, the
// output name (with a new try when another program takes the name first),
// the option records, the black picture input of picture-only formats, the
// frame hook switch, and the converter task made from them. The frame hook
// finds a frame's row here.
//
// Threads: planned on the thread that owns the converter's task list (the
// user-interface thread, or the tool's main thread); DrawFrame runs on the
// converter's workers, one call at a time under the converter's hook lock,
// and only reads what planning wrote before the batch started (and what
// SetPassTasks wrote before the pass started: it is called between passes,
// while no task runs).
#pragma once

#include "core/GlobalUnit.h"
#include "core/OptionBuilder.h"
#include "effects/EditSettings.h"
#include "engine/FFmpegRecords.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

class TAVProbe;
class TCustomFFmpegVCL;

// What the probe said of a row's source: its own file name and format
// name, the builder's view of its streams, and its length.
struct TProbedFile {
    std::string FileName;
    std::string FormatName;
    TProbedSource Source;
    int64_t Duration = -1; // microseconds, -1 when unknown
};

// Opens `file` in `probe`, describes it and closes it again; false (with
// the probe's error in `error`) when it cannot be opened, or when it is a
// pipe or a device, which the conversion could not open a second time.
bool ProbeRowSource(TAVProbe& probe, const std::string& file, TProbedFile& probed,
                    std::string& error);

// The option records of one row's task.
struct TTaskPlan {
    TInputOptions In;
    TOutputOptions Out;
    bool HasPicture = false; // a black picture input follows the source
    TInputOptions Picture;
    bool HasSilence = false; // a silent sound input follows the source
    TInputOptions Silence;
};

// Plans a row's task for the format: the source's input with its forced
// format, the output name (MakeDestinationName with "." + "FileExt", not
// one of `taken`; no name when `taken` is null), the zoom mode read again
// into the record, trim and crop, BuildConversionOptions, the black picture
// or the silence, and the frame hook switch. Throws what the builder throws.
TTaskPlan PlanRowTask(const TGlobalObject& g, int formatCode, TlvFilesRecord& record,
                      const TProbedFile& probed, const std::set<std::string>* taken);

// Adds the planned task to the converter; returns its index. Throws
// FFmpegException with the converter's error; a task whose output could
// not be set is removed again.
int AddPlannedTask(TCustomFFmpegVCL& converter, const TTaskPlan& plan);

// The output name was free when it was planned, but another program took it
// before the task opened it (an output opened for new files only).
bool NameTakenMeanwhile(const std::string& output, const std::string& error);

// Draws a row's effects and layers into a hooked frame (the windows'
// renderer, which needs the picture libraries of the client).
using TFrameDrawer = std::function<void(const TlvFilesRecord& row, THookInfo& frame)>;

class TBatchPlan {
public:
    // The most output names tried for one row when others keep taking them.
    static constexpr int kNameAttempts = 100;

    explicit TBatchPlan(TCustomFFmpegVCL& converter) : FConverter(converter) {}

    // Forgets the planned rows (not the converter's tasks).
    void Clear();

    // Probes the row's source, plans its task and adds it to the converter;
    // returns the task index. A name that another program took meanwhile
    // is planned again (the next free one). Throws when the source cannot be
    // probed (unless an earlier source of the plan could, whose description
    // then stands in, see KeepLastProbe), when the builder throws, or with
    // the converter's error. The record must stay where it is until the
    // next Clear: the frame hook reads it.
    int AddRow(const TGlobalObject& g, int formatCode, TlvFilesRecord& record, int row);
    // The same for a source probed already.
    int AddProbedRow(const TGlobalObject& g, int formatCode, TlvFilesRecord& record, int row,
                     const TProbedFile& probed);

    // A source the probe cannot open is planned from the last one that it
    // could open (the window's rule); off: its error fails the row.
    bool KeepLastProbe = false;
    // Every task calls the frame hook, whatever its row needs.
    bool HookEveryFrame = false;
    // Set before the batch starts.
    TFrameDrawer Drawer;

    // Task n's row, as given to AddRow.
    const std::vector<int32_t>& TaskRows() const { return FTaskRows; }
    // While a pass other than the planned conversion runs (BatchPasses.h):
    // the planned task that each of the converter's tasks stands for, which
    // TaskRow and DrawFrame go by. Empty (after Clear too): task n is
    // planned task n.
    void SetPassTasks(std::vector<int> planTasks) { FPassTasks = std::move(planTasks); }
    // The planned task behind the converter's task `task`; -1 for none.
    int PlanTask(int task) const;
    int TaskCount() const { return static_cast<int>(FTasks.size()); }
    int TaskRow(int task) const;
    const std::string& TaskOutput(int task) const { return FTasks.at(task).Plan.Out.FileName; }
    // The option records task n was added with.
    const TTaskPlan& TaskPlan(int task) const { return FTasks.at(task).Plan; }
    const TlvFilesRecord& TaskRecord(int task) const { return *FTasks.at(task).Record; }
    // What the probe said of task n's source.
    const TProbedFile& TaskSource(int task) const { return FTasks.at(task).Probed; }
    // Task n's option records, for a later pass that adds the task again.
    TTaskPlan& EditTaskPlan(int task) { return FTasks.at(task).Plan; }

    // The frame hook: draws the task's row into the frame with Drawer.
    void DrawFrame(THookInfo* info) const;

private:
    TProbedFile ProbeRow(const std::string& file);

    struct TTask {
        const TlvFilesRecord* Record = nullptr;
        TTaskPlan Plan;
        TProbedFile Probed;
    };
    TCustomFFmpegVCL& FConverter;
    std::vector<TTask> FTasks;
    std::vector<int32_t> FTaskRows;
    std::vector<int> FPassTasks;  // see SetPassTasks
    std::set<std::string> FTaken; // the outputs of the planned rows
    bool FHasProbed = false;      // FLastProbed describes a source
    TProbedFile FLastProbed;
};
