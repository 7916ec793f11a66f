// The main window's part of the batch: Start and the converter's progress
// reports go to the batch (MainBatch.h).
#include "app/winMain.h"

#include "app/MainBatch.h"

void TfrmMain::btnStartClick() {
    if (FBatch) FBatch->Start();
}

void TfrmMain::CCAVCProgress(TCustomFFmpegVCL*, TProgressInfo* AProgressInfo) {
    if (AProgressInfo && FBatch) FBatch->Progress(*AProgressInfo);
}
