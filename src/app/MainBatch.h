// The main window's batch: every checked row planned and run by the batch
// core, its reports shown in the conversion list and handed to the progress
// window, the end actions, and what a cancel leaves.
//
// Threads: user-interface thread only (the batch runner raises its reports
// there); the frame hook runs on the converter's workers inside the plan.
#pragma once

#include "core/BatchPlan.h"
#include "core/BatchRunner.h"
#include "editing/FrameRenderer.h"

#include <functional>
#include <string>

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

private:
    void AddTasks(int formatCode);
    std::string RowFailureText(int row, const std::string& reason) const;
    void ClearCheckedProgress();
    void ShowProgressWindow(int atATime);
    void SetListButtonsEnabled(bool enabled);
    void ShowTaskProgress(const TTaskReport& report);
    void KeepPreviewBitmap(const TPreviewInfo& info);
    void TaskEnded(const TTaskEnd& end);
    void TaskCutShort(const TTaskEnd& end);
    void EndOfBatch();
    void RunEndActions();

    TfrmMain& FWindow;
    // Layer pictures of the running batch: used by the hook on one worker
    // at a time (the converter's hook lock), emptied between batches.
    TLayerImageCache FLayers;
    TBatchPlan FPlan;
    TBatchRunner FRunner; // after the plan it runs
};
