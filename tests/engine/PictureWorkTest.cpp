// The work on decoded pictures driven alone: turning upright per stream,
// the hook's calls, its drawing, its stop and its failures, and the errors
// that end a conversion.
#include "EngineTestSupport.h"

#include "engine/PictureWork.h"
#include "engine/StageFault.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace {

class PictureWork : public ::testing::Test {
protected:
    void SetUp() override { RequireLibraries(); }
    void TearDown() override { ::unsetenv("VANTREL_STAGE_FAULT"); }

    std::unique_ptr<TPictureWork> Make(bool deinterlace = false) {
        return std::make_unique<TPictureWork>(
            TPictureWork::THooks{nullptr, Hook, Modules, false}, deinterlace,
            [this](int, const std::string& text) { Lines.push_back(text); });
    }

    bool Logged(const std::string& text) const {
        for (const std::string& line : Lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

    // A black grey picture but for a white top-left pixel.
    static ff::FramePtr Grey(int width, int height) {
        ff::FramePtr frame = Picture(width, height, AV_PIX_FMT_GRAY8);
        for (int y = 0; y < height; ++y)
            std::memset(frame->data[0] + y * frame->linesize[0], 0, width);
        frame->data[0][0] = 255;
        return frame;
    }

    // A black YUV picture.
    static ff::FramePtr Black(int width, int height) {
        ff::FramePtr frame = Picture(width, height, AV_PIX_FMT_YUV420P);
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane ? height / 2 : height;
            const int columns = plane ? width / 2 : width;
            for (int y = 0; y < rows; ++y)
                std::memset(frame->data[plane] + y * frame->linesize[plane], plane ? 128 : 16,
                            columns);
        }
        return frame;
    }

    static ff::FramePtr Picture(int width, int height, AVPixelFormat format) {
        ff::FramePtr frame(ff::avutil.av_frame_alloc());
        frame->format = format;
        frame->width = width;
        frame->height = height;
        EXPECT_GE(ff::avutil.av_frame_get_buffer(frame.get(), 0), 0);
        return frame;
    }

    TEngineHookCallback Hook;
    TFrameHookList Modules;
    std::vector<std::string> Lines;
};

} // namespace

// Each stream keeps its own turn: a quarter turn clockwise moves the
// top-left pixel to the top-right of a picture on its side, an upright
// stream's picture is handed on as it is; every picture counts.
TEST_F(PictureWork, TurnsEachStreamUprightAndCountsEveryPicture) {
    auto work = Make();
    work->AddStream(0, 0, 0, 90);
    work->AddStream(1, 0, 1, 0);
    ff::FramePtr lying = Grey(4, 2);
    const AVFrame* upright = work->Work(0, lying.get(), 0);
    ASSERT_EQ(upright->width, 2);
    ASSERT_EQ(upright->height, 4);
    EXPECT_EQ(upright->data[0][1], 255);
    EXPECT_EQ(upright->data[0][0], 0);
    EXPECT_EQ(lying->width, 4);
    EXPECT_EQ(lying->data[0][0], 255);
    ff::FramePtr straight = Grey(4, 2);
    EXPECT_EQ(work->Work(1, straight.get(), 0), straight.get());
    // A new size on the turned stream gets a filter of its own.
    ff::FramePtr wider = Grey(6, 2);
    upright = work->Work(0, wider.get(), 0);
    EXPECT_EQ(upright->width, 2);
    EXPECT_EQ(upright->height, 6);
    EXPECT_EQ(work->Pictures(), 3);
    EXPECT_FALSE(work->HookOn());
}

// The hook gets the pictures in the order they come, with their time and
// count, and what it draws comes back in the picture handed on, never in
// the decoder's.
TEST_F(PictureWork, TheHookSeesEachPictureInOrderAndItsDrawingReachesThePicture) {
    std::vector<std::pair<int64_t, int>> calls;
    Hook = [&calls](TCustomFFmpeg*, Bitmap24* bitmap, bool&, bool&, int64_t pts, int count) {
        calls.emplace_back(pts, count);
        std::memset(bitmap->Data.data(), 255, bitmap->Data.size());
    };
    auto work = Make();
    work->AddStream(0, 0, 0, 0);
    ASSERT_TRUE(work->HookOn());
    for (int64_t pts : {40000, 80000, 120000}) {
        ff::FramePtr decoded = Black(16, 16);
        const AVFrame* drawn = work->Work(0, decoded.get(), pts);
        ASSERT_NE(drawn, decoded.get());
        EXPECT_GT(drawn->data[0][0], 200);
        EXPECT_EQ(decoded->data[0][0], 16);
    }
    const std::vector<std::pair<int64_t, int>> expected{{40000, 1}, {80000, 2}, {120000, 3}};
    EXPECT_EQ(calls, expected);
}

// Pictures handed on and still held (by an encoder's queue, say) keep
// what the hook drew on them while the next ones are worked on; the
// decoder's picture is never drawn on, whatever its format.
TEST_F(PictureWork, HeldPicturesKeepTheirDrawingAndTheDecodedOneIsNotDrawnOn) {
    int calls = 0;
    Hook = [&calls](TCustomFFmpeg*, Bitmap24* bitmap, bool&, bool&, int64_t, int) {
        std::memset(bitmap->Data.data(), ++calls % 2 ? 255 : 0, bitmap->Data.size());
    };
    auto work = Make();
    std::vector<ff::FramePtr> held;
    for (int i = 0; i < 4; ++i) {
        ff::FramePtr decoded = Black(16, 16);
        held.emplace_back(ff::avutil.av_frame_alloc());
        ASSERT_GE(ff::avutil.av_frame_ref(held.back().get(), work->Work(0, decoded.get(), 0)), 0);
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(held[i]->data[0][0] > 128, i % 2 == 0) << "picture " << i;
    EXPECT_EQ(calls, 4);

    // A picture in the bitmap's own format and row length, which the
    // bitmap could take as it is, is drawn on in a copy too.
    ff::FramePtr bgr = Picture(64, 16, AV_PIX_FMT_BGR24);
    ASSERT_EQ(bgr->linesize[0], Bitmap24::RowLength(64));
    for (int y = 0; y < 16; ++y)
        std::memset(bgr->data[0] + y * bgr->linesize[0], 40, 192);
    const AVFrame* drawn = work->Work(0, bgr.get(), 0);
    ASSERT_NE(drawn, bgr.get());
    EXPECT_EQ(drawn->data[0][0], 255); // the fifth call draws white
    EXPECT_EQ(bgr->data[0][0], 40);
    EXPECT_EQ(held[3]->data[0][0], held[1]->data[0][0]);
}

// A hook that asks to stop is not called again and later pictures pass
// untouched; one that throws is logged, its drawing dropped, and it stays.
TEST_F(PictureWork, AHookStopsWhenItAsksAndAThrowingOneIsLoggedAndKept) {
    int calls = 0;
    Hook = [&calls](TCustomFFmpeg*, Bitmap24*, bool& stop, bool&, int64_t, int) {
        stop = ++calls == 2;
    };
    auto work = Make();
    ff::FramePtr decoded = Black(16, 16);
    work->Work(0, decoded.get(), 0);
    work->Work(0, decoded.get(), 0);
    EXPECT_FALSE(work->HookOn());
    EXPECT_FALSE(Hook);
    EXPECT_EQ(work->Work(0, decoded.get(), 0), decoded.get());
    EXPECT_EQ(calls, 2);

    Hook = [](TCustomFFmpeg*, Bitmap24* bitmap, bool&, bool&, int64_t, int) {
        std::memset(bitmap->Data.data(), 255, bitmap->Data.size());
        throw std::runtime_error("no ink");
    };
    auto throwing = Make();
    const AVFrame* kept = throwing->Work(0, decoded.get(), 0);
    EXPECT_EQ(kept->data[0][0], 16);
    EXPECT_TRUE(Logged("Error occurs OnCustomHook: no ink"));
    EXPECT_TRUE(throwing->HookOn());
}

// A tone mapping that cannot be built names the stream; the injected
// failure of the picture stage comes at its count with its message.
TEST_F(PictureWork, FailuresRaiseTheirMessages) {
    Hook = [](TCustomFFmpeg*, Bitmap24*, bool&, bool&, int64_t, int) {};
    auto work = Make();
    work->AddStream(3, 1, 2, 0);
    work->ToneMapAheadOfHook(3, "no_such_filter_here");
    ff::FramePtr decoded = Black(16, 16);
    try {
        work->Work(3, decoded.get(), 0);
        FAIL() << "a broken tone mapping went through";
    } catch (const FFmpegException& e) {
        EXPECT_NE(std::string(e.what()).find("stream #1.2"), std::string::npos) << e.what();
    }

    ::setenv("VANTREL_STAGE_FAULT", "picture:2", 1);
    auto faulty = Make();
    EXPECT_NO_THROW(faulty->Work(0, decoded.get(), 0));
    try {
        faulty->Work(0, decoded.get(), 0);
        FAIL() << "the injected failure did not come";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(e.what(), TStageFault::FaultText("picture"));
    }
}

// Deinterlacing blends the fields (black and white lines come out grey)
// in a copy: the decoder's picture is not written.
TEST_F(PictureWork, DeinterlacingBlendsTheLinesOfACopy) {
    auto work = Make(/*deinterlace=*/true);
    ff::FramePtr decoded = Grey(16, 16);
    for (int y = 0; y < 16; ++y)
        std::memset(decoded->data[0] + y * decoded->linesize[0], y % 2 ? 255 : 0, 16);
    const AVFrame* done = work->Work(0, decoded.get(), 0);
    ASSERT_NE(done, decoded.get());
    ASSERT_EQ(done->width, 16);
    for (int y = 2; y < 14; ++y) {
        const int value = done->data[0][y * done->linesize[0] + 8];
        EXPECT_GT(value, 40) << "line " << y;
        EXPECT_LT(value, 215) << "line " << y;
    }
    EXPECT_EQ(decoded->data[0][decoded->linesize[0]], 255);
    EXPECT_FALSE(Logged("Deinterlacing failed."));
}

// The hook's bitmap of a picture whose rows are not a multiple of any
// vector width (odd sizes, full and half chroma) holds every row of it, the
// last too, and the hook's drawing comes back into every row: the left
// half white and the right half black becomes the other way round.
TEST_F(PictureWork, TheHookSeesAndDrawsEveryRowOfOddSizedPictures) {
    Hook = [](TCustomFFmpeg*, Bitmap24* bitmap, bool& stop, bool&, int64_t, int) {
        for (const int y : {0, bitmap->Height - 1}) {
            const std::uint8_t* row = bitmap->Row(y);
            if (row[0] < 200 || row[3 * (bitmap->Width - 1)] > 50) stop = true;
        }
        for (int y = 0; y < bitmap->Height; ++y)
            for (int x = 0; x < 3 * bitmap->Width; ++x)
                bitmap->Row(y)[x] = static_cast<std::uint8_t>(255 - bitmap->Row(y)[x]);
    };
    for (const auto& [width, height, format] :
         {std::tuple{362, 202, AV_PIX_FMT_YUV420P}, std::tuple{361, 201, AV_PIX_FMT_YUV444P}}) {
        auto work = Make();
        ff::FramePtr decoded = Picture(width, height, format);
        const bool full = format == AV_PIX_FMT_YUV444P;
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane && !full ? (height + 1) / 2 : height;
            const int columns = plane && !full ? (width + 1) / 2 : width;
            for (int y = 0; y < rows; ++y) {
                std::uint8_t* row = decoded->data[plane] + y * decoded->linesize[plane];
                std::memset(row, plane ? 128 : 235, columns / 2);
                std::memset(row + columns / 2, plane ? 128 : 16, columns - columns / 2);
            }
        }
        const AVFrame* drawn = work->Work(0, decoded.get(), 0);
        ASSERT_TRUE(work->HookOn()) << width << "x" << height << ": the hook saw a wrong picture";
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = drawn->data[0] + y * drawn->linesize[0];
            ASSERT_LT(row[2], 50) << width << "x" << height << " row " << y;
            ASSERT_GT(row[width - 3], 200) << width << "x" << height << " row " << y;
        }
    }
}

// A hook that gives its bitmap another size has its drawing dropped (the
// picture passes as it came) and is stopped.
TEST_F(PictureWork, AHookThatResizesItsBitmapIsStopped) {
    Hook = [](TCustomFFmpeg*, Bitmap24* bitmap, bool&, bool&, int64_t, int) {
        bitmap->SetSize(bitmap->Width * 2, bitmap->Height * 2);
        std::memset(bitmap->Data.data(), 255, bitmap->Data.size());
    };
    auto work = Make();
    ff::FramePtr decoded = Black(16, 16);
    const AVFrame* passed = work->Work(0, decoded.get(), 0);
    EXPECT_EQ(passed->data[0][0], 16);
    EXPECT_EQ(passed->data[0][15 * passed->linesize[0] + 15], 16);
    EXPECT_FALSE(work->HookOn());
}
