// The engine's encoders on threads of their own write the same files, byte
// for byte, as a task doing all its work on its one thread, for encoders
// whose output depends only on their input.
#include "ConversionTestSupport.h"

#include <sched.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::string FileBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Threads of this process now.
int ThreadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

// Keeps the calling thread (and the threads it starts) on its first core.
class TOneCore {
public:
    TOneCore() {
        FHad = sched_getaffinity(0, sizeof(FAll), &FAll) == 0;
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &FAll)) {
                CPU_SET(cpu, &one);
                break;
            }
        FHad = FHad && sched_setaffinity(0, sizeof(one), &one) == 0;
    }
    ~TOneCore() {
        if (FHad) sched_setaffinity(0, sizeof(FAll), &FAll);
    }
    TOneCore(const TOneCore&) = delete;
    TOneCore& operator=(const TOneCore&) = delete;
    bool Set() const { return FHad; }

private:
    cpu_set_t FAll;
    bool FHad = false;
};

struct Case {
    const char* Name;
    const char* Output; // file name: the muxer follows its extension
    const char* Lines;
};

// MPEG-4, MPEG-2, MP2, PCM, FLAC and libx264 on one and on two threads of
// its own; scaling, a filter, a start point and a size limit take the other
// ways to the encoder. libx264's macroblock tree reads memory its assembly never wrote
// (its output follows the heap's old contents, with the ffmpeg program as
// well), so it is turned off here: with it the bytes differ from run to run
// of one process even on one thread.
const Case kCases[] = {
    {"mpeg4 mp2", "a.avi", "vcodec=mpeg4\nb=400000\nacodec=mp2"},
    {"mpeg2 mp2", "c.mpg", "vcodec=mpeg2video\nacodec=mp2\nab=192000"},
    {"scaled mpeg4 pcm", "s.mov", "vcodec=mpeg4\ns=96x72\nbf=2\nacodec=pcm_s16le"},
    {"filtered mpeg4", "f.avi", "vcodec=mpeg4\nvf=hflip\nan=1"},
    {"flac", "a.flac", "vn=1\nacodec=flac"},
    {"mpeg4 start point", "p.mp4", "vcodec=mpeg4\nacodec=mp2\nss=0.5"},
    {"x264 one thread", "x1.mp4", "vcodec=libx264\nthreads=1\nmbtree=0\nacodec=mp2"},
    {"x264 two threads", "x2.mp4", "vcodec=libx264\nthreads=2\nmbtree=0\nacodec=aac"},
    // The size limit is read from the file as it grows: it ends the file at
    // the same picture only when every frame reaches the encoders at once.
    {"mpeg4 size limit", "l.avi", "vcodec=mpeg4\nacodec=mp2\nfs=30000"},
};

class StagedOutput : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Source = Out.file("source.mkv");
        ASSERT_TRUE(testsupport::MakeTwoSecondClip(Source));
    }

    // Converts the source with every case into `folder`, one batch each;
    // false when a conversion failed (the message is reported).
    bool ConvertAll(const std::string& folder, bool staged) {
        for (const Case& item : kCases) {
            RecordingConverter c;
            c.Converter.StagedEncoding = staged;
            if (c.Add(Source, Out.file(folder + item.Output), item.Lines) != 0) {
                ADD_FAILURE() << item.Name << ": " << c.Converter.LastErrMsg;
                return false;
            }
            if (!c.Run()) return false;
            const TTerminateInfo end = c.TaskEnd(0);
            if (!end.Finished || end.ExceptionRaised) {
                ADD_FAILURE() << item.Name << ": " << end.ExceptionMsg;
                return false;
            }
        }
        return true;
    }

    testsupport::TempDir Out;
    std::string Source;
};

} // namespace

TEST_F(StagedOutput, EncoderThreadsWriteTheSameBytesAsOneThread) {
    ASSERT_TRUE(ConvertAll("serial-", false));
    ASSERT_TRUE(ConvertAll("staged-", true));
    for (const Case& item : kCases) {
        const std::string serial = FileBytes(Out.file(std::string("serial-") + item.Output));
        const std::string staged = FileBytes(Out.file(std::string("staged-") + item.Output));
        EXPECT_GT(serial.size(), 1000u) << item.Name;
        EXPECT_EQ(serial.size(), staged.size()) << item.Name;
        EXPECT_TRUE(serial == staged) << item.Name << ": the files differ";
    }
}

// On one core the encoders are not given threads of their own: the hook
// sees as many threads with staging as without.
TEST_F(StagedOutput, OnOneCoreTheEncodersStayOnTheTasksThread) {
    TOneCore one;
    ASSERT_TRUE(one.Set());
    int most[2] = {0, 0};
    for (const bool staged : {false, true}) {
        RecordingConverter c;
        c.Converter.StagedEncoding = staged;
        c.RecordHook([&](THookInfo*) { most[staged] = std::max(most[staged], ThreadCount()); });
        const std::string out = Out.file(staged ? "one-staged.avi" : "one-serial.avi");
        ASSERT_EQ(c.Add(Source, out, "vcodec=mpeg4\nacodec=mp2", true), 0)
            << c.Converter.LastErrMsg;
        ASSERT_TRUE(c.Run());
        ASSERT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
    }
    EXPECT_GT(most[0], 0);
    EXPECT_EQ(most[1], most[0]);
}

// A stop drains the encoders' queues: the file holds every picture handed
// over before the stop, as many as on one thread.
TEST_F(StagedOutput, AStopKeepsEveryPictureHandedToTheEncoders) {
    using namespace std::chrono_literals;
    std::vector<std::string> counts;
    for (const bool staged : {false, true}) {
        RecordingConverter c;
        c.Converter.StagedEncoding = staged;
        TestSignal tenth;
        c.RecordHook([&](THookInfo* info) {
            if (info->FrameNumber != 10) return;
            tenth.Set();
            WaitUntil([&c] { return c.Converter.Task(0)->BreakRequested(); }, 30s);
        });
        const std::string out = Out.file(staged ? "stop-staged.avi" : "stop-serial.avi");
        ASSERT_EQ(c.Add(Source, out, "vcodec=mpeg4\ns=160x120\nacodec=mp2", true), 0)
            << c.Converter.LastErrMsg;
        c.Converter.StartTask(1);
        ASSERT_TRUE(tenth.WaitFor(30s));
        c.Converter.Stop(true);
        ASSERT_TRUE(c.WaitForEnd());
        EXPECT_FALSE(c.TaskEnd(0).ExceptionRaised) << c.TaskEnd(0).ExceptionMsg;
        counts.push_back(testsupport::ProbeValue(out, "stream=nb_frames", "v:0"));
    }
    EXPECT_EQ(counts[0], "9");
    EXPECT_EQ(counts[1], counts[0]);
}

// With a hook that draws by the picture's number, deinterlacing, or a
// hook that stops half-way, on the task's thread or (for two picture
// outputs) beside it: the hook still sees every picture once, in order,
// and the file is the one thread's, byte for byte.
TEST_F(StagedOutput, PictureWorkOnItsThreadWritesTheSameBytesAsOneThread) {
    const struct {
        const char* Output;
        const char* Lines;
        int StopAt; // 0: never
    } cases[] = {{"h.avi", "vcodec=mpeg4\nacodec=mp2", 0},
                 {"d.avi", "vcodec=mpeg4\ndeinterlace=1\nacodec=mp2", 0},
                 {"t.mpg", "vcodec=mpeg2video\ns=160x120\nacodec=mp2", 20},
                 {"two.avi", "vcodec=mpeg4\nacodec=mp2\nnewvideo", 0}};
    for (const auto& item : cases) {
        std::string bytes[2];
        for (const bool staged : {false, true}) {
            RecordingConverter c;
            c.Converter.StagedEncoding = staged;
            std::vector<int> numbers;
            int64_t lastPts = -1;
            bool ordered = true;
            c.RecordHook([&](THookInfo* info) {
                numbers.push_back(info->FrameNumber);
                ordered = ordered && info->PTS > lastPts;
                lastPts = info->PTS;
                Bitmap24& bitmap = *info->Bitmap;
                const int row = (info->FrameNumber * 7) % (bitmap.Height - 8);
                for (int y = row; y < row + 8; ++y)
                    std::memset(bitmap.Row(y), 255, 3 * 16);
                info->StopHook = info->FrameNumber == item.StopAt;
            });
            const std::string out = Out.file(std::string(staged ? "ps-" : "pt-") + item.Output);
            ASSERT_EQ(c.Add(Source, out, item.Lines, true), 0) << c.Converter.LastErrMsg;
            ASSERT_TRUE(c.Run());
            ASSERT_TRUE(c.TaskEnd(0).Finished) << c.TaskEnd(0).ExceptionMsg;
            const int calls = item.StopAt ? item.StopAt : 50;
            ASSERT_EQ(static_cast<int>(numbers.size()), calls) << item.Output;
            for (int i = 0; i < calls; ++i)
                EXPECT_EQ(numbers[i], i + 1) << item.Output;
            EXPECT_TRUE(ordered) << item.Output;
            bytes[staged] = FileBytes(out);
        }
        EXPECT_GT(bytes[0].size(), 1000u) << item.Output;
        EXPECT_TRUE(bytes[0] == bytes[1]) << item.Output << ": the files differ";
    }
}
