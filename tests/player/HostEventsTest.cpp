// The delivery of host events alone: the order of the entries, the end at
// the stop state or a stop entry, a handler that throws, and a handler on
// the main thread that waits for the delivery's end.
#include "player/HostEvents.h"

#include "media/MainThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <vector>

namespace {

constexpr int Paused = 1;
constexpr int Stopped = 4;

TEventEntry Position(std::int64_t pts) {
    return TEventEntry{TEventEntry::PositionEvent, 0, pts};
}
TEventEntry State(int state) {
    return TEventEntry{TEventEntry::StateEvent, state, 0};
}

// What a delivery got: the kind, and the time or the state.
std::vector<std::int64_t> Record(const TEventEntry& entry) {
    return {entry.Kind, entry.Kind == TEventEntry::PositionEvent ? entry.PTS : entry.State};
}

// Waits up to 10 s for the delivery's end. A delivery still running then
// is ended with a stop state and a stop entry, so that the test fails
// instead of hanging.
bool Ended(THostEvents& events) {
    auto join = std::async(std::launch::async, [&events] { events.Join({}); });
    if (join.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return true;
    events.Post(State(Stopped));
    events.Post(TEventEntry{TEventEntry::StopEvent, Stopped, 0});
    return false;
}

} // namespace

TEST(HostEvents, EntriesGoOutInOrderUntilTheStopStateOrAStopEntry) {
    std::vector<std::vector<std::int64_t>> got;
    {
        THostEvents events(nullptr, Stopped);
        for (const TEventEntry& entry :
             {Position(1), State(Paused), Position(2), State(Stopped), Position(3)})
            events.Post(entry);
        events.Start([&](const TEventEntry& entry) { got.push_back(Record(entry)); }, false);
        EXPECT_TRUE(Ended(events));
    }
    const std::vector<std::vector<std::int64_t>> expected = {{TEventEntry::PositionEvent, 1},
                                                             {TEventEntry::StateEvent, Paused},
                                                             {TEventEntry::PositionEvent, 2},
                                                             {TEventEntry::StateEvent, Stopped}};
    EXPECT_EQ(got, expected);

    // A stop entry ends the delivery without being delivered; a handler that
    // throws leaves the next entries to the next calls; a reset drops what
    // the last file left behind.
    got.clear();
    THostEvents events(nullptr, Stopped);
    events.Post(Position(9));
    events.Reset();
    events.Post(Position(7));
    events.Post(State(Paused));
    events.Post(TEventEntry{TEventEntry::StopEvent, Stopped, 0});
    events.Start(
        [&](const TEventEntry& entry) {
            got.push_back(Record(entry));
            if (entry.Kind == TEventEntry::PositionEvent) throw std::runtime_error("handler");
        },
        false);
    EXPECT_TRUE(Ended(events));
    const std::vector<std::vector<std::int64_t>> second = {{TEventEntry::PositionEvent, 7},
                                                           {TEventEntry::StateEvent, Paused}};
    EXPECT_EQ(got, second);
}

TEST(HostEvents, AHandlerOnTheMainThreadThatWaitsForTheEndEndsTheDelivery) {
    SetMainThread();
    THostEvents events(nullptr, Stopped);
    bool joined = false;
    std::vector<std::vector<std::int64_t>> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // Past the deadline a wait that does not end is broken off.
    auto serve = [&] {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no end");
    };
    events.Post(State(Paused));
    events.Post(Position(5));
    events.Start(
        [&](const TEventEntry& entry) {
            got.push_back(Record(entry));
            events.Join(serve); // the host closes the file from its handler
            joined = true;
        },
        true);
    while (!joined && std::chrono::steady_clock::now() < deadline)
        ServiceMainThread(std::chrono::milliseconds(20));
    ClearMainThread();
    events.Post(TEventEntry{TEventEntry::StopEvent, Stopped, 0}); // ends a delivery left running
    EXPECT_TRUE(joined);
    // The entries after the one being delivered are given up.
    const std::vector<std::vector<std::int64_t>> expected = {{TEventEntry::StateEvent, Paused}};
    EXPECT_EQ(got, expected);
}
