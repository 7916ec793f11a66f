// A stop, a pause and a failure reaching a running conversion while one of
// its stages (reading, decoding, picture work, encoding, writing) is in the
// middle of an item: the stage is held there until the test has asked for
// the stop or pause, so the request meets that stage and no other. A stop
// ends the task unfinished without an error and leaves a playable file of
// what was made; a pause holds the task until a resume, which ends it as if
// nothing had happened; a failure ends it with its message and no file.
#include "ConversionTestSupport.h"
#include "engine/StageFault.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

using namespace std::chrono_literals;

// The stage and the item it is held at: far enough in for some packets to
// have been written whatever the queues between the stages hold (a stop
// before the first packet leaves no file, by rule), and well before the
// clip's 50 pictures (of 137 packets) are all through.
// With a hook and two picture outputs the pictures are worked on by a
// thread of their own; otherwise by the task's.
const char* const kLines = "vcodec=mpeg4\nacodec=mp2";
struct TStagePoint {
    const char* Stage;
    int Item;
    const char* Lines = kLines;
    bool Hook = false;
};
const TStagePoint kStages[] = {
    {"read", 60},    {"decode", 25},
    {"picture", 12}, {"picture", 12, "vcodec=mpeg4\nacodec=mp2\nnewvideo", true},
    {"encode", 12},  {"write", 12},
};

// Holds the chosen item of the stage named in VANTREL_STAGE_FAULT until
// Release; restores the failure and the environment when it goes. The
// signals outlive it in the hold a stage's thread may still be leaving
// when a failed test gives up early.
class THeldStage {
public:
    THeldStage(const std::string& stage, int item) {
        ::setenv("VANTREL_STAGE_FAULT", (stage + ":" + std::to_string(item)).c_str(), 1);
        TStageFault::SetHold([reached = FReached, released = FReleased](const std::string&) {
            reached->Set();
            released->WaitFor(60s); // the test fails on its own deadline first
        });
    }
    ~THeldStage() {
        Release();
        TStageFault::SetHold({});
        ::unsetenv("VANTREL_STAGE_FAULT");
    }
    THeldStage(const THeldStage&) = delete;
    THeldStage& operator=(const THeldStage&) = delete;

    bool WaitReached(std::chrono::milliseconds limit) { return FReached->WaitFor(limit); }
    void Release() { FReleased->Set(); }

private:
    std::shared_ptr<TestSignal> FReached = std::make_shared<TestSignal>();
    std::shared_ptr<TestSignal> FReleased = std::make_shared<TestSignal>();
};

class StageStop : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Source = Out.file("source.mkv");
        ASSERT_TRUE(testsupport::MakeTwoSecondClip(Source));
    }

    // Starts a conversion into `out` and waits until `held` has the stage.
    void StartHeld(RecordingConverter& c, THeldStage& held, const TStagePoint& point,
                   const std::string& out) {
        if (point.Hook) c.RecordHook([](THookInfo*) {});
        ASSERT_EQ(c.Add(Source, out, point.Lines, point.Hook), 0) << c.Converter.LastErrMsg;
        c.Converter.StartTask(1);
        ASSERT_TRUE(held.WaitReached(30s)) << "the stage never reached its item";
    }

    static bool Ended(RecordingConverter& c) {
        std::lock_guard lock(c.Lock);
        return !c.Terminations.empty();
    }

    static int VideoFrames(const std::string& file) {
        const std::string count = testsupport::ProbeValue(file, "stream=nb_frames", "v:0");
        return count.empty() || count == "N/A" ? -1 : std::stoi(count);
    }

    // What ffprobe says of the file's streams, for a failure's message.
    static std::string Described(const std::string& file) {
        if (!std::filesystem::exists(file)) return "no file";
        return testsupport::RunCommand("ffprobe -v error -show_entries "
                                       "stream=codec_type,nb_frames:format=size -of compact " +
                                       testsupport::ShellQuote(file))
            .output;
    }

    testsupport::TempDir Out;
    std::string Source;
};

} // namespace

TEST_F(StageStop, AStopInTheMiddleOfAnyStageFinishesTheFileMadeSoFar) {
    for (const TStagePoint& point : kStages) {
        const std::string stage = point.Stage + std::string(point.Hook ? "-beside" : "");
        SCOPED_TRACE(stage);
        const Watchdog watchdog(120s, std::string("a stop in the ") + stage + " stage");
        RecordingConverter c;
        const std::string out = Out.file(std::string("stop-") + stage + ".avi");
        {
            THeldStage held(point.Stage, point.Item);
            ASSERT_NO_FATAL_FAILURE(StartHeld(c, held, point, out));
            c.Converter.Stop(false);
            held.Release();
            ASSERT_TRUE(c.WaitForEnd());
        }
        const TTerminateInfo end = c.TaskEnd(0);
        EXPECT_FALSE(end.Finished);
        EXPECT_FALSE(end.ExceptionRaised) << end.ExceptionMsg;
        EXPECT_EQ(end.ExceptionMsg, "");
        const int frames = VideoFrames(out);
        EXPECT_GE(frames, 1) << "no playable file after a stop: " << Described(out);
        EXPECT_LT(frames, 50) << "the stop did not end the conversion early";
    }
}

TEST_F(StageStop, APauseInTheMiddleOfAnyStageHoldsTheTaskUntilItsResumeOrStop) {
    for (const TStagePoint& point : kStages) {
        const std::string stage = point.Stage + std::string(point.Hook ? "-beside" : "");
        for (const bool stop : {false, true}) {
            SCOPED_TRACE(std::string(stage) + (stop ? " then a stop" : " then a resume"));
            const Watchdog watchdog(120s, std::string("a pause in the ") + stage + " stage");
            RecordingConverter c;
            const std::string out =
                Out.file(std::string(stop ? "paused-stop-" : "paused-") + stage + ".avi");
            {
                THeldStage held(point.Stage, point.Item);
                ASSERT_NO_FATAL_FAILURE(StartHeld(c, held, point, out));
                c.Converter.Pause();
                held.Release();
                // Unpaused, the whole clip converts in a fraction of this.
                EXPECT_FALSE(WaitUntil([&] { return Ended(c); }, 1500ms))
                    << "the task ended while paused";
                if (stop)
                    c.Converter.Stop(false);
                else
                    c.Converter.Resume();
                ASSERT_TRUE(c.WaitForEnd());
            }
            const TTerminateInfo end = c.TaskEnd(0);
            EXPECT_EQ(end.Finished, !stop);
            EXPECT_FALSE(end.ExceptionRaised) << end.ExceptionMsg;
            const int frames = VideoFrames(out);
            if (stop) {
                EXPECT_GE(frames, 1) << "no playable file after a stop: " << Described(out);
                EXPECT_LT(frames, 50);
            } else {
                EXPECT_EQ(frames, 50);
            }
        }
    }
}

// The writing fails like the other stages (their failures are checked with
// the stages' own threads, StageConversionTest.cpp): with its message, no
// file, and the next conversion unharmed; also where a copied stream's
// packets are written by the task's own thread.
TEST_F(StageStop, AFailureOfTheWritingEndsTheTaskWithItsMessageAndNoFile) {
    const struct {
        const char* Output;
        const char* Lines;
    } cases[] = {{"coded.mkv", kLines}, {"copied.mkv", "vcodec=copy\nacodec=copy"}};
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Output);
        ::setenv("VANTREL_STAGE_FAULT", "write:12", 1);
        RecordingConverter c;
        const std::string out = Out.file(item.Output);
        ASSERT_EQ(c.Add(Source, out, item.Lines), 0) << c.Converter.LastErrMsg;
        ASSERT_TRUE(c.Run());
        ::unsetenv("VANTREL_STAGE_FAULT");
        const TTerminateInfo end = c.TaskEnd(0);
        EXPECT_FALSE(end.Finished);
        EXPECT_TRUE(end.ExceptionRaised);
        EXPECT_EQ(end.ExceptionMsg, TStageFault::FaultText("write"));
        EXPECT_FALSE(std::filesystem::exists(out)) << "a failed task left its file";
    }
    RecordingConverter c;
    const std::string out = Out.file("after.avi");
    ASSERT_EQ(c.Add(Source, out, kLines), 0);
    ASSERT_TRUE(c.Run());
    EXPECT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
    EXPECT_EQ(VideoFrames(out), 50);
}
