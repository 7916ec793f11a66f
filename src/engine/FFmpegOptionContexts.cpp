// The option contexts of the task engine: options no row of the option
// table knows go to the libraries' generic contexts or to the private
// options of the chosen encoder or muxer, and wait for the next output
// while no one knows them yet.
#include "engine/TaskOptions.h"

#include "engine/OptionCheck.h"

#include "media/FFmpegHeaders.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"

#include <algorithm>

namespace {

// Sets `name` in a private option list, replacing an earlier value.
void SetPrivateEntry(TPrivateOptions& options, const std::string& name, const std::string& value) {
    auto it = std::find_if(options.begin(), options.end(),
                           [&](const auto& entry) { return entry.first == name; });
    if (it != options.end())
        it->second = value;
    else
        options.emplace_back(name, value);
}

} // namespace

// ---- generic and private option contexts ----

bool TTaskOptions::SetDefaultOrPrivateOption(const std::string& name, const std::string& value,
                                             TMediaKind kindHint, const std::string& refusal) {
    if (Trim(name).empty() || Trim(value).empty()) return false;
    if (SetCodecOption(name, value, kindHint)) return true;
    if (IsGenericOptionName(FContexts, name)) return false; // known, but the value was refused
    if (kindHint != TMediaKind::Any) {
        if (HasCodecName(kindHint)) return SetPrivateOption(kindHint, name, value);
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
bool TTaskOptions::SetCodecOption(const std::string& name, const std::string& value,
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

bool TTaskOptions::HasCodecName(TMediaKind kind) const {
    return kind == TMediaKind::Video   ? FState.HasVideoCodecName
           : kind == TMediaKind::Audio ? FState.HasAudioCodecName
                                       : FState.HasSubtitleCodecName;
}

void TTaskOptions::DeferOption(const std::string& name, const std::string& value, TMediaKind kind,
                               const std::string& refusal) {
    auto& pending = FState.PendingOptions;
    auto it = std::find_if(pending.begin(), pending.end(), [&](const TPendingOption& p) {
        return p.Name == name && p.Kind == kind;
    });
    if (it != pending.end())
        *it = TPendingOption{name, value, kind, refusal};
    else
        pending.push_back(TPendingOption{name, value, kind, refusal});
}

// A recorded option reaches an encoder of `kind` unless it is one the
// libraries share and it was given for other kinds only.
bool TTaskOptions::RecordedOptionFor(const char* name, TMediaKind kind) const {
    const auto it = FState.SharedOptionKinds.find(name);
    return it == FState.SharedOptionKinds.end() || (it->second & (1 << KindIndex(kind))) != 0;
}

// The waiting options that the private class of the stream's encoder knows
// become the stream's private options; those given for this kind that it
// does not know are refused.
void TTaskOptions::TakePendingEncoderOptions(const AVCodec* codec, TPrivateOptions& into,
                                             TMediaKind kind) {
    auto& pending = FState.PendingOptions;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->Kind != kind && it->Kind != TMediaKind::Any) {
            ++it;
            continue;
        }
        const bool known =
            codec && codec->priv_class &&
            ff::avutil.av_opt_find(const_cast<AVClass**>(&codec->priv_class), it->Name.c_str(),
                                   nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
        if (!known && it->Kind == TMediaKind::Any) {
            ++it;
            continue;
        }
        const TPendingOption option = *it;
        it = pending.erase(it);
        bool valid = false;
        if (known) {
            ff::CodecContextPtr probe(ff::avcodec.avcodec_alloc_context3(codec));
            valid = probe && probe->priv_data &&
                    ff::avutil.av_opt_set(probe->priv_data, option.Name.c_str(),
                                          option.Value.c_str(), 0) >= 0;
        }
        if (valid) {
            SetPrivateEntry(into, option.Name, option.Value);
            continue;
        }
        if (!option.Refusal.empty()) throw FFmpegException(option.Refusal);
        Log(llWarning, known ? FormatText("Invalid value \"%s\" for option \"%s\"",
                                          option.Value.c_str(), option.Name.c_str())
                             : FormatText("Option %s not found for encoder %s", option.Name.c_str(),
                                          codec ? codec->name : "none"));
    }
}

// The waiting options of any kind that the output's muxer knows are set on
// it; whatever is left is refused or reported. Those given for one kind
// wait on for that kind's next stream (this output has none).
void TTaskOptions::TakePendingMuxerOptions(AVFormatContext* context) {
    std::vector<TPendingOption> pending;
    auto& waiting = FState.PendingOptions;
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (it->Kind != TMediaKind::Any) {
            ++it;
            continue;
        }
        pending.push_back(*it);
        it = waiting.erase(it);
    }
    const AVOutputFormat* format = context->oformat;
    for (const TPendingOption& option : pending) {
        const bool known =
            format->priv_class &&
            ff::avutil.av_opt_find(const_cast<AVClass**>(&format->priv_class), option.Name.c_str(),
                                   nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
        if (known && ff::avutil.av_opt_set(context, option.Name.c_str(), option.Value.c_str(),
                                           AV_OPT_SEARCH_CHILDREN) >= 0)
            continue;
        if (!option.Refusal.empty()) throw FFmpegException(option.Refusal);
        Log(llWarning, known ? FormatText("Invalid value \"%s\" for option \"%s\"",
                                          option.Value.c_str(), option.Name.c_str())
                             : FormatText("Unrecognized option '%s'", option.Name.c_str()));
    }
}

// An option private to the requested output format's muxer ("muxrate" of
// the MPEG muxers, ...): kept for the next output, which sets it.
bool TTaskOptions::SetFormatPrivateOption(const std::string& name, const std::string& value) {
    if (FState.FormatName.empty()) return false;
    const AVOutputFormat* format =
        ff::avformat.av_guess_format(FState.FormatName.c_str(), nullptr, nullptr);
    if (!format || !format->priv_class) return false;
    if (!ff::avutil.av_opt_find(const_cast<AVClass**>(&format->priv_class), name.c_str(), nullptr,
                                0, AV_OPT_SEARCH_FAKE_OBJ))
        return false;
    SetPrivateEntry(FState.FormatPrivateOptions, name, value);
    return true;
}

// Checks the option against the private class of the kind's current encoder
// (a context of that encoder takes the value) and keeps it for the kind's
// next stream.
bool TTaskOptions::SetPrivateOption(TMediaKind kind, const std::string& name,
                                    const std::string& value) {
    const bool has[3] = {FState.HasVideoCodecName, FState.HasAudioCodecName,
                         FState.HasSubtitleCodecName};
    const std::string* names[3] = {&FState.VideoCodecName, &FState.AudioCodecName,
                                   &FState.SubtitleCodecName};
    const std::size_t i = KindIndex(kind);
    if (!has[i] || !FFmpegLoader().IsLoaded(libAVCodec)) return false;
    const AVCodec* codec = ff::avcodec.avcodec_find_encoder_by_name(names[i]->c_str());
    if (!codec || !codec->priv_class) return false;
    const AVOption* option =
        ff::avutil.av_opt_find(const_cast<AVClass**>(&codec->priv_class), name.c_str(), nullptr, 0,
                               AV_OPT_SEARCH_FAKE_OBJ);
    if (!option) return false;
    ff::CodecContextPtr probe(ff::avcodec.avcodec_alloc_context3(codec));
    if (!probe || !probe->priv_data ||
        ff::avutil.av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) < 0) {
        if (!TQuietOptionRefusals::Active())
            Log(llError,
                FormatText("Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str()));
        return false;
    }
    SetPrivateEntry(FState.PrivateOptions[kind], name, value);
    return true;
}

// ---- the state's life ----

TTaskOptions::TTaskOptions(const bool& strict, TOptionLinks links)
    : FStrict(strict), FLinks(std::move(links)) {
    Reset();
}

void TTaskOptions::Reset() {
    FState = TOptionState();
    FreeOptionContexts(FContexts);
    if (FFmpegLoader().AreLoaded(ConverterLibraries))
        AllocOptionContexts(FContexts, FState.SwsFlags);
}

void TTaskOptions::EnsureContexts() {
    if (!FContexts.CodecOptions[0] && !AllocOptionContexts(FContexts, FState.SwsFlags))
        throw FFmpegException("Cannot allocate the option contexts");
}
