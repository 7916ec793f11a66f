// The input choice on scripted tables: the stream furthest behind chooses
// its file (by the output's time, or the input's when asked), ended inputs
// and those past the recording time are passed over, one without data for
// now is tried again only while another may still give some, a frame limit
// ends the choosing, and joined inputs are read one segment after the other.
#include "engine/InputChoice.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kNoLimit = 1 << 30;

// Input file i has one stream, copied to output stream i.
struct Tables {
    std::vector<TInputFileRun> Files;
    std::vector<TInputStream> Inputs;
    std::vector<TOutputStream> Outputs;
    std::vector<bool> NoPacket;
    bool Joined = false;

    // An input whose packets are at `inSeconds` feeding an output written
    // up to `outSeconds`.
    void Add(double inSeconds, double outSeconds) {
        const int index = static_cast<int>(Files.size());
        Files.push_back({index, 1, false});
        TInputStream& ist = Inputs.emplace_back();
        ist.FileIndex = index;
        ist.Pts = static_cast<int64_t>(inSeconds * AV_TIME_BASE);
        TOutputStream& ost = Outputs.emplace_back();
        ost.SourceIndex = index;
        ost.MediaType = AVMEDIA_TYPE_VIDEO;
        ost.Copy = true;
        ost.Writing.OutTime = outSeconds;
        NoPacket.push_back(false);
    }
    TInputChoice::TTables View() { return {Files, Inputs, Outputs, NoPacket, Joined}; }
};

int Next(const TInputChoice& choice) {
    bool limit = false;
    const int file = choice.Next(limit);
    EXPECT_FALSE(limit);
    return file;
}

} // namespace

TEST(InputChoice, TheStreamFurthestBehindChoosesAndWaitingInputsAreTriedAgain) {
    Tables t;
    t.Add(1.0, 5.0);
    t.Add(4.0, 3.0);
    t.Add(9.0, 9.0);
    const std::array<int, 4> limits{kNoLimit, kNoLimit, kNoLimit, kNoLimit};
    TInputChoice byOutput(t.View(), limits, false);
    TInputChoice byInput(t.View(), limits, true);
    EXPECT_EQ(Next(byOutput), 1);
    EXPECT_EQ(Next(byInput), 0);
    t.Files[1].Eof = true;
    t.Inputs[0].PastRecordingTime = true;
    EXPECT_EQ(Next(byOutput), 2);
    // No data from the last one for now: nothing to read, try again.
    byOutput.NoData(2);
    EXPECT_EQ(Next(byOutput), -1);
    EXPECT_TRUE(byOutput.RetryLater());
    EXPECT_EQ(Next(byOutput), 2) << "the note is cleared for the next try";
    byOutput.NoData(2);
    byOutput.DataCame();
    EXPECT_EQ(Next(byOutput), 2);
    // Every input at its end: nothing to wait for.
    t.Files[2].Eof = true;
    EXPECT_EQ(Next(byOutput), -1);
    EXPECT_FALSE(byOutput.RetryLater());
    // An encoded stream is timed by what it encoded, not what was written.
    TOutputStream encoded;
    AVCodecContext encoder{};
    encoder.time_base = {1, 25};
    encoded.EncodingNeeded = true;
    encoded.Encoder = &encoder;
    encoded.SyncOpts = 50;
    encoded.Writing.OutTime = 7.0;
    EXPECT_DOUBLE_EQ(TInputChoice::OutputTime(encoded), 2.0);
    encoded.MediaType = AVMEDIA_TYPE_SUBTITLE;
    EXPECT_DOUBLE_EQ(TInputChoice::OutputTime(encoded), 7.0);
}

TEST(InputChoice, AFrameLimitEndsTheChoiceAndAJoinReadsOneSegmentAfterTheOther) {
    Tables t;
    t.Add(8.0, 8.0);
    t.Add(1.0, 1.0);
    TInputChoice choice(t.View(), {10, kNoLimit, kNoLimit, kNoLimit}, false);
    t.Outputs[0].FrameNumber = 10;
    bool limit = false;
    EXPECT_EQ(choice.Next(limit), -1);
    EXPECT_TRUE(limit);
    t.Outputs[0].FrameNumber = 9;
    EXPECT_EQ(Next(choice), 1);
    // Joined: the first segment is read though the second is behind, and a
    // segment without data ends the reading rather than waiting.
    t.Joined = true;
    EXPECT_EQ(Next(choice), 0);
    choice.NoData(0);
    EXPECT_EQ(Next(choice), -1);
    EXPECT_FALSE(choice.RetryLater());
    choice.DataCame();
    // Only the segment being read counts for the limit.
    t.Outputs[1].FrameNumber = 10;
    EXPECT_EQ(Next(choice), 0);
    t.Files[0].Eof = true;
    EXPECT_EQ(Next(choice), -1);
    choice.NextSegment();
    EXPECT_EQ(choice.Segment(), 1);
    EXPECT_EQ(choice.Next(limit), -1);
    EXPECT_TRUE(limit);
    t.Outputs[1].FrameNumber = 0;
    EXPECT_EQ(Next(choice), 1);
}
