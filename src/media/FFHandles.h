// Owning wrappers of library objects: unique_ptr with deleters that call the
// bound free functions. A deleter whose library is no longer bound leaves
// the object alone (the library and its memory are gone with it).
#pragma once

#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/SwScaleEntries.h"

#include <memory>

namespace ff {

struct AvFreeDeleter {
    void operator()(void* p) const {
        if (p && avutil.av_free) avutil.av_free(p);
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* p) const {
        if (p && avcodec.avcodec_free_context) avcodec.avcodec_free_context(&p);
    }
};
struct FormatContextDeleter {
    void operator()(AVFormatContext* p) const {
        if (p && avformat.avformat_free_context) avformat.avformat_free_context(p);
    }
};
// For a context opened with avformat_open_input.
struct InputContextDeleter {
    void operator()(AVFormatContext* p) const {
        if (p && avformat.avformat_close_input) avformat.avformat_close_input(&p);
    }
};
struct SwsContextDeleter {
    void operator()(SwsContext* p) const {
        if (p && swscale.sws_freeContext) swscale.sws_freeContext(p);
    }
};
struct FrameDeleter {
    void operator()(AVFrame* p) const {
        if (p && avutil.av_frame_free) avutil.av_frame_free(&p);
    }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const {
        if (p && avcodec.av_packet_free) avcodec.av_packet_free(&p);
    }
};
struct DictionaryDeleter {
    void operator()(AVDictionary* p) const {
        if (p && avutil.av_dict_free) avutil.av_dict_free(&p);
    }
};

using AvBuffer = std::unique_ptr<std::uint8_t, AvFreeDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;

} // namespace ff
