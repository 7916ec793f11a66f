// The main window's conversion list: adding, removing and clearing rows.
// Adding is the add driver's work (MainAdd.h).
#include "app/winMain.h"

#include "app/MainAdd.h"
#include "app/MainPreview.h"
#include "engine/FFmpegVCL.h"

#include <QApplication>
#include <QFileDialog>

void TfrmMain::btnAddClick() {
    if (!FAdd->ConverterReady()) return;
    const std::vector<std::string> files = FAdd->ChooseFiles();
    if (files.empty()) return;
    FAdd->AddFiles(files);
}

void TfrmMain::OpenFiles(const std::vector<std::string>& files) {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    FAdd->AddWhenFree(files);
}

void TfrmMain::btnRemoveClick() {
    const int removed = lvFIles->SelectedRow();
    if (removed < 0) return;
    // The player lets go of the row's source before the row goes; another
    // row's source plays on.
    if (lvFIles->Row(removed) == FPreview->PlayerRow()) imgbtnStopClick();
    lvFIles->RemoveRow(removed);
    const int remaining = lvFIles->RowCount();
    if (remaining > 0) lvFIles->SelectRow(removed < remaining ? removed : remaining - 1);
    if (remaining == 0) imgbtnStopClick();
    FPreview->UpdatePreNextEnabling();
    lvFIles->viewport()->update();
}

void TfrmMain::btnClearClick() {
    if (lvFIles->RowCount() == 0) return;
    CCAVC->ClearTasks();
    lvFIles->RemoveAllRows();
    imgbtnStopClick();
    lvFIles->viewport()->update();
}
