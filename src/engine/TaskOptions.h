// The option state of one task with everything that writes it: the option
// table and its handlers (FFmpegOptionTable.cpp, FFmpegOptions.cpp), the
// libraries' option contexts and the options waiting for an output
// (FFmpegOptionContexts.cpp), presets (FFmpegOptions.cpp) and targets
// (FFmpegTargets.cpp). The few options that act on the task's files reach
// it through TOptionLinks, so the option state can be used without a task.
#pragma once

#include "engine/FFmpegOptions.h"
#include "engine/FFmpegRecordOptions.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Used by the task's caller thread while the task is idle; the conversion
// reads the state on the task's own thread later (never both at once).
class TTaskOptions {
public:
    // `strict` is the task's setting: with it, options that no context
    // knows fail, and so do values a context refuses.
    TTaskOptions(const bool& strict, TOptionLinks links);
    TTaskOptions(const TTaskOptions&) = delete;
    TTaskOptions& operator=(const TTaskOptions&) = delete;

    TOptionState& State() { return FState; }
    const TOptionState& State() const { return FState; }
    TOptionContexts& Contexts() { return FContexts; }

    // Reset values, with fresh option contexts when the media libraries are
    // loaded.
    void Reset();
    // Makes sure the option contexts exist (raises when they cannot be had).
    void EnsureContexts();

    // By the option table: a text value is read by the rules of the
    // option's row, a typed value (a record's) is taken as it is; a name no
    // row has goes to the option contexts. Errors raise FFmpegException.
    // The callers check the media libraries first.
    void Apply(const std::string& name, const TOptionValue& value);
    // A number handed straight to the option contexts.
    void SetNumber(const std::string& name, int64_t value);
    void LoadPreset(const std::string& kind, const std::string& value);
    void SetTarget(const std::string& type, const std::string& norm, const std::string& fallback);

    // For the outputs' set-up: whether a recorded option reaches an encoder
    // of `kind`, and the waiting options the encoder or muxer now known takes.
    bool RecordedOptionFor(const char* name, TMediaKind kind) const;
    void TakePendingEncoderOptions(const AVCodec* codec, TPrivateOptions& into, TMediaKind kind);
    void TakePendingMuxerOptions(AVFormatContext* context);

private:
    using TOptionHandler = void (TTaskOptions::*)(const std::string& name,
                                                  const std::string& value);
    // A handler of a row whose value is read before it acts (a number, a
    // time, a pair...): it gets the value of the row's kind.
    using TValueHandler = void (TTaskOptions::*)(const std::string& name,
                                                 const TOptionValue& value);
    struct TOptionRow;
    static const std::vector<TOptionRow>& OptionTable();

    // Handlers of the table rows that need more than one field.
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

    // Unknown names: the generic option contexts, then the private options
    // of the kind's current encoder. True when one of them took the option.
    // Names no one knows yet wait for the next output (TPendingOption).
    bool SetDefaultOrPrivateOption(const std::string& name, const std::string& value,
                                   TMediaKind kindHint, const std::string& refusal = std::string());
    bool SetCodecOption(const std::string& name, const std::string& value, TMediaKind kindHint);
    bool HasCodecName(TMediaKind kind) const;
    void DeferOption(const std::string& name, const std::string& value, TMediaKind kind,
                     const std::string& refusal);
    bool SetPrivateOption(TMediaKind kind, const std::string& name, const std::string& value);
    bool SetFormatPrivateOption(const std::string& name, const std::string& value);
    void SetCodecName(TMediaKind kind, const std::string& value);
    void ApplyPresetText(const std::string& value, const std::string& text, TMediaKind kind,
                         bool builtin);
    void ApplyPresetLine(const std::string& value, const std::string& line, const std::string& key,
                         const std::string& val, TMediaKind kind, bool builtin);
    int GuessTargetNorm(const std::string& fallback);
    static void Log(int level, const std::string& text);

    const bool& FStrict;
    TOptionLinks FLinks;
    TOptionState FState;
    TOptionContexts FContexts{};
};
