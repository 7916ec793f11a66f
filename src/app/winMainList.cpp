// The main window's conversion list: adding, removing and clearing rows.
#include "app/winMain.h"

#include "app/OpenDialog.h"
#include "core/AddQueue.h"
#include "core/DefaultFormats.h"
#include "core/DestinationName.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"
#include "core/OptionBuilder.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegVCL.h"
#include "media/FFmpegLogger.h"
#include "probe/AVProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
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

std::unique_ptr<QFileDialog> TfrmMain::NewOpenDialog() {
    return ::NewOpenDialog(this, GlobalObject->SettingsFile());
}

std::vector<std::string> TfrmMain::ChooseFiles() {
    if (filesChooser_) return filesChooser_();
    return ChooseFilesToOpen(this, GlobalObject->SettingsFile());
}

// The add's progress line and its Stop button, over the foot of the list.
void TfrmMain::CreateAddProgress() {
    pnlAdding = new QFrame(this);
    pnlAdding->setObjectName("pnlAdding");
    pnlAdding->setAccessibleName("Adding files");
    pnlAdding->setFrameShape(QFrame::StyledPanel);
    pnlAdding->setStyleSheet("QFrame#pnlAdding { background: #e9edf3; }");
    const QRect list = lvFIles->geometry();
    pnlAdding->setGeometry(list.left(), list.bottom() - 29, list.width(), 30);
    lblAdding = new QLabel(pnlAdding);
    lblAdding->setObjectName("lblAdding");
    lblAdding->setAccessibleName("Add progress");
    lblAdding->setGeometry(8, 4, list.width() - 100, 22);
    btnStopAdding = new QPushButton("Stop", pnlAdding);
    btnStopAdding->setObjectName("btnStopAdding");
    btnStopAdding->setAccessibleName("Stop");
    btnStopAdding->setToolTip("Stop adding files");
    btnStopAdding->setGeometry(list.width() - 84, 3, 76, 24);
    connect(btnStopAdding, &QPushButton::clicked, this, &TfrmMain::btnStopAddingClick);
    pnlAdding->hide();
}

void TfrmMain::btnAddClick() {
    if (!ConverterReady()) return;
    const std::vector<std::string> files = ChooseFiles();
    if (files.empty()) return;
    AddFiles(files);
}

// Probes one chosen file on a worker thread the way the converter opens a
// task's input, so a file is skipped for the same reasons and with the same
// text as before.
TAddProbe TfrmMain::ProbeForList(const std::string& file) {
    TAddProbe result;
    try {
        TFFmpeg task;
        if (!task.OpenInputFile(file)) {
            result.Error = task.ErrorText();
            GetLogger().Log(nullptr, llError, result.Error);
            return result;
        }
        result.Opened = true;
        TFileStreamInfo info;
        TAVProbe* probe = task.Probe(0);
        if (!probe) return result;
        probe->AttachContext(task.InputContext(0));
        if (probe->GetFileStreamInfo(info) && info.Duration > 0) result.DurationUS = info.Duration;
        probe->CloseFile();
    } catch (const std::exception& e) {
        result.Opened = false;
        result.Error = e.what();
    }
    return result;
}

// Adds the files in their order; rows appear as their probes finish, the
// window stays live and the add can be stopped. Returns when the add has
// ended; files added while one runs join it and return at once.
void TfrmMain::AddFiles(const std::vector<std::string>& files) {
    if (files.empty()) return;
    if (adding_) {
        adding_->Queue.Append(files);
        ShowAddProgress();
        return;
    }
    BeginAdd(files);
    std::weak_ptr<char> alive = alive_;
    {
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, &loop, [this, &loop] {
            DeliverAddedRows();
            if (adding_->Queue.Finished()) loop.quit();
        });
        tick.start();
        DeliverAddedRows();
        if (!adding_->Queue.Finished()) loop.exec();
    }
    if (!alive.lock()) return;
    EndAdd();
}

void TfrmMain::BeginAdd(const std::vector<std::string>& files) {
    TIniFile settings(GlobalObject->SettingsFile());
    const int code = settings.ReadInteger(kSettings, "FormatCode", 1);
    std::set<std::string> listed;
    for (int row = 0; row < lvFIles->RowCount(); ++row)
        listed.insert(lvFIles->Row(row)->Record.SourceFile);
    adding_ = std::make_shared<TAddRun>([](const std::string& file) { return ProbeForList(file); },
                                        std::move(listed));
    adding_->Suffix = OutputSuffix(code);
    adding_->Zoom = settings.ReadString(FormatSectionName(code), "parazoom", "lbox");
    adding_->Taken = DestinationNames();
    adding_->Queue.Append(files);
    ShowAddProgress();
}

// Appends the rows whose probes are done, in the chosen order, for at most
// a few milliseconds at a time. While a batch runs the rows wait: the
// batch works on the list as it was when it started.
void TfrmMain::DeliverAddedRows() {
    if (!adding_ || !btnAdd->isEnabled()) return;
    QElapsedTimer spent;
    spent.start();
    const int before = lvFIles->RowCount();
    while (spent.elapsed() < 20) {
        std::vector<TAddResult> ready = adding_->Queue.TakeReady(16);
        if (ready.empty()) break;
        for (TAddResult& result : ready)
            AddProbedFile(result);
    }
    if (before == 0 && lvFIles->RowCount() > 0) lvFIles->SelectRow(0);
    ShowAddProgress();
}

void TfrmMain::AddProbedFile(const TAddResult& result) {
    if (result.Outcome == TAddOutcome::Folder) return;
    if (!result.Probe.Opened) {
        adding_->Skipped.push_back(FileReasonText(result.File, result.Probe.Error));
        return;
    }
    const std::string destination =
        MakeDestinationName(*GlobalObject, result.File, adding_->Suffix, adding_->Taken);
    adding_->Taken.insert(destination);
    btnStart->setEnabled(true);
    lvFIles->AppendRow(
        NewFilesRecord(result.File, destination, result.Probe.DurationUS, adding_->Zoom));
    btnClear->setEnabled(true);
    btnRemove->setEnabled(true);
}

void TfrmMain::EndAdd() {
    const std::shared_ptr<TAddRun> run = std::move(adding_);
    pnlAdding->hide();
    if (lvFIles->RowCount() > 0) lvFIles->SelectRow(0);
    lvFIles->viewport()->update();
    ReportSkippedFiles(run->Skipped);
    if (PlayAfterAdd && lvFIles->RowCount() > 0) {
        PlayAfterAdd = false;
        imgbtnPlayClick();
    }
}

void TfrmMain::ShowAddProgress() {
    if (!adding_) return;
    lblAdding->setText(
        QString::fromStdString(AddProgressText(adding_->Queue.Taken(), adding_->Queue.Total())));
    if (!pnlAdding->isVisible()) {
        pnlAdding->raise();
        pnlAdding->show();
    }
}

void TfrmMain::btnStopAddingClick() {
    if (adding_) adding_->Queue.Stop();
}

bool TfrmMain::Adding() const {
    return adding_ != nullptr;
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
    // The player lets go of the row's source before the row goes; another
    // row's source plays on.
    if (lvFIles->Row(removed) == playerRow_) imgbtnStopClick();
    lvFIles->RemoveRow(removed);
    const int remaining = lvFIles->RowCount();
    if (remaining > 0) lvFIles->SelectRow(removed < remaining ? removed : remaining - 1);
    if (remaining == 0) ListBecameEmpty();
    UpdatePreNextEnabling();
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
