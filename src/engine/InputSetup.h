// A task's input files: opening each with the format and parameters the
// option state gives, the program, the start point and the streams'
// decoders and settings.
#pragma once

#include "engine/TaskFiles.h"
#include "engine/TaskOptions.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the input set-up reads and writes of its task.
struct TInputSetupLinks {
    // The option state: each input takes the options given for it, and
    // clears them for the next.
    TTaskOptions& Options;
    std::string& ErrorText; // why the last open failed
    int64_t& TotalDuration; // the longest input's length
    // Raises FFmpegException when the name is one of the task's outputs.
    std::function<void(const std::string& fileName)> CheckNotAnOutput;
    // A stop of the task gives a blocked open back.
    std::function<bool()> StopRequested;
};

// Threads: the files are opened by the caller's thread while the task is
// idle; the conversion takes them over on the thread that runs the task,
// and the caller does not touch them meanwhile.
class TInputSetup {
public:
    explicit TInputSetup(TInputSetupLinks links);
    TInputSetup(const TInputSetup&) = delete;
    TInputSetup& operator=(const TInputSetup&) = delete;

    // Opens `fileName` as the next input; false with ErrorText set when it
    // cannot be had. The codec names and the program choice go either way.
    bool Open(const std::string& fileName);
    void Clear() { FFiles.clear(); }

    std::vector<TInputFileSlot>& Files() { return FFiles; }
    const std::vector<TInputFileSlot>& Files() const { return FFiles; }

private:
    void ClearCodecNames();
    bool OpenSteps(const std::string& fileName, ff::InputContextPtr& context,
                   std::vector<const AVCodec*>& decoders, int64_t& timestamp);

    TInputSetupLinks FLinks;
    TOptionState& FOptions;           // the links' option state
    TOptionContexts& FOptionContexts; // the links' option contexts
    std::vector<TInputFileSlot> FFiles;
};
