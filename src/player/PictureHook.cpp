#include "player/PictureHook.h"

#include "media/AVUtilEntries.h"
#include "media/PictureMatrix.h"
#include "media/ScalerPicture.h"
#include "media/SwScaleEntries.h"

#include <cstring>
#include <exception>

namespace {

// Converts `picture` into the context's 24-bit bitmap through the scaler.
bool HookToBitmap(TToRGBContext& context, const AVFrame* picture) {
    int width = picture->width, height = picture->height;
    auto format = static_cast<AVPixelFormat>(picture->format);
    SwsContext* scaler = ff::swscale.sws_getCachedContext(
        context.ScaleContext.release(), width, height, format, width, height, AV_PIX_FMT_BGR24,
        SWS_BICUBIC, nullptr, nullptr, nullptr);
    context.ScaleContext.reset(scaler);
    if (!scaler || !SetPictureMatrix(scaler, MatrixOf(*picture), /*toRgb=*/true)) return false;
    if (!PrepareScalerPicture(context, AV_PIX_FMT_BGR24, width, height)) return false;
    ff::swscale.sws_scale(scaler, picture->data, picture->linesize, 0, height, context.PictureData,
                          context.PictureLinesize);
    if (!context.Bitmap) context.Bitmap = std::make_unique<Bitmap24>();
    context.Bitmap->SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::memcpy(context.Bitmap->Row(y), context.PictureData[0] + y * context.PictureLinesize[0],
                    static_cast<std::size_t>(width) * 3);
    return true;
}

// Copies the bitmap back and converts it into `picture`.
bool BitmapToPicture(TToRGBContext& context, AVFrame* picture) {
    int width = picture->width, height = picture->height;
    for (int y = 0; y < height; ++y)
        std::memcpy(context.PictureData[0] + y * context.PictureLinesize[0], context.Bitmap->Row(y),
                    static_cast<std::size_t>(width) * 3);
    SwsContext* scaler = ff::swscale.sws_getCachedContext(
        context.ReverseScaleContext.release(), width, height, AV_PIX_FMT_BGR24, width, height,
        static_cast<AVPixelFormat>(picture->format), SWS_BICUBIC, nullptr, nullptr, nullptr);
    context.ReverseScaleContext.reset(scaler);
    if (!scaler || !SetPictureMatrix(scaler, MatrixOf(*picture), /*toRgb=*/false)) return false;
    ff::swscale.sws_scale(scaler, context.PictureData, context.PictureLinesize, 0, height,
                          picture->data, picture->linesize);
    return true;
}

} // namespace

bool TPictureHook::Run(AVFrame* picture, const std::function<void(Bitmap24&)>& handler,
                       const std::function<void(const std::string&)>& failed) {
    if (ff::avutil.av_frame_make_writable(picture) < 0) return true;
    if (!ToBitmap(picture)) {
        failed("Cannot initialize the toRGB conversion context");
        return true;
    }
    Enter();
    std::string failure;
    try {
        handler(Bitmap());
    } catch (const std::exception& e) {
        failure = std::string("Error occurs OnHook: ") + e.what();
    } catch (...) {
        failure = "Error occurs OnHook: unknown exception";
    }
    if (!Leave()) return false;
    if (!failure.empty()) {
        failed(failure);
        return true;
    }
    if (!PutBack(picture)) failed("Cannot initialize the fromRGB conversion context");
    return true;
}

bool TPictureHook::ToBitmap(const AVFrame* picture) {
    return HookToBitmap(FContext, picture);
}

bool TPictureHook::PutBack(AVFrame* picture) {
    const Bitmap24& bitmap = *FContext.Bitmap;
    if (bitmap.Width != picture->width || bitmap.Height != picture->height) return true;
    return BitmapToPicture(FContext, picture);
}

void TPictureHook::Enter() {
    std::lock_guard lock(FExitLock);
    FInHook = true;
}

bool TPictureHook::Leave() {
    std::lock_guard lock(FExitLock);
    FInHook = false;
    return !FAbandoned;
}

bool TPictureHook::Abandon() {
    std::lock_guard lock(FExitLock);
    if (!FInHook) return false;
    FAbandoned = true;
    return true;
}
