// The option state on its own, without a task: what the options that act on
// the task's files ask of it through the links, and what happens without.
#include "EngineTestSupport.h"

#include "engine/TaskOptions.h"

#include <vector>

namespace {

class TaskOptions : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override { RequireLibraries(); }
    std::string Error(TTaskOptions& options, const std::string& name, const std::string& value) {
        return EngineError([&] { options.Apply(name, value); });
    }
    bool Strict = false;
};

} // namespace

// The norm of a target comes from the first input rate that has one; rates
// without a norm or without a denominator are passed over.
TEST_F(TaskOptions, TargetNormFromTheFirstInputRateThatHasOne) {
    TOptionLinks links;
    int asked = 0;
    links.InputVideoRates = [&] {
        ++asked;
        return std::vector<AVRational>{{30, 1}, {0, 0}, {25, 1}, {30000, 1001}};
    };
    TTaskOptions options(Strict, links);
    options.Apply("r", std::string("30"));
    options.Apply("target", std::string("dvd"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(options.State().FrameRateNum, 25);
    EXPECT_EQ(options.State().FrameHeight, 576);

    // No inputs to ask: the fallback norm of the text decides.
    TTaskOptions alone(Strict, TOptionLinks{});
    alone.Apply("r", std::string("30"));
    alone.Apply("target", std::string("dvd"));
    EXPECT_EQ(alone.State().FrameRateNum, 30000);
    EXPECT_EQ(alone.State().FrameHeight, 480);
}

// "t" reports the length to the task; the stream and hook options fail
// cleanly when there is no task to take them, and a refused hook module
// leaves no trace in the state.
TEST_F(TaskOptions, OptionsOnTheTaskGoThroughItsLinks) {
    TOptionLinks links;
    int64_t length = -1;
    std::vector<TMediaKind> streams;
    links.RecordingTime = [&](int64_t time) { length = time; };
    links.NewStream = [&](TMediaKind kind) { streams.push_back(kind); };
    links.AddHookModule = [](const THookModuleWords& words) { return words[0] == "good.so"; };
    TTaskOptions options(Strict, links);
    options.Apply("t", std::string("1.5"));
    EXPECT_EQ(length, 1500000);
    EXPECT_EQ(options.State().RecordingTime, 1500000);
    for (const char* name : {"newaudio", "newsubtitle", "newvideo"})
        options.Apply(name, std::string());
    EXPECT_EQ(streams, (std::vector<TMediaKind>{TMediaKind::Audio, TMediaKind::Subtitle,
                                                TMediaKind::Video}));
    EXPECT_EQ(Error(options, "vhook", "bad.so x"), "Failed to add video hook function: bad.so x");
    EXPECT_TRUE(options.State().HookModules.empty());
    options.Apply("vhook", std::string("good.so y"));
    ASSERT_EQ(options.State().HookModules.size(), 1u);
    EXPECT_TRUE(options.State().UsingVhook);

    TTaskOptions alone(Strict, TOptionLinks{});
    alone.Apply("t", std::string("2"));
    EXPECT_EQ(alone.State().RecordingTime, 2000000);
    EXPECT_EQ(Error(alone, "newvideo", ""), "At least one output file must be specified");
    EXPECT_EQ(Error(alone, "vhook", "good.so"), "Failed to add video hook function: good.so");
}

// The strict setting is read when an option is applied, not when the
// state is made: the task sets it after it creates its options.
TEST_F(TaskOptions, StrictSettingIsReadAtEachOption) {
    TTaskOptions options(Strict, TOptionLinks{});
    options.Apply("nosuchoptionname", std::string("1"));
    EXPECT_EQ(options.State().PendingOptions.size(), 1u);
    Strict = true;
    EXPECT_EQ(Error(options, "nosuchoptionname2", "1"), "Unrecognized option 'nosuchoptionname2'.");
    EXPECT_EQ(options.State().PendingOptions.size(), 1u);
}
