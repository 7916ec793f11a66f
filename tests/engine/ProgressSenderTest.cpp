// The progress report gathered from the output streams alone, on streams
// set up here: no report before the first picture is written, then the
// first active picture stream's numbers and the earliest time written of
// all streams; a report at most once per interval.
#include "EngineTestSupport.h"
#include "engine/ProgressSender.h"
#include "media/AVUtilEntries.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class ProgressSender : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        for (const int type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
            Streams.emplace_back();
            Streams.back().MediaType = type;
            Streams.back().Active = true;
        }
        Streams[0].Active = false; // a picture stream that ended
        Streams[0].FrameNumber = 99;
        Streams[1].Video.Quality = 4.5f;
    }

    TProgressSender Make(int64_t interval) {
        return TProgressSender(Report, Writer, Streams, Outputs, -1, interval,
                               [this](const TProgressValues& v) { Sent.push_back(v); });
    }

    TProgressReport Report{false};
    TPacketWriter Writer{false};
    std::vector<TOutputStream> Streams;
    std::vector<AVFormatContext*> Outputs;
    std::vector<TProgressValues> Sent;
};

} // namespace

TEST_F(ProgressSender, TheFirstActivePictureStreamAndTheEarliestTimeWrittenAreReported) {
    TProgressSender sender = Make(0);
    Report.Start(ff::avutil.av_gettime());
    sender.Report(false, 0);
    EXPECT_TRUE(Sent.empty()) << "a report before the first picture";

    Streams[1].FrameNumber = 12;
    Streams[1].Writing.OutTime = 2.0;
    Streams[2].Writing.OutTime = 1.5;
    sender.Report(false, 1);
    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].FileIndex, 1);
    EXPECT_EQ(Sent[0].FrameNumber, 12);
    EXPECT_FLOAT_EQ(Sent[0].Quality, 4.5f);
    EXPECT_EQ(Sent[0].Time, 1500000);
    EXPECT_EQ(Sent[0].Size, 0);

    Streams[1].Copy = true;
    Streams[2].Writing.OutTime = 1.0;
    sender.Report(true, -1);
    ASSERT_EQ(Sent.size(), 2u);
    EXPECT_FLOAT_EQ(Sent[1].Quality, -1.0f) << "a copied stream has no quality";
    EXPECT_EQ(Sent[1].Time, 1500000) << "the time shown went back";
}

TEST_F(ProgressSender, AReportComesOncePerInterval) {
    Streams[1].FrameNumber = 1;
    TProgressSender sender = Make(500000);
    Report.Start(ff::avutil.av_gettime() - 1000000);
    sender.Maybe(0);
    sender.Maybe(0);
    EXPECT_EQ(Sent.size(), 1u);
}
