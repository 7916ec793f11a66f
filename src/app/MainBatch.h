// The main window's batch: every checked row planned and run by the batch
// core (with the passes of a loudness target or a target size before and
// after the conversion, BatchPasses.h), its reports shown in the conversion list and handed to the
// progress window, the end actions, and what a cancel leaves.
//
// Threads: user-interface thread only (the batch runner raises its reports
// there); the frame hook runs on the converter's workers inside the plan.
#pragma once

#include "core/BatchPasses.h"
#include "core/BatchPlan.h"
#include "core/BatchRunner.h"
#include "editing/FrameRenderer.h"

#include <QString>
#include <functional>
#include <string>

class TIniFile;
class TfrmMain;

class TMainBatch {
public:
    // Binds the window's converter for its lifetime.
    explicit TMainBatch(TfrmMain& window);
    // Waits for every task to end, then lets go of the converter's events:
    // no worker can be inside one of them afterwards.
    ~TMainBatch();
    TMainBatch(const TMainBatch&) = delete;
    TMainBatch& operator=(const TMainBatch&) = delete;

    // Start: one task per checked row in list order, then the progress
    // window, whose showing starts the batch; returns when it closes.
    void Start();
    // A progress report of the converter.
    void Progress(const TProgressInfo& info) { FRunner.Progress(info); }

    // The power-off request of "Shut down computer after conversion".
    static std::function<void()>& PowerOffCommand();
    // A source path as the progress window shows it: at most 50 characters
    // as it is, else its first 44, "..", and its extension.
    static QString ShortFileCaption(const QString& path);

private:
    void AddTasks(int formatCode);
    bool BeginPasses(const TIniFile& settings, int formatCode);
    void NoteTaskRows();
    std::string RowFailureText(int row, const std::string& reason) const;
    void ClearCheckedProgress();
    void ShowProgressWindow(int atATime);
    void SetListButtonsEnabled(bool enabled);
    void ShowTaskProgress(const TTaskReport& report);
    void KeepPreviewBitmap(const TPreviewInfo& info);
    void TaskEnded(const TTaskEnd& end);
    QString FinishedText(const TTerminateInfo& info) const;
    void TaskCutShort(const TTaskEnd& end);
    void EndOfBatch();
    bool StartNextPass();
    std::string ShowUnfitRows();
    void MarkRowFailed(int task, const char* text);
    void EndActionsDue();
    void RunEndActions();

    TfrmMain& FWindow;
    // Layer pictures of the running batch: used by the hook on one worker
    // at a time (the converter's hook lock), emptied between batches.
    TLayerImageCache FLayers;
    TBatchPlan FPlan;
    TBatchPasses FPasses; // after the plan it adds passes to
    TBatchRunner FRunner; // after the plan it runs
    int FFormatCode = 0;
    // The end actions were due after a pass that others followed.
    bool FEndActionsDue = false;
    // The task whose picture the progress window shows, -1 while none: with
    // several at a time its labels and bar describe that task alone.
    int FPictureTask = -1;
};
