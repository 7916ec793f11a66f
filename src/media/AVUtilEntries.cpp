#include "media/AVUtilEntries.h"

namespace ff {

AVUtilTable avutil;

void AVUtilTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_AVUTIL_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
