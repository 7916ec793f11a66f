#include "PlayerTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

using testsupport::MakeMedia;

TPlayerMedia& TPlayerMedia::Get() {
    static TPlayerMedia media;
    static const bool made = [] {
        TPlayerMedia& m = media;
        m.AudioVideo = m.Dir.file("av.mkv");
        m.VideoOnly = m.Dir.file("video.mkv");
        m.Tone = m.Dir.file("tone.wav");
        m.Wide = m.Dir.file("wide.mkv");
        EXPECT_TRUE(MakeMedia(m.AudioVideo,
                              "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                              "sine=frequency=440:sample_rate=44100 -t 2 -c:v mpeg4 -g 10 -q:v 3 "
                              "-c:a mp2 -ac 2"));
        EXPECT_TRUE(MakeMedia(m.VideoOnly, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 "
                                           "-c:v mpeg4 -g 10 -q:v 3"));
        EXPECT_TRUE(MakeMedia(m.Tone, "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 1 "
                                      "-c:a pcm_s16le -ac 1"));
        EXPECT_TRUE(MakeMedia(m.Wide, "-f lavfi -i testsrc2=size=80x90:rate=25 -t 1 "
                                      "-vf setsar=2/1 -c:v mpeg4 -q:v 3"));
        return true;
    }();
    (void)made;
    return media;
}

void PlayerTest::SetUp() {
    SetMainThread();
    static const bool loaded = FFmpegLoader().LoadLibraries(PlayerLibraries);
    ASSERT_TRUE(loaded) << FFmpegLoader().GetLastError();
    TPlayerMedia::Get();
}

std::vector<std::uint8_t> OracleFrame(const std::string& file, int index, int width, int height) {
    testsupport::TempDir dir;
    std::string raw = dir.file("frame.raw");
    std::string args = "-i " + testsupport::ShellQuote(file) + " -vf " +
                       testsupport::ShellQuote("select=eq(n\\," + std::to_string(index) + ")") +
                       " -frames:v 1 -f rawvideo -pix_fmt bgr24 " + testsupport::ShellQuote(raw);
    if (!testsupport::RunFfmpeg(args)) return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    if (data.size() != static_cast<std::size_t>(width) * height * 3) return {};
    return data;
}

double MeanDifference(const Bitmap24& bitmap, const std::vector<std::uint8_t>& rows) {
    if (rows.size() != static_cast<std::size_t>(bitmap.Width) * bitmap.Height * 3) return 1e9;
    double sum = 0;
    for (int y = 0; y < bitmap.Height; ++y)
        for (int x = 0; x < bitmap.Width * 3; ++x)
            sum += std::abs(int(bitmap.Row(y)[x]) - int(rows[(y * bitmap.Width) * 3 + x]));
    return sum / rows.size();
}

ff::CodecContextPtr OpenStreamCodec(const AVStream& stream) {
    const AVCodec* codec = ff::avcodec.avcodec_find_decoder(stream.codecpar->codec_id);
    EXPECT_NE(codec, nullptr);
    if (!codec) return nullptr;
    ff::CodecContextPtr context(ff::avcodec.avcodec_alloc_context3(codec));
    ff::avcodec.avcodec_parameters_to_context(context.get(), stream.codecpar);
    context->pkt_timebase = stream.time_base;
    std::lock_guard lock(CodecLock());
    EXPECT_EQ(ff::avcodec.avcodec_open2(context.get(), codec, nullptr), 0);
    return context;
}
