#include "core/AddQueue.h"

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
    : prober_(std::move(prober)), known_(std::move(listed)) {
    const int count = std::max(1, threads);
    workers_.reserve(count);
    for (int i = 0; i < count; ++i)
        workers_.emplace_back([this] { Work(); });
}

TAddQueue::~TAddQueue() {
    {
        std::lock_guard lock(mutex_);
        stop_ = quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

int TAddQueue::DefaultThreadCount() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void TAddQueue::Append(const std::vector<std::string>& files) {
    {
        std::lock_guard lock(mutex_);
        if (stop_) return;
        for (const std::string& file : files) {
            if (!known_.insert(file).second) continue;
            files_.push_back(file);
            results_.emplace_back();
        }
    }
    wake_.notify_all();
}

std::vector<TAddResult> TAddQueue::TakeReady(std::size_t limit) {
    std::vector<TAddResult> ready;
    std::lock_guard lock(mutex_);
    if (stop_) return ready;
    while (ready.size() < limit && taken_ < results_.size() && results_[taken_]) {
        ready.push_back(std::move(*results_[taken_]));
        results_[taken_].reset();
        ++taken_;
    }
    return ready;
}

void TAddQueue::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

bool TAddQueue::Stopped() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

bool TAddQueue::Finished() const {
    std::lock_guard lock(mutex_);
    if (stop_) return busy_ == 0;
    return taken_ == files_.size();
}

std::size_t TAddQueue::Total() const {
    std::lock_guard lock(mutex_);
    return files_.size();
}

std::size_t TAddQueue::Taken() const {
    std::lock_guard lock(mutex_);
    return taken_;
}

// A worker: waits for a file (or the end), probes it without the lock and
// stores the result in its slot.
void TAddQueue::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || (!stop_ && next_ < files_.size()); });
        if (quit_) return;
        const std::size_t index = next_++;
        const std::string file = files_[index];
        ++busy_;
        lock.unlock();
        TAddResult result = ProbeOne(file);
        lock.lock();
        --busy_;
        results_[index] = std::move(result);
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
    try {
        result.Probe = prober_(file);
    } catch (const std::exception& e) {
        result.Probe = TAddProbe{false, 0, e.what()};
    }
    return result;
}
