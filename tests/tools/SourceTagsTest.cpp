// Tags, dates, chapters and cover pictures of the source survive a
// conversion the way the window converts (vantrel-convert --format), into
// every container that holds them; the classic form's own metadata wins.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using testsupport::ProbeValue;
using testsupport::ProbeValues;
using testsupport::ShellQuote;

class SourceTags : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        const std::string cover = Dir->file("cover.jpg");
        ASSERT_TRUE(testsupport::RunFfmpeg("-f lavfi -i testsrc2=size=64x64 -frames:v 1 " +
                                           ShellQuote(cover)));
        const std::string chapters = Dir->file("chapters.txt");
        std::ofstream(chapters) << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\n"
                                   "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1000\n"
                                   "title=Two\n";
        const std::string tags = " -metadata title=Song -metadata artist=Singer -metadata "
                                 "album=Record -metadata track=3 -metadata date=2021 ";
        const std::string inputs = "-f lavfi -i sine=sample_rate=44100:duration=1 -i " +
                                   ShellQuote(cover) + " -i " + ShellQuote(chapters) +
                                   " -map 0:a -map 1:v -map_chapters 2 -c:v copy "
                                   "-disposition:v attached_pic" +
                                   tags;
        ASSERT_TRUE(
            testsupport::RunFfmpeg(inputs + "-c:a aac " + ShellQuote(Dir->file("album.m4a"))));
        ASSERT_TRUE(testsupport::RunFfmpeg(inputs + "-c:a libmp3lame " +
                                           ShellQuote(Dir->file("album.mp3"))));
        ASSERT_TRUE(testsupport::MakeMedia(
            Dir->file("phone.mp4"),
            "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=sample_rate=44100 -t 1 "
            "-c:v mpeg4 -c:a aac -metadata title=Holiday -metadata "
            "creation_time=2020-01-02T03:04:05Z"));
    }
    static void TearDownTestSuite() { delete Dir; }

    // Converts `source` with format `code` into a folder of its own; the
    // output file, empty when the conversion failed.
    std::string Convert(const std::string& source, const char* code, const std::string& ext) {
        const std::string folder =
            Dir->file(std::string("out") + code + "-" + ext + "-" + std::to_string(++Runs));
        const auto r = testsupport::RunCommand(
            "HOME=" + ShellQuote(Dir->file("home")) +
            " XDG_CONFIG_HOME=" + ShellQuote(Dir->file("cfg")) + " " + ShellQuote(VANTREL_CONVERT) +
            " --format " + code + " --output-dir " + ShellQuote(folder) + " " + ShellQuote(source));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        const std::string stem = std::filesystem::path(source).stem().string();
        return folder + "/" + stem + "_(new)." + ext;
    }

    // `where` is "format" or, for Ogg's Vorbis comments, "stream".
    static void ExpectAlbumTags(const std::string& file, const std::string& where) {
        const std::string tags = where + "_tags=";
        const std::string select = where == "stream" ? "a:0" : "";
        EXPECT_EQ(ProbeValue(file, tags + "title", select), "Song");
        EXPECT_EQ(ProbeValue(file, tags + "artist", select), "Singer");
        EXPECT_EQ(ProbeValue(file, tags + "album", select), "Record");
        EXPECT_EQ(ProbeValue(file, tags + "track", select), "3");
        EXPECT_EQ(ProbeValue(file, tags + "date", select), "2021");
    }

    static testsupport::TempDir* Dir;
    int Runs = 0;
};
testsupport::TempDir* SourceTags::Dir = nullptr;

// MP3, M4A (AAC or ALAC) and FLAC take the tags and the cover as an
// attached picture; WMA (ASF), WAV (RIFF INFO) and Ogg (Vorbis and Opus
// comments) take the tags and go without the cover.
TEST_F(SourceTags, AlbumTagsAndCoverSurvive) {
    struct Target {
        const char* Code;
        const char* Ext;
        const char* Audio;
        bool Cover;
        const char* Tags;
    };
    const Target targets[] = {
        {"200", "mp3", "mp3", true, "format"},     {"202", "m4a", "aac", true, "format"},
        {"203", "wma", "wmav2", false, "format"},  {"204", "wav", "pcm_s16le", false, "format"},
        {"205", "ogg", "vorbis", false, "stream"}, {"304", "flac", "flac", true, "format"},
        {"305", "opus", "opus", false, "stream"},  {"306", "m4a", "alac", true, "format"}};
    for (const char* source : {"album.m4a", "album.mp3"}) {
        for (const Target& t : targets) {
            SCOPED_TRACE(std::string(source) + " -> " + t.Ext);
            const std::string out = Convert(Dir->file(source), t.Code, t.Ext);
            EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), t.Audio);
            ExpectAlbumTags(out, t.Tags);
            const auto pictures = ProbeValues(out, "stream=codec_name", "v");
            if (!t.Cover) {
                EXPECT_TRUE(pictures.empty());
                continue;
            }
            ASSERT_EQ(pictures.size(), 1u);
            EXPECT_EQ(pictures[0], "mjpeg");
            EXPECT_EQ(ProbeValue(out, "stream_disposition=attached_pic", "v:0"), "1");
        }
    }
}

// The chapters of an M4A go into an M4A.
TEST_F(SourceTags, ChaptersSurviveIntoM4a) {
    const std::string out = Convert(Dir->file("album.m4a"), "202", "m4a");
    EXPECT_EQ(ProbeValues(out, "chapter_tags=title"), (std::vector<std::string>{"One", "Two"}));
}

// A phone video's title and creation time go into MP4 as they are and into
// AVI as its creation date.
TEST_F(SourceTags, CreationTimeSurvives) {
    const std::string mp4 = Convert(Dir->file("phone.mp4"), "102", "mp4");
    EXPECT_EQ(ProbeValue(mp4, "format_tags=title"), "Holiday");
    EXPECT_EQ(ProbeValue(mp4, "format_tags=creation_time").substr(0, 19), "2020-01-02T03:04:05");
    const std::string avi = Convert(Dir->file("phone.mp4"), "104", "avi");
    EXPECT_EQ(ProbeValue(avi, "format_tags=title"), "Holiday");
    EXPECT_EQ(ProbeValue(avi, "format_tags=date").substr(0, 19), "2020-01-02T03:04:05");
}

// The classic form: a metadata option wins over the carried tag, the other
// tags and the cover still come along.
TEST_F(SourceTags, MetadataOptionWins) {
    const std::string out = Dir->file("classic.mp3");
    const auto r = testsupport::RunCommand(
        ShellQuote(VANTREL_CONVERT) + " -i " + ShellQuote(Dir->file("album.m4a")) +
        " -vn -acodec libmp3lame -metadata title=Mine " + ShellQuote(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValue(out, "format_tags=title"), "Mine");
    EXPECT_EQ(ProbeValue(out, "format_tags=artist"), "Singer");
    EXPECT_EQ(ProbeValue(out, "stream_disposition=attached_pic", "v:0"), "1");
}

} // namespace

namespace {

// A conversion from a start point still takes the cover, which stands for
// the whole length.
TEST_F(SourceTags, CoverSurvivesAStartPoint) {
    const std::string out = Dir->file("later.m4a");
    const auto r = testsupport::RunCommand(ShellQuote(VANTREL_CONVERT) + " -i " +
                                           ShellQuote(Dir->file("album.mp3")) +
                                           " -vn -acodec aac -ss 0.4 " + ShellQuote(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValue(out, "stream_disposition=attached_pic", "v:0"), "1");
    EXPECT_NEAR(testsupport::DurationSeconds(out), 0.6, 0.15);
}

// A start point past the end of the sound leaves only the cover to write:
// the conversion fails as one without a cover does, and leaves no file.
TEST_F(SourceTags, CoverAloneMakesNoFile) {
    const std::string folder = Dir->file("past the end");
    const auto r = testsupport::RunCommand(
        "HOME=" + ShellQuote(Dir->file("home")) +
        " XDG_CONFIG_HOME=" + ShellQuote(Dir->file("cfg")) + " " + ShellQuote(VANTREL_CONVERT) +
        " --format 202 --trim 500,1 --output-dir " + ShellQuote(folder) + " " +
        ShellQuote(Dir->file("album.mp3")));
    EXPECT_NE(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Output file is empty, nothing was encoded"), std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(folder + "/album_(new).m4a"));
}

} // namespace
