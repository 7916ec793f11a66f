// The ring of host events alone: coalescing, the oldest dropped when full,
// and the waits of the event thread.
#include "player/EventRing.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using namespace std::chrono_literals;

TEventEntry Position(std::int64_t pts) {
    return TEventEntry{TEventEntry::PositionEvent, 0, pts};
}

TEventEntry State(int state) {
    return TEventEntry{TEventEntry::StateEvent, state, 0};
}

} // namespace

TEST(EventRing, EntriesOfTheNewestKindCoalesceAndAFullRingDropsTheOldest) {
    TEventRing ring;
    ring.Post(Position(1));
    ring.Post(Position(2));
    ring.Post(State(1));
    ring.Post(State(5));
    ring.Post(Position(3));
    EXPECT_EQ(ring.Count(), 3);
    TEventEntry entry;
    ASSERT_TRUE(ring.Take(entry, 0ms));
    EXPECT_EQ(entry.Kind, TEventEntry::PositionEvent);
    EXPECT_EQ(entry.PTS, 2);
    ASSERT_TRUE(ring.Take(entry, 0ms));
    EXPECT_EQ(entry.State, 5);
    ASSERT_TRUE(ring.Take(entry, 0ms));
    EXPECT_EQ(entry.PTS, 3);
    EXPECT_FALSE(ring.Take(entry, 0ms));

    // Twelve alternating entries: nine are held, the first three went.
    for (int i = 0; i < 12; ++i)
        ring.Post(i % 2 == 0 ? Position(i) : State(i));
    EXPECT_EQ(ring.Count(), TEventRing::Slots - 1);
    ASSERT_TRUE(ring.Take(entry, 0ms));
    EXPECT_EQ(entry.State, 3);
    ring.Clear();
    EXPECT_EQ(ring.Count(), 0);
}

TEST(EventRing, TakeWaitsForAPostOrItsTimeout) {
    TEventRing ring;
    TEventEntry entry;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ring.Take(entry, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 45ms);
    auto taken = std::async(std::launch::async, [&ring] {
        TEventEntry got;
        return ring.Take(got, 10s) ? got.PTS : -1;
    });
    EXPECT_EQ(taken.wait_for(100ms), std::future_status::timeout);
    ring.Post(Position(7));
    ASSERT_EQ(taken.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(taken.get(), 7);
}
