// vantrel-convert's classic form, run as a program: every container and
// encoder of the built-in format file opens, errors give the engine's text.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class ConvertCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        Input = Dir->file("in ü.avi");
        ASSERT_TRUE(
            testsupport::MakeMedia(Input, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                                          "sine=sample_rate=44100 -ac 2 -t 1 -c:v mpeg4 -c:a mp2"));
    }
    static void TearDownTestSuite() { delete Dir; }
    testsupport::CommandResult Run(const std::string& args) {
        return testsupport::RunCommand(testsupport::ShellQuote(VANTREL_CONVERT) + " " + args);
    }
    static testsupport::TempDir* Dir;
    static std::string Input;
};
testsupport::TempDir* ConvertCommand::Dir = nullptr;
std::string ConvertCommand::Input;

} // namespace

TEST_F(ConvertCommand, BuiltinFormatsOpenWithTheirEncoders) {
    struct Case {
        const char* Format;
        const char* Ext;
        const char* Video; // empty: audio only
        const char* Audio;
    };
    const Case cases[] = {
        {"ipod", "mp4", "mpeg4", "aac"},
        {"ipod", "mp4", "libx264", "aac"},
        {"asf", "wmv", "wmv2", "wmav2"},
        {"mpeg", "mpg", "mpeg1video", "mp2"},
        {"vob", "mpg", "mpeg2video", "mp2"},
        {"avi", "avi", "mpeg4", "libmp3lame"},
        {"avi", "avi", "libxvid", "libmp3lame"},
        {"dv", "dv", "dvvideo", "pcm_s16le"},
        {"mp3", "mp3", "", "libmp3lame"},
        {"adts", "aac", "", "aac"},
        {"ipod", "m4a", "", "aac"},
        {"asf", "wma", "", "wmav2"},
        {"wav", "wav", "", "pcm_s16le"},
        {"ogg", "ogg", "", "libvorbis"},
        {"ac3", "ac3", "", "ac3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Format) + " " + c.Video + " " + c.Audio);
        const std::string out = Dir->file(std::string("out.") + c.Ext);
        std::string video = *c.Video ? std::string("-vcodec ") + c.Video : "-vn";
        if (std::string(c.Video) == "dvvideo") video += " -s 720x576";
        const auto r = Run("-i " + testsupport::ShellQuote(Input) + " -f " + c.Format + " " +
                           video + " -acodec " + c.Audio + " " + testsupport::ShellQuote(out));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        if (*c.Video)
            EXPECT_NE(r.output.find(std::string("Video: ") + c.Video), std::string::npos)
                << r.output;
        else
            EXPECT_EQ(r.output.find("Video: "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(std::string("Audio: ") + c.Audio), std::string::npos) << r.output;
    }
}

TEST_F(ConvertCommand, InputOptionsAndSeveralInputs) {
    const std::string out = Dir->file("j.mkv");
    auto r = Run("-vcodec mpeg4 -i " + testsupport::ShellQuote(Input) + " -i " +
                 testsupport::ShellQuote(Input) +
                 " -join -acodec mp2 -newaudio -acodec ac3 "
                 "-newaudio " +
                 testsupport::ShellQuote(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Stream #0.1: Audio: mp2"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Stream #0.2: Audio: mp2"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Stream #0.3: Audio: ac3"), std::string::npos) << r.output;
}

TEST_F(ConvertCommand, ErrorsGiveTheEngineText) {
    auto r = Run("-i " + testsupport::ShellQuote(Dir->file("none.avi")) + " x.avi");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, Dir->file("none.avi") + ": No such file or directory\n");
    r = Run("-i " + testsupport::ShellQuote(Input) + " -threads 2 " +
            testsupport::ShellQuote(Dir->file("t.avi")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "TODO: option - threads\n");
    r = Run("-i " + testsupport::ShellQuote(Input));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "At least one output file must be specified\n");
    r = Run("-i " + testsupport::ShellQuote(Input) + " " +
            testsupport::ShellQuote(Dir->file("a.xyz")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output,
              "Unable to find a suitable output format for '" + Dir->file("a.xyz") + "'\n");
}
