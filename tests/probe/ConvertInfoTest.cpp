// vantrel-convert --info on real and on bad files.
#include "ProbeMedia.h"

#include <gtest/gtest.h>

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
