// The clocks the display goes by: the time of the picture on the display
// (standing while paused, else running on with the wall clock), the time of
// the sound heard, and the hold that keeps the sound silent until the
// pictures have caught up after the open or a seek.
//
//   clock.Shown(pts, now);                               // a picture went up
//   if (clock.AheadOfSound(pts, frame, av_gettime(), true)) wait;
//   double position = clock.Video(now, start);
#pragma once

#include "player/AudioClock.h"

#include <atomic>
#include <cstdint>

// The picture's time is written by the playback thread (and the resume of a
// host call under the player lock), read by any thread: atomics. The hold's
// end is shared with the sound output, which plays silence until it.
class TPlaybackClock {
public:
    TPlaybackClock(TAudioClock& sound, const std::atomic<bool>& paused,
                   std::atomic<std::int64_t>& soundHeldUntil)
        : FSound(sound), FPaused(paused), FHeldUntil(soundHeldUntil) {}

    // ---- the picture's time (seconds) ----
    // The picture of time `pts` went up at `now`.
    void Shown(double pts, double now);
    // The time of the picture on the display at `now`; `start` (the file's
    // start) before any picture went up.
    double Video(double now, double start) const;
    // How far the display stood still by `now` since it was paused: the
    // schedule of the pictures queued before the pause moves by this much.
    double StoodFor(double now) const { return now + FDrift - FPTS; }
    // The display runs again from `now`. `restamp`: the source went on
    // while paused (it could be paused itself), so the picture's time moved
    // on with the wall clock meanwhile.
    void Resume(double now, bool restamp);

    // ---- the sound ----
    double Sound(double now) const { return FSound.Heard(now, FPaused); }
    // The sound plays silence until `until` (microseconds, av_gettime) or
    // until the pictures are ready, whichever comes first; its clock tells
    // nothing until it plays again.
    void HoldSound(std::int64_t until);
    // Whether the picture of time `pts` is to wait for the sound at `now`
    // (microseconds): it is more than half of `frame` (seconds) ahead of the
    // sound that plays. Sound that does not play (none, paused, held past
    // its limit, ended, or an output that stopped calling) holds nothing
    // back; while the sound is held only the first picture goes up.
    bool AheadOfSound(double pts, double frame, std::int64_t now, bool hasSound);

private:
    TAudioClock& FSound;
    const std::atomic<bool>& FPaused;
    std::atomic<std::int64_t>& FHeldUntil;
    std::atomic<double> FPTS{0};
    std::atomic<double> FDrift{0};       // the picture's time minus the wall clock's
    std::atomic<bool> FHoldShown{false}; // a picture went up while held
};
