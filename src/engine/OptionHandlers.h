// The handlers of the option table's rows that need more than one field of
// the option state, with the targets and presets they apply.
#pragma once

#include "engine/FFmpegOptions.h"
#include "engine/FFmpegRecordOptions.h"
#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TLibraryOptions;
struct TPresetLine;

// What the option handlers need of the task they belong to. Each link may
// be empty: its option then fails ("target" guesses from the frame rate
// and the fallback alone).
struct TOptionLinks {
    // "target": the frame rates of the inputs' video streams, in order.
    std::function<std::vector<AVRational>()> InputVideoRates;
    // "vhook": adds a frame-hook module; false when it cannot be had.
    std::function<bool(const THookModuleWords& words)> AddHookModule;
    // "newvideo", "newaudio", "newsubtitle": a stream on the last output.
    std::function<void(TMediaKind kind)> NewStream;
    // "t": the length to convert, microseconds.
    std::function<void(int64_t time)> RecordingTime;
};

// Writes the option state, and through the library options the option
// contexts, of one task; used by the thread that owns them (see
// TTaskOptions). Errors raise FFmpegException.
class TOptionHandlers {
public:
    // A handler of the text of a row's value.
    using TTextHandler = void (TOptionHandlers::*)(const std::string& name,
                                                   const std::string& value);
    // A handler of a row whose value is read before it acts (a number, a
    // time, a pair...): it gets the value of the row's kind.
    using TValueHandler = void (TOptionHandlers::*)(const std::string& name,
                                                    const TOptionValue& value);

    // `strict` is the task's setting, read at each option: with it, values
    // a context refuses fail.
    TOptionHandlers(TOptionState& state, TLibraryOptions& library, const TOptionLinks& links,
                    const bool& strict)
        : FState(state), FLibrary(library), FLinks(links), FStrict(strict) {}

    void LoadPreset(const std::string& kind, const std::string& value);
    void SetTarget(const std::string& type, const std::string& norm, const std::string& fallback);

    // The rows' handlers.
    void OptDoNothing(const std::string& name, const std::string& value);
    void OptLogLevel(const std::string& name, const std::string& value);
    void OptFormat(const std::string& name, const std::string& value);
    void OptMap(const std::string& name, const std::string& value);
    void OptMapMetaData(const std::string& name, const std::string& value);
    void OptTime(const std::string& name, const TOptionValue& value);
    void OptTimestamp(const std::string& name, const TOptionValue& value);
    void OptFileSize(const std::string& name, const TOptionValue& value);
    void OptTsScale(const std::string& name, const std::string& value);
    void OptMetadata(const std::string& name, const TOptionValue& value);
    void OptFrames(const std::string& name, const TOptionValue& value);
    void OptTimeLimit(const std::string& name, const std::string& value);
    void OptTarget(const std::string& name, const TOptionValue& value);
    void OptThreads(const std::string& name, const std::string& value);
    void OptBitrate(const std::string& name, const std::string& value);
    void OptFrameRate(const std::string& name, const std::string& value);
    void OptFrameSize(const std::string& name, const std::string& value);
    void OptAspect(const std::string& name, const std::string& value);
    void OptPixFmt(const std::string& name, const std::string& value);
    void OptSampleFmt(const std::string& name, const std::string& value);
    void OptCrop(const std::string& name, const TOptionValue& value);
    void OptPad(const std::string& name, const std::string& value);
    void OptQScale(const std::string& name, const TOptionValue& value);
    void OptCodec(const std::string& name, const std::string& value);
    void OptPass(const std::string& name, const TOptionValue& value);
    void OptVStats(const std::string& name, const std::string& value);
    void OptVHook(const std::string& name, const std::string& value);
    void OptVFilters(const std::string& name, const std::string& value);
    void OptMatrix(const std::string& name, const std::string& value);
    void OptTag(const std::string& name, const std::string& value);
    void OptNewStream(const std::string& name, const std::string& value);
    void OptStreamId(const std::string& name, const std::string& value);
    void OptSampleRate(const std::string& name, const TOptionValue& value);
    void OptChannels(const std::string& name, const TOptionValue& value);
    void OptBitstreamFilter(const std::string& name, const std::string& value);
    void OptPreset(const std::string& name, const std::string& value);

private:
    void SetCodecName(TMediaKind kind, const std::string& value);
    void ApplyPresetLine(const std::string& value, const TPresetLine& line, TMediaKind kind,
                         bool builtin);

    TOptionState& FState;
    TLibraryOptions& FLibrary;
    const TOptionLinks& FLinks;
    const bool& FStrict;
};
