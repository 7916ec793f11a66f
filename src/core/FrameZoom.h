// Fitting a source picture into the frame of an output format: the zoom
// modes of the formats ("full", "lbox" letterbox, "pan" pan and scan,
// "center") and the pixel aspect of the TV frame sizes. Each mode fills the
// frame size, aspect and crop of the output options and returns the video
// filter it needs (empty when none).
#pragma once

#include "engine/FFmpegRecords.h"

#include <cstdint>
#include <string>

// The source counts in shown pixels (its stored width scaled by its pixel
// aspect), so that a picture of non-square pixels keeps its shape; the
// row's crop counts in stored pixels.
struct TFrameGeometry {
    int32_t W = 0, H = 0;   // target frame
    int32_t SW = 0, SH = 0; // source picture as it is shown
    int32_t StoredSW = 0;   // source picture's stored width
    long double StoredPerShown() const {
        return SW > 0 && StoredSW > 0 ? static_cast<long double>(StoredSW) / SW : 1.0L;
    }
    // The source's size as a frame size, made even for the encoders (whose
    // colour samples cover two by two pixels).
    int32_t SourceFrameWidth() const { return EvenUpward(SW); }
    int32_t SourceFrameHeight() const { return EvenUpward(SH); }
    static int32_t EvenUpward(int32_t size) { return (size + 1) / 2 * 2; }
};

// The row's crop in stored source pixels, which the output options carry
// unless the zoom's filter crops.
struct TZoomCrop {
    int32_t T = 0, B = 0, L = 0, R = 0;
    bool Any() const { return T > 0 || B > 0 || L > 0 || R > 0; }
};

// The sample aspect of a TV frame size of the MPEG formats (DVD, SVCD,
// VCD) and DV: pixels that make the frame a 4:3 picture, or a 16:9 one when
// the DVD target chose that; 0 for any other size.
struct TTvAspect {
    int32_t Num = 0, Den = 1;
    explicit operator bool() const { return Num > 0; }
};

// "WxH".
std::string SizeText(int32_t w, int32_t h);

// Applies the zoom `mode` (an unknown one changes nothing) and returns its
// filter text. Throws std::invalid_argument when the picture cannot be
// fitted (an empty frame or source, a crop that leaves nothing).
std::string ApplyZoom(const std::string& mode, const TFrameGeometry& g, const TZoomCrop& crop,
                      const TTvAspect& tv, TOutputOptions& out);

// The TV frames of the MPEG formats and of DV are marked as 4:3 pictures,
// or as 16:9 ones when the format's DVD target chose that (its full frame).
TTvAspect TvAspectOf(const TFrameGeometry& g, const std::string& encoder,
                     const TOutputOptions& out);

// Gives the output's frame size the aspect its pixels of the TV's shape
// make; nothing when `tv` is none or the frame size is not "WxH".
void MarkTvAspect(const TTvAspect& tv, TOutputOptions& out);
