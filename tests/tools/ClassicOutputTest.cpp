// The classic form's outputs whose streams the container or the options
// limit: MP3 takes a cover, never a moving picture; -shortest ends the
// output with the stream that ends first.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ProbeValues;

class ClassicOutput : public ::testing::Test {
protected:
    testsupport::CommandResult Run(const std::string& args) {
        return testsupport::RunCommand("HOME=" + Q(Home.file("home")) + " XDG_CONFIG_HOME=" +
                                       Q(Home.file("cfg")) + " " + Q(VANTREL_CONVERT) + " " + args);
    }
    static std::string Q(const std::string& text) { return testsupport::ShellQuote(text); }
    // Each stream's codec and whether it is a cover, as ffprobe reads them.
    static std::vector<std::string> Streams(const std::string& file) {
        return ProbeValues(file, "stream=codec_name:stream_disposition=attached_pic");
    }
    testsupport::TempDir Home;
};

} // namespace

// A video source into MP3 gives the sound alone, as ffmpeg does; a cover
// of the source stays the one cover, in both forms of the tool.
TEST_F(ClassicOutput, Mp3TakesTheCoverButNotTheVideo) {
    const std::string clip = Home.file("clip.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        clip, "-f lavfi -i testsrc2=size=640x360:rate=25:duration=1 -f lavfi -i "
              "sine=duration=1 -c:v libx264 -c:a aac"));
    const std::string still = Home.file("still.png");
    ASSERT_TRUE(testsupport::MakeMedia(still, "-f lavfi -i testsrc2=size=64x64 -frames:v 1"));
    const std::string covered = Home.file("covered.mp3");
    ASSERT_TRUE(
        testsupport::MakeMedia(covered, "-f lavfi -i sine=duration=1 -i " + Q(still) +
                                            " -map 0 -map 1 -c:v png -disposition:v attached_pic"));
    const std::vector<std::string> soundAlone{"mp3", "0"};
    const std::vector<std::string> withCover{"mp3", "0", "png", "1"};
    const std::string fromClip = Home.file("from clip.mp3");
    auto r = Run("-y -i " + Q(clip) + " " + Q(fromClip));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("more than one picture"), std::string::npos) << r.output;
    EXPECT_EQ(Streams(fromClip), soundAlone);
    EXPECT_NEAR(testsupport::DurationSeconds(fromClip), 1.0, 0.1);
    const std::string fromCovered = Home.file("from covered.mp3");
    r = Run("-y -i " + Q(covered) + " " + Q(fromCovered));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(Streams(fromCovered), withCover);
    const std::string out = Home.file("out");
    r = Run("--format 200 --output-dir " + Q(out) + " " + Q(clip) + " " + Q(covered));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(Streams(out + "/clip_(new).mp3"), soundAlone);
    EXPECT_EQ(Streams(out + "/covered_(new).mp3"), withCover);
}

// -shortest ends the output with the stream that ends first, whether the
// streams come from one source or from two; the picture keeps the frames
// before the sound's end. DV keeps no picture without its sound.
TEST_F(ClassicOutput, ShortestEndsWithTheFirstStreamToEnd) {
    const std::string shortSound = Home.file("short sound.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        shortSound, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i "
                    "sine=duration=1 -c:v libx264 -c:a aac"));
    const std::string shortPicture = Home.file("short picture.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        shortPicture, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -f lavfi -i "
                      "sine=duration=2 -c:v libx264 -c:a aac"));
    const std::string sound = Home.file("sound.m4a");
    ASSERT_TRUE(testsupport::MakeMedia(sound, "-f lavfi -i sine=duration=1 -c:a aac"));
    // Matroska tells the streams' lengths only in its tags.
    const std::string shortSoundMkv = Home.file("short sound.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(shortSoundMkv, "-i " + Q(shortSound) + " -c copy"));
    const std::string dv = Home.file("out.dv");
    const std::string inputs[] = {"-i " + Q(shortSound), "-i " + Q(shortPicture),
                                  "-i " + Q(shortSoundMkv),
                                  "-i " + Q(shortSound) + " -i " + Q(sound) + " -map 0:0 -map 1:0",
                                  "-i " + Q(shortSound) + " -target pal-dv"};
    for (const std::string& in : inputs) {
        SCOPED_TRACE(in);
        const std::string out = in.find("pal-dv") == std::string::npos ? Home.file("out.mp4") : dv;
        const auto r = Run("-y " + in + " -shortest " + Q(out));
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_NEAR(testsupport::DurationSeconds(out), 1.0, 0.05);
        const auto frames = testsupport::RunCommand(
            "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=nb_read_frames -of csv=p=0 " +
            Q(out));
        EXPECT_EQ(frames.output, "25\n");
    }
}
