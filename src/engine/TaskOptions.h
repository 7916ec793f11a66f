// The option state of one task and the one way in that writes it: names go
// through the option table (FFmpegOptionTable.h) to the state's fields or
// their handlers (OptionHandlers.h); names no row has go to the libraries'
// option contexts or wait for the next output (LibraryOptions.h). The few
// options that act on the task's files reach it through TOptionLinks, so
// the option state can be used without a task.
#pragma once

#include "engine/FFmpegOptions.h"
#include "engine/FFmpegRecordOptions.h"
#include "engine/LibraryOptions.h"
#include "engine/OptionHandlers.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"

#include <cstdint>
#include <string>

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
    TOptionContexts& Contexts() { return FLibrary.Contexts(); }

    // Reset values, with fresh option contexts when the media libraries are
    // loaded.
    void Reset();
    // Makes sure the option contexts exist (raises when they cannot be had).
    void EnsureContexts() { FLibrary.EnsureContexts(); }

    // By the option table: a text value is read by the rules of the
    // option's row, a typed value (a record's) is taken as it is; a name no
    // row has goes to the option contexts. Errors raise FFmpegException.
    // The callers check the media libraries first.
    void Apply(const std::string& name, const TOptionValue& value);
    // A number handed straight to the option contexts.
    void SetNumber(const std::string& name, int64_t value);
    void LoadPreset(const std::string& kind, const std::string& value) {
        FHandlers.LoadPreset(kind, value);
    }
    void SetTarget(const std::string& type, const std::string& norm, const std::string& fallback) {
        FHandlers.SetTarget(type, norm, fallback);
    }

    // For the outputs' set-up: whether a recorded option reaches an encoder
    // of `kind`, and the waiting options the encoder or muxer now known takes.
    bool RecordedOptionFor(const char* name, TMediaKind kind) const {
        return FLibrary.RecordedOptionFor(name, kind);
    }
    void TakePendingEncoderOptions(const AVCodec* codec, TPrivateOptions& into, TMediaKind kind) {
        FLibrary.TakePendingEncoderOptions(codec, into, kind);
    }
    void TakePendingMuxerOptions(AVFormatContext* context) {
        FLibrary.TakePendingMuxerOptions(context);
    }

private:
    const bool& FStrict;
    TOptionLinks FLinks;
    TOptionState FState;
    TLibraryOptions FLibrary{FState};
    TOptionHandlers FHandlers{FState, FLibrary, FLinks, FStrict};
};
