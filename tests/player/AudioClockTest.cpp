// The audio clock alone: the sound heard between the output's calls, what
// silence and a hold do to it, and when the output counts as running.
#include "player/AudioClock.h"

#include <gtest/gtest.h>

namespace {

// 48 kHz stereo, 16-bit: 192,000 bytes a second; a 4096-byte output buffer.
constexpr int SampleRate = 48000;
constexpr int OutputBytes = 4096;
constexpr double OutputSeconds = 4096.0 / 192000.0;

// A clock whose output has just opened.
struct TOpenClock : TAudioClock {
    TOpenClock() { SetFormat(SampleRate, 2, OutputBytes); }
};

} // namespace

TEST(AudioClock, TheSoundHeardRunsOnFromTheLastCallWithinTheOutputBuffer) {
    TOpenClock clock;
    EXPECT_DOUBLE_EQ(clock.BufferSeconds(), OutputSeconds);
    clock.SetDecoded(10.0);
    clock.AdvanceDecoded(SampleRate / 2);
    EXPECT_DOUBLE_EQ(clock.Decoded(), 10.5);
    EXPECT_DOUBLE_EQ(clock.Heard(4.0, false), 0.0); // no call yet: nothing heard
    // Called at 5 s with 0.1 s decoded but not handed over: the output holds
    // up to 10.4, of which its buffer is still to be heard.
    clock.Called(5000000, 19200, true);
    EXPECT_NEAR(clock.Heard(5.0, false), 10.4 - OutputSeconds, 1e-9);
    EXPECT_NEAR(clock.Heard(5.01, false), 10.41 - OutputSeconds, 1e-9);
    // No later call: the sound heard stops at the end of the buffer.
    EXPECT_NEAR(clock.Heard(6.0, false), 10.4, 1e-9);
    EXPECT_NEAR(clock.Heard(5.01, true), 10.4 - OutputSeconds, 1e-9); // paused
    EXPECT_NEAR(clock.Heard(4.9, false), 10.4 - OutputSeconds, 1e-9); // never before the call
}

TEST(AudioClock, SilenceAndAHoldKeepTheClockWhereTheLastSoundWas) {
    TOpenClock clock;
    // The first call sets the clock even when it plays silence, but the
    // clock does not tell the sound heard until sound went out.
    clock.SetDecoded(2.0);
    clock.Called(1000000, 0, false);
    EXPECT_FALSE(clock.Tells());
    EXPECT_NEAR(clock.Heard(1.0, false), 2.0 - OutputSeconds, 1e-9);
    clock.SetDecoded(3.0);
    clock.Called(1100000, 0, true);
    EXPECT_TRUE(clock.Tells());
    // Silence later moves neither the position nor the time of the call.
    clock.SetDecoded(4.0);
    clock.Called(1200000, 0, false);
    EXPECT_EQ(clock.LastCall(), 1100000);
    EXPECT_NEAR(clock.Heard(1.1, false), 3.0 - OutputSeconds, 1e-9);
    // Held for the first picture: the output runs, the clock stands still.
    clock.Hold();
    EXPECT_FALSE(clock.Tells());
    clock.CalledHeld(1300000);
    EXPECT_EQ(clock.LastCall(), 1300000);
    EXPECT_NEAR(clock.Heard(1.3, false), 3.0 - OutputSeconds, 1e-9);
}

TEST(AudioClock, TheOutputRunsWhileItCallsWithinItsBufferAndTheGrace) {
    TOpenClock clock;
    EXPECT_FALSE(clock.Running(1.0, 0.1)); // never called
    clock.Called(1000000, 0, true);
    EXPECT_TRUE(clock.Running(1.0, 0.1));
    EXPECT_TRUE(clock.Running(1.0 + OutputSeconds + 0.099, 0.1));
    EXPECT_FALSE(clock.Running(1.0 + OutputSeconds + 0.101, 0.1));
    clock.CalledHeld(2000000);
    EXPECT_TRUE(clock.Running(2.05, 0.1));
}
