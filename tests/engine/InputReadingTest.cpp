// The reading of the inputs alone, on a small file made here: read here or
// ahead on a thread, it gives the same packets and then the end; a failure
// injected into the reading here comes at its count; reading ahead is
// chosen only where it pays and the dump does not need the packets as read.
#include "EngineTestSupport.h"
#include "engine/InputReading.h"
#include "engine/StageFault.h"
#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class InputReading : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Source = Out.file("source.avi");
        ASSERT_TRUE(testsupport::MakeMedia(
            Source, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v mpeg4"));
    }
    void TearDown() override { ::unsetenv("VANTREL_STAGE_FAULT"); }

    ff::InputContextPtr Open() {
        AVFormatContext* raw = nullptr;
        EXPECT_GE(ff::avformat.avformat_open_input(&raw, Source.c_str(), nullptr, nullptr), 0);
        return ff::InputContextPtr(raw);
    }

    // The packets' times in reading order, and the code that ended it.
    static std::vector<int64_t> ReadAll(TInputReading& reading, int& end) {
        std::vector<int64_t> times;
        ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
        while ((end = reading.Next(0, packet.get())) == 0) {
            times.push_back(packet->dts);
            ff::avcodec.av_packet_unref(packet.get());
        }
        return times;
    }

    testsupport::TempDir Out;
    std::string Source;
};

} // namespace

TEST_F(InputReading, HereAndAheadGiveTheSamePacketsThenTheEnd) {
    ff::InputContextPtr first = Open(), second = Open();
    TInputReading here, ahead;
    here.Start({first.get()}, false);
    ahead.Start({second.get()}, true);
    int hereEnd = 0, aheadEnd = 0;
    const std::vector<int64_t> read = ReadAll(here, hereEnd);
    EXPECT_EQ(read.size(), 25u);
    EXPECT_EQ(ReadAll(ahead, aheadEnd), read);
    EXPECT_EQ(hereEnd, AVERROR_EOF);
    EXPECT_EQ(aheadEnd, AVERROR_EOF);
    ahead.Stop();
}

TEST_F(InputReading, AFailureOfTheReadingHereComesAtItsCount) {
    ::setenv("VANTREL_STAGE_FAULT", "read:3", 1);
    ff::InputContextPtr input = Open();
    TInputReading reading;
    reading.Start({input.get()}, false);
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(reading.Next(0, packet.get()), 0);
        ff::avcodec.av_packet_unref(packet.get());
    }
    try {
        reading.Next(0, packet.get());
        ADD_FAILURE() << "the third packet was read";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(std::string(e.what()), TStageFault::FaultText("read"));
    }
}

TEST_F(InputReading, ReadingAheadOnlyOnSeveralCoresAndWithoutTheDump) {
    EXPECT_EQ(TInputReading::AheadAllowed(true, false), TInputReading::SeveralCores());
    EXPECT_FALSE(TInputReading::AheadAllowed(false, false));
    EXPECT_FALSE(TInputReading::AheadAllowed(true, true));
}
