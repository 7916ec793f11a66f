#include "media/AVCodecEntries.h"

namespace ff {

AVCodecTable avcodec;

void AVCodecTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_AVCODEC_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
