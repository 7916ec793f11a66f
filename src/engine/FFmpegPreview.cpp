#include "engine/FFmpegPreview.h"

#include "media/MainThread.h"

namespace {

struct TFactoryHolder {
    std::mutex Lock;
    TPreviewWindowFactory Factory;
};

TFactoryHolder& Holder() {
    static TFactoryHolder holder;
    return holder;
}

TPreviewWindowFactory CurrentFactory() {
    std::lock_guard lock(Holder().Lock);
    return Holder().Factory;
}

} // namespace

void SetPreviewWindowFactory(TPreviewWindowFactory factory) {
    std::lock_guard lock(Holder().Lock);
    Holder().Factory = std::move(factory);
}

std::mutex& PreviewFlagLock() {
    static std::mutex lock;
    return lock;
}

TPreviewer::~TPreviewer() {
    if (!FWindow) return;
    // The window belongs to the main thread; it is freed there.
    std::shared_ptr<IPreviewWindow> window(std::move(FWindow));
    QueueInMainThread([window]() mutable { window.reset(); });
}

bool TPreviewer::Show(const Bitmap24& bitmap, int frameNumber, int64_t pts) {
    if (FClosed) return false;
    FBitmap = &bitmap;
    FFrameNumber = frameNumber;
    FPTS = pts;
    RunInMainThread([this] { Paint(); });
    FBitmap = nullptr;
    return !FClosed;
}

void TPreviewer::Paint() {
    if (FClosed || FNoWindow || !FBitmap) return;
    if (!FWindow) {
        const TPreviewWindowFactory factory = CurrentFactory();
        if (factory) FWindow = factory();
        if (!FWindow) {
            FNoWindow = true;
            return;
        }
    }
    if (!FWindow->Show(*FBitmap, FFrameNumber, FPTS)) FClosed = true;
}
