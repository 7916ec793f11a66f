#include "core/AddQueue.h"

#include "media/FileUtils.h"

#include <algorithm>
#include <filesystem>

namespace {

std::string GroupedNumber(std::size_t value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

} // namespace

std::string AddProgressText(std::size_t added, std::size_t total) {
    const std::size_t current = std::min(added + 1, total);
    return "Adding " + GroupedNumber(current) + " of " + GroupedNumber(total) + " ...";
}

TAddQueue::TAddQueue(TAddProber prober, int threads, std::set<std::string> listed)
    : FProber(std::move(prober)), FKnown(std::move(listed)) {
    const int count = std::max(1, threads);
    FWorkers.reserve(count);
    for (int i = 0; i < count; ++i)
        FWorkers.emplace_back([this] { Work(); });
}

TAddQueue::~TAddQueue() {
    {
        std::lock_guard lock(FMutex);
        FStop = FQuit = true;
    }
    FWake.notify_all();
    for (std::thread& worker : FWorkers)
        worker.join();
}

int TAddQueue::DefaultThreadCount() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void TAddQueue::Append(const std::vector<std::string>& files) {
    {
        std::lock_guard lock(FMutex);
        if (FStop) return;
        for (const std::string& file : files) {
            if (!FKnown.insert(file).second) continue;
            FFiles.push_back(file);
            FResults.emplace_back();
        }
    }
    FWake.notify_all();
}

std::vector<TAddResult> TAddQueue::TakeReady(std::size_t limit) {
    std::vector<TAddResult> ready;
    std::lock_guard lock(FMutex);
    if (FStop) return ready;
    while (ready.size() < limit && FTaken < FResults.size() && FResults[FTaken]) {
        ready.push_back(std::move(*FResults[FTaken]));
        FResults[FTaken].reset();
        ++FTaken;
    }
    return ready;
}

void TAddQueue::Stop() {
    {
        std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
}

bool TAddQueue::Stopped() const {
    std::lock_guard lock(FMutex);
    return FStop;
}

bool TAddQueue::Finished() const {
    std::lock_guard lock(FMutex);
    if (FStop) return FBusy == 0;
    return FTaken == FFiles.size();
}

std::size_t TAddQueue::Total() const {
    std::lock_guard lock(FMutex);
    return FFiles.size();
}

std::size_t TAddQueue::Taken() const {
    std::lock_guard lock(FMutex);
    return FTaken;
}

// A worker: waits for a file (or the end), probes it without the lock and
// stores the result in its slot.
void TAddQueue::Work() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FQuit || (!FStop && FNext < FFiles.size()); });
        if (FQuit) return;
        const std::size_t index = FNext++;
        const std::string file = FFiles[index];
        ++FBusy;
        lock.unlock();
        TAddResult result = ProbeOne(file);
        lock.lock();
        --FBusy;
        FResults[index] = std::move(result);
    }
}

TAddResult TAddQueue::ProbeOne(const std::string& file) const {
    TAddResult result;
    result.File = file;
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        result.Outcome = TAddOutcome::Folder;
        return result;
    }
    // Opening a pipe would wait for a writer, and the probe would take what
    // the conversion needs.
    if (std::string refused = ReadOnceSourceText(file); !refused.empty()) {
        result.Probe = TAddProbe{false, 0, file + ": " + refused};
        return result;
    }
    try {
        result.Probe = FProber(file);
    } catch (const std::exception& e) {
        result.Probe = TAddProbe{false, 0, e.what()};
    }
    return result;
}
