// Options take effect when the output's format and encoders are guessed
// from its name, shared codec options stay with their kind, and outputs
// that fail half-way leave nothing behind; conversions checked with ffprobe
// or by reading the written file.
#include "ConversionTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

using testsupport::ProbeValue;

namespace {

std::string FileBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Offsets of an MP4's top-level boxes by type.
std::map<std::string, std::size_t> TopLevelBoxes(const std::string& bytes) {
    std::map<std::string, std::size_t> boxes;
    std::size_t at = 0;
    while (at + 8 <= bytes.size()) {
        uint64_t size = 0;
        for (int i = 0; i < 4; ++i)
            size = size << 8 | static_cast<unsigned char>(bytes[at + i]);
        const std::string type = bytes.substr(at + 4, 4);
        boxes.emplace(type, at);
        if (size == 1 && at + 16 <= bytes.size()) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | static_cast<unsigned char>(bytes[at + i]);
        }
        if (size < 8) break;
        at += size;
    }
    return boxes;
}

// The mux rate (bits per second) of the first pack header of an MPEG
// program stream, -1 without one.
int64_t FirstMuxRate(const std::string& bytes) {
    const std::size_t at = bytes.find(std::string("\x00\x00\x01\xba", 4));
    if (at == std::string::npos || at + 12 > bytes.size()) return -1;
    auto byte = [&](std::size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i]));
    };
    uint32_t field;
    if ((byte(4) & 0xC0) == 0x40) // MPEG-2: 22 bits after the 6-byte clock
        field = (byte(10) << 16 | byte(11) << 8 | byte(12)) >> 2;
    else // MPEG-1: marker, 22 bits, marker after the 5-byte clock
        field = (byte(9) << 16 | byte(10) << 8 | byte(11)) >> 1;
    return static_cast<int64_t>(field & 0x3FFFFF) * 50 * 8;
}

class OptionEffect : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Media = &EngineMedia::Get();
    }
    TTerminateInfo Convert(RecordingConverter& c) {
        if (!c.Run()) return TTerminateInfo{-2, false, true, "no batch end", "", 100};
        return c.TaskEnd(0);
    }
    EngineMedia* Media = nullptr;
    testsupport::TempDir Out;
    EngineLog Log;
};

TEST_F(OptionEffect, MuxerOptionsOfAGuessedFormat) {
    RecordingConverter c;
    const std::string mp4 = Out.file("fast.mp4");
    ASSERT_EQ(c.Add(Media->AudioVideo, mp4, "vcodec=mpeg4\nacodec=aac\nmovflags=+faststart"), 0)
        << c.Converter.LastErrMsg;
    ASSERT_TRUE(Convert(c).Finished);
    const auto boxes = TopLevelBoxes(FileBytes(mp4));
    ASSERT_TRUE(boxes.count("moov") && boxes.count("mdat"));
    EXPECT_LT(boxes.at("moov"), boxes.at("mdat")); // the index comes first

    // The record's mux rate and the ExtOptions line alike.
    for (int viaRecord = 0; viaRecord < 2; ++viaRecord) {
        SCOPED_TRACE(viaRecord ? "MuxRate field" : "muxrate line");
        RecordingConverter m;
        const std::string mpg = Out.file("rate" + std::to_string(viaRecord) + ".mpg");
        ASSERT_EQ(m.Converter.AddTask(Media->AudioVideo), 0);
        TOutputOptions o;
        o.ExtOptions = "vcodec=mpeg1video\nacodec=mp2";
        if (viaRecord)
            o.MuxRate = 6000000;
        else
            o.ExtOptions += "\nmuxrate=6000000";
        ASSERT_TRUE(m.Converter.SetOutputFile(0, mpg, &o)) << m.Converter.LastErrMsg;
        ASSERT_TRUE(Convert(m).Finished) << m.TaskEnd(0).ExceptionMsg;
        EXPECT_EQ(FirstMuxRate(FileBytes(mpg)), 6000000);
    }
}

TEST_F(OptionEffect, EncoderOptionsOfAGuessedEncoder) {
    const AVCodec* x264 = ff::avcodec.avcodec_find_encoder_by_name("libx264");
    if (!x264) GTEST_SKIP() << "libx264 is not installed";
    RecordingConverter c;
    const std::string mp4 = Out.file("crf.mp4");
    // No codec named: the MP4 muxer's own H.264 encoder takes crf and the
    // built-in preset's private lines (coder, ...).
    ASSERT_EQ(c.Add(Media->AudioVideo, mp4, "crf=30\nvpre=libx264-mp4"), 0)
        << c.Converter.LastErrMsg;
    ASSERT_TRUE(Convert(c).Finished) << c.TaskEnd(0).ExceptionMsg;
    EXPECT_EQ(ProbeValue(mp4, "stream=codec_name", "v:0"), "h264");
    const std::string bytes = FileBytes(mp4); // libx264 writes its settings into the stream
    EXPECT_NE(bytes.find("crf=30.0"), std::string::npos);
    EXPECT_NE(bytes.find("cabac=1"), std::string::npos);
    EXPECT_FALSE(Log.Contains("Unrecognized option 'crf'"));
    // Without a picture the video preset's private lines wait unused.
    const std::string tone = Out.file("tone.wav");
    ASSERT_TRUE(testsupport::MakeMedia(tone, "-f lavfi -i sine -t 1"));
    RecordingConverter a;
    EXPECT_EQ(a.Add(tone, Out.file("tone.mp4"), "vpre=libx264-mp4"), 0) << a.Converter.LastErrMsg;
    // A name nobody knows is reported, not dropped silently.
    RecordingConverter u;
    ASSERT_EQ(u.Add(Media->AudioVideo, Out.file("u.mp4"), "nosuchoption=1"), 0);
    EXPECT_TRUE(Log.Contains("Unrecognized option 'nosuchoption'"));
}

// "b", "maxrate", "bufsize" are options of audio encoders too: the video
// preset's lines and the video fields leave the audio encoder alone.
TEST_F(OptionEffect, VideoRatesLeaveTheAudioEncoderAlone) {
    if (!ff::avcodec.avcodec_find_encoder_by_name("libx264"))
        GTEST_SKIP() << "libx264 is not installed";
    RecordingConverter c;
    ASSERT_EQ(c.Converter.AddTask(Media->AudioVideo), 0);
    TOutputOptions o;
    o.VideoCodec = "libx264";
    o.VideoPreset = "libx264-mp4";
    o.AudioCodec = "aac";
    o.MaxRate = 1800000;
    o.BufSize = 3000000;
    const std::string mp4 = Out.file("rates.mp4");
    ASSERT_TRUE(c.Converter.SetOutputFile(0, mp4, &o)) << c.Converter.LastErrMsg;
    const auto& streams = c.Converter.Task(0)->OutputStreams();
    ASSERT_EQ(streams.size(), 2u);
    const AVCodecContext* video = streams[0].EncoderContext.get();
    const AVCodecContext* audio = streams[1].EncoderContext.get();
    EXPECT_EQ(video->bit_rate, 1250000);
    EXPECT_EQ(video->rc_max_rate, 1800000);
    EXPECT_EQ(video->rc_buffer_size, 3000000);
    EXPECT_NE(audio->bit_rate, 1250000);
    EXPECT_EQ(audio->rc_max_rate, 0);
    EXPECT_EQ(audio->rc_buffer_size, 0);
    EXPECT_NE(audio->trellis, 2);
    ASSERT_TRUE(Convert(c).Finished) << c.TaskEnd(0).ExceptionMsg;
    const std::string rate = ProbeValue(mp4, "stream=bit_rate", "a:0");
    ASSERT_FALSE(rate.empty());
    EXPECT_LT(std::stol(rate), 400000);
}

TEST_F(OptionEffect, NewVideoStreamKeepsTheSizeItHas) {
    RecordingConverter c;
    const std::string mkv = Out.file("two.mkv");
    ASSERT_EQ(c.Add(Media->AudioVideo, mkv, "vcodec=mpeg4\nacodec=mp2\nnewvideo"), 0)
        << c.Converter.LastErrMsg;
    ASSERT_TRUE(Convert(c).Finished) << c.TaskEnd(0).ExceptionMsg;
    EXPECT_EQ(testsupport::ProbeValues(mkv, "stream=width", "v"),
              (std::vector<std::string>{"160", "160"}));
}

TEST_F(OptionEffect, AFailedOutputLeavesNothingOnTheTask) {
    RecordingConverter c;
    ASSERT_EQ(c.Converter.AddTask(Media->AudioVideo), 0);
    TOutputOptions bad;
    bad.CustomHook = true;
    bad.ExtOptions = "vcodec=mpeg4\nscodec=nosuch\nnewsubtitle";
    const std::string broken = Out.file("broken.mkv");
    EXPECT_FALSE(c.Converter.SetOutputFile(0, broken, &bad));
    EXPECT_NE(c.Converter.LastErrMsg.find("Unknown encoder 'nosuch'"), std::string::npos)
        << c.Converter.LastErrMsg;
    TFFmpeg* task = c.Converter.Task(0);
    EXPECT_EQ(task->OutputFileCount(), 0);
    EXPECT_TRUE(task->OutputStreams().empty());
    EXPECT_FALSE(task->OnHookCallback);
    EXPECT_FALSE(std::filesystem::exists(broken));
    TOutputOptions good;
    good.ExtOptions = "vcodec=mpeg4\nacodec=mp2";
    const std::string out = Out.file("good.avi");
    ASSERT_TRUE(c.Converter.SetOutputFile(0, out, &good)) << c.Converter.LastErrMsg;
    ASSERT_TRUE(Convert(c).Finished) << c.TaskEnd(0).ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(out, "v:0"), 2.0, 0.05);
}

// A music file with a cover joined with one that has no picture: the
// cover is held through the second one too.
TEST_F(OptionEffect, JoinWithALaterSegmentWithoutPicture) {
    const std::string cover = Out.file("cover.mp3");
    ASSERT_TRUE(testsupport::MakeMedia(
        cover, "-f lavfi -i sine -f lavfi -i testsrc2=size=64x64 -t 2 -map 0 -map 1 -frames:v 1 "
               "-c:v mjpeg -disposition:v attached_pic -c:a libmp3lame"));
    const std::string tone = Out.file("tone.wav");
    ASSERT_TRUE(testsupport::MakeMedia(tone, "-f lavfi -i sine=sample_rate=44100 -t 1"));
    RecordingConverter c;
    ASSERT_EQ(c.Converter.AddTask(cover), 0);
    ASSERT_TRUE(c.Converter.AddInput(0, tone));
    TOutputOptions join;
    join.Join = true;
    join.ExtOptions = "vcodec=mpeg4\nacodec=aac";
    const std::string out = Out.file("joined.mp4");
    ASSERT_TRUE(c.Converter.SetOutputFile(0, out, &join)) << c.Converter.LastErrMsg;
    const TTerminateInfo end = Convert(c);
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(out, "a:0"), 3.0, 0.15);
    EXPECT_NEAR(ProbeDuration(out, "v:0"), 3.0, 0.15);
}

// Encoders that hold packets back write late; the reported time goes on.
TEST_F(OptionEffect, ProgressTimeNeverGoesBack) {
    if (!ff::avcodec.avcodec_find_encoder_by_name("libx264"))
        GTEST_SKIP() << "libx264 is not installed";
    const std::string longer = Out.file("long.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        longer, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine -t 3 -c:v mpeg4 "
                "-c:a mp2"));
    RecordingConverter c;
    c.Converter.SetProgressInterval(100);
    // Read at its own pace, so the sound is written long before the pictures.
    ASSERT_EQ(c.Add(longer, Out.file("p.mp4"), "vcodec=libx264\nacodec=aac", false, "re=1"), 0);
    ASSERT_TRUE(Convert(c).Finished);
    std::lock_guard lock(c.Lock);
    ASSERT_GT(c.Progress.size(), 3u);
    for (std::size_t i = 1; i < c.Progress.size(); ++i)
        EXPECT_GE(c.Progress[i].CurrentDuration, c.Progress[i - 1].CurrentDuration) << i;
}

} // namespace

namespace {

// A filter that holds packets back (sound cut into fixed chunks) gives up
// the last, short chunk at the end: no sound is lost.
TEST_F(OptionEffect, BitstreamFiltersAreDrainedAtTheEnd) {
    const std::string tone = Out.file("tone1.wav");
    ASSERT_TRUE(testsupport::MakeMedia(tone, "-f lavfi -i sine=sample_rate=44100 -t 1"));
    RecordingConverter c;
    const std::string out = Out.file("chunks.wav");
    ASSERT_EQ(
        c.Add(tone, out, "acodec=pcm_s16le\nac=1\nabsf=pcm_rechunk=nb_out_samples=10000:pad=0"), 0)
        << c.Converter.LastErrMsg;
    ASSERT_TRUE(Convert(c).Finished) << c.TaskEnd(0).ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(out), 1.0, 0.01);
    // Into a muxer that counts in its own time base (1/1000 for Matroska).
    RecordingConverter m;
    const std::string mka = Out.file("chunks.mka");
    ASSERT_EQ(m.Add(tone, mka, "acodec=pcm_s16le\nac=1\nabsf=pcm_rechunk=nb_out_samples=10000"), 0)
        << m.Converter.LastErrMsg;
    ASSERT_TRUE(Convert(m).Finished) << m.TaskEnd(0).ExceptionMsg;
    EXPECT_EQ(testsupport::ProbeValues(mka, "packet=size", "a:0").size(), 5u);
}

} // namespace
