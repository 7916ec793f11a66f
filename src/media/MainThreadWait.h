// A headless main thread that waits for something the player's threads
// bring about: it serves the posted calls meanwhile, since those threads
// may be waiting on it.
#pragma once

#include "media/MainThread.h"

#include <chrono>

// Main thread only: serves posted calls (ServiceMainThread, 10 ms at a
// time) until `done()` holds. False when `limit` passed first.
template <typename Done> bool ServeMainThreadUntil(Done done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        ServiceMainThread(std::chrono::milliseconds(10));
    }
    return true;
}
