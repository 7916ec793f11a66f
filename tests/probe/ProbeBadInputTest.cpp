// Bad input: every failure is a text in LastErrMsg, never a crash or hang.
#include "ProbeMedia.h"
#include "../media/LogCollector.h"
#include "media/FFmpegLoader.h"
#include "probe/AVProbe.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

namespace {

class ProbeBadInput : public ProbeTestBase {
protected:
    void ExpectNoFile() {
        EXPECT_EQ(Prober.FormatContext(), nullptr);
        EXPECT_EQ(Prober.StreamCount(), -1);
        EXPECT_EQ(Prober.FileSize(), -1);
    }
    testsupport::TempDir Dir;
};

TEST_F(ProbeBadInput, MissingFileIsReportedAndLogged) {
    LogCollector log;
    std::string file = Dir.file("missing.avi");
    EXPECT_FALSE(Prober.LoadFile(file));
    EXPECT_EQ(Prober.LastErrMsg(), file + ": No such file or directory");
    std::vector<TLoggedLine> lines = log.Take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Sender, &Prober);
    EXPECT_EQ(lines[0].Level, llError);
    EXPECT_EQ(lines[0].Text, Prober.LastErrMsg());
    ExpectNoFile();
}

TEST_F(ProbeBadInput, EmptyFile) {
    std::string file = Dir.file("empty.avi");
    std::ofstream(file).close();
    EXPECT_FALSE(Prober.LoadFile(file));
    EXPECT_EQ(Prober.LastErrMsg(), file + ": Invalid data found when processing input");
    ExpectNoFile();
}

TEST_F(ProbeBadInput, RandomBytes) {
    std::string file = Dir.file("random.mpg");
    std::mt19937 gen(12345);
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < 20000; ++i)
        out.put(static_cast<char>(gen()));
    out.close();
    bool loaded = Prober.LoadFile(file);
    if (loaded) {
        // Some demuxer may claim noise; then the probe still answers.
        EXPECT_GE(Prober.StreamCount(), 0);
        EXPECT_FALSE(Prober.GetFormatInfoText().empty());
    } else {
        EXPECT_EQ(Prober.LastErrMsg().rfind(file + ": ", 0), 0u) << Prober.LastErrMsg();
        ExpectNoFile();
    }
}

TEST_F(ProbeBadInput, TruncatedFilesAreDescribedOrRefused) {
    for (const std::string& source : {TestMedia().AudioVideo, TestMedia().Program}) {
        std::string file = Dir.file("cut" + std::filesystem::path(source).extension().string());
        std::filesystem::copy_file(source, file, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(file, 3000);
        if (Prober.LoadFile(file)) {
            EXPECT_EQ(Prober.FileSize(), 3000);
            EXPECT_FALSE(Prober.GetFormatInfoText().empty());
        } else {
            EXPECT_EQ(Prober.LastErrMsg().rfind(file + ": ", 0), 0u) << Prober.LastErrMsg();
        }
    }
}

TEST_F(ProbeBadInput, DirectoryIsRefused) {
    EXPECT_FALSE(Prober.LoadFile(Dir.path().string()));
    EXPECT_EQ(Prober.LastErrMsg(), MediaErrorText(Dir.path().string(), AVERROR(EISDIR)));
    ExpectNoFile();
}

TEST_F(ProbeBadInput, FileWithoutPermission) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    std::string file = Dir.file("locked.avi");
    std::filesystem::copy_file(TestMedia().AudioVideo, file);
    std::filesystem::permissions(file, std::filesystem::perms::none);
    EXPECT_FALSE(Prober.LoadFile(file));
    EXPECT_EQ(Prober.LastErrMsg(), MediaErrorText(file, AVERROR(EACCES)));
    ExpectNoFile();
}

// A playlist whose segments all lie outside its folder is not read: the
// probe refuses it and the log names the segment.
TEST_F(ProbeBadInput, PlaylistOfFilesElsewhereIsRefused) {
    std::filesystem::create_directories(Dir.path() / "dl");
    const std::string elsewhere = Dir.file("elsewhere.ts");
    ASSERT_TRUE(testsupport::MakeMedia(
        elsewhere, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -c:v mpeg2video"));
    const std::string list = Dir.file("dl/clip.mp4");
    std::ofstream(list) << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1,\n"
                        << elsewhere << "\n#EXT-X-ENDLIST\n";
    LogCollector log;
    EXPECT_FALSE(Prober.LoadFile(list));
    EXPECT_EQ(Prober.LastErrMsg(), list + ": it is a list of other files, and " + elsewhere +
                                       " lies outside its folder (such files are not read)");
    bool named = false;
    for (const TLoggedLine& line : log.Take())
        named = named || line.Text.rfind(elsewhere + " is not opened", 0) == 0;
    EXPECT_TRUE(named);
    ExpectNoFile();
}

// A picture named with '%' is described as itself, not as the sequence its
// name spells.
TEST_F(ProbeBadInput, PictureNamedWithPercentIsDescribedAsItself) {
    ASSERT_TRUE(testsupport::MakeMedia(Dir.file("a%d.png"),
                                       "-f lavfi -i color=red:size=64x48 -frames:v 1 -update 1"));
    ASSERT_TRUE(testsupport::MakeMedia(Dir.file("a1.png"),
                                       "-f lavfi -i color=blue:size=96x72 -frames:v 1 -update 1"));
    ASSERT_TRUE(Prober.LoadFile(Dir.file("a%d.png")));
    EXPECT_NE(Prober.GetFormatInfoText().find("64x48"), std::string::npos)
        << Prober.GetFormatInfoText();
}

TEST_F(ProbeBadInput, FailedLoadClosesThePreviousFile) {
    ASSERT_TRUE(Prober.LoadFile(TestMedia().AudioVideo));
    EXPECT_FALSE(Prober.LoadFile(Dir.file("missing.avi")));
    ExpectNoFile();
    EXPECT_EQ(Prober.GetFormatInfoText(), "");
    EXPECT_EQ(Prober.LastErrMsg(), "file not loaded.");
}

} // namespace
