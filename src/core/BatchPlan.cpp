#include "core/BatchPlan.h"

#include "core/DefaultFormats.h"
#include "core/DestinationName.h"
#include "core/ProbedSource.h"
#include "engine/FFmpegVCL.h"
#include "media/FFUtils.h"
#include "media/FileUtils.h"
#include "media/FFmpegHeaders.h"
#include "probe/AVProbe.h"

#include <cerrno>
#include <stdexcept>

bool ProbeRowSource(TAVProbe& probe, const std::string& file, TProbedFile& probed,
                    std::string& error) {
    if (!probe.LoadFile(file)) {
        error = probe.LastErrMsg();
        probe.CloseFile();
        return false;
    }
    // A pipe's opening waited for its writer (a stop signal ends that wait);
    // what the probe read is gone for the conversion.
    error = ReadOnceSourceText(file);
    if (!error.empty()) {
        probe.CloseFile();
        return false;
    }
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    probed = {probe.GetFileName(), probe.GetFormatName(), ProbedSourceOf(probe), info.Duration};
    probe.CloseFile();
    return true;
}

TTaskPlan PlanRowTask(const TGlobalObject& g, int formatCode, TlvFilesRecord& record,
                      const TProbedFile& probed, const std::set<std::string>* taken) {
    TTaskPlan plan;
    plan.In.Reset();
    plan.In.FileName = record.SourceFile;
    plan.In.ForceFormat = probed.FormatName;
    plan.Out.Reset();
    if (taken) {
        const std::string suffix = "." + FormatFileExt(g, formatCode);
        plan.Out.FileName = MakeDestinationName(g, probed.FileName, suffix, *taken);
    }
    record.ZoomMode = FormatZoomMode(g, formatCode);
    HandOverRowEdits(record, plan.In, plan.Out);
    BuildConversionOptions(g, record, formatCode, plan.Out, probed.Source, plan.In);
    plan.HasPicture = BlackPictureInput(g, formatCode, probed.Source, plan.Picture);
    plan.HasSilence = SilenceInput(g, formatCode, probed.Source, plan.Silence);
    plan.Out.CustomHook = NeedsFrameHook(record);
    return plan;
}

int AddPlannedTask(TCustomFFmpegVCL& converter, const TTaskPlan& plan) {
    TInputOptions in = plan.In;
    const int task = converter.AddTask(in.FileName, &in);
    if (task < 0) throw FFmpegException(converter.LastErrMsg);
    TInputOptions picture = plan.Picture;
    TInputOptions silence = plan.Silence;
    TOutputOptions out = plan.Out;
    if ((plan.HasPicture && !converter.AddInput(task, picture.FileName, &picture)) ||
        (plan.HasSilence && !converter.AddInput(task, silence.FileName, &silence)) ||
        !converter.SetOutputFile(task, out.FileName, &out)) {
        const std::string error = converter.LastErrMsg;
        converter.RemoveTask(task);
        throw FFmpegException(error);
    }
    return task;
}

bool NameTakenMeanwhile(const std::string& output, const std::string& error) {
    return error == MediaErrorText(output, AVERROR(EEXIST));
}

void TBatchPlan::Clear() {
    FTasks.clear();
    FTaskRows.clear();
    FPassTasks.clear();
    FTaken.clear();
}

TProbedFile TBatchPlan::ProbeRow(const std::string& file) {
    TProbedFile probed;
    std::string error;
    if (ProbeRowSource(*FConverter.AVProbe(), file, probed, error)) {
        FLastProbed = probed;
        FHasProbed = true;
        return probed;
    }
    if (!KeepLastProbe) throw std::runtime_error(error);
    return FLastProbed; // empty before any source opened
}

int TBatchPlan::AddRow(const TGlobalObject& g, int formatCode, TlvFilesRecord& record, int row) {
    return AddProbedRow(g, formatCode, record, row, ProbeRow(record.SourceFile));
}

int TBatchPlan::AddProbedRow(const TGlobalObject& g, int formatCode, TlvFilesRecord& record,
                             int row, const TProbedFile& probed) {
    std::set<std::string> taken = FTaken;
    for (int attempt = 1;; ++attempt) {
        TTaskPlan plan = PlanRowTask(g, formatCode, record, probed, &taken);
        if (HookEveryFrame) plan.Out.CustomHook = true;
        try {
            const int task = AddPlannedTask(FConverter, plan);
            FTasks.resize(static_cast<std::size_t>(task) + 1);
            FTaskRows.resize(FTasks.size(), -1);
            FTasks[task] = {&record, plan, probed};
            FTaskRows[task] = row;
            FTaken.insert(plan.Out.FileName);
            return task;
        } catch (const FFmpegException& e) {
            if (attempt >= kNameAttempts || !NameTakenMeanwhile(plan.Out.FileName, e.what())) throw;
            taken.insert(plan.Out.FileName);
        }
    }
}

int TBatchPlan::PlanTask(int task) const {
    if (FPassTasks.empty()) return task;
    if (task < 0 || task >= static_cast<int>(FPassTasks.size())) return -1;
    return FPassTasks[task];
}

int TBatchPlan::TaskRow(int converterTask) const {
    const int task = PlanTask(converterTask);
    if (task < 0 || task >= static_cast<int>(FTaskRows.size())) return -1;
    return FTaskRows[task];
}

void TBatchPlan::DrawFrame(THookInfo* info) const {
    if (!info || !info->Bitmap || !Drawer) return;
    const int task = PlanTask(info->TaskIndex);
    if (task < 0 || task >= static_cast<int>(FTasks.size()) || !FTasks[task].Record) return;
    Drawer(*FTasks[task].Record, *info);
}
