#include "media/AVFormatEntries.h"

namespace ff {

AVFormatTable avformat;

void AVFormatTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_AVFORMAT_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
