// The video output driven alone, without a conversion: how often a picture
// is written for each sync method and where copies stop at the end of the
// sources, and the fitting of pictures to the encoder (bands that follow a
// new picture size, scaling into buffers an encoder may still hold).
#include "EngineTestSupport.h"
#include "engine/FFmpegPreview.h"
#include "engine/VideoOutput.h"
#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class VideoOutput : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Encoder.reset(ff::avcodec.avcodec_alloc_context3(nullptr));
        ASSERT_TRUE(Encoder);
        Encoder->time_base = AVRational{1, 25};
        Encoder->width = 32;
        Encoder->height = 16;
        Encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        Stream.Encoder = Encoder.get();
        Stream.MediaType = AVMEDIA_TYPE_VIDEO;
        Stream.Video.Temp.reset(ff::avutil.av_frame_alloc());
    }

    std::unique_ptr<TVideoOutput> Make(const TVideoOptions& options) {
        TStageControl control{[] {}, [] { return false; }};
        return std::make_unique<TVideoOutput>(
            options,
            TVideoOutput::TLinks{Encoding, Progress, Writer, Inputs, SourceDuration, control,
                                 TVideoPreview{PreviewFlags, OnPreview, nullptr, Previewer}},
            [this](int, const std::string& text) { Lines.push_back(text); });
    }

    int Logged(const std::string& text) const {
        int count = 0;
        for (const std::string& line : Lines)
            count += line.find(text) != std::string::npos ? 1 : 0;
        return count;
    }

    // A grey picture whose left half is white and right half black.
    static ff::FramePtr Halves(int width, int height) {
        ff::FramePtr frame(ff::avutil.av_frame_alloc());
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = width;
        frame->height = height;
        EXPECT_GE(ff::avutil.av_frame_get_buffer(frame.get(), 0), 0);
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane ? height / 2 : height;
            const int columns = plane ? width / 2 : width;
            for (int y = 0; y < rows; ++y) {
                std::uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                std::memset(row, plane ? 128 : 235, columns / 2);
                std::memset(row + columns / 2, plane ? 128 : 16, columns - columns / 2);
            }
        }
        return frame;
    }

    TPacketWriter Writer{false};
    TStreamEncoding Encoding{Writer, TStageControl{[] {}, [] { return false; }}, {}, nullptr};
    TProgressReport Progress{false};
    std::vector<TInputStream> Inputs;
    int64_t SourceDuration = 0;
    std::atomic<int> PreviewFlags{0};
    TEnginePreviewCallback OnPreview;
    std::unique_ptr<TPreviewer> Previewer;
    ff::CodecContextPtr Encoder;
    TOutputStream Stream;
    TInputStream Source;
    std::vector<std::string> Lines;
};

} // namespace

// At a constant rate a picture that comes late is repeated to fill the gap
// and one that comes early is dropped; at a variable rate nothing is
// repeated and a late picture moves the stream's clock; with no sync each
// picture is written once at its own time.
TEST_F(VideoOutput, PicturesAreDroppedAndRepeatedByTheSyncMethod) {
    TVideoOptions options;
    options.VideoSyncMethod = 1;
    auto constant = Make(options);
    Stream.SyncOpts = 10;
    EXPECT_EQ(constant->Copies(Stream, 10.2), 1);
    EXPECT_FALSE(Progress.TakeChanged());
    EXPECT_EQ(constant->Copies(Stream, 13.0), 3) << "three frames late";
    EXPECT_EQ(constant->Copies(Stream, 8.0), 0) << "two frames early";
    EXPECT_NE(Progress.Line(false, nullptr, 1.0, 0.0, 0).find("dup=2 drop=1"), std::string::npos);

    options.VideoSyncMethod = 2;
    auto variable = Make(options);
    EXPECT_EQ(variable->Copies(Stream, 14.0), 1);
    EXPECT_EQ(Stream.SyncOpts, 14) << "the clock follows a late picture";
    EXPECT_EQ(variable->Copies(Stream, 13.2), 0);

    options.VideoSyncMethod = 0;
    auto passing = Make(options);
    EXPECT_EQ(passing->Copies(Stream, 30.4), 1);
    EXPECT_EQ(Stream.SyncOpts, 30);
}

// Copies never carry the stream more than a second past the end of the
// sources: the gap is cut there, said once, and the copies cut are taken
// back from the report; a picture itself is always written.
TEST_F(VideoOutput, CopiesStopASecondPastTheEndOfTheSources) {
    TVideoOptions options;
    options.VideoSyncMethod = 1;
    SourceDuration = 2 * AV_TIME_BASE; // with the second of room: 75 frames
    auto video = Make(options);
    Stream.SyncOpts = 70;
    EXPECT_EQ(video->Copies(Stream, 80.0), 5);
    Stream.SyncOpts = 75;
    EXPECT_EQ(video->Copies(Stream, 90.0), 1);
    EXPECT_EQ(Logged("pictures are not repeated beyond it"), 1);
    EXPECT_NE(Progress.Line(false, nullptr, 1.0, 0.0, 0).find("dup=4 "), std::string::npos)
        << "only the copies written count";

    SourceDuration = 0; // unknown: no limit
    Stream.SyncOpts = 70;
    EXPECT_EQ(video->Copies(Stream, 80.0), 10);
}

// A picture already in the encoder's size and format is handed on as it
// is; a larger one is scaled, and its bands follow a new picture size in
// proportion, with the size inside them logged once per change. A scaled
// picture the encoder still holds is not written over by the next one.
TEST_F(VideoOutput, PicturesAreCroppedAndScaledToTheEncoder) {
    auto video = Make(TVideoOptions{});
    ff::FramePtr fits = Halves(32, 16);
    EXPECT_EQ(video->Fit(Stream, Source, fits.get()), fits.get());

    // A band of 64 columns at the right of a 128x16 picture: what is left is
    // the white half, scaled to 32x16.
    Stream.Video.Crop = true;
    Stream.Video.RightBand = Stream.Video.FirstRightBand = 64;
    Stream.Video.FirstWidth = 128;
    Stream.Video.FirstHeight = 16;
    ff::FramePtr wide = Halves(128, 16);
    AVFrame* fitted = video->Fit(Stream, Source, wide.get());
    ASSERT_NE(fitted, nullptr);
    EXPECT_EQ(fitted->width, 32);
    EXPECT_EQ(fitted->height, 16);
    EXPECT_GT(fitted->data[0][31], 200) << "the black half was not cut off";
    ff::FramePtr held(ff::avutil.av_frame_alloc());
    ASSERT_GE(ff::avutil.av_frame_ref(held.get(), fitted), 0);
    const std::uint8_t heldCorner = held->data[0][31];

    // Twice the size: the band doubles, and the white half is left again.
    ff::FramePtr larger = Halves(256, 32);
    fitted = video->Fit(Stream, Source, larger.get());
    ASSERT_NE(fitted, nullptr);
    EXPECT_EQ(Stream.Video.RightBand, 128);
    EXPECT_GT(fitted->data[0][31 + 15 * fitted->linesize[0]], 200);
    EXPECT_NE(fitted->data[0], held->data[0]) << "a held picture was written over";
    EXPECT_EQ(held->data[0][31], heldCorner);
    EXPECT_EQ(Logged("frame size changed to 32x16"), 1);
    EXPECT_EQ(Logged("frame size changed to 64x16"), 1);
    EXPECT_EQ(Logged("frame size changed to 128x32"), 1);
}
