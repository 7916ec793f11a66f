// The picture queue alone: slots handed out and consumed across a seek's
// discard, the waits of the video thread and the schedule of the pictures.
#include "player/PictureQueue.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Queues one picture of time `pts` at `now`.
void Queue(TPictureQueue& queue, double pts, double now, std::optional<double> offSound = {}) {
    TPictureSlot* slot = nullptr;
    ASSERT_EQ(queue.WaitForSlot(slot), TSlotWait::Ready);
    slot->PTS = queue.StampPicture(true, pts, 0.04);
    queue.Commit(slot->PTS, now, offSound);
}

double FrontTarget(TPictureQueue& queue) {
    TPictureFront front;
    EXPECT_TRUE(queue.Front(front));
    return front.Target;
}

} // namespace

// The display thread takes the picture in the read slot, a seek discards the
// queue and the picture of the new position is queued, then the display
// thread is done with the picture it took: that one went with the discard,
// and the new position's picture stays queued (paused, it is the one shown).
TEST(PictureQueue, PictureTakenBeforeASeekDiscardIsNotConsumedAfterIt) {
    TPictureQueue queue;
    Queue(queue, 1.0, 100.0);
    TPictureFront taken;
    ASSERT_TRUE(queue.Front(taken));
    queue.Discard(100.0);
    EXPECT_EQ(queue.Count(), 0);
    Queue(queue, 5.0, 100.0); // the first picture after the seek
    EXPECT_FALSE(queue.Consume(taken.Taken));
    EXPECT_EQ(queue.Count(), 1);
    TPictureFront front;
    ASSERT_TRUE(queue.Front(front));
    EXPECT_EQ(front.PTS, 5.0);
    EXPECT_NE(front.Slot, taken.Slot);
    // Taken after the discard, it is consumed as usual; nothing goes below 0.
    EXPECT_TRUE(queue.Consume(front.Taken));
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_FALSE(queue.Consume(front.Taken));
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_FALSE(queue.Front(front));
}

TEST(PictureQueue, AFullQueueWaitsUntilAPictureGoesAndAnAbortOrAFlushEndsTheWait) {
    TPictureQueue queue;
    Queue(queue, 0.00, 100.0);
    Queue(queue, 0.04, 100.0);
    auto wait = [&queue] {
        TPictureSlot* slot = nullptr;
        return queue.WaitForSlot(slot);
    };
    // Consumed by the display: the slot comes free.
    auto freed = std::async(std::launch::async, wait);
    EXPECT_EQ(freed.wait_for(150ms), std::future_status::timeout);
    TPictureFront front;
    ASSERT_TRUE(queue.Front(front));
    ASSERT_TRUE(queue.Consume(front.Taken));
    ASSERT_EQ(freed.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(freed.get(), TSlotWait::Ready);
    Queue(queue, 0.08, 100.0);

    // A seek's flush on its way: the picture waiting is from before it.
    auto dropped = std::async(std::launch::async, wait);
    EXPECT_EQ(dropped.wait_for(150ms), std::future_status::timeout);
    queue.MarkFlushPending();
    ASSERT_EQ(dropped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(dropped.get(), TSlotWait::Dropped);
    // The flush empties the queue and the pictures after it are queued.
    queue.Discard(100.0);
    EXPECT_FALSE(queue.FlushPending());
    Queue(queue, 3.00, 100.0);
    Queue(queue, 3.04, 100.0);

    auto aborted = std::async(std::launch::async, wait);
    EXPECT_EQ(aborted.wait_for(150ms), std::future_status::timeout);
    queue.Abort();
    ASSERT_EQ(aborted.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(aborted.get(), TSlotWait::Aborted);
}

TEST(PictureQueue, PicturesAreDueTheirTimeApartAndAJumpOrALagDoesNotBunchThem) {
    TPictureQueue queue;
    queue.Discard(100.0);
    Queue(queue, 1.00, 100.0); // no delay known yet: due at once
    EXPECT_DOUBLE_EQ(FrontTarget(queue), 100.0);
    Queue(queue, 1.04, 100.0);
    TPictureFront front;
    ASSERT_TRUE(queue.Front(front));
    EXPECT_NEAR(front.NextTarget, 100.04, 1e-9);
    ASSERT_TRUE(queue.Consume(front.Taken));
    ASSERT_TRUE(queue.Front(front));
    // One picture left: the next is due a frame (the video clock) later.
    EXPECT_NEAR(front.NextTarget, 100.08, 1e-9);
    ASSERT_TRUE(queue.Consume(front.Taken));

    // A time stamp 20 s on (a discontinuity) keeps the last delay.
    Queue(queue, 21.04, 100.0);
    EXPECT_NEAR(FrontTarget(queue), 100.08, 1e-9);
    ASSERT_TRUE(queue.Front(front));
    ASSERT_TRUE(queue.Consume(front.Taken));
    // Decoding stalled for a second: the schedule starts from now.
    Queue(queue, 21.08, 101.5);
    EXPECT_NEAR(FrontTarget(queue), 101.54, 1e-9);
}

TEST(PictureQueue, PicturesMoveTowardsTheSoundWithinTwiceTheirTime) {
    TPictureQueue queue;
    queue.Discard(100.0);
    Queue(queue, 1.00, 100.0);
    TPictureFront front;
    ASSERT_TRUE(queue.Front(front));
    ASSERT_TRUE(queue.Consume(front.Taken));
    Queue(queue, 1.04, 100.0, 0.01); // under half a frame: as it is
    EXPECT_NEAR(FrontTarget(queue), 100.04, 1e-9);
    ASSERT_TRUE(queue.Front(front));
    ASSERT_TRUE(queue.Consume(front.Taken));
    Queue(queue, 1.08, 100.0, 0.03); // ahead of the sound: later
    EXPECT_NEAR(FrontTarget(queue), 100.11, 1e-9);
    ASSERT_TRUE(queue.Front(front));
    ASSERT_TRUE(queue.Consume(front.Taken));
    Queue(queue, 1.12, 100.0, 0.5); // far ahead: at most twice its time
    EXPECT_NEAR(FrontTarget(queue), 100.19, 1e-9);
    ASSERT_TRUE(queue.Front(front));
    ASSERT_TRUE(queue.Consume(front.Taken));
    Queue(queue, 1.16, 100.0, -0.5); // far behind: at once
    EXPECT_NEAR(FrontTarget(queue), 100.19, 1e-9);
}

TEST(PictureQueue, ARestartMovesTheScheduleAndAResumeMeanwhileIsNotLost) {
    TPictureQueue queue;
    queue.Discard(100.0);
    Queue(queue, 1.00, 100.0);
    Queue(queue, 1.04, 100.0);
    TPictureFront front;
    ASSERT_TRUE(queue.Front(front));
    EXPECT_TRUE(front.ScheduleRestart);
    // Shown at 100.5: both pictures and the timer move by half a second.
    queue.Restart(front, 100.5);
    ASSERT_TRUE(queue.Front(front));
    EXPECT_FALSE(front.ScheduleRestart);
    EXPECT_DOUBLE_EQ(front.Target, 100.5);
    EXPECT_NEAR(front.NextTarget, 100.54, 1e-9);

    // A resume between the look at the front and its restart stays asked.
    queue.Slip(front.Taken, 100.6);
    ASSERT_TRUE(queue.Front(front));
    queue.ResumeSchedule(0);
    EXPECT_FALSE(front.ScheduleRestart);
    queue.Restart(front, 100.6);
    ASSERT_TRUE(queue.Front(front));
    EXPECT_TRUE(front.ScheduleRestart);
    // A slip of a picture a discard took meanwhile changes nothing.
    const std::uint64_t before = front.Taken;
    queue.Discard(200.0);
    Queue(queue, 9.0, 200.0);
    queue.Slip(before, 300.0);
    EXPECT_DOUBLE_EQ(FrontTarget(queue), 200.0);
}
