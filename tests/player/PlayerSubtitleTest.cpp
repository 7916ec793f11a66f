// Text subtitles drawn on the pictures: a SubRip track muxed into Matroska
// over a black picture, so the drawn text is the only light in the frame.
#include "PlayerTestSupport.h"

#include <fstream>

namespace {

// Light pixels (any channel above 128) in the upper and the lower half.
struct TLight {
    double PTS = 0;
    int Upper = 0;
    int Lower = 0;
};

int LightPixels(const std::uint8_t* row, int width, int bytesPerPixel) {
    int count = 0;
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = row + x * bytesPerPixel;
        count += p[0] > 128 || p[1] > 128 || p[2] > 128;
    }
    return count;
}

// Remembers, for every picture shown, its time and where it is light.
class TLightSurface : public TRecordingSurface {
public:
    TLightSurface() : TRecordingSurface(320, 240) {}
    void Show(const Bitmap32& picture, const TSurfaceRect& rect) override {
        TRecordingSurface::Show(picture, rect);
        TLight light;
        light.PTS = NextPTS;
        for (int y = 0; y < picture.Height; ++y)
            (y < picture.Height / 2 ? light.Upper : light.Lower) +=
                LightPixels(picture.Row(y), picture.Width, 4);
        std::lock_guard lock(Lock);
        Pictures.push_back(light);
    }
    std::atomic<double> NextPTS{0}; // set by the player just before Show
    std::vector<TLight> Pictures;   // under Lock
};

std::string MakeSubtitledFile(testsupport::TempDir& dir,
                              const std::string& times = "00:00:01,000 --> 00:00:02,000",
                              const std::string& video = "-c:v mpeg4") {
    std::string srt = dir.file("text.srt");
    std::ofstream(srt) << "1\n" << times << "\nHELLO WORLD\n\n";
    std::string mkv = dir.file("subtitled.mkv");
    EXPECT_TRUE(testsupport::RunFfmpeg("-f lavfi -i color=black:size=320x240:rate=25 -i " +
                                       testsupport::ShellQuote(srt) + " -t 3 " + video +
                                       " -q:v 2 -c:s srt " + testsupport::ShellQuote(mkv)));
    EXPECT_EQ(testsupport::ProbeValue(mkv, "stream=codec_name", "s:0"), "subrip");
    return mkv;
}

} // namespace

TEST_F(PlayerTest, TextSubtitlesAreDrawnWhileTheyAreDueAndKeptInTheCurrentFrame) {
    testsupport::TempDir dir;
    std::string file = MakeSubtitledFile(dir);
    TFFPlayer player;
    player.DisableAudio = true;
    TLightSurface surface;
    player.OnPictureShown = [&surface](double pts, double, bool) { surface.NextPTS = pts; };
    ASSERT_TRUE(player.Open(file, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return surface.NextPTS >= 1.4; }, 15));
    player.Pause();

    // The snapshot carries the text: light in the lower half only.
    std::int64_t pts = 0;
    const Bitmap24& frame = player.CurrentFrame(pts);
    ASSERT_EQ(frame.Width, 320);
    ASSERT_GE(pts, 1000000);
    ASSERT_LT(pts, 2000000);
    int upper = 0, lower = 0;
    for (int y = 0; y < frame.Height; ++y)
        (y < frame.Height / 2 ? upper : lower) += LightPixels(frame.Row(y), frame.Width, 3);
    EXPECT_EQ(upper, 0);
    EXPECT_GT(lower, 100);

    player.Resume();
    ASSERT_TRUE(WaitUntil([&] { return surface.NextPTS >= 2.5; }, 15));
    player.Close(true);
    std::lock_guard lock(surface.Lock);
    int during = 0, outside = 0;
    for (const TLight& light : surface.Pictures) {
        EXPECT_EQ(light.Upper, 0) << light.PTS;
        if (light.PTS > 1.05 && light.PTS < 1.95) {
            ++during;
            EXPECT_GT(light.Lower, 50) << light.PTS; // scaled to the panel
        } else if (light.PTS < 0.95 || light.PTS > 2.05) {
            ++outside;
            EXPECT_EQ(light.Lower, 0) << light.PTS;
        }
    }
    EXPECT_GT(during, 5);
    EXPECT_GT(outside, 10);
}

namespace {

// Light pixels of the current picture in the upper and the lower half, and
// its time.
TLight CurrentLight(TFFPlayer& player) {
    std::int64_t pts = 0;
    const Bitmap24& frame = player.CurrentFrame(pts);
    TLight light;
    light.PTS = pts / 1e6;
    for (int y = 0; y < frame.Height; ++y)
        (y < frame.Height / 2 ? light.Upper : light.Lower) +=
            LightPixels(frame.Row(y), frame.Width, 3);
    return light;
}

// Seeks the paused player with wait until the picture at `seconds` is shown.
TLight SeekAndLook(TFFPlayer& player, double seconds) {
    int shown = player.ShownPictures;
    player.Seek(0, true, static_cast<std::int64_t>(seconds * 1e6));
    EXPECT_TRUE(WaitUntil([&] { return player.ShownPictures > shown; }));
    return CurrentLight(player);
}

} // namespace

TEST_F(PlayerTest, TextSubtitleStartedBeforeASeekTargetIsShownOnceAtIt) {
    // The text is due from 0.5 s to 2.5 s; key frames every 0.4 s, so a seek
    // to 1.52 s reads on from 1.2 s, after the text's packet, and one to 0.72 s
    // reads the packet again.
    testsupport::TempDir dir;
    std::string file = MakeSubtitledFile(dir, "00:00:00,500 --> 00:00:02,500", "-c:v mpeg4 -g 10");
    TFFPlayer player;
    player.DisableAudio = true;
    TRecordingSurface surface(320, 240);
    ASSERT_TRUE(player.Open(file, &surface, false)) << player.LastErrMsg();
    ASSERT_TRUE(WaitUntil([&] { return player.ShownPictures > 0; }));
    player.Pause();

    TLight played = SeekAndLook(player, 1.0);
    ASSERT_NEAR(played.PTS, 1.0, 0.001);
    EXPECT_EQ(played.Upper, 0);
    EXPECT_GT(played.Lower, 100);

    TLight later = SeekAndLook(player, 1.52);
    EXPECT_NEAR(later.PTS, 1.52, 0.001);
    EXPECT_EQ(later.Upper, 0);
    EXPECT_EQ(later.Lower, played.Lower); // the same text, drawn once

    TLight earlier = SeekAndLook(player, 0.72);
    EXPECT_NEAR(earlier.PTS, 0.72, 0.001);
    EXPECT_EQ(earlier.Upper, 0);
    EXPECT_EQ(earlier.Lower, played.Lower);

    TLight over = SeekAndLook(player, 2.8);
    EXPECT_NEAR(over.PTS, 2.8, 0.001);
    EXPECT_EQ(over.Lower, 0);
    player.Close(true);
}
