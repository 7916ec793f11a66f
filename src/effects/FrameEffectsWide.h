// The per-pixel passes of the picture adjustments on 64 pixels at a time,
// for processors with AVX-512 byte permutes (checked at run time). Each
// function does the leading part of a row that fills whole vectors and
// returns how much it did; the caller finishes the row with its tables.
#pragma once

#include <cstdint>

namespace wide {

// True when this processor and the system run the wide passes.
bool Available();

// The largest saturation the wide colour pass computes exactly.
constexpr uint32_t kMaxSaturation = 16383;

// The colour pass on the first pixels of a row of `width` BGR pixels: each
// byte v becomes tone[clamp(grey + w(v))], grey = sum / 3 - w(sum / 3),
// w(i) = (saturation * (i + 1)) >> 8; a null tone stands for the table
// that keeps every value. Returns the count of pixels done.
int ColorRow(uint8_t* row, int width, const uint8_t* tone, uint32_t saturation);

// table[byte] for the first bytes of `count`; returns the count done.
int MapRow(uint8_t* bytes, int count, const uint8_t* table);

} // namespace wide
