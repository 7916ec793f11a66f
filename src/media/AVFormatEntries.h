// Entry points of the format library (libavformat), bound by name by FFmpegLoader.
// Call them through the table: ff::avformat.<name>(...). One name per line;
// add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_AVFORMAT_ENTRY_POINTS(X) \
    X(avformat_version) \
    X(avformat_alloc_context) \
    X(avformat_free_context) \
    X(avformat_open_input) \
    X(avformat_close_input) \
    X(avformat_find_stream_info) \
    X(avformat_get_class) \
    X(av_find_input_format) \
    X(av_read_frame) \
    X(av_guess_format) \
    X(av_muxer_iterate) \
    X(av_demuxer_iterate) \
    X(avio_enum_protocols) \
    X(avio_protocol_get_class) \
    X(av_guess_codec) \
    X(avformat_alloc_output_context2) \
    X(avformat_query_codec) \
    X(avformat_new_stream) \
    X(avio_open) \
    X(avio_open2) \
    X(avio_closep) \
    X(avio_flush) \
    X(avio_find_protocol_name) \
    X(av_seek_frame) \
    X(av_dump_format) \
    X(av_filename_number_test) \
    X(avio_size) \
    X(av_codec_get_id) \
    X(av_codec_get_tag) \
    X(av_interleaved_write_frame) \
    X(av_stream_new_side_data) \
    X(av_pkt_dump_log2) \
    X(av_sdp_create) \
    X(av_write_trailer) \
    X(avformat_write_header) \
    X(avio_seek) \
    X(av_find_best_stream) \
    X(avformat_seek_file) \
    X(av_read_pause) \
    X(av_read_play) \
    X(av_stream_get_side_data) \
    X(avio_feof)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/FFmpegHeaders.h"

namespace ff {

struct AVFormatTable {
    VANTREL_AVFORMAT_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern AVFormatTable avformat;

} // namespace ff

#endif
