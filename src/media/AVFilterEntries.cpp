#include "media/AVFilterEntries.h"

namespace ff {

AVFilterTable avfilter;

void AVFilterTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_AVFILTER_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
