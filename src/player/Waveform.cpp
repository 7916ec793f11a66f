#include "player/Waveform.h"

#include <algorithm>
#include <cstddef>

namespace {

void White(Bitmap32& canvas, int x, int y) {
    if (x < 0 || y < 0 || x >= canvas.Width || y >= canvas.Height) return;
    std::uint8_t* pixel = canvas.Row(y) + x * 4;
    pixel[0] = pixel[1] = pixel[2] = pixel[3] = 255;
}

} // namespace

void DrawWaveform(Bitmap32& canvas, const std::vector<std::int16_t>& samples, int channels) {
    std::fill(canvas.Data.begin(), canvas.Data.end(), 0);
    const int width = canvas.Width;
    channels = std::max(1, channels);
    if (samples.size() < static_cast<std::size_t>(width) * channels) return;
    const int band = canvas.Height / channels;
    for (int ch = 0; ch < channels; ++ch) {
        const int centre = ch * band + band / 2;
        for (int x = 0; x < width; ++x) {
            const int value =
                samples[static_cast<std::size_t>(x) * channels + ch] * (band * 9 / 20) / 32768;
            const int from = std::min(centre, centre - value);
            const int to = std::max(centre, centre - value);
            for (int y = from; y <= to; ++y)
                White(canvas, x, y);
        }
        if (ch > 0)
            for (int x = 0; x < width; ++x)
                White(canvas, x, ch * band);
    }
}
