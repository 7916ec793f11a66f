#include "media/ScalerPicture.h"

#include "media/AVUtilEntries.h"

#include <limits>

bool PrepareScalerPicture(TToRGBContext& context, AVPixelFormat format, int width, int height) {
    if (width <= 0 || height <= 0) return false;
    const int size = ff::avutil.av_image_get_buffer_size(format, width, height, kScalerAlign);
    const int row = ff::avutil.av_image_get_buffer_size(format, width, 1, kScalerAlign);
    if (size <= 0 || row <= 0 || size > std::numeric_limits<int>::max() - row - kScalerPadding)
        return false;
    const int needed = size + row + kScalerPadding;
    if (!context.Buffer || context.BufferSize < needed) {
        context.Buffer.reset(static_cast<std::uint8_t*>(ff::avutil.av_malloc(needed)));
        context.BufferSize = context.Buffer ? needed : 0;
        if (!context.Buffer) return false;
    }
    return ff::avutil.av_image_fill_arrays(context.PictureData, context.PictureLinesize,
                                           context.Buffer.get(), format, width, height,
                                           kScalerAlign) >= 0;
}
