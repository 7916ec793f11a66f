// Pixel arithmetic of the frame hook on 24-bit frames: the picture
// adjustments (brightness, contrast, saturation; exposure), blending one
// bitmap over another, and fitting a rectangle into another.
//
// Each adjustment makes one pass over the pixels through tables built from
// its parameters (none when they change nothing, a byte look-up when the
// saturation is 256); the tables are kept per thread while the parameters
// stay, and processors with AVX-512 byte permutes take 64 pixels at a time.
#pragma once

#include "media/Bitmap24.h"

#include <cstdint>
#include <vector>

// Brightness 0..512 (256 keeps), contrast -100..100 (0 keeps), saturation
// 0..512 (256 keeps), as stored in the row's record.
void AdjustColors(Bitmap24& bitmap, int32_t brightness, int32_t contrast, int32_t saturation);

// Exposure as the stored integer converted; 0 keeps the picture.
void AdjustExposure(Bitmap24& bitmap, float exposure);

// AdjustColors followed by AdjustExposure, the same pixels in one pass.
void AdjustColorsAndExposure(Bitmap24& bitmap, int32_t brightness, int32_t contrast,
                             int32_t saturation, float exposure);

// A row's colour and exposure effects, as its record stores them, drawn as
// a conversion draws them: the colour pass only when a colour setting
// differs from the record's untouched values (brightness 255, contrast 0,
// saturation 255; the pass at those values darkens by one level), the
// exposure only when it is not 0.
void AdjustPicture(Bitmap24& bitmap, int32_t brightness, int32_t contrast, int32_t saturation,
                   int32_t exposure);

// Draws src over dst with its top-left corner at (x, y) of dst, opacity
// alpha 0..255 (values outside are clamped); x and y may be negative, the
// part outside dst is clipped.
void BlendBitmap(Bitmap24& dst, const Bitmap24& src, int x, int y, int alpha);

// BlendBitmap for a picture with its own transparency: `mask` holds one
// byte per pixel of src, row after row (src.Width bytes a row), 0 fully
// transparent to 255 opaque. A pixel's opacity is alpha x mask / 255,
// rounded; where the mask is 255 the result is BlendBitmap's, where it is 0
// the destination stays as it was.
void BlendBitmapMasked(Bitmap24& dst, const Bitmap24& src, const std::vector<uint8_t>& mask, int x,
                       int y, int alpha);

// A rectangle by its edges; Right and Bottom lie just outside it.
struct TFitRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TFitRect&) const = default;
};

// The largest rectangle of srcRect's proportions centred in dstRect. An
// empty source gives an empty rectangle at dstRect's centre.
TFitRect FitRect(const TFitRect& srcRect, const TFitRect& dstRect);

// Nearest integer, halves to the even neighbour.
double RoundHalfEven(double value);
