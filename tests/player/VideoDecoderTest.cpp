// The video decoder alone, fed by the demuxer from files made at test time,
// its pictures taken from the picture queue by the test: every picture in
// order with the end told once, a seek landing on its target (past the end:
// on the last picture), pictures skipped while the display falls behind,
// the wait while it may not decode, and its end when a hook reports the
// file closed.
#include "PlayerTestSupport.h"

#include "media/FFmpegLoader.h"
#include "player/Demuxer.h"
#include "player/VideoDecoder.h"

#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Counts the reports; answers MayDecode and Hook as the test sets.
class TDecoderEvents : public IVideoDecoderEvents {
public:
    std::atomic<bool> Allowed{true};
    std::atomic<int> HookLimit{-1}; // pictures hooked before a hook fails; -1 never
    std::atomic<int> Flushes{0}, AfterFlush{0}, Hooks{0}, Queued{0}, Skipped{0}, Ended{0},
        Finished{0}, Failures{0};

    bool MayDecode() override { return Allowed; }
    void Flushed() override { ++Flushes; }
    void PictureAfterFlush() override { ++AfterFlush; }
    bool Hook(AVFrame*, double) override { return HookLimit < 0 || Hooks++ < HookLimit; }
    std::optional<double> OffSound() override { return std::nullopt; }
    void PictureQueued() override { ++Queued; }
    void PictureSkipped() override { ++Skipped; }
    void InputEnded() override { ++Ended; }
    void InputFinished() override { ++Finished; }
    void Failed(const std::string&) override { ++Failures; }
};

// The component's part of a seek: the queue and the decoder learn of it
// before the flush marker is queued.
class TSeekEvents : public IDemuxerEvents {
public:
    TSeekEvents(TPictureQueue& pictures, TVideoDecoder& decoder)
        : Pictures(pictures), Decoder(decoder) {}
    void SeekMoving(double exact) override {
        Pictures.MarkFlushPending();
        Decoder.SeekStarting(exact);
    }
    void SeekLanded(bool, double) override {}
    void SeekDone() override { ++Done; }
    void ReadStopped(bool, int, bool) override {}
    std::atomic<int> Done{0};

private:
    TPictureQueue& Pictures;
    TVideoDecoder& Decoder;
};

// A demuxer reading the video stream of `file` into the decoder's queue.
struct TDecodeRig {
    std::atomic<bool> Abort{false}, Paused{false}, RefreshPending{false};
    TDemuxer Demuxer{Abort, Paused};
    TPacketQueue Packets;
    TPictureQueue Pictures;
    TVideoDecoder Decoder{Packets, Pictures, RefreshPending};
    TDecoderEvents Events;
    TSeekEvents SeekEvents{Pictures, Decoder};
    ff::CodecContextPtr Codec;
    AVStream* Stream = nullptr;
    std::future<int> Reader;
    std::future<void> Decoding;

    // `flushFirst`: the flush marker of the open goes first, as the player
    // queues it.
    TDecodeRig(const std::string& file, bool flushFirst) {
        EXPECT_EQ(Demuxer.Open(file, ""), "");
        int index = Demuxer.ChooseStreams(true, false).Video;
        Stream = Demuxer.Stream(index);
        if (!Stream) return;
        Codec = OpenStreamCodec(*Stream);
        if (!Codec) return;
        Packets.Start();
        if (flushFirst) Packets.PutFlush();
        Demuxer.Feed(TFeed::Video, index, Packets);
        Decoder.Open(Codec.get(), Stream, 0);
    }
    void Start() {
        Reader = std::async(std::launch::async, [this] { return Demuxer.Run(SeekEvents); });
        Decoding = std::async(std::launch::async, [this] { Decoder.Run(Events); });
    }
    // Takes the queued pictures until `done` holds; their times in seconds.
    template <typename Done> bool TakeUntil(std::vector<double>& times, Done done) {
        return WaitUntil([&] {
            TPictureFront front;
            while (Pictures.Front(front)) {
                times.push_back(front.PTS);
                EXPECT_EQ(front.Slot->Width, 160);
                Pictures.Consume(front.Taken);
            }
            return done();
        });
    }
    ~TDecodeRig() {
        Abort = true;
        Packets.Abort();
        Pictures.Abort();
        if (Decoding.valid()) Decoding.wait();
        if (Reader.valid()) Reader.wait();
        std::lock_guard lock(CodecLock());
        Codec.reset();
    }
};

std::vector<double> Steps(double from, double to) {
    std::vector<double> times;
    for (int i = static_cast<int>(std::lround(from / 0.04)); i * 0.04 < to - 1e-6; ++i)
        times.push_back(i * 0.04);
    return times;
}

void ExpectTimes(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], want[i], 0.001) << "picture " << i;
}

} // namespace

TEST_F(PlayerTest, VideoDecoderQueuesEveryPictureInOrderAndFinishesOncePerEnd) {
    TDecodeRig rig(Media().VideoOnly, true);
    ASSERT_NE(rig.Stream, nullptr);
    rig.Start();
    std::vector<double> times;
    // The reading tells the end again and again; the decoder finishes once.
    ASSERT_TRUE(rig.TakeUntil(times, [&] { return rig.Events.Ended >= 3; }));
    ExpectTimes(times, Steps(0, 2));
    EXPECT_EQ(rig.Events.Queued, 50);
    EXPECT_EQ(rig.Events.Finished, 1);
    EXPECT_EQ(rig.Events.Flushes, 1);
    EXPECT_EQ(rig.Events.Skipped, 0);
    EXPECT_EQ(rig.Events.Failures, 0);
    EXPECT_LE(rig.Decoder.SkipRate(), 1.0f); // a display that keeps up lowers it
}

TEST_F(PlayerTest, VideoDecoderLandsOnTheSeekTargetAndPastTheEndOnTheLastPicture) {
    TDecodeRig rig(Media().VideoOnly, true);
    ASSERT_NE(rig.Stream, nullptr);
    rig.Start();
    std::vector<double> times;
    ASSERT_TRUE(rig.TakeUntil(times, [&] { return rig.Events.Finished == 1; }));
    const std::int64_t start = rig.Demuxer.StartTime();

    // Read from the key frame at 0.8 s; the pictures before 1 s are dropped.
    ASSERT_TRUE(rig.Demuxer.RequestSeek(0, 0, 1000000 + start));
    times.clear();
    ASSERT_TRUE(rig.TakeUntil(times, [&] { return rig.Events.Finished == 2; }));
    ExpectTimes(times, Steps(1, 2));
    EXPECT_EQ(rig.Events.Flushes, 2);
    EXPECT_GE(rig.Events.AfterFlush, 1);

    // Past the end: nothing is due at the target, the last picture shows.
    ASSERT_TRUE(rig.Demuxer.RequestSeek(0, 0, 5000000 + start));
    times.clear();
    ASSERT_TRUE(rig.TakeUntil(times, [&] { return rig.Events.Finished == 3; }));
    ExpectTimes(times, {1.96});
    EXPECT_EQ(rig.Events.Queued, 50 + 25 + 1);
}

TEST_F(PlayerTest, VideoDecoderSkipsPicturesWhileTheDisplayFallsBehindAndNoneAfterAFlush) {
    TDecodeRig rig(Media().VideoOnly, false);
    ASSERT_NE(rig.Stream, nullptr);
    rig.RefreshPending = true; // the display is busy: nothing lowers the rate
    for (int i = 0; i < 15; ++i)
        rig.Decoder.FallBehind();
    EXPECT_NEAR(rig.Decoder.SkipRate(), std::pow(1.05, 15), 0.001);
    rig.Start();
    std::vector<double> times;
    ASSERT_TRUE(rig.TakeUntil(times, [&] { return rig.Events.Finished == 1; }));
    // About one picture of every 2.08 is kept.
    EXPECT_EQ(rig.Events.Queued + rig.Events.Skipped, 50);
    EXPECT_GE(rig.Events.Queued, 22);
    EXPECT_LE(rig.Events.Queued, 26);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));

    // A seek's flush starts again without skipping.
    ASSERT_TRUE(rig.Demuxer.RequestSeek(0, 0, rig.Demuxer.StartTime()));
    times.clear();
    ASSERT_TRUE(rig.TakeUntil(times, [&] { return rig.Events.Finished == 2; }));
    EXPECT_FLOAT_EQ(rig.Decoder.SkipRate(), 1.0f);
    ExpectTimes(times, Steps(0, 2));
}

TEST_F(PlayerTest, VideoDecoderWaitsWhileItMayNotDecodeAndEndsWhenTheHookSaysClosed) {
    TDecodeRig rig(Media().VideoOnly, true);
    ASSERT_NE(rig.Stream, nullptr);
    rig.Events.Allowed = false;
    rig.Events.HookLimit = 3;
    rig.Start();
    ASSERT_TRUE(WaitUntil([&] { return rig.Packets.PacketCount() >= 6; }));
    EXPECT_FALSE(WaitUntil([&] { return rig.Events.Flushes > 0; }, 0.3));
    rig.Events.Allowed = true;
    std::vector<double> times;
    // The fourth picture's hook fails: the decoder ends without queuing it,
    // while packets still wait.
    ASSERT_TRUE(rig.TakeUntil(
        times, [&] { return rig.Decoding.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(rig.Events.Hooks, 4);
    EXPECT_EQ(rig.Events.Queued, 3);
    ExpectTimes(times, Steps(0, 0.12));
    EXPECT_EQ(rig.Events.Finished, 0);
    EXPECT_FALSE(rig.Packets.Aborted());
}
