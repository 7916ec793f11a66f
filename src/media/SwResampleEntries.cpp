#include "media/SwResampleEntries.h"

namespace ff {

SwResampleTable swresample;

void SwResampleTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_SWRESAMPLE_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
