// Entry points of the resampling library (libswresample), bound by name by FFmpegLoader.
// Call them through the table: ff::swresample.<name>(...). One name per line;
// add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_SWRESAMPLE_ENTRY_POINTS(X) \
    X(swresample_version) \
    X(swr_alloc_set_opts2) \
    X(swr_init) \
    X(swr_free) \
    X(swr_convert) \
    X(swr_get_delay) \
    X(swr_get_out_samples) \
    X(swr_set_compensation)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/FFmpegHeaders.h"

namespace ff {

struct SwResampleTable {
    VANTREL_SWRESAMPLE_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern SwResampleTable swresample;

} // namespace ff

#endif
