// Pictures into 24-bit bitmaps: a direct row copy when the picture already
// has the bitmap's layout, the scaler otherwise.
#include "MediaTestSupport.h"
#include "media/AVUtilEntries.h"
#include "media/FFUtils.h"
#include "media/ScalerPicture.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

namespace {

class FrameToBitmapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadSystemLibraries()); }
    void TearDown() override { ResetToRGBContext(Context); }

    // A BGR24 picture whose pixel (x, y) is (x, y, x + y) mod 256.
    void MakeBgr(int width, int height, int linesize) {
        Pixels.assign(static_cast<size_t>(linesize) * height, 0xEE);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = &Pixels[static_cast<size_t>(y) * linesize + x * 3];
                p[0] = static_cast<std::uint8_t>(x);
                p[1] = static_cast<std::uint8_t>(y);
                p[2] = static_cast<std::uint8_t>(x + y);
            }
        Data[0] = Pixels.data();
        Linesize[0] = linesize;
    }

    void ExpectBitmapMatches(int width, int height) {
        const Bitmap24& bitmap = *Context.Bitmap;
        ASSERT_EQ(bitmap.Width, width);
        ASSERT_EQ(bitmap.Height, height);
        ASSERT_EQ(bitmap.Stride, Bitmap24::RowLength(width));
        for (int y = 0; y < height; y += 7)
            for (int x = 0; x < width; x += 5) {
                const std::uint8_t* p = bitmap.Row(y) + x * 3;
                ASSERT_EQ(p[0], x % 256) << x << "," << y;
                ASSERT_EQ(p[1], y % 256) << x << "," << y;
                ASSERT_EQ(p[2], (x + y) % 256) << x << "," << y;
            }
    }

    TToRGBContext Context;
    std::vector<std::uint8_t> Pixels;
    const std::uint8_t* Data[4] = {};
    int Linesize[4] = {};
};

TEST_F(FrameToBitmapTest, MatchingLayoutIsCopiedDirectly) {
    MakeBgr(100, 50, Bitmap24::RowLength(100));
    ASSERT_TRUE(FrameToBitmap(Context, Data, Linesize, AV_PIX_FMT_BGR24, 100, 50));
    EXPECT_EQ(Context.SourceData, Pixels.data());
    EXPECT_FALSE(Context.ScaleContext);
    EXPECT_EQ(Context.BufferSize, 0);
    ExpectBitmapMatches(100, 50);
}

TEST_F(FrameToBitmapTest, OddWidthGoesThroughTheScaler) {
    MakeBgr(101, 50, Bitmap24::RowLength(101));
    ASSERT_TRUE(FrameToBitmap(Context, Data, Linesize, AV_PIX_FMT_BGR24, 101, 50));
    EXPECT_TRUE(Context.ScaleContext);
    EXPECT_EQ(Context.SourceData, Context.PictureData[0]);
    // Rows aligned for the scaler's vectors, room for it past the end.
    EXPECT_EQ(Context.PictureLinesize[0] % kScalerAlign, 0);
    EXPECT_GE(Context.BufferSize, Context.PictureLinesize[0] * 51 + kScalerPadding);
    ExpectBitmapMatches(101, 50);
}

TEST_F(FrameToBitmapTest, WiderLineSizeGoesThroughTheScaler) {
    MakeBgr(100, 50, 320);
    ASSERT_TRUE(FrameToBitmap(Context, Data, Linesize, AV_PIX_FMT_BGR24, 100, 50));
    EXPECT_TRUE(Context.ScaleContext);
    ExpectBitmapMatches(100, 50);
}

TEST_F(FrameToBitmapTest, YuvPictureIsConvertedAndTheBufferOnlyGrows) {
    ff::FramePtr frame(ff::avutil.av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 64;
    frame->height = 32;
    std::vector<std::uint8_t> y(64 * 32, 235), u(32 * 16, 128), v(32 * 16, 128);
    frame->data[0] = y.data();
    frame->data[1] = u.data();
    frame->data[2] = v.data();
    frame->linesize[0] = 64;
    frame->linesize[1] = frame->linesize[2] = 32;
    ASSERT_TRUE(FrameToBitmap(Context, frame.get()));
    const std::uint8_t* p = Context.Bitmap->Row(10) + 20 * 3;
    EXPECT_GE(p[0], 250);
    EXPECT_GE(p[1], 250);
    EXPECT_GE(p[2], 250);
    int grown = Context.BufferSize;
    frame->width = 32;
    frame->height = 16;
    ASSERT_TRUE(FrameToBitmap(Context, frame.get()));
    EXPECT_EQ(Context.BufferSize, grown);
    EXPECT_EQ(Context.Bitmap->Width, 32);
    for (int i = 0; i < 4; ++i)
        frame->data[i] = nullptr;
}

TEST_F(FrameToBitmapTest, ResetClearsEverything) {
    MakeBgr(101, 10, Bitmap24::RowLength(101));
    ASSERT_TRUE(FrameToBitmap(Context, Data, Linesize, AV_PIX_FMT_BGR24, 101, 10));
    ResetToRGBContext(Context);
    EXPECT_FALSE(Context.Bitmap);
    EXPECT_FALSE(Context.Buffer);
    EXPECT_FALSE(Context.ScaleContext);
    EXPECT_EQ(Context.BufferSize, 0);
    EXPECT_EQ(Context.SourceData, nullptr);
    EXPECT_EQ(Context.DstPixFmt, AV_PIX_FMT_BGR24);
}

TEST_F(FrameToBitmapTest, EmptyPictureIsRefused) {
    EXPECT_FALSE(FrameToBitmap(Context, Data, Linesize, AV_PIX_FMT_BGR24, 0, 10));
    EXPECT_FALSE(FrameToBitmap(Context, nullptr));
}

} // namespace

TEST_F(FrameToBitmapTest, YuvPictureConvertsWithItsOwnMatrix) {
    // Pure red coded with each matrix: the bitmap is red only when the
    // picture converts with the matrix it was coded with.
    struct Case {
        const char* Name;
        int Width, Height, ColourSpace, Range;
        std::uint8_t Y, Cb, Cr;
    };
    const Case cases[] = {
        {"HD BT.709", 1280, 720, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 63, 102, 240},
        {"HD untagged", 1280, 720, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, 63, 102, 240},
        {"HD BT.601", 1280, 720, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG, 81, 90, 240},
        {"SD untagged", 640, 480, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, 81, 90, 240},
        {"SD BT.709", 640, 480, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 63, 102, 240},
        {"full range BT.709", 1280, 720, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, 54, 99, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ff::FramePtr frame(ff::avutil.av_frame_alloc());
        frame->format = AV_PIX_FMT_YUV444P;
        frame->width = c.Width;
        frame->height = c.Height;
        frame->colorspace = static_cast<AVColorSpace>(c.ColourSpace);
        frame->color_range = static_cast<AVColorRange>(c.Range);
        ASSERT_GE(ff::avutil.av_frame_get_buffer(frame.get(), 0), 0);
        const std::uint8_t values[3] = {c.Y, c.Cb, c.Cr};
        for (int plane = 0; plane < 3; ++plane)
            for (int y = 0; y < c.Height; ++y)
                std::fill_n(frame->data[plane] + y * frame->linesize[plane], c.Width,
                            values[plane]);
        ASSERT_TRUE(FrameToBitmap(Context, frame.get()));
        const std::uint8_t* p = Context.Bitmap->Row(c.Height / 2) + c.Width / 2 * 3;
        EXPECT_LE(p[0], 4) << "blue";
        EXPECT_LE(p[1], 4) << "green";
        EXPECT_GE(p[2], 251) << "red";
    }
}
