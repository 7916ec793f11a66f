// The main window's frame hook: a row's effects and watermark layers drawn
// into every decoded frame of its task. Kept apart from the converter's
// headers, which the frame renderer's cannot share a unit with.
#include "app/winMain.h"

#include "editing/FrameRenderer.h"
#include "engine/FFmpegRecords.h"

void TLayerImageCacheDeleter::operator()(TLayerImageCache* cache) const {
    delete cache;
}

void TfrmMain::ResetHookCache() {
    if (hookCache_)
        hookCache_->Clear();
    else
        hookCache_.reset(new TLayerImageCache());
}

// Runs on the converter's worker thread, one call at a time under the
// converter's hook lock. It reaches the rows through the records noted at
// the start, never through the list's widgets, and reads them without a
// lock: the modal progress window keeps every dialog from changing them
// during the batch. A layer file that cannot be read raises its error to
// the converter, which logs it.
void TfrmMain::CCAVCCustomHook(TCustomFFmpegVCL*, THookInfo* AHookInfo) {
    if (!AHookInfo || !AHookInfo->Bitmap) return;
    const int k = AHookInfo->TaskIndex;
    if (k < 0 || k >= static_cast<int>(TaskItems.size())) return;
    const int row = TaskItems[k];
    if (row < 0 || row >= static_cast<int>(rowRecords_.size())) return;
    RenderRowFrame(*rowRecords_[row], *AHookInfo->Bitmap, AHookInfo->PTS, *hookCache_);
}
