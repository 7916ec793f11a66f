// vantrel-convert --format CODE --print-options FILE, run as a program: the
// options of a new row for each of the twenty formats, and every result
// opening in the engine through the classic command form.
#include "core/IniFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::ShellQuote;

struct TPrinted {
    int ExitCode = -1;
    std::vector<std::pair<std::string, std::string>> Input, Output;
    std::string Text, Errors;

    std::string Out(const std::string& name) const {
        for (const auto& [n, v] : Output)
            if (n == name) return v;
        return {};
    }
    bool InHas(const std::string& name, const std::string& value) const {
        for (const auto& [n, v] : Input)
            if (n == name && v == value) return true;
        return false;
    }
};

class PrintOptions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        ASSERT_TRUE(testsupport::MakeMedia(
            Dir->file("src.mp4"), "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                                  "sine=sample_rate=22050 -ac 1 -t 1 -c:v mpeg4 -c:a aac"));
    }
    static void TearDownTestSuite() { delete Dir; }

    std::string Env() const {
        return "XDG_CONFIG_HOME=" + ShellQuote(Dir->file("cfg")) +
               " HOME=" + ShellQuote(Dir->file("home")) + " ";
    }

    TPrinted Print(const std::string& code, const std::string& file,
                   const std::string& edits = "") {
        TPrinted p;
        const std::string errors = Dir->file("errors.txt");
        // RunCommand joins the two streams; keep them apart in a subshell
        const auto result = testsupport::RunCommand(
            "(" + Env() + ShellQuote(VANTREL_CONVERT) + " --format " + ShellQuote(code) +
            " --print-options " + ShellQuote(file) + edits + " 2>" + ShellQuote(errors) + ")");
        p.ExitCode = result.exitCode;
        p.Text = result.output;
        std::ifstream err(errors);
        p.Errors.assign(std::istreambuf_iterator<char>(err), {});
        Parse(p);
        return p;
    }

    static void Parse(TPrinted& p) {
        std::istringstream lines(p.Text);
        std::vector<std::pair<std::string, std::string>>* section = nullptr;
        for (std::string line; std::getline(lines, line);) {
            if (line == "[input]" || line == "[output]") {
                section = line == "[input]" ? &p.Input : &p.Output;
                continue;
            }
            ASSERT_NE(section, nullptr) << "line before [input]: " << line;
            const std::size_t eq = line.find('=');
            ASSERT_NE(eq, std::string::npos) << line;
            section->push_back({line.substr(0, eq), line.substr(eq + 1)});
        }
    }

    // The classic form of vantrel-convert with the printed options.
    testsupport::CommandResult Open(const TPrinted& p, const std::string& source,
                                    const std::string& output) {
        std::string args;
        const auto add = [&](const std::pair<std::string, std::string>& option) {
            const bool flag = option.first == "vn" || option.first == "an" || option.first == "sn";
            args += " -" + option.first + (flag ? "" : " " + ShellQuote(option.second));
        };
        for (const auto& option : p.Input)
            add(option);
        args += " -i " + ShellQuote(source);
        for (const auto& option : p.Output)
            add(option);
        return testsupport::RunCommand(Env() + ShellQuote(VANTREL_CONVERT) + args + " " +
                                       ShellQuote(output));
    }

    void Settings(int code, const std::string& key, const std::string& value) {
        TIniFile ini(Dir->file("cfg") + "/vantrel/vantrel.ini");
        ASSERT_TRUE(ini.WriteString("formatInfo" + std::to_string(code), key, value));
    }

    static testsupport::TempDir* Dir;
};
testsupport::TempDir* PrintOptions::Dir = nullptr;

struct TFormat {
    int Code;
    const char* Ext;
};

const TFormat kFormats[] = {{0, "mp4"},   {1, "mp4"},   {2, "wmv"},   {100, "mpg"}, {101, "mpg"},
                            {102, "mp4"}, {103, "mp4"}, {104, "avi"}, {105, "wmv"}, {106, "avi"},
                            {107, "avi"}, {108, "dv"},  {109, "dv"},  {200, "mp3"}, {201, "aac"},
                            {202, "m4a"}, {203, "wma"}, {204, "wav"}, {205, "ogg"}, {206, "ac3"}};

TEST_F(PrintOptions, EveryFormatGivesOptionsTheEngineOpens) {
    for (const TFormat& f : kFormats) {
        SCOPED_TRACE("format " + std::to_string(f.Code));
        const TPrinted p = Print(std::to_string(f.Code), Dir->file("src.mp4"));
        ASSERT_EQ(p.ExitCode, 0) << p.Text << p.Errors;
        EXPECT_EQ(p.Text.rfind("[input]\n", 0), 0u) << p.Text;
        EXPECT_TRUE(p.InHas("ss", "0")); // a new row starts at 0
        const bool audioOnly = f.Code >= 200;
        EXPECT_EQ(p.InHas("vn", "1"), audioOnly);
        EXPECT_EQ(p.Out("vn"), audioOnly ? "1" : "");
        EXPECT_EQ(p.Out("vcodec").empty(), audioOnly);
        EXPECT_EQ(p.Out("aspect").empty(), audioOnly);
        EXPECT_FALSE(p.Out("acodec").empty());

        const std::string output = Dir->file("out" + std::to_string(f.Code) + "." + f.Ext);
        const auto opened = Open(p, Dir->file("src.mp4"), output);
        EXPECT_EQ(opened.exitCode, 0) << p.Text << opened.output;
        EXPECT_NE(opened.output.find("Output #0"), std::string::npos) << opened.output;
    }
}

TEST_F(PrintOptions, FormatsThatNeedCare) {
    const std::string src = Dir->file("src.mp4");
    EXPECT_EQ(Print("108", src).Out("target"), "ntsc-dv");
    EXPECT_EQ(Print("109", src).Out("target"), "pal-dv");
    EXPECT_EQ(Print("109", src).Out("f"), "dv");
    EXPECT_EQ(Print("201", src).Out("acodec"), "aac");
    EXPECT_EQ(Print("205", src).Out("acodec"), "libvorbis");
    EXPECT_EQ(Print("1", src).Out("vpre"), "libx264-ipod");
    // 160x120 letterboxed into 320x240: same ratio, no bars
    const TPrinted zune = Print("0", src);
    EXPECT_EQ(zune.Out("s"), "320x240");
    EXPECT_EQ(zune.Out("vfilters"), "pad=320:240:0:0");
}

TEST_F(PrintOptions, SizeQuestionIsAnsweredNo) {
    ASSERT_EQ(Print("102", Dir->file("src.mp4")).ExitCode, 0); // settings written
    Settings(102, "paraVideoSize", "x240");
    Settings(102, "parazoom", "full");
    const TPrinted p = Print("102", Dir->file("src.mp4"));
    EXPECT_EQ(p.ExitCode, 0) << p.Errors;
    EXPECT_NE(p.Errors.find("Error output Video Size.Use the default size 320x240?"),
              std::string::npos)
        << p.Errors;
    EXPECT_EQ(p.Out("s"), "160x120");
    EXPECT_EQ(p.Out("aspect"), "160:120");
}

TEST_F(PrintOptions, ErrorsExitWithTheirText) {
    const TPrinted missing = Print("0", Dir->file("nothing.mp4"));
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_FALSE(missing.Errors.empty());
    EXPECT_TRUE(missing.Output.empty());

    const TPrinted badCode = Print("7", Dir->file("src.mp4"));
    EXPECT_EQ(badCode.ExitCode, 1);
    EXPECT_NE(badCode.Errors.find("Unknown format code: 7"), std::string::npos);

    ASSERT_EQ(Print("206", Dir->file("src.mp4")).ExitCode, 0);
    Settings(206, "paraVolume", "loud");
    const TPrinted loud = Print("206", Dir->file("src.mp4"));
    EXPECT_EQ(loud.ExitCode, 1);
    EXPECT_NE(loud.Errors.find("'loud'"), std::string::npos) << loud.Errors;
    EXPECT_TRUE(loud.Output.empty());
}

// A trimmed row: its start on the input and its length on the output, in a
// form the engine reads back, so the printed options convert just the part.
TEST_F(PrintOptions, TrimmedRowShowsItsStartAndLength) {
    const std::string src = Dir->file("long.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(src, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                                            "-i sine=sample_rate=22050 -t 4 -c:v mpeg4 -c:a aac"));
    const TPrinted plain = Print("104", src);
    EXPECT_EQ(plain.Out("t"), "");
    const TPrinted p = Print("104", src, " --trim 1,2");
    ASSERT_EQ(p.ExitCode, 0) << p.Text << p.Errors;
    EXPECT_TRUE(p.InHas("ss", "1000000us")) << p.Text;
    EXPECT_EQ(p.Out("t"), "2000000us") << p.Text;

    const std::string output = Dir->file("trimmed.avi");
    const auto opened = Open(p, src, output);
    ASSERT_EQ(opened.exitCode, 0) << p.Text << opened.output;
    EXPECT_NEAR(testsupport::DurationSeconds(output), 2.0, 0.15) << opened.output;
}

// A settings file that is a folder: a clear error naming it, from both
// forms, and nothing left behind in the temporary folder.
TEST_F(PrintOptions, SettingsFileThatIsAFolderFailsCleanly) {
    const std::string cfg = Dir->file("cfg-folder");
    const std::string tmp = Dir->file("tmp-folder");
    fs::create_directories(cfg + "/vantrel/vantrel.ini");
    fs::create_directories(tmp);
    const std::string env = "XDG_CONFIG_HOME=" + ShellQuote(cfg) +
                            " HOME=" + ShellQuote(Dir->file("home")) +
                            " TMPDIR=" + ShellQuote(tmp) + " ";
    const std::string src = ShellQuote(Dir->file("src.mp4"));
    for (const std::string& form :
         {" --print-options " + src,
          " --output-dir " + ShellQuote(Dir->file("out-folder")) + " " + src}) {
        SCOPED_TRACE(form);
        const auto result =
            testsupport::RunCommand(env + ShellQuote(VANTREL_CONVERT) + " --format 200" + form);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.output.find("vantrel.ini': Is a directory"), std::string::npos)
            << result.output;
        EXPECT_EQ(result.output.find("filesystem error"), std::string::npos) << result.output;
        EXPECT_TRUE(fs::is_empty(tmp)) << "left behind in " << tmp;
        EXPECT_TRUE(fs::is_directory(cfg + "/vantrel/vantrel.ini"));
    }
}

// A format file that lost its keys gets them back before the options are
// built: the container of an MPEG-2 file and the sound of an MP3 file.
TEST_F(PrintOptions, EmptyFormatFileIsRestored) {
    const std::string formats = Dir->file("cfg") + "/vantrel/vantrelformat.ini";
    ASSERT_EQ(Print("101", Dir->file("src.mp4")).ExitCode, 0);
    const TPrinted before = Print("101", Dir->file("src.mp4"));
    std::ofstream(formats, std::ios::trunc).flush();
    const TPrinted after = Print("101", Dir->file("src.mp4"));
    EXPECT_EQ(after.ExitCode, 0) << after.Errors;
    EXPECT_EQ(after.Output, before.Output);
    EXPECT_NE(TIniFile(formats).ReadString("formatInfo101", "FileExt", ""), "");
}

} // namespace
