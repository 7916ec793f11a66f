#include "app/MainAdd.h"

#include "app/OpenDialog.h"
#include "app/winMain.h"
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

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

const char* const kSettings = "settings";

// One message for all the files of an add that the converter could not open.
void ReportSkippedFiles(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    std::string text =
        lines.size() == 1 ? "This file could not be added:" : "These files could not be added:";
    for (const std::string& line : lines)
        text += "\n" + line;
    ShowMessageBox("Warning", text, TMsgIcon::Warning, TMsgButtons::Ok);
}

} // namespace

TMainAdd::~TMainAdd() {
    FRun.reset();
}

bool TMainAdd::ConverterReady() {
    const std::string folder =
        QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString();
    return FWindow.CCAVC->LoadAVLib(folder);
}

std::unique_ptr<QFileDialog> TMainAdd::NewOpenDialog() {
    return ::NewOpenDialog(&FWindow, FWindow.Global().SettingsFile());
}

std::vector<std::string> TMainAdd::ChooseFiles() {
    if (FFilesChooser) return FFilesChooser();
    return ChooseFilesToOpen(&FWindow, FWindow.Global().SettingsFile());
}

void TMainAdd::CreateProgressPanel() {
    TfrmMain& w = FWindow;
    w.pnlAdding = new QFrame(&w);
    w.pnlAdding->setObjectName("pnlAdding");
    w.pnlAdding->setAccessibleName("Adding files");
    w.pnlAdding->setFrameShape(QFrame::StyledPanel);
    w.pnlAdding->setStyleSheet("QFrame#pnlAdding { background: #e9edf3; }");
    const QRect list = w.lvFIles->geometry();
    w.pnlAdding->setGeometry(list.left(), list.bottom() - 29, list.width(), 30);
    w.lblAdding = new QLabel(w.pnlAdding);
    w.lblAdding->setObjectName("lblAdding");
    w.lblAdding->setAccessibleName("Add progress");
    w.lblAdding->setGeometry(8, 4, list.width() - 100, 22);
    w.btnStopAdding = new QPushButton("Stop", w.pnlAdding);
    w.btnStopAdding->setObjectName("btnStopAdding");
    w.btnStopAdding->setAccessibleName("Stop");
    w.btnStopAdding->setToolTip("Stop adding files");
    w.btnStopAdding->setGeometry(list.width() - 84, 3, 76, 24);
    QObject::connect(w.btnStopAdding, &QPushButton::clicked, &w, [this] { Stop(); });
    w.pnlAdding->hide();
}

// Probes one chosen file on a worker thread the way the converter opens a
// task's input, so a file is skipped for the same reasons and with the same
// text as before.
TAddProbe TMainAdd::ProbeForList(const std::string& file) {
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

// Rows appear as their probes finish; the window's events go on meanwhile.
void TMainAdd::AddFiles(const std::vector<std::string>& files) {
    if (files.empty()) return;
    if (FRun) {
        FRun->Queue.Append(files);
        ShowAddProgress();
        return;
    }
    BeginAdd(files);
    std::weak_ptr<char> alive = FAlive;
    {
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(10);
        QObject::connect(&tick, &QTimer::timeout, &loop, [this, &loop] {
            DeliverAddedRows();
            if (FRun->Queue.Finished()) loop.quit();
        });
        tick.start();
        DeliverAddedRows();
        if (!FRun->Queue.Finished()) loop.exec();
    }
    if (!alive.lock()) return;
    EndAdd();
}

void TMainAdd::BeginAdd(const std::vector<std::string>& files) {
    TIniFile settings(FWindow.Global().SettingsFile());
    const int code = settings.ReadInteger(kSettings, "FormatCode", 1);
    std::set<std::string> listed;
    const TFilesList& list = *FWindow.lvFIles;
    for (int row = 0; row < list.RowCount(); ++row)
        listed.insert(list.Row(row)->Record.SourceFile);
    FRun = std::make_shared<TAddRun>([](const std::string& file) { return ProbeForList(file); },
                                     std::move(listed));
    FRun->Suffix = OutputSuffix(code);
    FRun->Zoom = settings.ReadString(FormatSectionName(code), "parazoom", "lbox");
    FRun->Taken = DestinationNames();
    FRun->Queue.Append(files);
    ShowAddProgress();
}

// Appends the rows whose probes are done, in the chosen order, for at most
// a few milliseconds at a time. While a batch runs the rows wait: the
// batch works on the list as it was when it started.
void TMainAdd::DeliverAddedRows() {
    if (!FRun || !FWindow.btnAdd->isEnabled()) return;
    QElapsedTimer spent;
    spent.start();
    TFilesList& list = *FWindow.lvFIles;
    const int before = list.RowCount();
    while (spent.elapsed() < 20) {
        std::vector<TAddResult> ready = FRun->Queue.TakeReady(16);
        if (ready.empty()) break;
        for (TAddResult& result : ready)
            AddProbedFile(result);
    }
    if (before == 0 && list.RowCount() > 0) list.SelectRow(0);
    ShowAddProgress();
}

void TMainAdd::AddProbedFile(const TAddResult& result) {
    if (result.Outcome == TAddOutcome::Folder) return;
    if (!result.Probe.Opened) {
        FRun->Skipped.push_back(FileReasonText(result.File, result.Probe.Error));
        return;
    }
    const std::string destination =
        MakeDestinationName(FWindow.Global(), result.File, FRun->Suffix, FRun->Taken);
    FRun->Taken.insert(destination);
    FWindow.btnStart->setEnabled(true);
    FWindow.lvFIles->AppendRow(
        NewFilesRecord(result.File, destination, result.Probe.DurationUS, FRun->Zoom));
    FWindow.btnClear->setEnabled(true);
    FWindow.btnRemove->setEnabled(true);
}

void TMainAdd::EndAdd() {
    const std::shared_ptr<TAddRun> run = std::move(FRun);
    TFilesList& list = *FWindow.lvFIles;
    FWindow.pnlAdding->hide();
    if (list.RowCount() > 0) list.SelectRow(0);
    list.viewport()->update();
    ReportSkippedFiles(run->Skipped);
    if (FWindow.PlayAfterAdd && list.RowCount() > 0) {
        FWindow.PlayAfterAdd = false;
        FWindow.imgbtnPlayClick();
    }
}

void TMainAdd::ShowAddProgress() {
    if (!FRun) return;
    FWindow.lblAdding->setText(
        QString::fromStdString(AddProgressText(FRun->Queue.Taken(), FRun->Queue.Total())));
    if (!FWindow.pnlAdding->isVisible()) {
        FWindow.pnlAdding->raise();
        FWindow.pnlAdding->show();
    }
}

void TMainAdd::Stop() {
    if (FRun) FRun->Queue.Stop();
}

void TMainAdd::AddWhenFree(const std::vector<std::string>& files) {
    FPendingFiles.insert(FPendingFiles.end(), files.begin(), files.end());
    if (!FPendingTimer) {
        FPendingTimer = new QTimer(&FWindow);
        FPendingTimer->setObjectName("pendingFilesTimer");
        FPendingTimer->setSingleShot(true);
        QObject::connect(FPendingTimer, &QTimer::timeout, &FWindow, [this] { AddPendingFiles(); });
    }
    FPendingTimer->start(0);
}

void TMainAdd::AddPendingFiles() {
    if (FPendingFiles.empty()) return;
    // A dialog works on the list's rows, a batch on its tasks: wait for them.
    if (QApplication::activeModalWidget() || !FWindow.btnAdd->isEnabled()) {
        FPendingTimer->start(250);
        return;
    }
    const std::vector<std::string> files = std::move(FPendingFiles);
    FPendingFiles.clear();
    if (ConverterReady()) AddFiles(files);
}

std::string TMainAdd::FileReasonText(const std::string& file, const std::string& reason) {
    if (reason.rfind(file + ":", 0) == 0) return reason;
    return file + ": " + (reason.empty() ? std::string("cannot be opened") : reason);
}

// The suffix of the files the chosen format writes.
std::string TMainAdd::OutputSuffix(int formatCode) const {
    return "." + FormatFileExt(FWindow.Global(), formatCode);
}

std::set<std::string> TMainAdd::DestinationNames() const {
    std::set<std::string> names;
    const TFilesList& list = *FWindow.lvFIles;
    for (int row = 0; row < list.RowCount(); ++row)
        names.insert(list.Row(row)->Record.DestinationFile);
    return names;
}

// Names every row again for the format in use, in list order, each row
// taking the first name that neither a file nor a row above it has.
void TMainAdd::ShowDestinationNames() {
    TFilesList& list = *FWindow.lvFIles;
    if (list.RowCount() == 0) return;
    TIniFile settings(FWindow.Global().SettingsFile());
    const std::string suffix = OutputSuffix(settings.ReadInteger(kSettings, "FormatCode", 1));
    std::set<std::string> taken;
    for (int row = 0; row < list.RowCount(); ++row) {
        const std::string name =
            MakeDestinationName(FWindow.Global(), list.Row(row)->Record.SourceFile, suffix, taken);
        taken.insert(name);
        list.SetDestination(row, name);
    }
}
