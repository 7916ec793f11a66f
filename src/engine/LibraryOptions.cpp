// The option contexts and the options waiting for an output.
#include "engine/LibraryOptions.h"

#include "engine/OptionCheck.h"

#include "media/FFmpegHeaders.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"

#include <algorithm>

namespace {

// Replaces the first entry `same` finds, else appends.
template <typename T, typename Same>
void ReplaceOrAppend(std::vector<T>& entries, T entry, Same same) {
    auto it = std::find_if(entries.begin(), entries.end(), same);
    if (it != entries.end())
        *it = std::move(entry);
    else
        entries.push_back(std::move(entry));
}

// Sets `name` in a private option list, replacing an earlier value.
void SetPrivateEntry(TPrivateOptions& options, const std::string& name, const std::string& value) {
    ReplaceOrAppend(options, {name, value}, [&](const auto& entry) { return entry.first == name; });
}

// The private class of an encoder or muxer has an option of that name.
bool ClassHasOption(const AVClass* const& privateClass, const std::string& name) {
    return privateClass && ff::avutil.av_opt_find(const_cast<AVClass**>(&privateClass),
                                                  name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

// A context of the encoder takes the value of its private option.
bool EncoderTakesValue(const AVCodec* codec, const std::string& name, const std::string& value) {
    ff::CodecContextPtr probe(ff::avcodec.avcodec_alloc_context3(codec));
    return probe && probe->priv_data &&
           ff::avutil.av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) >= 0;
}

void Log(TLogLevel level, const std::string& text) {
    GetLogger().Log(nullptr, level, text);
}

// A waiting option nothing took: its refusal is raised, or a warning logged.
void RefuseWaitingOption(const TPendingOption& option, bool known, const std::string& unknown) {
    if (!option.Refusal.empty()) throw FFmpegException(option.Refusal);
    Log(llWarning, known ? FormatText("Invalid value \"%s\" for option \"%s\"",
                                      option.Value.c_str(), option.Name.c_str())
                         : unknown);
}

} // namespace

// ---- the contexts' life ----

void TLibraryOptions::ResetContexts() {
    FreeOptionContexts(FContexts);
    if (FFmpegLoader().AreLoaded(ConverterLibraries))
        AllocOptionContexts(FContexts, FState.SwsFlags);
}

void TLibraryOptions::EnsureContexts() {
    if (!FContexts.CodecOptions[0] && !AllocOptionContexts(FContexts, FState.SwsFlags))
        throw FFmpegException("Cannot allocate the option contexts");
}

// ---- generic and private option contexts ----

bool TLibraryOptions::SetDefaultOrPrivateOption(const std::string& name, const std::string& value,
                                                TMediaKind kindHint, const std::string& refusal) {
    if (Trim(name).empty() || Trim(value).empty()) return false;
    if (SetCodecOption(name, value, kindHint)) return true;
    if (IsGenericOptionName(FContexts, name)) return false; // known, but the value was refused
    if (kindHint != TMediaKind::Any) {
        if (!ChosenCodecName(FState, kindHint).empty())
            return SetPrivateOption(kindHint, name, value);
        DeferOption(name, value, kindHint, refusal);
        return true;
    }
    for (TMediaKind kind : kMediaKinds)
        if (SetPrivateOption(kind, name, value)) return true;
    if (HasSettableOption(FContexts, FState, name))
        return false; // a named encoder's own, refusing the value
    if (SetFormatPrivateOption(name, value)) return true;
    DeferOption(name, value, TMediaKind::Any, refusal);
    return true;
}

// The generic option contexts; a name the libraries share between kinds
// goes only to the context of the kind it was given for (unprefixed: the
// hint's, else video) and is remembered for that kind.
bool TLibraryOptions::SetCodecOption(const std::string& name, const std::string& value,
                                     TMediaKind kindHint) {
    std::string target = name;
    TMediaKind kind = TMediaKind::Any;
    if (IsSharedCodecOption(name)) {
        kind = kindHint != TMediaKind::Any ? kindHint : TMediaKind::Video;
        target = std::string(1, "vas"[KindIndex(kind)]) + name;
    } else if (name.size() > 1 && (name[0] == 'v' || name[0] == 'a') &&
               IsSharedCodecOption(name.substr(1))) {
        kind = MediaKindOfOption(name);
    }
    if (!SetDefaultOption(FContexts, target.c_str(), value.c_str())) return false;
    if (kind != TMediaKind::Any) FState.SharedOptionKinds[target.substr(1)] |= 1 << KindIndex(kind);
    return true;
}

void TLibraryOptions::DeferOption(const std::string& name, const std::string& value,
                                  TMediaKind kind, const std::string& refusal) {
    ReplaceOrAppend(FState.PendingOptions, TPendingOption{name, value, kind, refusal},
                    [&](const TPendingOption& p) { return p.Name == name && p.Kind == kind; });
}

// A recorded option reaches an encoder of `kind` unless it is one the
// libraries share and it was given for other kinds only.
bool TLibraryOptions::RecordedOptionFor(const char* name, TMediaKind kind) const {
    const auto it = FState.SharedOptionKinds.find(name);
    return it == FState.SharedOptionKinds.end() || (it->second & (1 << KindIndex(kind))) != 0;
}

// The waiting options that the private class of the stream's encoder knows
// become the stream's private options; those given for this kind that it
// does not know are refused.
void TLibraryOptions::TakePendingEncoderOptions(const AVCodec* codec, TPrivateOptions& into,
                                                TMediaKind kind) {
    auto& pending = FState.PendingOptions;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->Kind != kind && it->Kind != TMediaKind::Any) {
            ++it;
            continue;
        }
        const bool known = codec && ClassHasOption(codec->priv_class, it->Name);
        if (!known && it->Kind == TMediaKind::Any) {
            ++it;
            continue;
        }
        const TPendingOption option = *it;
        it = pending.erase(it);
        if (known && EncoderTakesValue(codec, option.Name, option.Value)) {
            SetPrivateEntry(into, option.Name, option.Value);
            continue;
        }
        RefuseWaitingOption(option, known,
                            FormatText("Option %s not found for encoder %s", option.Name.c_str(),
                                       codec ? codec->name : "none"));
    }
}

// The waiting options of any kind that the output's muxer knows are set on
// it; whatever is left is refused or reported. Those given for one kind
// wait on for that kind's next stream (this output has none).
void TLibraryOptions::TakePendingMuxerOptions(AVFormatContext* context) {
    const AVOutputFormat* format = context->oformat;
    for (const TPendingOption& option : TakeAnyKindPendingOptions(FState)) {
        const bool known = ClassHasOption(format->priv_class, option.Name);
        if (known && ff::avutil.av_opt_set(context, option.Name.c_str(), option.Value.c_str(),
                                           AV_OPT_SEARCH_CHILDREN) >= 0)
            continue;
        RefuseWaitingOption(option, known,
                            FormatText("Unrecognized option '%s'", option.Name.c_str()));
    }
}

// An option private to the requested output format's muxer ("muxrate" of
// the MPEG muxers, ...): kept for the next output, which sets it.
bool TLibraryOptions::SetFormatPrivateOption(const std::string& name, const std::string& value) {
    if (FState.FormatName.empty()) return false;
    const AVOutputFormat* format =
        ff::avformat.av_guess_format(FState.FormatName.c_str(), nullptr, nullptr);
    if (!format || !ClassHasOption(format->priv_class, name)) return false;
    SetPrivateEntry(FState.FormatPrivateOptions, name, value);
    return true;
}

// Checks the option against the private class of the kind's current encoder
// (a context of that encoder takes the value) and keeps it for the kind's
// next stream.
bool TLibraryOptions::SetPrivateOption(TMediaKind kind, const std::string& name,
                                       const std::string& value) {
    const std::string codecName = ChosenCodecName(FState, kind);
    if (codecName.empty() || !FFmpegLoader().IsLoaded(libAVCodec)) return false;
    const AVCodec* codec = ff::avcodec.avcodec_find_encoder_by_name(codecName.c_str());
    if (!codec || !ClassHasOption(codec->priv_class, name)) return false;
    if (!EncoderTakesValue(codec, name, value)) {
        if (!TQuietOptionRefusals::Active())
            Log(llError,
                FormatText("Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str()));
        return false;
    }
    SetPrivateEntry(FState.PrivateOptions[kind], name, value);
    return true;
}
