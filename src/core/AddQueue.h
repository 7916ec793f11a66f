// Adding many files to the conversion list without blocking the caller:
// each chosen file is probed on one of a few worker threads, and the
// results are handed back in the order the files were chosen, as soon as
// every file before them is done.
//
//   TAddQueue queue(prober, TAddQueue::DefaultThreadCount(), listedCaptions);
//   queue.Append(files);
//   // from a timer of the user-interface thread:
//   for (TAddResult& r : queue.TakeReady(50)) ... append a row or note a skip ...
//   if (queue.Finished()) ... report, let the queue go ...
//
// A file already listed (or chosen twice) is dropped before it is probed;
// a folder is handed back as `TAddOutcome::Folder`. Stop() lets the probes
// that run finish and starts no others; nothing more is handed back.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

// What probing one file found.
struct TAddProbe {
    bool Opened = false;
    int64_t DurationUS = 0; // microseconds, 0 when unknown
    std::string Error;      // why it did not open
};

// Probes one file; runs on a worker thread, several at once.
using TAddProber = std::function<TAddProbe(const std::string& file)>;

enum class TAddOutcome { Probed, Folder };

struct TAddResult {
    std::string File;
    TAddOutcome Outcome = TAddOutcome::Probed;
    TAddProbe Probe;
};

// "Adding 340 of 1,000 ...": the file being added (one after those done,
// at most the last) and the number chosen, with thousands separated by ",".
std::string AddProgressText(std::size_t added, std::size_t total);

class TAddQueue {
public:
    // `listed`: the captions of the rows already in the list.
    TAddQueue(TAddProber prober, int threads, std::set<std::string> listed = {});
    // Stops and waits for the probes that still run.
    ~TAddQueue();
    TAddQueue(const TAddQueue&) = delete;
    TAddQueue& operator=(const TAddQueue&) = delete;

    // One worker per core, at least one.
    static int DefaultThreadCount();

    // Queues the files not listed and not queued before, in their order.
    void Append(const std::vector<std::string>& files);
    // The results that follow the last one taken without a gap, at most
    // `limit` of them.
    std::vector<TAddResult> TakeReady(std::size_t limit);
    // Starts no further probe; TakeReady hands nothing more back.
    void Stop();
    bool Stopped() const;
    // Every queued file was handed back, or the queue stopped and no probe
    // runs any more.
    bool Finished() const;
    // Files queued so far, results taken so far.
    std::size_t Total() const;
    std::size_t Taken() const;

private:
    void Work();
    TAddResult ProbeOne(const std::string& file) const;

    const TAddProber FProber;
    // All fields below: FMutex. Workers take the next index, probe without
    // the lock, and store the result; the user-interface thread appends and
    // takes.
    mutable std::mutex FMutex;
    std::condition_variable FWake; // work queued or stop
    std::set<std::string> FKnown;  // listed or queued
    std::vector<std::string> FFiles;
    std::vector<std::optional<TAddResult>> FResults;
    std::size_t FNext = 0;  // next file a worker probes
    std::size_t FTaken = 0; // next result handed back
    int FBusy = 0;          // probes running
    bool FStop = false;
    bool FQuit = false; // destructor: workers leave
    std::vector<std::thread> FWorkers;
};
