// What a task lends to its conversion: references to exactly the parts of
// the task (TCustomFFmpeg) that the transcoder reads or writes, and nothing
// else of its private state. The task makes one when the conversion starts
// (TCustomFFmpeg::ShareWithConversion); it lives as long as the transcoder.
//
// Threads: everything here belongs to the thread that runs the conversion
// while it runs (the caller's thread does not touch an idle task's state
// meanwhile), except what is marked otherwise.
#pragma once

#include "engine/FFmpeg.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct TTaskShare {
    // The task itself, handed to the callbacks as their first argument.
    TCustomFFmpeg& Task;

    // The set-up's results. The inputs' time offsets move on when a joined
    // segment ends; the error text is where a filter graph's failure is told.
    const TOptionState& FOptions;     // only to take the conversion's view of it
    TOptionContexts& FOptionContexts; // the decoders copy their recorded options
    std::vector<TInputFileSlot>& FInputFiles;
    const std::vector<std::shared_ptr<TOutputFile>>& FOutputFiles;
    std::vector<TOutputStreamSetup>& FOutputStreams;
    TFrameHookList& FFrameHooks;
    std::string& FErrorText;
    const int64_t& FTotalDuration;
    const bool& FJoined;

    // Run state. The flags are atomic (any thread stops a task or changes its
    // preview); the preview window belongs to the process-wide preview-flag
    // lock; the early-end note is written under FRunLock.
    const std::atomic<bool>& FBreakRequested;
    std::atomic<bool>& FFinished;
    std::atomic<int>& FPreviewFlags;
    std::unique_ptr<TPreviewer>& FPreviewer;
    std::mutex& FRunLock;
    std::string& FEndedEarly; // FRunLock
    int& FReachedPercent;     // FRunLock

    // Settings and callbacks the component set before the start. A hook
    // that asks to stop is cleared for the rest of the conversion.
    TEngineHookCallback& OnHookCallback;
    const TEnginePreviewCallback& OnPreview;
    const TEngineProgressCallback& OnProgressCallback;
    const int64_t& ProgressInterval;
    const bool& StagedEncoding;
    // The conversion runs on a worker of the task's own, not on the thread
    // that started it (whose own thread then sees every event).
    const bool& Threaded;

    // The task's public reading of its files and its pause point.
    int InputFileCount() const { return Task.InputFileCount(); }
    AVFormatContext* InputContext(int index) const { return Task.InputContext(index); }
    const TInputFileSlot& InputFile(int index) const { return Task.InputFile(index); }
    AVFormatContext* OutputContext(int index) const { return Task.OutputContext(index); }
    int PreviewFlags() const { return Task.PreviewFlags(); }
    void WaitWhilePaused() const { Task.WaitWhilePaused(); }
};
