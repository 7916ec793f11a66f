// Entry points of the filter library (libavfilter), bound by name by FFmpegLoader.
// Call them through the table: ff::avfilter.<name>(...). One name per line;
// add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_AVFILTER_ENTRY_POINTS(X) \
    X(avfilter_version) \
    X(avfilter_get_by_name) \
    X(avfilter_graph_alloc) \
    X(avfilter_graph_free) \
    X(av_buffersink_get_frame) \
    X(av_buffersink_get_h) \
    X(av_buffersink_get_w) \
    X(av_buffersrc_add_frame_flags) \
    X(avfilter_graph_config) \
    X(avfilter_graph_create_filter) \
    X(avfilter_graph_parse_ptr) \
    X(avfilter_inout_alloc) \
    X(avfilter_inout_free) \
    X(avfilter_link)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/FFmpegHeaders.h"

namespace ff {

struct AVFilterTable {
    VANTREL_AVFILTER_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern AVFilterTable avfilter;

} // namespace ff

#endif
