// Pooled picture buffers: the library's layout, a held picture left alone,
// buffers taken again once released, and buffers that outlive their pool.
#include "MediaTestSupport.h"
#include "media/AVUtilEntries.h"
#include "media/FFHandles.h"
#include "media/PicturePool.h"

#include <gtest/gtest.h>
#include <cstring>

namespace {

class PicturePoolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadSystemLibraries()); }

    static ff::FramePtr NewFrame() { return ff::FramePtr(ff::avutil.av_frame_alloc()); }
};

} // namespace

// Line sizes and the distances between the planes are the ones a picture
// of its own would have, so a reader cannot tell them apart.
TEST_F(PicturePoolTest, APooledPictureHasTheLibrarysLayout) {
    for (const int format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, AV_PIX_FMT_NV12}) {
        TPicturePool pool;
        ff::FramePtr pooled = NewFrame();
        ff::FramePtr own = NewFrame();
        own->width = 362;
        own->height = 202;
        own->format = format;
        ASSERT_GE(ff::avutil.av_frame_get_buffer(own.get(), 0), 0);
        ASSERT_TRUE(pool.Get(pooled.get(), 362, 202, format));
        EXPECT_EQ(pooled->width, 362);
        EXPECT_EQ(pooled->height, 202);
        EXPECT_EQ(pooled->format, format);
        EXPECT_TRUE(ff::avutil.av_frame_is_writable(pooled.get()));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(pooled->linesize[i], own->linesize[i]) << "plane " << i;
            EXPECT_EQ(pooled->data[i] == nullptr, own->data[i] == nullptr) << "plane " << i;
            if (i > 0 && own->data[i]) {
                EXPECT_EQ(pooled->data[i] - pooled->data[0], own->data[i] - own->data[0]);
            }
        }
        EXPECT_EQ(pooled->buf[0]->size, own->buf[0]->size);
    }
}

// A picture handed on and still held keeps its buffer and what was drawn
// in it; the next picture gets another buffer. Once released, a buffer is
// taken again instead of a new one.
TEST_F(PicturePoolTest, AHeldPictureIsLeftAloneAndAReleasedBufferIsTakenAgain) {
    TPicturePool pool;
    ff::FramePtr work = NewFrame();
    ASSERT_TRUE(pool.Get(work.get(), 64, 48, AV_PIX_FMT_YUV420P));
    std::memset(work->data[0], 77, 64);
    ff::FramePtr held = NewFrame();
    ASSERT_GE(ff::avutil.av_frame_ref(held.get(), work.get()), 0);
    const std::uint8_t* first = held->data[0];

    ASSERT_TRUE(pool.Get(work.get(), 64, 48, AV_PIX_FMT_YUV420P));
    EXPECT_NE(work->data[0], first);
    std::memset(work->data[0], 11, 64);
    EXPECT_EQ(held->data[0][63], 77);
    EXPECT_TRUE(ff::avutil.av_frame_is_writable(work.get()));

    // Both buffers back in the pool: two pictures at once get those two.
    const std::uint8_t* second = work->data[0];
    ff::avutil.av_frame_unref(held.get());
    ASSERT_TRUE(pool.Get(work.get(), 64, 48, AV_PIX_FMT_YUV420P));
    ff::FramePtr next = NewFrame();
    ASSERT_TRUE(pool.Get(next.get(), 64, 48, AV_PIX_FMT_YUV420P));
    const bool same = (work->data[0] == first && next->data[0] == second) ||
                      (work->data[0] == second && next->data[0] == first);
    EXPECT_TRUE(same);
    next.reset();

    // A new shape starts a new pool with its own layout.
    ASSERT_TRUE(pool.Get(work.get(), 32, 16, AV_PIX_FMT_GRAY8));
    EXPECT_EQ(work->width, 32);
    EXPECT_EQ(work->format, AV_PIX_FMT_GRAY8);
    EXPECT_EQ(work->data[1], nullptr);
}

// A picture may outlive the pool it came from (an encoder still holds it
// when the conversion ends); its buffer stays valid until it is released.
TEST_F(PicturePoolTest, APictureOutlivesItsPool) {
    ff::FramePtr kept = NewFrame();
    {
        TPicturePool pool;
        ASSERT_TRUE(pool.Get(kept.get(), 16, 16, AV_PIX_FMT_GRAY8));
        TPicturePool moved = std::move(pool);
        ff::FramePtr other = NewFrame();
        ASSERT_TRUE(moved.Get(other.get(), 16, 16, AV_PIX_FMT_GRAY8));
        EXPECT_NE(other->data[0], kept->data[0]);
    }
    std::memset(kept->data[0], 5, 16);
    EXPECT_EQ(kept->data[0][15], 5);
    kept.reset();
}
