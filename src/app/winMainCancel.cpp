// What a cancelled batch leaves: the rows whose conversion was cut short say
// so, and their partly written files go unless the user chose to keep them.
#include "app/WinProgress.h"
#include "app/winMain.h"
#include "engine/FFmpegRecords.h"

#include <filesystem>
#include <system_error>

namespace {

const char* const kCancelledText = "Cancelled";

} // namespace

// A task that ended unfinished, without an error, while the user cancels:
// it was running when the converter stopped if it had reported progress or
// had written its file (the name did not exist when the batch started).
void TfrmMain::TaskCutShort(const TTerminateInfo& info) {
    if (info.Finished || info.ExceptionRaised || !frmProgress || !frmProgress->Cancelled()) return;
    if (info.TaskIndex < 0 || info.TaskIndex >= static_cast<int>(TaskItems.size())) return;
    const int row = TaskItems[info.TaskIndex];
    if (row < 0 || row >= lvFIles->RowCount()) return;
    const std::filesystem::path output = lvFIles->Row(row)->Record.DestinationFile;
    std::error_code error;
    const bool written = !output.empty() && std::filesystem::is_regular_file(output, error);
    if (!written && lvFIles->Row(row)->text(colProgress).isEmpty()) return;
    lvFIles->SetProgressText(row, kCancelledText);
    if (written && !frmProgress->KeepCancelledFiles()) std::filesystem::remove(output, error);
}
