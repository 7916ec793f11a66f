// The packet queue alone, with flush markers (no media library needed):
// sizes, the order of the markers, a non-blocking get and an abort that
// wakes a blocked consumer.
#include "player/PacketQueue.h"

#include <gtest/gtest.h>

#include <future>

using namespace std::chrono_literals;

TEST(PacketQueue, MarkersCountTheirEntrySizeAndAnAbortWakesABlockedGet) {
    TPacketQueue queue;
    queue.Start();
    ff::PacketPtr packet;
    bool isFlush = false;
    EXPECT_EQ(queue.Get(packet, isFlush, false), 0); // empty: not blocking
    queue.PutFlush();
    queue.PutFlush();
    EXPECT_EQ(queue.PacketCount(), 2);
    EXPECT_EQ(queue.ByteSize(), 2 * PacketEntrySize);
    ASSERT_EQ(queue.Get(packet, isFlush, false), 1);
    EXPECT_TRUE(isFlush);
    EXPECT_FALSE(packet);
    EXPECT_EQ(queue.ByteSize(), PacketEntrySize);
    queue.Flush();
    EXPECT_EQ(queue.PacketCount(), 0);
    EXPECT_EQ(queue.ByteSize(), 0);

    auto blocked = std::async(std::launch::async, [&queue] {
        ff::PacketPtr got;
        bool flush = false;
        return queue.Get(got, flush, true);
    });
    EXPECT_EQ(blocked.wait_for(150ms), std::future_status::timeout);
    queue.Abort();
    ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(blocked.get(), -1);
    EXPECT_TRUE(queue.Aborted());
    // Started again (a stream opened), it hands out what is put.
    queue.Start();
    queue.PutFlush();
    EXPECT_EQ(queue.Get(packet, isFlush, true), 1);
}
