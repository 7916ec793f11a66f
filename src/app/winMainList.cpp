// The main window's conversion list: adding, removing and clearing rows.
#include "app/winMain.h"

#include "app/OpenDialog.h"
#include "app/core/DefaultFormats.h"
#include "app/core/DestinationName.h"
#include "app/core/GlobalUnit.h"
#include "app/core/IniFile.h"
#include "app/core/MessageSeam.h"
#include "app/core/OptionBuilder.h"
#include "engine/FFmpegVCL.h"
#include "probe/AVProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <filesystem>
#include <set>

namespace {

const char* const kSettings = "settings";

} // namespace

bool TfrmMain::ConverterReady() {
    const std::string folder =
        QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString();
    return CCAVC->LoadAVLib(folder);
}

std::vector<std::string> TfrmMain::ChooseFiles() {
    if (filesChooser_) return filesChooser_();
    return ChooseFilesToOpen(this, GlobalObject->SettingsFile());
}

void TfrmMain::btnAddClick() {
    if (!ConverterReady()) return;
    const std::vector<std::string> files = ChooseFiles();
    if (files.empty()) return;
    AddFiles(files);
}

void TfrmMain::AddFiles(const std::vector<std::string>& files) {
    CCAVC->ClearTasks();
    TIniFile settings(GlobalObject->SettingsFile());
    const int code = settings.ReadInteger(kSettings, "FormatCode", 1);
    const std::string suffix = OutputSuffix(code);
    const std::string zoom = settings.ReadString(FormatSectionName(code), "parazoom", "lbox");
    std::set<std::string> taken = DestinationNames();
    std::vector<std::string> skipped;
    for (const std::string& file : files) {
        std::error_code ec;
        if (std::filesystem::is_directory(file, ec)) continue;
        if (lvFIles->FindCaption(file) >= 0) continue;
        const int task = CCAVC->AddTask(file);
        if (task < 0) {
            skipped.push_back(FileReasonText(file, CCAVC->LastErrMsg));
            continue;
        }
        const std::string destination = MakeDestinationName(*GlobalObject, file, suffix, taken);
        taken.insert(destination);
        TFileStreamInfo info;
        TAVProbe* probe = CCAVC->InputProbe(task, 0);
        if (!probe || !probe->GetFileStreamInfo(info)) info.Duration = 0;
        btnStart->setEnabled(true);
        lvFIles->AppendRow(
            NewFilesRecord(file, destination, info.Duration < 0 ? 0 : info.Duration, zoom));
        btnClear->setEnabled(true);
        btnRemove->setEnabled(true);
        CCAVC->RemoveTask(task);
        CCAVC->ClearTasks();
        lvFIles->SelectRow(0);
        lvFIles->viewport()->update();
    }
    ReportSkippedFiles(skipped);
    if (PlayAfterAdd && lvFIles->RowCount() > 0) {
        PlayAfterAdd = false;
        imgbtnPlayClick();
    }
}

// One message for all the files of an add that the converter could not open.
void TfrmMain::ReportSkippedFiles(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    std::string text =
        lines.size() == 1 ? "This file could not be added:" : "These files could not be added:";
    for (const std::string& line : lines)
        text += "\n" + line;
    ShowMessageBox("Warning", text, TMsgIcon::Warning, TMsgButtons::Ok);
}

std::string TfrmMain::FileReasonText(const std::string& file, const std::string& reason) {
    if (reason.rfind(file + ":", 0) == 0) return reason;
    return file + ": " + (reason.empty() ? std::string("cannot be opened") : reason);
}

// The suffix of the files the chosen format writes.
std::string TfrmMain::OutputSuffix(int formatCode) const {
    return "." + FormatFileExt(*GlobalObject, formatCode);
}

std::set<std::string> TfrmMain::DestinationNames() const {
    std::set<std::string> names;
    for (int row = 0; row < lvFIles->RowCount(); ++row)
        names.insert(lvFIles->Row(row)->Record.DestinationFile);
    return names;
}

// Names every row again for the format in use, in list order, each row
// taking the first name that neither a file nor a row above it has.
void TfrmMain::ShowDestinationNames() {
    if (lvFIles->RowCount() == 0) return;
    TIniFile settings(GlobalObject->SettingsFile());
    const std::string suffix = OutputSuffix(settings.ReadInteger(kSettings, "FormatCode", 1));
    std::set<std::string> taken;
    for (int row = 0; row < lvFIles->RowCount(); ++row) {
        const std::string name =
            MakeDestinationName(*GlobalObject, lvFIles->Row(row)->Record.SourceFile, suffix, taken);
        taken.insert(name);
        lvFIles->SetDestination(row, name);
    }
}

void TfrmMain::btnRemoveClick() {
    const int removed = lvFIles->SelectedRow();
    if (removed < 0) return;
    // The player may be playing the row's source.
    imgbtnStopClick();
    lvFIles->RemoveRow(removed);
    const int remaining = lvFIles->RowCount();
    if (remaining > 0) lvFIles->SelectRow(removed < remaining ? removed : remaining - 1);
    if (remaining == 0) ListBecameEmpty();
    lvFIles->viewport()->update();
}

void TfrmMain::btnClearClick() {
    if (lvFIles->RowCount() == 0) return;
    CCAVC->ClearTasks();
    lvFIles->RemoveAllRows();
    ListBecameEmpty();
}

void TfrmMain::ListBecameEmpty() {
    imgbtnStopClick();
    lvFIles->viewport()->update();
}
