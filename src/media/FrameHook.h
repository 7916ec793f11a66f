// Frame-hook modules: shared libraries that change decoded video pictures
// in place (see FrameHookModule.h for what a module exports). A task keeps
// its modules in a singly linked list of entries; the module files
// themselves are loaded once per process and never unloaded.
#pragma once

#ifndef FRAME_HOOK_TYPES_ONLY
#define FRAME_HOOK_TYPES_ONLY // the program uses the module types, not the prototypes
#endif
#include "media/FrameHookModule.h"

#include <cstdint>

// One added module. Owned by the list it is in; built on the thread that
// parses the task's options, then used and released by the thread that
// runs the task (never both at once).
struct FrameHookEntry {
    FrameHookEntry* Next;
    FrameHookConfigureFn Configure; // may be null when the module takes no arguments
    FrameHookProcessFn Process;
    FrameHookReleaseFn Release; // may be null
    void* Context;              // filled in by Configure
};

// Loads argv[0] (once per process), configures it with the argc words of
// argv (argv[argc] null) and appends it to *list. 0 on success; -1 when the
// module cannot be loaded, -2 without words or without the entry points
// needed, -12 without memory, -22 when Configure fails. The reasons go to
// the library log at the error level. The current folder is the same
// afterwards in every case.
int AddFrameHook(FrameHookEntry** list, int argc, char* argv[]);

// Runs every module of the list on the picture, in list order.
void ProcessFrameHooks(FrameHookEntry* list, FrameHookPicture* picture, int pixFmt, int width,
                       int height, int64_t pts);

// Releases every entry (calling Release where the module has one); the list
// becomes empty.
void ReleaseFrameHooks(FrameHookEntry** list);

// A task's module list, released when the owner goes.
class TFrameHookList {
public:
    TFrameHookList() = default;
    ~TFrameHookList() { ReleaseFrameHooks(&Head); }
    TFrameHookList(const TFrameHookList&) = delete;
    TFrameHookList& operator=(const TFrameHookList&) = delete;

    FrameHookEntry* Head = nullptr;
};
