// The subtitles alone on a SubRip track over a black picture, read by the
// demuxer: the text is blended into a picture while it is due and only
// then, once per picture; a seek forgets the text, and one to a time inside
// the subtitle reads it again from before the target.
#include "PlayerTestSupport.h"

#include "media/FFmpegLoader.h"
#include "player/Demuxer.h"
#include "player/Subtitles.h"

#include <cstring>
#include <fstream>
#include <future>

namespace {

class TEndEvents : public IDemuxerEvents {
public:
    void SeekMoving(double) override {}
    void SeekLanded(bool, double) override {}
    void SeekDone() override {}
    void ReadStopped(bool atEnd, int, bool) override { Ended = Ended || atEnd; }
    std::atomic<bool> Ended{false};
};

// The subtitle stream of `file` read into the subtitles' queue and decoded
// on a thread of its own.
struct TSubtitleRig {
    std::atomic<bool> Abort{false}, Paused{false}, PausedAtSeek{false};
    TDemuxer Demuxer{Abort, Paused};
    TPacketQueue Packets;
    TSubtitles Subtitles{Packets, Abort};
    TEndEvents Events;
    ff::CodecContextPtr Codec;
    std::string OpenResult = "not opened";
    std::future<int> Reader;
    std::future<void> Decoding;

    explicit TSubtitleRig(const std::string& file) {
        EXPECT_EQ(Demuxer.Open(file, ""), "");
        TStreamChoice choice = Demuxer.ChooseStreams(true, false);
        AVStream* stream = Demuxer.Stream(choice.Subtitle);
        if (!stream) return;
        Codec = OpenStreamCodec(*stream);
        if (!Codec) return;
        OpenResult =
            Subtitles.Open(TSubtitles::TSource{Codec.get(), stream, choice.Subtitle, choice.Video,
                                               file, Demuxer.Context()->interrupt_callback});
        Packets.Start();
        Demuxer.Feed(TFeed::Subtitle, choice.Subtitle, Packets);
        Reader = std::async(std::launch::async, [this] { return Demuxer.Run(Events); });
        Decoding = std::async(std::launch::async, [this] { Subtitles.Run(Paused, PausedAtSeek); });
    }
    ~TSubtitleRig() {
        Abort = true;
        Packets.Abort();
        Subtitles.Abort();
        if (Decoding.valid()) Decoding.wait();
        if (Reader.valid()) Reader.wait();
        Subtitles.Close();
        std::lock_guard lock(CodecLock());
        Codec.reset();
    }
};

// A black 320 x 240 picture of time `pts` in a slot of its own.
void BlackSlot(TPictureSlot& slot, double pts) {
    slot.Overlay.reset(ff::avutil.av_frame_alloc());
    AVFrame* frame = slot.Overlay.get();
    frame->width = 320;
    frame->height = 240;
    frame->format = AV_PIX_FMT_YUV420P;
    ASSERT_GE(ff::avutil.av_frame_get_buffer(frame, 0), 0);
    for (int y = 0; y < 240; ++y) {
        std::memset(frame->data[0] + y * frame->linesize[0], 16, 320);
        if (y % 2 == 0) {
            std::memset(frame->data[1] + y / 2 * frame->linesize[1], 128, 160);
            std::memset(frame->data[2] + y / 2 * frame->linesize[2], 128, 160);
        }
    }
    slot.PTS = pts;
    slot.SubtitleBlended = false;
}

// Light pixels of the slot's picture in its lower half (where text goes).
int LowerLight(const TPictureSlot& slot) {
    const AVFrame* frame = slot.Overlay.get();
    int count = 0;
    for (int y = 120; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            count += frame->data[0][y * frame->linesize[0] + x] > 128;
    return count;
}

// The light the subtitles blend into a black picture at `pts`.
int LightAt(TSubtitles& subtitles, double pts) {
    TPictureSlot slot;
    BlackSlot(slot, pts);
    subtitles.Blend(slot);
    return LowerLight(slot);
}

} // namespace

TEST_F(PlayerTest, SubtitlesBlendTheTextWhileDueAndReadItAgainAfterASeekIntoIt) {
    const std::string srt = Media().Dir.file("unit.srt");
    std::ofstream(srt) << "1\n00:00:01,000 --> 00:00:02,000\nHELLO WORLD\n\n";
    const std::string mkv = Media().Dir.file("unit_subtitled.mkv");
    ASSERT_TRUE(testsupport::RunFfmpeg("-f lavfi -i color=black:size=320x240:rate=25 -i " +
                                       testsupport::ShellQuote(srt) + " -t 3 -c:v mpeg4 -c:s srt " +
                                       testsupport::ShellQuote(mkv)));
    TSubtitleRig rig(mkv);
    ASSERT_TRUE(rig.Codec);
    EXPECT_EQ(rig.OpenResult, "");
    ASSERT_TRUE(WaitUntil([&] { return rig.Events.Ended && rig.Packets.PacketCount() == 0; }));
    // The text event may still be on its way from the decoding thread.
    ASSERT_TRUE(WaitUntil([&] { return LightAt(rig.Subtitles, 1.5) > 50; }));
    EXPECT_EQ(LightAt(rig.Subtitles, 0.5), 0);
    EXPECT_EQ(LightAt(rig.Subtitles, 2.5), 0);

    // Once per picture.
    TPictureSlot slot;
    BlackSlot(slot, 1.2);
    rig.Subtitles.Blend(slot);
    ASSERT_TRUE(slot.SubtitleBlended);
    const int once = LowerLight(slot);
    rig.Subtitles.Blend(slot);
    EXPECT_EQ(LowerLight(slot), once);

    // A seek forgets the text; one to 1.5 s reads it from before 1 s again.
    rig.Subtitles.Seeked(-1);
    EXPECT_EQ(LightAt(rig.Subtitles, 1.5), 0);
    rig.Subtitles.Seeked(1.5);
    EXPECT_GT(LightAt(rig.Subtitles, 1.5), 50);
    EXPECT_EQ(LightAt(rig.Subtitles, 2.5), 0);

    // Closed: nothing is blended any more.
    rig.Subtitles.Close();
    EXPECT_EQ(LightAt(rig.Subtitles, 1.5), 0);
}
