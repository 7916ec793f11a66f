// The converter component: guards, task list, outputs and their option
// records, the defaults list of SetOutputFile and event dispatch.
#include "EngineTestSupport.h"

#include "engine/FFmpegVCL.h"
#include "media/OutputClaim.h"
#include "probe/AVProbe.h"

#include <filesystem>
#include <stdexcept>

namespace {

// Exposes the batch flags that a started batch would set.
class TestableVCL : public TFFmpegVCL {
public:
    void SetBatchState(bool working, bool allTerminated) {
        FWorking = working;
        FAllTerminated = allTerminated;
    }
    using TFFmpegVCL::DoProgress;
};

class Converter : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Media = &EngineMedia::Get();
    }
    std::string GeneralError(const std::function<void()>& action) {
        try {
            action();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }
    EngineMedia* Media = nullptr;
    testsupport::TempDir Out;
    TestableVCL CCAVC;
};

} // namespace

TEST_F(Converter, PropertiesAndTimestamps) {
    CCAVC.SetProgressInterval(50);
    EXPECT_EQ(CCAVC.GetProgressInterval(), 100);
    CCAVC.SetProgressInterval(750);
    EXPECT_EQ(CCAVC.GetProgressInterval(), 750);
    EXPECT_EQ(CCAVC.Version(), "3.3");
    EXPECT_TRUE(CCAVC.GetTriggerEventInMainThread());
    EXPECT_EQ(CCAVC.GetThreadPriority(), tpNormal);
    const double epoch = 25569.0 + LocalTimeZoneOffset();
    EXPECT_EQ(TimestampToUnixSeconds(epoch), 0);
    EXPECT_EQ(TimestampToUnixSeconds(epoch + 1.5), 129600);
}

TEST_F(Converter, GuardsWhileWorking) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    CCAVC.SetBatchState(true, false);
    EXPECT_EQ(GeneralError([&] { CCAVC.AddTask(Media->AudioVideo); }),
              "Cannot AddTask while working.");
    EXPECT_EQ(GeneralError([&] { CCAVC.SetOutputFile(0, Out.file("a.avi")); }),
              "Cannot SetOutputFile while working.");
    EXPECT_EQ(GeneralError([&] { CCAVC.RemoveTask(0); }), "Cannot RemoveTask while working.");
    EXPECT_EQ(GeneralError([&] { CCAVC.ClearTasks(); }), "Cannot ClearTasks while working.");
    EXPECT_EQ(CCAVC.TaskCount(), 1);
    CCAVC.SetBatchState(true, true); // the batch has ended
    EXPECT_EQ(GeneralError([&] { CCAVC.AddTask(Media->AudioVideo); }),
              "Cannot AddTask while working.");
    CCAVC.ClearTasks();
    EXPECT_EQ(CCAVC.TaskCount(), 0);
    EXPECT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
}

TEST_F(Converter, TaskListAndProbes) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    ASSERT_EQ(CCAVC.AddTask(Media->VideoOnly), 1);
    CCAVC.RemoveTask(0);
    ASSERT_EQ(CCAVC.TaskCount(), 1);
    EXPECT_EQ(std::string(CCAVC.Task(0)->InputContext(0)->url), Media->VideoOnly);
    EXPECT_EQ(CCAVC.InputProbe(5, 0), nullptr);
    ASSERT_TRUE(CCAVC.AddInput(0, Media->AudioVideo)) << CCAVC.LastErrMsg;
    TAVProbe* first = CCAVC.InputProbe(0, 0);
    TAVProbe* second = CCAVC.InputProbe(0, 1);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->VideoStreamCount(), 1);
    EXPECT_EQ(first->AudioStreamCount(), 0);
    EXPECT_EQ(second->AudioStreamCount(), 1);
    EXPECT_FALSE(CCAVC.AddInput(0, Out.file("missing.avi")));
    EXPECT_EQ(CCAVC.Task(0)->InputFileCount(), 2);
    EXPECT_FALSE(CCAVC.SetOutputFile(3, Out.file("a.avi")));
    EXPECT_FALSE(CCAVC.LastErrMsg.empty());
}

TEST_F(Converter, TwentyOutputsAtMost) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(CCAVC.SetOutputFile(0, Out.file("o" + std::to_string(i) + ".avi")))
            << CCAVC.LastErrMsg;
    EXPECT_FALSE(CCAVC.SetOutputFile(0, Out.file("o20.avi")));
    EXPECT_EQ(CCAVC.LastErrMsg, "max output files 20 reached");
    EXPECT_FALSE(std::filesystem::exists(Out.file("o20.avi")));
}

TEST_F(Converter, OutputFailuresKeepEarlierOutputs) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    ASSERT_TRUE(CCAVC.SetOutputFile(0, Out.file("first.avi")));
    TOutputOptions o;
    o.ExtOptions = "foo=1";
    EXPECT_TRUE(CCAVC.SetOutputFile(0, Out.file("second.avi"), &o)) << CCAVC.LastErrMsg;
    o.ExtOptions = "threads=two";
    EXPECT_FALSE(CCAVC.SetOutputFile(0, Out.file("third.avi"), &o));
    EXPECT_EQ(CCAVC.LastErrMsg, "Invalid value \"two\" for option \"threads\"");
    o.Reset();
    o.VideoTag = "XVI";
    EXPECT_FALSE(CCAVC.SetOutputFile(0, Out.file("fourth.avi"), &o));
    EXPECT_EQ(CCAVC.LastErrMsg, "video tag parameter must be 4 chars");
    EXPECT_EQ(CCAVC.Task(0)->OutputFileCount(), 2);
    EXPECT_EQ(CCAVC.Task(0)->OutputStreams().size(), 4u);
}

TEST_F(Converter, PendingCodecsOfNewAudioLines) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    TOutputOptions o;
    o.DisableVideo = true;
    o.ExtOptions = "acodec=mp2\nnewaudio=\nacodec=ac3\nnewaudio=";
    ASSERT_TRUE(CCAVC.SetOutputFile(0, Out.file("multi.mkv"), &o)) << CCAVC.LastErrMsg;
    std::vector<std::string> names;
    for (const TOutputStreamSetup& s : CCAVC.Task(0)->OutputStreams())
        names.push_back(s.Encoder->name);
    EXPECT_EQ(names, (std::vector<std::string>{"mp2", "mp2", "ac3"}));
}

TEST_F(Converter, RecordFieldsWinOverLinesAndDefaultsComeFirst) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    TOutputOptions o;
    o.VideoCodec = "mpeg4";
    o.FrameSize = "320x240";
    o.AudioChannels = 1;
    o.VideoLanguage = "fre";
    o.ExtOptions = "ac=2\ns=640x480\nvcodec=msmpeg4v2";
    ASSERT_TRUE(CCAVC.SetOutputFile(0, Out.file("r.avi"), &o)) << CCAVC.LastErrMsg;
    const auto& streams = CCAVC.Task(0)->OutputStreams();
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_STREQ(streams[0].Encoder->name, "mpeg4"); // the record's codec is the default
    EXPECT_EQ(streams[0].EncoderContext->width, 320);
    EXPECT_EQ(streams[1].EncoderContext->ch_layout.nb_channels, 1);
    EXPECT_EQ(MetadataValue(streams[0].Stream->metadata, "language", ""), "fre");
}

TEST_F(Converter, NewStreamNeedsAnOutput) {
    TFFmpeg task;
    EXPECT_EQ(EngineError([&] { task.ParseOption("newvideo", ""); }),
              "At least one output file must be specified");
}

// Nothing exists under an output's name before it is written; its claim
// goes with the task.
TEST_F(Converter, EmptyOutputFilesAreRemovedWithTheirTask) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    ASSERT_TRUE(CCAVC.SetOutputFile(0, Out.file("empty.avi")));
    EXPECT_FALSE(std::filesystem::exists(Out.file("empty.avi")));
    EXPECT_TRUE(IsClaimed(Out.file("empty.avi")));
    CCAVC.ClearTasks();
    EXPECT_FALSE(std::filesystem::exists(Out.file("empty.avi")));
    EXPECT_FALSE(IsClaimed(Out.file("empty.avi")));
}

TEST_F(Converter, PreviewFlagsReachEveryTask) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    CCAVC.SetPreview(true);
    EXPECT_EQ(CCAVC.Task(0)->PreviewFlags(), 1);
    CCAVC.SetPreviewBitmap(true);
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 1);
    EXPECT_EQ(CCAVC.Task(0)->PreviewFlags(), 3);
    EXPECT_EQ(CCAVC.Task(1)->PreviewFlags(), 3);
}

TEST_F(Converter, HookAndProgressDispatch) {
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 0);
    ASSERT_EQ(CCAVC.AddTask(Media->AudioVideo), 1);
    TOutputOptions o;
    o.CustomHook = true;
    ASSERT_TRUE(CCAVC.SetOutputFile(1, Out.file("h.avi"), &o));
    ASSERT_TRUE(CCAVC.Task(1)->OnHookCallback);
    EXPECT_FALSE(CCAVC.Task(0)->OnHookCallback);
    int hookTask = -2;
    CCAVC.OnCustomHook = [&](TCustomFFmpegVCL*, THookInfo* info) {
        hookTask = info->TaskIndex;
        info->StopHook = true;
        info->Update = false;
    };
    bool stop = false, update = true;
    CCAVC.Task(1)->OnHookCallback(CCAVC.Task(1), nullptr, stop, update, 40000, 2);
    EXPECT_EQ(hookTask, 1);
    EXPECT_TRUE(stop);
    EXPECT_FALSE(update);

    CCAVC.SetTriggerEventInMainThread(false);
    TProgressInfo seen;
    CCAVC.OnProgress = [&](TCustomFFmpegVCL*, TProgressInfo* info) { seen = *info; };
    CCAVC.Task(1)->OnProgressCallback(CCAVC.Task(1), -1, 50, 25, 2.5f, 128.0f, 4096, 2000000,
                                      3000000);
    EXPECT_EQ(seen.TaskIndex, 1);
    EXPECT_EQ(seen.FileIndex, -1);
    EXPECT_EQ(seen.FrameNumber, 50);
    EXPECT_EQ(seen.CurrentSize, 4096);
    EXPECT_EQ(seen.TotalDuration, 3000000);
}
