// The main window's part of the batch: Start and the converter's progress
// reports go to the batch (MainBatch.h); the texts the batch shows.
#include "app/winMain.h"

#include "app/MainBatch.h"

void TfrmMain::SetPowerOffCommand(std::function<void()> command) {
    TMainBatch::PowerOffCommand() = std::move(command);
}

int TfrmMain::ProgressPercent(int64_t current, int64_t total) {
    return TaskPercent(current, total);
}

QString TfrmMain::ShortFileCaption(const QString& path) {
    if (path.size() <= 50) return path;
    const int dot = path.lastIndexOf('.');
    return path.left(44) + ".." + (dot >= 0 ? path.mid(dot) : QString());
}

void TfrmMain::btnStartClick() {
    if (FBatch) FBatch->Start();
}

void TfrmMain::CCAVCProgress(TCustomFFmpegVCL*, TProgressInfo* AProgressInfo) {
    if (AProgressInfo && FBatch) FBatch->Progress(*AProgressInfo);
}
