// Choosing a codec by name.
#include "engine/CodecChoice.h"

#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"

namespace {

const char* KindWord(bool encoder) {
    return encoder ? "encoder" : "decoder";
}

const AVCodec* FindById(AVCodecID id, bool encoder) {
    return encoder ? ff::avcodec.avcodec_find_encoder(id) : ff::avcodec.avcodec_find_decoder(id);
}

} // namespace

bool FindCodecByName(const std::string& name, int mediaType, bool encoder, int strictness,
                     const AVCodec** codec, std::string& errorText) {
    *codec = nullptr;
    if (name.empty()) return true;
    const AVCodec* found = encoder ? ff::avcodec.avcodec_find_encoder_by_name(name.c_str())
                                   : ff::avcodec.avcodec_find_decoder_by_name(name.c_str());
    if (!found) {
        errorText = FormatText("Unknown %s '%s'", KindWord(encoder), name.c_str());
        return false;
    }
    if (found->type != mediaType) {
        errorText = FormatText("Invalid %s type '%s'", KindWord(encoder), name.c_str());
        return false;
    }
    if ((found->capabilities & AV_CODEC_CAP_EXPERIMENTAL) &&
        strictness > FF_COMPLIANCE_EXPERIMENTAL) {
        errorText = FormatText("%s '%s' is experimental and might produce bad results.\r\nAdd "
                               "'-strict experimental' if you want to use it.",
                               KindWord(encoder), found->name);
        const AVCodec* other = FindById(found->id, encoder);
        if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
            errorText += "\r\n" + FormatText("Or use the non experimental %s '%s'.",
                                             KindWord(encoder), other->name);
        return false;
    }
    *codec = found;
    return true;
}

int CodecStrictness(const TOptionContexts& contexts, int mediaType) {
    const AVCodecContext* context =
        mediaType >= 0 && mediaType < 5 ? contexts.CodecOptions[mediaType] : nullptr;
    return context ? context->strict_std_compliance : 0;
}
