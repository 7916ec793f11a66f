// vantrel-convert --info on real and on bad files.
#include "ProbeMedia.h"

#include <filesystem>
#include <gtest/gtest.h>
#include "media/FFmpegHeaders.h"
#include <unistd.h>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {

testsupport::CommandResult Info(const std::string& file) {
    return RunCommand(std::string(VANTREL_CONVERT) + " --info " + ShellQuote(file));
}

TEST(ConvertInfo, DescribesFilesOfSeveralContainers) {
    for (const std::string& file :
         {TestMedia().AudioVideo, TestMedia().AudioOnly, TestMedia().VideoOnly, TestMedia().Program,
          TestMedia().Transport, TestMedia().Accented}) {
        testsupport::CommandResult result = Info(file);
        EXPECT_EQ(result.exitCode, 0) << file << "\n" << result.output;
        EXPECT_EQ(result.output.rfind("File Name: " + file + "\r\n", 0), 0u) << result.output;
        std::string format = testsupport::ProbeValue(file, "format=format_name");
        EXPECT_NE(result.output.find("Format Name: " + format + "\r\n"), std::string::npos)
            << result.output;
        int streams = std::stoi(testsupport::ProbeValue(file, "format=nb_streams"));
        for (int i = 0; i < streams; ++i)
            EXPECT_NE(result.output.find("Stream #" + std::to_string(i)), std::string::npos);
    }
}

TEST(ConvertInfo, BadFileGivesTheProbesTextAndStatusOne) {
    testsupport::TempDir dir;
    std::string file = dir.file("missing.avi");
    testsupport::CommandResult result = Info(file);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, file + ": No such file or directory\n");
}

TEST(ConvertInfo, WrongArgumentsShowTheUsage) {
    for (const char* args : {"", " --info", " --info a b"}) {
        testsupport::CommandResult result = RunCommand(std::string(VANTREL_CONVERT) + args);
        EXPECT_EQ(result.exitCode, 2) << args;
        EXPECT_NE(result.output.find("usage: vantrel-convert --info FILE"), std::string::npos);
    }
}

} // namespace

namespace {

// A file the user may not read. Root reads everything, so as root the tool
// runs as "nobody" (through setpriv) when it can.
TEST(ConvertInfo, FileWithoutPermissionGivesTheErrorText) {
    testsupport::TempDir dir;
    std::string file = dir.file("locked.wav");
    ASSERT_TRUE(testsupport::MakeMedia(file, "-f lavfi -i sine -t 0.5"));
    std::filesystem::permissions(file, std::filesystem::perms::none);
    std::string command = std::string(VANTREL_CONVERT) + " --info " + ShellQuote(file);
    if (geteuid() == 0) {
        if (RunCommand("command -v setpriv").exitCode != 0) GTEST_SKIP() << "no setpriv";
        std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
        command = "setpriv --reuid=65534 --regid=65534 --clear-groups " + command;
    }
    testsupport::CommandResult result = RunCommand(command);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(result.output, file + ": Permission denied\n");
}

} // namespace
