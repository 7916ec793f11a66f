// The conversion's view of the options: what the option table set is what
// the stages read, field by field, and the scaler flags given as text win.
#include "EngineTestSupport.h"

#include "engine/ConversionOptions.h"
#include "engine/FFmpeg.h"

#include <limits>

namespace {

class ConversionOptions : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override { RequireLibraries(); }
    TConversionOptions View() {
        return ConversionOptionsOf(Task.OptionState(), Task.OptionContexts());
    }
    TFFmpeg Task;
};

} // namespace

// Fields of one kind lie side by side in both structures, so a value taken
// from its neighbour shows here: each option gets a value no other has.
TEST_F(ConversionOptions, EveryOptionTheStagesReadArrivesUnderItsOwnName) {
    Task.ParseOptionLines("ss=1.5\nt=3\nvsync=2\nasync=3\nadrift_threshold=0.25\n"
                          "dts_delta_threshold=7.5\nisync=1\nre=1\ncopyts=\ncopyinkf=4\n"
                          "shortest=1\nfs=123456\nvframes=42\nv=2\nthreads=3\nxerror=\n"
                          "deinterlace=1\ntop=1\nsameq=1\nme_threshold=6\nqphist=1\nvol=300\n"
                          "keep_hdr=\npasslogfile=/tmp/passes\nvstats_file=/tmp/stats\n"
                          "af=volume=0.5",
                          false);
    Task.ParseOption("vf", "hflip"); // the lines leave filters to the record
    const TConversionOptions view = View();
    EXPECT_EQ(view.StartTime, 1500000);
    EXPECT_EQ(view.RecordingTime, 3000000);
    EXPECT_EQ(view.VideoSyncMethod, 2);
    EXPECT_EQ(view.AudioSyncMethod, 3);
    EXPECT_FLOAT_EQ(view.AudioDriftThreshold, 0.25f);
    EXPECT_FLOAT_EQ(view.DtsDeltaThreshold, 7.5f);
    EXPECT_TRUE(view.InputSync);
    EXPECT_TRUE(view.RateEmu);
    EXPECT_TRUE(view.CopyTs);
    EXPECT_EQ(view.CopyInitialNonkeyframes, 4);
    EXPECT_TRUE(view.OptShortest);
    EXPECT_EQ(view.LimitFileSize, 123456);
    EXPECT_EQ(view.MaxFrames[0], 42);
    EXPECT_EQ(view.MaxFrames[1], std::numeric_limits<int>::max());
    EXPECT_EQ(view.Verbose, 2);
    EXPECT_EQ(view.ThreadCount, 3);
    EXPECT_TRUE(view.ExitOnError);
    EXPECT_TRUE(view.DoDeinterlace);
    EXPECT_EQ(view.TopFieldFirst, 1);
    EXPECT_TRUE(view.SameQuality);
    EXPECT_EQ(view.MeThreshold, 6);
    EXPECT_TRUE(view.QpHist);
    EXPECT_EQ(view.AudioVolume, 300);
    EXPECT_TRUE(view.KeepHdr);
    EXPECT_EQ(view.PassLogFileName, "/tmp/passes");
    EXPECT_TRUE(view.HasVStatsFileName);
    EXPECT_EQ(view.VStatsFileName, "/tmp/stats");
    EXPECT_EQ(view.AudioFilters, "volume=0.5");
    EXPECT_EQ(view.VFilters, "hflip");
    EXPECT_FALSE(view.DoPktDump);
    EXPECT_FALSE(view.DoHexDump);
    EXPECT_FALSE(view.UsingVhook);
}

// Left alone, the view has the reset state's values: no limit on the time
// or the frames, the scaler's bicubic flag.
TEST_F(ConversionOptions, UntouchedOptionsKeepTheirResetValues) {
    const TConversionOptions view = View();
    EXPECT_EQ(view.StartTime, 0);
    EXPECT_EQ(view.RecordingTime, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(view.MaxFrames[0], std::numeric_limits<int>::max());
    EXPECT_EQ(view.VideoSyncMethod, -1);
    EXPECT_EQ(view.AudioVolume, 256);
    EXPECT_EQ(view.SwsFlags, Task.OptionState().SwsFlags);
    EXPECT_EQ(view.SwsFlags, 4);
    EXPECT_TRUE(view.StreamMaps.empty());
}

// "sws_flags" is no row of the table: the scaler options take it, and the
// view reads it from there. Maps keep their order and their sync streams.
TEST_F(ConversionOptions, ScalerFlagsAndMapsComeThrough) {
    Task.ParseOption("sws_flags", "neighbor");
    Task.ParseOption("map", "0:1");
    Task.ParseOption("map", "0:0");
    const TConversionOptions view = View();
    EXPECT_EQ(view.SwsFlags, 0x10); // SWS_POINT
    ASSERT_EQ(view.StreamMaps.size(), 2u);
    EXPECT_EQ(view.StreamMaps[0].StreamIndex, 1);
    EXPECT_EQ(view.StreamMaps[1].StreamIndex, 0);
    EXPECT_EQ(view.StreamMaps[1].SyncStreamIndex, 0);
}
