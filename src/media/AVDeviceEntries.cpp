#include "media/AVDeviceEntries.h"

namespace ff {

AVDeviceTable avdevice;

void AVDeviceTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_AVDEVICE_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
