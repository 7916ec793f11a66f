// Drawing of one row's frame effects and watermark layers into a decoded
// frame: the colour adjustments, the exposure, then every layer visible at
// the frame's time, in list order. A text layer is rendered with QPainter
// once (an opaque box, or the glyphs alone on transparency) and then only
// laid over each frame; image layers are read once and reused.
//
// Threads: the converter calls the hook on its worker thread inside its hook
// lock, so one cache is used by one thread at a time; Clear it on the
// user-interface thread only while no batch is running.
#pragma once

#include "effects/EditSettings.h"
#include "effects/FrameEffects.h"
#include "media/Bitmap24.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The pictures of image layers and the rendered boxes of text layers, kept
// from frame to frame. It only grows until Clear.
class TLayerImageCache {
public:
    TLayerImageCache();
    ~TLayerImageCache();
    TLayerImageCache(const TLayerImageCache&) = delete;
    TLayerImageCache& operator=(const TLayerImageCache&) = delete;

    // The 24-bit picture of a picture file (PNG, JPEG, BMP, ...), read on
    // first use. Throws std::runtime_error, on this and every later call,
    // when it cannot be read.
    const Bitmap24& Image(const std::string& file);
    // The file's own opacity, one byte a pixel (see BlendBitmapMasked), or
    // null when the file has none. Reads the file as Image does.
    const std::vector<uint8_t>* Opacity(const std::string& file);

    // Draws one text layer on the frame (the layer's Kind is not checked).
    void DrawText(Bitmap24& frame, const TWmRec& layer);

    void Clear();

private:
    struct TTextBox;
    std::map<std::string, Bitmap24> FImages;
    std::map<std::string, std::vector<uint8_t>> FOpacities;
    std::map<std::string, std::string> FImageErrors;
    std::unordered_map<const TWmRec*, std::unique_ptr<TTextBox>> FTextBoxes;
};

// Draws the row's effects and visible layers on the frame in place. An
// image layer whose file cannot be read throws std::runtime_error before
// any pixel is changed.
void RenderRowFrame(const TlvFilesRecord& row, Bitmap24& frame, int64_t ptsUS,
                    TLayerImageCache& cache);

// Draws one layer, text or image by its Kind; nothing for an empty text or
// an empty file name.
void DrawLayer(Bitmap24& frame, const TWmRec& layer, TLayerImageCache& cache);

// The font a text layer is drawn with (the editor measures with the same).
QFont LayerFont(const TWmFont& font);

// A stored colour (red in the lowest byte); a value with the top bit set
// names a system colour and is taken from the application's palette.
QColor ResolveColor(uint32_t color);

// The frame's pixels as a QImage over the same memory (no copy).
QImage WrapBitmap(Bitmap24& bitmap);

// Draws the bitmap stretched into the largest rectangle of its proportions
// centred in the canvas, and returns that rectangle shrunk by one pixel on
// every side; draws nothing and returns an empty result for an empty bitmap.
std::optional<QRect> DrawFitted(QImage& canvas, const Bitmap24& bitmap);
