// The time of the player's sound: how far decoding is (the end of the last
// piece decoded), what the output had still to play at its last call, and
// from both the time of the sound heard now.
//
//   clock.SetFormat(rate, channels, bufferBytes);      // the output opened
//   clock.SetDecoded(pts); clock.AdvanceDecoded(samples); // decoding
//   clock.Called(now, unplayedBytes, true);             // each output call
//   double heard = clock.Heard(Now(), paused);
#pragma once

#include <atomic>
#include <cstdint>

// The format is set once, before the output starts (read thread); the
// decoding and output fields are written by the audio callback (Hold also by
// the read thread) and read by any thread: they are atomics.
class TAudioClock {
public:
    void SetFormat(int rate, int channels, int bufferBytes);
    int Rate() const { return FRate; }
    int Channels() const { return FChannels; }
    int BufferBytes() const { return FBufferBytes; }
    // The seconds the output's buffer holds.
    double BufferSeconds() const;

    // ---- decoding ----
    void SetDecoded(double seconds) { FDecoded = seconds; }
    double Decoded() const { return FDecoded.load(); }
    // `samples` (per channel) more were decoded.
    void AdvanceDecoded(int samples);

    // ---- output ----
    // The output was called at `time` (microseconds, av_gettime) with
    // `unplayedBytes` decoded but not yet handed to it. Only a call that
    // played sound (or the first call) moves the clock: silence does not.
    void Called(std::int64_t time, int unplayedBytes, bool played);
    // A call that played nothing on purpose (the sound is held): the output
    // counts as running, the clock stands still.
    void CalledHeld(std::int64_t time) { FLastCall = time; }
    std::int64_t LastCall() const { return FLastCall.load(); }
    // Whether the output called within its buffer's time plus `grace`.
    bool Running(double now, double grace) const;

    // ---- what is heard ----
    // The time of the sound heard at `now` (seconds); paused, the sound
    // stands where the buffer's start is.
    double Heard(double now, bool paused) const;
    // Sound went out since the last Hold: the clock tells the sound heard.
    bool Tells() const { return FTells.load(); }
    void Hold() { FTells = false; }

private:
    int FRate = 0, FChannels = 0, FBufferBytes = 0;
    std::atomic<double> FDecoded{0};
    std::atomic<double> FBase{0};           // the play position at the last call
    std::atomic<std::int64_t> FLastCall{0}; // av_gettime of the last call
    std::atomic<bool> FTells{false};
};
