#include "media/CRuntimeEntries.h"

namespace ff {

CRuntimeTable crt;

void CRuntimeTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_CRUNTIME_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
