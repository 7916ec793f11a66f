// The waveform of files without pictures (the sound's output is
// TAudioOutput, its clock TAudioClock).
#include "player/FFPlay.h"

#include "media/MyUtils.h"
#include "media/SDLEntries.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

double Now() {
    return static_cast<double>(ff::avutil.av_gettime()) / 1000000.0;
}

} // namespace

// ---- Waveform ----

void DrawWaveform(TPlaybackState* is) {
    int width = is->Display.Width(), height = is->Display.Height();
    int channels = std::max(1, is->Audio.Channels());
    if (width <= 0 || height <= 0) return;
    Bitmap32& picture = is->Display.Canvas();
    picture.SetSize(width, height);
    std::fill(picture.Data.begin(), picture.Data.end(), 0);
    std::vector<std::int16_t> samples;
    if (!is->Sound.WaveSamples(width, channels, is->Paused, Now(), samples)) return;
    auto white = [&picture](int x, int y) {
        if (x < 0 || y < 0 || x >= picture.Width || y >= picture.Height) return;
        std::uint8_t* pixel = picture.Row(y) + x * 4;
        pixel[0] = pixel[1] = pixel[2] = pixel[3] = 255;
    };
    int band = height / channels;
    for (int ch = 0; ch < channels; ++ch) {
        int centre = ch * band + band / 2;
        for (int x = 0; x < width; ++x) {
            int value =
                samples[static_cast<std::size_t>(x) * channels + ch] * (band * 9 / 20) / 32768;
            int from = std::min(centre, centre - value), to = std::max(centre, centre - value);
            for (int y = from; y <= to; ++y)
                white(x, y);
        }
        if (ch > 0)
            for (int x = 0; x < width; ++x)
                white(x, ch * band);
    }
    is->Display.ShowCanvas();
}
