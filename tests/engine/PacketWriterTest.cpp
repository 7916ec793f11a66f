// The packet writer driven alone: packets go through a stream's bitstream
// filters to a muxer whose file lists what it got (framecrc), the stream's
// written time follows them, a cover picture is not counted as content, and
// the totals line adds up the counted bytes; the muxer's refusal and a
// failure in the middle raise their messages.
#include "engine/PacketWriter.h"
#include "EngineTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One video stream in 1/25 s, copied, into a framecrc listing.
struct ListedOutput {
    testsupport::TempDir Dir;
    std::string Path = Dir.file("list.txt");
    AVFormatContext* Context = nullptr;
    TOutputStreamSetup Setup;
    TOutputStream Stream;

    explicit ListedOutput(const std::string& filter, const std::string& args) {
        EXPECT_GE(ff::avformat.avformat_alloc_output_context2(&Context, nullptr, "framecrc",
                                                              Path.c_str()),
                  0);
        AVStream* st = ff::avformat.avformat_new_stream(Context, nullptr);
        st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
        st->codecpar->width = 16;
        st->codecpar->height = 16;
        st->time_base = {1, 25};
        if (!filter.empty()) Setup.BitstreamFilters.push_back({Find(filter), args});
        Stream.Stream = st;
        Stream.Output = Context;
        Stream.Setup = &Setup;
        Stream.Copy = true;
        Stream.Writing.PacketTimeBase = {1, 1000};
        TPacketWriter::OpenFilters(Stream);
        EXPECT_GE(ff::avformat.avio_open(&Context->pb, Path.c_str(), AVIO_FLAG_WRITE), 0);
        EXPECT_GE(ff::avformat.avformat_write_header(Context, nullptr), 0);
    }
    ~ListedOutput() {
        Stream.Writing.Filters.clear();
        ff::avformat.avio_closep(&Context->pb);
        ff::avformat.avformat_free_context(Context);
    }
    static const AVBitStreamFilter* Find(const std::string& name) {
        const AVBitStreamFilter* f = ff::avcodec.av_bsf_get_by_name(name.c_str());
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
    // A 4-byte packet at `ms` milliseconds (decoded at `dtsMs`, else then
    // too) lasting `duration`.
    void Write(TPacketWriter& writer, int64_t ms, int64_t dtsMs = -1, int64_t duration = 40) {
        ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
        ASSERT_GE(ff::avcodec.av_new_packet(packet.get(), 4), 0);
        packet->pts = ms;
        packet->dts = dtsMs >= 0 ? dtsMs : ms;
        packet->duration = duration;
        packet->flags = AV_PKT_FLAG_KEY;
        writer.Write(Stream, packet.get());
    }
    std::string Finish(TPacketWriter& writer) {
        writer.Drain(Stream);
        EXPECT_GE(ff::avformat.av_write_trailer(Context), 0);
        ff::avformat.avio_closep(&Context->pb);
        return FileText(Path);
    }
};

} // namespace

// Where the written pictures end when shown: by their presentation time,
// not their decoding time (a reordered picture), and a picture without its
// length lasts a frame of the stream's rate (a slide show's five seconds).
TEST(PacketWriter, ShownEndCountsThePresentationTimeAndTheFrameOfAPictureWithoutLength) {
    RequireLibraries();
    TPacketWriter writer(true);
    ListedOutput out("", "");
    out.Stream.MediaType = AVMEDIA_TYPE_VIDEO;
    out.Stream.Stream->avg_frame_rate = {1, 5};
    out.Write(writer, 0);
    EXPECT_DOUBLE_EQ(out.Stream.Writing.ShownEnd, 0.04);
    out.Write(writer, 10000, 5000, 0);
    EXPECT_DOUBLE_EQ(out.Stream.Writing.OutTime, 5.0);
    EXPECT_DOUBLE_EQ(out.Stream.Writing.ShownEnd, 15.0);
    out.Finish(writer);
}

TEST(PacketWriter, WritesThroughTheFiltersInTheStreamsTimeBase) {
    RequireLibraries();
    {
        TPacketWriter writer(true);
        ListedOutput out("", "");
        out.Write(writer, 0);
        out.Write(writer, 80);
        EXPECT_DOUBLE_EQ(out.Stream.Writing.OutTime, 0.12); // (2 + 1) / 25
        EXPECT_EQ(writer.PacketsWritten(), 2);
        const std::string list = out.Finish(writer);
        EXPECT_NE(list.find("0,          0,          0,        1,        4,"), std::string::npos)
            << list;
        EXPECT_NE(list.find("0,          2,          2,        1,        4,"), std::string::npos)
            << list;
    }
    {
        // A filter that doubles the times and holds the latest packet back
        // until the next one or the end: the packets are written as it made
        // them, the last one by the drain, and the written time follows.
        TPacketWriter writer(true);
        ListedOutput out("setts", "pts=PTS*2:dts=DTS*2");
        out.Write(writer, 40);
        out.Write(writer, 80);
        EXPECT_DOUBLE_EQ(out.Stream.Writing.OutTime, 0.12); // (2 + 1) / 25
        const std::string list = out.Finish(writer);
        EXPECT_DOUBLE_EQ(out.Stream.Writing.OutTime, 0.2) << list; // (4 + 1) / 25
        EXPECT_NE(list.find("0,          2,          2,        1,        4,"), std::string::npos)
            << list;
        EXPECT_NE(list.find("0,          4,          4,        1,        4,"), std::string::npos)
            << list;
        EXPECT_EQ(list.find("0,          1,"), std::string::npos) << list;
    }
}

TEST(PacketWriter, ACoverPictureIsNoContent) {
    RequireLibraries();
    TPacketWriter writer(true);
    ListedOutput out("", "");
    out.Stream.Stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
    out.Write(writer, 0);
    EXPECT_EQ(writer.PacketsWritten(), 0);
    out.Stream.Stream->disposition = 0;
    out.Write(writer, 40);
    EXPECT_EQ(writer.PacketsWritten(), 1);
    out.Finish(writer);
}

// A packet the muxer refuses (its time goes back) raises the muxer's error
// and is not counted; a failure of the writing in the middle comes at its
// packet, and the packets before it are in the file.
TEST(PacketWriter, TheMuxersRefusalAndAFailureInTheMiddleRaiseTheirMessages) {
    RequireLibraries();
    {
        TPacketWriter writer(true);
        ListedOutput out("", "");
        out.Write(writer, 80);
        std::string error;
        try {
            out.Write(writer, 0);
        } catch (const FFmpegException& e) {
            error = e.what();
        }
        EXPECT_EQ(error.rfind("av_interleaved_write_frame(): ", 0), 0u) << error;
        EXPECT_EQ(writer.PacketsWritten(), 1);
        out.Finish(writer);
    }
    ::setenv("VANTREL_STAGE_FAULT", "write:3", 1);
    TPacketWriter writer(true);
    ::unsetenv("VANTREL_STAGE_FAULT");
    ListedOutput out("", "");
    out.Write(writer, 0);
    out.Write(writer, 40);
    std::string error;
    try {
        out.Write(writer, 80);
    } catch (const FFmpegException& e) {
        error = e.what();
    }
    EXPECT_EQ(error, TStageFault::FaultText("write"));
    EXPECT_EQ(writer.PacketsWritten(), 2);
    const std::string list = out.Finish(writer);
    EXPECT_NE(list.find("0,          1,          1,        1,        4,"), std::string::npos)
        << list;
    EXPECT_EQ(list.find("0,          2,"), std::string::npos) << list;
}

TEST(PacketWriter, TotalsAddUpTheCountedBytes) {
    TPacketWriter writer(false);
    EXPECT_EQ(writer.Totals(100),
              "video:0kB audio:0kB global headers:0kB muxing overhead 0.000000%\r\n");
    writer.CountVideo(1024);
    writer.CountVideo(1024);
    writer.CountAudio(1024);
    writer.CountHeader(0);
    EXPECT_EQ(writer.VideoBytes(), 2048);
    // 3200 bytes in the file for 3072 counted: 128 / 3072.
    EXPECT_EQ(writer.Totals(3200),
              "video:2kB audio:1kB global headers:0kB muxing overhead 4.166667%\r\n");
}
