// The decoding unit alone, on a small file made here: where a conversion
// may decode on the streams' threads; every frame handed on in decoding
// order by the packets and the drain; none handed on after a stop.
#include "EngineTestSupport.h"
#include "engine/FrameDecoding.h"
#include "engine/InputReading.h"
#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

constexpr int kNoLimit = std::numeric_limits<int>::max();

class FrameDecoding : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Options.MaxFrames = {kNoLimit, kNoLimit, kNoLimit, kNoLimit};
    }

    // Decodes the whole made file through the unit; the frames' times.
    std::vector<int64_t> DecodeAll(TFrameDecoding& decoding) {
        const std::string source = Out.file("source.avi");
        // B-pictures: the decoder holds pictures back until its drain.
        EXPECT_TRUE(testsupport::MakeMedia(
            source, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 -c:v mpeg4 -bf 2"));
        AVFormatContext* raw = nullptr;
        EXPECT_GE(ff::avformat.avformat_open_input(&raw, source.c_str(), nullptr, nullptr), 0);
        ff::InputContextPtr input(raw);
        EXPECT_GE(ff::avformat.avformat_find_stream_info(raw, nullptr), 0);
        std::vector<TInputStream> streams(1);
        TInputStream& ist = streams[0];
        const AVCodecParameters* par = raw->streams[0]->codecpar;
        ist.DecoderContext.reset(
            ff::avcodec.avcodec_alloc_context3(ff::avcodec.avcodec_find_decoder(par->codec_id)));
        EXPECT_GE(ff::avcodec.avcodec_parameters_to_context(ist.DecoderContext.get(), par), 0);
        EXPECT_GE(
            ff::avcodec.avcodec_open2(ist.DecoderContext.get(), ist.DecoderContext->codec, nullptr),
            0);
        ist.DecodingNeeded = ist.DecoderOpen = true;
        decoding.Start(streams);
        EXPECT_TRUE(ist.Decoding) << "a decoded picture stream gets a thread";
        ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
        while (ff::avformat.av_read_frame(raw, packet.get()) >= 0) {
            EXPECT_EQ(decoding.Decode(ist, packet.get()), 0);
            ff::avcodec.av_packet_unref(packet.get());
        }
        EXPECT_EQ(decoding.Decode(ist, nullptr), 0);
        TFrameDecoding::End(ist);
        EXPECT_FALSE(ist.Decoding);
        return Times;
    }

    TFrameDecoding Make() {
        return TFrameDecoding(Options, {[this] { ++Waits; }, [this] { return Stopped.load(); }},
                              [this](TInputStream&, AVFrame* frame, int64_t) {
                                  Times.push_back(frame->best_effort_timestamp);
                                  if (StopAfter > 0 && static_cast<int>(Times.size()) >= StopAfter)
                                      Stopped = true;
                              });
    }

    testsupport::TempDir Out;
    TDecodingOptions Options;
    std::vector<int64_t> Times;
    std::atomic<bool> Stopped{false};
    std::atomic<int> Waits{0};
    int StopAfter = 0;
};

} // namespace

TEST_F(FrameDecoding, StagesAreRefusedWhereTheOutputsClockOrSizeChoosesTheInputOrEnds) {
    const bool cores = TInputReading::SeveralCores();
    std::vector<TOutputStream> outputs(1);
    outputs[0].SourceIndex = outputs[0].SyncIndex = 0;
    EXPECT_EQ(Make().Allowed(true, 2, outputs), cores);
    EXPECT_FALSE(Make().Allowed(false, 1, outputs)) << "a conversion without stages";
    outputs[0].SyncIndex = 1;
    EXPECT_FALSE(Make().Allowed(true, 1, outputs)) << "a stream kept in step with another";
    outputs[0].SyncIndex = 0;
    Options.Shortest = true;
    EXPECT_FALSE(Make().Allowed(true, 2, outputs)) << "the end at the shortest of two inputs";
    EXPECT_EQ(Make().Allowed(true, 1, outputs), cores) << "the shortest of one input";
    Options.Shortest = false;
    Options.MaxFrames[AVMEDIA_TYPE_AUDIO] = 10;
    EXPECT_FALSE(Make().Allowed(true, 1, outputs)) << "a frame limit";
    Options.MaxFrames[AVMEDIA_TYPE_AUDIO] = std::numeric_limits<int>::max();
    EXPECT_EQ(Make().Allowed(true, 1, outputs), cores);
    Options.LimitFileSize = 30000;
    EXPECT_FALSE(Make().Allowed(true, 1, outputs)) << "a file size limit";
}

TEST_F(FrameDecoding, EveryFrameIsHandedOnInOrderAndNoneAfterAStop) {
    TFrameDecoding decoding = Make();
    const std::vector<int64_t> all = DecodeAll(decoding);
    ASSERT_EQ(all.size(), 50u) << "the drain gives the pictures held back";
    // The container gives no time to the last picture the drain gives.
    for (std::size_t i = 1; i + 1 < all.size(); ++i)
        EXPECT_LT(all[i - 1], all[i]) << "out of order at " << i;
    EXPECT_GE(Waits.load(), 50) << "a pause is not seen before each frame";

    Times.clear();
    StopAfter = 5;
    TFrameDecoding stopped = Make();
    EXPECT_EQ(DecodeAll(stopped).size(), 5u);
}
