// The picture copies the scaler writes into, driven with the picture sizes
// whose rows are not a multiple of the scaler's vectors. Meant to run under
// valgrind (check-pictures.sh): the scaler lives in an uninstrumented
// library, so only a memory checker of the whole process sees it write past
// a buffer. The pictures are checked too, so the program is a test of its own.
#include "../player/PlayerTestSupport.h"

#include "media/FFUtils.h"

#include <cstdlib>
#include <cstring>

namespace {

// A picture of one grey (luma 180, neutral chroma) in `format`.
ff::FramePtr GreyPicture(AVPixelFormat format, int width, int height) {
    ff::FramePtr frame(ff::avutil.av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (ff::avutil.av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    const int chromaHeight = (height + 1) / 2;
    std::memset(frame->data[0], 180, static_cast<std::size_t>(frame->linesize[0]) * height);
    std::memset(frame->data[1], 128, static_cast<std::size_t>(frame->linesize[1]) * chromaHeight);
    std::memset(frame->data[2], 128, static_cast<std::size_t>(frame->linesize[2]) * chromaHeight);
    return frame;
}

// Widths around the ones a phone clip stood upright has (360), odd and even.
const int kWidths[] = {2, 6, 14, 22, 30, 34, 58, 98, 118, 178, 358, 360, 362, 366, 638, 1078};

std::string PhoneClip() {
    const char* made = std::getenv("VANTREL_PHONE_CLIP");
    return made ? made : "";
}

} // namespace

class PicturePathsTest : public PlayerTest {};

TEST_F(PicturePathsTest, FrameToBitmapFillsEveryWidthWithThePicture) {
    TToRGBContext context;
    for (int width : kWidths) {
        ff::FramePtr frame = GreyPicture(AV_PIX_FMT_YUV420P, width, 9);
        ASSERT_TRUE(frame);
        ASSERT_TRUE(FrameToBitmap(context, frame.get())) << width;
        const Bitmap24& bitmap = *context.Bitmap;
        ASSERT_EQ(bitmap.Width, width);
        const std::uint8_t* last = bitmap.Row(8) + (width - 1) * 3;
        EXPECT_NEAR(last[0], 190, 12) << width; // (180 - 16) * 255 / 219
        EXPECT_NEAR(last[2], 190, 12) << width;
    }
}

TEST_F(PicturePathsTest, PlayerShowsAndHooksAnUprightPhoneClip) {
    if (PhoneClip().empty()) GTEST_SKIP() << "VANTREL_PHONE_CLIP names no clip";
    TFFPlayer player;
    player.DisableAudio = true;
    player.Hook = true;
    std::atomic<int> hooked{0};
    player.OnHook = [&](TCustomPlayer*, Bitmap24& bitmap, const std::int64_t) {
        bitmap.Row(bitmap.Height - 1)[0] = 255;
        ++hooked;
    };
    TRecordingSurface surface(181, 321); // shown smaller, at an odd size
    ASSERT_TRUE(player.Open(PhoneClip(), &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 3; }, 60));
    player.Pause();
    const Bitmap24& frame = player.CurrentFrame();
    EXPECT_EQ(frame.Width, 360);
    EXPECT_EQ(frame.Height, 640);
    EXPECT_GT(hooked.load(), 0);
    player.Close(true);
}
