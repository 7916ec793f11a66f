// The add queue: results in the chosen order whatever order the probes end
// in, files listed or chosen twice never probed, probes on several threads
// at once, and a stop that starts no further probe.
#include "core/AddQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>

#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

// A prober whose probes of chosen files wait until the test lets them go.
class TGatedProber {
public:
    explicit TGatedProber(std::set<std::string> held = {}) : held_(std::move(held)) {}

    TAddProber Prober() {
        return [this](const std::string& file) {
            std::unique_lock lock(mutex_);
            probed_.push_back(file);
            ++running_;
            maxRunning_ = std::max(maxRunning_, running_);
            changed_.notify_all();
            const bool held = held_.count(file) != 0;
            // A held probe waits to be released; the deadline keeps a
            // broken queue from hanging the test.
            if (held) changed_.wait_for(lock, 10s, [&] { return held_.count(file) == 0; });
            --running_;
            if (file.find("bad") != std::string::npos) return TAddProbe{false, 0, "broken file"};
            return TAddProbe{true, static_cast<int64_t>(file.size()) * 1000000, ""};
        };
    }
    void Release(const std::string& file) {
        std::lock_guard lock(mutex_);
        held_.erase(file);
        changed_.notify_all();
    }
    // Waits until `count` probes run at the same time.
    bool WaitRunning(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return running_ >= count; });
    }
    std::vector<std::string> Probed() {
        std::lock_guard lock(mutex_);
        return probed_;
    }
    int MaxRunning() {
        std::lock_guard lock(mutex_);
        return maxRunning_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> held_;
    std::vector<std::string> probed_;
    int running_ = 0;
    int maxRunning_ = 0;
};

// Takes results until the queue is finished or the deadline passes.
std::vector<TAddResult> TakeAll(TAddQueue& queue, std::chrono::seconds limit = 10s) {
    std::vector<TAddResult> all;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!queue.Finished() && std::chrono::steady_clock::now() < until) {
        for (TAddResult& r : queue.TakeReady(1000))
            all.push_back(std::move(r));
        std::this_thread::yield();
    }
    return all;
}

std::vector<std::string> FilesOf(const std::vector<TAddResult>& results) {
    std::vector<std::string> files;
    for (const TAddResult& r : results)
        files.push_back(r.File);
    return files;
}

} // namespace

TEST(AddQueueTest, ResultsComeInTheChosenOrderWhateverOrderProbesEnd) {
    TGatedProber gate({"a.mp4"});
    TAddQueue queue(gate.Prober(), 3);
    queue.Append({"a.mp4", "b.mp4", "c.mp4", "d.mp4"});
    // b, c and d are probed while a still waits: nothing may come out.
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (gate.Probed().size() < 4 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    ASSERT_EQ(gate.Probed().size(), 4u);
    EXPECT_TRUE(queue.TakeReady(10).empty());
    EXPECT_FALSE(queue.Finished());
    gate.Release("a.mp4");
    const std::vector<TAddResult> all = TakeAll(queue);
    EXPECT_EQ(FilesOf(all), (std::vector<std::string>{"a.mp4", "b.mp4", "c.mp4", "d.mp4"}));
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[2].Probe.DurationUS, 5000000);
    EXPECT_TRUE(queue.Finished());
    EXPECT_EQ(queue.Taken(), 4u);
}

TEST(AddQueueTest, ListedAndRepeatedFilesAreNotProbedFoldersAreHandedBack) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.file("folder"));
    TGatedProber gate;
    TAddQueue queue(gate.Prober(), 2, {"listed.mp4"});
    queue.Append({"x.mp4", "listed.mp4", "x.mp4", dir.file("folder"), "bad.mp4", "X.mp4"});
    queue.Append({"x.mp4", "y.mp4"});
    const std::vector<TAddResult> all = TakeAll(queue);
    ASSERT_EQ(FilesOf(all),
              (std::vector<std::string>{"x.mp4", dir.file("folder"), "bad.mp4", "X.mp4", "y.mp4"}));
    EXPECT_EQ(all[1].Outcome, TAddOutcome::Folder);
    EXPECT_FALSE(all[2].Probe.Opened);
    EXPECT_EQ(all[2].Probe.Error, "broken file");
    EXPECT_TRUE(all[3].Probe.Opened);
    const std::vector<std::string> probed = gate.Probed();
    EXPECT_EQ(std::set<std::string>(probed.begin(), probed.end()),
              (std::set<std::string>{"x.mp4", "bad.mp4", "X.mp4", "y.mp4"}));
    EXPECT_EQ(probed.size(), 4u);
}

TEST(AddQueueTest, ProbesRunOnSeveralThreadsAtOnce) {
    TGatedProber gate({"1", "2"});
    TAddQueue queue(gate.Prober(), 2);
    queue.Append({"1", "2", "3"});
    EXPECT_TRUE(gate.WaitRunning(2));
    gate.Release("1");
    gate.Release("2");
    EXPECT_EQ(TakeAll(queue).size(), 3u);
    EXPECT_EQ(gate.MaxRunning(), 2);
    EXPECT_GE(TAddQueue::DefaultThreadCount(), 1);
}

TEST(AddQueueTest, StopStartsNoFurtherProbeAndHandsNothingBack) {
    TGatedProber gate({"1"});
    TAddQueue queue(gate.Prober(), 1);
    queue.Append({"1", "2", "3"});
    ASSERT_TRUE(gate.WaitRunning(1));
    queue.Stop();
    EXPECT_FALSE(queue.Finished()); // the running probe has not ended yet
    gate.Release("1");
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!queue.Finished() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    EXPECT_TRUE(queue.Finished());
    EXPECT_TRUE(queue.TakeReady(10).empty());
    queue.Append({"4"});
    EXPECT_EQ(gate.Probed(), std::vector<std::string>{"1"});
    EXPECT_EQ(queue.Total(), 3u);
}

TEST(AddQueueTest, AProberThatThrowsSkipsTheFileWithItsReason) {
    TAddQueue queue([](const std::string&) -> TAddProbe { throw std::runtime_error("no codec"); },
                    1);
    queue.Append({"a.mp4"});
    const std::vector<TAddResult> all = TakeAll(queue);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_FALSE(all[0].Probe.Opened);
    EXPECT_EQ(all[0].Probe.Error, "no codec");
}

// A named pipe would hold its probe at the opening until a writer came
// (here none comes): it is skipped with the reason and never probed.
TEST(AddQueueTest, ANamedPipeIsSkippedUnprobed) {
    testsupport::TempDir dir;
    const std::string pipe = dir.file("pipe.mp4");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    TGatedProber gate;
    TAddQueue queue(gate.Prober(), 1);
    queue.Append({pipe, "x.mp4"});
    const std::vector<TAddResult> all = TakeAll(queue);
    ASSERT_EQ(FilesOf(all), (std::vector<std::string>{pipe, "x.mp4"}));
    EXPECT_FALSE(all[0].Probe.Opened);
    EXPECT_EQ(all[0].Probe.Error,
              pipe +
                  ": Not a regular file: a pipe or a device cannot be probed and then converted");
    EXPECT_EQ(gate.Probed(), std::vector<std::string>{"x.mp4"});
}

TEST(AddQueueTest, ProgressTextCountsTheFileBeingAdded) {
    EXPECT_EQ(AddProgressText(339, 1000), "Adding 340 of 1,000 ...");
    EXPECT_EQ(AddProgressText(0, 7), "Adding 1 of 7 ...");
    EXPECT_EQ(AddProgressText(7, 7), "Adding 7 of 7 ...");
    EXPECT_EQ(AddProgressText(999, 1234567), "Adding 1,000 of 1,234,567 ...");
}
