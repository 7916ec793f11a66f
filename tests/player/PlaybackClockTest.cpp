// The display's clocks alone: the picture's time through a pause and a
// resume, and when a picture waits for the sound (the hold after an open or
// a seek, the sound that plays behind, the sound that does not play).
#include "player/PlaybackClock.h"

#include <gtest/gtest.h>

namespace {

// 48 kHz stereo, 16-bit, a 4096-byte output buffer.
constexpr double OutputSeconds = 4096.0 / 192000.0;
// 25 pictures a second: a picture half a frame ahead waits.
constexpr double Frame = 0.04;

struct TClocks {
    TClocks() { Sound.SetFormat(48000, 2, 4096); }
    TAudioClock Sound;
    std::atomic<bool> Paused{false};
    std::atomic<std::int64_t> HeldUntil{0};
    TPlaybackClock Clock{Sound, Paused, HeldUntil};
};

} // namespace

TEST(PlaybackClock, ThePicturesTimeStandsWhilePausedAndGoesOnFromThereOnResume) {
    TClocks c;
    EXPECT_DOUBLE_EQ(c.Clock.Video(100.0, 2.5), 2.5); // no picture yet: the file's start
    c.Clock.Shown(10.0, 100.0);
    EXPECT_DOUBLE_EQ(c.Clock.Video(100.5, 2.5), 10.5);
    c.Paused = true;
    EXPECT_DOUBLE_EQ(c.Clock.Video(101.0, 2.5), 10.0);
    // Paused at 100 s and resumed at 103 s: the queued pictures move by 3 s
    // and the display goes on from the picture it stood at.
    EXPECT_DOUBLE_EQ(c.Clock.StoodFor(103.0), 3.0);
    c.Clock.Resume(103.0, false);
    c.Paused = false;
    EXPECT_DOUBLE_EQ(c.Clock.Video(103.5, 2.5), 10.5);
    // A source that went on while paused: its time moved with the wall clock.
    c.Clock.Shown(20.0, 200.0);
    c.Paused = true;
    c.Clock.Resume(205.0, true);
    c.Paused = false;
    EXPECT_DOUBLE_EQ(c.Clock.Video(206.0, 2.5), 26.0);
}

TEST(PlaybackClock, WhileTheSoundIsHeldOnlyTheFirstPictureGoesUp) {
    TClocks c;
    c.Sound.SetDecoded(5.0);
    c.Sound.Called(1000000, 0, true);
    c.Clock.HoldSound(2500000);
    EXPECT_EQ(c.HeldUntil.load(), 2500000);
    EXPECT_FALSE(c.Sound.Tells());
    EXPECT_FALSE(c.Clock.AheadOfSound(5.0, Frame, 1010000, true)); // the first picture
    EXPECT_TRUE(c.Clock.AheadOfSound(5.04, Frame, 1020000, true));
    EXPECT_TRUE(c.Clock.AheadOfSound(5.04, Frame, 2499999, true));
    EXPECT_FALSE(c.Clock.AheadOfSound(5.04, Frame, 2500000, true)); // the hold's limit
    // Let go by the decoder, the pictures wait for a running output only.
    c.HeldUntil = 0;
    EXPECT_FALSE(c.Clock.AheadOfSound(5.04, Frame, 3000000, true));
    c.Sound.CalledHeld(3000000);
    EXPECT_TRUE(c.Clock.AheadOfSound(5.04, Frame, 3000000, true));
    // A new hold lets the first picture up again.
    c.Clock.HoldSound(4000000);
    EXPECT_FALSE(c.Clock.AheadOfSound(5.04, Frame, 3000000, true));
}

TEST(PlaybackClock, APictureWaitsWhenHalfAFrameAheadOfTheSoundThatPlays) {
    TClocks c;
    c.Sound.SetDecoded(10.0);
    c.Sound.Called(1000000, 0, true);
    const double heard = 10.0 - OutputSeconds;
    EXPECT_NEAR(c.Clock.Sound(1.0), heard, 1e-9);
    EXPECT_TRUE(c.Clock.AheadOfSound(heard + 0.03, Frame, 1000000, true));
    EXPECT_FALSE(c.Clock.AheadOfSound(heard + 0.01, Frame, 1000000, true));
    EXPECT_FALSE(c.Clock.AheadOfSound(heard + 0.03, Frame, 1000000, false)); // no sound
    // The output stopped calling: nothing holds the pictures back.
    EXPECT_FALSE(c.Clock.AheadOfSound(heard + 0.03, Frame, 1200000, true));
    c.Paused = true;
    EXPECT_FALSE(c.Clock.AheadOfSound(heard + 0.03, Frame, 1000000, true));
}
