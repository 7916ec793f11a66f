// The encoding unit alone, with a scripted picture coding in place of an
// encoder: a picture given to a stream's thread is coded once per copy from
// the stream's time, while the stream's time moves on at once; a stop
// between the copies codes no more of them; an error of the stream's
// thread comes back to the thread that feeds it.
#include "EngineTestSupport.h"
#include "StageTestSupport.h"
#include "engine/StreamEncoding.h"
#include "media/AVUtilEntries.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Coded {
    int64_t Pts;
    int Quality;
    int Counter;
    bool operator==(const Coded&) const = default;
};

class StreamEncoding : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Picture.reset(ff::avutil.av_frame_alloc());
        ASSERT_TRUE(Picture);
        Picture->format = AV_PIX_FMT_GRAY8;
        Picture->width = Picture->height = 16;
        ASSERT_GE(ff::avutil.av_frame_get_buffer(Picture.get(), 0), 0);
        Streams.emplace_back();
        TOutputStream& ost = Streams.back();
        ost.MediaType = AVMEDIA_TYPE_VIDEO;
        ost.EncodingNeeded = ost.EncoderOpen = true;
        Source.Quality = 7;
    }

    // The encoding whose coding runs `onCode` after it noted each copy; its
    // fitting notes the thread and gives Fitted (null: drops the picture).
    std::unique_ptr<TStreamEncoding> Make(std::function<void()> onCode = {},
                                          bool fitPictures = false) {
        TStageControl control{[this] { ++Waits; }, [this] { return Stopped.load(); }};
        TStreamEncoding::TPictureCoding coding{
            [this, onCode](TOutputStream&, const AVFrame* picture, int64_t pts, int quality,
                           int counter) {
                {
                    std::lock_guard lock(Lock);
                    Seen.push_back({pts, quality, counter});
                    CodedPictures.push_back(picture->data[0]);
                }
                if (onCode) onCode();
            },
            [this](TOutputStream&, const TInputStream&, AVFrame* picture) -> const AVFrame* {
                std::lock_guard lock(Lock);
                FittedOn.push_back(std::this_thread::get_id());
                return picture->data[0] == Picture->data[0] ? Fitted : nullptr;
            }};
        auto encoding = std::make_unique<TStreamEncoding>(Writer, control, coding, nullptr);
        encoding->Start(Streams, fitPictures);
        return encoding;
    }

    std::vector<Coded> Taken() {
        std::lock_guard lock(Lock);
        return Seen;
    }

    TPacketWriter Writer{false};
    std::vector<TOutputStream> Streams;
    TInputStream Source;
    ff::FramePtr Picture;
    std::atomic<bool> Stopped{false};
    std::atomic<int> Waits{0};
    std::mutex Lock;
    std::vector<Coded> Seen;                        // Lock
    std::vector<const std::uint8_t*> CodedPictures; // Lock: the pictures' first planes
    std::vector<std::thread::id> FittedOn;          // Lock
    const AVFrame* Fitted = nullptr;
};

} // namespace

TEST_F(StreamEncoding, APictureIsCodedOncePerCopyFromTheStreamsTimeWhichMovesOnAtOnce) {
    auto encoding = Make();
    TOutputStream& ost = Streams[0];
    ASSERT_TRUE(ost.Encoding) << "an open picture encoder gets a thread";
    ost.SyncOpts = 10;
    encoding->Give(ost, Source, Picture.get(), 3, 42);
    EXPECT_EQ(ost.SyncOpts, 13) << "the next picture's time is known before the coding";
    EXPECT_EQ(ost.FrameNumber, 3);
    encoding->Give(ost, Source, Picture.get(), 1, 43);
    TStreamEncoding::Flush(ost);
    const std::vector<Coded> expected{{10, 7, 42}, {11, 7, 42}, {12, 7, 42}, {13, 7, 43}};
    EXPECT_EQ(Taken(), expected);
    EXPECT_EQ(Waits.load(), 2) << "a pause is seen between the copies of a picture";
    encoding->Stop();
}

TEST_F(StreamEncoding, AStopBetweenCopiesCodesNothingMore) {
    auto encoding = Make([this] { Stopped = true; });
    TOutputStream& ost = Streams[0];
    encoding->Give(ost, Source, Picture.get(), 5, 1);
    TStreamEncoding::Flush(ost);
    EXPECT_EQ(Taken().size(), 1u) << "copies coded after the stop";
    encoding->Stop();
}

TEST_F(StreamEncoding, AnErrorOnTheStreamsThreadComesBackToTheFeedingThread) {
    auto encoding = Make([] { throw FFmpegException("Video encoding failed"); });
    TOutputStream& ost = Streams[0];
    encoding->Give(ost, Source, Picture.get(), 1, 1);
    EXPECT_EQ(stagetest::Raised([&] { TStreamEncoding::Flush(ost); }), "Video encoding failed");
    EXPECT_EQ(stagetest::Raised([&] { encoding->Give(ost, Source, Picture.get(), 1, 2); }),
              "Video encoding failed")
        << "a picture given after the error";
    encoding->Stop();
}

// With the fitting on the stream's thread, each picture given is fitted
// there once, ahead of its copies, which code the fitted picture; a picture
// the fitting drops is not coded, and its copies still count in the
// stream's time. Without it the picture given is coded as it is.
TEST_F(StreamEncoding, TheStreamsThreadFitsEachPictureOnceWhenAskedTo) {
    ff::FramePtr fitted(ff::avutil.av_frame_alloc());
    fitted->format = AV_PIX_FMT_GRAY8;
    fitted->width = fitted->height = 8;
    ASSERT_GE(ff::avutil.av_frame_get_buffer(fitted.get(), 0), 0);
    Fitted = fitted.get();
    ff::FramePtr other(ff::avutil.av_frame_alloc());
    ASSERT_GE(ff::avutil.av_frame_ref(other.get(), Picture.get()), 0);
    ASSERT_GE(ff::avutil.av_frame_make_writable(other.get()), 0); // buffers of its own
    auto encoding = Make({}, /*fitPictures=*/true);
    TOutputStream& ost = Streams[0];
    EXPECT_TRUE(ost.Video.FitOnStage);
    encoding->Give(ost, Source, Picture.get(), 2, 1);
    encoding->Give(ost, Source, other.get(), 3, 2);
    TStreamEncoding::Flush(ost);
    EXPECT_EQ(ost.SyncOpts, 5);
    {
        std::lock_guard lock(Lock);
        const std::vector<const std::uint8_t*> coded{fitted->data[0], fitted->data[0]};
        EXPECT_EQ(CodedPictures, coded);
        ASSERT_EQ(FittedOn.size(), 2u);
        EXPECT_NE(FittedOn[0], std::this_thread::get_id());
        EXPECT_EQ(FittedOn[1], FittedOn[0]);
    }
    encoding->Stop();

    Streams.clear();
    Streams.emplace_back();
    Streams[0].MediaType = AVMEDIA_TYPE_VIDEO;
    Streams[0].EncodingNeeded = Streams[0].EncoderOpen = true;
    CodedPictures.clear();
    FittedOn.clear();
    auto plain = Make();
    EXPECT_FALSE(Streams[0].Video.FitOnStage);
    plain->Give(Streams[0], Source, other.get(), 1, 3);
    TStreamEncoding::Flush(Streams[0]);
    EXPECT_TRUE(FittedOn.empty());
    ASSERT_EQ(CodedPictures.size(), 1u);
    EXPECT_EQ(CodedPictures[0], other->data[0]);
    plain->Stop();
}
