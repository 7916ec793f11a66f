// Entry points of the C runtime library (libc), bound by name by FFmpegLoader.
// Call them through the table: ff::crt.<name>(...). One name per line;
// add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_CRUNTIME_ENTRY_POINTS(X) \
    X(fopen) \
    X(fclose) \
    X(fread) \
    X(fwrite) \
    X(fseek) \
    X(ftell) \
    X(fprintf) \
    X(snprintf) \
    X(vsnprintf) \
    X(strtod) \
    X(strtol)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/CRuntimeHeaders.h"

namespace ff {

struct CRuntimeTable {
    VANTREL_CRUNTIME_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern CRuntimeTable crt;

} // namespace ff

#endif
