// The picture shown for files without video: the sound heard now, one band
// per channel, each sample a white stroke from the middle of its band.
//
//   canvas.SetSize(width, height);
//   DrawWaveform(canvas, samples, channels); // samples: width x channels
#pragma once

#include "player/VideoSurface.h"

#include <cstdint>
#include <vector>

// Clears `canvas` (its size is kept) and draws `samples`, `channels`
// interleaved samples per column of the canvas, into it. Bands after the
// first start with a white line. With fewer samples than columns only the
// canvas is cleared. Any thread; touches nothing but `canvas`.
void DrawWaveform(Bitmap32& canvas, const std::vector<std::int16_t>& samples, int channels);
