// Options that no row of the option table knows: they go to the media
// libraries' generic option contexts or to the private options of the
// chosen encoder or muxer, and wait for the next output while no one knows
// them yet.
#pragma once

#include "engine/FFmpegOptions.h"
#include "media/FFUtils.h"

#include <string>

struct AVCodec;
struct AVFormatContext;

// Owns the option contexts; writes the option state it is made for (its
// private, shared-kind and waiting options). Used by the thread that owns
// that state (see TTaskOptions).
class TLibraryOptions {
public:
    explicit TLibraryOptions(TOptionState& state) : FState(state) {}
    TLibraryOptions(const TLibraryOptions&) = delete;
    TLibraryOptions& operator=(const TLibraryOptions&) = delete;

    TOptionContexts& Contexts() { return FContexts; }
    // Fresh option contexts when the media libraries are loaded, else none.
    void ResetContexts();
    // Makes sure the option contexts exist (raises when they cannot be had).
    void EnsureContexts();

    // The generic option contexts, then the private options of the kind's
    // current encoder (of every kind's for Any), then the requested muxer's.
    // True when one of them took the option; names no one knows yet wait
    // for the next output, failing with `refusal` when it does not take them.
    bool SetDefaultOrPrivateOption(const std::string& name, const std::string& value,
                                   TMediaKind kindHint, const std::string& refusal = std::string());
    // The generic option contexts alone.
    bool SetCodecOption(const std::string& name, const std::string& value, TMediaKind kindHint);
    // The private options of the kind's current encoder alone.
    bool SetPrivateOption(TMediaKind kind, const std::string& name, const std::string& value);

    // For the outputs' set-up: whether a recorded option reaches an encoder
    // of `kind`, and the waiting options the encoder or muxer now known takes.
    bool RecordedOptionFor(const char* name, TMediaKind kind) const;
    void TakePendingEncoderOptions(const AVCodec* codec, TPrivateOptions& into, TMediaKind kind);
    void TakePendingMuxerOptions(AVFormatContext* context);

private:
    void DeferOption(const std::string& name, const std::string& value, TMediaKind kind,
                     const std::string& refusal);
    bool SetFormatPrivateOption(const std::string& name, const std::string& value);

    TOptionState& FState;
    TOptionContexts FContexts{};
};
