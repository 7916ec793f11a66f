// Entry points of the utility library (libavutil), bound by name by FFmpegLoader.
// Call them through the table: ff::avutil.<name>(...). One name per line;
// add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_AVUTIL_ENTRY_POINTS(X) \
    X(avutil_version) \
    X(av_log) \
    X(av_log_default_callback) \
    X(av_log_get_level) \
    X(av_log_set_callback) \
    X(av_log_set_level) \
    X(av_default_item_name) \
    X(av_malloc) \
    X(av_mallocz) \
    X(av_realloc) \
    X(av_free) \
    X(av_freep) \
    X(av_strdup) \
    X(av_strerror) \
    X(av_dict_get) \
    X(av_dict_set) \
    X(av_dict_count) \
    X(av_dict_copy) \
    X(av_dict_free) \
    X(av_opt_find) \
    X(av_opt_get) \
    X(av_opt_get_int) \
    X(av_opt_set) \
    X(av_opt_set_int) \
    X(av_opt_set_bin) \
    X(av_opt_next) \
    X(av_gcd) \
    X(av_reduce) \
    X(av_rescale) \
    X(av_rescale_q) \
    X(av_compare_ts) \
    X(av_parse_time) \
    X(av_parse_video_rate) \
    X(av_parse_video_size) \
    X(av_get_sample_fmt) \
    X(av_find_nearest_q_idx) \
    X(av_channel_layout_default) \
    X(av_channel_layout_from_mask) \
    X(av_channel_layout_describe) \
    X(av_get_pix_fmt) \
    X(av_get_pix_fmt_name) \
    X(av_pix_fmt_desc_get) \
    X(av_get_sample_fmt_name) \
    X(av_get_media_type_string) \
    X(av_image_get_buffer_size) \
    X(av_image_fill_arrays) \
    X(av_image_copy) \
    X(av_frame_alloc) \
    X(av_frame_free) \
    X(av_frame_unref) \
    X(av_gettime) \
    X(av_audio_fifo_alloc) \
    X(av_audio_fifo_free) \
    X(av_audio_fifo_read) \
    X(av_audio_fifo_size) \
    X(av_audio_fifo_write) \
    X(av_channel_layout_compare) \
    X(av_channel_layout_copy) \
    X(av_frame_apply_cropping) \
    X(av_frame_copy) \
    X(av_frame_copy_props) \
    X(av_frame_get_buffer) \
    X(av_frame_make_writable) \
    X(av_frame_is_writable) \
    X(av_frame_ref) \
    X(av_buffer_pool_init) \
    X(av_buffer_pool_get) \
    X(av_buffer_pool_uninit) \
    X(av_get_bytes_per_sample) \
    X(av_get_packed_sample_fmt) \
    X(av_opt_set_double) \
    X(av_opt_set_from_string) \
    X(av_sample_fmt_is_planar) \
    X(av_samples_fill_arrays) \
    X(av_samples_get_buffer_size) \
    X(av_samples_set_silence) \
    X(av_usleep) \
    X(av_get_picture_type_char) \
    X(av_display_rotation_get) \
    X(av_frame_move_ref) \
    X(av_channel_layout_uninit)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/FFmpegHeaders.h"

namespace ff {

struct AVUtilTable {
    VANTREL_AVUTIL_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern AVUtilTable avutil;

} // namespace ff

#endif
