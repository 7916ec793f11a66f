// A 24-bit picture handed to hooks and previews: BGR byte triples, rows
// padded to 4 bytes, row 0 at the top.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Bitmap24 {
    int Width = 0;
    int Height = 0;
    int Stride = 0; // bytes per row: ((Width * 24 + 31) / 32) * 4
    std::vector<std::uint8_t> Data;

    static int RowLength(int width) { return ((width * 24 + 31) / 32) * 4; }

    // Resizes to width x height (contents undefined after a change).
    void SetSize(int width, int height) {
        Width = width > 0 ? width : 0;
        Height = height > 0 ? height : 0;
        Stride = RowLength(Width);
        Data.resize(static_cast<std::size_t>(Stride) * static_cast<std::size_t>(Height));
    }
    std::uint8_t* Row(int y) { return Data.data() + static_cast<std::size_t>(y) * Stride; }
    const std::uint8_t* Row(int y) const {
        return Data.data() + static_cast<std::size_t>(y) * Stride;
    }
};
