// Picture buffers that are used again instead of being allocated for each
// picture. A picture handed on keeps its buffer for as long as anything
// (a queue, an encoder) holds a reference to it; the buffer then goes back
// to the pool, and the next picture of the same shape takes it, without
// the allocation, the page faults and the copy a picture written over in
// place would cost while it is still held.
//
// The layout of a pooled picture (line sizes, plane offsets, padding) is
// the one av_frame_get_buffer gives, so whatever reads it sees the same
// picture as with a buffer of its own.
//
// Threads: Get is called by one thread at a time (the owner's); the
// buffers may be released on any thread.
#pragma once

#include "media/FFmpegHeaders.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class TPicturePool {
public:
    TPicturePool() = default;
    ~TPicturePool();
    TPicturePool(const TPicturePool&) = delete;
    TPicturePool& operator=(const TPicturePool&) = delete;
    TPicturePool(TPicturePool&& other) noexcept;
    TPicturePool& operator=(TPicturePool&& other) noexcept;

    // Drops what `frame` holds and makes it a writable picture of the shape
    // (its content undefined) in a buffer of the pool; a new shape starts
    // a new pool. False when no buffer can be had.
    bool Get(AVFrame* frame, int width, int height, int format);

private:
    bool Fits(int width, int height, int format) const;
    bool Learn(int width, int height, int format);
    void Release();

    AVBufferPool* FPool = nullptr;
    int FWidth = 0, FHeight = 0, FFormat = -1;
    std::size_t FSize = 0;          // bytes of one buffer
    int FLinesize[4] = {};          // as av_frame_get_buffer lays them out
    std::ptrdiff_t FOffset[4] = {}; // of each plane in the buffer
    int FPlanes = 0;
};
