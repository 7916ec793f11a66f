// Probe results against ffprobe on files made with ffmpeg.
#include "ProbeMedia.h"
#include "media/FFmpegLoader.h"
#include "media/UnicodeProtocol.h"
#include "probe/AVProbe.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

using testsupport::ProbeValue;

const ProbeMedia& TestMedia() {
    static ProbeMedia media;
    if (media.Dir) return media;
    media.Dir = std::make_unique<testsupport::TempDir>();
    const testsupport::TempDir& dir = *media.Dir;
    media.AudioVideo = dir.file("av.avi");
    media.AudioOnly = dir.file("audio.wav");
    media.VideoOnly = dir.file("video.mp4");
    media.Program = dir.file("program.mpg");
    media.Transport = dir.file("transport.ts");
    media.Tagged = dir.file("tagged.mkv");
    media.Accented = dir.file("vidéo été 東京.avi");
    const std::string video = "-f lavfi -i testsrc2=size=160x120:rate=25 ";
    const std::string sine = "-f lavfi -i sine=frequency=440:sample_rate=44100 ";
    EXPECT_TRUE(testsupport::MakeMedia(
        media.AudioVideo, video + sine + "-t 2 -c:v mpeg4 -c:a mp2 -metadata title=Hello"));
    EXPECT_TRUE(testsupport::MakeMedia(
        media.AudioOnly, "-f lavfi -i sine=sample_rate=22050 -t 1 -ac 2 -c:a pcm_s16le"));
    EXPECT_TRUE(testsupport::MakeMedia(
        media.VideoOnly, "-f lavfi -i testsrc2=size=176x144:rate=25 -t 1 -c:v mpeg4 "
                         "-metadata creation_time=2020-07-01T12:00:00Z -metadata date=2019 "
                         "-metadata track=3/12 -metadata artist=Someone"));
    EXPECT_TRUE(
        testsupport::MakeMedia(media.Program, "-f lavfi -i testsrc2=size=160x120:rate=30000/1001 " +
                                                  sine + "-t 1 -c:v mpeg2video -c:a mp2 -f vob"));
    EXPECT_TRUE(testsupport::MakeMedia(media.Transport, video + sine +
                                                            "-t 1 -c:v mpeg2video -c:a mp2 "
                                                            "-metadata:s:a:0 language=fra"));
    EXPECT_TRUE(testsupport::MakeMedia(
        media.Tagged,
        video + "-t 1 -c:v mpeg4 -metadata TIT2=Tagged -metadata:s:v:0 language=eng"));
    std::filesystem::copy_file(media.AudioVideo, media.Accented);
    return media;
}

namespace {

class Probe : public ProbeTestBase {};

std::int64_t Microseconds(const std::string& seconds) {
    return std::llround(std::stod(seconds) * 1e6);
}

TEST_F(Probe, NothingLoadedGivesMinusOneEverywhere) {
    EXPECT_EQ(Prober.StreamCount(), -1);
    EXPECT_EQ(Prober.FileSize(), -1);
    EXPECT_EQ(Prober.FirstVideoStreamIndex(), -1);
    TFileStreamInfo info;
    EXPECT_FALSE(Prober.GetFileStreamInfo(info));
    EXPECT_EQ(info.Duration, -1);
    EXPECT_EQ(info.BitRate, -1);
    EXPECT_EQ(info.Year, -1);
    EXPECT_EQ(Prober.LastErrMsg(), "file not loaded.");
    EXPECT_EQ(Prober.GetFormatInfoText(), "");
    EXPECT_EQ(Prober.GetFormatName(), "");
    EXPECT_FALSE(Prober.IsAudioStream(0));
}

TEST_F(Probe, AudioAndVideoFileMatchesFfprobe) {
    const std::string& file = TestMedia().AudioVideo;
    ASSERT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
    EXPECT_TRUE(Prober.OwnsContext());
    EXPECT_EQ(Prober.StreamCount(), 2);
    EXPECT_EQ(Prober.VideoStreamCount(), 1);
    EXPECT_EQ(Prober.AudioStreamCount(), 1);
    EXPECT_EQ(Prober.SubtitleStreamCount(), 0);
    EXPECT_EQ(Prober.FirstVideoStreamIndex(), 0);
    EXPECT_EQ(Prober.FirstAudioStreamIndex(), 1);
    EXPECT_EQ(Prober.MainStreamIndex(), 0);
    EXPECT_EQ(Prober.FileSize(), std::stoll(ProbeValue(file, "format=size")));
    EXPECT_EQ(Prober.GetFormatName(), ProbeValue(file, "format=format_name"));
    EXPECT_EQ(Prober.GetFileName(), file);

    TFileStreamInfo info;
    ASSERT_TRUE(Prober.GetFileStreamInfo(info));
    EXPECT_EQ(info.Duration, Microseconds(ProbeValue(file, "format=duration")));
    EXPECT_EQ(info.BitRate, std::stoi(ProbeValue(file, "format=bit_rate")));
    EXPECT_EQ(info.Title, "Hello");
    EXPECT_EQ(info.Timestamp, 0);

    TVideoStreamInfo video;
    ASSERT_TRUE(Prober.GetVideoStreamInfo(-1, video));
    EXPECT_EQ(video.Width, std::stoi(ProbeValue(file, "stream=width", "v:0")));
    EXPECT_EQ(video.Height, std::stoi(ProbeValue(file, "stream=height", "v:0")));
    EXPECT_EQ(video.CodecName.rfind(ProbeValue(file, "stream=codec_name", "v:0") + "(", 0), 0u)
        << video.CodecName;
    EXPECT_EQ(std::to_string(video.FrameRateNum) + "/" + std::to_string(video.FrameRateDen),
              ProbeValue(file, "stream=r_frame_rate", "v:0"));
    EXPECT_EQ(video.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_FLOAT_EQ(video.DisplayAspect, 160.0f / 120.0f);
    EXPECT_EQ(video.DurationUS, Microseconds(ProbeValue(file, "stream=duration", "v:0")));

    TAudioStreamInfo audio;
    ASSERT_TRUE(Prober.GetAudioStreamInfo(-1, audio));
    EXPECT_EQ(audio.SampleRate, std::stoi(ProbeValue(file, "stream=sample_rate", "a:0")));
    EXPECT_EQ(audio.Channels, std::stoi(ProbeValue(file, "stream=channels", "a:0")));
    EXPECT_EQ(audio.BitRate, std::stoi(ProbeValue(file, "stream=bit_rate", "a:0")));
    EXPECT_EQ(audio.CodecName.rfind("mp2(", 0), 0u) << audio.CodecName;
    EXPECT_TRUE(Prober.IsVideoStream(0));
    EXPECT_TRUE(Prober.IsAudioStream(1));
    EXPECT_FALSE(Prober.IsAudioStream(0));
}

TEST_F(Probe, AudioOnlyFileHasNoVideoStream) {
    const std::string& file = TestMedia().AudioOnly;
    ASSERT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
    EXPECT_EQ(Prober.VideoStreamCount(), 0);
    EXPECT_EQ(Prober.FirstVideoStreamIndex(), -1);
    EXPECT_EQ(Prober.MainStreamIndex(), 0);
    TVideoStreamInfo video;
    video.Width = 5;
    EXPECT_FALSE(Prober.GetVideoStreamInfo(-1, video));
    EXPECT_EQ(Prober.LastErrMsg(), "no video stream.");
    EXPECT_EQ(video.Width, -1);
    EXPECT_FLOAT_EQ(video.DisplayAspect, -1.0f);
    TAudioStreamInfo audio;
    ASSERT_TRUE(Prober.GetAudioStreamInfo(0, audio));
    EXPECT_EQ(audio.SampleRate, 22050);
    EXPECT_EQ(audio.Channels, 2);
    EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(audio.CodecName.rfind(ProbeValue(file, "stream=codec_name", "a:0"), 0), 0u);
}

TEST_F(Probe, VideoOnlyFileHasNoAudioStream) {
    const std::string& file = TestMedia().VideoOnly;
    ASSERT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
    EXPECT_EQ(Prober.AudioStreamCount(), 0);
    EXPECT_EQ(Prober.FirstAudioStreamIndex(), -1);
    TAudioStreamInfo audio;
    EXPECT_FALSE(Prober.GetAudioStreamInfo(-1, audio));
    EXPECT_EQ(Prober.LastErrMsg(), "no audio stream.");
    EXPECT_FALSE(Prober.GetAudioStreamInfo(0, audio));
    EXPECT_EQ(Prober.LastErrMsg(), "stream #0 is not audio stream.");
    EXPECT_EQ(audio.SampleRate, -1);
    EXPECT_EQ(audio.CodecName, "");
    EXPECT_FALSE(Prober.GetVideoStreamInfo(3, *std::make_unique<TVideoStreamInfo>()));
    EXPECT_EQ(Prober.LastErrMsg(), "stream index #3 is invalid.");
    EXPECT_FALSE(Prober.IsVideoStream(-1));
    EXPECT_EQ(Prober.LastErrMsg(), "stream index #-1 is invalid.");
    TVideoStreamInfo video;
    ASSERT_TRUE(Prober.GetVideoStreamInfo(0, video));
    EXPECT_EQ(video.Width, 176);
    EXPECT_EQ(video.Height, 144);
}

TEST_F(Probe, ContainerFieldsFromMetadata) {
    ASSERT_TRUE(Prober.LoadFile(TestMedia().VideoOnly)) << Prober.LastErrMsg();
    TFileStreamInfo info;
    ASSERT_TRUE(Prober.GetFileStreamInfo(info));
    EXPECT_EQ(info.Timestamp, 1593604800);
    EXPECT_EQ(info.Year, 2019);
    EXPECT_EQ(info.Track, 3);
    EXPECT_EQ(info.Author, "Someone");
    EXPECT_EQ(info.Title, "");
    EXPECT_NE(Prober.GetFormatInfoText().find("\r\nTime Stamp: "), std::string::npos);
}

TEST_F(Probe, ProgramStreamTimesMatchFfprobe) {
    const std::string& file = TestMedia().Program;
    ASSERT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
    EXPECT_EQ(Prober.GetFormatName(), "mpeg");
    TFileStreamInfo info;
    ASSERT_TRUE(Prober.GetFileStreamInfo(info));
    EXPECT_EQ(info.StartTime, Microseconds(ProbeValue(file, "format=start_time")));
    TVideoStreamInfo video;
    ASSERT_TRUE(Prober.GetVideoStreamInfo(-1, video));
    EXPECT_EQ(video.StartTimeUS, Microseconds(ProbeValue(file, "stream=start_time", "v:0")));
    EXPECT_EQ(video.StartTime, std::stoll(ProbeValue(file, "stream=start_pts", "v:0")));
    EXPECT_EQ(video.FrameRateNum, 30000);
    EXPECT_EQ(video.FrameRateDen, 1001);
    EXPECT_EQ(Prober.StartTime(), video.StartTime);
}

TEST_F(Probe, NonAsciiAndPrefixedNamesOpen) {
    const std::string& file = TestMedia().Accented;
    ASSERT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
    EXPECT_EQ(Prober.GetFileName(), file);
    EXPECT_EQ(Prober.StreamCount(), 2);
    EXPECT_EQ(Prober.FileSize(), static_cast<std::int64_t>(std::filesystem::file_size(file)));
    ASSERT_TRUE(Prober.LoadFile(UnicodePrefix + file)) << Prober.LastErrMsg();
    EXPECT_EQ(Prober.GetFileName(), file);
}

TEST_F(Probe, ForcedFormatIsKeptAndUnknownOneRefused) {
    ASSERT_TRUE(Prober.LoadFile(TestMedia().Program, "mpeg"));
    EXPECT_EQ(Prober.ForcedFormat(), "mpeg");
    EXPECT_FALSE(Prober.LoadFile(TestMedia().Program, "nosuchformat"));
    EXPECT_EQ(Prober.LastErrMsg(), "Unknown input format: nosuchformat");
    EXPECT_EQ(Prober.FormatContext(), nullptr);
    EXPECT_EQ(Prober.ForcedFormat(), "");
}

TEST_F(Probe, AttachedContextIsOnlyForgotten) {
    AVFormatContext* context = nullptr;
    ASSERT_GE(ff::avformat.avformat_open_input(&context, TestMedia().AudioVideo.c_str(), nullptr,
                                               nullptr),
              0);
    ASSERT_GE(ff::avformat.avformat_find_stream_info(context, nullptr), 0);
    Prober.AttachContext(context);
    EXPECT_FALSE(Prober.OwnsContext());
    EXPECT_EQ(Prober.StreamCount(), 2);
    // A stream whose time base is 0/0 gets 1 as its denominator.
    context->streams[1]->time_base = AVRational{0, 0};
    TAudioStreamInfo audio;
    ASSERT_TRUE(Prober.GetAudioStreamInfo(1, audio));
    EXPECT_EQ(context->streams[1]->time_base.den, 1);
    EXPECT_EQ(audio.DurationUS, 0); // a 0/1 time base scales everything to 0
    Prober.CloseFile();
    EXPECT_EQ(Prober.FormatContext(), nullptr);
    EXPECT_EQ(Prober.StreamCount(), -1);
    EXPECT_EQ(context->nb_streams, 2u); // still open
    ff::avformat.avformat_close_input(&context);
}

TEST_F(Probe, MissingLibrariesRaiseTheLibraryTexts) {
    FFmpegLoader().UnloadLibrary(libSwScale);
    try {
        Prober.LoadFile(TestMedia().AudioVideo);
        ADD_FAILURE() << "no exception";
    } catch (const EAVProbeError& e) {
        EXPECT_STREQ(e.what(), "LibSwScale not loaded.");
    }
    FFmpegLoader().UnloadLibraries(ConverterLibraries);
    try {
        Prober.AttachContext(nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const EAVProbeError& e) {
        EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
    }
    ASSERT_TRUE(FFmpegLoader().LoadLibraries(ConverterLibraries));
}

} // namespace

namespace {

// A phone clip is described as it is shown: turned upright, 120 x 160.
TEST_F(Probe, RotatedClipsGiveTheUprightSize) {
    testsupport::TempDir dir;
    const std::string plain = dir.file("plain.mp4");
    ASSERT_TRUE(
        testsupport::MakeMedia(plain, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v mpeg4"));
    const std::string matrix = dir.file("matrix.mp4");
    ASSERT_TRUE(testsupport::RunFfmpeg("-i " + testsupport::ShellQuote(plain) +
                                       " -c copy -metadata:s:v:0 rotate=90 " +
                                       testsupport::ShellQuote(matrix)));
    const std::string tag = dir.file("tag.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(tag, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 "
                                            "-c:v mpeg4 -metadata:s:v:0 ROTATE=270"));
    for (const std::string& file : {matrix, tag}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
        TVideoStreamInfo video;
        ASSERT_TRUE(Prober.GetVideoStreamInfo(-1, video));
        EXPECT_EQ(video.Width, 120);
        EXPECT_EQ(video.Height, 160);
        EXPECT_NE(Prober.GetFormatInfoText().find("120x160"), std::string::npos)
            << Prober.GetFormatInfoText();
    }
    ASSERT_TRUE(Prober.LoadFile(plain));
    TVideoStreamInfo video;
    ASSERT_TRUE(Prober.GetVideoStreamInfo(-1, video));
    EXPECT_EQ(video.Width, 160);
}

} // namespace

namespace {

// Non-square pixels: the shown size is the stored width scaled by the pixel
// aspect (a 16:9 DVD frame, anamorphic HD, a picture of narrow pixels); the
// stored size stays, and square pixels show as stored.
TEST_F(Probe, NonSquarePixelsGiveTheShownSize) {
    struct Case {
        const char* Size;
        const char* Sar;
        int Width, Height, ShownWidth;
    };
    const Case cases[] = {{"720x480", "32/27", 720, 480, 853},
                          {"1440x1080", "4/3", 1440, 1080, 1920},
                          {"720x576", "8/9", 720, 576, 640},
                          {"320x240", "1/1", 320, 240, 320}};
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Size);
        const std::string file = dir.file(std::string("sar") + c.Size + ".mp4");
        ASSERT_TRUE(testsupport::MakeMedia(file, std::string("-f lavfi -i testsrc2=size=") +
                                                     c.Size + ":rate=25 -vf setsar=" + c.Sar +
                                                     " -t 0.2 -c:v mpeg4"));
        ASSERT_TRUE(Prober.LoadFile(file)) << Prober.LastErrMsg();
        TVideoStreamInfo video;
        ASSERT_TRUE(Prober.GetVideoStreamInfo(-1, video));
        EXPECT_EQ(video.Width, c.Width);
        EXPECT_EQ(video.Height, c.Height);
        EXPECT_EQ(video.DisplayWidth, c.ShownWidth);
        EXPECT_EQ(video.DisplayHeight, c.Height);
        EXPECT_NEAR(video.DisplayAspect, static_cast<double>(c.ShownWidth) / c.Height, 0.002);
    }
}

} // namespace
