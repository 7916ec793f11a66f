// A running conversion whose reading, decoding, picture work and encoding
// run on threads of their own: a failure in any of them ends the task with
// its message and leaves no file, a pause holds all of them, and a stop
// while paused still finishes the file with the pictures made so far.
#include "ConversionTestSupport.h"
#include "engine/StageFault.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace {

using namespace std::chrono_literals;

class StagedConversion : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Source = Out.file("source.mkv");
        ASSERT_TRUE(testsupport::MakeTwoSecondClip(Source));
    }
    void TearDown() override { ::unsetenv("VANTREL_STAGE_FAULT"); }

    testsupport::TempDir Out;
    std::string Source;
};

} // namespace

TEST_F(StagedConversion, AFailureInAnyStageEndsTheTaskWithItsMessageAndNoFile) {
    for (const char* stage : {"read", "decode", "picture", "encode"}) {
        // Well into the conversion: the stages are all running by then.
        ::setenv("VANTREL_STAGE_FAULT", (std::string(stage) + ":12").c_str(), 1);
        RecordingConverter c;
        const std::string out = Out.file(std::string(stage) + ".avi");
        ASSERT_EQ(c.Add(Source, out, "vcodec=mpeg4\nacodec=mp2"), 0) << c.Converter.LastErrMsg;
        ASSERT_TRUE(c.Run()) << stage;
        const TTerminateInfo end = c.TaskEnd(0);
        EXPECT_FALSE(end.Finished) << stage;
        EXPECT_TRUE(end.ExceptionRaised) << stage;
        EXPECT_EQ(end.ExceptionMsg, TStageFault::FaultText(stage));
        EXPECT_FALSE(std::filesystem::exists(out)) << stage << ": a failed task left its file";
    }
    // With a hook the pictures are worked on by a thread of their own.
    ::setenv("VANTREL_STAGE_FAULT", "picture:12", 1);
    {
        RecordingConverter c;
        c.RecordHook([](THookInfo*) {});
        const std::string out = Out.file("hooked.avi");
        ASSERT_EQ(c.Add(Source, out, "vcodec=mpeg4\nacodec=mp2", true), 0);
        ASSERT_TRUE(c.Run());
        EXPECT_EQ(c.TaskEnd(0).ExceptionMsg, TStageFault::FaultText("picture"));
        EXPECT_EQ(c.HookCalls, 11);
        EXPECT_FALSE(std::filesystem::exists(out)) << "a failed hooked task left its file";
    }
    ::unsetenv("VANTREL_STAGE_FAULT");
    RecordingConverter c; // and the next conversion runs as ever
    const std::string out = Out.file("after.avi");
    ASSERT_EQ(c.Add(Source, out, "vcodec=mpeg4\nacodec=mp2"), 0);
    ASSERT_TRUE(c.Run());
    EXPECT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
    EXPECT_EQ(testsupport::ProbeValue(out, "stream=nb_frames", "v:0"), "50");
}

// The decoders run ahead of the pictures handed on; a pause must hold them
// all, a resume bring every picture to the file, and a stop while paused end
// with a playable file of the pictures made so far.
TEST_F(StagedConversion, PauseHoldsTheStagesAndResumeAndStopFinishTheFile) {
    for (const bool stop : {false, true}) {
        RecordingConverter c;
        TestSignal fifth, paused;
        std::atomic<int> frames{0};
        c.RecordHook([&](THookInfo* info) {
            ++frames;
            if (info->FrameNumber != 5) return;
            fifth.Set();
            paused.WaitFor(30s);
        });
        const std::string out = Out.file(stop ? "stopped.avi" : "resumed.avi");
        ASSERT_EQ(c.Add(Source, out, "vcodec=mpeg4\nacodec=mp2", true), 0)
            << c.Converter.LastErrMsg;
        c.Converter.StartTask(1);
        ASSERT_TRUE(fifth.WaitFor(30s));
        c.Converter.Pause();
        paused.Set();
        const int held = frames;
        EXPECT_LE(held, 6);
        EXPECT_FALSE(WaitUntil([&] { return frames > held; }, 300ms)) << "a picture passed a pause";
        if (stop)
            c.Converter.Stop(true);
        else
            c.Converter.Resume();
        // The rest of the pictures go through the hook: the thread checker's
        // build takes up to a minute for them on a busy machine.
        ASSERT_TRUE(c.WaitForEnd() || c.WaitForEnd() || c.WaitForEnd());
        const TTerminateInfo end = c.TaskEnd(0);
        EXPECT_FALSE(end.ExceptionRaised) << end.ExceptionMsg;
        EXPECT_EQ(end.Finished, !stop);
        const std::string count = testsupport::ProbeValue(out, "stream=nb_frames", "v:0");
        if (!stop) {
            EXPECT_EQ(count, "50");
            EXPECT_EQ(frames, 50);
        } else {
            ASSERT_FALSE(count.empty()) << "no playable file after a stop";
            EXPECT_GE(std::stoi(count), 4);
            EXPECT_LE(std::stoi(count), held);
        }
    }
}
