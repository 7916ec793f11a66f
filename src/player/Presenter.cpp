#include "player/Presenter.h"

#include "media/PictureMatrix.h"
#include "media/ScalerPicture.h"
#include "media/SwScaleEntries.h"

#include <cmath>

bool TPresenter::Make(int width, int height, bool force) {
    if (!force && FMade && width == FWidth && height == FHeight) return true;
    if (FSurface && !FSurface->SetMode(width, height)) return false;
    FWidth = width;
    FHeight = height;
    FMade = true;
    return true;
}

TSurfaceRect TPresenter::PictureRect(float aspect, int width, int height, AVRational sar) const {
    const int surfaceWidth = FWidth, surfaceHeight = FHeight;
    double ratio;
    if (aspect < 0 && surfaceWidth > 0 && surfaceHeight > 0) {
        ratio = static_cast<double>(surfaceWidth) / surfaceHeight;
    } else if (aspect > 0) {
        ratio = aspect;
    } else {
        double pixel = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
        ratio = height > 0 ? pixel * width / height : 1.0;
    }
    if (ratio <= 0) ratio = 1.0;
    TSurfaceRect rect;
    rect.Height = surfaceHeight;
    rect.Width = static_cast<int>(std::lrint(rect.Height * ratio)) & ~1;
    if (rect.Width > surfaceWidth) {
        rect.Width = surfaceWidth;
        rect.Height = static_cast<int>(std::lrint(rect.Width / ratio)) & ~1;
    }
    rect.X = (surfaceWidth - rect.Width) / 2 + FLeft;
    rect.Y = (surfaceHeight - rect.Height) / 2 + FTop;
    return rect;
}

// A picture made smaller (the usual case: a large video in a preview panel)
// is averaged over the source pixels each target pixel covers, which keeps
// fine detail from aliasing at a third of the cost of bicubic; a larger one
// is interpolated bicubically.
void TPresenter::Show(const AVFrame* picture, const TSurfaceRect& rect) {
    if (!FSurface || rect.Width <= 0 || rect.Height <= 0) return;
    bool shrinks = rect.Width < picture->width && rect.Height < picture->height;
    SwsContext* scaler = ff::swscale.sws_getCachedContext(
        FScaler.release(), picture->width, picture->height,
        static_cast<AVPixelFormat>(picture->format), rect.Width, rect.Height, AV_PIX_FMT_BGRA,
        shrinks ? SWS_AREA : SWS_BICUBIC, nullptr, nullptr, nullptr);
    FScaler.reset(scaler);
    if (!scaler) return;
    SetPictureMatrix(scaler, MatrixOf(*picture), /*toRgb=*/true);
    FCanvas.SetSize(rect.Width, rect.Height);
    // The scaler may write past the last pixel (media/ScalerPicture.h): the
    // rows are followed by room of its own.
    FCanvas.Data.resize(FCanvas.Data.size() + FCanvas.Stride + kScalerPadding);
    std::uint8_t* planes[4] = {FCanvas.Data.data(), nullptr, nullptr, nullptr};
    int strides[4] = {FCanvas.Stride, 0, 0, 0};
    ff::swscale.sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, planes,
                          strides);
    FSurface->Show(FCanvas, rect);
}

void TPresenter::ShowCanvas() {
    if (FSurface) FSurface->Show(FCanvas, TSurfaceRect{0, 0, FCanvas.Width, FCanvas.Height});
}

void TPresenter::Redraw() {
    if (FSurface) FSurface->Redraw();
}
