// The record behind one row of the conversion list: the source and output
// paths and the row's edit settings (trim window, crop rectangle, zoom mode,
// picture adjustments and watermark layers), with the questions the batch
// start and the frame hook ask about them.
//
// Threads: the user-interface thread writes a record (adding files, the edit
// dialogs); while a batch runs the modal progress window keeps the record
// unchanged, so the frame hook on a worker thread reads it without a lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Style bits of a text layer's font.
enum TWmFontStyle : uint32_t {
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8,
};

// The font of a text layer as a plain description.
struct TWmFont {
    std::string Name;   // face name
    int32_t Size = 10;  // points
    uint32_t Style = 0; // TWmFontStyle bits
    uint32_t Color = 0; // red in the lowest byte, then green, then blue
};

// Kinds of a watermark layer.
inline constexpr int32_t kWmTextLayer = 0;
inline constexpr int32_t kWmImageLayer = 1;

// One watermark layer. Coordinates are pixels of the source frame as
// decoded, before crop and scaling; a layer may lie partly outside it.
struct TWmRec {
    std::string Text;            // text layer only
    std::optional<TWmFont> Font; // text layer only
    int32_t TextLeft = 0;
    int32_t TextTop = 0;
    int32_t TextWidth = 0;
    int32_t TextHeight = 0;
    int32_t TextAlpha = 255;   // 0 invisible .. 255 opaque
    uint32_t BackColor = 0;    // fill of the text box
    bool UseBackColor = false; // false: the frame shows around the glyphs
    std::string ImageFile;     // image layer only: full path of a ".bmp"
    int32_t ImageLeft = 0;
    int32_t ImageTop = 0;
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    int32_t ImageAlpha = 255;    // 0..255
    int32_t Kind = kWmTextLayer; // fixed when the layer is created
    int32_t StartTime = 0;       // first whole second drawn
    int32_t EndTime = 0;         // last whole second drawn, inclusive
};

// Untouched values of the picture adjustments.
inline constexpr int32_t kUntouchedBrightness = 255;
inline constexpr int32_t kUntouchedContrast = 0;
inline constexpr int32_t kUntouchedSaturation = 255;
inline constexpr int32_t kUntouchedExposure = 0;

// One row of the conversion list. The row owns the record, its layers and
// their fonts.
struct TlvFilesRecord {
    std::string SourceFile;        // also the row's caption
    std::string DestinationFile;   // as named when the row was added
    int32_t Duration = 0;          // whole seconds
    int64_t TrimStart = 0;         // microseconds from the start of the source
    int64_t TrimLength = 0;        // microseconds; 0 = up to the end
    std::string ZoomMode = "lbox"; // "full", "lbox", "pan" or "center"
    int32_t CropTop = 0;           // source pixels, even
    int32_t CropLeft = 0;
    int32_t CropBottom = 0;
    int32_t CropRight = 0;
    int32_t MarginUp = 0; // crop-dialog preview pixels
    int32_t MarginLeft = 0;
    int32_t MarginDown = 0;
    int32_t MarginRight = 0;
    std::vector<TWmRec> Watermarks;            // drawing order
    int32_t Brightness = kUntouchedBrightness; // 0..512
    int32_t Contrast = kUntouchedContrast;     // -100..100
    int32_t Saturation = kUntouchedSaturation; // 0..512
    int32_t Exposure = kUntouchedExposure;     // -255..512
    bool ProcessText = false;                  // kept for the crop dialog only
    bool ProcessImage = false;
};

// The record of a newly added row: the two paths, the probed duration in
// microseconds (truncated to whole seconds), the format's zoom mode and
// every edit setting at its untouched value.
TlvFilesRecord NewFilesRecord(const std::string& sourceFile, const std::string& destinationFile,
                              int64_t durationUS, const std::string& zoomMode);

// Brightness, contrast or saturation differ from their untouched values.
bool HasColorAdjust(const TlvFilesRecord& rec);
// Exposure differs from 0.
bool HasExposure(const TlvFilesRecord& rec);
// The first layer (only the first) has a text or an image file.
bool HasWatermark(const TlvFilesRecord& rec);
// The frame hook must run for the row's task.
bool NeedsFrameHook(const TlvFilesRecord& rec);
// At least one crop value is greater than 0: only then are the four values
// handed to the engine.
bool HasCrop(const TlvFilesRecord& rec);

// TrimStart is handed to the engine as the input start time.
bool HandsOverTrimStart(const TlvFilesRecord& rec);
// TrimLength is handed to the engine as the recording length.
bool HandsOverTrimLength(const TlvFilesRecord& rec);

// The layer is drawn on a frame at this time (microseconds): its whole
// second lies in StartTime..EndTime.
bool IsLayerVisible(const TWmRec& layer, int64_t frameTimeUS);
