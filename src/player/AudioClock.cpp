#include "player/AudioClock.h"

#include <algorithm>

void TAudioClock::SetFormat(int rate, int channels, int bufferBytes) {
    FRate = rate;
    FChannels = channels;
    FBufferBytes = bufferBytes;
}

double TAudioClock::BufferSeconds() const {
    if (FRate <= 0) return 0;
    return FBufferBytes / (2.0 * std::max(1, FChannels) * FRate);
}

void TAudioClock::AdvanceDecoded(int samples) {
    if (FRate > 0) FDecoded = FDecoded + static_cast<double>(samples) / FRate;
}

void TAudioClock::Called(std::int64_t time, int unplayedBytes, bool played) {
    if (!played && FLastCall != 0) return;
    double bytesPerSecond = 2.0 * FChannels * FRate;
    FBase = FDecoded - unplayedBytes / bytesPerSecond;
    FLastCall = time;
    if (played) FTells = true;
}

bool TAudioClock::Running(double now, double grace) const {
    std::int64_t call = FLastCall;
    return call != 0 && now - static_cast<double>(call) / 1000000.0 <= BufferSeconds() + grace;
}

double TAudioClock::Heard(double now, bool paused) const {
    if (FRate <= 0 || FChannels <= 0) return FDecoded;
    double hardware = BufferSeconds();
    std::int64_t call = FLastCall;
    if (call == 0) return FBase;
    double elapsed = now - static_cast<double>(call) / 1000000.0;
    elapsed = paused ? 0 : std::clamp(elapsed, 0.0, hardware);
    return FBase - hardware + elapsed;
}
