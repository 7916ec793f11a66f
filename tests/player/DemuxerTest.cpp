// The demuxer alone on files made at test time: the file's facts and the
// streams chosen, every packet of the fed streams read once with the end
// told once, the reading held while the queues hold enough, and seeks that
// flush the queues and read again after the end.
#include "PlayerTestSupport.h"

#include "player/Demuxer.h"

#include "media/MyUtils.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

using testsupport::ProbeValue;

namespace {

using namespace std::chrono_literals;

// The reports, in order, as text.
class TRecordedEvents : public IDemuxerEvents {
public:
    void SeekMoving(double exact) override { Add(FormatText("moving %.3f", exact)); }
    void SeekLanded(bool moved, double) override { Add(moved ? "landed" : "failed"); }
    void SeekDone() override { Add("done"); }
    void ReadStopped(bool atEnd, int, bool first) override {
        Add(std::string(atEnd ? "end" : "error") + (first ? " first" : ""));
    }
    std::vector<std::string> Seen() {
        std::lock_guard lock(Lock);
        return Lines;
    }
    int Count(const std::string& line) {
        std::lock_guard lock(Lock);
        return static_cast<int>(std::count(Lines.begin(), Lines.end(), line));
    }

private:
    void Add(const std::string& line) {
        std::lock_guard lock(Lock);
        Lines.push_back(line);
    }
    std::mutex Lock; // guards Lines
    std::vector<std::string> Lines;
};

// A demuxer with its queues, read on a thread of its own.
struct TReadRig {
    std::atomic<bool> Abort{false}, Paused{false};
    TDemuxer Demuxer{Abort, Paused};
    TPacketQueue Audio, Video;
    TRecordedEvents Events;
    std::future<int> Reader;

    explicit TReadRig(const std::string& file) {
        EXPECT_EQ(Demuxer.Open(file, ""), "");
        Audio.Start();
        Video.Start();
    }
    void FeedBoth() {
        TStreamChoice choice = Demuxer.ChooseStreams(false, false);
        Demuxer.Feed(TFeed::Audio, choice.Audio, Audio);
        Demuxer.Feed(TFeed::Video, choice.Video, Video);
    }
    void Start() {
        Reader = std::async(std::launch::async, [this] { return Demuxer.Run(Events); });
    }
    // False when the reading does not end within `seconds`.
    bool Stop(double seconds = 5) {
        Abort = true;
        Audio.Abort();
        Video.Abort();
        if (!Reader.valid()) return true;
        return Reader.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready;
    }
    ~TReadRig() { Stop(); }
};

// What one queue held: packets with their times (seconds), flush markers
// ("F") and empty packets ("E") in order.
struct TTaken {
    std::vector<std::string> Marks;
    std::vector<double> Times;
    std::vector<bool> Keys;
    int Packets = 0;
};

// Takes what `queue` holds now without waiting.
void TakeAll(TPacketQueue& queue, AVRational base, TTaken& taken) {
    ff::PacketPtr packet;
    bool isFlush = false;
    while (queue.Get(packet, isFlush, false) > 0) {
        if (isFlush) {
            taken.Marks.push_back("F");
        } else if (!packet->data && packet->size == 0) {
            if (taken.Marks.empty() || taken.Marks.back() != "E") taken.Marks.push_back("E");
        } else {
            taken.Marks.push_back("P");
            taken.Times.push_back(static_cast<double>(packet->pts) * av_q2d(base));
            taken.Keys.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
            ++taken.Packets;
        }
    }
}

int ProbedPackets(const std::string& file, const std::string& select) {
    std::string text = testsupport::RunCommand("ffprobe -v error -count_packets -select_streams " +
                                               select + " -show_entries stream=nb_read_packets " +
                                               "-of csv=p=0 " + testsupport::ShellQuote(file))
                           .output;
    return std::atoi(text.c_str());
}

} // namespace

TEST_F(PlayerTest, DemuxerOpensWithTheFileFactsAndChoosesStreamsOrRefusesWithTheReason) {
    std::atomic<bool> abort{false}, paused{false};
    TDemuxer demuxer(abort, paused);
    ASSERT_EQ(demuxer.Open(Media().AudioVideo, ""), "");
    EXPECT_NEAR(static_cast<double>(demuxer.Duration()) / 1e6,
                std::stod(ProbeValue(Media().AudioVideo, "format=duration")), 0.01);
    EXPECT_FALSE(demuxer.IsImageSequence());
    TStreamChoice both = demuxer.ChooseStreams(false, false);
    ASSERT_NE(demuxer.Stream(both.Video), nullptr);
    ASSERT_NE(demuxer.Stream(both.Audio), nullptr);
    EXPECT_EQ(demuxer.Stream(both.Video)->codecpar->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(demuxer.Stream(both.Audio)->codecpar->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(both.Subtitle, -1);
    EXPECT_EQ(demuxer.ChooseStreams(true, false).Audio, -1);
    EXPECT_EQ(demuxer.ChooseStreams(false, true).Video, -1);
    EXPECT_EQ(demuxer.ChooseStreams(false, true).Audio, both.Audio);
    EXPECT_EQ(demuxer.Stream(99), nullptr);
    demuxer.Close();
    EXPECT_EQ(demuxer.Context(), nullptr);

    const std::string missing = Media().Dir.file("missing.mkv");
    TDemuxer absent(abort, paused);
    std::string reason = absent.Open(missing, "");
    EXPECT_NE(reason.find(missing), std::string::npos) << reason;
    EXPECT_EQ(absent.Context(), nullptr);

    const std::string text = Media().Dir.file("words.mkv");
    { std::ofstream(text) << "no media here\n"; }
    TDemuxer notMedia(abort, paused);
    EXPECT_NE(notMedia.Open(text, ""), "");
}

// A playlist plays the segments beside it; one that names only files
// elsewhere does not open.
TEST_F(PlayerTest, DemuxerOpensNoPlaylistSegmentOutsideThePlaylistsFolder) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.path() / "dl");
    ASSERT_TRUE(testsupport::MakeMedia(dir.file("segment.ts"),
                                       "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 "
                                       "-c:v mpeg2video"));
    std::filesystem::copy_file(dir.file("segment.ts"), dir.file("dl/own.ts"));
    auto list = [&](const std::string& name, const std::string& segment) {
        std::ofstream(dir.file(name)) << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1,\n"
                                      << segment << "\n#EXT-X-ENDLIST\n";
        return dir.file(name);
    };
    std::atomic<bool> abort{false}, paused{false};
    TDemuxer outside(abort, paused);
    const std::string reason = outside.Open(list("dl/outside.mp4", "../segment.ts"), "");
    EXPECT_NE(reason.find("it is a list of other files, and " + dir.file("dl/../segment.ts") +
                          " lies outside its folder"),
              std::string::npos)
        << reason;
    EXPECT_EQ(outside.Context(), nullptr);
    TDemuxer beside(abort, paused);
    ASSERT_EQ(beside.Open(list("dl/beside.m3u8", "own.ts"), ""), "");
    EXPECT_NE(beside.Stream(beside.ChooseStreams(false, false).Video), nullptr);
}

// A picture named with '%' plays as itself, not as the sequence its name
// spells.
TEST_F(PlayerTest, DemuxerOpensAPictureNamedWithPercentAsItself) {
    testsupport::TempDir dir;
    ASSERT_TRUE(testsupport::MakeMedia(dir.file("a%d.png"),
                                       "-f lavfi -i color=red:size=64x48 -frames:v 1 -update 1"));
    ASSERT_TRUE(testsupport::MakeMedia(dir.file("a1.png"),
                                       "-f lavfi -i color=blue:size=96x72 -frames:v 1 -update 1"));
    std::atomic<bool> abort{false}, paused{false};
    TDemuxer demuxer(abort, paused);
    ASSERT_EQ(demuxer.Open(dir.file("a%d.png"), ""), "");
    const AVStream* video = demuxer.Stream(demuxer.ChooseStreams(true, false).Video);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codecpar->width, 64);
}

TEST_F(PlayerTest, DemuxerReadsEveryFedPacketOnceAndTellsTheEndOnceDrainedWhenTaken) {
    TReadRig rig(Media().AudioVideo);
    rig.FeedBoth();
    TStreamChoice choice = rig.Demuxer.ChooseStreams(false, false);
    AVRational videoBase = rig.Demuxer.Stream(choice.Video)->time_base;
    AVRational audioBase = rig.Demuxer.Stream(choice.Audio)->time_base;
    rig.Start();
    // The sound queue wants more than this file holds: all of it is read.
    ASSERT_TRUE(WaitUntil([&] { return rig.Events.Count("end first") == 1; }));
    EXPECT_FALSE(rig.Demuxer.Drained()); // nothing was taken yet
    TTaken video, audio;
    ASSERT_TRUE(WaitUntil([&] {
        TakeAll(rig.Video, videoBase, video);
        TakeAll(rig.Audio, audioBase, audio);
        return rig.Demuxer.Drained();
    }));
    EXPECT_EQ(video.Packets, ProbedPackets(Media().AudioVideo, "v:0"));
    EXPECT_EQ(audio.Packets, ProbedPackets(Media().AudioVideo, "a:0"));
    EXPECT_TRUE(std::is_sorted(audio.Times.begin(), audio.Times.end()));
    // The video decoder is told the end with empty packets after the last.
    ASSERT_FALSE(video.Marks.empty());
    EXPECT_EQ(video.Marks.back(), "E");
    EXPECT_EQ(std::count(video.Marks.begin(), video.Marks.end(), "E"), 1);
    EXPECT_EQ(rig.Events.Seen(), std::vector<std::string>{"end first"});
    EXPECT_TRUE(rig.Stop());
    EXPECT_EQ(rig.Reader.get(), 0);
}

TEST_F(PlayerTest, DemuxerHoldsTheReadingWhileTheQueuesHoldEnoughAndStopsWhenAborted) {
    TReadRig rig(Media().VideoOnly);
    TStreamChoice choice = rig.Demuxer.ChooseStreams(false, false);
    rig.Demuxer.Feed(TFeed::Video, choice.Video, rig.Video);
    rig.Start();
    // A decoder that takes nothing: six packets wait, the rest is not read.
    ASSERT_TRUE(WaitUntil([&] { return rig.Video.PacketCount() == 6; }));
    ASSERT_FALSE(WaitUntil([&] { return rig.Video.PacketCount() > 6; }, 0.3));
    TTaken video;
    AVRational base = rig.Demuxer.Stream(choice.Video)->time_base;
    TakeAll(rig.Video, base, video);
    ASSERT_TRUE(WaitUntil([&] { return rig.Video.PacketCount() == 6; }));
    TakeAll(rig.Video, base, video);
    EXPECT_EQ(video.Packets, 12);
    EXPECT_TRUE(std::is_sorted(video.Times.begin(), video.Times.end()));
    EXPECT_EQ(rig.Events.Seen(), std::vector<std::string>{});
    // A local file cannot pause its reading; the clock's resume asks.
    rig.Paused = true;
    EXPECT_TRUE(WaitUntil([&] { return rig.Demuxer.PauseResult() == AVERROR(ENOSYS); }));
    EXPECT_TRUE(rig.Stop(2));
}

TEST_F(PlayerTest, DemuxerSeekFlushesTheQueuesReadsFromTheKeyBeforeTheTargetAndAgainAfterTheEnd) {
    TReadRig rig(Media().VideoOnly);
    TStreamChoice choice = rig.Demuxer.ChooseStreams(false, false);
    rig.Demuxer.Feed(TFeed::Video, choice.Video, rig.Video);
    AVRational base = rig.Demuxer.Stream(choice.Video)->time_base;
    const std::int64_t start = rig.Demuxer.StartTime();
    // A second request while one is pending is dropped.
    ASSERT_TRUE(rig.Demuxer.RequestSeek(0, 0, 1000000 + start));
    EXPECT_FALSE(rig.Demuxer.RequestSeek(0, 0, 1500000 + start));
    EXPECT_EQ(rig.Demuxer.PendingSeekPosition(), 1000000 + start);
    rig.Start();
    ASSERT_TRUE(WaitUntil([&] { return rig.Events.Count("done") == 1; }));
    EXPECT_FALSE(rig.Demuxer.SeekPending());
    const std::string moving = FormatText("moving %.3f", 1.0 + start / 1e6);
    EXPECT_EQ(rig.Events.Seen(), (std::vector<std::string>{moving, "landed", "done"}));
    // Key frames every 0.4 s: the reading goes on from the one at 0.8 s.
    TTaken first;
    ASSERT_TRUE(WaitUntil([&] {
        TakeAll(rig.Video, base, first);
        return first.Packets >= 3;
    }));
    ASSERT_EQ(first.Marks.front(), "F");
    EXPECT_NEAR(first.Times.front() - start / 1e6, 0.8, 0.001);
    EXPECT_TRUE(first.Keys.front());

    // To the end, then back to the start: read again, the end told again.
    TTaken rest;
    ASSERT_TRUE(WaitUntil([&] {
        TakeAll(rig.Video, base, rest);
        return rig.Demuxer.Drained();
    }));
    EXPECT_EQ(first.Packets + rest.Packets, 30); // from 0.8 s to 2 s at 25 fps
    ASSERT_TRUE(rig.Demuxer.RequestSeek(0, 0, start));
    ASSERT_TRUE(WaitUntil([&] { return rig.Events.Count("done") == 2; }));
    TTaken again;
    ASSERT_TRUE(WaitUntil([&] {
        TakeAll(rig.Video, base, again);
        return rig.Events.Count("end first") == 2 && rig.Demuxer.Drained();
    }));
    EXPECT_EQ(again.Packets, 50);
    ASSERT_FALSE(again.Marks.empty());
    EXPECT_EQ(again.Marks.front(), "F");
    EXPECT_NEAR(again.Times.front() - start / 1e6, 0.0, 0.001);
}
