// What the player hands on: the samples SDL plays (through its "disk"
// driver); Close with a read that blocks on a stalled network input, with a
// playback thread that does not answer and with a hook that does not return.
#include "PlayerTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

using testsupport::TScopedEnv;

struct TPlayerPipelineAccess {
    static TPlaybackState* State(TCustomPlayer& player) { return player.FStream.load(); }
    static std::recursive_timed_mutex& PlayerLock(TCustomPlayer& player) {
        return player.FPlayerLock;
    }
    static std::weak_ptr<TPlaybackState> Owner(TCustomPlayer& player) {
        return player.HeldStream();
    }
};

namespace {

std::vector<std::int16_t> ReadSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                               static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
    return samples;
}

std::size_t FirstNonZero(const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0) return i;
    return samples.size();
}

// Plays the tone to its end through the disk driver; the samples written.
std::vector<std::int16_t> PlayToDisk(const std::string& tone, const std::string& out, int volume,
                                     bool mute) {
    TScopedEnv driver("SDL_AUDIODRIVER", "disk");
    TScopedEnv file("SDL_DISKAUDIOFILE", out);
    TFFPlayer player;
    TSeen seen;
    seen.Attach(player);
    player.DisableDisplay = true;
    player.AudioVolume = volume;
    player.Mute = mute;
    EXPECT_TRUE(player.Open(tone, nullptr, false)) << player.LastErrMsg();
    EXPECT_TRUE(WaitUntil([&] { return seen.Has(psEnd); }, 15));
    // The end is reported once the queues are empty; the last buffers are
    // still on their way out.
    EXPECT_TRUE(WaitUntil([&] { return player.CurrentPosition() >= 1000000; }, 5));
    player.Close(true);
    return ReadSamples(out);
}

// The tone as ffmpeg decodes it.
std::vector<std::int16_t> ToneSamples(const std::string& tone, const testsupport::TempDir& dir) {
    std::string raw = dir.file("tone.raw");
    EXPECT_TRUE(testsupport::RunFfmpeg("-i " + testsupport::ShellQuote(tone) + " -f s16le -ac 1 " +
                                       testsupport::ShellQuote(raw)));
    return ReadSamples(raw);
}

} // namespace

TEST_F(PlayerTest, SamplesArePlayedAtTheMixingVolumeAndMutedAsSilence) {
    testsupport::TempDir dir;
    std::vector<std::int16_t> expected = ToneSamples(Media().Tone, dir);
    ASSERT_EQ(expected.size(), 44100u);
    std::size_t e0 = FirstNonZero(expected);

    for (int volume : {128, 64}) {
        SCOPED_TRACE(volume);
        auto played = PlayToDisk(Media().Tone, dir.file("out" + std::to_string(volume) + ".raw"),
                                 volume, false);
        std::size_t p0 = FirstNonZero(played);
        ASSERT_GE(played.size(), p0 + expected.size() - e0);
        int mismatches = 0;
        for (std::size_t i = 0; e0 + i < expected.size(); ++i)
            mismatches += played[p0 + i] != expected[e0 + i] * volume / 128;
        EXPECT_EQ(mismatches, 0);
    }
    auto muted = PlayToDisk(Media().Tone, dir.file("muted.raw"), 128, true);
    EXPECT_GE(muted.size(), expected.size());
    EXPECT_EQ(FirstNonZero(muted), muted.size());
}

namespace {

// Serves `data` to the first client on a local port, then keeps the
// connection open without sending more until stopped.
class TStallingServer {
public:
    explicit TStallingServer(std::string data) : FData(std::move(data)) {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        socklen_t length = sizeof(address);
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length);
        Port = ntohs(address.sin_port);
        ::listen(FListen, 1);
        FThread = std::thread([this] { Serve(); });
    }
    ~TStallingServer() {
        FStop = true;
        ::shutdown(FListen, SHUT_RDWR);
        ::close(FListen);
        FThread.join();
    }
    int Port = 0;

private:
    void Serve() {
        int client = ::accept(FListen, nullptr, nullptr);
        if (client < 0) return;
        std::size_t sent = 0;
        while (sent < FData.size()) {
            ssize_t n = ::send(client, FData.data() + sent, FData.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        while (!FStop)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::close(client);
    }
    std::string FData;
    int FListen = -1;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

} // namespace

TEST_F(PlayerTest, CloseReturnsWhileTheReadBlocksAndASecondSeekIsIgnored) {
    testsupport::TempDir dir;
    std::string ts = dir.file("stream.ts");
    ASSERT_TRUE(testsupport::MakeMedia(
        ts, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 8 -c:v mpeg2video -g 10 -f mpegts"));
    std::ifstream in(ts, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TStallingServer server(data.substr(0, data.size() * 7 / 8 / 188 * 188));

    TFFPlayer player;
    player.DisableAudio = true;
    TRecordingSurface surface(160, 120);
    ASSERT_TRUE(player.Open("tcp://127.0.0.1:" + std::to_string(server.Port), &surface, false))
        << player.LastErrMsg();
    TPlaybackState* state = TPlayerPipelineAccess::State(player);
    ASSERT_NE(state, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return state->Input.Reading() && player.ShownPictures > 0; }, 15));

    // The read thread sits in the library read: the first seek stays pending
    // and the second is dropped.
    player.Seek(0, false, 1000000);
    std::int64_t pending = state->Input.PendingSeekPosition();
    player.Seek(0, false, 3000000);
    EXPECT_TRUE(state->Input.SeekPending());
    EXPECT_EQ(state->Input.PendingSeekPosition(), pending);
    EXPECT_EQ(pending, 1000000 + state->Input.StartTime());

    auto started = std::chrono::steady_clock::now();
    player.Close(true);
    EXPECT_FALSE(player.FileOpen());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST_F(PlayerTest, CloseShutsThePipelineDownItselfWhenThePlaybackThreadDoesNotAnswer) {
    TFFPlayer player;
    player.DisableAudio = true;
    TRecordingSurface surface(160, 120);
    ASSERT_TRUE(player.Open(Media().VideoOnly, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 0; }));

    // This thread holds the player lock, so the playback thread never gets to
    // its quit requests (the lock is recursive: Close still takes it). The
    // pump that Close serves while it waits lets go once the file is closed,
    // or after a deadline so that a failure cannot hang the test.
    std::recursive_timed_mutex& lock = TPlayerPipelineAccess::PlayerLock(player);
    lock.lock();
    bool held = true, closedWhileHeld = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    SetMessagePumpHook([&] {
        if (!held) return;
        closedWhileHeld = !player.FileOpen();
        if (closedWhileHeld || std::chrono::steady_clock::now() > deadline) {
            held = false;
            lock.unlock();
        }
    });
    auto started = std::chrono::steady_clock::now();
    player.Close(true);
    auto took = std::chrono::steady_clock::now() - started;
    SetMessagePumpHook(nullptr);
    if (held) lock.unlock();
    EXPECT_TRUE(closedWhileHeld);
    EXPECT_FALSE(player.FileOpen());
    // Twenty quit requests 100 ms apart went unanswered first.
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::seconds(15));
    // The player opens again afterwards.
    int shown = player.ShownPictures;
    ASSERT_TRUE(player.Open(Media().VideoOnly, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > shown; }));
    player.Close(true);
}

TEST_F(PlayerTest, SeekWithWaitNearTheEndReturnsWithThePictureAtTheAskedTime) {
    // One key frame only, so the seek decodes 70 pictures, while the read
    // reaches the end of the file at once.
    testsupport::TempDir dir;
    std::string file = dir.file("long-gop.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(
        file, "-f lavfi -i testsrc2=size=1280x720:rate=25 -t 3 -c:v mpeg4 -g 100 -q:v 5"));
    TFFPlayer player;
    player.DisableAudio = true;
    TRecordingSurface surface(320, 180);
    ASSERT_TRUE(player.Open(file, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 0; }));
    player.Pause();
    player.Seek(0, true, 2800000);
    TPlaybackState* state = TPlayerPipelineAccess::State(player);
    ASSERT_NE(state, nullptr);
    TPictureFront front;
    bool queued = state->Pictures.Front(front) && front.PTS > 2.799;
    bool shown;
    {
        std::lock_guard lock(state->LastShownLock);
        shown = state->LastShownPTS > 2.799;
    }
    EXPECT_TRUE(queued || shown);
    player.Close(true);
}

TEST_F(PlayerTest, CloseGivesUpOnAHookThatDoesNotReturnAndTheHookEndsSafelyLater) {
    using namespace std::chrono_literals;
    auto player = std::make_unique<TFFPlayer>();
    player->DisableAudio = true;
    TRecordingSurface surface(160, 120);
    TManualEvent entered(false), release(false), returned(false), closed(false);
    player->OnHook = [&](TCustomPlayer*, Bitmap24& bitmap, const std::int64_t) {
        entered.Set();
        if (!release.WaitFor(60s)) return;
        bitmap.Row(0)[0] = 255; // the bitmap handed over is still there
        returned.Set();
    };
    player->Hook = true;
    ASSERT_TRUE(player->Open(Media().VideoOnly, &surface, false)) << player->LastErrMsg();
    ASSERT_TRUE(entered.WaitFor(10s));
    std::weak_ptr<TPlaybackState> state = TPlayerPipelineAccess::Owner(*player);
    ASSERT_FALSE(state.expired());
    // Without a bound Close would wait for the hook: this lets the hook go
    // late, so the test fails instead of hanging.
    std::thread watchdog([&] {
        if (!closed.WaitFor(30s)) release.Set();
    });
    auto started = std::chrono::steady_clock::now();
    player->Close(true);
    auto took = std::chrono::steady_clock::now() - started;
    closed.Set();
    watchdog.join();
    EXPECT_LT(took, 10s);
    EXPECT_FALSE(player->FileOpen());
    EXPECT_FALSE(returned.IsSet());
    EXPECT_FALSE(state.expired()); // the hook's thread still holds what it uses

    // The player plays again, and is destroyed, while the old hook blocks.
    player->Hook = false;
    int shown = player->ShownPictures;
    ASSERT_TRUE(player->Open(Media().VideoOnly, &surface, false)) << player->LastErrMsg();
    EXPECT_TRUE(WaitUntil([&] { return player->ShownPictures > shown; }));
    player.reset();

    release.Set();
    EXPECT_TRUE(returned.WaitFor(10s));
    // The left thread ends and lets its pipeline state go.
    EXPECT_TRUE(WaitUntil([&] { return state.expired(); }, 10));
}
