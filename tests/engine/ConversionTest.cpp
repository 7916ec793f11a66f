// End-to-end conversions through the converter component, each output
// checked with ffprobe.
#include "ConversionTestSupport.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

using testsupport::ProbeValue;
using testsupport::ProbeValues;

namespace {

class Conversion : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Media = &EngineMedia::Get();
    }
    EngineMedia* Media = nullptr;
    testsupport::TempDir Out;
    EngineLog Log;
};

TEST_F(Conversion, VideoWithAudioGetsTheRequestedCodecsSizeAndDuration) {
    RecordingConverter c;
    const std::string out = Out.file("out.mp4");
    ASSERT_EQ(
        c.Add(Media->AudioVideo, out, "vcodec=mpeg4\ns=320x240\nb=768000\nacodec=aac\nab=128000"),
        0)
        << c.Converter.LastErrMsg;
    ASSERT_TRUE(c.Run());
    const TTerminateInfo end = c.TaskEnd(0);
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_FALSE(end.ExceptionRaised) << end.ExceptionMsg;
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), "mpeg4");
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), "aac");
    EXPECT_EQ(ProbeValue(out, "stream=width", "v:0"), "320");
    EXPECT_EQ(ProbeValue(out, "stream=height", "v:0"), "240");
    EXPECT_EQ(ProbeValue(out, "stream=nb_frames", "v:0"), "50");
    EXPECT_NEAR(ProbeDuration(out, "v:0"), 2.0, 0.05);
    EXPECT_NEAR(ProbeDuration(out, "a:0"), 2.0, 0.1);
}

} // namespace

namespace {

// The kinds of files users bring, made small; each converts to a correct file.
class RealFiles : public Conversion {
protected:
    // Converts `input` with `lines`; returns the termination.
    TTerminateInfo Convert(const std::string& input, const std::string& output,
                           const std::string& lines) {
        RecordingConverter c;
        if (c.Add(input, output, lines) < 0)
            return TTerminateInfo{-2, false, true, c.Converter.LastErrMsg, "", 100};
        if (!c.Run()) return TTerminateInfo{-2, false, true, "no batch end", "", 100};
        return c.TaskEnd(0);
    }
    std::string Make(const std::string& name, const std::string& args) {
        const std::string file = Out.file(name);
        EXPECT_TRUE(testsupport::MakeMedia(file, args)) << name;
        return file;
    }
};

const char* const kMp4 = "vcodec=mpeg4\ns=320x240\nb=768000\nacodec=aac\nab=128000";

// A source cut in the middle (as a file that is truncated while it
// converts) whose index still claims 10 s: the task finishes with what is
// there, and its end report and the log say how far it got. The whole
// file ends as before.
TEST_F(RealFiles, ASourceCutShortEndsEarlyAndSaysHowFar) {
    const std::string whole = Make("whole.mp4", "-f lavfi -i testsrc2=size=160x120:rate=25 -t 10 "
                                                "-c:v mpeg4 -movflags +faststart");
    const std::string cut = Out.file("cut.mp4");
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 2);
    TTerminateInfo end = Convert(whole, Out.file("whole.avi"), "vcodec=mpeg4");
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_EQ(end.EndedEarly, "");
    EXPECT_EQ(end.ReachedPercent, 100);
    end = Convert(cut, Out.file("cut.avi"), "vcodec=mpeg4");
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_NE(end.EndedEarly.find("The source ended at 00:00:0"), std::string::npos)
        << end.EndedEarly;
    EXPECT_GT(end.ReachedPercent, 20);
    EXPECT_LT(end.ReachedPercent, 80);
    EXPECT_TRUE(Log.Contains("the output is shorter than the source"));
}

TEST_F(RealFiles, VariableFrameRatePhoneVideoKeepsSync) {
    const std::string in = Make(
        "vfr.mp4", "-f lavfi -i testsrc2=size=160x120:rate=30 -f lavfi -i sine=sample_rate=48000 "
                   "-t 3 -vf setpts='PTS+if(gt(N\\,40)\\,0.3/TB\\,0)' -c:v libx264 -c:a aac");
    const std::string out = Out.file("vfr-out.avi");
    const TTerminateInfo end = Convert(in, out, kMp4);
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(out, "v:0"), ProbeDuration(out, "a:0"), 0.4);
}

TEST_F(RealFiles, TransportStreamWithATimeStampJumpHasNoGap) {
    const std::string a =
        Make("a.ts", "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                     "sine=sample_rate=48000 -t 2 -c:v mpeg2video -c:a mp2 -f mpegts");
    const std::string b = Make("b.ts", "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                                       "sine=sample_rate=48000 -t 2 -c:v mpeg2video -c:a mp2 "
                                       "-output_ts_offset 30 -f mpegts");
    const std::string joined = Out.file("jump.ts");
    ASSERT_EQ(testsupport::RunCommand("cat " + testsupport::ShellQuote(a) + " " +
                                      testsupport::ShellQuote(b) + " > " +
                                      testsupport::ShellQuote(joined))
                  .exitCode,
              0);
    const std::string out = Out.file("jump.mp4");
    const TTerminateInfo end = Convert(joined, out, kMp4);
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(out, "v:0"), 4.0, 0.2);
    EXPECT_NEAR(ProbeDuration(out, "a:0"), 4.0, 0.2);
}

TEST_F(RealFiles, InterlacedDvMultiTrackTenBitOddSizeAndMultichannel) {
    struct Case {
        const char* Name;
        const char* Args;
        const char* Lines;
        const char* Output;
        int Width, Height;
    };
    const Case cases[] = {
        {"dv.dv",
         "-f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 1 "
         "-target pal-dv",
         kMp4, "dv.mp4", 320, 240},
        {"multi.webm",
         "-f lavfi -i testsrc2=size=160x120:rate=24 -f lavfi -i sine=f=200 -f lavfi -i "
         "sine=f=500:sample_rate=48000 -t 1 -map 0 -map 1 -map 2 -c:v libvpx -c:a libvorbis",
         kMp4, "multi.mp4", 320, 240},
        {"ten.mkv",
         "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine -t 1 -c:v libx264 "
         "-pix_fmt yuv420p10le -c:a ac3 -ac 6",
         "vcodec=libx264\ns=320x240\nacodec=libmp3lame\nac=2", "ten.mp4", 320, 240},
        {"odd.avi",
         "-f lavfi -i testsrc2=size=214x120:rate=25 -t 1 -vf scale=213:119 -c:v ffv1 -pix_fmt "
         "yuv444p",
         "vcodec=mpeg4\nb=500000", "odd-out.avi", 213, 119},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Name);
        const std::string in = Make(k.Name, k.Args);
        const std::string out = Out.file(k.Output);
        const TTerminateInfo end = Convert(in, out, k.Lines);
        ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
        EXPECT_EQ(ProbeValue(out, "stream=width", "v:0"), std::to_string(k.Width));
        EXPECT_EQ(ProbeValue(out, "stream=height", "v:0"), std::to_string(k.Height));
        EXPECT_NEAR(ProbeDuration(out, "v:0"), 1.0, 0.1);
    }
}

TEST_F(RealFiles, AudioOfAllShapes) {
    const std::string mono = Make("mono8k.wav", "-f lavfi -i sine=sample_rate=8000 -t 2 -ac 1");
    const std::string cover =
        Make("cover.mp3", "-f lavfi -i sine -f lavfi -i testsrc2=size=64x64 -t 2 -map 0 -map 1 "
                          "-frames:v 1 -c:v mjpeg -disposition:v attached_pic -c:a libmp3lame");
    const std::string surround = Make("six.ac3", "-f lavfi -i sine -t 2 -ac 6 -c:a ac3");
    for (const std::string& in : {mono, cover, surround}) {
        SCOPED_TRACE(in);
        const std::string out = in + ".mp3";
        const TTerminateInfo end =
            Convert(in, out, "vn=1\nacodec=libmp3lame\nar=44100\nac=2\nab=128000");
        ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
        EXPECT_EQ(ProbeValue(out, "stream=sample_rate", "a:0"), "44100");
        EXPECT_EQ(ProbeValue(out, "stream=channels", "a:0"), "2");
        EXPECT_NEAR(ProbeDuration(out), 2.0, 0.1);
    }
}

const char* const kPalDv =
    "f=dv\nvcodec=dvvideo\ns=720x576\nr=25\npix_fmt=yuv420p\nacodec=pcm_s16le\nar=48000\nac=2";

// An MP3's cover picture, encoded, is an ordinary video stream showing the
// picture for the length of the music (an MP4 takes attached pictures only
// as JPEG or PNG; DV writes sound only beside pictures).
TEST_F(RealFiles, Mp3CoverIntoVideoFormats) {
    const std::string cover =
        Make("cover-v.mp3", "-f lavfi -i sine -f lavfi -i testsrc2=size=64x64 -t 2 -map 0 -map 1 "
                            "-frames:v 1 -c:v mjpeg -disposition:v attached_pic -c:a libmp3lame");
    const std::string mp4 = Out.file("cover.mp4");
    TTerminateInfo end = Convert(cover, mp4, kMp4);
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_EQ(ProbeValue(mp4, "stream=codec_name", "v:0"), "mpeg4");
    EXPECT_EQ(ProbeValue(mp4, "stream_disposition=attached_pic", "v:0"), "0");
    EXPECT_NEAR(ProbeDuration(mp4, "a:0"), 2.0, 0.1);
    EXPECT_NEAR(ProbeDuration(mp4, "v:0"), 2.0, 0.1);
    const std::string dv = Out.file("cover.dv");
    end = Convert(cover, dv, kPalDv);
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(dv, "a:0"), 2.0, 0.1);
    // From a start point on, the picture still covers the rest.
    RecordingConverter trimmed;
    const std::string tail = Out.file("cover-tail.dv");
    ASSERT_EQ(trimmed.Add(cover, tail, kPalDv, false, "ss=1"), 0) << trimmed.Converter.LastErrMsg;
    ASSERT_TRUE(trimmed.Run());
    ASSERT_TRUE(trimmed.TaskEnd(0).Finished) << trimmed.TaskEnd(0).ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(tail, "a:0"), 1.0, 0.1);
    EXPECT_NEAR(ProbeDuration(tail, "v:0"), 1.0, 0.1);
}

// The loudest level of `seconds` of a file's sound from `start`, in dB.
double MaxVolume(const std::string& file, double start, double seconds) {
    const auto r = testsupport::RunCommand(
        "ffmpeg -nostdin -hide_banner -ss " + std::to_string(start) + " -t " +
        std::to_string(seconds) + " -i " + testsupport::ShellQuote(file) +
        " -vn -af volumedetect -f null - 2>&1");
    const std::size_t at = r.output.find("max_volume:");
    return at == std::string::npos ? std::nan("") : std::atof(r.output.c_str() + at + 11);
}

// DV takes no picture whose sound has not come: sound that starts a second
// after the picture is preceded by a second of silence there.
TEST_F(RealFiles, LateSoundIntoDvStartsWithSilence) {
    const std::string in =
        Make("late.mkv", "-f lavfi -i testsrc2=size=160x120:rate=25 -itsoffset 1 "
                         "-f lavfi -i sine=sample_rate=48000 -map 0:v -map 1:a "
                         "-t 3 -c:v mpeg4 -c:a pcm_s16le");
    const std::string out = Out.file("late.dv");
    const TTerminateInfo end = Convert(in, out, kPalDv);
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(out, "a:0"), 3.0, 0.1);
    EXPECT_LT(MaxVolume(out, 0.0, 0.9), -80.0);
    EXPECT_GT(MaxVolume(out, 1.1, 1.0), -40.0);
}

// A second, smaller picture stream (a preview track) changes nothing: the
// output takes the size of the picture it converts.
TEST_F(RealFiles, SecondVideoStreamLeavesTheSizeAlone) {
    const std::string in =
        Make("two-video.mkv", "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
                              "testsrc=size=160x120:rate=25 -t 1 -map 0 -map 1 -c:v mpeg4");
    const std::string out = Out.file("two-video.avi");
    const TTerminateInfo end = Convert(in, out, "vcodec=mpeg4");
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_EQ(ProbeValue(out, "stream=width", "v:0"), "320");
    EXPECT_EQ(ProbeValue(out, "stream=height", "v:0"), "240");
}

// Flash audio carries times rounded to milliseconds; DV needs every video
// frame's share of samples in time, so the samples must follow one another.
TEST_F(RealFiles, FlashVideoWithRoundedAudioTimesIntoDv) {
    const std::string in =
        Make("nelly.flv", "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                          "sine=sample_rate=22050 -t 2 -c:v flv1 -c:a nellymoser");
    const std::string out = Out.file("nelly.dv");
    const TTerminateInfo end = Convert(in, out, kPalDv);
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(out, "a:0"), 2.0, 0.1);
    EXPECT_NEAR(ProbeDuration(out, "v:0"), 2.0, 0.1);
}

TEST_F(RealFiles, NonAsciiNamesOnBothSides) {
    const std::string in = Out.file("vidéo été 東京.avi");
    std::filesystem::copy_file(Media->AudioVideo, in);
    const std::string out = Out.file("résultat 東京.mp4");
    const TTerminateInfo end = Convert(in, out, kMp4);
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(out, "v:0"), 2.0, 0.05);
}

TEST_F(RealFiles, BrokenFilesFailCleanlyAndLeaveTheSourceAlone) {
    // Truncated: what is there converts.
    const std::string truncated = Out.file("truncated.avi");
    std::filesystem::copy_file(Media->AudioVideo, truncated);
    std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) / 2);
    const auto size = std::filesystem::file_size(truncated);
    const std::string out = Out.file("truncated.mp4");
    const TTerminateInfo end = Convert(truncated, out, kMp4);
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_GT(ProbeDuration(out, "v:0"), 0.3);
    EXPECT_EQ(std::filesystem::file_size(truncated), size);
    // Not media at all, empty: the task is not added.
    // Bytes of a fixed seed: fresh random bytes now and then look like a
    // container without streams, which fails with another message.
    const std::string text = Out.file("notes.avi");
    {
        std::mt19937 bytes(20261210);
        std::ofstream file(text, std::ios::binary);
        for (int i = 0; i < 5000; ++i)
            file.put(static_cast<char>(bytes() & 0xFF));
    }
    const std::string empty = Out.file("empty.mp4");
    testsupport::RunCommand(": > " + testsupport::ShellQuote(empty));
    for (const std::string& in : {text, empty}) {
        const TTerminateInfo bad = Convert(in, Out.file("never.mp4"), kMp4);
        EXPECT_TRUE(bad.ExceptionRaised);
        EXPECT_EQ(bad.ExceptionMsg.rfind(in + ": ", 0), 0u) << bad.ExceptionMsg;
        EXPECT_FALSE(std::filesystem::exists(Out.file("never.mp4")));
    }
}

TEST_F(RealFiles, AnEncoderThatRefusesTheParametersFailsTheTaskAndLeavesNoFile) {
    const std::string in = Make("odd2.avi", "-f lavfi -i testsrc2=size=214x120:rate=25 -t 1 "
                                            "-vf scale=213:119 -c:v ffv1 -pix_fmt yuv444p");
    const std::string out = Out.file("odd.mp4");
    const TTerminateInfo end = Convert(in, out, "vcodec=libx264\npix_fmt=yuv420p");
    EXPECT_FALSE(end.Finished);
    EXPECT_TRUE(end.ExceptionRaised);
    EXPECT_NE(end.ExceptionMsg.find("Error while opening encoder for output stream #0.0 (Video)"),
              std::string::npos)
        << end.ExceptionMsg;
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace

namespace {

TEST_F(Conversion, AudioOnlyVideoOnlyAndStreamCopy) {
    RecordingConverter c;
    const std::string mp3 = Out.file("audio.mp3");
    const std::string video = Out.file("video.mp4");
    const std::string copy = Out.file("copy.mkv");
    ASSERT_EQ(c.Add(Media->AudioVideo, mp3, "vn=1\nacodec=libmp3lame\nab=128000"), 0);
    ASSERT_EQ(c.Add(Media->VideoOnly, video, "vcodec=mpeg4\nacodec=aac"), 1);
    ASSERT_EQ(c.Add(Media->AudioVideo, copy, "vcodec=copy\nacodec=copy"), 2);
    ASSERT_TRUE(c.Run());
    for (int task = 0; task < 3; ++task)
        EXPECT_TRUE(c.TaskEnd(task).Finished) << task << c.TaskEnd(task).ExceptionMsg;
    EXPECT_EQ(ProbeValues(mp3, "stream=codec_type"), std::vector<std::string>{"audio"});
    EXPECT_NEAR(ProbeDuration(mp3), 2.0, 0.1);
    EXPECT_EQ(ProbeValues(video, "stream=codec_type"), std::vector<std::string>{"video"});
    EXPECT_EQ(ProbeValue(copy, "stream=codec_name", "v:0"), "mpeg4");
    EXPECT_EQ(ProbeValue(copy, "stream=codec_name", "a:0"), "mp2");
    EXPECT_EQ(CountedVideoPackets(copy), "50\n");
}

TEST_F(Conversion, CopyIsRefusedWhenFramesAreNeeded) {
    {
        RecordingConverter c;
        c.Converter.SetPreviewBitmap(true);
        ASSERT_EQ(c.Add(Media->AudioVideo, Out.file("a.mkv"), "vcodec=copy"), 0);
        ASSERT_TRUE(c.Run());
        EXPECT_EQ(c.TaskEnd(0).ExceptionMsg,
                  "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
    }
    {
        RecordingConverter c;
        ASSERT_EQ(c.Add(Media->AudioVideo, Out.file("b.mkv"), "vn=1\nacodec=copy\nvol=512"), 0);
        ASSERT_TRUE(c.Run());
        EXPECT_EQ(c.TaskEnd(0).ExceptionMsg,
                  "-acodec copy and -vol are incompatible (frames are not decoded)");
    }
}

TEST_F(Conversion, TwoOutputsOfOneTaskAndAJoinOfTwoInputs) {
    RecordingConverter c;
    const std::string first = Out.file("first.avi");
    const std::string second = Out.file("second.mp3");
    ASSERT_EQ(c.Add(Media->AudioVideo, first, "vcodec=mpeg4\nacodec=mp2"), 0);
    TOutputOptions audio;
    audio.ExtOptions = "vn=1\nacodec=libmp3lame";
    ASSERT_TRUE(c.Converter.SetOutputFile(0, second, &audio)) << c.Converter.LastErrMsg;
    const std::string joined = Out.file("joined.avi");
    ASSERT_EQ(c.Converter.AddTask(Media->OneSecond), 1);
    ASSERT_TRUE(c.Converter.AddInput(1, Media->TwoSeconds));
    TOutputOptions join;
    join.Join = true;
    join.ExtOptions = "vcodec=mpeg4\nacodec=mp2";
    ASSERT_TRUE(c.Converter.SetOutputFile(1, joined, &join)) << c.Converter.LastErrMsg;
    EXPECT_NEAR(static_cast<double>(c.Converter.Task(1)->TotalDuration()), 3e6, 1e5);
    ASSERT_TRUE(c.Run());
    EXPECT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
    EXPECT_TRUE(c.TaskEnd(1).Finished) << c.TaskEnd(1).ExceptionMsg;
    EXPECT_NEAR(ProbeDuration(first, "v:0"), 2.0, 0.05);
    EXPECT_NEAR(ProbeDuration(second), 2.0, 0.1);
    EXPECT_EQ(ProbeValue(joined, "stream=nb_frames", "v:0"), "75");
    EXPECT_NEAR(ProbeDuration(joined, "a:0"), 3.0, 0.1);
}

TEST_F(Conversion, TrimStartAndLengthAndFileSizeLimit) {
    RecordingConverter c;
    TInputOptions in;
    in.StartTime = 500000;
    ASSERT_EQ(c.Converter.AddTask(Media->AudioVideo, &in), 0);
    TOutputOptions out;
    out.RecordingTime = 1000000;
    out.ExtOptions = "vcodec=mpeg4\nacodec=mp2";
    const std::string trimmed = Out.file("trimmed.avi");
    ASSERT_TRUE(c.Converter.SetOutputFile(0, trimmed, &out));
    const std::string limited = Out.file("limited.avi");
    ASSERT_EQ(c.Add(Media->AudioVideo, limited, "vcodec=mpeg4\nb=2000000\nacodec=mp2\nfs=60000"),
              1);
    ASSERT_TRUE(c.Run());
    EXPECT_TRUE(c.TaskEnd(0).Finished);
    EXPECT_EQ(ProbeValue(trimmed, "stream=nb_frames", "v:0"), "25");
    EXPECT_NEAR(ProbeDuration(trimmed, "a:0"), 1.0, 0.1);
    EXPECT_TRUE(c.TaskEnd(1).Finished) << c.TaskEnd(1).ExceptionMsg;
    const auto size = std::filesystem::file_size(limited);
    EXPECT_GT(size, 60000u);
    EXPECT_LT(size, 140000u);
    EXPECT_LT(ProbeDuration(limited, "v:0"), 1.9);
}

// A start point past the end gives nothing to write: that is a failure, and
// the empty output is not left behind.
TEST_F(Conversion, StartPastTheEndFailsAndLeavesNoFile) {
    RecordingConverter c;
    TInputOptions in;
    in.StartTime = 10 * 1000000;
    ASSERT_EQ(c.Converter.AddTask(Media->AudioVideo, &in), 0);
    TOutputOptions out;
    out.ExtOptions = "vcodec=mpeg4\nacodec=aac";
    const std::string mp4 = Out.file("nothing.mp4");
    ASSERT_TRUE(c.Converter.SetOutputFile(0, mp4, &out));
    ASSERT_TRUE(c.Run());
    const TTerminateInfo end = c.TaskEnd(0);
    EXPECT_FALSE(end.Finished);
    EXPECT_TRUE(end.ExceptionRaised);
    EXPECT_EQ(end.ExceptionMsg, "Output file is empty, nothing was encoded");
    EXPECT_FALSE(std::filesystem::exists(mp4));
}

// Filters that crop and letterbox by themselves count in the decoded
// picture's pixels also when a target gives the output a size of its own
// (here smaller than the source); a size given with "s" is made first.
TEST_F(RealFiles, TargetSizeComesAfterSelfContainedFilters) {
    const std::string wide = Make("wide.mkv", "-f lavfi -i testsrc2=size=1280x720:rate=25 -f lavfi "
                                              "-i sine=sample_rate=48000 -t 1 -c:v mpeg4 -c:a mp2");
    const std::string dv = Out.file("wide.dv");
    TTerminateInfo end = Convert(
        wide, dv, "target=pal-dv\nvfilters=crop=1260:700:10:10,scale=720:404,pad=720:576:0:86");
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_EQ(ProbeValue(dv, "stream=width", "v:0"), "720");
    EXPECT_EQ(ProbeValue(dv, "stream=height", "v:0"), "576");
    const std::string small = Out.file("small.avi");
    end = Convert(Media->VideoOnly, small, "vcodec=mpeg4\ns=320x240\nvfilters=pad=352:288:16:24");
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_EQ(ProbeValue(small, "stream=width", "v:0"), "352");
    EXPECT_EQ(ProbeValue(small, "stream=height", "v:0"), "288");
}

TEST_F(Conversion, VideoSyncDuplicatesIntoConstantRateFormatsOnly) {
    RecordingConverter c;
    const std::string avi = Out.file("thirty.avi");
    const std::string mkv = Out.file("thirty.mkv");
    ASSERT_EQ(c.Add(Media->VideoOnly, avi, "vcodec=mpeg4\nr=30"), 0);
    ASSERT_EQ(c.Add(Media->VideoOnly, mkv, "vcodec=mpeg4\nr=30"), 1);
    ASSERT_TRUE(c.Run());
    // 25 frames over 0.96 s reach frame 28.8 of the 30 fps output.
    EXPECT_EQ(ProbeValue(avi, "stream=nb_frames", "v:0"), "29");
    EXPECT_EQ(CountedVideoPackets(mkv), "25\n");
}

TEST_F(Conversion, AudioSyncAddsSilenceForALateStart) {
    const std::string late = Out.file("late.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        late, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=sample_rate=44100 -t 2 "
              "-af adelay=500:all=1,asetpts=PTS+0.5/TB -c:v mpeg4 -c:a pcm_s16le -ac 2"));
    RecordingConverter c;
    TInputOptions in;
    const int task = c.Converter.AddTask(late, &in);
    ASSERT_EQ(task, 0) << c.Converter.LastErrMsg;
    c.Converter.Task(0)->SetVerbose(3);
    TOutputOptions out;
    out.AudioSyncMethod = 1;
    out.ExtOptions = "vcodec=mpeg4\nacodec=pcm_s16le\nar=44100\nac=2";
    ASSERT_TRUE(c.Converter.SetOutputFile(0, Out.file("synced.avi"), &out));
    ASSERT_TRUE(c.Run());
    EXPECT_TRUE(c.TaskEnd(0).Finished);
    EXPECT_TRUE(Log.Contains("adding 22050 audio samples of silence") ||
                Log.Contains("adding 22049 audio samples of silence"));
}

// The largest absolute sample of a file's first audio stream, as s16.
int PeakSample(const std::string& file) {
    const auto result = testsupport::RunCommand(
        "ffmpeg -v error -i " + testsupport::ShellQuote(file) +
        " -f s16le -ac 1 - | od -An -td2 -v | tr -s ' ' '\\n' | sed '/^$/d' | "
        "awk '{v=$1<0?-$1:$1; if (v>m) m=v} END {print m+0}'");
    return std::stoi(result.output);
}

TEST_F(Conversion, VolumeScalesAndClipsSamples) {
    const std::string loud = Out.file("loud.wav");
    ASSERT_TRUE(testsupport::MakeMedia(loud, "-f lavfi -i sine=sample_rate=44100:frequency=440 "
                                             "-t 1 -af volume=15dB -ac 1 -c:a pcm_s16le"));
    RecordingConverter c;
    ASSERT_EQ(c.Add(loud, Out.file("same.wav"), "acodec=pcm_s16le\nac=1\nvol=256"), 0);
    ASSERT_EQ(c.Add(loud, Out.file("double.wav"), "acodec=pcm_s16le\nac=1\nvol=512"), 1);
    ASSERT_EQ(c.Add(loud, Out.file("half.wav"), "acodec=pcm_s16le\nac=1\nvol=128"), 2);
    ASSERT_TRUE(c.Run());
    const int peak = PeakSample(loud);
    ASSERT_GT(peak, 16384);
    EXPECT_EQ(PeakSample(Out.file("same.wav")), peak);
    EXPECT_GE(PeakSample(Out.file("double.wav")), 32767); // clipped at full scale
    EXPECT_NEAR(PeakSample(Out.file("half.wav")), peak / 2, 1);
}

} // namespace

namespace {

TEST_F(RealFiles, TextSubtitlesFollowWhereTheFormatTakesThem) {
    const std::string srt = Out.file("s.srt");
    testsupport::RunCommand("printf '1\\n00:00:00,500 --> 00:00:01,500\\nHello\\n' > " +
                            testsupport::ShellQuote(srt));
    const std::string in =
        Make("subs.mkv", "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                         "sine -i " +
                             testsupport::ShellQuote(srt) +
                             " -t 2 -map 0 -map 1 -map 2 -c:v mpeg4 -c:a mp2 -c:s srt");
    const std::string mkv = Out.file("subs-out.mkv");
    const std::string avi = Out.file("subs-out.avi");
    ASSERT_TRUE(Convert(in, mkv, "vcodec=mpeg4\nacodec=mp2").Finished);
    const TTerminateInfo end = Convert(in, avi, "vcodec=mpeg4\nacodec=mp2");
    ASSERT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_EQ(ProbeValue(mkv, "stream=codec_name", "s:0"), "ass");
    const auto text = testsupport::RunCommand("ffmpeg -v error -i " + testsupport::ShellQuote(mkv) +
                                              " -map 0:s -f srt -");
    EXPECT_NE(text.output.find("Hello"), std::string::npos);
    EXPECT_EQ(ProbeValues(avi, "stream=codec_type"), (std::vector<std::string>{"video", "audio"}));
}

} // namespace

namespace {

// The number after `key` in `text`, NaN when it is not there.
double NumberAfter(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    return at == std::string::npos ? std::nan("") : std::atof(text.c_str() + at + key.size());
}

// The encoder's picture error in the final report and the statistics file
// against ffmpeg's own measure of the output against the source.
TEST_F(Conversion, PsnrAndQuantizerHistogramInTheReports) {
    RecordingConverter c;
    const TLogLevel level = GetLogger().GetLogLevel();
    GetLogger().SetLogLevel(llVerbose);
    struct TRestore {
        TLogLevel Level;
        ~TRestore() { GetLogger().SetLogLevel(Level); }
    } restore{level};
    const std::string out = Out.file("psnr.avi");
    const std::string stats = Out.file("psnr-vstats.txt");
    ASSERT_EQ(c.Add(Media->VideoOnly, out,
                    "vcodec=mpeg4\nb=200000\npsnr=1\nqphist=1\nvstats_file=" + stats),
              0)
        << c.Converter.LastErrMsg;
    c.Converter.Task(0)->OnProgressCallback = nullptr; // the report line then goes to the log
    ASSERT_TRUE(c.Run());
    ASSERT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
    const std::string final = Log.Find("fps=");
    const std::size_t last = final.find(" L");
    ASSERT_NE(last, std::string::npos) << final;
    // 32 hexadecimal digits, then the error of each plane.
    const std::string histogram = final.substr(last + 2, 32);
    EXPECT_EQ(histogram.find_first_not_of("0123456789ABCDEF"), std::string::npos) << final;
    const long qp = std::lrint(NumberAfter(final, " q="));
    ASSERT_TRUE(qp >= 0 && qp < 32) << final;
    EXPECT_NE(histogram[static_cast<std::size_t>(qp)], '0') << final; // this report's own
    EXPECT_EQ(final.compare(last + 34, 7, "PSNR=Y:"), 0) << final;
    const auto measured = testsupport::RunCommand(
        "ffmpeg -nostdin -hide_banner -i " + testsupport::ShellQuote(out) + " -i " +
        testsupport::ShellQuote(Media->VideoOnly) + " -lavfi psnr -f null - 2>&1");
    EXPECT_NEAR(NumberAfter(final, "PSNR=Y:"), NumberAfter(measured.output, "PSNR y:"), 0.02)
        << final << "\n"
        << measured.output;
    EXPECT_NEAR(NumberAfter(final, " U:"), NumberAfter(measured.output, " u:"), 0.02);
    EXPECT_NEAR(NumberAfter(final, " *:"), NumberAfter(measured.output, " average:"), 0.02);
    // A picture coded without loss has an infinite ratio.
    EXPECT_EQ(testsupport::RunCommand("grep -cE 'q= .* PSNR= +(inf|[0-9.]+) f_size=' " +
                                      testsupport::ShellQuote(stats))
                  .output,
              "25\n");
}

TEST_F(Conversion, TwoPassEncodingAndTheStatisticsFile) {
    const std::string log = Out.file("pass");
    const std::string stats = Out.file("vstats.txt");
    for (int pass = 1; pass <= 2; ++pass) {
        RecordingConverter c;
        const std::string out = Out.file("pass" + std::to_string(pass) + ".avi");
        ASSERT_EQ(c.Add(Media->VideoOnly, out,
                        "vcodec=mpeg4\nb=300000\npass=" + std::to_string(pass) +
                            "\npasslogfile=" + log + (pass == 2 ? "\nvstats_file=" + stats : "")),
                  0)
            << c.Converter.LastErrMsg;
        ASSERT_TRUE(c.Run());
        ASSERT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
        if (pass == 1) {
            EXPECT_GT(std::filesystem::file_size(log + "-0.log"), 0u);
        }
    }
    const auto lines =
        testsupport::RunCommand("grep -c '^frame=' " + testsupport::ShellQuote(stats));
    EXPECT_EQ(lines.output, "25\n");
    EXPECT_EQ(testsupport::RunCommand("grep -c 'type= I' " + testsupport::ShellQuote(stats))
                  .output.empty(),
              false);
}

} // namespace

namespace {

TEST_F(Conversion, ResampledAudioKeepsItsLastSamples) {
    const std::string clip = Out.file("clip.avi");
    ASSERT_TRUE(testsupport::MakeMedia(
        clip, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
              "sine=sample_rate=44100 -t 1 -ac 2 -c:v mpeg4 -c:a pcm_s16le"));
    RecordingConverter c;
    const std::string wav = Out.file("48k.wav");
    ASSERT_EQ(c.Add(clip, wav, "vn=1\nacodec=pcm_s16le\nar=48000"), 0);
    ASSERT_TRUE(c.Run());
    EXPECT_EQ(ProbeValue(wav, "stream=duration_ts", "a:0"), "48000");
}

} // namespace
