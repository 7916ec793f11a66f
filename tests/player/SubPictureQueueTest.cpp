// The subpicture queue alone (subtitles without rectangles, so no media
// library is needed): when a subtitle is due and when it goes, the flush,
// and the wait of a full queue.
#include "player/SubPictureQueue.h"

#include <gtest/gtest.h>

#include <future>

using namespace std::chrono_literals;

namespace {

// Puts a subtitle shown from `pts` + `start` ms to `pts` + `end` ms.
bool Put(TSubPictureQueue& queue, double pts, std::uint32_t start, std::uint32_t end) {
    AVSubtitle sub{};
    sub.start_display_time = start;
    sub.end_display_time = end;
    return queue.Put(sub, pts);
}

// The start time (ms) of the subtitle blended at `pts`, -1 when none.
int DueStart(TSubPictureQueue& queue, double pts) {
    int start = -1;
    queue.BlendDue(pts, [&start](const AVSubtitle& sub) {
        start = static_cast<int>(sub.start_display_time);
        return true;
    });
    return start;
}

} // namespace

TEST(SubPictureQueue, ASubtitleIsBlendedFromItsStartAndGoesAtItsEndOrTheNextStart) {
    TSubPictureQueue queue;
    ASSERT_TRUE(Put(queue, 1.0, 500, 1000)); // 1.5 s to 2.0 s
    ASSERT_TRUE(Put(queue, 1.8, 0, 4000));   // 1.8 s to 5.8 s
    EXPECT_EQ(DueStart(queue, 1.4), -1);
    EXPECT_EQ(DueStart(queue, 1.6), 500);
    queue.Expire(1.7);
    EXPECT_EQ(queue.Count(), 2);
    queue.Expire(1.9); // the next one has started
    EXPECT_EQ(queue.Count(), 1);
    EXPECT_EQ(DueStart(queue, 1.9), 0);
    queue.Expire(5.7);
    EXPECT_EQ(queue.Count(), 1);
    queue.Expire(5.9); // past its end
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(DueStart(queue, 5.9), -1);

    ASSERT_TRUE(Put(queue, 7.0, 0, 1000));
    queue.RequestFlush();
    queue.Expire(7.0);
    EXPECT_EQ(queue.Count(), 0);
}

TEST(SubPictureQueue, AFullQueueWaitsUntilOneGoesAndAnAbortEndsTheWait) {
    TSubPictureQueue queue;
    for (int i = 0; i < TSubPictureQueue::Size; ++i)
        ASSERT_TRUE(Put(queue, i, 0, 500));
    auto waiting = std::async(std::launch::async, [&queue] { return Put(queue, 9.0, 0, 500); });
    EXPECT_EQ(waiting.wait_for(150ms), std::future_status::timeout);
    queue.Expire(0.6);
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(waiting.get());
    EXPECT_EQ(queue.Count(), TSubPictureQueue::Size);

    auto aborted = std::async(std::launch::async, [&queue] { return Put(queue, 10.0, 0, 500); });
    EXPECT_EQ(aborted.wait_for(150ms), std::future_status::timeout);
    queue.Abort();
    ASSERT_EQ(aborted.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(aborted.get());
}
