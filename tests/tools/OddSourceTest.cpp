// The format form with sources that lack something a format wants: a
// declared track without packets, no sound at all, a name at the length
// limit. Each converts as the nearest ordinary source would, or fails at
// once with a message that names what is missing and leaves no file.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

namespace {

using testsupport::ProbeValue;
using testsupport::ProbeValues;

class OddSource : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        EmptyPicture = Dir->file("empty picture.mkv");
        ASSERT_TRUE(testsupport::MakeMedia(
            EmptyPicture, "-f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -f lavfi -i "
                          "sine=duration=2 -filter_complex [0]trim=end_frame=0[v] -map [v] "
                          "-map 1 -c:v libx264 -c:a aac"));
    }
    static void TearDownTestSuite() { delete Dir; }
    // The format form in a home and settings folder of its own.
    testsupport::CommandResult Convert(const std::string& code, const std::string& file) {
        return testsupport::RunCommand(
            "HOME=" + Q(Home.file("home")) + " XDG_CONFIG_HOME=" + Q(Home.file("cfg")) + " " +
            Q(VANTREL_CONVERT) + " --format " + code + " --output-dir " + Q(Out()) + " " + Q(file));
    }
    std::string Out() const { return Home.file("out"); }
    static std::string Q(const std::string& text) { return testsupport::ShellQuote(text); }
    testsupport::TempDir Home;
    static testsupport::TempDir* Dir;
    static std::string EmptyPicture;
};
testsupport::TempDir* OddSource::Dir = nullptr;
std::string OddSource::EmptyPicture;

} // namespace

// A picture track without a frame is no picture: the formats that can go
// without one keep the sound alone, DV gets its black picture.
TEST_F(OddSource, AnEmptyPictureTrackConvertsLikeASoundOnlySource) {
    {
        const auto r = Convert("103", EmptyPicture);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const std::string out = Out() + "/empty picture_(new).mp4";
        EXPECT_EQ(ProbeValues(out, "stream=codec_type"), std::vector<std::string>{"audio"});
        EXPECT_NEAR(testsupport::DurationSeconds(out), 2.0, 0.15);
    }
    {
        const auto r = Convert("109", EmptyPicture);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const std::string out = Out() + "/empty picture_(new).dv";
        EXPECT_EQ(ProbeValues(out, "stream=codec_name"),
                  (std::vector<std::string>{"dvvideo", "pcm_s16le"}));
        EXPECT_EQ(ProbeValue(out, "stream=width", "v:0"), "720");
        EXPECT_NEAR(testsupport::DurationSeconds(out), 2.0, 0.15);
    }
}

// The classic form takes the track as it is told; its filters cannot be
// set up without a picture, and the message says why.
TEST_F(OddSource, FiltersOnAnEmptyPictureTrackNameTheTrack) {
    const std::string out = Home.file("filtered.mp4");
    const auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(EmptyPicture) +
                                           " -vf scale=100:100 " + Q(out));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("The video stream #0.0 has no pictures"), std::string::npos)
        << r.output;
}

// Pictures alone give an audio format nothing to write: the row fails at
// once, saying so, and no file is made.
TEST_F(OddSource, PicturesAloneIntoAnAudioFormatFailWithTheReason) {
    const std::string pictures = Home.file("pictures.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        pictures, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -c:v libx264"));
    for (const char* code : {"200", "204"}) {
        SCOPED_TRACE(code);
        const auto r = Convert(code, pictures);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.output.find(pictures + ": The source has no sound to convert"),
                  std::string::npos)
            << r.output;
        EXPECT_NE(r.output.find("0 of 1 files converted"), std::string::npos) << r.output;
        EXPECT_TRUE(testsupport::FilesIn(Out()).empty());
    }
}

// DV carries sound in every frame: a picture without sound (none at all,
// or an empty track) gets silence of DV's rate, one frame of it for each
// picture, and keeps its length.
TEST_F(OddSource, PicturesWithoutSoundIntoDvGetSilence) {
    const std::string noSound = Home.file("no sound.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        noSound, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v libx264"));
    const std::string emptySound = Home.file("empty sound.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        emptySound, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i "
                    "sine=duration=2 -filter_complex [1]atrim=end_sample=0[a] -map 0 -map [a] "
                    "-c:v libx264 -c:a aac"));
    for (const std::string& source : {noSound, emptySound}) {
        SCOPED_TRACE(source);
        const auto r = Convert("109", source);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const std::string stem = std::filesystem::path(source).stem().string();
        const std::string out = Out() + "/" + stem + "_(new).dv";
        EXPECT_EQ(ProbeValues(out, "stream=codec_name"),
                  (std::vector<std::string>{"dvvideo", "pcm_s16le"}));
        EXPECT_EQ(ProbeValue(out, "stream=sample_rate", "a:0"), "48000");
        EXPECT_NEAR(testsupport::DurationSeconds(out), 2.0, 0.05);
        const auto level = testsupport::RunCommand("ffmpeg -hide_banner -nostats -i " + Q(out) +
                                                   " -af volumedetect -f null - 2>&1");
        EXPECT_NE(level.output.find("max_volume: -91.0 dB"), std::string::npos) << level.output;
    }
}

// An empty first sound track is passed over for the first one with sound,
// in the audio formats and the video formats alike; a track named by its
// index in the classic form must exist.
TEST_F(OddSource, AnEmptyFirstSoundTrackGivesWayToOneWithSound) {
    const std::string sounds = Home.file("empty first.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        sounds, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i sine=duration=2 "
                "-f lavfi -i sine=duration=2 -filter_complex [1]atrim=end_sample=0[a] -map 0 "
                "-map [a] -map 2 -c:v libx264 -c:a aac"));
    for (const auto& [code, ext] : {std::pair{"200", "mp3"}, std::pair{"103", "mp4"}}) {
        SCOPED_TRACE(code);
        const auto r = Convert(code, sounds);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const std::string out = Out() + "/empty first_(new)." + ext;
        EXPECT_NEAR(testsupport::DurationSeconds(out), 2.0, 0.15);
        const auto level = testsupport::RunCommand("ffmpeg -hide_banner -nostats -i " + Q(out) +
                                                   " -af volumedetect -f null - 2>&1");
        EXPECT_NE(level.output.find("max_volume: -2"), std::string::npos) << level.output;
    }
    const auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(sounds) +
                                           " -audio_source 7 " + Q(Home.file("x.mp3")));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("Could not find input stream #0.7"), std::string::npos) << r.output;
    const auto video = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(sounds) +
                                               " -audio_source 0 " + Q(Home.file("y.mp3")));
    EXPECT_NE(video.output.find("Input stream #0.0 is not a stream of type Audio (but Video)"),
              std::string::npos)
        << video.output;
}

// A source name near the limit of a folder entry converts into a name cut
// to fit, with "_(new)" and the extension kept.
TEST_F(OddSource, ANameAtTheLengthLimitIsCutToFit) {
    const std::string base(250, 'n');
    const std::string source = Home.file(base + ".mp4");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                                               "-i sine -t 1 -c:v libx264 -c:a aac"));
    const auto r = Convert("103", source);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string out = Out() + "/" + base.substr(0, 245) + "_(new).mp4";
    EXPECT_EQ(testsupport::FilesIn(Out()),
              std::vector<std::string>{base.substr(0, 245) + "_(new).mp4"});
    EXPECT_NEAR(testsupport::DurationSeconds(out), 1.0, 0.15);
}

// The classic form's own choice passes over a sound track that brings
// nothing, as ffmpeg's does; a track named by a map is taken as it is.
TEST_F(OddSource, TheClassicFormPassesOverAnEmptySoundTrack) {
    const std::string sounds = Home.file("empty first.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        sounds, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i sine=duration=2 "
                "-f lavfi -i sine=duration=2 -filter_complex [1]atrim=end_sample=0[a] -map 0 "
                "-map [a] -map 2 -c:v libx264 -c:a aac"));
    const std::string wav = Home.file("sound.wav");
    auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(sounds) + " -vn " + Q(wav));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(wav), 2.0, 0.15);
    const std::string mkv = Home.file("both.mkv");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(sounds) + " " + Q(mkv));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto level = testsupport::RunCommand("ffmpeg -hide_banner -nostats -i " + Q(mkv) +
                                               " -af volumedetect -f null - 2>&1");
    EXPECT_NE(level.output.find("max_volume: -"), std::string::npos) << level.output;
    const std::string mapped = Home.file("mapped.mkv");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(sounds) + " -map 0:0 -map 0:1 " +
                                Q(mapped));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValue(mapped, "stream_tags=DURATION", "a:0"), "00:00:00.000000000");
}

// The sound's rate and channels are those of the track converted, not of
// the one the libraries prefer; the ones the options give still win.
TEST_F(OddSource, SoundSettingsFollowTheTrackConverted) {
    const std::string tracks = Home.file("two tracks.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        tracks,
        "-f lavfi -i sine=r=22050:duration=2 -f lavfi -i "
        "sine=r=48000:duration=2,aformat=channel_layouts=stereo -map 0 -map 1 -c:a pcm_s16le"));
    auto settings = [](const std::string& file) {
        return ProbeValues(file, "stream=sample_rate,channels", "a:0");
    };
    const std::vector<std::string> second{"48000", "2"};
    struct Case {
        const char* Args;
        std::vector<std::string> Expected;
    };
    const Case cases[] = {{"-audio_source 1", second},
                          {"-map 0:1", second},
                          {"-map 0:1 -ar 32000 -ac 1", {"32000", "1"}},
                          {"", {"22050", "1"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args);
        const std::string out = Home.file("out.wav");
        const auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -y -i " + Q(tracks) + " " +
                                               c.Args + " " + Q(out));
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(settings(out), c.Expected);
    }
}

// DV carries sound under every picture: a sound that ends before the
// pictures goes on as silence until they end, in both forms of the tool.
TEST_F(OddSource, ASoundThatEndsEarlyIsPaddedInDv) {
    const std::string source = Home.file("short sound.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i "
                "sine=duration=1 -c:v libx264 -c:a aac"));
    auto r = Convert("109", source);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string formatOut = Out() + "/short sound_(new).dv";
    const std::string classicOut = Home.file("classic.dv");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(source) + " -target pal-dv " +
                                Q(classicOut));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    for (const std::string& out : {formatOut, classicOut}) {
        SCOPED_TRACE(out);
        EXPECT_NEAR(testsupport::DurationSeconds(out), 2.0, 0.05);
        const auto frames = testsupport::RunCommand(
            "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=nb_read_frames -of csv=p=0 " +
            Q(out));
        EXPECT_EQ(frames.output, "50\n");
        const auto level = testsupport::RunCommand("ffmpeg -hide_banner -nostats -ss 1.2 -i " +
                                                   Q(out) + " -af volumedetect -f null - 2>&1");
        EXPECT_NE(level.output.find("max_volume: -91.0 dB"), std::string::npos) << level.output;
    }
}

// A picture with an odd side: where another pixel format of the encoder
// holds it, it converts at its own size (as ffmpeg does); where the
// encoder cannot take it, the message says why.
TEST_F(OddSource, OddSizedPicturesConvertOrSayWhyNot) {
    const std::string rgb = Home.file("rgb odd.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        rgb, "-f lavfi -i color=c=0x3070C0:size=64x48:rate=25:duration=1 -vf "
             "scale=65:49,format=rgb24 -c:v png"));
    const std::string yuv = Home.file("yuv odd.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        yuv, "-f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -vf scale=321:241 -pix_fmt "
             "yuv420p -c:v ffv1"));
    const std::string fromRgb = Home.file("from rgb.mkv");
    auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(rgb) + " " + Q(fromRgb));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValues(fromRgb, "stream=codec_name,width,height", "v:0"),
              (std::vector<std::string>{"h264", "65", "49"}));
    const std::string fromYuv = Home.file("from yuv.mkv");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(yuv) + " " + Q(fromYuv));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("the encoder libx264 cannot take the picture size 321x241, it needs "
                            "even sizes in the pixel format yuv420p"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(fromYuv));
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(yuv) + " -vcodec mpeg4 " +
                                Q(Home.file("mpeg4.avi")));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValue(Home.file("mpeg4.avi"), "stream=width", "v:0"), "321");
}

// HEVC's and AV1's encoders refuse small pictures (under 16 and 64 pixels
// a side): the format form enlarges the frame and fits the picture into
// it; the classic form, which keeps the size it is given, says why.
TEST_F(OddSource, SmallPicturesConvertIntoTheModernFormats) {
    const std::string small = Home.file("small.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        small, "-f lavfi -i testsrc2=size=66x50:rate=25:duration=1 -pix_fmt yuv420p -c:v ffv1"));
    for (const auto& [code, size] :
         {std::pair<std::string, std::string>{"300", "66x50"}, {"301", "66x64"}}) {
        const auto r = Convert(code, small);
        ASSERT_EQ(r.exitCode, 0) << code << ": " << r.output;
        const std::string out = Out() + "/small_(new).mp4";
        EXPECT_EQ(ProbeValue(out, "stream=width", "v:0") + "x" +
                      ProbeValue(out, "stream=height", "v:0"),
                  size)
            << code;
        std::filesystem::remove(out);
    }
    const std::string tiny = Home.file("tiny.mp4");
    const auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(small) +
                                           " -vcodec libx265 -s 8x8 " + Q(tiny));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("the encoder libx265 cannot take the picture size 8x8, it needs at "
                            "least 16 pixels on each side"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(tiny));
}

// Sound of more channels than the encoder takes is mixed to a layout it
// takes when the channels follow the source (the classic form without -ac,
// a format's "as source"); a count given with -ac is refused with the
// encoder's limit, and no file is left.
TEST_F(OddSource, SoundOfManyChannelsIsMixedToWhatTheEncoderTakes) {
    const std::string wide = Home.file("seven one.wav");
    ASSERT_TRUE(testsupport::MakeMedia(
        wide, "-f lavfi -i sine=duration=1 -af 'pan=7.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0|c6=c0|"
              "c7=c0' -c:a pcm_s16le"));
    const std::string mp3 = Home.file("mixed.mp3");
    auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(wide) + " " + Q(mp3));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValue(mp3, "stream=channels", "a:0"), "2");
    EXPECT_NE(
        r.output.find("The encoder libmp3lame takes no 7.1 sound: output stream #0.0 is mixed "
                      "to stereo"),
        std::string::npos)
        << r.output;
    const std::string m4a = Home.file("mixed.m4a");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(wide) + " -acodec alac " + Q(m4a));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValue(m4a, "stream=channels", "a:0"), "8");
    const std::string refused = Home.file("refused.mp3");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(wide) +
                                " -ac 6 -acodec libmp3lame " + Q(refused));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("the encoder libmp3lame cannot take 6 sound channels, it takes at "
                            "most 2"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(refused));
}

// A "video" that is really a playlist gets none of the files it names
// outside its folder into the output, in either form: the log names each
// one left out, and the conversion says it ended early (the playlist
// claims their length too). The segments beside it convert as usual.
TEST_F(OddSource, APlaylistReadsNoFileOutsideItsFolder) {
    namespace fs = std::filesystem;
    fs::create_directories(Home.path() / "dl");
    fs::create_directories(Home.path() / "private");
    const std::string own = Home.file("dl/own.ts");
    ASSERT_TRUE(testsupport::MakeMedia(
        own, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v mpeg2video"));
    const std::string holiday = Home.file("private/holiday.ts");
    ASSERT_TRUE(testsupport::MakeMedia(
        holiday, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=4 -c:v mpeg2video"));
    const std::string list = Home.file("dl/funny clip.mp4");
    std::ofstream(list) << "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:2,\nown.ts\n#EXTINF:4,\n"
                        << holiday << "\n#EXT-X-ENDLIST\n";
    const std::string refused =
        holiday + " is not opened: it lies outside the folder of the source";
    auto r = Convert("303", list);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find(refused), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 ended early"), std::string::npos) << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(Out() + "/funny clip_(new).mkv"), 2.0, 0.2);
    const std::string classic = Home.file("classic.mkv");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(list) + " -vcodec copy " +
                                Q(classic));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find(refused), std::string::npos) << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(classic), 2.0, 0.2);

    const std::string beside = Home.file("dl/beside.m3u8");
    std::ofstream(beside) << "#EXTM3U\n#EXT-X-TARGETDURATION:3\n#EXTINF:2,\nown.ts\n#EXTINF:2,\n"
                          << own << "\n#EXT-X-ENDLIST\n";
    r = Convert("303", beside);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(Out() + "/beside_(new).mkv"), 4.0, 0.2);
}

// A picture whose name holds '%' is converted as itself, not as the
// numbered sequence its name spells (a1.jpg beside "a%d.jpg"), in either
// form; a name that is no file still reads the sequence.
TEST_F(OddSource, APictureNamedWithPercentIsReadAsItself) {
    const std::string literal = Home.file("a%d.png");
    ASSERT_TRUE(testsupport::MakeMedia(literal, "-f lavfi -i color=red:size=64x48 -frames:v 1 "
                                                "-update 1"));
    ASSERT_TRUE(testsupport::MakeMedia(Home.file("b1.png"),
                                       "-f lavfi -i color=blue:size=64x48 -frames:v 1"));
    std::filesystem::copy_file(Home.file("b1.png"), Home.file("a1.png"));
    auto firstPixel = [](const std::string& file, const std::string& reading = "") {
        return testsupport::RunCommand("ffmpeg -v error " + reading + " -i " + Q(file) +
                                       " -frames:v 1 -vf scale=1:1 -f rawvideo -pix_fmt rgb24 - |"
                                       " od -An -tu1")
            .output;
    };
    const std::string red = firstPixel(literal, "-pattern_type none");
    ASSERT_NE(red, firstPixel(Home.file("a1.png")));
    auto r = Convert("0", literal);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(firstPixel(Out() + "/a%d_(new).mp4"), red);
    const std::string classic = Home.file("classic.mp4");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(literal) + " " + Q(classic));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(firstPixel(classic), red);
    const std::string sequence = Home.file("sequence.mp4");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(Home.file("b%d.png")) + " " +
                                Q(sequence));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(firstPixel(sequence), red);
}

// A slide show (a picture every five seconds) lasts as long as its last
// picture does: the constant-rate formats repeat it to the end, the
// variable-rate and copying ones give it its length, and none of them says
// the source ended early. A length given with -t still ends it there.
TEST_F(OddSource, TheLastPictureOfASlideShowLastsItsTime) {
    const std::string slides = Home.file("slides.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        slides, "-f lavfi -i testsrc2=size=160x120:rate=1/5:duration=15 -c:v libx264"));
    for (const auto& [code, ext] : std::vector<std::pair<std::string, std::string>>{
             {"0", "mp4"}, {"104", "avi"}, {"302", "webm"}, {"303", "mkv"}}) {
        SCOPED_TRACE(code);
        const auto r = Convert(code, slides);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output.find("ended early"), std::string::npos) << r.output;
        EXPECT_NEAR(testsupport::DurationSeconds(Out() + "/slides_(new)." + ext), 15.0, 0.2);
    }
    const std::string cut = Home.file("cut.avi");
    const auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(slides) +
                                           " -t 12 -r 25 -vcodec mpeg4 " + Q(cut));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(cut), 12.0, 0.2);
}
