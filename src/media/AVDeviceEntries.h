// Entry points of the device library (libavdevice; bound but never loaded by this program), bound
// by name by FFmpegLoader. Call them through the table: ff::avdevice.<name>(...). One name per
// line; add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_AVDEVICE_ENTRY_POINTS(X) \
    X(avdevice_version)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/FFmpegHeaders.h"

namespace ff {

struct AVDeviceTable {
    VANTREL_AVDEVICE_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern AVDeviceTable avdevice;

} // namespace ff

#endif
