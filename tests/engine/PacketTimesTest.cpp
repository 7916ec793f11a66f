// The packet times alone, on scripted packets: the file's offset and scale
// come first, a damaged jump of a sound or picture stream is folded into
// the offset (a sparse stream catching up with the others is not), a
// clock that restarts or wraps is folded every time, and with the times
// kept as read nothing is folded.
#include "EngineTestSupport.h"
#include "engine/PacketTimes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int64_t kSecond = AV_TIME_BASE;

struct ContextDeleter {
    void operator()(AVFormatContext* p) const { ff::avformat.avformat_free_context(p); }
};

// One input file whose streams have the given kinds, all in `base`.
class PacketTimesTest : public ::testing::Test {
protected:
    void Make(const std::vector<AVMediaType>& kinds, AVRational base, TPacketTimeOptions options) {
        RequireLibraries();
        Context.reset(ff::avformat.avformat_alloc_context());
        ASSERT_TRUE(Context);
        Files.push_back({0, static_cast<int>(kinds.size()), false});
        Slots.resize(1);
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            AVStream* stream = ff::avformat.avformat_new_stream(Context.get(), nullptr);
            ASSERT_TRUE(stream);
            stream->codecpar->codec_type = kinds[i];
            stream->time_base = base;
            TInputStream& ist = Streams.emplace_back();
            ist.StreamIndex = static_cast<int>(i);
            ist.Stream = stream;
            ist.Discard = false;
        }
        Times = std::make_unique<TPacketTimes>(
            Files, Streams, Slots, options,
            [this](int, const std::string& text) { Logged.push_back(text); });
    }

    // Where a packet of stream `index` read at `dts` (its time base) lands.
    int64_t Adjusted(int index, int64_t dts, bool clockRestarts = false) {
        Packet.reset(ff::avcodec.av_packet_alloc());
        Packet->dts = dts;
        Packet->pts = dts + 2;
        Times->Adjust(Streams[index], Packet.get(), 0, clockRestarts);
        return Packet->dts;
    }

    // The stream was last at `pts` and expects its next packet at `next`.
    void At(int index, int64_t pts, int64_t next) {
        Streams[index].Pts = pts;
        Streams[index].NextPts = next;
    }

    std::unique_ptr<AVFormatContext, ContextDeleter> Context;
    std::vector<TInputFileRun> Files;
    std::vector<TInputStream> Streams;
    std::vector<TInputFileSlot> Slots;
    std::unique_ptr<TPacketTimes> Times;
    ff::PacketPtr Packet;
    std::vector<std::string> Logged;
};

} // namespace

TEST_F(PacketTimesTest, OffsetAndScaleComeFirstAndKeptTimesAreNeverFolded) {
    Make({AVMEDIA_TYPE_VIDEO}, {1, 1000}, {true, 10.0f, 0});
    Slots[0].TsOffset = 2 * kSecond;
    Slots[0].TsScale[0] = 0.5;
    EXPECT_EQ(Adjusted(0, 1000), 1500) << "(1000 + 2000) * 0.5";
    At(0, 0, 0);
    EXPECT_EQ(Adjusted(0, 2000000), 1001000) << "kept as read, however far it jumps";
    EXPECT_EQ(Slots[0].TsOffset, 2 * kSecond);
    EXPECT_TRUE(Logged.empty());
}

TEST_F(PacketTimesTest, ADamagedJumpIsFoldedButAStreamCatchingUpIsNot) {
    // Picture, sound and subtitle streams in milliseconds, 10 s threshold.
    Make({AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}, {1, 1000},
         {false, 10.0f, 0});
    for (int i = 0; i < 3; ++i)
        At(i, 4960000, 5 * kSecond);
    // A flipped bit sends the pictures 1000 s ahead: they go on at 5 s.
    EXPECT_EQ(Adjusted(0, 1005000), 5000);
    EXPECT_EQ(Packet->pts, 5002) << "the presentation time moves with it";
    EXPECT_EQ(Slots[0].TsOffset, -1000 * kSecond);
    ASSERT_EQ(Logged.size(), 1u);
    EXPECT_NE(Logged[0].find("stream #0.0 jump by 1000.000 s"), std::string::npos) << Logged[0];
    // Back beyond the threshold is damage too.
    Slots[0].TsOffset = 0;
    EXPECT_EQ(Adjusted(0, -15000), 5000);
    EXPECT_EQ(Slots[0].TsOffset, 20 * kSecond);
    // Within the threshold a step is the stream's own.
    Slots[0].TsOffset = 0;
    EXPECT_EQ(Adjusted(1, 14000), 14000);
    // The sound went on to 60 s while the pictures paused: pictures at 58 s
    // catch up with it, they do not jump...
    At(1, 59960000, 60 * kSecond);
    EXPECT_EQ(Adjusted(0, 58000), 58000);
    // ...unless that sound is not converted.
    Streams[1].Discard = true;
    EXPECT_EQ(Adjusted(0, 58000), 5000);
    // Subtitles come when they come.
    Slots[0].TsOffset = 0;
    EXPECT_EQ(Adjusted(2, 900000), 900000);
    EXPECT_EQ(Slots[0].TsOffset, 0);
}

TEST_F(PacketTimesTest, AClockThatRestartsOrWrapsIsFoldedSoTheTimeLineGoesOn) {
    // A transport stream's 33-bit clock in 1/90000 s, pictures of 40 ms.
    Make({AVMEDIA_TYPE_VIDEO}, {1, 90000}, {false, 10.0f, 3});
    const int64_t wrap = int64_t(1) << 33;
    const int64_t last = ff::avutil.av_rescale_q(wrap - 3600, {1, 90000}, {1, AV_TIME_BASE});
    At(0, last, last + 40000);
    // The clock wraps to 0: the packet lands where the stream goes on.
    const int64_t first = Adjusted(0, 0, true);
    EXPECT_EQ(first, wrap);
    EXPECT_EQ(Slots[0].TsOffset, last + 40000);
    ASSERT_EQ(Logged.size(), 1u);
    EXPECT_NE(Logged[0].find("timestamp discontinuity"), std::string::npos) << Logged[0];
    // The next packet follows on its own, the offset applied.
    At(0, last + 40000, last + 80000);
    EXPECT_EQ(Adjusted(0, 3600, true), wrap + 3600);
    EXPECT_EQ(Slots[0].TsOffset, last + 40000);
    // A small step back is folded too (a jump ahead within the threshold is
    // not: such a clock's packets keep their order).
    Slots[0].TsOffset = 0;
    At(0, 10 * kSecond, 10040000);
    EXPECT_EQ(Adjusted(0, 9 * 90000, true), 903600); // 10.04 s
    EXPECT_EQ(Slots[0].TsOffset, 1040000);
    Slots[0].TsOffset = 0;
    EXPECT_EQ(Adjusted(0, 15 * 90000, true), 15 * 90000);
}
