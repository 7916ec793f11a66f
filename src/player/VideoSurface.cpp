#include "player/VideoSurface.h"

#include <mutex>

namespace {

std::mutex FactoryLock; // guards Factory
TOwnWindowFactory Factory;

} // namespace

void SetOwnWindowFactory(TOwnWindowFactory factory) {
    std::lock_guard lock(FactoryLock);
    Factory = std::move(factory);
}

std::unique_ptr<IVideoSurface> MakeOwnWindow(const std::string& caption) {
    TOwnWindowFactory factory;
    {
        std::lock_guard lock(FactoryLock);
        factory = Factory;
    }
    return factory ? factory(caption) : nullptr;
}
