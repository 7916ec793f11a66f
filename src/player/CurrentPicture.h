// The picture a host asks the player for: the one on the display, or before
// the first one is shown the one that will be shown first, as a 24-bit
// bitmap with its time.
//
//   Bitmap24& bitmap = current.Take(is, pts); // is: null without a file
#pragma once

#include "media/FFUtils.h"
#include "player/FFPlayPipeline.h"

#include <cstdint>
#include <mutex>

// Host threads. FLock guards the conversion and its bitmap; the caller keeps
// the pipeline's decoders open while Take runs (the player lock).
class TCurrentPicture {
public:
    // `is` null (no file, or the pipeline is busy closing) or without video:
    // 0 x 0 and `pts` -1. Else the picture and its time from the file's
    // start (microseconds); with video but no picture decoded yet, a black
    // bitmap of the video's size. The bitmap stays until the next call.
    Bitmap24& Take(TPlaybackState* is, std::int64_t& pts);
    // Forgets the conversion (a new file).
    void Reset();

private:
    bool TakeShown(TPlaybackState& is, std::int64_t& pts);
    void TakeQueued(TPlaybackState& is, std::int64_t& pts);

    std::mutex FLock;
    TToRGBContext FContext;
};
