// The reading and decoding stages alone, on a small file made here: they
// give the same packets and frames, in the same order, as reading and
// decoding on the calling thread; a decoder's drain gives the pictures it
// held back; a stop in the middle of the reading comes back at once; a
// failure in the middle of either reaches the thread that takes from it.
#include "EngineTestSupport.h"
#include "engine/DecodeStage.h"
#include "engine/ReadStage.h"
#include "engine/StageFault.h"
#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// A packet or frame told apart by its time and size (frames: a checksum of
// their first plane's first row as well).
struct Seen {
    int64_t Time;
    int Size;
    bool operator==(const Seen&) const = default;
};

class MediaStages : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Source = Out.file("source.avi");
        // B-pictures: the decoder holds pictures back until its drain.
        ASSERT_TRUE(testsupport::MakeMedia(
            Source, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 -c:v mpeg4 -bf 2"));
    }

    ff::InputContextPtr Open() {
        AVFormatContext* raw = nullptr;
        EXPECT_GE(ff::avformat.avformat_open_input(&raw, Source.c_str(), nullptr, nullptr), 0);
        ff::InputContextPtr input(raw);
        if (input) {
            EXPECT_GE(ff::avformat.avformat_find_stream_info(raw, nullptr), 0);
        }
        return input;
    }

    static ff::CodecContextPtr OpenDecoder(const AVFormatContext* input) {
        const AVCodecParameters* par = input->streams[0]->codecpar;
        ff::CodecContextPtr decoder(
            ff::avcodec.avcodec_alloc_context3(ff::avcodec.avcodec_find_decoder(par->codec_id)));
        EXPECT_TRUE(decoder);
        EXPECT_GE(ff::avcodec.avcodec_parameters_to_context(decoder.get(), par), 0);
        EXPECT_GE(ff::avcodec.avcodec_open2(decoder.get(), decoder->codec, nullptr), 0);
        return decoder;
    }

    // Every packet of a fresh reading, on this thread.
    std::vector<Seen> ReadHere() {
        std::vector<Seen> seen;
        ff::InputContextPtr input = Open();
        ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
        while (ff::avformat.av_read_frame(input.get(), packet.get()) >= 0) {
            seen.push_back({packet->dts, packet->size});
            ff::avcodec.av_packet_unref(packet.get());
        }
        return seen;
    }

    testsupport::TempDir Out;
    std::string Source;
};

// The message of the engine error `action` raises; empty when none.
std::string RaisedBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const FFmpegException& e) {
        return e.what();
    }
    return "";
}

// A stage made while VANTREL_STAGE_FAULT names it fails at that item.
template <class Stage, class... Args>
std::unique_ptr<Stage> FailingAt(const char* fault, Args... args) {
    ::setenv("VANTREL_STAGE_FAULT", fault, 1);
    auto stage = std::make_unique<Stage>(args...);
    ::unsetenv("VANTREL_STAGE_FAULT");
    return stage;
}

Seen FrameSeen(const AVFrame* frame) {
    std::uint32_t sum = 0; // wraps around by design; a signed sum would overflow
    for (int x = 0; x < frame->width; ++x)
        sum = sum * 31u + frame->data[0][x];
    return {frame->pts, static_cast<int>(sum)};
}

} // namespace

TEST_F(MediaStages, ReadingOnItsThreadGivesThePacketsInOrderThenTheEnd) {
    const std::vector<Seen> here = ReadHere();
    ASSERT_GE(here.size(), 50u);
    ff::InputContextPtr input = Open();
    TReadStage reading(input.get(), 4);
    reading.Start();
    std::vector<Seen> staged;
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    int code = 0;
    while ((code = reading.Take(packet.get())) == 0) {
        staged.push_back({packet->dts, packet->size});
        ff::avcodec.av_packet_unref(packet.get());
    }
    EXPECT_EQ(code, AVERROR_EOF);
    EXPECT_EQ(reading.Take(packet.get()), AVERROR_EOF) << "a packet after the end";
    EXPECT_EQ(staged, here);
}

TEST_F(MediaStages, AStopInTheMiddleOfTheReadingEndsIt) {
    ff::InputContextPtr input = Open();
    TReadStage reading(input.get(), 4);
    reading.Start();
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    ASSERT_EQ(reading.Take(packet.get()), 0);
    ff::avcodec.av_packet_unref(packet.get());
    reading.Stop();
    EXPECT_NE(reading.Take(packet.get()), 0) << "a packet after the stop";
    // The context is this thread's again.
    EXPECT_GE(ff::avformat.av_read_frame(input.get(), packet.get()), 0);
    ff::avcodec.av_packet_unref(packet.get());
}

TEST_F(MediaStages, DecodingOnItsThreadGivesTheFramesOfDecodingHereAndTheDrainTheRest) {
    std::vector<Seen> here, staged;
    int heldBack = 0; // frames only the drain gave
    {
        ff::InputContextPtr input = Open();
        ff::CodecContextPtr decoder = OpenDecoder(input.get());
        const auto keep = [&](TDecodedItem item) {
            ASSERT_FALSE(item.Failed);
            here.push_back(FrameSeen(item.Frame.get()));
        };
        ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
        while (ff::avformat.av_read_frame(input.get(), packet.get()) >= 0) {
            TPacketItem item;
            item.Packet.reset(ff::avcodec.av_packet_alloc());
            ff::avcodec.av_packet_move_ref(item.Packet.get(), packet.get());
            TDecodeStage::Decode(decoder.get(), item, keep);
        }
        TPacketItem drain;
        const std::size_t before = here.size();
        TDecodeStage::Decode(decoder.get(), drain, keep);
        heldBack = static_cast<int>(here.size() - before);
    }
    EXPECT_EQ(here.size(), 50u);
    EXPECT_GE(heldBack, 1) << "the source has no picture held back: the drain is not tested";

    ff::InputContextPtr input = Open();
    ff::CodecContextPtr decoder = OpenDecoder(input.get());
    TDecodeStage stage(decoder.get(), 3);
    stage.Start();
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    TDecodedItem out;
    const auto takeReady = [&] {
        while (stage.Take(out)) {
            ASSERT_FALSE(out.Failed);
            staged.push_back(FrameSeen(out.Frame.get()));
        }
    };
    while (ff::avformat.av_read_frame(input.get(), packet.get()) >= 0) {
        TPacketItem item;
        item.Packet.reset(ff::avcodec.av_packet_alloc());
        ff::avcodec.av_packet_move_ref(item.Packet.get(), packet.get());
        stage.Give(std::move(item));
        takeReady();
    }
    stage.Give(TPacketItem{});
    stage.Finish();
    takeReady();
    EXPECT_EQ(staged, here);
    stage.Stop();
}

// The packets read before the failure come first (those still waiting may
// be dropped), in order; then the failure, on every Take after it.
TEST_F(MediaStages, AFailureInTheMiddleOfTheReadingReachesTheTaker) {
    const std::vector<Seen> here = ReadHere();
    ff::InputContextPtr input = Open();
    const auto reading = FailingAt<TReadStage>("read:6", input.get(), std::size_t{4});
    reading->Start();
    std::vector<Seen> staged;
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    EXPECT_EQ(RaisedBy([&] {
                  while (reading->Take(packet.get()) == 0) {
                      staged.push_back({packet->dts, packet->size});
                      ff::avcodec.av_packet_unref(packet.get());
                  }
              }),
              TStageFault::FaultText("read"));
    ASSERT_LE(staged.size(), 5u);
    EXPECT_EQ(staged, std::vector<Seen>(here.begin(), here.begin() + staged.size()));
    EXPECT_EQ(RaisedBy([&] { reading->Take(packet.get()); }), TStageFault::FaultText("read"));
}

// The frames of the packets before the failure at most, then the failure
// on the feeder's next call, and on every call after it.
TEST_F(MediaStages, AFailureInTheMiddleOfTheDecodingReachesTheFeeder) {
    ff::InputContextPtr input = Open();
    ff::CodecContextPtr decoder = OpenDecoder(input.get());
    const auto stage = FailingAt<TDecodeStage>("decode:6", decoder.get(), std::size_t{3});
    stage->Start();
    int frames = 0;
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    const std::string error = RaisedBy([&] {
        TDecodedItem out;
        while (ff::avformat.av_read_frame(input.get(), packet.get()) >= 0) {
            TPacketItem item;
            item.Packet.reset(ff::avcodec.av_packet_alloc());
            ff::avcodec.av_packet_move_ref(item.Packet.get(), packet.get());
            stage->Give(std::move(item));
            while (stage->Take(out))
                frames += out.Failed ? 0 : 1;
        }
        stage->Give(TPacketItem{});
        stage->Finish();
    });
    EXPECT_EQ(error, TStageFault::FaultText("decode"));
    EXPECT_LE(frames, 5);
    EXPECT_EQ(RaisedBy([&] { stage->Give(TPacketItem{}); }), TStageFault::FaultText("decode"));
    stage->Stop();
}
