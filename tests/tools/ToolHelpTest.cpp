// The tools started as programs explain themselves: the usage with every
// edit's range and neutral value, and the list of output formats, on
// standard output with exit status 0.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Standard output only; standard error is dropped.
testsupport::CommandResult RunOut(const char* program, const std::string& args,
                                  const testsupport::TempDir& home) {
    const std::string q = testsupport::ShellQuote(home.file("home"));
    return testsupport::RunCommand("(HOME=" + q + " XDG_CONFIG_HOME=" + q + "/cfg " +
                                   testsupport::ShellQuote(program) + " " + args + " 2>/dev/null)");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ToolHelp, ConvertHelpGivesTheFormsAndEveryEditsRange) {
    testsupport::TempDir home;
    for (const char* option : {"--help", "-h"}) {
        const auto r = RunOut(VANTREL_CONVERT, option, home);
        ASSERT_EQ(r.exitCode, 0) << option << ": " << r.output;
        EXPECT_TRUE(Has(r.output, "Usage: vantrel-convert --info FILE")) << r.output;
        EXPECT_TRUE(Has(r.output, "--list-formats")) << r.output;
        EXPECT_FALSE(Has(r.output, "Missing argument")) << r.output;
        // Each adjustment with its range and the value that changes nothing.
        EXPECT_TRUE(Has(r.output, "--brightness N\n      0 to 512; 255 leaves the picture "
                                  "untouched (256 while another adjustment is in use)."))
            << r.output;
        EXPECT_TRUE(Has(r.output, "--saturation N\n      0 to 512; 255 leaves")) << r.output;
        EXPECT_TRUE(Has(r.output, "--contrast N\n      -100 to 100; 0 leaves the picture "
                                  "untouched."))
            << r.output;
        EXPECT_TRUE(Has(r.output, "--exposure N\n      -255 to 512; 0 leaves")) << r.output;
        for (const char* edit :
             {"--crop TOP,LEFT,BOTTOM,RIGHT", "--trim START,LENGTH", "--text", "--image"})
            EXPECT_TRUE(Has(r.output, edit)) << edit;
    }
}

TEST(ToolHelp, ListFormatsGivesEveryCodeWithExtensionAndCaption) {
    testsupport::TempDir home;
    const auto r = RunOut(VANTREL_CONVERT, "--list-formats", home);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::vector<std::string> lines = Lines(r.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Code  Ext   Caption");
    EXPECT_EQ(lines.size(), 28u) << r.output; // the heading, twenty and seven modern formats
    const char* const expected[] = {
        "0     mp4   ZUNE - MPEG-4 Video (*.mp4)",
        "102   mp4   MPEG-4 Video (*.mp4)",
        "108   dv    DV - NTSC -Digital Video Format (*.dv)",
        "200   mp3   MP3 MPEG Layer-3 Audio (*.mp3)",
        "206   ac3   AC-3 Audio Codec (*.ac3)",
        "303   mkv   Matroska - keep streams, no re-encoding (*.mkv)",
    };
    for (const char* line : expected)
        EXPECT_TRUE(Has(r.output, std::string(line) + "\n")) << line << "\n" << r.output;
    // Listing writes no settings.
    EXPECT_FALSE(std::filesystem::exists(home.file("home/cfg")));
}

TEST(ToolHelp, PlayHelpGivesTheFormsAndKeys) {
    testsupport::TempDir home;
    for (const char* option : {"--help", "-h"}) {
        const auto r = RunOut(VANTREL_PLAY, option, home);
        ASSERT_EQ(r.exitCode, 0) << option << ": " << r.output;
        EXPECT_TRUE(Has(r.output, "usage: vantrel-play FILE")) << r.output;
        EXPECT_TRUE(Has(r.output, "--snapshot OUT.bmp")) << r.output;
        EXPECT_TRUE(Has(r.output, "space pauses and resumes")) << r.output;
    }
    // A wrong call still says how to call it, on stderr with status 1.
    const auto wrong = RunOut(VANTREL_PLAY, "--bogus", home);
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.output, "");
}
