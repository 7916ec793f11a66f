// Stream copy alone, into a muxer whose file lists what it got
// (framecrc): a copy starts at a key frame unless asked otherwise, the
// times move back by the start point, a packet without a decoding time
// takes its stream's, a cover picture stands at 0, and the copied video
// is counted.
#include "EngineTestSupport.h"
#include "engine/StreamCopy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

struct ContextDeleter {
    void operator()(AVFormatContext* p) const { ff::avformat.avformat_free_context(p); }
};
using ContextPtr = std::unique_ptr<AVFormatContext, ContextDeleter>;

// A video stream in milliseconds copied into a framecrc listing.
class StreamCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Input.reset(ff::avformat.avformat_alloc_context());
        ASSERT_TRUE(Input);
        Source.Stream = ff::avformat.avformat_new_stream(Input.get(), nullptr);
        ASSERT_TRUE(Source.Stream);
        Source.Stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        Source.Stream->time_base = {1, 1000};
        AVFormatContext* raw = nullptr;
        ASSERT_GE(
            ff::avformat.avformat_alloc_output_context2(&raw, nullptr, "framecrc", Path.c_str()),
            0);
        Output.reset(raw);
        AVStream* st = ff::avformat.avformat_new_stream(raw, nullptr);
        st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
        st->codecpar->width = 16;
        st->codecpar->height = 16;
        st->time_base = {1, 1000};
        Copied.Stream = st;
        Copied.Output = raw;
        Copied.Setup = &Setup;
        Copied.Copy = true;
        Copied.MediaType = AVMEDIA_TYPE_VIDEO;
        TPacketWriter::OpenFilters(Copied);
        ASSERT_GE(ff::avformat.avio_open(&raw->pb, Path.c_str(), AVIO_FLAG_WRITE), 0);
        ASSERT_GE(ff::avformat.avformat_write_header(raw, nullptr), 0);
    }
    void TearDown() override {
        if (Output) ff::avformat.avio_closep(&Output->pb);
    }

    // A 4-byte packet read at `dts` / `pts` (ms), the stream being at
    // `streamMs`.
    void Copy(TStreamCopy& copy, int64_t dts, int64_t pts, bool key, int64_t streamMs) {
        ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
        ASSERT_GE(ff::avcodec.av_new_packet(packet.get(), 4), 0);
        packet->dts = dts;
        packet->pts = pts;
        packet->duration = 40;
        packet->flags = key ? AV_PKT_FLAG_KEY : 0;
        Source.Pts = streamMs * 1000;
        copy.Copy(Copied, Source, packet.get());
    }

    // The listing's lines of the packets: "dts, pts".
    std::string Finish() {
        Writer.Drain(Copied);
        EXPECT_GE(ff::avformat.av_write_trailer(Output.get()), 0);
        ff::avformat.avio_closep(&Output->pb);
        std::ifstream in(Path);
        std::string line, times;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream fields(line);
            std::string stream, dts, pts;
            std::getline(fields, stream, ',');
            std::getline(fields, dts, ',');
            std::getline(fields, pts, ',');
            times += std::to_string(std::stoll(dts)) + "," + std::to_string(std::stoll(pts)) + " ";
        }
        return times;
    }

    testsupport::TempDir Dir;
    std::string Path = Dir.file("list.txt");
    ContextPtr Input, Output;
    TInputStream Source;
    TOutputStreamSetup Setup;
    TOutputStream Copied;
    TPacketWriter Writer{true};
};

} // namespace

TEST_F(StreamCopyTest, StartsAtAKeyFrameAndMovesTheTimesByTheStartPoint) {
    TStreamCopy copy(Writer, 1 * AV_TIME_BASE, false);
    Copy(copy, 1000, 1000, false, 1000); // before the first key frame: left out
    EXPECT_EQ(Copied.FrameNumber, 0);
    Copy(copy, 1040, 1080, true, 1040);
    Copy(copy, AV_NOPTS_VALUE, 1160, false, 1120); // the stream's time stands in
    EXPECT_EQ(Copied.FrameNumber, 2);
    EXPECT_EQ(Copied.SyncOpts, 2) << "copied pictures move the output's picture count";
    EXPECT_EQ(Writer.VideoBytes(), 8);
    EXPECT_EQ(Finish(), "40,80 120,160 ");
}

TEST_F(StreamCopyTest, ACoverPictureStandsAtTheStartAndNonKeysMayLead) {
    TStreamCopy copy(Writer, 1 * AV_TIME_BASE, true);
    Source.Stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
    Copy(copy, 5000, 5000, false, 5000);
    Source.Stream->disposition = 0;
    Copy(copy, 6000, 6040, false, 6000);
    EXPECT_EQ(Copied.FrameNumber, 2);
    EXPECT_EQ(Finish(), "0,0 5000,5040 ");
}
