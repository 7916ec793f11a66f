// vantrel-convert --format with a loudness target: quiet, middling and loud
// files of one batch come out at the target and under the true-peak
// ceiling, as ffmpeg's own EBU R128 meter reads them; files without audio
// convert as without a target.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using testsupport::ShellQuote;

struct TLoudness {
    double Integrated = 0; // LUFS
    double TruePeak = 0;   // dBTP
    bool Read = false;
};

// The number after the last `label` in `text` that `unit` follows.
bool LastValue(const std::string& text, const std::string& label, const std::string& unit,
               double& value) {
    for (std::size_t at = text.rfind(label); at != std::string::npos;
         at = at == 0 ? std::string::npos : text.rfind(label, at - 1)) {
        const std::size_t begin = text.find_first_not_of(" \t", at + label.size());
        if (begin == std::string::npos) continue;
        const std::size_t end = text.find_first_not_of("-0123456789.", begin);
        if (end == std::string::npos || end == begin ||
            text.compare(end, unit.size() + 1, " " + unit) != 0)
            continue;
        value = std::stod(text.substr(begin, end - begin));
        return true;
    }
    return false;
}

// The meter's summary of the whole file (it comes last).
TLoudness Measure(const std::string& file) {
    const auto result =
        testsupport::RunCommand("ffmpeg -nostats -hide_banner -i " + ShellQuote(file) +
                                " -af ebur128=peak=true -f null - 2>&1");
    TLoudness loudness;
    loudness.Read = LastValue(result.output, "I:", "LUFS", loudness.Integrated) &&
                    LastValue(result.output, "Peak:", "dBFS", loudness.TruePeak);
    return loudness;
}

class LoudnessConvert : public ::testing::Test {
protected:
    // Stereo test sounds of 3 s: pink noise in bursts with pauses between
    // them (about -35 LUFS), a steady sine (about -23 LUFS), and noise
    // pushed hard into a limiter (about -8 LUFS).
    void MakeSounds() {
        const std::string bursts = "volume='if(lt(mod(t,1),0.7),1,0)':eval=frame,";
        ASSERT_TRUE(testsupport::MakeMedia(
            Dir.file("quiet.wav"), "-f lavfi -i anoisesrc=d=3:c=pink:a=0.115:r=44100:seed=1 -af " +
                                       ShellQuote(bursts + "pan=stereo|c0=c0|c1=c0,volume=-3dB")));
        ASSERT_TRUE(testsupport::MakeMedia(Dir.file("sine.wav"),
                                           "-f lavfi -i sine=f=440:d=3:r=44100 -af " +
                                               ShellQuote("pan=stereo|c0=c0|c1=c0,volume=-4.3dB")));
        ASSERT_TRUE(testsupport::MakeMedia(
            Dir.file("loud.wav"), "-f lavfi -i anoisesrc=d=3:c=pink:a=0.9:r=44100:seed=2 -af " +
                                      ShellQuote(bursts + "volume=12dB,alimiter=limit=0.9:level=0,"
                                                          "pan=stereo|c0=c0|c1=c0,volume=-0.3dB")));
    }

    testsupport::CommandResult Convert(const std::string& args) {
        const std::string env = "HOME=" + ShellQuote(Dir.file("home")) +
                                " XDG_CONFIG_HOME=" + ShellQuote(Dir.file("cfg")) + " ";
        return testsupport::RunCommand(env + ShellQuote(VANTREL_CONVERT) + " --format " + args +
                                       " --output-dir " + ShellQuote(Dir.file("out")) + " 2>&1");
    }

    std::string Out(const std::string& name) const { return Dir.file("out/" + name); }

    testsupport::TempDir Dir;
};

TEST_F(LoudnessConvert, QuietMiddlingAndLoudFilesComeOutAtTheTarget) {
    MakeSounds();
    const struct {
        const char* Name;
        double Loudness;
    } sources[] = {{"quiet", -35}, {"sine", -23}, {"loud", -8}};
    for (const auto& source : sources) {
        const TLoudness in = Measure(Dir.file(std::string(source.Name) + ".wav"));
        ASSERT_TRUE(in.Read) << source.Name;
        ASSERT_NEAR(in.Integrated, source.Loudness, 1.5) << source.Name;
    }
    for (const int target : {-16, -23}) {
        const auto result =
            Convert("202 --loudness " + std::to_string(target) + " " + Dir.file("quiet.wav") + " " +
                    Dir.file("sine.wav") + " " + Dir.file("loud.wav"));
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_NE(result.output.find("Measuring loudness"), std::string::npos) << result.output;
        for (const auto& source : sources) {
            const TLoudness out = Measure(Out(std::string(source.Name) + "_(new).m4a"));
            ASSERT_TRUE(out.Read) << source.Name;
            EXPECT_NEAR(out.Integrated, target, 1.0) << source.Name << " at " << target;
            EXPECT_LE(out.TruePeak, -1.0) << source.Name << " at " << target;
        }
        std::filesystem::remove_all(Dir.file("out"));
    }
}

TEST_F(LoudnessConvert, WithoutTargetFilesKeepTheirLoudness) {
    MakeSounds();
    const auto result = Convert("202 " + Dir.file("quiet.wav") + " " + Dir.file("loud.wav"));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output.find("Measuring loudness"), std::string::npos) << result.output;
    EXPECT_NEAR(Measure(Out("quiet_(new).m4a")).Integrated, -35, 1.5);
    EXPECT_NEAR(Measure(Out("loud_(new).m4a")).Integrated, -8, 1.5);
}

TEST_F(LoudnessConvert, VideoWithAndWithoutAudioInOneBatch) {
    ASSERT_TRUE(testsupport::MakeMedia(
        Dir.file("talk.mp4"),
        "-f lavfi -i testsrc2=size=160x120:rate=25:d=2 -f lavfi -i "
        "anoisesrc=d=2:c=pink:a=0.05:r=48000 -ac 2 -c:v libx264 -pix_fmt yuv420p -c:a aac"));
    ASSERT_TRUE(testsupport::MakeMedia(Dir.file("silent.mp4"),
                                       "-f lavfi -i testsrc2=size=160x120:rate=25:d=2 "
                                       "-c:v libx264 -pix_fmt yuv420p"));
    const auto result =
        Convert("103 --loudness -16 " + Dir.file("talk.mp4") + " " + Dir.file("silent.mp4"));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NEAR(Measure(Out("talk_(new).mp4")).Integrated, -16, 1.0);
    // (48 kHz AAC, as the audio of most videos is.)
    // The file without audio: its picture converted, no audio made up.
    EXPECT_EQ(testsupport::ProbeValue(Out("silent_(new).mp4"), "stream=codec_type", "v:0"),
              "video");
    EXPECT_TRUE(
        testsupport::ProbeValues(Out("silent_(new).mp4"), "stream=codec_type", "a").empty());
    EXPECT_NEAR(testsupport::DurationSeconds(Out("silent_(new).mp4")), 2.0, 0.2);
}

TEST_F(LoudnessConvert, BadTargetIsRefusedBeforeAnythingIsMade) {
    MakeSounds();
    for (const char* bad : {"-3", "loud", "-16.5"}) {
        const auto result =
            Convert(std::string("202 --loudness ") + bad + " " + Dir.file("quiet.wav"));
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.output.find("Invalid value for --loudness"), std::string::npos)
            << result.output;
        EXPECT_FALSE(std::filesystem::exists(Out("quiet_(new).m4a")));
    }
}

} // namespace

namespace {

// The engine's "af" option in the classic form: a filter graph that cannot
// be built fails the conversion with its text, and copied audio refuses it.
TEST(AudioFilters, BadGraphFailsAndCopiedAudioRefusesThem) {
    testsupport::TempDir dir;
    const std::string tone = dir.file("tone.wav");
    ASSERT_TRUE(testsupport::MakeMedia(tone, "-f lavfi -i sine=d=1 -c:a pcm_s16le"));
    const auto run = [&](const std::string& options, const std::string& out) {
        return testsupport::RunCommand(ShellQuote(VANTREL_CONVERT) + " -i " + ShellQuote(tone) +
                                       " " + options + " " + ShellQuote(dir.file(out)) + " 2>&1");
    };
    const auto bad = run("-af nosuchfilter=1", "bad.wav");
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_NE(bad.output.find("Cannot filter the audio with \"nosuchfilter=1\""), std::string::npos)
        << bad.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad.wav")));
    const auto copied = run("-acodec copy -af volume=2", "copy.wav");
    EXPECT_NE(copied.exitCode, 0);
    EXPECT_NE(copied.output.find("-acodec copy and -af are incompatible"), std::string::npos)
        << copied.output;
    const auto halved = run("-af volume=0.5", "half.wav");
    ASSERT_EQ(halved.exitCode, 0) << halved.output;
    const auto peak = [&](const std::string& file) {
        const auto r = testsupport::RunCommand("ffmpeg -hide_banner -i " + ShellQuote(file) +
                                               " -af volumedetect -f null - 2>&1");
        const auto at = r.output.find("max_volume: ");
        return at == std::string::npos ? 0.0 : std::stod(r.output.substr(at + 12));
    };
    EXPECT_NEAR(peak(dir.file("half.wav")) - peak(tone), -6.0, 0.3);
}

} // namespace
