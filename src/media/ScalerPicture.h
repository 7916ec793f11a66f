// The picture buffers libswscale writes into. Its vector code writes whole
// vectors, so a destination row starts on kScalerAlign bytes and a buffer
// may be written up to a row plus kScalerPadding bytes past its last pixel
// (for some widths, 360 say, a plain packed buffer overflows).
#pragma once

#include "media/FFUtils.h"

constexpr int kScalerAlign = 64;
constexpr int kScalerPadding = 256;

// Points context.PictureData and PictureLinesize at a picture of `format`
// in context.Buffer (grown as needed) that libswscale may write into. False
// for an empty size or when the buffer cannot be had.
bool PrepareScalerPicture(TToRGBContext& context, AVPixelFormat format, int width, int height);
