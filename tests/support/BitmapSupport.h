// Small pictures for the tests of the picture work: one colour filled in,
// one pixel read back, both as blue, green, red.
#pragma once

#include "media/Bitmap24.h"

#include <array>
#include <cstdint>

namespace testsupport {

using Bgr = std::array<int, 3>; // blue, green, red

inline Bitmap24 Filled(int w, int h, Bgr c) {
    Bitmap24 b;
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k)
                b.Row(y)[x * 3 + k] = static_cast<uint8_t>(c[k]);
    return b;
}

inline Bgr At(const Bitmap24& b, int x, int y) {
    const uint8_t* p = b.Row(y) + x * 3;
    return {p[0], p[1], p[2]};
}

} // namespace testsupport
