// What vantrel-convert --print-options writes for a row is what the engine
// is given for it: the printed lines, read back one by one as option text,
// leave each of the task's inputs and its output in the option state the
// row's records leave, for trimmed, cropped, adjusted, watermarked,
// sound-only, modern and black-picture rows; and the switches of the output
// record that are no options are printed too.
#include "EngineTestSupport.h"
#include "OptionStateCompare.h"

#include "FormatRow.h"
#include "PrintOptions.h"
#include "core/BatchPlan.h"
#include "engine/FFmpegRecordOptions.h"
#include "probe/AVProbe.h"

#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>

namespace {

// The printed text cut into its sections, each a list of name=value lines.
using TSections = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

TSections ReadSections(const std::string& text) {
    TSections sections;
    std::istringstream lines(text);
    std::string section;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            sections[section]; // a section may have no lines
            continue;
        }
        const std::size_t eq = line.find('=');
        EXPECT_FALSE(section.empty()) << "line before a section: " << line;
        EXPECT_NE(eq, std::string::npos) << line;
        if (eq == std::string::npos) continue;
        sections[section].emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return sections;
}

void ApplyText(TFFmpeg& task, const TSections& sections, const std::string& name) {
    const auto section = sections.find(name);
    if (section == sections.end()) return;
    for (const auto& [option, value] : section->second)
        task.ParseOption(option, value);
}

struct TRow {
    const char* Name;
    int Code;
    std::vector<std::string> Edits;
    bool SoundSource = false;
};

class PrintedOptions : public ::testing::Test, protected LibrariesFirst {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        ::setenv("XDG_CONFIG_HOME", Dir->file("cfg").c_str(), 1);
        ::setenv("HOME", Dir->file("home").c_str(), 1);
        ASSERT_TRUE(testsupport::MakeMedia(Dir->file("src.mp4"),
                                           "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
                                           "sine=sample_rate=44100 -t 4 -c:v mpeg4 -c:a aac"));
        ASSERT_TRUE(testsupport::MakeMedia(Dir->file("sound.mp2"),
                                           "-f lavfi -i sine=sample_rate=44100 -t 2 -c:a mp2"));
    }
    static void TearDownTestSuite() { delete Dir; }

    void SetUp() override { RequireLibraries(); }

    static std::string Source(const TRow& row) {
        return Dir->file(row.SoundSource ? "sound.mp2" : "src.mp4");
    }

    // The row's task as the batch plans it, from the same settings store.
    static TTaskPlan Plan(const TRow& row) {
        TGlobalObject g;
        InitSettingsStore(g);
        TAVProbe probe;
        TProbedFile probed;
        std::string error;
        EXPECT_TRUE(ProbeRowSource(probe, Source(row), probed, error)) << error;
        TlvFilesRecord record =
            NewEditedRow(g, row.Code, Source(row), probed.Duration, row.Edits, {});
        return PlanRowTask(g, row.Code, record, probed, nullptr);
    }

    static testsupport::TempDir* Dir;
};
testsupport::TempDir* PrintedOptions::Dir = nullptr;

const TRow kRows[] = {
    {"trim", 0, {"--trim", "1,2"}},
    {"crop", 0, {"--crop", "8,16,8,16"}},
    {"effects", 0, {"--brightness", "300", "--contrast", "20"}},
    {"watermark", 104, {"--text", "hello@10,10,200"}},
    {"sound only", 200, {"--trim", "0,3"}},
    {"modern", 300, {}},
    {"black picture", 109, {}, true},
};

} // namespace

// The command's text is the plan's, and the plan's text read back gives
// every input and the output the option state of the records.
TEST_F(PrintedOptions, PrintedLinesGiveTheEngineTheStateOfTheRowsRecords) {
    for (const TRow& row : kRows) {
        SCOPED_TRACE(row.Name);
        const TTaskPlan plan = Plan(row);
        std::ostringstream printed, errors;
        ASSERT_EQ(PrintConversionOptions(row.Code, Source(row), printed, errors, row.Edits), 0)
            << errors.str();
        EXPECT_EQ(printed.str(), TaskPlanText(plan));
        const TSections sections = ReadSections(printed.str());

        TFFmpeg inRecord, inText;
        inRecord.ApplyRecordOptions(InputRecordOptions(plan.In));
        ApplyText(inText, sections, "input");
        ExpectSameState(inRecord, inText);

        EXPECT_EQ(sections.count("picture"), plan.HasPicture ? 1u : 0u);
        TFFmpeg pictureRecord, pictureText;
        if (plan.HasPicture) pictureRecord.ApplyRecordOptions(InputRecordOptions(plan.Picture));
        ApplyText(pictureText, sections, "picture");
        ExpectSameState(pictureRecord, pictureText);

        TFFmpeg outRecord, outText;
        outRecord.ApplyRecordOptions(OutputRecordOptions(plan.Out, std::time(nullptr)));
        outRecord.ApplyRecordOptions(NewStreamRecordOptions(plan.Out));
        ApplyText(outText, sections, "output");
        ExpectSameState(outRecord, outText);

        const bool hooked =
            sections.count("record") &&
            sections.at("record") ==
                std::vector<std::pair<std::string, std::string>>{{"customhook", "1"}};
        EXPECT_EQ(hooked, plan.Out.CustomHook);
    }
}

// Each row reaches the engine with what makes it that row, so the
// comparison above compares something.
TEST_F(PrintedOptions, EachRowCarriesItsEdits) {
    const TOptionState none;
    const auto output = [](const TTaskPlan& plan, TFFmpeg& task) -> const TOptionState& {
        task.ApplyRecordOptions(OutputRecordOptions(plan.Out, 0));
        return task.OptionState();
    };
    {
        const TTaskPlan plan = Plan(kRows[0]);
        TFFmpeg in, out;
        in.ApplyRecordOptions(InputRecordOptions(plan.In));
        EXPECT_EQ(in.OptionState().StartTime, 1000000);
        EXPECT_EQ(output(plan, out).RecordingTime, 2000000);
        EXPECT_FALSE(plan.Out.CustomHook);
    }
    {
        TFFmpeg out;
        EXPECT_NE(output(Plan(kRows[1]), out).VFilters.find("crop=288:224:16:8"), std::string::npos)
            << out.OptionState().VFilters;
    }
    EXPECT_TRUE(Plan(kRows[2]).Out.CustomHook);
    EXPECT_TRUE(Plan(kRows[3]).Out.CustomHook);
    {
        TFFmpeg out;
        const TOptionState& s = output(Plan(kRows[4]), out);
        EXPECT_TRUE(s.VideoDisable);
        EXPECT_EQ(s.RecordingTime, 3000000);
    }
    {
        TFFmpeg out;
        EXPECT_EQ(output(Plan(kRows[5]), out).VideoCodecName, "libx265");
    }
    {
        const TTaskPlan plan = Plan(kRows[6]);
        ASSERT_TRUE(plan.HasPicture);
        TFFmpeg picture;
        picture.ApplyRecordOptions(InputRecordOptions(plan.Picture));
        EXPECT_EQ(picture.OptionState().FormatName, "image2");
        EXPECT_NE(picture.OptionState().FrameRateNum, none.FrameRateNum);
    }
}
