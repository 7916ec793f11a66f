// Checking an option that no context took, for callers that want unknown
// names and refused values to fail (FStrict).
#include "engine/OptionCheck.h"

#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"

namespace {

bool ClassHasOption(const AVClass* const* avClass, const char* name) {
    return avClass && *avClass &&
           ff::avutil.av_opt_find(const_cast<const AVClass**>(avClass), name, nullptr, 0,
                                  AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

bool ContextHasOption(void* context, const char* name) {
    return context && ff::avutil.av_opt_find(context, name, nullptr, 0, 0) != nullptr;
}

// Some muxer, demuxer, codec or protocol of the libraries has an option of
// that name (it may apply to a file or stream other than this one).
bool IsLibraryOptionName(const char* name) {
    void* state = nullptr;
    while (const AVOutputFormat* format = ff::avformat.av_muxer_iterate(&state))
        if (ClassHasOption(&format->priv_class, name)) return true;
    state = nullptr;
    while (const AVInputFormat* format = ff::avformat.av_demuxer_iterate(&state))
        if (ClassHasOption(&format->priv_class, name)) return true;
    state = nullptr;
    while (const AVCodec* codec = ff::avcodec.av_codec_iterate(&state))
        if (ClassHasOption(&codec->priv_class, name)) return true;
    for (int output = 0; output < 2; ++output) {
        state = nullptr;
        while (const char* protocol = ff::avformat.avio_enum_protocols(&state, output)) {
            const AVClass* avClass = ff::avformat.avio_protocol_get_class(protocol);
            if (ClassHasOption(&avClass, name)) return true;
        }
    }
    return false;
}

} // namespace

// A context of this task has the option, so it refused the value.
bool HasSettableOption(const TOptionContexts& contexts, const TOptionState& options,
                       const std::string& name) {
    const char* n = name.c_str();
    for (AVCodecContext* context : contexts.CodecOptions)
        if (ContextHasOption(context, n)) return true;
    if (ContextHasOption(contexts.FormatOptions, n) || ContextHasOption(contexts.ScalerOptions, n))
        return true;
    const int prefixed = name[0] == 'v'   ? AVMEDIA_TYPE_VIDEO
                         : name[0] == 'a' ? AVMEDIA_TYPE_AUDIO
                         : name[0] == 's' ? AVMEDIA_TYPE_SUBTITLE
                                          : -1;
    if (prefixed >= 0 && ContextHasOption(contexts.CodecOptions[prefixed], n + 1)) return true;
    const bool has[3] = {options.HasVideoCodecName, options.HasAudioCodecName,
                         options.HasSubtitleCodecName};
    const std::string* names[3] = {&options.VideoCodecName, &options.AudioCodecName,
                                   &options.SubtitleCodecName};
    for (TMediaKind kind : kMediaKinds) {
        const std::size_t i = KindIndex(kind);
        if (!has[i]) continue;
        const AVCodec* codec = ff::avcodec.avcodec_find_encoder_by_name(names[i]->c_str());
        if (codec && ClassHasOption(&codec->priv_class, n)) return true;
    }
    return false;
}

void RefuseOption(const TOptionContexts& contexts, const TOptionState& options,
                  const std::string& name, const std::string& value) {
    if (HasSettableOption(contexts, options, name))
        throw FFmpegException(InvalidValueText(name, value));
    if (!IsLibraryOptionName(name.c_str()))
        throw FFmpegException(FormatText("Unrecognized option '%s'.", name.c_str()));
}

// A name that neither a context of this task nor any muxer, demuxer, codec
// or protocol of the libraries knows is a typing mistake: refused at once
// instead of waiting for an output that would only report it.
void RefuseUnknownName(const TOptionContexts& contexts, const TOptionState& options,
                       const std::string& name) {
    if (name.empty()) return;
    if (IsGenericOptionName(contexts, name) || HasSettableOption(contexts, options, name) ||
        IsLibraryOptionName(name.c_str()))
        return;
    throw FFmpegException(FormatText("Unrecognized option '%s'.", name.c_str()));
}

std::string InvalidValueText(const std::string& name, const std::string& value) {
    return FormatText("Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str());
}

// Whether the generic option contexts know the name (a refused value then
// is the value's fault, not the name's).
bool IsGenericOptionName(const TOptionContexts& contexts, const std::string& name) {
    auto known = [](void* context, const std::string& n) {
        return context && ff::avutil.av_opt_find(context, n.c_str(), nullptr, 0, 0);
    };
    if (known(contexts.CodecOptions[0], name) || known(contexts.FormatOptions, name) ||
        known(contexts.ScalerOptions, name))
        return true;
    const bool prefixed = name.size() > 1 && (name[0] == 'v' || name[0] == 'a' || name[0] == 's');
    return prefixed && known(contexts.CodecOptions[0], name.substr(1));
}
