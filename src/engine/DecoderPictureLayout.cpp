#include "engine/DecoderPictureLayout.h"

#include "media/AVCodecEntries.h"

#include <cstdint>

namespace {

// The border the encoders keep on each side of their pictures.
constexpr int kEncoderBorder = 16;
// Their pictures are coded in place only in whole macroblocks.
constexpr int kMacroblock = 16;

bool CodesInPlace(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_H261:
    case AV_CODEC_ID_H263:
    case AV_CODEC_ID_H263P:
    case AV_CODEC_ID_FLV1:
    case AV_CODEC_ID_MSMPEG4V2:
    case AV_CODEC_ID_MSMPEG4V3:
    case AV_CODEC_ID_WMV1:
    case AV_CODEC_ID_WMV2:
    case AV_CODEC_ID_MJPEG:
        return true;
    default:
        return false;
    }
}

// The decoder's allocator with the buffer width kept in `opaque`: the
// buffers are the library's own, only wider; the picture's size is
// given back as the decoder asked for it.
int WideBuffer(AVCodecContext* decoder, AVFrame* frame, int flags) {
    const int width = frame->width;
    const auto wanted = static_cast<int>(reinterpret_cast<std::intptr_t>(decoder->opaque));
    if (wanted > width) frame->width = wanted;
    const int result = ff::avcodec.avcodec_default_get_buffer2(decoder, frame, flags);
    frame->width = width;
    return result;
}

} // namespace

int DecoderBufferWidth(const AVCodecContext& decoder, const AVCodecContext& encoder) {
    if (decoder.codec_type != AVMEDIA_TYPE_VIDEO || encoder.codec_type != AVMEDIA_TYPE_VIDEO)
        return 0;
    if (!decoder.codec || !(decoder.codec->capabilities & AV_CODEC_CAP_DR1)) return 0;
    if (decoder.hw_device_ctx || decoder.hw_frames_ctx) return 0;
    if (!CodesInPlace(encoder.codec_id)) return 0;
    if (decoder.width != encoder.width || decoder.height != encoder.height ||
        decoder.pix_fmt != encoder.pix_fmt)
        return 0;
    if (encoder.width <= 0 || encoder.width % kMacroblock || encoder.height % kMacroblock) return 0;
    return encoder.width + 2 * kEncoderBorder;
}

void LayDecoderPictures(AVCodecContext* decoder, int bufferWidth) {
    if (bufferWidth <= 0) return;
    decoder->opaque = reinterpret_cast<void*>(static_cast<std::intptr_t>(bufferWidth));
    decoder->get_buffer2 = &WideBuffer;
}

void LayPicturesForEncoders(AVCodecContext* decoder, int source,
                            const std::vector<TOutputStream>& outputs) {
    int width = 0;
    for (const TOutputStream& ost : outputs) {
        if (ost.SourceIndex != source || !ost.EncodingNeeded || !ost.EncoderOpen) continue;
        if (ost.MediaType != AVMEDIA_TYPE_VIDEO) continue;
        const int wanted = DecoderBufferWidth(*decoder, *ost.Encoder);
        if (wanted <= 0 || (width > 0 && wanted != width)) return;
        width = wanted;
    }
    LayDecoderPictures(decoder, width);
}
