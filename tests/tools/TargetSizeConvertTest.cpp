// vantrel-convert --format with a target size: files land within 90-100 %
// of the target on a noisy high-motion clip, a minute with audio (whose
// audio rate goes down where 2 MB demand it) and a still picture (padded at
// a constant rate); a target too small for a file's length is refused,
// before the passes or after an MPEG-4 first pass, naming the file and the
// smallest size that works, and that size works.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using testsupport::ShellQuote;
namespace fs = std::filesystem;

class TargetSizeConvert : public ::testing::Test {
protected:
    testsupport::CommandResult Convert(const std::string& args) {
        const std::string env = "HOME=" + ShellQuote(Dir.file("home")) +
                                " XDG_CONFIG_HOME=" + ShellQuote(Dir.file("cfg")) + " ";
        return testsupport::RunCommand(env + ShellQuote(VANTREL_CONVERT) + " --format " + args +
                                       " --output-dir " + ShellQuote(Dir.file("out")) + " 2>&1");
    }

    // Converts `source` to `format` (H.264 unless said) at the target (MB)
    // and returns the output's size in bytes.
    int64_t ConvertAt(const std::string& source, double megabytes, int format = 103) {
        fs::remove_all(Dir.file("out"));
        const auto result = Convert(std::to_string(format) + " --target-size " +
                                    std::to_string(megabytes) + " " + ShellQuote(source));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        LastOutput = result.output;
        const std::string out = Dir.file("out/" + fs::path(source).stem().string() + "_(new).mp4");
        std::error_code ec;
        const auto size = fs::file_size(out, ec);
        EXPECT_FALSE(ec) << out << "\n" << result.output;
        return ec ? -1 : static_cast<int64_t>(size);
    }

    void ExpectWithin(const std::string& source, double megabytes, int format = 103) {
        const int64_t size = ConvertAt(source, megabytes, format);
        const double target = megabytes * 1e6;
        EXPECT_LE(size, target) << source << " at " << megabytes << " MB";
        EXPECT_GE(size, target * 0.9) << source << " at " << megabytes << " MB";
    }

    testsupport::TempDir Dir;
    std::string LastOutput; // of the last ConvertAt
};

TEST_F(TargetSizeConvert, NoisyHighMotionClipLandsJustBelowTheTarget) {
    const std::string noisy = Dir.file("noisy.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        noisy, "-f lavfi -i testsrc2=size=320x240:rate=25:d=3 -vf noise=alls=60:allf=t+u "
               "-c:v libx264 -preset ultrafast -crf 20"));
    ExpectWithin(noisy, 2);
    ExpectWithin(noisy, 5);
}

TEST_F(TargetSizeConvert, MinuteWithAudioLandsJustBelowTheTarget) {
    const std::string clip = Dir.file("talk.mp4");
    ASSERT_TRUE(
        testsupport::MakeMedia(clip, "-f lavfi -i testsrc2=size=320x240:rate=25:d=60 -f lavfi -i "
                                     "anoisesrc=d=60:c=pink:a=0.1:r=44100 "
                                     "-c:v libx264 -preset ultrafast -crf 23 -c:a aac -shortest"));
    ExpectWithin(clip, 5);
    EXPECT_EQ(LastOutput.find("the audio is written at"), std::string::npos) << LastOutput;
    // 2 MB leave the 640x480 picture its least rate only beside 64 kbit/s
    // of audio instead of 128.
    ExpectWithin(clip, 2);
    EXPECT_NE(LastOutput.find("talk.mp4: the audio is written at 64 kbit/s"), std::string::npos)
        << LastOutput;
    const auto probe = testsupport::RunCommand(
        "ffprobe -v error -select_streams a:0 -show_entries stream=bit_rate -of csv=p=0 " +
        ShellQuote(Dir.file("out/talk_(new).mp4")));
    EXPECT_NEAR(std::atof(probe.output.c_str()), 64'000, 8'000) << probe.output;
}

// A still picture cannot use the rate a target leaves, even at a raised
// one: it is encoded at a constant rate that the encoder pads.
TEST_F(TargetSizeConvert, StillPictureLandsJustBelowTheTarget) {
    const std::string still = Dir.file("still.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        still, "-f lavfi -i testsrc2=size=320x240:rate=25:d=1 -vf "
               "noise=alls=80,trim=end_frame=1,loop=loop=99:size=1,setpts=N/25/TB "
               "-c:v libx264 -preset ultrafast -crf 20"));
    ExpectWithin(still, 2);
    EXPECT_NE(LastOutput.find(", constant"), std::string::npos) << LastOutput;
    ExpectWithin(still, 5);
}

// MPEG-4 needs more for this picture than 0.5 MB leave over 10 s: its first
// pass shows it, the file is refused naming a size, and that size works.
TEST_F(TargetSizeConvert, TargetBelowWhatTheFirstPassNeedsNamesASizeThatWorks) {
    const std::string clip = Dir.file("pattern.avi");
    ASSERT_TRUE(testsupport::MakeMedia(clip, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 10 "
                                             "-c:v mpeg4 -q:v 10"));
    const auto refused = Convert("102 --target-size 0.5 " + ShellQuote(clip));
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_EQ(refused.output.find("too low for the second pass"), std::string::npos)
        << refused.output;
    const std::string said =
        clip + ": the target size is too small for its length; the smallest size that works is ";
    const auto at = refused.output.find(said);
    ASSERT_NE(at, std::string::npos) << refused.output;
    EXPECT_FALSE(fs::exists(Dir.file("out/pattern_(new).mp4")));
    const double smallest = std::atof(refused.output.c_str() + at + said.size());
    EXPECT_GT(smallest, 0.5);
    ExpectWithin(clip, smallest, 102);
}

TEST_F(TargetSizeConvert, TooSmallTargetIsRefusedNamingTheFile) {
    const std::string clip = Dir.file("long.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(clip, "-f lavfi -i testsrc2=size=160x120:rate=25:d=30 "
                                             "-c:v libx264 -preset ultrafast"));
    const auto result = Convert("103 --target-size 0.05 " + ShellQuote(clip));
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.output.find(clip + ": the target size is too small for its length; the "
                                        "smallest size that works is "),
              std::string::npos)
        << result.output;
    EXPECT_FALSE(fs::exists(Dir.file("out/long_(new).mp4")));
    for (const char* bad : {"0", "-1", "big", "2MB"}) {
        const auto refused =
            Convert(std::string("103 --target-size ") + bad + " " + ShellQuote(clip));
        EXPECT_NE(refused.output.find("Invalid value for --target-size"), std::string::npos)
            << refused.output;
    }
}

} // namespace
