#include "effects/EditSettings.h"

TlvFilesRecord NewFilesRecord(const std::string& sourceFile, const std::string& destinationFile,
                              int64_t durationUS, const std::string& zoomMode) {
    TlvFilesRecord rec;
    rec.SourceFile = sourceFile;
    rec.DestinationFile = destinationFile;
    rec.Duration = static_cast<int32_t>(durationUS / 1000000);
    rec.ZoomMode = zoomMode;
    return rec;
}

bool HasColorAdjust(const TlvFilesRecord& rec) {
    return rec.Brightness != kUntouchedBrightness || rec.Contrast != kUntouchedContrast ||
           rec.Saturation != kUntouchedSaturation;
}

bool HasExposure(const TlvFilesRecord& rec) {
    return rec.Exposure != kUntouchedExposure;
}

bool HasWatermark(const TlvFilesRecord& rec) {
    if (rec.Watermarks.empty()) return false;
    const TWmRec& first = rec.Watermarks.front();
    return !first.Text.empty() || !first.ImageFile.empty();
}

bool NeedsFrameHook(const TlvFilesRecord& rec) {
    return HasColorAdjust(rec) || HasExposure(rec) || HasWatermark(rec);
}

bool HasCrop(const TlvFilesRecord& rec) {
    return rec.CropTop > 0 || rec.CropBottom > 0 || rec.CropLeft > 0 || rec.CropRight > 0;
}

bool HandsOverTrimStart(const TlvFilesRecord& rec) {
    return rec.TrimStart >= 0;
}

bool HandsOverTrimLength(const TlvFilesRecord& rec) {
    return rec.TrimLength > 0;
}

bool IsLayerVisible(const TWmRec& layer, int64_t frameTimeUS) {
    const int64_t second = frameTimeUS / 1000000;
    return layer.StartTime <= second && second <= layer.EndTime;
}
