// The player on media made at test time: opening and bad input, playing to
// the end with positions and states, the display rectangle, pause, step,
// seeks, the hook, audio-only files and a missing audio device.
#include "PlayerTestSupport.h"

#include "media/FFUtils.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

using testsupport::TScopedEnv;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Frame time of the picture on the display, microseconds.
std::int64_t ShownPts(TFFPlayer& player) {
    std::int64_t pts = -2;
    player.CurrentFrame(pts);
    return pts;
}

} // namespace

// ---- Bad input ----

TEST_F(PlayerTest, FilesThatCannotPlayFailWithTheReasonAndLeaveNothingRunning) {
    TPlayerLog log;
    TFFPlayer player;
    TRecordingSurface surface(320, 240);
    std::string missing = Media().Dir.file("missing.mkv");
    EXPECT_FALSE(player.Open(missing, &surface, false));
    EXPECT_EQ(player.LastErrMsg(), MediaErrorText(missing, AVERROR(ENOENT)));
    EXPECT_FALSE(player.FileOpen());

    std::string text = Media().Dir.file("notes.mkv");
    WriteText(text, "this is not a media file at all\n");
    EXPECT_FALSE(player.Open(text, &surface, false));
    EXPECT_NE(player.LastErrMsg().find(text), std::string::npos) << player.LastErrMsg();

    // Subtitles alone: nothing to play.
    std::string subtitles = Media().Dir.file("only.srt");
    WriteText(subtitles, "1\n00:00:00,000 --> 00:00:01,000\nhello\n\n");
    EXPECT_FALSE(player.Open(subtitles, &surface, false));
    EXPECT_EQ(player.LastErrMsg(), subtitles + ": could not open codecs, no stream to play.");

    // Cut off after its first bytes.
    std::ifstream in(Media().AudioVideo, std::ios::binary);
    std::string head(200, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::string cut = Media().Dir.file("cut.mkv");
    WriteText(cut, head);
    EXPECT_FALSE(player.Open(cut, &surface, false));
    EXPECT_FALSE(player.LastErrMsg().empty());

    EXPECT_EQ(surface.Shown, 0);
    EXPECT_TRUE(player.IsPaused()); // closed
    player.Close(true);             // nothing open: returns at once
    EXPECT_FALSE(player.FileOpen());
}

// ---- Playing ----

TEST_F(PlayerTest, PlaysToTheEndReportingClampedCoalescedPositions) {
    TFFPlayer player;
    TSeen seen;
    seen.Attach(player);
    std::int64_t duration = 0;
    int frameWidth = 0, frameHeight = 0;
    player.OnFileOpen = [&](TCustomPlayer*, const std::int64_t d, const int w, const int h, int&,
                            int&) {
        duration = d;
        frameWidth = w;
        frameHeight = h;
    };
    TRecordingSurface surface(320, 240);
    ASSERT_TRUE(player.Open(Media().AudioVideo, &surface, false)) << player.LastErrMsg();
    EXPECT_EQ(frameWidth, 160);
    EXPECT_EQ(frameHeight, 120);
    std::int64_t probed = std::llround(
        std::stod(testsupport::ProbeValue(Media().AudioVideo, "format=duration")) * 1000000.0);
    EXPECT_NEAR(static_cast<double>(duration), static_cast<double>(probed), 1000);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return seen.Has(psEnd) && !seen.Positions.empty() && seen.Positions.back() == duration;
        },
        15));
    EXPECT_EQ(seen.States.front(), psPlay);
    // Reports more than 10 ms apart, never past the end, the end itself last.
    for (std::size_t i = 1; i + 1 < seen.Positions.size(); ++i)
        EXPECT_GT(std::llabs(seen.Positions[i] - seen.Positions[i - 1]), 10000) << i;
    EXPECT_LE(*std::max_element(seen.Positions.begin(), seen.Positions.end()), duration);
    EXPECT_EQ(seen.Positions.back(), duration);
    // Of the 50 pictures, each is shown once, scaled to the panel, or
    // skipped as late (how many depends on the machine's load, which a
    // test cannot fix; the player benchmark measures it).
    EXPECT_GE(player.ShownPictures.load(), 1);
    EXPECT_LE(player.ShownPictures.load() + player.DroppedPictures.load(), 50);
    {
        std::lock_guard lock(surface.Lock);
        EXPECT_EQ(surface.ModeWidth, 320);
        EXPECT_EQ(surface.ModeHeight, 240);
        EXPECT_EQ(surface.LastRect.X, 0);
        EXPECT_EQ(surface.LastRect.Width, 320);
        EXPECT_EQ(surface.Last.Width, 320);
    }
    player.Close(true);
    EXPECT_TRUE(WaitUntil([&] { return seen.Has(psStop); }, 5));
    EXPECT_FALSE(player.FileOpen());
}

TEST_F(PlayerTest, PictureIsCentredAtItsAspectInTheDisplaySizeTheHostChose) {
    TFFPlayer player;
    player.DisableAudio = true;
    player.OnFileOpen = [](TCustomPlayer*, const std::int64_t, const int, const int, int& sw,
                           int& sh) {
        sw = 400;
        sh = 200;
    };
    TRecordingSurface surface(100, 100);
    ASSERT_TRUE(player.Open(Media().Wide, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 0; }));
    {
        // 80x90 at 2:1 pixels is 160:90; 200 high gives 355.6 -> 356, even.
        std::lock_guard lock(surface.Lock);
        EXPECT_EQ(surface.ModeWidth, 400);
        EXPECT_EQ(surface.ModeHeight, 200);
        EXPECT_EQ(surface.LastRect.Height, 200);
        EXPECT_EQ(surface.LastRect.Width, 356);
        EXPECT_EQ(surface.LastRect.X, 22);
        EXPECT_EQ(surface.LastRect.Y, 0);
    }
    // A negative aspect fills the whole display area.
    player.SetAspectRatio(-1);
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard lock(surface.Lock);
        return surface.LastRect.Width == 400;
    }));
    player.Close(true);
}

TEST_F(PlayerTest, AudioOnlyFileShowsTheWaveformAndHasNoCurrentFrame) {
    TFFPlayer player;
    TSeen seen;
    seen.Attach(player);
    TRecordingSurface surface(200, 100);
    ASSERT_TRUE(player.Open(Media().Tone, &surface, false)) << player.LastErrMsg();
    std::int64_t pts = 0;
    const Bitmap24& frame = player.CurrentFrame(pts);
    EXPECT_EQ(frame.Width, 0);
    EXPECT_EQ(frame.Height, 0);
    EXPECT_EQ(pts, -1);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return seen.Has(psEnd) && !seen.Positions.empty() && seen.Positions.back() == 1000000;
        },
        10))
        << (seen.Positions.empty() ? -1 : seen.Positions.back()) << " " << seen.Has(psEnd);
    {
        std::lock_guard lock(surface.Lock);
        ASSERT_GT(surface.Shown, 0);
        ASSERT_EQ(surface.Last.Width, 200);
        int white = 0, other = 0;
        for (std::size_t i = 0; i < surface.Last.Data.size(); i += 4) {
            std::uint8_t b = surface.Last.Data[i];
            white += b == 255;
            other += b != 0 && b != 255;
        }
        EXPECT_GT(white, 200); // the wave crosses every column
        EXPECT_EQ(other, 0);   // white on black only
    }
    // Positions come from the audio clock and rise to the end.
    ASSERT_GE(seen.Positions.size(), 5u);
    std::string list;
    for (auto p : seen.Positions)
        list += std::to_string(p) + " ";
    EXPECT_TRUE(std::is_sorted(seen.Positions.begin(), seen.Positions.end())) << list;
    EXPECT_EQ(seen.Positions.back(), 1000000);
    player.Close(true);
}

TEST_F(PlayerTest, WithoutAnAudioDeviceThePictureStillPlays) {
    TPlayerLog log;
    TScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    TFFPlayer player;
    TSeen seen;
    seen.Attach(player);
    TRecordingSurface surface(160, 120);
    ASSERT_TRUE(player.Open(Media().AudioVideo, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return seen.Has(psEnd); }, 15));
    EXPECT_GE(player.ShownPictures.load(), 1);
    EXPECT_LE(player.ShownPictures.load() + player.DroppedPictures.load(), 50);
    EXPECT_TRUE(log.Contains("SDL_OpenAudio() failed: "));
    player.Close(true);
}

// ---- Pause, step, seek ----

TEST_F(PlayerTest, PauseTwiceResumeAndStepOneFrame) {
    TFFPlayer player;
    TSeen seen;
    seen.Attach(player);
    player.DisableAudio = true;
    TRecordingSurface surface(160, 120);
    ASSERT_TRUE(player.Open(Media().VideoOnly, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures >= 3; }));
    player.Pause();
    player.Pause();
    EXPECT_TRUE(player.IsPaused());
    ASSERT_TRUE(WaitUntil([&] { return seen.Has(psPause); }));
    EXPECT_EQ(seen.Count(psPause), 1);

    int shown = player.ShownPictures;
    std::int64_t before = ShownPts(player);
    player.StepFrame();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > shown && !player.Stepping(); }));
    ASSERT_TRUE(WaitUntil([&] { return seen.Has(psStep); }));
    // Exactly one new picture, the next one, and the file stays paused.
    WaitUntil([] { return false; }, 0.3);
    EXPECT_EQ(player.ShownPictures.load(), shown + 1);
    EXPECT_EQ(ShownPts(player), before + 40000);
    EXPECT_TRUE(player.IsPaused());
    EXPECT_EQ(seen.Count(psStep), 1);

    player.Resume();
    ASSERT_TRUE(WaitUntil([&] { return seen.Has(psResume); }));
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > shown + 3; }));
    EXPECT_FALSE(player.IsPaused());
    player.Close(true);
}

TEST_F(PlayerTest, SeekWithWaitShowsThePictureAtTheAskedTime) {
    TFFPlayer player;
    player.DisableAudio = true;
    TRecordingSurface surface(160, 120);
    ASSERT_TRUE(player.Open(Media().VideoOnly, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 0; }));
    player.Pause();
    // 1.32 s is frame 33, three after the key frame at 30.
    int shown = player.ShownPictures;
    player.Seek(0, true, 1320000);
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > shown; }));
    std::int64_t pts = 0;
    const Bitmap24& frame = player.CurrentFrame(pts);
    EXPECT_EQ(pts, 1320000);
    ASSERT_EQ(frame.Width, 160);
    ASSERT_EQ(frame.Height, 120);
    auto oracle = OracleFrame(Media().VideoOnly, 33, 160, 120);
    ASSERT_FALSE(oracle.empty());
    EXPECT_LT(MeanDifference(frame, oracle), 3.0);
    EXPECT_GT(MeanDifference(frame, OracleFrame(Media().VideoOnly, 30, 160, 120)), 3.0);
    EXPECT_TRUE(player.IsPaused());
    player.Close(true);
}

TEST_F(PlayerTest, SeekBeyondTheEndShowsTheLastPictureAndRewindShowsTheFirst) {
    TFFPlayer player;
    TSeen seen;
    seen.Attach(player);
    player.DisableAudio = true;
    TRecordingSurface surface(160, 120);
    ASSERT_TRUE(player.Open(Media().VideoOnly, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 0; }));
    int shown = player.ShownPictures;
    player.Seek(0, true, 100000000);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return seen.Has(psEnd) && player.ShownPictures > shown && !seen.Positions.empty() &&
                   seen.Positions.back() == 2000000;
        },
        10))
        << seen.Has(psEnd) << " " << player.ShownPictures << "/" << shown << " "
        << (seen.Positions.empty() ? -1 : seen.Positions.back());
    EXPECT_EQ(ShownPts(player), 1960000);

    // The host rewinds at the end with "any frame" to 0.
    shown = player.ShownPictures;
    player.Pause();
    player.Seek(4, true, 0);
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > shown; }));
    std::int64_t pts = 0;
    const Bitmap24& frame = player.CurrentFrame(pts);
    EXPECT_EQ(pts, 0);
    EXPECT_LT(MeanDifference(frame, OracleFrame(Media().VideoOnly, 0, 160, 120)), 3.0);
    player.Close(true);
}

// ---- The hook ----

TEST_F(PlayerTest, HookDrawsIntoTheShownPictureAndARaisingHookChangesNothing) {
    TPlayerLog log;
    TFFPlayer player;
    player.DisableAudio = true;
    player.Hook = true;
    std::atomic<int> calls{0};
    std::atomic<bool> raise{false};
    player.OnHook = [&](TCustomPlayer*, Bitmap24& bitmap, const std::int64_t) {
        ++calls;
        if (raise) throw std::runtime_error("drawing failed");
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x) {
                std::uint8_t* p = bitmap.Row(y) + x * 3;
                p[0] = 0;   // blue
                p[1] = 0;   // green
                p[2] = 255; // red
            }
    };
    TRecordingSurface surface(160, 120);
    ASSERT_TRUE(player.Open(Media().VideoOnly, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 2; }));
    player.Pause();
    const Bitmap24& frame = player.CurrentFrame();
    ASSERT_EQ(frame.Width, 160);
    const std::uint8_t* inside = frame.Row(20) + 20 * 3;
    EXPECT_LT(inside[0], 40);
    EXPECT_GT(inside[2], 200);

    raise = true;
    int shown = player.ShownPictures;
    player.Resume();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > shown + 3; }));
    EXPECT_TRUE(log.Contains("Error occurs OnHook: drawing failed"));
    player.Pause();
    std::int64_t pts = 0;
    const Bitmap24& plain = player.CurrentFrame(pts);
    int index = static_cast<int>(pts / 40000);
    EXPECT_LT(MeanDifference(plain, OracleFrame(Media().VideoOnly, index, 160, 120)), 3.0);
    player.Close(true);
}

// ---- Host calls while the pipeline goes away ----

TEST_F(PlayerTest, HostCallsWhileThePipelineShutsDownDoNothingHarmful) {
    for (int round = 0; round < 3; ++round) {
        TFFPlayer player;
        TRecordingSurface surface(160, 120);
        ASSERT_TRUE(player.Open(Media().AudioVideo, &surface, false)) << player.LastErrMsg();
        ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 0; }));
        // Close without waiting (as the trim dialog does): the playback
        // thread tears the pipeline down while the host goes on calling.
        player.Close(false);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int calls = 0;
        while ((player.FileOpen() || calls < 20) && std::chrono::steady_clock::now() < deadline) {
            player.Seek(0, false, 500000 * (calls % 4));
            player.StepFrame();
            if (player.IsPaused())
                player.Resume();
            else
                player.Pause();
            player.CurrentFrame();
            ServiceMainThread(std::chrono::milliseconds(1));
            ++calls;
        }
        EXPECT_FALSE(player.FileOpen()) << round;
        player.Close(true);
        // Closed: every call does nothing and gives the empty answers.
        player.Seek(0, true, 1000000);
        player.Pause();
        EXPECT_TRUE(player.IsPaused());
        std::int64_t pts = 0;
        EXPECT_EQ(player.CurrentFrame(pts).Width, 0);
        EXPECT_EQ(pts, -1);
    }
}

// ---- Rotation ----

// A file turned only by the older "rotate" tag (no display matrix) stands
// upright in the player as it does in the probe and the conversion.
TEST_F(PlayerTest, RotateTagAloneTurnsThePictureUpright) {
    testsupport::TempDir dir;
    const std::string tagged = dir.file("tagged.mkv");
    ASSERT_TRUE(testsupport::MakeMedia(tagged, "-f lavfi -i testsrc2=size=96x64:rate=10 -t 1 "
                                               "-c:v mpeg4 -metadata:s:v:0 ROTATE=90"));
    ASSERT_EQ(testsupport::ProbeValue(tagged, "stream_tags=rotate"), "90");
    ASSERT_EQ(testsupport::ProbeValue(tagged, "stream_side_data=rotation"), "");
    TFFPlayer player;
    player.DisableAudio = true;
    int width = 0, height = 0;
    player.OnFileOpen = [&](TCustomPlayer*, const std::int64_t, const int w, const int h, int&,
                            int&) {
        width = w;
        height = h;
    };
    TRecordingSurface surface(200, 200);
    ASSERT_TRUE(player.Open(tagged, &surface, false)) << player.LastErrMsg();
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 96);
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 0; }));
    {
        // Upright 64x96 centred in the 200x200 display: 133 wide at most.
        std::lock_guard lock(surface.Lock);
        EXPECT_EQ(surface.LastRect.Height, 200);
        EXPECT_LT(surface.LastRect.Width, surface.LastRect.Height);
    }
    player.Close(true);
}
