#include "media/SDLEntries.h"

namespace ff {

SDLTable sdl;

void SDLTable::Bind(const std::string& libraryFile, void* module) {
    VANTREL_SDL_ENTRY_POINTS(VANTREL_BIND_ENTRY)
}

} // namespace ff
