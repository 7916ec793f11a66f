// The video side of a conversion's set-up alone, on streams made here: the
// colours of an HDR source (tone-mapped in the stream's graph, ahead of
// the hook, or kept with its depth) and the video filter graph (its output
// size, the upright picture going in, a fault in the filter text).
#include "EngineTestSupport.h"
#include "engine/ColourSetup.h"
#include "engine/VideoFilterGraph.h"
#include "media/AVCodecEntries.h"
#include "media/AVFilterEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/ToneMap.h"

#include <gtest/gtest.h>

#include <string>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
}

namespace {

struct ContextDeleter {
    void operator()(AVFormatContext* p) const { ff::avformat.avformat_free_context(p); }
};
using ContextPtr = std::unique_ptr<AVFormatContext, ContextDeleter>;

class VideoSetup : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Input.reset(ff::avformat.avformat_alloc_context());
        AVFormatContext* raw = nullptr;
        ASSERT_GE(ff::avformat.avformat_alloc_output_context2(&raw, nullptr, "matroska", nullptr),
                  0);
        Output.reset(raw);
        ASSERT_TRUE(Input && Output);
        Ist.Stream = ff::avformat.avformat_new_stream(Input.get(), nullptr);
        Ost.Stream = ff::avformat.avformat_new_stream(Output.get(), nullptr);
        Encoder.reset(ff::avcodec.avcodec_alloc_context3(nullptr));
        ASSERT_TRUE(Ist.Stream && Ost.Stream && Encoder);
        AVCodecParameters* in = Ist.Stream->codecpar;
        in->codec_type = AVMEDIA_TYPE_VIDEO;
        in->width = 160;
        in->height = 120;
        in->format = AV_PIX_FMT_YUV420P;
        Encoder->width = 160;
        Encoder->height = 120;
        Encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        Ost.Encoder = Encoder.get();
        Ost.Setup = &Setup;
    }

    // A PQ source in BT.2020 with its mastering display in the container.
    void MakeHdr() {
        AVCodecParameters* in = Ist.Stream->codecpar;
        in->format = AV_PIX_FMT_YUV420P10LE;
        in->color_trc = AVCOL_TRC_SMPTE2084;
        in->color_primaries = AVCOL_PRI_BT2020;
        in->color_space = AVCOL_SPC_BT2020_NCL;
        auto* display = reinterpret_cast<AVMasteringDisplayMetadata*>(
            ff::avformat.av_stream_new_side_data(Ist.Stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA,
                                                 sizeof(AVMasteringDisplayMetadata)));
        ASSERT_TRUE(display);
        *display = AVMasteringDisplayMetadata{};
    }

    std::unique_ptr<TPictureWork> Work(bool hook) {
        if (hook) Hook = [](TCustomFFmpeg*, Bitmap24*, bool&, bool&, int64_t, int) {};
        return std::make_unique<TPictureWork>(TPictureWork::THooks{nullptr, Hook, Modules, false},
                                              false, [](int, const std::string&) {});
    }

    static bool HasSideData(const AVStream* stream, int type) {
        for (int i = 0; i < stream->nb_side_data; ++i)
            if (stream->side_data[i].type == type) return true;
        return false;
    }

    ContextPtr Input, Output;
    ff::CodecContextPtr Encoder;
    TOutputStreamSetup Setup;
    TInputStream Ist;
    TOutputStream Ost;
    TEngineHookCallback Hook;
    TFrameHookList Modules;
};

} // namespace

TEST_F(VideoSetup, AnHdrSourceIsToneMappedInTheGraphOrAheadOfTheHookAndTaggedSdr) {
    std::unique_ptr<TPictureWork> work = Work(false);
    TColourSetup colour(false, *work);
    colour.Prepare(Ist, 0, *Input, Ost);
    EXPECT_TRUE(Ost.Video.ToneMap.empty()) << "an SDR source was tone-mapped";
    EXPECT_EQ(Encoder->color_trc, AVCOL_TRC_UNSPECIFIED);

    MakeHdr();
    colour.Prepare(Ist, 0, *Input, Ost);
    if (!ToneMapAvailable()) {
        EXPECT_TRUE(Ost.Video.ToneMap.empty());
        EXPECT_EQ(Encoder->color_trc, AVCOL_TRC_UNSPECIFIED) << "tagged without tone mapping";
        return;
    }
    EXPECT_FALSE(Ost.Video.ToneMap.empty());
    EXPECT_EQ(Encoder->color_trc, AVCOL_TRC_BT709);
    EXPECT_EQ(Encoder->color_primaries, AVCOL_PRI_BT709);
    EXPECT_EQ(Encoder->color_range, AVCOL_RANGE_MPEG);

    std::unique_ptr<TPictureWork> hooked = Work(true);
    hooked->AddStream(0, 0, 0, 0);
    TColourSetup ahead(false, *hooked);
    ahead.Prepare(Ist, 0, *Input, Ost);
    EXPECT_TRUE(Ost.Video.ToneMap.empty()) << "tone-mapped after the hook saw the picture";
    EXPECT_EQ(Encoder->color_trc, AVCOL_TRC_BT709);
}

TEST_F(VideoSetup, KeepingHdrKeepsTheDepthTheColoursAndTheMasteringDisplay) {
    MakeHdr();
    Setup.Encoder = ff::avcodec.avcodec_find_encoder(AV_CODEC_ID_FFV1); // offers 10-bit 4:2:0
    ASSERT_TRUE(Setup.Encoder);
    std::unique_ptr<TPictureWork> work = Work(false);
    TColourSetup(false, *work).KeepSourceDepth(Ist, Ost);
    EXPECT_EQ(Encoder->pix_fmt, AV_PIX_FMT_YUV420P) << "the depth kept without the option";

    TColourSetup colour(true, *work);
    colour.KeepSourceDepth(Ist, Ost);
    EXPECT_EQ(Encoder->pix_fmt, AV_PIX_FMT_YUV420P10LE);
    colour.Prepare(Ist, 0, *Input, Ost);
    EXPECT_TRUE(Ost.Video.ToneMap.empty());
    EXPECT_EQ(Encoder->color_trc, AVCOL_TRC_SMPTE2084);
    EXPECT_EQ(Encoder->colorspace, AVCOL_SPC_BT2020_NCL);
    EXPECT_TRUE(HasSideData(Ost.Stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA));
}

// The hook edits SDR pictures: where HDR would be kept, a hooked HDR source
// is tone-mapped ahead of the hook and written as SDR, without the HDR
// metadata; a deep SDR source keeps its depth and colours all the same.
TEST_F(VideoSetup, KeepingHdrGivesWayToTheHook) {
    if (!ToneMapAvailable()) GTEST_SKIP() << "the filter library cannot tone-map";
    Setup.Encoder = ff::avcodec.avcodec_find_encoder(AV_CODEC_ID_FFV1);
    ASSERT_TRUE(Setup.Encoder);
    std::unique_ptr<TPictureWork> hooked = Work(true);
    hooked->AddStream(0, 0, 0, 0);
    TColourSetup colour(true, *hooked);
    Ist.Stream->codecpar->format = AV_PIX_FMT_YUV420P10LE;
    Ist.Stream->codecpar->color_trc = AVCOL_TRC_BT709;
    colour.KeepSourceDepth(Ist, Ost);
    colour.Prepare(Ist, 0, *Input, Ost);
    EXPECT_EQ(Encoder->pix_fmt, AV_PIX_FMT_YUV420P10LE);
    EXPECT_EQ(Encoder->color_trc, AVCOL_TRC_BT709) << "a deep SDR source lost its colours";

    MakeHdr();
    colour.Prepare(Ist, 0, *Input, Ost);
    EXPECT_TRUE(Ost.Video.ToneMap.empty()) << "tone-mapped after the hook saw the picture";
    EXPECT_EQ(Encoder->color_trc, AVCOL_TRC_BT709);
    EXPECT_EQ(Encoder->color_primaries, AVCOL_PRI_BT709);
    EXPECT_EQ(Encoder->colorspace, AVCOL_SPC_BT709);
    EXPECT_FALSE(HasSideData(Ost.Stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA));
}

TEST_F(VideoSetup, TheGraphTakesTheUprightPictureAndGivesTheEncodersSize) {
    std::string error;
    ASSERT_EQ(BuildVideoFilterGraph(Ist, Ost, {"scale=64:48", false, 0}, error), 0) << error;
    EXPECT_EQ(Encoder->width, 64) << "the filters' size is the encoder's";
    EXPECT_EQ(Encoder->height, 48);

    Ist.Rotation = 90;
    Encoder->width = 320;
    Encoder->height = 240;
    ASSERT_EQ(BuildVideoFilterGraph(Ist, Ost, {"hflip", false, 0}, error), 0) << error;
    ASSERT_TRUE(Ost.Video.FilterSource);
    EXPECT_EQ(Ost.Video.FilterSource->outputs[0]->w, 120) << "the picture goes in upright";
    EXPECT_EQ(Ost.Video.FilterSource->outputs[0]->h, 160);
    EXPECT_EQ(Encoder->width, 320) << "scaled ahead of the filters to the chosen size";

    // A target's size is made after filters that crop by themselves.
    Ist.Rotation = 0;
    ASSERT_EQ(BuildVideoFilterGraph(Ist, Ost, {"crop=80:60:0:0", true, 0}, error), 0) << error;
    EXPECT_EQ(Encoder->width, 320);
    EXPECT_EQ(Encoder->height, 240);
}

TEST_F(VideoSetup, AFaultInTheFilterTextIsToldAndLeavesNoGraph) {
    std::string error;
    EXPECT_LT(BuildVideoFilterGraph(Ist, Ost, {"nosuchfilter=1", false, 0}, error), 0);
    EXPECT_NE(error.find("nosuchfilter"), std::string::npos) << error;
    EXPECT_FALSE(Ost.Video.Graph);
    EXPECT_EQ(Ost.Video.FilterSource, nullptr);
}
