#include "media/PictureMatrix.h"

#include "media/AVUtilEntries.h"
#include "media/FFmpegHeaders.h"
#include "media/SwScaleEntries.h"

namespace {

// Larger than standard definition's 720 x 576 (with some room for
// non-square pixels): coded with BT.709 unless the picture says otherwise.
bool IsHd(const TPictureMatrix& picture) {
    return picture.Width > 1024 || picture.Height > 576;
}

bool IsYuv(int format) {
    const AVPixFmtDescriptor* d =
        ff::avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return d && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && d->nb_components >= 3;
}

// The "J" formats are full range whatever the picture says.
bool IsFullRange(const TPictureMatrix& picture) {
    switch (picture.Format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        return picture.Range == AVCOL_RANGE_JPEG;
    }
}

} // namespace

TPictureMatrix MatrixOf(const AVFrame& picture) {
    return {picture.colorspace, picture.color_range, picture.format, picture.width, picture.height};
}

int ScalerColourSpace(const TPictureMatrix& picture) {
    switch (picture.ColourSpace) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return IsHd(picture) ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

bool SetPictureMatrix(SwsContext* scaler, const TPictureMatrix& picture, bool toRgb) {
    if (!scaler || !IsYuv(picture.Format)) return true;
    const int* coefficients = ff::swscale.sws_getCoefficients(ScalerColourSpace(picture));
    const int yuvRange = IsFullRange(picture) ? 1 : 0;
    // Brightness 0, contrast and saturation 1.0 in 16.16 fixed point.
    return ff::swscale.sws_setColorspaceDetails(scaler, coefficients, toRgb ? yuvRange : 1,
                                                coefficients, toRgb ? 1 : yuvRange, 0, 1 << 16,
                                                1 << 16) >= 0;
}
