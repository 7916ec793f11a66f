// Entry points of the codec library (libavcodec), bound by name by FFmpegLoader.
// Call them through the table: ff::avcodec.<name>(...). One name per line;
// add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_AVCODEC_ENTRY_POINTS(X) \
    X(avcodec_version) \
    X(avcodec_alloc_context3) \
    X(avcodec_free_context) \
    X(avcodec_close) \
    X(avcodec_open2) \
    X(avcodec_default_get_buffer2) \
    X(avcodec_find_decoder) \
    X(avcodec_find_decoder_by_name) \
    X(avcodec_find_encoder) \
    X(avcodec_find_encoder_by_name) \
    X(av_codec_iterate) \
    X(av_bsf_get_by_name) \
    X(avcodec_get_class) \
    X(avcodec_string) \
    X(avcodec_parameters_to_context) \
    X(avcodec_parameters_from_context) \
    X(avcodec_descriptor_get) \
    X(av_packet_alloc) \
    X(av_packet_free) \
    X(av_packet_unref) \
    X(av_bsf_alloc) \
    X(av_bsf_free) \
    X(av_bsf_init) \
    X(av_bsf_receive_packet) \
    X(av_bsf_send_packet) \
    X(av_new_packet) \
    X(av_packet_get_side_data) \
    X(av_packet_ref) \
    X(av_packet_rescale_ts) \
    X(avcodec_decode_subtitle2) \
    X(avcodec_encode_subtitle) \
    X(avcodec_flush_buffers) \
    X(avcodec_parameters_copy) \
    X(avcodec_receive_frame) \
    X(avcodec_receive_packet) \
    X(avcodec_send_frame) \
    X(avcodec_send_packet) \
    X(avsubtitle_free) \
    X(av_packet_move_ref)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/FFmpegHeaders.h"

namespace ff {

struct AVCodecTable {
    VANTREL_AVCODEC_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern AVCodecTable avcodec;

} // namespace ff

#endif
