// The passes of a batch with a loudness target or a target size: the
// preparing pass's tasks and the rows they stand for, the conversion after
// it, a stop that ends the batch, a target too small for a row, and the
// encodes again of a file that missed its size until it is removed.
#include "BatchTestEnv.h"

#include "core/BatchPasses.h"
#include "core/BatchRunner.h"
#include "media/MainThread.h"

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using appcoretest::kMp4;

class BatchPassesTest : public appcoretest::TBatchTest {
protected:
    void SetUp() override {
        SetMainThread();
        TBatchTest::SetUp();
        ASSERT_TRUE(testsupport::MakeMedia(Silent(), "-f lavfi -i testsrc2=size=160x120:rate=25 "
                                                     "-t 1 -c:v mpeg4"));
    }
    void TearDown() override {
        TBatchTest::TearDown();
        ClearMainThread();
    }

    std::string Silent() const { return Temp.file("silent.avi"); }
    std::string Black() const { return Temp.file("black.avi"); }
    TlvFilesRecord Row(const std::string& file) const {
        return NewFilesRecord(file, "", 1000000, "lbox");
    }

    // Runs the converter's tasks as the batch runner does; the results of
    // the tasks in task order. Fails the test after a minute.
    std::vector<TTerminateInfo> RunPass(TBatchPlan& plan) {
        TBatchRunner runner(Converter, plan);
        runner.Start(1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!runner.Ended() && std::chrono::steady_clock::now() < deadline)
            ServiceMainThread(std::chrono::milliseconds(20));
        EXPECT_TRUE(runner.Ended()) << "the pass did not end";
        return runner.Results();
    }

    // Makes `file` `bytes` long (a result that missed its target).
    static void Overwrite(const std::string& file, std::size_t bytes) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << std::string(bytes, 'x');
    }

    // The last value of option `name` among the options' pairs.
    static std::string Value(const TOutputOptions& out, const std::string& name) {
        std::string value;
        for (const auto& [key, text] : out.ExtOptionPairs)
            if (key == name) value = text;
        return value;
    }
};

// Only rows with audio are measured, their tasks standing for their rows;
// the conversion follows with every row, in plan order, and ends the batch.
TEST_F(BatchPassesTest, MeasuringPassThenTheConversion) {
    TBatchPlan plan(Converter);
    TBatchPasses passes(Converter, plan);
    TlvFilesRecord silent = Row(Silent()), clip = Row(Clip());
    plan.AddRow(Global, kMp4, silent, 4);
    plan.AddRow(Global, kMp4, clip, 5);
    ASSERT_EQ(passes.Begin(-16, 0), "");
    EXPECT_EQ(passes.Pass(), TBatchPass::Preparing);
    ASSERT_EQ(Converter.TaskCount(), 1);
    EXPECT_EQ(passes.TaskCaption(0), "Measuring loudness");
    EXPECT_EQ(plan.TaskRow(0), 5);
    EXPECT_FALSE(passes.LastPass());

    ASSERT_TRUE(passes.Next(RunPass(plan)));
    EXPECT_EQ(passes.Pass(), TBatchPass::Conversion);
    ASSERT_EQ(Converter.TaskCount(), 2);
    EXPECT_EQ(passes.TaskCaption(0), "");
    EXPECT_EQ(plan.TaskRow(0), 4);
    EXPECT_EQ(plan.TaskRow(1), 5);
    EXPECT_TRUE(passes.LastPass());

    EXPECT_FALSE(passes.Next(RunPass(plan)));
    EXPECT_EQ(passes.Pass(), TBatchPass::Done);
    ASSERT_EQ(passes.Conversions().size(), 2u);
    for (int task : {0, 1}) {
        EXPECT_TRUE(passes.Conversions()[task].Finished) << task;
        EXPECT_TRUE(fs::exists(plan.TaskOutput(task))) << task;
    }
}

// A task of the preparing pass that was stopped ends the batch: nothing is
// converted. Without targets the plan's tasks are the only pass.
TEST_F(BatchPassesTest, StopInThePreparingPassEndsTheBatch) {
    TBatchPlan plan(Converter);
    TBatchPasses passes(Converter, plan);
    TlvFilesRecord clip = Row(Clip());
    plan.AddRow(Global, kMp4, clip, 0);
    ASSERT_EQ(passes.Begin(-23, 0), "");
    ASSERT_EQ(Converter.TaskCount(), 1);
    EXPECT_FALSE(passes.Next({TTerminateInfo()})); // neither finished nor failed
    EXPECT_EQ(passes.Pass(), TBatchPass::Done);
    EXPECT_FALSE(passes.Conversions()[0].Finished);
    EXPECT_FALSE(fs::exists(plan.TaskOutput(0)));

    Converter.ClearTasks();
    plan.Clear();
    TlvFilesRecord again = Row(Clip());
    plan.AddRow(Global, kMp4, again, 0);
    ASSERT_EQ(passes.Begin(0, 0), "");
    EXPECT_EQ(passes.Pass(), TBatchPass::Conversion);
    EXPECT_EQ(Converter.TaskCount(), 1);
    EXPECT_TRUE(passes.LastPass());
}

// A target too small for a row is refused naming the row's file; the
// plan's tasks stay as they were.
TEST_F(BatchPassesTest, TargetTooSmallIsRefused) {
    TBatchPlan plan(Converter);
    TBatchPasses passes(Converter, plan);
    TlvFilesRecord clip = Row(Clip());
    plan.AddRow(Global, kMp4, clip, 0);
    const std::string problems = passes.Begin(0, 0.0005);
    EXPECT_NE(problems.find(Clip()), std::string::npos) << problems;
    EXPECT_NE(problems.find("the smallest size that works is "), std::string::npos) << problems;
    EXPECT_EQ(Converter.TaskCount(), 1);
}

// A file larger than its target after the conversion is encoded again at a
// corrected rate; one still larger after the corrections is removed, so no
// file of the batch exceeds its target.
TEST_F(BatchPassesTest, FileLargerThanTheTargetIsEncodedAgainThenRemoved) {
    TBatchPlan plan(Converter);
    TBatchPasses passes(Converter, plan);
    TlvFilesRecord clip = Row(Clip());
    plan.AddRow(Global, kMp4, clip, 3);
    ASSERT_EQ(passes.Begin(0, 0.2), "");
    ASSERT_EQ(Converter.TaskCount(), 1);
    EXPECT_EQ(passes.TaskCaption(0), "First pass");
    ASSERT_TRUE(passes.Next(RunPass(plan)));
    ASSERT_EQ(passes.Pass(), TBatchPass::Conversion);
    EXPECT_FALSE(passes.LastPass());
    std::vector<TTerminateInfo> results = RunPass(plan);
    const std::string output = plan.TaskOutput(0);
    for (int round = 1; round <= TBatchPasses::kCorrections; ++round) {
        SCOPED_TRACE(round);
        Overwrite(output, 200'001);
        ASSERT_TRUE(passes.Next(results));
        EXPECT_EQ(passes.Pass(), TBatchPass::Correction);
        ASSERT_EQ(Converter.TaskCount(), 1);
        EXPECT_EQ(passes.TaskCaption(0), "Encoding again");
        EXPECT_EQ(plan.TaskRow(0), 3);
        EXPECT_FALSE(fs::exists(output)); // the miss goes before the new encode
        results = RunPass(plan);
        ASSERT_TRUE(results.at(0).Finished);
    }
    Overwrite(output, 200'001);
    EXPECT_FALSE(passes.Next(results));
    EXPECT_EQ(passes.Pass(), TBatchPass::Done);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(passes.Unfit(), std::vector<int>{0});
    const std::vector<std::string> notes = passes.TakeNotes();
    ASSERT_EQ(notes.size(), TBatchPasses::kCorrections + 1u);
    EXPECT_NE(notes.back().find("the file is removed"), std::string::npos) << notes.back();
}

// After the first passes, a row whose MPEG-4 encoder needs more than its
// target leaves (the test picture at 304 kbit/s) is refused naming the
// smallest size; the other row converts alone, its task standing for its
// row. A black picture lands far below its target, which no higher rate
// changes, so it is encoded again at once at a constant rate, padded into
// 90-100 % of the target.
TEST_F(BatchPassesTest, RowThatNeedsMoreIsRefusedAndABlackOneIsPadded) {
    ASSERT_TRUE(testsupport::MakeMedia(Black(), "-f lavfi -i color=black:size=160x120:rate=25 "
                                                "-t 1 -c:v mpeg4"));
    TBatchPlan plan(Converter);
    TBatchPasses passes(Converter, plan);
    TlvFilesRecord black = Row(Black()), busy = Row(Silent());
    plan.AddRow(Global, kMp4, black, 6);
    plan.AddRow(Global, kMp4, busy, 7);
    ASSERT_EQ(passes.Begin(0, 0.04), "");
    ASSERT_EQ(Converter.TaskCount(), 2);
    ASSERT_TRUE(passes.Next(RunPass(plan)));
    EXPECT_EQ(passes.Refused(), std::vector<int>{1});
    const TTerminateInfo& refused = passes.Conversions()[1];
    EXPECT_TRUE(refused.ExceptionRaised);
    EXPECT_EQ(refused.ExceptionMsg.rfind(Silent() + ": the target size is too small for its "
                                                    "length; the smallest size that works is ",
                                         0),
              0u)
        << refused.ExceptionMsg;
    ASSERT_EQ(Converter.TaskCount(), 1);
    EXPECT_EQ(plan.TaskRow(0), 6);

    std::vector<TTerminateInfo> results = RunPass(plan);
    ASSERT_TRUE(passes.Next(results));
    const TOutputOptions& out = plan.TaskPlan(0).Out;
    EXPECT_EQ(Value(out, "minrate"), std::to_string(out.VideoBitrate));
    EXPECT_EQ(Value(out, "pass"), "");
    do {
        EXPECT_EQ(plan.TaskRow(0), 6);
        results = RunPass(plan);
    } while (passes.Next(results));
    const auto size = fs::file_size(plan.TaskOutput(0));
    EXPECT_LE(size, 40'000u);
    EXPECT_GE(size, 36'000u);
    EXPECT_FALSE(fs::exists(plan.TaskOutput(1)));
}

} // namespace
