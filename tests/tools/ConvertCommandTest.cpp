// vantrel-convert run as a program. The classic form: every container and
// encoder of the built-in format file opens, errors give the engine's text,
// files convert (alone, joined, through the frame hook) and Ctrl-C stops
// cleanly. The format form: files convert as the window's batch converts
// them, with the destination names, the format's codecs and the row edits.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

class ConvertCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        Input = Dir->file("in ü.avi");
        ASSERT_TRUE(testsupport::MakeOneSecondAvi(Input));
    }
    static void TearDownTestSuite() { delete Dir; }
    testsupport::CommandResult Run(const std::string& args) {
        return testsupport::RunCommand(testsupport::ShellQuote(VANTREL_CONVERT) + " " + args);
    }
    // The format form in a home and settings folder of its own.
    testsupport::CommandResult RunFormat(const testsupport::TempDir& home,
                                         const std::string& args) {
        return testsupport::RunCommand("HOME=" + Q(home.file("home")) +
                                       " XDG_CONFIG_HOME=" + Q(home.file("cfg")) + " " +
                                       Q(VANTREL_CONVERT) + " --format " + args);
    }
    static std::string Q(const std::string& text) { return testsupport::ShellQuote(text); }
    static testsupport::TempDir* Dir;
    static std::string Input;
};
testsupport::TempDir* ConvertCommand::Dir = nullptr;
std::string ConvertCommand::Input;

} // namespace

TEST_F(ConvertCommand, BuiltinFormatsOpenWithTheirEncoders) {
    struct Case {
        const char* Format;
        const char* Ext;
        const char* Video; // empty: audio only
        const char* Audio;
    };
    const Case cases[] = {
        {"ipod", "mp4", "mpeg4", "aac"},
        {"ipod", "mp4", "libx264", "aac"},
        {"asf", "wmv", "wmv2", "wmav2"},
        {"mpeg", "mpg", "mpeg1video", "mp2"},
        {"vob", "mpg", "mpeg2video", "mp2"},
        {"avi", "avi", "mpeg4", "libmp3lame"},
        {"avi", "avi", "libxvid", "libmp3lame"},
        {"dv", "dv", "dvvideo", "pcm_s16le"},
        {"mp3", "mp3", "", "libmp3lame"},
        {"adts", "aac", "", "aac"},
        {"ipod", "m4a", "", "aac"},
        {"asf", "wma", "", "wmav2"},
        {"wav", "wav", "", "pcm_s16le"},
        {"ogg", "ogg", "", "libvorbis"},
        {"ac3", "ac3", "", "ac3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Format) + " " + c.Video + " " + c.Audio);
        const std::string out = Dir->file(std::string("out.") + c.Ext);
        std::string video = *c.Video ? std::string("-vcodec ") + c.Video : "-vn";
        if (std::string(c.Video) == "dvvideo") video += " -s 720x576";
        const auto r = Run("-y -i " + testsupport::ShellQuote(Input) + " -f " + c.Format + " " +
                           video + " -acodec " + c.Audio + " " + testsupport::ShellQuote(out));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        if (*c.Video)
            EXPECT_NE(r.output.find(std::string("Video: ") + c.Video), std::string::npos)
                << r.output;
        else
            EXPECT_EQ(r.output.find("Video: "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(std::string("Audio: ") + c.Audio), std::string::npos) << r.output;
    }
}

TEST_F(ConvertCommand, InputOptionsAndSeveralInputs) {
    const std::string out = Dir->file("j.mkv");
    auto r = Run("-vcodec mpeg4 -i " + testsupport::ShellQuote(Input) + " -i " +
                 testsupport::ShellQuote(Input) +
                 " -join -acodec mp2 -newaudio -acodec ac3 "
                 "-newaudio " +
                 testsupport::ShellQuote(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Stream #0.1: Audio: mp2"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Stream #0.2: Audio: mp2"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Stream #0.3: Audio: ac3"), std::string::npos) << r.output;
}

TEST_F(ConvertCommand, ErrorsGiveTheEngineText) {
    auto r = Run("-i " + testsupport::ShellQuote(Dir->file("none.avi")) + " x.avi");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, Dir->file("none.avi") + ": No such file or directory\n");
    r = Run("-i " + testsupport::ShellQuote(Input) + " -threads two " +
            testsupport::ShellQuote(Dir->file("t.avi")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "Invalid value \"two\" for option \"threads\"\n");
    r = Run("-i " + testsupport::ShellQuote(Input));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "At least one output file must be specified\n");
    r = Run("-i " + testsupport::ShellQuote(Input) + " " +
            testsupport::ShellQuote(Dir->file("a.xyz")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output,
              "Unable to find a suitable output format for '" + Dir->file("a.xyz") + "'\n");
}

namespace {

using testsupport::ProbeValue;
using testsupport::ProbeValues;
using testsupport::ShellQuote;

// The red, green and blue of the pixel at (x, y) (x, y even) of the first frame, as
// decoded by ffmpeg.
std::vector<int> PixelAt(const std::string& file, int x, int y, const testsupport::TempDir& dir) {
    const std::string raw = dir.file("pixel.rgb");
    if (!testsupport::RunFfmpeg("-i " + ShellQuote(file) +
                                " -frames:v 1 -vf format=rgb24,crop=1:1:" + std::to_string(x) +
                                ":" + std::to_string(y) + " -f rawvideo " + ShellQuote(raw)))
        return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<int> rgb;
    for (char c; rgb.size() < 3 && in.get(c);)
        rgb.push_back(static_cast<unsigned char>(c));
    return rgb;
}

// "name=value" lines of --print-options' output section.
std::string PrintedOutputValue(const std::string& printed, const std::string& name) {
    std::istringstream lines(printed.substr(printed.find("[output]")));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
    return {};
}

struct SignalledRun {
    std::string Output;
    int Status = 0;
    bool Signalled = false;
};

// Starts the tool with `args` and the `environment` variables added; its
// output and errors go to a pipe whose reading end `output` receives. -1
// when it cannot be started.
pid_t StartTool(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                int& output) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (child == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        for (const std::string& variable : environment)
            ::putenv(const_cast<char*>(variable.c_str()));
        std::vector<char*> argv{const_cast<char*>(VANTREL_CONVERT)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(VANTREL_CONVERT, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    output = fds[0];
    return child;
}

// Runs the tool with `args` and sends it `signals` (one after the other)
// once it shows its first progress line; waits for it to end.
SignalledRun RunAndSignal(const std::vector<std::string>& args, const std::vector<int>& signals,
                          const std::vector<std::string>& environment = {}) {
    SignalledRun run;
    int output = -1;
    const pid_t child = StartTool(args, environment, output);
    if (child < 0) return run;
    char buffer[512];
    for (ssize_t n; (n = ::read(output, buffer, sizeof buffer)) > 0;) {
        run.Output.append(buffer, static_cast<std::size_t>(n));
        if (!run.Signalled && run.Output.find("frame=") != std::string::npos) {
            for (int signal : signals)
                ::kill(child, signal);
            run.Signalled = true;
        }
    }
    ::close(output);
    ::waitpid(child, &run.Status, 0);
    return run;
}

} // namespace

TEST_F(ConvertCommand, ConvertsWithProgressAndResult) {
    const std::string out = Dir->file("c.mp4");
    const auto r =
        Run("-i " + Q(Input) + " -vcodec mpeg4 -s 96x72 -acodec aac -ar 22050 " + Q(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("frame="), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" bitrate="), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Conversion finished\n"), std::string::npos) << r.output;
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), "mpeg4");
    EXPECT_EQ(ProbeValue(out, "stream=width", "v:0"), "96");
    EXPECT_EQ(ProbeValue(out, "stream=height", "v:0"), "72");
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), "aac");
    EXPECT_EQ(ProbeValue(out, "stream=sample_rate", "a:0"), "22050");
    EXPECT_NEAR(testsupport::DurationSeconds(out), 1.0, 0.1);
}

TEST_F(ConvertCommand, FailuresExitWithTheirMessage) {
    const std::string broken = Dir->file("broken.avi");
    std::ofstream(broken) << "this is not a media file\n";
    auto r = Run("-i " + Q(broken) + " " + Q(Dir->file("b.mp4")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find(broken + ": Invalid data found when processing input"),
              std::string::npos)
        << r.output;
    r = Run("-i " + Q(Input) + " -vcodec nosuchcodec " + Q(Dir->file("u.mp4")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Unknown encoder 'nosuchcodec'"), std::string::npos) << r.output;
    // Accepted by the options, refused by the encoder once the task runs.
    r = Run("-i " + Q(Input) + " -vcodec libx264 -s 97x73 " + Q(Dir->file("odd.mp4")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Conversion failed: Error while opening encoder for output stream"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Conversion finished"), std::string::npos) << r.output;
}

// The libraries' MPEG-4 encoder aborts the whole program when it refuses a
// second pass's rate; the engine refuses it first, as a failed conversion.
TEST_F(ConvertCommand, ASecondPassAtTooLowARateFailsTheTask) {
    const std::string log = Dir->file("passlog");
    auto r = Run("-y -i " + Q(Input) + " -an -vcodec mpeg4 -b 200000 -pass 1 -passlogfile " +
                 Q(log) + " " + Q(Dir->file("pass1.avi")));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string output = Dir->file("pass2.avi");
    r = Run("-y -i " + Q(Input) + " -an -vcodec mpeg4 -b 1000 -pass 2 -passlogfile " + Q(log) +
            " " + Q(output));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Video bit rate 1000 b/s is too low for the second pass"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Conversion finished"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(output));
    r = Run("-y -i " + Q(Input) + " -an -vcodec mpeg4 -b 200000 -pass 2 -passlogfile " + Q(log) +
            " " + Q(output));
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

// A start point given for the input leaves its first seconds out by
// request: the output is as long as the rest and ends as planned.
TEST_F(ConvertCommand, AnInputStartPointIsNoEarlyEnd) {
    const std::string source = Dir->file("six.avi");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=160x120:rate=25 -f "
                                               "lavfi -i sine -t 6 -c:v mpeg4 -c:a mp2"));
    const std::string output = Dir->file("from3.avi");
    const auto r = Run("-y -ss 3 -i " + Q(source) + " " + Q(output));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Conversion finished"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("ended early"), std::string::npos) << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(output), 3.0, 0.2);
}

TEST_F(ConvertCommand, JoinedInputsGiveTheSummedLength) {
    const std::string second = Dir->file("second.avi");
    ASSERT_TRUE(testsupport::MakeMedia(second, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                                               "-i sine=sample_rate=44100 -ac 2 -t 2 -c:v mpeg4 "
                                               "-c:a mp2"));
    const std::string out = Dir->file("joined.avi");
    const auto r =
        Run("-i " + Q(Input) + " -i " + Q(second) + " -join -vcodec mpeg4 -acodec mp2 " + Q(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(out), 3.0, 0.15);
    EXPECT_EQ(ProbeValue(out, "stream=nb_frames", "v:0"), "75");
}

// Also at the right edge of an odd width, where the colour of a pixel pair
// is taken from one pixel only, and on a picture of a single pixel.
TEST_F(ConvertCommand, InvertHookInvertsEveryPixel) {
    struct Case {
        int Width, Height, X, Y;
    };
    for (const Case c : {Case{64, 48, 30, 20}, Case{65, 49, 64, 48}, Case{1, 1, 0, 0}}) {
        const std::string size = std::to_string(c.Width) + ":" + std::to_string(c.Height);
        SCOPED_TRACE(size);
        const std::string plain = Dir->file("plain" + std::to_string(c.Width) + ".avi");
        ASSERT_TRUE(testsupport::MakeMedia(plain, "-f lavfi -i color=c=0x3070C0:size=64x48:rate=25 "
                                                  "-t 0.4 -vf scale=" +
                                                      size + " -pix_fmt yuv420p -c:v ffv1"));
        const std::string out = Dir->file("inverted" + std::to_string(c.Width) + ".mkv");
        const auto r = Run("--invert-hook -i " + Q(plain) + " -vcodec ffv1 " + Q(out));
        ASSERT_EQ(r.exitCode, 0) << r.output;
        ASSERT_EQ(ProbeValue(out, "stream=width", "v:0"), std::to_string(c.Width));
        const std::vector<int> before = PixelAt(plain, c.X, c.Y, *Dir);
        const std::vector<int> after = PixelAt(out, c.X, c.Y, *Dir);
        ASSERT_EQ(before.size(), 3u);
        ASSERT_EQ(after.size(), 3u);
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(after[channel], 255 - before[channel], 8) << "channel " << channel;
    }
}

// A picture of red, green and blue of an odd width keeps the colour of its
// last column (and a single pixel its colour) in an output of fewer colour
// samples than pixels.
TEST_F(ConvertCommand, AnOddWidthKeepsTheColourOfItsLastColumn) {
    for (const char* size : {"65:49", "1:1"}) {
        SCOPED_TRACE(size);
        const std::string source = Dir->file("rgb" + std::string(size).substr(0, 2) + ".mkv");
        ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i color=c=0x3070C0:size=64x48:"
                                                   "rate=25 -t 0.4 -vf scale=" +
                                                       std::string(size) +
                                                       ",format=rgb24 -c:v png"));
        const std::string out = Dir->file("yuv" + std::string(size).substr(0, 2) + ".mkv");
        const auto r = Run("-i " + Q(source) + " -vcodec ffv1 -pix_fmt yuv420p " + Q(out));
        ASSERT_EQ(r.exitCode, 0) << r.output;
        ASSERT_EQ(ProbeValue(out, "stream=pix_fmt", "v:0"), "yuv420p");
        const int last = std::stoi(ProbeValue(source, "stream=width", "v:0")) - 1;
        const std::vector<int> before = PixelAt(source, last, 0, *Dir);
        const std::vector<int> after = PixelAt(out, last, 0, *Dir);
        ASSERT_EQ(before.size(), 3u);
        ASSERT_EQ(after.size(), 3u);
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(after[channel], before[channel], 8) << "channel " << channel;
    }
}

// Ctrl-C while the task converts (the input read at its own rate, so it
// lasts): the task stops, the file is finished and can be read.
TEST_F(ConvertCommand, InterruptStopsAndFinishesTheOutput) {
    const std::string source = Dir->file("ten.avi");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 10 "
                                               "-c:v mpeg4"));
    const std::string out = Dir->file("interrupted.mkv");
    const SignalledRun run = RunAndSignal({"-re", "-i", source, "-vcodec", "mpeg4", out}, {SIGINT});
    const std::string& output = run.Output;
    ASSERT_TRUE(run.Signalled) << output;
    ASSERT_TRUE(WIFEXITED(run.Status)) << output;
    EXPECT_EQ(WEXITSTATUS(run.Status), 1) << output;
    EXPECT_NE(output.find("Conversion stopped\n"), std::string::npos) << output;
    const double seconds = testsupport::DurationSeconds(out);
    EXPECT_GT(seconds, 0.0) << output;
    EXPECT_LT(seconds, 9.0) << output;
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), "mpeg4");
}

// The format form: names from the destination naming in the given folder
// (not stored), the codecs and frame size the builder chose for the format.
TEST_F(ConvertCommand, FormatConvertsEachFileIntoTheOutputFolder) {
    testsupport::TempDir home;
    const std::string second = Dir->file("second ü.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(second, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                                               "-i sine=sample_rate=22050 -t 1 -c:v mpeg4 "
                                               "-c:a aac"));
    const std::string folder = home.file("out dir");
    const auto printed = RunFormat(home, "104 --print-options " + Q(Input));
    ASSERT_EQ(printed.exitCode, 0) << printed.output;
    const std::string size = PrintedOutputValue(printed.output, "s");
    ASSERT_NE(size.find('x'), std::string::npos) << printed.output;

    const auto r = RunFormat(home, "104 --output-dir " + Q(folder) + " " + Q(Input) + " " +
                                       Q(second) + " " + Q(Input));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("3 of 3 files converted"), std::string::npos) << r.output;
    const std::string outputs[] = {folder + "/in ü_(new).avi", folder + "/second ü_(new).avi",
                                   folder + "/in ü_(new_1).avi"};
    for (const std::string& out : outputs) {
        SCOPED_TRACE(out);
        EXPECT_NE(r.output.find(" -> " + out + "\n"), std::string::npos) << r.output;
        EXPECT_EQ(ProbeValue(out, "format=format_name"), "avi");
        EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"),
                  PrintedOutputValue(printed.output, "vcodec"));
        EXPECT_EQ(ProbeValue(out, "stream=width", "v:0") + "x" +
                      ProbeValue(out, "stream=height", "v:0"),
                  size);
        EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), "mp3");
        EXPECT_NEAR(testsupport::DurationSeconds(out), 1.0, 0.15);
    }
    std::ifstream settings(home.file("cfg") + "/vantrel/vantrel.ini");
    const std::string stored(std::istreambuf_iterator<char>(settings), {});
    EXPECT_EQ(stored.find("out dir"), std::string::npos) << stored;
}

// The stored output folder: "OutPutDir" of the settings the run used.
// The stored output folder, else the default one (made on first use).
std::string StoredOutputFolder(const testsupport::TempDir& home) {
    std::ifstream settings(home.file("cfg") + "/vantrel/vantrel.ini");
    for (std::string line; std::getline(settings, line);)
        if (line.rfind("OutPutDir=", 0) == 0) return line.substr(10);
    return home.file("home") + "/Videos/tollivane";
}

TEST_F(ConvertCommand, FormatRunsSeveralTasksAtATime) {
    testsupport::TempDir home;
    const auto r = RunFormat(home, "200 --jobs 2 " + Q(Input) + " " + Q(Input));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("[1/2] Conversion finished"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("[2/2] Conversion finished"), std::string::npos) << r.output;
    const std::string folder = StoredOutputFolder(home);
    ASSERT_FALSE(folder.empty());
    for (const char* name : {"/in ü_(new).mp3", "/in ü_(new_1).mp3"}) {
        const std::string out = folder + name;
        SCOPED_TRACE(out);
        EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), "mp3");
        EXPECT_EQ(ProbeValue(out, "stream=codec_type"), "audio");
        EXPECT_NEAR(testsupport::DurationSeconds(out), 1.0, 0.15);
    }
}

TEST_F(ConvertCommand, FormatGoesOnAfterAFailingFile) {
    testsupport::TempDir home;
    const std::string broken = Dir->file("broken.mp4");
    std::ofstream(broken) << "not media";
    const std::string folder = home.file("o");
    const auto r =
        RunFormat(home, "200 --output-dir " + Q(folder) + " " + Q(Input) + " " + Q(broken) + " " +
                            Q(Dir->file("missing.avi")) + " " + Q(Input));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find(broken + ": Invalid data found when processing input"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find(Dir->file("missing.avi") + ": No such file or directory"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("2 of 4 files converted (2 failed, 0 stopped)"), std::string::npos)
        << r.output;
    EXPECT_NEAR(testsupport::DurationSeconds(folder + "/in ü_(new).mp3"), 1.0, 0.15);
    EXPECT_NEAR(testsupport::DurationSeconds(folder + "/in ü_(new_1).mp3"), 1.0, 0.15);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);

    for (const std::string& bad :
         {std::string("999 "), std::string("200 --jobs 0 "), std::string("200 --sharpen 3 ")}) {
        const auto refused = RunFormat(home, bad + Q(Input));
        EXPECT_EQ(refused.exitCode, 1) << bad;
        EXPECT_EQ(refused.output.find("Conversion"), std::string::npos) << refused.output;
    }
    EXPECT_NE(RunFormat(home, "999 " + Q(Input)).output.find("Unknown format code: 999"),
              std::string::npos);
    EXPECT_NE(RunFormat(home, "200 --jobs 0 " + Q(Input)).output.find("--jobs: 0"),
              std::string::npos);
}

// The format form reads each file twice (the probe, then the conversion): a
// named pipe is refused once probed instead of waiting at its second
// opening. Both programs run under a deadline so that a wait fails the test.
TEST_F(ConvertCommand, FormatRefusesANamedPipe) {
    testsupport::TempDir home;
    const std::string pipe = home.file("pipe.avi");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string folder = home.file("o");
    const auto r = testsupport::RunCommand(
        "(timeout 30 sh -c " + Q("cat " + Q(Input) + " > " + Q(pipe)) +
        " > /dev/null 2>&1 &); HOME=" + Q(home.file("home")) +
        " XDG_CONFIG_HOME=" + Q(home.file("cfg")) + " timeout 30 " + Q(VANTREL_CONVERT) +
        " --format 200 --output-dir " + Q(folder) + " " + Q(pipe) + " " + Q(Input) + " 2>&1");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find(pipe + ": Not a regular file"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 of 2 files converted (1 failed, 0 stopped)"), std::string::npos)
        << r.output;
    EXPECT_EQ(testsupport::FilesIn(folder), std::vector<std::string>{"in ü_(new).mp3"});
}

// DV waits for the sound of each picture. A black picture made to end with
// a sound track that has no packet ends at once: the muxer got a picture
// but wrote no byte, which is a failure, not a finished file that is
// nowhere. (The format form passes such a track over.)
TEST_F(ConvertCommand, AnOutputThatGotNoByteFails) {
    testsupport::TempDir home;
    const std::string source = home.file("silent first.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i sine=duration=1 -f lavfi -i sine=duration=1 -filter_complex "
                "[0]atrim=end_sample=0[a] -map [a] -map 1 -c:a aac"));
    const std::string black = home.file("black.ppm");
    ASSERT_TRUE(testsupport::MakeMedia(black, "-f lavfi -i color=black:s=720x576 -frames:v 1"));
    const std::string folder = home.file("o");
    std::filesystem::create_directories(folder);
    const auto r = Run("-i " + Q(source) + " -loop_input -r 25 -f image2 -i " + Q(black) +
                       " -map 1:0 -map 0:0 -shortest -target pal-dv " + Q(folder + "/out.dv"));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Conversion failed: Output file is empty, nothing was encoded"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(testsupport::FilesIn(folder), std::vector<std::string>{});
}

// Edits reach the frame hook: an opaque image layer over the whole frame is
// what the output shows; a text layer goes through the font machinery.
TEST_F(ConvertCommand, FormatDrawsTheRowEdits) {
    testsupport::TempDir home;
    const std::string layer = home.file("layer.bmp");
    ASSERT_TRUE(testsupport::RunFfmpeg("-f lavfi -i color=c=0xC83228:size=160x120 -frames:v 1 "
                                       "-pix_fmt bgr24 " +
                                       Q(layer)));
    const std::string folder = home.file("o");
    const auto r =
        RunFormat(home, "104 --output-dir " + Q(folder) + " --image " + Q(layer + "@0,0,255") +
                            " --text " + Q("Vantrel@4,4") + " " + Q(Input));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string out = folder + "/in ü_(new).avi";
    const int width = std::atoi(ProbeValue(out, "stream=width", "v:0").c_str());
    const int height = std::atoi(ProbeValue(out, "stream=height", "v:0").c_str());
    const std::vector<int> centre = PixelAt(out, width / 2, height * 3 / 4, home);
    ASSERT_EQ(centre.size(), 3u) << r.output;
    EXPECT_NEAR(centre[0], 200, 12);
    EXPECT_NEAR(centre[1], 50, 12);
    EXPECT_NEAR(centre[2], 40, 12);
}

// A PNG logo with a transparent hole over a green picture: the converted
// frame shows the green through the hole, the logo's blue around it, and
// both half and half where the logo is half transparent.
TEST_F(ConvertCommand, PngLogoShowsThePictureThroughItsHole) {
    testsupport::TempDir home;
    const std::string green = home.file("green.avi");
    ASSERT_TRUE(testsupport::MakeMedia(
        green, "-f lavfi -i color=c=0x20C040:size=160x120:rate=25:duration=1 -c:v mpeg4 -q:v 2"));
    // Opaque blue; a clear hole in the middle; a half clear band at the bottom.
    const std::string logo = home.file("logo.png");
    ASSERT_TRUE(testsupport::RunFfmpeg(
        "-f lavfi -i color=c=0x2040E0:size=160x120 -frames:v 1 -vf "
        "\"format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':"
        "a='if(between(X,40,119)*between(Y,30,69),0,if(gte(Y,90),128,255))'\" " +
        Q(logo)));
    const std::string folder = home.file("o");
    const auto r = RunFormat(home, "104 --output-dir " + Q(folder) + " --image " +
                                       Q(logo + "@0,0,255") + " " + Q(green));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string out = folder + "/green_(new).avi";
    const int width = std::atoi(ProbeValue(out, "stream=width", "v:0").c_str());
    const int height = std::atoi(ProbeValue(out, "stream=height", "v:0").c_str());
    ASSERT_GT(width, 0);
    // Places in the source's proportions (the output may be scaled).
    const auto at = [&](int x, int y) {
        return PixelAt(out, x * width / 160, y * height / 120, home);
    };
    const std::vector<int> hole = at(80, 50);
    const std::vector<int> solid = at(20, 15);
    const std::vector<int> half = at(80, 105);
    ASSERT_EQ(hole.size(), 3u);
    ASSERT_EQ(solid.size(), 3u);
    ASSERT_EQ(half.size(), 3u);
    EXPECT_NEAR(hole[0], 0x20, 14);
    EXPECT_NEAR(hole[1], 0xC0, 14);
    EXPECT_NEAR(hole[2], 0x40, 14);
    EXPECT_NEAR(solid[0], 0x20, 14);
    EXPECT_NEAR(solid[1], 0x40, 14);
    EXPECT_NEAR(solid[2], 0xE0, 14);
    EXPECT_NEAR(half[1], (0xC0 + 0x40) / 2, 16);
    EXPECT_NEAR(half[2], (0x40 + 0xE0) / 2, 16);
}

// ---- what the tool does with the user's files ----

namespace {

// Names in `dir` other than `keep`.
std::vector<std::string> OtherNames(const std::string& dir, const std::vector<std::string>& keep) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(keep.begin(), keep.end(), name) == keep.end()) names.push_back(name);
    }
    return names;
}

} // namespace

// By its own name, "./", a hard link, a symbolic link and as a join
// target: the source is never opened for writing, and both are named.
TEST_F(ConvertCommand, AnOutputThatIsAnInputIsRefused) {
    testsupport::TempDir dir;
    const std::string source = dir.file("source.avi");
    std::filesystem::copy_file(Input, source);
    const std::string original = testsupport::ReadFileText(source);
    std::filesystem::create_hard_link(source, dir.file("hard.avi"));
    std::filesystem::create_symlink(source, dir.file("link.avi"));
    for (const std::string& name :
         {source, dir.file("./source.avi"), dir.file("hard.avi"), dir.file("link.avi")}) {
        const auto r = Run("-y -i " + Q(source) + " -vcodec mpeg4 " + Q(name));
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_EQ(r.output,
                  "Output file '" + name + "' is the same file as input file '" + source + "'\n");
    }
    const auto joined =
        Run("-i " + Q(Input) + " -i " + Q(source) + " -join -vcodec mpeg4 " + Q(source));
    EXPECT_EQ(joined.exitCode, 1) << joined.output;
    EXPECT_NE(joined.output.find("is the same file as input file '" + source + "'"),
              std::string::npos)
        << joined.output;
    EXPECT_EQ(testsupport::ReadFileText(source), original);
    EXPECT_EQ(OtherNames(dir.path().string(), {"source.avi", "hard.avi", "link.avi"}),
              std::vector<std::string>{});
}

// Names of protocols that read other names read the files named inside
// them: an output that is one of those files is refused the same way, and
// the source keeps its bytes.
TEST_F(ConvertCommand, AnOutputNamedInsideAnInputsProtocolIsRefused) {
    testsupport::TempDir dir;
    const std::string source = dir.file("source.avi");
    std::filesystem::copy_file(Input, source);
    const std::string original = testsupport::ReadFileText(source);
    const std::string list = dir.file("list.txt");
    std::ofstream(list) << source << "\n";
    const std::string inputs[] = {
        "concat:" + source,
        "concat:" + Input + "|" + source,
        "cache:" + source,
        "async:" + source,
        "async:cache:file:" + source,
        "subfile,,start,0,end,0,,:" + source,
        "subfile,|start|0|end|0||:" + source,
        "concatf:" + list,
        "file:" + source,
        "unicode:utf8:" + source,
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        for (const std::string& output : {source, "file:" + source}) {
            const auto r = Run("-y -i " + Q(input) + " -vcodec mpeg4 " + Q(output));
            EXPECT_EQ(r.exitCode, 1) << r.output;
            EXPECT_NE(
                r.output.find("Output file '" + output + "' is the same file as input file '"),
                std::string::npos)
                << r.output;
            EXPECT_EQ(r.output.find("Conversion finished"), std::string::npos) << r.output;
        }
        EXPECT_EQ(testsupport::ReadFileText(source), original);
    }
    EXPECT_EQ(OtherNames(dir.path().string(), {"source.avi", "list.txt"}),
              std::vector<std::string>{});
    // Another file read through the same protocols is still converted.
    const auto r = Run("-y -i " + Q("cache:" + Input) + " -vcodec mpeg4 " + Q(source));
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

// An existing file is refused without -y; with -y a conversion that fails
// leaves it as it was and one that finishes replaces it.
TEST_F(ConvertCommand, AnExistingOutputNeedsYesAndSurvivesFailures) {
    testsupport::TempDir dir;
    const std::string target = dir.file("existing.mp4");
    std::ofstream(target) << "the user's file";
    auto r = Run("-i " + Q(Input) + " -vcodec mpeg4 " + Q(target));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "File '" + target + "' already exists. Use -y to overwrite.\n");
    for (const std::string& failing : {std::string("-ss 99999"), std::string("-map 0:7"),
                                       std::string("-s 99999x99999"), std::string("-vn -an")}) {
        r = Run("-y -i " + Q(Input) + " " + failing + " " + Q(target));
        EXPECT_EQ(r.exitCode, 1) << failing << "\n" << r.output;
        EXPECT_EQ(r.output.find("Conversion finished"), std::string::npos) << r.output;
        EXPECT_EQ(testsupport::ReadFileText(target), "the user's file") << failing;
    }
    r = Run("-y -i " + Q(Input) + " -vcodec mpeg4 -acodec aac " + Q(target));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ProbeValue(target, "stream=codec_name", "v:0"), "mpeg4");
    EXPECT_EQ(OtherNames(dir.path().string(), {"existing.mp4"}), std::vector<std::string>{});
}

// A switch stands alone: the option after it is still read as an option,
// so "-y" after any of them still allows replacing the file.
TEST_F(ConvertCommand, ASwitchLeavesTheNextOptionAlone) {
    testsupport::TempDir dir;
    const std::string target = dir.file("existing.mkv");
    for (const char* flag : {"-keep_hdr", "-copy_all_streams", "-copyts", "-xerror", "-shortest",
                             "-sn", "-deinterlace", "-benchmark"}) {
        std::ofstream(target) << "the user's file";
        const auto r = Run("-i " + Q(Input) + " " + flag + " -y -vcodec mpeg4 " + Q(target));
        EXPECT_EQ(r.exitCode, 0) << flag << "\n" << r.output;
        EXPECT_EQ(ProbeValue(target, "stream=codec_name", "v:0"), "mpeg4") << flag;
    }
}

// x265 prints its own lines past the log: its information lines follow the
// log level as the other codecs' do (shown with verbose logging only), and
// a level in the options' x265-params stays.
TEST_F(ConvertCommand, X265LinesFollowTheLogLevel) {
    testsupport::TempDir dir;
    const std::string out = dir.file("hevc.mkv");
    const std::string convert = "-y -i " + Q(Input) + " -an -vcodec libx265 ";
    auto r = Run(convert + Q(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("x265 [info]"), std::string::npos) << r.output;
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), "hevc");
    r = Run("-loglevel verbose " + convert + Q(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("x265 [info]: HEVC encoder version"), std::string::npos) << r.output;
    r = Run(convert + "-x265-params log-level=info:keyint=5 " + Q(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("x265 [info]: HEVC encoder version"), std::string::npos) << r.output;
}

TEST_F(ConvertCommand, UnknownOptionsAndBadValuesFail) {
    testsupport::TempDir dir;
    const std::string out = dir.file("o.mp4");
    struct Case {
        const char* Args;
        const char* Message;
    };
    const Case cases[] = {
        {"-bogus 1", "Unrecognized option 'bogus'."},
        {"-b -1", "Invalid value \"-1\" for option \"b\""},
        {"-b 1e99", "Invalid value \"1e99\" for option \"b\""},
        {"-s 99999x99999", "Frame size 99999x99999 is too large"},
        {"-g x", "Invalid value \"x\" for option \"g\""},
        {"-vcodec libx264 -crf abc", "Invalid value \"abc\" for option \"crf\""},
    };
    for (const Case& c : cases) {
        const auto r = Run("-i " + Q(Input) + " " + c.Args + " " + Q(out));
        EXPECT_EQ(r.exitCode, 1) << c.Args;
        const std::size_t at = r.output.find(c.Message);
        EXPECT_NE(at, std::string::npos) << r.output;
        // Said once (the libraries' own reasons may come before it).
        EXPECT_EQ(r.output.find(c.Message, at + 1), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Invalid value", r.output.find("Invalid value") + 1),
                  std::string::npos)
            << r.output;
        EXPECT_EQ(r.output.find("Conversion"), std::string::npos) << r.output;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.Args;
    }
    const auto r = Run("-i " + Q(Input) + " -threads 2 -vcodec mpeg4 -acodec aac " + Q(out));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("TODO"), std::string::npos) << r.output;
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), "mpeg4");
}

// "-" is standard output; the stream list then goes to stderr.
TEST_F(ConvertCommand, DashWritesToStandardOutput) {
    testsupport::TempDir dir;
    const std::string piped = dir.file("piped.mkv");
    const auto r = testsupport::RunCommand(
        "(cd " + Q(dir.path().string()) + " && " + Q(VANTREL_CONVERT) + " -i " + Q(Input) +
        " -f matroska -vcodec mpeg4 -acodec mp2 - >" + Q(piped) + " 2>/dev/null)");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("-")));
    EXPECT_EQ(ProbeValue(piped, "stream=codec_name", "v:0"), "mpeg4");
    EXPECT_EQ(ProbeValue(piped, "stream=codec_name", "a:0"), "mp2");
}

// Writes that fail for lack of room (a small tmpfs where mounting is
// allowed; a file-size limit everywhere) fail the conversion with the
// system's text and leave the target and the folder as they were.
TEST_F(ConvertCommand, AFullDiskFailsAndLeavesNothing) {
    testsupport::TempDir dir;
    const std::string limited = dir.file("limited");
    std::filesystem::create_directory(limited);
    const std::string target = limited + "/existing.mkv";
    std::ofstream(target) << "the user's file";
    const auto r =
        testsupport::RunCommand("trap '' XFSZ; ulimit -f 100; " + Q(VANTREL_CONVERT) + " -y -i " +
                                Q(Input) + " -vcodec ffv1 -acodec pcm_s16le " + Q(target));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("File too large"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Conversion finished"), std::string::npos) << r.output;
    EXPECT_EQ(testsupport::ReadFileText(target), "the user's file");
    EXPECT_EQ(OtherNames(limited, {"existing.mkv"}), std::vector<std::string>{});

    const std::string small = dir.file("small");
    std::filesystem::create_directory(small);
    if (testsupport::RunCommand("mount -t tmpfs -o size=64k tmpfs " + Q(small)).exitCode != 0)
        GTEST_SKIP() << "no tmpfs mount here";
    const auto full =
        Run("-i " + Q(Input) + " -vcodec ffv1 -acodec pcm_s16le " + Q(small + "/new.mkv"));
    const std::vector<std::string> left = OtherNames(small, {});
    testsupport::RunCommand("umount " + Q(small));
    EXPECT_EQ(full.exitCode, 1) << full.output;
    EXPECT_NE(full.output.find("No space left on device"), std::string::npos) << full.output;
    EXPECT_EQ(left, std::vector<std::string>{});
}

// SIGTERM and SIGHUP stop the conversion as Ctrl-C does: the file is
// finished and plays. A second signal (of another kind here, as two of one
// kind sent together arrive as one) ends the tool at once.
TEST_F(ConvertCommand, StopSignalsFinishTheOutput) {
    const std::string source = Dir->file("long.avi");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 10 "
                                               "-c:v mpeg4"));
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const std::string out = Dir->file("signalled" + std::to_string(signal) + ".mkv");
        const SignalledRun run =
            RunAndSignal({"-re", "-i", source, "-vcodec", "mpeg4", out}, {signal});
        ASSERT_TRUE(run.Signalled) << run.Output;
        ASSERT_TRUE(WIFEXITED(run.Status)) << run.Output;
        EXPECT_EQ(WEXITSTATUS(run.Status), 1) << run.Output;
        EXPECT_NE(run.Output.find("Conversion stopped\n"), std::string::npos) << run.Output;
        const double seconds = testsupport::DurationSeconds(out);
        EXPECT_GT(seconds, 0.0) << run.Output;
        EXPECT_LT(seconds, 9.0) << run.Output;
    }
    const SignalledRun twice = RunAndSignal(
        {"-re", "-i", source, "-vcodec", "mpeg4", Dir->file("twice.mkv")}, {SIGTERM, SIGHUP});
    ASSERT_TRUE(twice.Signalled) << twice.Output;
    ASSERT_TRUE(WIFSIGNALED(twice.Status)) << twice.Output;
    EXPECT_TRUE(WTERMSIG(twice.Status) == SIGTERM || WTERMSIG(twice.Status) == SIGHUP);
}

// The format form stopped by SIGTERM removes the scratch folder of its run
// and keeps the stopped file.
TEST_F(ConvertCommand, FormatStoppedBySigtermRemovesItsScratchFolder) {
    testsupport::TempDir home;
    const std::string source = home.file("long.avi");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=320x240:rate=25 -t 60 "
                                               "-c:v mpeg4 -q:v 2"));
    const std::string scratch = home.file("tmp");
    std::filesystem::create_directory(scratch);
    const std::string folder = home.file("o");
    const SignalledRun run = RunAndSignal(
        {"--format", "104", "--output-dir", folder, source}, {SIGTERM},
        {"HOME=" + home.file("home"), "XDG_CONFIG_HOME=" + home.file("cfg"), "TMPDIR=" + scratch});
    ASSERT_TRUE(run.Signalled) << run.Output;
    ASSERT_TRUE(WIFEXITED(run.Status)) << run.Output;
    EXPECT_EQ(WEXITSTATUS(run.Status), 1) << run.Output;
    EXPECT_NE(run.Output.find("(0 failed, 1 stopped)"), std::string::npos) << run.Output;
    EXPECT_EQ(OtherNames(scratch, {}), std::vector<std::string>{});
    EXPECT_GT(testsupport::DurationSeconds(folder + "/long_(new).avi"), 0.0) << run.Output;
}

// Runs the tool with `args` and sends it `signal` once `ready(pid)` answers
// true (asked again and again for up to a minute). The run fails (status
// -1) when the tool has not ended within a minute.
SignalledRun SignalWhenReady(const std::vector<std::string>& args,
                             const std::function<bool(pid_t)>& ready, int signal,
                             const std::vector<std::string>& environment) {
    SignalledRun run;
    run.Status = -1;
    int output = -1;
    const pid_t child = StartTool(args, environment, output);
    if (child < 0) return run;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool isReady = false;
    while (std::chrono::steady_clock::now() < until && !(isReady = ready(child)))
        ::usleep(1000);
    if (isReady) run.Signalled = ::kill(child, signal) == 0;
    char buffer[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd ready{output, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            run.Output += "\n(the tool did not end in time)";
            run.Status = -1;
            break;
        }
        const ssize_t n = ::read(output, buffer, sizeof buffer);
        if (n <= 0) {
            ::waitpid(child, &run.Status, 0);
            break;
        }
        run.Output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(output);
    return run;
}

// Runs the tool with `args` while it reads `fifo` as a source: once the tool
// has the pipe open (the test's writer can then open it too, and sends
// nothing, so the set-up waits for data) it gets `signal`.
SignalledRun SignalWhileReadingPipe(const std::vector<std::string>& args, const std::string& fifo,
                                    int signal, const std::vector<std::string>& environment) {
    int writer = -1;
    const SignalledRun run = SignalWhenReady(
        args,
        [&](pid_t) {
            writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            return writer >= 0 || errno != ENXIO; // ENXIO: the tool has not opened its end yet
        },
        signal, environment);
    if (writer >= 0) ::close(writer);
    return run;
}

// A stop signal while the format form still sets up (here it waits for a
// source that sends nothing): the output of the file set up before, its
// temporary file and the run's scratch folder all go, nothing converts.
TEST_F(ConvertCommand, AStopSignalDuringTheSetUpLeavesNothing) {
    testsupport::TempDir home;
    const std::string fifo = home.file("silent.avi");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string scratch = home.file("tmp");
    std::filesystem::create_directory(scratch);
    const std::string folder = home.file("o");
    std::filesystem::create_directory(folder);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        const SignalledRun run = SignalWhileReadingPipe(
            {"--format", "104", "--output-dir", folder, Input, fifo}, fifo, signal,
            {"HOME=" + home.file("home"), "XDG_CONFIG_HOME=" + home.file("cfg"),
             "TMPDIR=" + scratch});
        ASSERT_TRUE(run.Signalled) << run.Output;
        ASSERT_TRUE(WIFEXITED(run.Status)) << run.Output;
        EXPECT_EQ(WEXITSTATUS(run.Status), 128 + signal) << run.Output;
        EXPECT_EQ(run.Output, "Stopped by signal " + std::to_string(signal) +
                                  " before converting: nothing was written\n");
        EXPECT_EQ(run.Output.find("Conversion"), std::string::npos) << run.Output;
        EXPECT_EQ(OtherNames(folder, {}), std::vector<std::string>{});
        EXPECT_EQ(OtherNames(scratch, {}), std::vector<std::string>{});
    }
    // The classic form: the source that sends nothing comes after a first
    // input; nothing is made.
    const SignalledRun classic = SignalWhileReadingPipe(
        {"-i", Input, "-i", fifo, "-vcodec", "mpeg4", folder + "/x.mkv"}, fifo, SIGTERM, {});
    ASSERT_TRUE(classic.Signalled) << classic.Output;
    ASSERT_TRUE(WIFEXITED(classic.Status)) << classic.Output;
    EXPECT_EQ(WEXITSTATUS(classic.Status), 128 + SIGTERM) << classic.Output;
    EXPECT_EQ(classic.Output, "Stopped by signal 15 before converting: nothing was written\n");
    EXPECT_EQ(OtherNames(folder, {}), std::vector<std::string>{});
}

// A named pipe as the output that no one reads: the tool waits for a
// reader until a stop signal comes, then ends without converting and makes
// no file; the pipe stays as it was.
TEST_F(ConvertCommand, AStopSignalEndsTheWaitForAnOutputPipesReader) {
    testsupport::TempDir home;
    const std::string fifo = home.file("unread.mkv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const SignalledRun run = SignalWhenReady(
            {"-i", Input, "-vcodec", "mpeg4", "-y", fifo},
            [](pid_t pid) { return testsupport::WaitsToOpen(pid, pid); }, signal, {});
        ASSERT_TRUE(run.Signalled) << run.Output;
        ASSERT_TRUE(WIFEXITED(run.Status)) << run.Output;
        EXPECT_EQ(WEXITSTATUS(run.Status), 128 + signal) << run.Output;
        EXPECT_EQ(run.Output, "Stopped by signal " + std::to_string(signal) +
                                  " before converting: nothing was written\n");
        EXPECT_EQ(OtherNames(home.path().string(), {"unread.mkv"}), std::vector<std::string>{});
        struct stat status {};
        ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
        EXPECT_TRUE(S_ISFIFO(status.st_mode));
    }
}

// Problems with the run's own files are found before anything converts.
TEST_F(ConvertCommand, FormatChecksTheOutputFolderAndLayerPicturesFirst) {
    testsupport::TempDir home;
    const std::string file = home.file("a-file");
    std::ofstream(file) << "x";
    auto r = RunFormat(home, "200 --output-dir " + Q(file) + " " + Q(Input));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find(file + ": Not a directory"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Conversion"), std::string::npos) << r.output;

    const std::string folder = home.file("o");
    const std::string missing = home.file("missing.bmp");
    r = RunFormat(home, "104 --output-dir " + Q(folder) + " --image " + Q(missing + "@0,0") + " " +
                            Q(Input));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_EQ(r.output, "--image: " + missing + ": No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(folder + "/in ü_(new).avi"));
}

// Muxer and encoder options of a format and an encoder guessed from the
// output's name take effect: the MP4 index comes first, libx264 gets crf 30.
TEST_F(ConvertCommand, GuessedFormatAndEncoderTakeTheirOwnOptions) {
    const std::string out = Dir->file("guessed.mp4");
    const auto r = Run("-i " + Q(Input) + " -movflags +faststart -crf 30 " + Q(out));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::ifstream in(out, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::size_t moov = bytes.find("moov"), mdat = bytes.find("mdat");
    ASSERT_NE(moov, std::string::npos);
    EXPECT_LT(moov, mdat);
    if (ProbeValue(out, "stream=codec_name", "v:0") == "h264") {
        EXPECT_NE(bytes.find("crf=30.0"), std::string::npos);
    }
}

TEST_F(ConvertCommand, VhookRunsTheExampleModuleOrRefusesTheConversion) {
    const std::string out = Dir->file("hooked.avi");
    const std::string value = std::string(INVERT_HOOK) + " 0 0 16 16";
    auto r = Run("-i " + Q(Input) + " -an -vcodec mpeg4 -vhook " + Q(value) + " " + Q(out));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Conversion finished"), std::string::npos) << r.output;
    EXPECT_EQ(testsupport::ProbeValue(out, "stream=nb_frames", "v:0"), "25");

    const std::string refused = Dir->file("refused.avi");
    const std::string missing = Dir->file("no module.so") + "|1";
    r = Run("-i " + Q(Input) + " -vhook " + Q(missing) + " " + Q(refused));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("Failed to add video hook function: " + missing), std::string::npos)
        << r.output;
    EXPECT_FALSE(std::filesystem::exists(refused));
}

// A value stays one value whatever it holds: a line break or the text
// "<CRLF>" in it never starts an option of its own (here one that would
// load and run a module). The module is loaded when asked for plainly.
TEST_F(ConvertCommand, LineBreaksInAValueStartNoOptions) {
    testsupport::TempDir dir;
    const std::string marker = dir.file("module loaded");
    const std::string hook = HOOK_MARKER;
    auto run = [&](const std::string& args) {
        return testsupport::RunCommand("VANTREL_MARKER_HOOK_FILE=" + Q(marker) + " " +
                                       Q(VANTREL_CONVERT) + " " + args);
    };
    const std::string out = dir.file("out.mkv");
    for (const std::string lineBreak : {"<CRLF>", "\n", "\r\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(lineBreak));
        const std::string title = "Holiday" + lineBreak + "vhook=" + hook;
        auto r = run("-y -i " + Q(Input) + " -an -vcodec mpeg4 -metadata " + Q("title=" + title) +
                     " " + Q(out));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_FALSE(std::filesystem::exists(marker));
        const std::vector<std::string> stored = ProbeValues(out, "format_tags=title");
        if (lineBreak == "<CRLF>" || lineBreak == "\r")
            EXPECT_EQ(stored, std::vector<std::string>{title});
        else
            EXPECT_EQ(stored, (std::vector<std::string>{"Holiday", "vhook=" + hook}));
        const std::string start = "-ss " + Q("0" + lineBreak + "vhook=" + hook);
        for (const std::string& side :
             {start + " -i " + Q(Input), "-i " + Q(Input) + " " + start}) {
            r = run("-y " + side + " -an -vcodec mpeg4 " + Q(out));
            EXPECT_EQ(r.exitCode, 1) << r.output;
            EXPECT_NE(r.output.find("Invalid duration specification for ss"), std::string::npos)
                << r.output;
        }
        EXPECT_FALSE(std::filesystem::exists(marker));
    }
    const auto r = run("-y -i " + Q(Input) + " -an -vcodec mpeg4 -vhook " + Q(hook) + " " + Q(out));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(std::filesystem::exists(marker));
}

// ---- Sources that run away or end early ----

namespace {

// Flips `mask` in byte `byte` (0 the highest, 2 the lowest) of the 24-bit
// time stamp of the first video tag at or after `fromMs` of an FLV file, as
// one damaged bit would; false when there is no such tag.
bool DamageFlvTimeStamp(const std::string& file, unsigned fromMs, int byte, unsigned char mask) {
    std::string data = testsupport::ReadFileText(file);
    std::size_t pos = 9 + 4; // the file header, then the size of the tag before the first
    while (pos + 11 <= data.size()) {
        const auto at = [&](std::size_t i) {
            return unsigned(static_cast<unsigned char>(data[pos + i]));
        };
        const std::size_t size = at(1) << 16 | at(2) << 8 | at(3);
        const unsigned time = at(7) << 24 | at(4) << 16 | at(5) << 8 | at(6);
        if (at(0) == 9 && time >= fromMs) {
            data[pos + 4 + byte] = static_cast<char>(at(4 + byte) ^ mask);
            std::ofstream(file, std::ios::binary | std::ios::trunc) << data;
            return true;
        }
        pos += 11 + size + 4;
    }
    return false;
}

} // namespace

// One flipped bit makes a time stamp jump by 70 minutes, or by 8 s: the
// first is taken as a discontinuity, the second would be filled with
// copies of a picture, which never carry the output past the source's end.
TEST_F(ConvertCommand, TimeStampsThatJumpMakeNoRunawayOutput) {
    testsupport::TempDir dir;
    const std::string clean = dir.file("clean.flv");
    ASSERT_TRUE(testsupport::MakeMedia(
        clean, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=sample_rate=44100 "
               "-t 3 -c:v flv1 -c:a adpcm_swf"));
    const double length = testsupport::DurationSeconds(clean);
    struct Case {
        int Byte;
        unsigned char Mask;
        const char* Note; // a line the run shows, or nullptr
    };
    for (const Case& c : {Case{0, 0x40, "taken as a discontinuity"},
                          Case{1, 0x20, "pictures are not repeated beyond it"}}) {
        SCOPED_TRACE(c.Byte);
        const std::string source = dir.file("damaged.flv");
        std::filesystem::copy_file(clean, source,
                                   std::filesystem::copy_options::overwrite_existing);
        ASSERT_TRUE(DamageFlvTimeStamp(source, 1500, c.Byte, c.Mask));
        const std::string out = dir.file("out" + std::to_string(c.Byte) + ".avi");
        const auto r = testsupport::RunCommand("timeout 120 " + Q(VANTREL_CONVERT) + " -i " +
                                               Q(source) + " -vcodec mpeg4 -acodec mp2 " + Q(out));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_NE(r.output.find(c.Note), std::string::npos) << r.output;
        const double seconds = testsupport::DurationSeconds(out);
        EXPECT_GT(seconds, length - 0.5) << r.output;
        EXPECT_LT(seconds, length + 1.5) << r.output;
        EXPECT_LT(std::filesystem::file_size(out), 2'000'000u);
    }
}

namespace {

// Cuts a file to `share` of its bytes.
void Truncate(const std::string& file, double share) {
    const auto size = std::filesystem::file_size(file);
    std::filesystem::resize_file(file,
                                 static_cast<std::uintmax_t>(static_cast<double>(size) * share));
}

} // namespace

// A source cut in the middle whose index still claims the whole length (an
// mp4 with its index in front, as a file truncated while it converts)
// converts what is there and says that it ended early, in the classic form
// and the format form with its JSON lines; the whole source finishes as
// before.
TEST_F(ConvertCommand, ASourceThatEndsEarlySaysSo) {
    testsupport::TempDir home;
    const std::string mp4 = home.file("cut.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(mp4, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 10 "
                                            "-c:v mpeg4 -movflags +faststart"));
    const auto whole = Run("-i " + Q(mp4) + " -vcodec mpeg4 " + Q(home.file("whole.avi")));
    EXPECT_EQ(whole.exitCode, 0) << whole.output;
    EXPECT_NE(whole.output.find("Conversion finished\n"), std::string::npos) << whole.output;
    Truncate(mp4, 0.5);

    const std::string out = home.file("short.avi");
    const auto classic = Run("-i " + Q(mp4) + " -vcodec mpeg4 " + Q(out));
    EXPECT_EQ(classic.exitCode, 1) << classic.output;
    EXPECT_NE(classic.output.find("Conversion ended early: The source ended at 00:00:0"),
              std::string::npos)
        << classic.output;
    EXPECT_NE(classic.output.find("of its 00:00:10.000"), std::string::npos) << classic.output;
    const double seconds = testsupport::DurationSeconds(out);
    EXPECT_GT(seconds, 2.0);
    EXPECT_LT(seconds, 8.0);

    const std::string folder = home.file("o");
    const auto format = RunFormat(home, "104 --json --output-dir " + Q(folder) + " " + Q(mp4));
    EXPECT_EQ(format.exitCode, 1) << format.output;
    EXPECT_NE(format.output.find("\"state\":\"incomplete\",\"percent\":"), std::string::npos)
        << format.output;
    EXPECT_EQ(format.output.find("\"percent\":100"), std::string::npos) << format.output;
    EXPECT_NE(format.output.find("(0 failed, 0 stopped, 1 ended early)"), std::string::npos)
        << format.output;
}

// ---- Leftovers of a killed conversion ----

namespace {

std::string ThisHost() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

// The pid of a process that has ended.
pid_t DeadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

} // namespace

// A conversion killed outright leaves no file under the output's name (only
// its claim and temporary file, named after it); the next conversion into
// that folder removes them and takes the name again. Leftovers of a live
// process, and of another machine, stay.
TEST_F(ConvertCommand, AKilledConversionLeavesNoOutputAndItsLeftoversGo) {
    testsupport::TempDir home;
    const std::string source = home.file("long.avi");
    ASSERT_TRUE(testsupport::MakeMedia(source, "-f lavfi -i testsrc2=size=320x240:rate=25 -t 60 "
                                               "-c:v mpeg4 -q:v 2"));
    const std::string folder = home.file("o");
    std::filesystem::create_directory(folder);
    const std::vector<std::string> environment{"HOME=" + home.file("home"),
                                               "XDG_CONFIG_HOME=" + home.file("cfg")};
    const SignalledRun killed = SignalWhenReady(
        {"--format", "104", "--output-dir", folder, source},
        [&](pid_t) {
            for (const std::string& part : testsupport::PartFiles(folder))
                if (std::filesystem::file_size(part) > 0) return true;
            return false;
        },
        SIGKILL, environment);
    ASSERT_TRUE(killed.Signalled) << killed.Output;
    const std::string name = folder + "/long_(new).avi";
    EXPECT_FALSE(std::filesystem::exists(name));
    EXPECT_EQ(testsupport::PartFiles(folder).size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(folder + "/.long_(new).avi.vantrel-claim"));

    const std::string live = "." + std::to_string(::getpid()) + "@" + ThisHost() + ".part";
    const std::string dead = "." + std::to_string(DeadPid()) + "@" + ThisHost() + ".part";
    const std::string elsewhere = ".1@another-machine.part";
    for (const std::string& keep :
         {".a.avi.0000000a" + live, ".b.avi.0000000b" + elsewhere, ".c.avi.0000000c" + dead})
        std::ofstream(folder + "/" + keep) << "x";

    std::filesystem::copy_file(Input, source, std::filesystem::copy_options::overwrite_existing);
    const auto again = RunFormat(home, "104 --output-dir " + Q(folder) + " " + Q(source));
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_GT(testsupport::DurationSeconds(name), 0.5) << again.output;
    std::vector<std::string> left = OtherNames(folder, {"long_(new).avi"});
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{".a.avi.0000000a" + live, ".b.avi.0000000b" + elsewhere}))
        << again.output;
}
