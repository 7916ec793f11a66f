// The modern formats converted the way the window converts them
// (vantrel-convert --format runs the same option builder and settings):
// their codecs and containers, outputs that decode cleanly and last as long
// as the source, the copying format's untouched packets, kept HDR, the
// quality steps and the refusals.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using testsupport::ProbeValue;
using testsupport::ProbeValues;
using testsupport::ShellQuote;

class ModernFormats : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        // A phone clip: 8-bit pictures with sound.
        ASSERT_TRUE(testsupport::MakeMedia(Dir->file("clip.mp4"),
                                           "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                                           "sine=sample_rate=48000 -ac 2 -t 1 -c:v mpeg4 -c:a aac "
                                           "-metadata title=Holiday"));
        // A 10-bit HDR10 source (PQ, BT.2020) whose mastering display and
        // light levels travel in its pictures (SEI), not in the container.
        const std::string hdr10 =
            "log-level=error:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:"
            "master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)"
            "L(10000000,1):max-cll=1000,400";
        ASSERT_TRUE(testsupport::MakeMedia(Dir->file("hdr.mkv"),
                                           "-f lavfi -i testsrc2=size=128x96:rate=25 -t 1 -pix_fmt "
                                           "yuv420p10le -c:v libx265 -x265-params " +
                                               ShellQuote(hdr10) +
                                               " -color_primaries bt2020 -color_trc smpte2084 "
                                               "-colorspace bt2020nc"));
    }
    static void TearDownTestSuite() { delete Dir; }

    static std::string Q(const std::string& text) { return ShellQuote(text); }

    // Runs vantrel-convert --format with the settings of `config` (a folder
    // of the test's own); `args` follow the code.
    static testsupport::CommandResult RunFormat(const std::string& config, const std::string& code,
                                                const std::string& args) {
        return testsupport::RunCommand("HOME=" + Q(Dir->file("home")) +
                                       " XDG_CONFIG_HOME=" + Q(Dir->file(config)) + " " +
                                       Q(VANTREL_CONVERT) + " --format " + code + " " + args);
    }

    // Converts into a folder of its own; the output file's name.
    std::string Convert(const std::string& source, const std::string& code, const std::string& ext,
                        const std::string& config = "cfg", const std::string& edits = "") {
        const std::string folder = Dir->file("out" + code + "-" + std::to_string(++Runs));
        const auto r =
            RunFormat(config, code, edits + " --output-dir " + Q(folder) + " " + Q(source));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return folder + "/" + std::filesystem::path(source).stem().string() + "_(new)." + ext;
    }

    // What ffmpeg reports while decoding the whole file; empty when clean.
    static std::string DecodeErrors(const std::string& file) {
        return testsupport::RunCommand("ffmpeg -nostdin -v error -i " + Q(file) + " -f null -")
            .output;
    }

    static testsupport::TempDir* Dir;
    int Runs = 0;
};
testsupport::TempDir* ModernFormats::Dir = nullptr;

// Per stream, the sizes and hashes of its packets in order, without their
// times (a container may store those in other units).
std::vector<std::string> PacketHashes(const std::string& file) {
    const auto r = testsupport::RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(file) +
                                           " -map 0 -c copy -f framemd5 -");
    std::vector<std::string> packets;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string f; std::getline(parts, f, ',');)
            fields.push_back(f.substr(f.find_first_not_of(' ')));
        if (fields.size() == 6) packets.push_back(fields[0] + " " + fields[4] + " " + fields[5]);
    }
    std::stable_sort(packets.begin(), packets.end(),
                     [](const std::string& a, const std::string& b) {
                         return a.substr(0, a.find(' ')) < b.substr(0, b.find(' '));
                     });
    return packets;
}

} // namespace

// Every code converts the clip into its container with its codecs; the
// whole output decodes without an error and lasts as long as the source.
TEST_F(ModernFormats, EachCodeConvertsWithItsCodecsAndContainer) {
    struct Case {
        const char* Code;
        const char* Ext;
        const char* Container; // ffprobe's format_name
        const char* Video;     // empty: no picture
        const char* Audio;
        const char* PixelFormat;
    };
    const Case cases[] = {
        {"300", "mp4", "mov,mp4,m4a,3gp,3g2,mj2", "hevc", "aac", "yuv420p"},
        {"301", "mp4", "mov,mp4,m4a,3gp,3g2,mj2", "av1", "aac", "yuv420p"},
        {"302", "webm", "matroska,webm", "vp9", "opus", "yuv420p"},
        {"303", "mkv", "matroska,webm", "mpeg4", "aac", "yuv420p"},
        {"304", "flac", "flac", "", "flac", ""},
        {"305", "opus", "ogg", "", "opus", ""},
        {"306", "m4a", "mov,mp4,m4a,3gp,3g2,mj2", "", "alac", ""},
    };
    const std::string source = Dir->file("clip.mp4");
    const double length = testsupport::DurationSeconds(source);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Code);
        const std::string out = Convert(source, c.Code, c.Ext);
        ASSERT_TRUE(std::filesystem::exists(out));
        EXPECT_EQ(ProbeValue(out, "format=format_name"), c.Container);
        EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), c.Audio);
        if (*c.Video) {
            EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), c.Video);
            EXPECT_EQ(ProbeValue(out, "stream=pix_fmt", "v:0"), c.PixelFormat);
            // The player shows it (AV1 through the libraries' dav1d decoder).
            const std::string shot = Dir->file(std::string("shot") + c.Code + ".bmp");
            const auto played = testsupport::RunCommand(
                "QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy " + Q(VANTREL_PLAY) +
                " --snapshot " + Q(shot) + " --seek 0.5 " + Q(out));
            EXPECT_EQ(played.exitCode, 0) << played.output;
            EXPECT_EQ(ProbeValues(shot, "stream=width,height", "v:0"),
                      (std::vector<std::string>{"160", "120"}));
        } else {
            EXPECT_TRUE(ProbeValues(out, "stream=codec_name", "v").empty());
        }
        EXPECT_EQ(DecodeErrors(out), "");
        EXPECT_NEAR(testsupport::DurationSeconds(out), length, 0.2);
    }
    // A constant-quality encode asks for no bit rate: no warning about one.
    const auto r =
        RunFormat("cfg", "300", "--output-dir " + Q(Dir->file("again")) + " " + Q(source));
    EXPECT_EQ(r.output.find("bitrate parameter is set too low"), std::string::npos) << r.output;
    // The HEVC stream carries the tag Apple's players look for.
    EXPECT_EQ(ProbeValue(Dir->file("out300-1/clip_(new).mp4"), "stream=codec_tag_string", "v:0"),
              "hvc1");
}

// The copying format keeps every stream's packets bit for bit, with the
// chapters, the file's and the streams' tags and the dispositions.
TEST_F(ModernFormats, CopyKeepsEveryPacketChaptersAndTags) {
    const std::string chapters = Dir->file("chapters.txt");
    std::ofstream(chapters) << ";FFMETADATA1\ntitle=Film\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\n"
                               "END=500\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\n"
                               "END=1000\ntitle=Two\n";
    const std::string subtitles = Dir->file("subs.srt");
    std::ofstream(subtitles) << "1\n00:00:00,100 --> 00:00:00,800\nHello\n";
    const std::string film = Dir->file("film.mkv");
    ASSERT_TRUE(testsupport::RunFfmpeg(
        "-f lavfi -i testsrc2=size=128x96:rate=25:duration=1 -f lavfi -i "
        "sine=sample_rate=48000:duration=1 -f lavfi -i sine=frequency=300:duration=1 -i " +
        Q(subtitles) + " -i " + Q(chapters) +
        " -map 0 -map 1 -map 2 -map 3 -map_metadata 4 -map_chapters 4 -c:v libx264 -preset "
        "ultrafast -c:a:0 aac -c:a:1 libopus -c:s srt -metadata:s:a:1 language=fra "
        "-disposition:a:1 0 -disposition:s:0 forced " +
        Q(film)));
    const std::string out = Convert(film, "303", "mkv");
    EXPECT_EQ(ProbeValues(out, "stream=codec_name"),
              (std::vector<std::string>{"h264", "aac", "opus", "subrip"}));
    const auto source = PacketHashes(film);
    ASSERT_GT(source.size(), 50u);
    EXPECT_EQ(PacketHashes(out), source);
    EXPECT_EQ(ProbeValues(out, "chapter_tags=title"), (std::vector<std::string>{"One", "Two"}));
    EXPECT_EQ(ProbeValue(out, "format_tags=title"), "Film");
    EXPECT_EQ(ProbeValue(out, "stream_tags=language", "a:1"), "fra");
    EXPECT_EQ(ProbeValue(out, "stream_disposition=default", "a:1"), "0");
    EXPECT_EQ(ProbeValue(out, "stream_disposition=forced", "s:0"), "1");
    EXPECT_EQ(DecodeErrors(out), "");
}

// The copy keeps a turned picture's rotation (as the stream's rotate tag,
// the one Matroska keeps here), and the attachments and cover pictures as
// attached files; an encoded conversion of the copy is turned as the
// source's is.
TEST_F(ModernFormats, CopyKeepsRotationAttachmentsAndCovers) {
    const std::string clip = Dir->file("clip.mp4");
    const std::string turned = Dir->file("turned.mp4");
    ASSERT_TRUE(testsupport::RunFfmpeg("-i " + Q(clip) + " -c copy -metadata:s:v:0 rotate=90 " +
                                       Q(turned)));
    // The matrix turns counter-clockwise, the tag clockwise.
    const int matrix = std::stoi(ProbeValue(turned, "stream_side_data=rotation", "v:0"));
    ASSERT_NE(matrix % 360, 0);
    const std::string copy = Convert(turned, "303", "mkv");
    EXPECT_EQ(ProbeValue(copy, "stream_tags=rotate", "v:0"), std::to_string((360 - matrix) % 360));
    const std::string upright = Dir->file("upright.mp4");
    const auto r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(copy) +
                                           " -vcodec mpeg4 -an " + Q(upright));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValues(upright, "stream=width,height", "v:0"),
              (std::vector<std::string>{"120", "160"}));

    const std::string font = Dir->file("font.ttf");
    std::ofstream(font) << "not really a font";
    const std::string cover = Dir->file("cover.png");
    ASSERT_TRUE(testsupport::RunFfmpeg("-f lavfi -i testsrc2=size=64x48 -frames:v 1 " + Q(cover)));
    const std::string attached = Dir->file("attached.mkv");
    ASSERT_TRUE(testsupport::RunFfmpeg(
        "-i " + Q(clip) + " -map 0 -c copy -attach " + Q(font) +
        " -metadata:s:t:0 mimetype=application/x-truetype-font -metadata:s:t:0 filename=f.ttf " +
        "-attach " + Q(cover) + " -metadata:s:t:1 mimetype=image/png " +
        "-metadata:s:t:1 filename=cover.png " + Q(attached)));
    const std::string song = Dir->file("song.mp3");
    ASSERT_TRUE(testsupport::RunFfmpeg("-f lavfi -i sine=duration=1 -i " + Q(cover) +
                                       " -map 0 -map 1 -c:a libmp3lame -c:v copy "
                                       "-disposition:v attached_pic " +
                                       Q(song)));
    const std::vector<std::string> fromFilm{"mpeg4", "0",     "aac", "0", "ttf",
                                            "0",     "f.ttf", "png", "1", "cover.png"};
    const std::vector<std::string> fromSong{"mp3", "0", "png", "1", "cover.png"};
    for (const auto& [source, expected] : {std::pair{attached, fromFilm}, {song, fromSong}}) {
        SCOPED_TRACE(source);
        const std::string out = Convert(source, "303", "mkv");
        EXPECT_EQ(ProbeValues(out, "stream=codec_name:stream_disposition=attached_pic:stream_tags="
                                   "filename"),
                  expected);
    }
}

// A row whose edits need its pictures encoded is refused by the copying
// format, naming the row's file and the edits.
TEST_F(ModernFormats, CopyRefusesEditsThatNeedEncoding) {
    const std::string folder = Dir->file("refused");
    const auto r = RunFormat("cfg", "303",
                             "--crop 8,0,8,0 --brightness 20 --output-dir " + Q(folder) + " " +
                                 Q(Dir->file("clip.mp4")));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("clip.mp4' cannot be copied as it is (it has a crop, effects)"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(folder + "/clip_(new).mkv"));
}

// The HDR10 metadata of the first picture as ffprobe reads it: the
// mastering display's peak in cd/m2 (-1 without one) and the light levels.
struct TPictureHdr {
    double Peak = -1;
    std::string LightLevels;
};

TPictureHdr FirstPictureHdr(const std::string& file) {
    const auto r = testsupport::RunCommand(
        "ffprobe -v error -select_streams v -read_intervals %+#1 -show_frames -show_entries "
        "frame_side_data=max_luminance:frame_side_data=max_content,max_average -of csv=p=0 " +
        ShellQuote(file));
    TPictureHdr hdr;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const std::string last = line.substr(line.rfind(',') + 1);
        const auto slash = last.find('/');
        if (line.rfind("video,", 0) == 0 && slash != std::string::npos)
            hdr.Peak = std::stod(last.substr(0, slash)) / std::stod(last.substr(slash + 1));
        else if (line.rfind("video,", 0) != 0 && !line.empty())
            hdr.LightLevels = line;
    }
    return hdr;
}

// A 10-bit PQ source keeps its depth, transfer and primaries in HEVC, AV1
// and VP9 (profile 2), HEVC and AV1 its mastering display and light levels
// too; the 8-bit clip above stayed 8-bit.
TEST_F(ModernFormats, HdrSourceStaysHdr) {
    struct Case {
        const char* Code;
        const char* Ext;
        const char* Profile;
    };
    for (const Case& c : {Case{"300", "mp4", "Main 10"}, Case{"301", "mp4", "Main"},
                          Case{"302", "webm", "Profile 2"}}) {
        SCOPED_TRACE(c.Code);
        const std::string out = Convert(Dir->file("hdr.mkv"), c.Code, c.Ext);
        EXPECT_EQ(ProbeValue(out, "stream=pix_fmt", "v:0"), "yuv420p10le");
        EXPECT_EQ(ProbeValue(out, "stream=color_transfer", "v:0"), "smpte2084");
        EXPECT_EQ(ProbeValue(out, "stream=color_primaries", "v:0"), "bt2020");
        EXPECT_EQ(ProbeValue(out, "stream=profile", "v:0"), c.Profile);
        EXPECT_EQ(DecodeErrors(out), "");
        if (std::string(c.Code) == "302") continue;
        const TPictureHdr hdr = FirstPictureHdr(out);
        EXPECT_NEAR(hdr.Peak, 1000, 0.5);
        EXPECT_EQ(hdr.LightLevels, "1000,400"); // MaxCLL, MaxFALL
    }
}

// The alpha values of the first picture's middle row, decoded with libvpx
// for VP9 (the library's own decoder leaves the alpha out): one byte each.
static std::string MiddleRowAlpha(const std::string& file) {
    const std::string decoder =
        ProbeValue(file, "stream=codec_name", "v:0") == "vp9" ? "-c:v libvpx-vp9 " : "";
    return testsupport::RunCommand("ffmpeg -v error " + decoder + "-i " + ShellQuote(file) +
                                   " -frames:v 1 -vf format=rgba,alphaextract,crop=iw:1:0:ih/2 "
                                   "-f rawvideo -")
        .output;
}

// A transparent source (ProRes 4444, its left half clear) keeps its
// transparency in WebM VP9; the formats whose encoder has no alpha, and
// WebM with an edit drawn by the hook, give opaque pictures.
TEST_F(ModernFormats, TransparencyIsKeptWhereTheEncoderCarriesIt) {
    const std::string source = Dir->file("half clear.mov");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i \"testsrc2=size=64x48:rate=25,format=rgba,geq=r='r(X,Y)':"
                "g='g(X,Y)':b='b(X,Y)':a='if(lt(X,32),0,255)'\" -t 1 -c:v prores_ks "
                "-profile:v 4 -pix_fmt yuva444p10le"));
    const std::string clear(32, '\0'), opaque(32, '\xff');
    const std::string webm = Convert(source, "302", "webm");
    EXPECT_EQ(ProbeValue(webm, "stream_tags=alpha_mode", "v:0"), "1");
    EXPECT_EQ(MiddleRowAlpha(webm), clear + opaque);
    EXPECT_EQ(DecodeErrors(webm), "");
    const std::string hevc = Convert(source, "300", "mp4");
    EXPECT_EQ(ProbeValue(hevc, "stream=pix_fmt", "v:0"), "yuv420p10le");
    EXPECT_EQ(MiddleRowAlpha(hevc), opaque + opaque);
    const std::string edited = Convert(source, "302", "webm", "cfg", "--brightness 300");
    EXPECT_EQ(ProbeValue(edited, "stream_tags=alpha_mode", "v:0"), "");
    EXPECT_EQ(MiddleRowAlpha(edited), opaque + opaque);
}

// The quality steps of one format give files in their order of size.
TEST_F(ModernFormats, QualityStepsOrderTheSizes) {
    const std::string config = "steps";
    // The first run writes the settings file.
    Convert(Dir->file("clip.mp4"), "300", "mp4", config);
    const std::string settings = Dir->file(config) + "/vantrel/vantrel.ini";
    std::uintmax_t last = 0;
    for (const char* step : {"small", "medium", "high", "veryhigh"}) {
        SCOPED_TRACE(step);
        std::ifstream in(settings);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string key = "paraQualityStep=";
        const auto section = text.find("[formatInfo300]");
        ASSERT_NE(section, std::string::npos);
        const auto at = text.find(key, section);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, text.find('\n', at) - at, key + step);
        std::ofstream(settings) << text;
        const std::string out = Convert(Dir->file("clip.mp4"), "300", "mp4", config);
        const std::uintmax_t size = std::filesystem::file_size(out);
        EXPECT_GT(size, last);
        last = size;
    }
}

// The command line lists the new codes and prints their options.
TEST_F(ModernFormats, ListAndPrintOptionsKnowTheCodes) {
    const auto list = testsupport::RunCommand("HOME=" + Q(Dir->file("home")) +
                                              " XDG_CONFIG_HOME=" + Q(Dir->file("cfg")) + " " +
                                              Q(VANTREL_CONVERT) + " --list-formats");
    EXPECT_NE(list.output.find("300   mp4   H.265/HEVC Video (*.mp4)\n"), std::string::npos)
        << list.output;
    EXPECT_NE(list.output.find("306   m4a   ALAC Apple Lossless Audio (*.m4a)\n"),
              std::string::npos);
    const auto vp9 = RunFormat("cfg", "302", "--print-options " + Q(Dir->file("clip.mp4")));
    EXPECT_EQ(vp9.exitCode, 0) << vp9.output;
    for (const char* line : {"\nvcodec=libvpx-vp9\n", "\nacodec=libopus\n", "\ncrf=31\n",
                             "\nrow-mt=1\n", "\nkeep_hdr=1\n"})
        EXPECT_NE(vp9.output.find(line), std::string::npos) << line << vp9.output;
    const auto copy = RunFormat("cfg", "303", "--print-options " + Q(Dir->file("clip.mp4")));
    EXPECT_NE(copy.output.find("\ncopy_all_streams=1\n"), std::string::npos) << copy.output;
}

// QuickTime's run-length pictures keep their depth only in the sample
// description, which Matroska's muxer drops: their copy is refused with the
// reason, where a copy into QuickTime's own container goes through.
TEST_F(ModernFormats, CopyRefusesPicturesMatroskaCannotDescribe) {
    const std::string source = Dir->file("rle.mov");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i testsrc2=size=64x48:rate=25 -t 1 -c:v qtrle -pix_fmt argb"));
    const std::string folder = Dir->file("rle");
    auto r = RunFormat("cfg", "303", "--output-dir " + Q(folder) + " " + Q(source));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("Output stream #0.0 cannot be copied into matroska: the qtrle pictures "
                            "would lose the depth and colours they need to be decoded"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(folder + "/rle_(new).mkv"));
    const std::string mov = Dir->file("rle copy.mov");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(source) + " -vcodec copy " +
                                Q(mov));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(DecodeErrors(mov), "");
}

// A raw H.264 stream (a camera's .h264 file) carries no times: one stored
// in the order it is shown is copied with the times of its frame rate, one
// with reordered pictures is refused with the reason, leaving no file.
TEST_F(ModernFormats, CopyOfARawStreamGivesItsPicturesTheirTimes) {
    const std::string plain = Dir->file("camera.h264");
    ASSERT_TRUE(testsupport::MakeMedia(plain, "-f lavfi -i testsrc2=size=64x48:rate=25 -t 2 "
                                              "-c:v libx264 -bf 0 -f h264"));
    const std::string folder = Dir->file("raw");
    auto r = RunFormat("cfg", "303", "--output-dir " + Q(folder) + " " + Q(plain));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string mkv = folder + "/camera_(new).mkv";
    EXPECT_NEAR(testsupport::DurationSeconds(mkv), 2.0, 0.1);
    EXPECT_EQ(ProbeValues(mkv, "packet=pts").size(), 50u);
    EXPECT_EQ(ProbeValues(mkv, "packet=pts").back(), "1960");
    EXPECT_EQ(DecodeErrors(mkv), "");

    const std::string reordered = Dir->file("reordered.h264");
    ASSERT_TRUE(testsupport::MakeMedia(reordered, "-f lavfi -i testsrc2=size=64x48:rate=25 -t 2 "
                                                  "-c:v libx264 -bf 2 -f h264"));
    r = RunFormat("cfg", "303", "--output-dir " + Q(folder) + " " + Q(reordered));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("Output stream #0.0 cannot be copied into matroska: the h264 pictures "
                            "carry no times and are not stored in the order they are shown"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(folder + "/reordered_(new).mkv"));
}

// Matroska keeps no decoding times: the first reordered pictures of an
// H.264 or HEVC track come without one. Their copy counts back from the
// first time shown by as many frames as the stream reorders, so that the
// times the file does carry follow in order: into Matroska as into MP4,
// and from the key picture a trim starts at.
TEST_F(ModernFormats, CopyOfAMatroskaTrackWithReorderedPicturesKeepsItsTimes) {
    const std::string source = Dir->file("reordered.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=64x48:rate=25 -t 6 "
                                               "-c:v libx264 -bf 2 -g 50"));
    const std::vector<std::string> shown = ProbeValues(source, "packet=pts");
    const std::string folder = Dir->file("copied");
    auto r = RunFormat("cfg", "303", "--output-dir " + Q(folder) + " " + Q(source));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string mkv = folder + "/reordered_(new).mkv";
    EXPECT_EQ(ProbeValues(mkv, "packet=pts"), shown);
    EXPECT_EQ(DecodeErrors(mkv), "");
    // From the key picture at 2 s to the trim's end at 5 s.
    const std::string cut = Dir->file("cut");
    r = RunFormat("cfg", "303", "--trim 3,2 --output-dir " + Q(cut) + " " + Q(source));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(cut + "/reordered_(new).mkv"), 3.0, 0.15);
    EXPECT_EQ(DecodeErrors(cut + "/reordered_(new).mkv"), "");

    const std::string mp4 = Dir->file("classic.mp4");
    r = testsupport::RunCommand(Q(VANTREL_CONVERT) + " -i " + Q(source) + " -vcodec copy " +
                                Q(mp4));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string peer = Dir->file("peer.mp4");
    ASSERT_TRUE(testsupport::RunFfmpeg("-i " + Q(source) + " -c copy " + Q(peer)));
    EXPECT_EQ(ProbeValues(mp4, "packet=pts,dts"), ProbeValues(peer, "packet=pts,dts"));
    EXPECT_EQ(DecodeErrors(mp4), "");
}

// A trim that starts after the only key picture of a transport stream
// (whose seeking does not land on one) has no picture to copy: it fails
// with the reason instead of giving sound alone.
TEST_F(ModernFormats, CopyOfATrimWithoutAKeyPictureFailsWithTheReason) {
    const std::string source = Dir->file("onekey.ts");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi "
                                               "-i sine -t 4 -c:v libx264 -g 250 -c:a mp2"));
    const std::string folder = Dir->file("keyless");
    const auto r =
        RunFormat("cfg", "303", "--trim 2,1 --output-dir " + Q(folder) + " " + Q(source));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("Output stream #0.0 has no picture: the part copied holds no key "
                            "picture of its source to start from (convert it instead)"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(folder + "/onekey_(new).mkv"));
}
