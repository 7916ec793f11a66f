// The length check on scripted inputs: the mapped streams' own lengths
// count (not the container's longest stream, not a cover picture), less
// the start point and the time left out at the file's start, within the
// recording time; the container's length stands in when a stream does not
// tell; a length guessed from the bit rate is no length. An output short by
// more than 2 s and more than 5 % is noted with how far it got.
#include "EngineTestSupport.h"
#include "engine/LengthCheck.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr int64_t kSecond = AV_TIME_BASE;
constexpr int64_t kNoLimit = std::numeric_limits<int64_t>::max();

struct ContextDeleter {
    void operator()(AVFormatContext* p) const { ff::avformat.avformat_free_context(p); }
};

// One input file starting at 1 s; each stream added is mapped to an output.
class LengthCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Context.reset(ff::avformat.avformat_alloc_context());
        ASSERT_TRUE(Context);
        Context->start_time = 1 * kSecond;
        Context->duration_estimation_method = AVFMT_DURATION_FROM_STREAM;
        Inputs.reserve(8);
    }

    // A stream in milliseconds from `startMs` lasting `durationMs`
    // (AV_NOPTS_VALUE: untold), mapped when `mapped`.
    AVStream* Add(int64_t startMs, int64_t durationMs, bool mapped = true) {
        AVStream* stream = ff::avformat.avformat_new_stream(Context.get(), nullptr);
        stream->time_base = {1, 1000};
        stream->start_time = startMs;
        stream->duration = durationMs;
        TInputStream& ist = Inputs.emplace_back();
        ist.Stream = stream;
        if (mapped) Outputs.emplace_back().SourceIndex = static_cast<int>(Inputs.size()) - 1;
        return stream;
    }

    int64_t Expected(int64_t startTime, int64_t recordingTime, int64_t sought = 0) {
        const TLengthCheck check({Inputs, Outputs, Joined, SourceDuration}, startTime,
                                 recordingTime);
        return check.Expected({{Context.get(), sought}});
    }

    // The outputs written up to `seconds` each.
    TLengthCheck::TShortfall Reached(const std::vector<double>& seconds, int64_t expected) {
        Outputs.clear();
        for (double s : seconds)
            Outputs.emplace_back().Writing.ShownEnd = s;
        const TLengthCheck check({Inputs, Outputs, Joined, SourceDuration}, 0, kNoLimit);
        return check.Shortfall(expected);
    }

    std::unique_ptr<AVFormatContext, ContextDeleter> Context;
    std::vector<TInputStream> Inputs;
    std::vector<TOutputStream> Outputs;
    bool Joined = false;
    int64_t SourceDuration = 60 * kSecond;
};

} // namespace

TEST_F(LengthCheckTest, TheMappedStreamsLengthsCountElseTheContainers) {
    Add(1000, 10000);
    Add(3000, 9000);         // ends at 11 s of the file
    Add(1000, 50000, false); // not converted
    Add(0, 90000)->disposition = AV_DISPOSITION_ATTACHED_PIC;
    EXPECT_EQ(Expected(0, kNoLimit), 11 * kSecond);
    EXPECT_EQ(Expected(2 * kSecond, kNoLimit), 9 * kSecond) << "after the start point";
    EXPECT_EQ(Expected(0, 4 * kSecond), 4 * kSecond) << "within the recording time";
    EXPECT_EQ(Expected(0, kNoLimit, 3 * kSecond), 8 * kSecond) << "less what was left out";
    EXPECT_EQ(Expected(20 * kSecond, kNoLimit), 0) << "a start point past the end";
    // One mapped stream that does not tell its length: the container's.
    Add(1000, AV_NOPTS_VALUE);
    EXPECT_EQ(Expected(0, kNoLimit, 3 * kSecond), 57 * kSecond);
    // Joined inputs last as long as the container's lengths together.
    Inputs.back().Stream->duration = 1000;
    Joined = true;
    EXPECT_EQ(Expected(0, kNoLimit), 60 * kSecond);
    Context->duration_estimation_method = AVFMT_DURATION_FROM_BITRATE;
    EXPECT_EQ(Expected(0, kNoLimit), 0) << "a guess is no length";
}

TEST_F(LengthCheckTest, OnlyAnOutputWellShortOfItsLengthIsNoted) {
    EXPECT_TRUE(Reached({96.0}, 100 * kSecond).Text.empty()) << "4 s is within 5 %";
    EXPECT_TRUE(Reached({8.5}, 10 * kSecond).Text.empty()) << "1.5 s is within 2 s";
    EXPECT_TRUE(Reached({0.0}, 0).Text.empty()) << "an unknown length";
    const TLengthCheck::TShortfall cut = Reached({90.0}, 100 * kSecond);
    EXPECT_NE(cut.Text.find("The source ended at 00:01:30"), std::string::npos) << cut.Text;
    EXPECT_NE(cut.Text.find("the output is shorter than the source"), std::string::npos);
    EXPECT_EQ(cut.Percent, 90);
    EXPECT_EQ(Reached({0.0, 90.0, 45.0}, 100 * kSecond).Percent, 90)
        << "the furthest output counts";
}
