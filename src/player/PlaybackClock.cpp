#include "player/PlaybackClock.h"

namespace {

// Sound output that has not played for this long (beyond its buffer) is not
// playing, and holds no picture back.
constexpr double MaxSoundPause = 0.1;

} // namespace

void TPlaybackClock::Shown(double pts, double now) {
    FPTS = pts;
    FDrift = pts - now;
}

double TPlaybackClock::Video(double now, double start) const {
    if (FPaused) return FPTS;
    const double drift = FDrift;
    return drift != 0 ? drift + now : start;
}

void TPlaybackClock::Resume(double now, bool restamp) {
    if (restamp) FPTS = FDrift + now;
    FDrift = FPTS - now;
}

void TPlaybackClock::HoldSound(std::int64_t until) {
    FHoldShown = false;
    FSound.Hold();
    FHeldUntil = until;
}

bool TPlaybackClock::AheadOfSound(double pts, double frame, std::int64_t now, bool hasSound) {
    if (!hasSound || FPaused || FSound.Rate() <= 0) return false;
    const std::int64_t heldUntil = FHeldUntil;
    if (heldUntil != 0 && now >= heldUntil) return false;
    const double seconds = static_cast<double>(now) / 1000000.0;
    const bool running = FSound.Running(seconds, MaxSoundPause);
    if (!FSound.Tells()) {
        // After the open or a seek the first picture goes up at once, the
        // next ones wait until the sound has started (its clock still tells
        // the time before the hold), unless the output stopped.
        if (!FHoldShown.exchange(true)) return false;
        return heldUntil != 0 || running;
    }
    if (!running) return false;
    return pts - Sound(seconds) > 0.5 * frame;
}
