// Pictures as they are shown to the user (a conversion's live preview): an
// HDR picture (PQ or HLG) is tone-mapped to SDR BT.709 on its way into the
// bitmap, so that it looks as its SDR twin does instead of dull and
// washed out; any other picture goes straight into the bitmap, at no extra
// cost. The picture given is never changed: only the bitmap is.
#pragma once

#include "media/FFUtils.h"

#include <memory>

// The filter graph that tone-maps the HDR pictures shown; built for the
// first one and again when the size, pixel format or colours change.
// Threads: whoever owns the display context, one thread at a time.
class TDisplayToneMap {
public:
    TDisplayToneMap();
    ~TDisplayToneMap();
    TDisplayToneMap(const TDisplayToneMap&) = delete;
    TDisplayToneMap& operator=(const TDisplayToneMap&) = delete;

    // The SDR picture of `hdr`, held here until the next call or Reset;
    // nullptr when the filters are missing or refuse the picture.
    const AVFrame* Map(const AVFrame& hdr);
    void Reset();

private:
    // The graph built for `hdr` and the frame to take its picture.
    bool Ready(const AVFrame& hdr);

    struct TGraph;
    std::unique_ptr<TGraph> FGraph;
    ff::FramePtr FMapped;
};

// A picture-to-bitmap context that shows HDR pictures tone-mapped.
struct TDisplayContext : TToRGBContext {
    TDisplayToneMap ToneMap;
};

void ResetDisplayContext(TDisplayContext& context);
// Fills context.Bitmap with the picture as shown: an HDR picture
// tone-mapped first (untouched when the filters for that are missing or
// fail), any other as FrameToBitmap does. False when no scaler can be had.
bool FrameToDisplayBitmap(TDisplayContext& context, const AVFrame* frame);
