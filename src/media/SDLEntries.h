// Entry points of SDL2 (audio output of the player), bound by name by FFmpegLoader.
// Call them through the table: ff::sdl.<name>(...). One name per line;
// add the names your code calls (every name is mandatory).
#pragma once

// clang-format off
#define VANTREL_SDL_ENTRY_POINTS(X) \
    X(SDL_GetVersion) \
    X(SDL_Init) \
    X(SDL_InitSubSystem) \
    X(SDL_QuitSubSystem) \
    X(SDL_WasInit) \
    X(SDL_Quit) \
    X(SDL_GetError) \
    X(SDL_setenv) \
    X(SDL_GetNumAudioDrivers) \
    X(SDL_GetAudioDriver) \
    X(SDL_GetCurrentAudioDriver) \
    X(SDL_OpenAudioDevice) \
    X(SDL_CloseAudioDevice) \
    X(SDL_PauseAudioDevice) \
    X(SDL_LockAudioDevice) \
    X(SDL_UnlockAudioDevice) \
    X(SDL_MixAudioFormat) \
    X(SDL_TLSCleanup)

// clang-format on

#ifndef VANTREL_ENTRY_LIST_ONLY

#include "media/EntryTable.h"
#include "media/SDLHeaders.h"

namespace ff {

struct SDLTable {
    VANTREL_SDL_ENTRY_POINTS(VANTREL_ENTRY_SLOT)

    // Binds every slot; throws ELoadError naming the first missing entry.
    void Bind(const std::string& libraryFile, void* module);
};

// Written only by the loader (main thread); other threads only read it.
extern SDLTable sdl;

} // namespace ff

#endif
