// The frame-by-frame filter chain of sound ("af") and pictures (the tone
// mapping ahead of the hook): what comes out, rebuilding for a new shape,
// frames held back and failures.
#include "EngineTestSupport.h"

#include "engine/FilterChain.h"
#include "media/FFHandles.h"

#include <cstdint>
#include <cstring>

namespace {

class FilterChain : public ::testing::Test {
protected:
    void SetUp() override { RequireLibraries(); }

    // Packed 16-bit sound, every sample `value`.
    static ff::FramePtr Sound(int rate, int channels, int samples, int16_t value) {
        ff::FramePtr frame(ff::avutil.av_frame_alloc());
        frame->format = AV_SAMPLE_FMT_S16;
        frame->sample_rate = rate;
        frame->nb_samples = samples;
        ff::avutil.av_channel_layout_default(&frame->ch_layout, channels);
        EXPECT_GE(ff::avutil.av_frame_get_buffer(frame.get(), 0), 0);
        auto* data = reinterpret_cast<int16_t*>(frame->data[0]);
        for (int i = 0; i < samples * channels; ++i)
            data[i] = value;
        return frame;
    }

    // A grey picture, black but for a white first column.
    static ff::FramePtr Picture(int width, int height) {
        ff::FramePtr frame(ff::avutil.av_frame_alloc());
        frame->format = AV_PIX_FMT_GRAY8;
        frame->width = width;
        frame->height = height;
        EXPECT_GE(ff::avutil.av_frame_get_buffer(frame.get(), 0), 0);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = frame->data[0] + y * frame->linesize[0];
            std::memset(row, 0, width);
            row[0] = 255;
        }
        return frame;
    }

    static int16_t FirstSample(const AVFrame* frame) {
        return reinterpret_cast<const int16_t*>(frame->data[0])[0];
    }
};

} // namespace

// A gain halves every block; a block of another rate and channel count gets
// a graph of its own instead of being read as the first block's shape.
TEST_F(FilterChain, SoundGoesThroughAndTheGraphFollowsTheShape) {
    TAudioChain chain;
    chain.SetText("volume=0.5:precision=fixed");
    ASSERT_FALSE(chain.Empty());
    ff::FramePtr mono = Sound(8000, 1, 256, 1000);
    const AVFrame* out = chain.Run(mono.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->sample_rate, 8000);
    EXPECT_EQ(out->ch_layout.nb_channels, 1);
    EXPECT_EQ(out->nb_samples, 256);
    EXPECT_EQ(FirstSample(out), 500);

    ff::FramePtr stereo = Sound(16000, 2, 512, -2000);
    out = chain.Run(stereo.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->sample_rate, 16000);
    EXPECT_EQ(out->ch_layout.nb_channels, 2);
    EXPECT_EQ(out->nb_samples, 512);
    EXPECT_EQ(FirstSample(out), -1000);
    EXPECT_FALSE(chain.Failed());
}

// A filter that gathers blocks holds the first ones back: no frame, and
// no failure either, until it has enough.
TEST_F(FilterChain, HeldBackBlocksAreNoFailure) {
    TAudioChain chain;
    chain.SetText("asetnsamples=n=1024:p=0");
    ff::FramePtr block = Sound(8000, 1, 256, 7);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(chain.Run(block.get()), nullptr) << i;
        EXPECT_FALSE(chain.Failed()) << i;
    }
    const AVFrame* out = chain.Run(block.get());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->nb_samples, 1024);
    EXPECT_EQ(FirstSample(out), 7);
}

// Pictures are turned by the chain; a larger picture rebuilds the graph, so
// its white column ends up at its own right edge.
TEST_F(FilterChain, PicturesGoThroughAndTheGraphFollowsTheSize) {
    TPictureChain chain;
    chain.SetText("hflip");
    ff::FramePtr small = Picture(16, 4);
    const AVFrame* out = chain.Run(small.get());
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->width, 16);
    EXPECT_EQ(out->data[0][15], 255);
    EXPECT_EQ(out->data[0][0], 0);

    ff::FramePtr wide = Picture(40, 4);
    out = chain.Run(wide.get());
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->width, 40);
    EXPECT_EQ(out->data[0][39], 255);
    EXPECT_EQ(out->data[0][15], 0);
}

// Without text a frame passes as it is; a text no graph can be built from
// fails, for sound and pictures alike, and the failure stays noted.
TEST_F(FilterChain, EmptyTextPassesAndBadTextFails) {
    TAudioChain sound;
    ff::FramePtr block = Sound(8000, 1, 64, 3);
    EXPECT_TRUE(sound.Empty());
    EXPECT_EQ(sound.Run(block.get()), block.get());

    sound.SetText("no_such_filter");
    EXPECT_EQ(sound.Run(block.get()), nullptr);
    EXPECT_TRUE(sound.Failed());

    TPictureChain pictures;
    pictures.SetText("scale=w=-7:h=oops");
    ff::FramePtr picture = Picture(16, 4);
    EXPECT_EQ(pictures.Run(picture.get()), nullptr);
    EXPECT_TRUE(pictures.Failed());
}
