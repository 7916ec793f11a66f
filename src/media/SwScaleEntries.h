// Entry points of the scaling library (libswscale), bound by name by FFmpegLoader.
// Call them through the table: ff::swscale.<name>(...). One name per line;
// add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_SWSCALE_ENTRY_POINTS(X) \
    X(swscale_version) \
    X(sws_getContext) \
    X(sws_getCachedContext) \
    X(sws_freeContext) \
    X(sws_scale) \
    X(sws_setColorspaceDetails) \
    X(sws_getCoefficients) \
    X(sws_get_class)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/FFmpegHeaders.h"

namespace ff {

struct SwScaleTable {
    VANTREL_SWSCALE_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern SwScaleTable swscale;

} // namespace ff

#endif
