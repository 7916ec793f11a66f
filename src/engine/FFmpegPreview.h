// The engine's own preview window: a small always-on-top window that shows
// the last encoded picture of a task when the host does not take bitmaps.
// The core knows it only through IPreviewWindow; the GUI installs a factory
// that makes real windows, headless hosts have none (nothing is shown).
#pragma once

#include "media/Bitmap24.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// One preview window. Every call runs on the main thread.
class IPreviewWindow {
public:
    virtual ~IPreviewWindow() = default;
    // Shows the picture with the frame time in the title (the window takes
    // its size from the first picture). False once the user closed it.
    virtual bool Show(const Bitmap24& bitmap, int frameNumber, int64_t pts) = 0;
};

using TPreviewWindowFactory = std::function<std::unique_ptr<IPreviewWindow>()>;

// Installs the factory of preview windows (nullptr: none).
void SetPreviewWindowFactory(TPreviewWindowFactory factory);

// The process-wide preview-flag lock shared by every task engine.
std::mutex& PreviewFlagLock();

// A task's preview window: created on the main thread with the first
// picture, painted there, freed there.
class TPreviewer {
public:
    TPreviewer() = default;
    ~TPreviewer();
    TPreviewer(const TPreviewer&) = delete;
    TPreviewer& operator=(const TPreviewer&) = delete;

    // Worker thread: hands the picture to the window and waits until it is
    // painted. False once the user has closed the window.
    bool Show(const Bitmap24& bitmap, int frameNumber, int64_t pts);

private:
    void Paint(); // main thread

    std::unique_ptr<IPreviewWindow> FWindow; // main thread
    bool FClosed = false;
    bool FNoWindow = false; // no factory: nothing to show
    const Bitmap24* FBitmap = nullptr;
    int FFrameNumber = 0;
    int64_t FPTS = 0;
};
