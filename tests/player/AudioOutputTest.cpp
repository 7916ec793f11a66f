// The sound output alone, fed by the demuxer from a tone made at test time
// and called by the test as the device would: the samples played are the
// file's (ffmpeg's decoding as the oracle), a seek drops the sound before
// its target, a hold, a mute and a pause play silence, and the waveform
// shows what was played.
#include "PlayerTestSupport.h"

#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "player/AudioOutput.h"
#include "player/Demuxer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>

namespace {

using namespace std::chrono_literals;

class TToneEvents : public IDemuxerEvents {
public:
    explicit TToneEvents(TAudioOutput& output) : Output(output) {}
    void SeekMoving(double exact) override { Output.SeekStarting(exact); }
    void SeekLanded(bool, double) override {}
    void SeekDone() override { ++Done; }
    void ReadStopped(bool atEnd, int, bool) override { Ended = Ended || atEnd; }
    std::atomic<int> Done{0};
    std::atomic<bool> Ended{false};

private:
    TAudioOutput& Output;
};

// The tone read into the output's queue; the output opened without a
// device at the file's own format.
struct TSoundRig {
    std::atomic<bool> Abort{false}, Paused{false}, Mute{false};
    std::atomic<int> Volume{128}, KeepWave{1};
    std::atomic<std::int64_t> HeldUntil{0};
    TDemuxer Demuxer{Abort, Paused};
    TPacketQueue Packets;
    TAudioClock Clock;
    TAudioOutput Output{TAudioLinks{Packets, Clock, Paused, HeldUntil, KeepWave}};
    TToneEvents Events{Output};
    ff::CodecContextPtr Codec;
    std::future<int> Reader;

    explicit TSoundRig(const std::string& file) {
        EXPECT_EQ(Demuxer.Open(file, ""), "");
        int index = Demuxer.ChooseStreams(false, true).Audio;
        AVStream* stream = Demuxer.Stream(index);
        if (!stream) return;
        Codec = OpenStreamCodec(*stream);
        if (!Codec) return;
        Clock.SetFormat(Codec->sample_rate, 1, 4096);
        Packets.Start();
        Packets.PutFlush();
        Demuxer.Feed(TFeed::Audio, index, Packets);
        Output.Start(Codec.get(), stream, Mute, Volume, nullptr);
        Reader = std::async(std::launch::async, [this] { return Demuxer.Run(Events); });
    }
    // `count` samples as the device would take them, 512 at a call.
    std::vector<std::int16_t> Play(int count) {
        std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
        for (int at = 0; at < count; at += 512) {
            int n = std::min(512, count - at);
            Output.Fill(reinterpret_cast<std::uint8_t*>(samples.data() + at), n * 2);
        }
        return samples;
    }
    ~TSoundRig() {
        Abort = true;
        Packets.Abort();
        if (Reader.valid()) Reader.wait();
        Output.Close();
        std::lock_guard lock(CodecLock());
        Codec.reset();
    }
};

// ffmpeg's decoding of `file` as mono signed 16-bit samples.
std::vector<std::int16_t> OracleSamples(const std::string& file, const std::string& raw) {
    EXPECT_TRUE(testsupport::RunFfmpeg("-i " + testsupport::ShellQuote(file) + " -f s16le -ac 1 " +
                                       testsupport::ShellQuote(raw)));
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

bool AllZero(const std::vector<std::int16_t>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](std::int16_t s) { return s == 0; });
}

} // namespace

TEST_F(PlayerTest, AudioOutputPlaysTheFileSamplesAndFromTheSeekTargetOn) {
    const std::vector<std::int16_t> oracle =
        OracleSamples(Media().Tone, Media().Dir.file("tone_oracle.raw"));
    ASSERT_EQ(oracle.size(), 44100u);
    TSoundRig rig(Media().Tone);
    ASSERT_TRUE(rig.Codec);
    ASSERT_TRUE(WaitUntil([&] { return rig.Events.Ended.load(); }));
    std::vector<std::int16_t> played = rig.Play(44100);
    EXPECT_EQ(played, oracle);
    EXPECT_NEAR(rig.Clock.Decoded(), 1.0, 0.001);
    EXPECT_TRUE(rig.Clock.Tells());
    // Past the end: silence, the clock stays.
    EXPECT_TRUE(AllZero(rig.Play(2048)));
    EXPECT_NEAR(rig.Clock.Decoded(), 1.0, 0.001);

    // The packets from the one holding 0.5 s on are read again; the sound
    // before 0.5 s in it is not played.
    ASSERT_TRUE(rig.Demuxer.RequestSeek(0, 0, rig.Demuxer.StartTime() + 500000));
    ASSERT_TRUE(WaitUntil([&] { return rig.Events.Done == 1 && rig.Packets.PacketCount() > 2; }));
    played = rig.Play(4096);
    std::vector<std::int16_t> due(oracle.begin() + 22050, oracle.begin() + 22050 + 4096);
    EXPECT_EQ(played, due);
}

TEST_F(PlayerTest, AudioOutputPlaysSilenceWhileHeldMutedOrPausedAndTheWaveformShowsThePlayed) {
    TSoundRig rig(Media().Tone);
    ASSERT_TRUE(rig.Codec);
    ASSERT_TRUE(WaitUntil([&] { return rig.Events.Ended.load(); }));
    const int queued = rig.Packets.PacketCount();

    // Held: silence, nothing taken, the clock stands.
    rig.HeldUntil = ff::avutil.av_gettime() + 60000000;
    EXPECT_TRUE(AllZero(rig.Play(2048)));
    EXPECT_EQ(rig.Packets.PacketCount(), queued);
    EXPECT_FALSE(rig.Clock.Tells());
    // The time passed: the hold ends by itself.
    rig.HeldUntil = ff::avutil.av_gettime() - 1;
    EXPECT_FALSE(AllZero(rig.Play(2048)));
    EXPECT_EQ(rig.HeldUntil, 0);

    // Muted: silence, but the sound goes on (the clock moves).
    rig.Mute = true;
    double before = rig.Clock.Decoded();
    EXPECT_TRUE(AllZero(rig.Play(8192)));
    EXPECT_GT(rig.Clock.Decoded(), before + 0.1);
    rig.Mute = false;

    // Paused: what was decoded plays out, then silence without decoding.
    rig.Paused = true;
    rig.Play(8192);
    int left = rig.Packets.PacketCount();
    EXPECT_TRUE(AllZero(rig.Play(2048)));
    EXPECT_EQ(rig.Packets.PacketCount(), left);

    // The waveform: the tone's swing, and while paused the same samples.
    std::vector<std::int16_t> wave, again;
    ASSERT_TRUE(rig.Output.WaveSamples(300, 1, false, 0, wave));
    ASSERT_EQ(wave.size(), 300u);
    auto [low, high] = std::minmax_element(wave.begin(), wave.end());
    EXPECT_LT(*low, -3000); // the tone swings to about 4096
    EXPECT_GT(*high, 3000);
    ASSERT_TRUE(rig.Output.WaveSamples(300, 1, true, 5, again));
    EXPECT_EQ(again, wave);
}
