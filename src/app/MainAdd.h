// The main window's add driver: files and folders chosen, dropped or handed
// over join one add whose probes run on workers; their rows appear in the
// chosen order while the window stays live, the add can be stopped, and the
// files that could not be opened are reported once at its end. It also names
// every row's destination for the format in use.
//
// Threads: user-interface thread only; the add queue has its own lock.
#pragma once

#include "core/AddQueue.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QFileDialog;
class QTimer;
class TfrmMain;

class TMainAdd {
public:
    explicit TMainAdd(TfrmMain& window) : FWindow(window) {}
    ~TMainAdd();
    TMainAdd(const TMainAdd&) = delete;
    TMainAdd& operator=(const TMainAdd&) = delete;

    // Lets tests choose the files to add without the file dialog.
    using TFilesChooser = std::function<std::vector<std::string>()>;
    void SetFilesChooser(TFilesChooser chooser) { FFilesChooser = std::move(chooser); }

    // The add's progress line and its Stop button, over the foot of the list.
    void CreateProgressPanel();
    // The converter's libraries are loaded, so that files can be probed.
    bool ConverterReady();
    // The files of the open dialog (or of the test's chooser).
    std::vector<std::string> ChooseFiles();
    std::unique_ptr<QFileDialog> NewOpenDialog();
    // Adds the files in their order; returns when the add has ended. Files
    // added while one runs join it and return at once.
    void AddFiles(const std::vector<std::string>& files);
    // Adds the files as soon as no dialog or batch is in the way.
    void AddWhenFree(const std::vector<std::string>& files);
    void Stop();
    bool Adding() const { return FRun != nullptr; }
    // Every row's "Destination File" for the format in use.
    void ShowDestinationNames();

    // Probes one file for the list; safe on several threads at once.
    static TAddProbe ProbeForList(const std::string& file);
    // "file: reason", unless the reason names the file already.
    static std::string FileReasonText(const std::string& file, const std::string& reason);

private:
    // The add that runs: its probes, and what its rows need.
    struct TAddRun {
        TAddRun(TAddProber prober, std::set<std::string> listed)
            : Queue(std::move(prober), TAddQueue::DefaultThreadCount(), std::move(listed)) {}
        TAddQueue Queue;
        std::string Suffix, Zoom;
        std::set<std::string> Taken;
        std::vector<std::string> Skipped;
    };

    void BeginAdd(const std::vector<std::string>& files);
    void DeliverAddedRows();
    void AddProbedFile(const TAddResult& result);
    void EndAdd();
    void ShowAddProgress();
    void AddPendingFiles();
    std::string OutputSuffix(int formatCode) const;
    std::set<std::string> DestinationNames() const;

    TfrmMain& FWindow;
    TFilesChooser FFilesChooser;
    std::shared_ptr<TAddRun> FRun;
    // Files of AddWhenFree() not added yet; retried by `FPendingTimer`.
    std::vector<std::string> FPendingFiles;
    QTimer* FPendingTimer = nullptr;
    // Expires with the driver: an add's loop checks it when it returns.
    std::shared_ptr<char> FAlive = std::make_shared<char>();
};
