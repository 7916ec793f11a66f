// The batch core's planning of rows: the output name taken by another
// program between planning and opening, rows that cannot be planned, and
// the frame hook switch with the hook finding a frame's row.
#include "BatchTestEnv.h"

#include <fstream>

namespace {

using appcoretest::kMp4;

class BatchPlanTest : public appcoretest::TBatchTest {};

// The frame-size question comes between naming the output and opening it:
// a file made with that name meanwhile (as another vantrel-convert of the
// same batch would) makes the plan take the next name, and the other
// program's file stays as it was.
TEST_F(BatchPlanTest, NameTakenMeanwhileIsPlannedAgain) {
    ASSERT_TRUE(Global.Settings().WriteString(FormatSectionName(kMp4), "paraVideoSize", "huge"));
    bool made = false;
    const TScopedMessageHandler claim(
        [&](const std::string&, const std::string&, TMsgIcon, TMsgButtons) {
            if (!made) std::ofstream(Output("clip_(new).mp4")) << "theirs";
            made = true;
            return TMsgResult::No;
        });
    TBatchPlan plan(Converter);
    TlvFilesRecord row = Row(Clip());
    const int task = plan.AddRow(Global, kMp4, row, 7);
    EXPECT_EQ(task, 0);
    EXPECT_EQ(plan.TaskOutput(task), Output("clip_(new_1).mp4"));
    EXPECT_EQ(plan.TaskRows(), std::vector<int32_t>{7});
    EXPECT_EQ(Converter.TaskCount(), 1);
    std::ifstream theirs(Output("clip_(new).mp4"));
    std::string text;
    theirs >> text;
    EXPECT_EQ(text, "theirs");
}

// Names given to earlier rows of the plan are not given again, even before
// their files exist.
TEST_F(BatchPlanTest, RowsOfOnePlanGetDifferentNames) {
    TBatchPlan plan(Converter);
    TlvFilesRecord first = Row(Clip()), second = Row(Clip());
    plan.AddRow(Global, kMp4, first, 0);
    plan.AddRow(Global, kMp4, second, 1);
    EXPECT_EQ(plan.TaskOutput(0), Output("clip_(new).mp4"));
    EXPECT_EQ(plan.TaskOutput(1), Output("clip_(new_1).mp4"));
}

// A source the probe cannot open fails its row with the probe's error and
// adds no task; with the window's rule the last source that opened stands
// in, and then the converter's error fails the row and no task is left.
TEST_F(BatchPlanTest, SourceThatCannotBeOpenedFailsItsRow) {
    const std::string missing = Temp.file("missing.avi");
    TBatchPlan plan(Converter);
    TlvFilesRecord row = Row(missing);
    try {
        plan.AddRow(Global, kMp4, row, 0);
        FAIL() << "the row was planned";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing.avi"), std::string::npos) << e.what();
    }
    EXPECT_EQ(plan.TaskCount(), 0);
    EXPECT_EQ(Converter.TaskCount(), 0);

    plan.KeepLastProbe = true;
    TlvFilesRecord good = Row(Clip());
    plan.AddRow(Global, kMp4, good, 0);
    EXPECT_THROW(plan.AddRow(Global, kMp4, row, 1), FFmpegException);
    EXPECT_EQ(plan.TaskCount(), 1);
    EXPECT_EQ(Converter.TaskCount(), 1);
    EXPECT_EQ(plan.TaskRow(1), -1);
}

// The hook is switched on for rows with effects or layers (or for every
// row when asked), and the hook draws the row of the frame's task.
TEST_F(BatchPlanTest, HookSwitchAndTheRowsTheHookDraws) {
    TBatchPlan plan(Converter);
    TlvFilesRecord plain = Row(Clip()), brighter = Row(Clip());
    brighter.Brightness = 300;
    plan.AddRow(Global, kMp4, plain, 0);
    plan.AddRow(Global, kMp4, brighter, 1);
    EXPECT_FALSE(plan.TaskPlan(0).Out.CustomHook);
    EXPECT_TRUE(plan.TaskPlan(1).Out.CustomHook);
    plan.HookEveryFrame = true;
    TlvFilesRecord third = Row(Clip());
    plan.AddRow(Global, kMp4, third, 2);
    EXPECT_TRUE(plan.TaskPlan(2).Out.CustomHook);

    std::vector<const TlvFilesRecord*> drawn;
    plan.Drawer = [&](const TlvFilesRecord& row, THookInfo&) { drawn.push_back(&row); };
    Bitmap24 frame;
    THookInfo info;
    info.Bitmap = &frame;
    for (int task : {1, 0, 3, -1}) {
        info.TaskIndex = task;
        plan.DrawFrame(&info);
    }
    EXPECT_EQ(drawn, (std::vector<const TlvFilesRecord*>{&brighter, &plain}));
    plan.DrawFrame(nullptr);
    info.Bitmap = nullptr;
    info.TaskIndex = 0;
    plan.DrawFrame(&info);
    EXPECT_EQ(drawn.size(), 2u);
}

} // namespace
