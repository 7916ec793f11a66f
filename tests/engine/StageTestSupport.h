// Helpers of the stage tests: a gate that holds a stage's work, a wait for
// a condition with a deadline, and the message an action raises.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace stagetest {

using namespace std::chrono_literals;

// Holds the stage's work until Open is called (at most 10 s).
class Gate {
public:
    void Wait() { WaitFor(10s); }
    // False when still shut after `limit`.
    bool WaitFor(std::chrono::milliseconds limit) {
        std::unique_lock lock(Lock);
        return Wake.wait_for(lock, limit, [this] { return Opened; });
    }
    void Open() {
        {
            std::lock_guard lock(Lock);
            Opened = true;
        }
        Wake.notify_all();
    }

private:
    std::mutex Lock;
    std::condition_variable Wake;
    bool Opened = false;
};

// True once `done` holds; false when it still does not after 10 s.
template <class Predicate> bool Eventually(Predicate done) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Runs `stop` while the work is held at `gate`, as a stop comes while an
// item is in work: another thread opens the gate once `stopSeen` shows that
// the stop has taken hold (or after 10 s, and then `seen` is false).
inline void StopWhileHeld(Gate& gate, const std::function<void()>& stop,
                          const std::function<bool()>& stopSeen, bool& seen) {
    std::thread opener([&] {
        seen = Eventually(stopSeen);
        gate.Open();
    });
    stop();
    opener.join();
}

// The message of the runtime error `action` raises; empty when none.
inline std::string Raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

} // namespace stagetest
