// The files a demuxer opens for a local source: only those in the source's
// folder or below it. The rule on names, then a playlist opened through
// the library with the check installed.
#include "MediaTestSupport.h"
#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/FFHandles.h"
#include "media/NestedOpens.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

TEST(NestedOpens, OnlyFilesInTheFolderOrBelowItAreAllowed) {
    const std::string folder = "/media/dl";
    for (const char* url : {"/media/dl/seg.ts", "/media/dl/sub/seg.ts", "file:/media/dl/seg.ts",
                            "/media/dl/sub/../seg.ts", "crypto+file:/media/dl/key.bin",
                            "crypto:/media/dl/seg.ts", "data:text/plain,hello"})
        EXPECT_TRUE(NestedOpenAllowed(folder, url)) << url;
    for (const char* url :
         {"/media/private.ts", "/media/dl/../private.ts", "/media/dlx/seg.ts", "file:/etc/key.ts",
          "file:///media/private.ts", "crypto+file:/media/key.bin", "http://host/seg.ts",
          "subfile,,0,100,:/media/dl/seg.ts", "concat:/media/dl/a.ts|/media/dl/b.ts", "pipe:0", ""})
        EXPECT_FALSE(NestedOpenAllowed(folder, url)) << url;
}

TEST(NestedOpens, ALinkInTheFolderIsJudgedByWhereItLeads) {
    testsupport::TempDir dir;
    fs::create_directories(dir.path() / "dl");
    fs::create_directories(dir.path() / "private");
    std::ofstream(dir.file("private/holiday.ts")) << "x";
    fs::create_symlink(dir.path() / "private/holiday.ts", dir.path() / "dl/link.ts");
    std::ofstream(dir.file("dl/own.ts")) << "x";
    const std::string folder = fs::canonical(dir.path() / "dl").string();
    EXPECT_FALSE(NestedOpenAllowed(folder, dir.file("dl/link.ts")));
    EXPECT_TRUE(NestedOpenAllowed(folder, dir.file("dl/own.ts")));
}

// A playlist of two segments, one beside it and one elsewhere.
class PlaylistOpen : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadSystemLibraries()); }
    void SetUp() override {
        fs::create_directories(Dir.path() / "dl");
        fs::create_directories(Dir.path() / "private");
        ASSERT_TRUE(testsupport::MakeMedia(
            Dir.file("dl/own.ts"),
            "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v mpeg2video"));
        fs::copy_file(Dir.file("dl/own.ts"), Dir.file("private/holiday.ts"));
    }
    void Write(const std::string& name, const std::string& entries) {
        std::ofstream(Dir.file(name)) << "#EXTM3U\n#EXT-X-TARGETDURATION:3\n"
                                      << entries << "#EXT-X-ENDLIST\n";
    }
    // The pictures read from the playlist opened with the check; -1 when
    // it does not open.
    int PicturesRead(const std::string& name, bool guarded) {
        AVFormatContext* context = ff::avformat.avformat_alloc_context();
        if (guarded) KeepNestedOpensInFolder(context, Dir.file(name));
        if (ff::avformat.avformat_open_input(&context, Dir.file(name).c_str(), nullptr, nullptr) <
            0)
            return -1;
        const ff::InputContextPtr input(context);
        ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
        int pictures = 0;
        while (ff::avformat.av_read_frame(context, packet.get()) >= 0) {
            pictures +=
                input->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
            ff::avcodec.av_packet_unref(packet.get());
        }
        return pictures;
    }
    testsupport::TempDir Dir;
};

TEST_F(PlaylistOpen, SegmentsOutsideTheFolderAreNotRead) {
    Write("dl/list.mp4", "#EXTINF:2,\nown.ts\n#EXTINF:2,\n" + Dir.file("private/holiday.ts") +
                             "\n#EXTINF:2,\n../private/holiday.ts\n");
    // The library alone reads all three; the check keeps the first.
    EXPECT_EQ(PicturesRead("dl/list.mp4", false), 150);
    EXPECT_EQ(PicturesRead("dl/list.mp4", true), 50);
    Write("dl/elsewhere.mp4", "#EXTINF:2,\n../private/holiday.ts\n");
    EXPECT_EQ(PicturesRead("dl/elsewhere.mp4", true), -1);
}

TEST_F(PlaylistOpen, SegmentsBesideAndBelowThePlaylistAreRead) {
    fs::create_directories(Dir.path() / "dl/parts");
    fs::copy_file(Dir.file("dl/own.ts"), Dir.file("dl/parts/two.ts"));
    Write("dl/list.m3u8", "#EXTINF:2,\nown.ts\n#EXTINF:2,\nparts/two.ts\n#EXTINF:2,\n" +
                              Dir.file("dl/own.ts") + "\n");
    EXPECT_EQ(PicturesRead("dl/list.m3u8", true), 150);
}

} // namespace
