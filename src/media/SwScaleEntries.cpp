#include "media/SwScaleEntries.h"

namespace ff {

SwScaleTable swscale;

void SwScaleTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_SWSCALE_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
