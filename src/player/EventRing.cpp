#include "player/EventRing.h"

void TEventRing::Post(const TEventEntry& entry) {
    {
        std::lock_guard lock(FLock);
        bool empty = FRead == FWrite;
        int newest = (FWrite + Slots - 1) % Slots;
        if (empty || FEntries[newest].Kind != entry.Kind) {
            FWrite = (FWrite + 1) % Slots;
            if (FWrite == FRead) FRead = (FRead + 1) % Slots;
            newest = (FWrite + Slots - 1) % Slots;
        }
        FEntries[newest] = entry;
        FSignal = true;
    }
    FPending.notify_all();
}

bool TEventRing::Take(TEventEntry& entry, std::chrono::milliseconds timeout) {
    std::unique_lock lock(FLock);
    if (FRead == FWrite) FPending.wait_for(lock, timeout, [this] { return FSignal; });
    bool have = FRead != FWrite;
    if (have) {
        entry = FEntries[FRead];
        FRead = (FRead + 1) % Slots;
    }
    if (FRead == FWrite) FSignal = false;
    return have;
}

void TEventRing::Clear() {
    std::lock_guard lock(FLock);
    FRead = FWrite = 0;
    FSignal = false;
}

void TEventRing::WaitForWake(std::chrono::milliseconds timeout) {
    std::unique_lock lock(FLock);
    FPending.wait_for(lock, timeout);
}

int TEventRing::Count() {
    std::lock_guard lock(FLock);
    return (FWrite - FRead + Slots) % Slots;
}
