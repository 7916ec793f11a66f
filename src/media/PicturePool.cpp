#include "media/PicturePool.h"

#include "media/AVUtilEntries.h"
#include "media/FFHandles.h"

#include <utility>

TPicturePool::~TPicturePool() {
    Release();
}

TPicturePool::TPicturePool(TPicturePool&& other) noexcept {
    *this = std::move(other);
}

TPicturePool& TPicturePool::operator=(TPicturePool&& other) noexcept {
    if (this == &other) return *this;
    Release();
    FPool = std::exchange(other.FPool, nullptr);
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FFormat = std::exchange(other.FFormat, -1);
    FSize = other.FSize;
    FPlanes = other.FPlanes;
    for (int i = 0; i < 4; ++i) {
        FLinesize[i] = other.FLinesize[i];
        FOffset[i] = other.FOffset[i];
    }
    return *this;
}

// The pool frees itself once the last of its buffers comes back.
void TPicturePool::Release() {
    if (FPool && ff::avutil.av_buffer_pool_uninit) ff::avutil.av_buffer_pool_uninit(&FPool);
    FPool = nullptr;
    FFormat = -1;
}

bool TPicturePool::Fits(int width, int height, int format) const {
    return FPool && FWidth == width && FHeight == height && FFormat == format;
}

// Lays one picture out as the library does and keeps that layout; every
// plane lies in the one buffer av_frame_get_buffer makes for a picture.
bool TPicturePool::Learn(int width, int height, int format) {
    Release();
    ff::FramePtr model(ff::avutil.av_frame_alloc());
    if (!model) return false;
    model->width = width;
    model->height = height;
    model->format = format;
    if (ff::avutil.av_frame_get_buffer(model.get(), 0) < 0 || !model->buf[0] || model->buf[1])
        return false;
    const uint8_t* base = model->buf[0]->data;
    FPlanes = 0;
    for (int i = 0; i < 4; ++i) {
        FLinesize[i] = model->linesize[i];
        FOffset[i] = model->data[i] ? model->data[i] - base : 0;
        if (model->data[i]) FPlanes = i + 1;
    }
    FSize = model->buf[0]->size;
    FPool = ff::avutil.av_buffer_pool_init(FSize, nullptr);
    if (!FPool) return false;
    FWidth = width;
    FHeight = height;
    FFormat = format;
    return true;
}

bool TPicturePool::Get(AVFrame* frame, int width, int height, int format) {
    ff::avutil.av_frame_unref(frame);
    if (!Fits(width, height, format) && !Learn(width, height, format)) return false;
    AVBufferRef* buffer = ff::avutil.av_buffer_pool_get(FPool);
    if (!buffer) return false;
    frame->buf[0] = buffer;
    frame->width = width;
    frame->height = height;
    frame->format = format;
    for (int i = 0; i < FPlanes; ++i) {
        frame->data[i] = buffer->data + FOffset[i];
        frame->linesize[i] = FLinesize[i];
    }
    frame->extended_data = frame->data;
    return true;
}
