// What the component does with the files it writes: an output that is one
// of the task's inputs is refused, an existing file changes only when the
// task keeps its result, devices and pipes are written directly, and a full
// disk fails without leaving anything behind.
#include "ConversionTestSupport.h"

#include "engine/FFmpeg.h"
#include "engine/FFmpegLocalFiles.h"
#include "media/FFUtils.h"
#include "media/OutputClaim.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Names in `dir` other than `keep` (temporary files left behind, say).
std::vector<std::string> OtherNames(const fs::path& dir, const std::vector<std::string>& keep) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(keep.begin(), keep.end(), name) == keep.end()) names.push_back(name);
    }
    return names;
}

class OutputSafety : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Media = &EngineMedia::Get();
        Source = Out.file("source.avi");
        fs::copy_file(Media->AudioVideo, Source);
        Original = Contents(Source);
    }
    // Converts into `target`; the task's end report.
    TTerminateInfo Convert(const std::string& target, const std::string& lines,
                           const std::string& inputLines = "") {
        RecordingConverter c;
        if (c.Add(Source, target, lines, false, inputLines) < 0) {
            ADD_FAILURE() << c.Converter.LastErrMsg;
            return {};
        }
        EXPECT_TRUE(c.Run());
        return c.TaskEnd(0);
    }
    EngineMedia* Media = nullptr;
    testsupport::TempDir Out;
    std::string Source;
    std::string Original;
};

} // namespace

TEST_F(OutputSafety, AnOutputThatIsAnInputIsRefusedBeforeItOpens) {
    const fs::path dir = Out.path();
    fs::create_hard_link(Source, dir / "hard.avi");
    fs::create_symlink(Source, dir / "link.avi");
    const std::string relative =
        "./" + fs::relative(Source, fs::current_path()).lexically_normal().string();
    for (const std::string& name :
         {Source, relative, (dir / "hard.avi").string(), (dir / "link.avi").string(),
          (dir / "." / "source.avi").string()}) {
        SCOPED_TRACE(name);
        TFFmpegVCL c;
        ASSERT_EQ(c.AddTask(Source), 0) << c.LastErrMsg;
        EXPECT_FALSE(c.SetOutputFile(0, name));
        EXPECT_EQ(c.LastErrMsg,
                  "Output file '" + name + "' is the same file as input file '" + Source + "'");
        EXPECT_EQ(c.Task(0)->OutputFileCount(), 0);
    }
    // A join into its second input, and an input added after the output.
    TFFmpegVCL c;
    ASSERT_EQ(c.AddTask(Media->AudioVideo), 0);
    ASSERT_TRUE(c.AddInput(0, Source));
    TOutputOptions join;
    join.Join = true;
    EXPECT_FALSE(c.SetOutputFile(0, dir / "link.avi", &join));
    EXPECT_NE(c.LastErrMsg.find("is the same file as input file '" + Source + "'"),
              std::string::npos)
        << c.LastErrMsg;
    const std::string fresh = Out.file("fresh.avi");
    TFFmpegVCL d;
    ASSERT_EQ(d.AddTask(Media->AudioVideo), 0);
    ASSERT_TRUE(d.SetOutputFile(0, fresh));
    EXPECT_FALSE(d.AddInput(0, fresh));
    EXPECT_EQ(d.LastErrMsg,
              "Input file '" + fresh + "' is the same file as output file '" + fresh + "'");
    d.ClearTasks();
    EXPECT_EQ(Contents(Source), Original);
    EXPECT_EQ(OtherNames(dir, {"source.avi", "hard.avi", "link.avi"}), std::vector<std::string>{});
}

TEST_F(OutputSafety, TheFilesInsideProtocolNamesAreFound) {
    using Files = std::vector<std::string>;
    EXPECT_EQ(LocalFilesOf("concat:a.avi||b.avi|"), (Files{"a.avi", "b.avi"}));
    EXPECT_EQ(LocalFilesOf("subfile,|start|10|end|20||:cache:x.avi"), Files{"x.avi"});
    EXPECT_EQ(LocalFilesOf("subfile:async:x.avi"), Files{"x.avi"});
    EXPECT_EQ(LocalFilesOf("subfile,,start,1,:x.avi"), Files{}); // refused by the library
    EXPECT_EQ(LocalFilesOf("unicode:utf8:concat:unicode:utf8:a|file:b"), (Files{"a", "b"}));
    EXPECT_EQ(LocalFilesOf("crypto+file:c.avi"), Files{"c.avi"});
    EXPECT_EQ(LocalFilesOf("crypto+c.avi"), Files{"crypto+c.avi"}); // a plain path
    for (const char* remote : {"pipe:1", "http://example.com/a.avi", "async:tcp://host:1/a"})
        EXPECT_EQ(LocalFilesOf(remote), Files{}) << remote;
    // Through a list file: the list, then its names as given and beside it.
    const std::string list = Out.file("list.txt");
    std::ofstream(list) << "one.avi\n\n /abs/two.avi \n";
    EXPECT_EQ(LocalFilesOf("concatf:" + list),
              (Files{list, "one.avi", Out.file("one.avi"), "/abs/two.avi"}));
}

// Failures in the run, and a task removed before it ran: the existing file
// keeps its bytes and no temporary file stays.
TEST_F(OutputSafety, AnExistingFileStaysWhenTheTaskFailsOrNeverRuns) {
    const std::string target = Out.file("existing.mp4");
    std::ofstream(target) << "the user's file";
    TTerminateInfo end = Convert(target, "vcodec=mpeg4\nacodec=aac", "ss=99999");
    EXPECT_TRUE(end.ExceptionRaised);
    EXPECT_EQ(Contents(target), "the user's file");
    end = Convert(target, "map=0:7\nvcodec=mpeg4");
    EXPECT_TRUE(end.ExceptionRaised);
    EXPECT_EQ(Contents(target), "the user's file");
    {
        TFFmpegVCL c;
        ASSERT_EQ(c.AddTask(Source), 0);
        ASSERT_TRUE(c.SetOutputFile(0, target));
        EXPECT_EQ(Contents(target), "the user's file"); // open, nothing written yet
    }
    EXPECT_EQ(Contents(target), "the user's file");
    EXPECT_EQ(OtherNames(Out.path(), {"source.avi", "existing.mp4"}), std::vector<std::string>{});
}

// The result replaces the file (its mode stays); through a link the linked
// file gets it and the link stays a link. A new name is claimed while the
// task is set up, so names made meanwhile avoid it, and nothing exists
// under it before the result is put in place.
TEST_F(OutputSafety, AKeptResultReplacesTheTargetInPlace) {
    const std::string target = Out.file("existing.mp4");
    std::ofstream(target) << "old";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    TTerminateInfo end = Convert(target, "vcodec=mpeg4\nacodec=aac\nt=0.5");
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_EQ(testsupport::ProbeValue(target, "stream=codec_name", "v:0"), "mpeg4");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string link = Out.file("link.mp4");
    fs::create_symlink(target, link);
    end = Convert(link, "vcodec=mpeg4\nacodec=aac\nt=0.5\ns=96x72");
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(testsupport::ProbeValue(target, "stream=width", "v:0"), "96");

    const std::string fresh = Out.file("fresh.mp4");
    TFFmpegVCL c;
    ASSERT_EQ(c.AddTask(Source), 0);
    ASSERT_TRUE(c.SetOutputFile(0, fresh));
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(ClaimNameOf(fresh)));
    EXPECT_TRUE(IsClaimed(fresh));
    c.ClearTasks();
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_FALSE(fs::exists(ClaimNameOf(fresh)));
    EXPECT_EQ(OtherNames(Out.path(), {"source.avi", "existing.mp4", "link.mp4"}),
              std::vector<std::string>{});
}

// A name as long as a folder entry allows (in bytes, of one- and two-byte
// characters) converts, new and replacing: the claim and the temporary
// file beside it carry a shortened name, one per target, and go at the end.
TEST_F(OutputSafety, TheLongestNamesConvert) {
    std::string accented;
    while (accented.size() + 2 <= 251)
        accented += "\xc3\xbc"; // u with two dots
    for (const std::string& stem : {std::string(251, 'n'), accented + "n"}) {
        const std::string name = stem + ".mkv";
        SCOPED_TRACE(name.size());
        ASSERT_LE(name.size(), 255u);
        const std::string target = Out.file(name);
        ASSERT_LE(fs::path(ClaimNameOf(target)).filename().string().size(), 255u);
        EXPECT_EQ(ClaimNameOf(target), ClaimNameOf(target));
        EXPECT_NE(ClaimNameOf(target), ClaimNameOf(Out.file(stem + ".mka")));
        for (int round = 0; round < 2; ++round) {
            const TTerminateInfo end = Convert(target, "vcodec=mpeg4\nacodec=mp2\nt=0.3");
            EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
        }
        EXPECT_EQ(testsupport::ProbeValue(target, "stream=codec_name", "v:0"), "mpeg4");
        EXPECT_EQ(OtherNames(Out.path(), {"source.avi", name}), std::vector<std::string>{});
        fs::remove(target);
    }
}

// A muxer that reads its output back to move the index to the front reads
// the file being written, not the file it replaces.
TEST_F(OutputSafety, AnIndexMovedToTheFrontComesFromTheWrittenFile) {
    const std::string target = Out.file("existing.mp4");
    std::ofstream(target) << "old";
    const TTerminateInfo end =
        Convert(target, "f=mp4\nmovflags=+faststart\nvcodec=mpeg4\nacodec=aac\nt=1");
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    const std::string bytes = Contents(target);
    const std::size_t moov = bytes.find("moov"), mdat = bytes.find("mdat");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    EXPECT_LT(moov, mdat);
    EXPECT_EQ(testsupport::ProbeValue(target, "stream=nb_frames", "v:0"), "25");
}

// A device and a named pipe are written directly, and stay what they are.
TEST_F(OutputSafety, DevicesAndNamedPipesAreWrittenDirectly) {
    TTerminateInfo end = Convert("/dev/null", "f=matroska\nvcodec=mpeg4\nacodec=mp2\nt=0.5");
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    struct stat status {};
    ASSERT_EQ(::stat("/dev/null", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));

    const std::string fifo = Out.file("pipe.mkv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string received = Out.file("received.mkv");
    std::atomic<bool> readerDone{false};
    std::thread reader([&] {
        const int in = ::open(fifo.c_str(), O_RDONLY);
        std::ofstream copy(received, std::ios::binary);
        char buffer[4096];
        for (ssize_t n; in >= 0 && (n = ::read(in, buffer, sizeof buffer)) > 0;)
            copy.write(buffer, n);
        if (in >= 0) ::close(in);
        readerDone = true;
    });
    end = Convert(fifo, "f=matroska\nvcodec=mpeg4\nacodec=mp2\nt=0.5");
    // A conversion that never opened the pipe leaves the reader waiting for
    // a writer: one that opens and closes it lets the reader see the end.
    EXPECT_TRUE(WaitUntil(
        [&] {
            const int wake = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (wake >= 0) ::close(wake);
            return readerDone.load();
        },
        std::chrono::seconds(30)));
    reader.join();
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(testsupport::ProbeValue(received, "stream=codec_name", "v:0"), "mpeg4");
}

// A folder, and a folder without write permission, fail at once with the
// system's text.
TEST_F(OutputSafety, TargetsThatCannotBeWrittenFailWithTheSystemText) {
    TFFmpegVCL c;
    ASSERT_EQ(c.AddTask(Source), 0);
    const std::string folder = Out.file("folder.avi");
    fs::create_directory(folder);
    EXPECT_FALSE(c.SetOutputFile(0, folder));
    EXPECT_EQ(c.LastErrMsg, folder + ": Is a directory");
    EXPECT_FALSE(c.SetOutputFile(0, Out.file("none/x.avi")));
    EXPECT_EQ(c.LastErrMsg, Out.file("none/x.avi") + ": No such file or directory");
}

// With new outputs only, a name that another program created after it was
// chosen is refused with the system's text, and that program's file stays;
// a name still free is claimed, and the claim goes when the task never
// runs.
TEST_F(OutputSafety, NewOutputsOnlyRefusesANameTakenMeanwhile) {
    const std::string taken = Out.file("taken.avi");
    std::ofstream(taken) << "another program's file";
    const std::string fresh = Out.file("fresh.avi");
    {
        TFFmpegVCL c;
        c.NewOutputsOnly = true;
        ASSERT_EQ(c.AddTask(Source), 0);
        EXPECT_FALSE(c.SetOutputFile(0, taken));
        EXPECT_EQ(c.LastErrMsg, taken + ": File exists");
        EXPECT_EQ(Contents(taken), "another program's file");
        ASSERT_TRUE(c.SetOutputFile(0, fresh)) << c.LastErrMsg;
        EXPECT_TRUE(fs::exists(ClaimNameOf(fresh)));
        TFFmpegVCL other;
        other.NewOutputsOnly = true;
        ASSERT_EQ(other.AddTask(Source), 0);
        EXPECT_FALSE(other.SetOutputFile(0, fresh));
        EXPECT_EQ(other.LastErrMsg, fresh + ": File exists");
    }
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(Contents(taken), "another program's file");
    EXPECT_EQ(OtherNames(Out.path(), {"source.avi", "taken.avi"}), std::vector<std::string>{});
}

// A small file system that fills up: the task fails with the system's text
// and leaves neither a partial file nor a changed target behind.
TEST_F(OutputSafety, AFullDiskFailsAndLeavesNothing) {
    const std::string small = Out.file("small");
    fs::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs mount here; the command test covers a file-size limit";
    const std::string target = small + "/existing.mkv";
    std::ofstream(target) << "the user's file";
    const TTerminateInfo end = Convert(small + "/existing.mkv", "vcodec=ffv1\nacodec=pcm_s16le");
    const std::string after = Contents(target);
    const std::vector<std::string> left = OtherNames(small, {"existing.mkv"});
    ::umount(small.c_str());
    EXPECT_TRUE(end.ExceptionRaised);
    EXPECT_FALSE(end.Finished);
    EXPECT_NE(end.ExceptionMsg.find("No space left on device"), std::string::npos)
        << end.ExceptionMsg;
    EXPECT_EQ(after, "the user's file");
    EXPECT_EQ(left, std::vector<std::string>{});
}

// The codecs' thread count comes from "threads"; bad counts fail.
TEST_F(OutputSafety, ThreadsSetTheEncoderThreadCount) {
    TFFmpegVCL c;
    ASSERT_EQ(c.AddTask(Source), 0);
    TOutputOptions o;
    o.ExtOptions = "vcodec=mpeg4\nthreads=3";
    ASSERT_TRUE(c.SetOutputFile(0, Out.file("threads.avi"), &o)) << c.LastErrMsg;
    const auto& streams = c.Task(0)->OutputStreams();
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(streams[0].EncoderContext->thread_count, 3);
    o.ExtOptions = "threads=many";
    EXPECT_FALSE(c.SetOutputFile(0, Out.file("threads2.avi"), &o));
    EXPECT_EQ(c.LastErrMsg, "Invalid value \"many\" for option \"threads\"");
}

// Two tasks (or two outputs of one task) onto one file would leave only the
// one that ends last: the second is refused before it opens anything, by
// name, link or an existing file, while devices may be shared.
TEST_F(OutputSafety, TwoOutputsOfABatchOntoOneFileAreRefused) {
    const std::string target = Out.file("both.mkv");
    const std::string existing = Out.file("existing.mkv");
    std::ofstream(existing) << "the user's file";
    fs::create_symlink(target, Out.file("link.mkv"));
    TFFmpegVCL c;
    ASSERT_EQ(c.AddTask(Source), 0) << c.LastErrMsg;
    ASSERT_TRUE(c.SetOutputFile(0, target)) << c.LastErrMsg;
    ASSERT_TRUE(c.SetOutputFile(0, existing)) << c.LastErrMsg;
    ASSERT_EQ(c.AddTask(Source), 1) << c.LastErrMsg;
    for (const std::string& name :
         {target, Out.file("./both.mkv"), Out.file("link.mkv"), existing}) {
        SCOPED_TRACE(name);
        TOutputOptions options;
        EXPECT_FALSE(c.SetOutputFile(1, name, &options));
        EXPECT_EQ(c.LastErrMsg, "Output file '" + name + "' is already the output file of '" +
                                    Source + "' in this batch");
        EXPECT_EQ(c.Task(1)->OutputFileCount(), 0);
    }
    EXPECT_FALSE(c.SetOutputFile(0, target));
    EXPECT_EQ(c.Task(0)->OutputFileCount(), 2);
    TOutputOptions matroska;
    matroska.ExtOptions = "f=matroska";
    EXPECT_TRUE(c.SetOutputFile(0, "/dev/null", &matroska)) << c.LastErrMsg;
    EXPECT_TRUE(c.SetOutputFile(1, "/dev/null", &matroska)) << c.LastErrMsg;
    TFFmpegVCL other; // another batch is not this one's business
    ASSERT_EQ(other.AddTask(Source), 0);
    EXPECT_TRUE(other.SetOutputFile(0, Out.file("third.mkv")));
    c.ClearTasks();
    other.ClearTasks();
    EXPECT_EQ(Contents(existing), "the user's file");
    EXPECT_EQ(OtherNames(Out.path(), {"source.avi", "existing.mkv", "link.mkv"}),
              std::vector<std::string>{});
}

// A program that stops while it sets up asks the components to give up
// opening: a source that blocks (a named pipe whose writer sends nothing)
// returns, and nothing new opens; the files of outputs already set up go
// with their task.
TEST_F(OutputSafety, AnOpenInterruptEndsABlockedSetUp) {
    const std::string fifo = Out.file("silent.avi");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TFFmpegVCL c;
    ASSERT_EQ(c.AddTask(Source), 0);
    ASSERT_TRUE(c.SetOutputFile(0, Out.file("first.mkv")));
    ASSERT_EQ(OtherNames(Out.path(), {"source.avi", "silent.avi"}).size(), 2u); // reserved + temp
    // A signal without a restart gives the blocked read back to the
    // libraries, which then ask whether to give up (as a stop signal does
    // in the command-line tool).
    struct sigaction wake {
    }, old{};
    wake.sa_handler = [](int) {};
    sigemptyset(&wake.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR2, &wake, &old), 0);
    const pthread_t setUp = ::pthread_self();
    std::atomic<bool> returned{false};
    int writer = -1;
    std::thread opener([&] {
        // The writer opens once the converter's read end has; it then sends
        // nothing. The signal repeats until the set-up has returned: one
        // sent before the read has started would wake nothing.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        RequestOpenInterrupt();
        while (!returned && std::chrono::steady_clock::now() < until) {
            ::pthread_kill(setUp, SIGUSR2);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const int blocked = c.AddTask(fifo);
    returned = true;
    opener.join();
    ::sigaction(SIGUSR2, &old, nullptr);
    ASSERT_GE(writer, 0);
    ::close(writer);
    EXPECT_LT(blocked, 0);
    EXPECT_EQ(c.LastErrMsg, fifo + ": Immediate exit requested");
    EXPECT_LT(c.AddTask(Source), 0); // nothing opens any more
    EXPECT_FALSE(c.SetOutputFile(0, Out.file("second.mkv")));
    ClearOpenInterrupt();
    c.ClearTasks();
    EXPECT_EQ(OtherNames(Out.path(), {"source.avi", "silent.avi"}), std::vector<std::string>{});
}

// The output folder removed while the task writes (from the first frame's
// hook): the task fails naming the file instead of reporting a finished
// file that is nowhere.
TEST_F(OutputSafety, AnOutputFolderRemovedDuringTheRunFailsTheTask) {
    const std::string folder = Out.file("vanishing");
    fs::create_directory(folder);
    const std::string target = folder + "/out.mkv";
    RecordingConverter c;
    c.RecordHook([&](THookInfo*) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    });
    ASSERT_EQ(c.Add(Source, target, "vcodec=mpeg4\nacodec=mp2", true), 0) << c.Converter.LastErrMsg;
    ASSERT_TRUE(c.Run());
    const TTerminateInfo end = c.TaskEnd(0);
    EXPECT_FALSE(end.Finished);
    EXPECT_TRUE(end.ExceptionRaised);
    EXPECT_EQ(end.ExceptionMsg, target + ": No such file or directory");
    EXPECT_FALSE(fs::exists(folder));
}

// A stop that comes just before the open of a named pipe without a reader
// (the request made, no signal landing inside the open) still ends the
// wait: the set-up gives up instead of blocking for good. The test's own
// reader frees a set-up that stayed blocked.
TEST_F(OutputSafety, AnOpenInterruptEndsTheWaitForAPipeReader) {
    const std::string fifo = Out.file("unread.mkv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TFFmpegVCL c;
    ASSERT_EQ(c.AddTask(Source), 0);
    std::atomic<int> thread{0};
    std::atomic<bool> returned{false};
    bool set = true;
    std::thread opener([&] {
        thread = static_cast<int>(::gettid());
        set = c.SetOutputFile(0, fifo);
        returned = true;
    });
    EXPECT_TRUE(
        WaitUntil([&] { return thread != 0 && testsupport::WaitsToOpen(::getpid(), thread); },
                  std::chrono::seconds(30)));
    RequestOpenInterrupt();
    const bool ended = WaitUntil([&] { return returned.load(); }, std::chrono::seconds(10));
    if (!ended) {
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        opener.join();
        if (reader >= 0) ::close(reader);
    } else {
        opener.join();
    }
    ClearOpenInterrupt();
    EXPECT_TRUE(ended) << "the open of the pipe stayed blocked";
    EXPECT_FALSE(set);
    EXPECT_EQ(c.LastErrMsg, fifo + ": Immediate exit requested");
    c.ClearTasks();
    EXPECT_EQ(OtherNames(Out.path(), {"source.avi", "unread.mkv"}), std::vector<std::string>{});
    struct stat status {};
    ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}
