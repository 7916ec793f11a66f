// The conversion list kept on disk, so that it survives a crash or a power
// cut: every row with its check mark, its record and its edit settings,
// and which rows the running batch has converted.
//
// The file is plain text, versioned by its first line, one "key=value" a
// line in blocks "[row]" and "[layer]" and closed by "[end]"; numbers are
// written and read without the user's locale. It is written to a temporary
// file beside it, flushed to the disk and renamed over the old one, so a
// reader always finds a whole list (the old or the new).
//
//   TListStore store(folder + "vantrellist.txt");
//   std::string problem;
//   TStoredList list = store.Load(problem); // a corrupt file is set aside
//   ...
//   store.Save(list); // written on the store's own thread
#pragma once

#include "effects/EditSettings.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct TStoredRow {
    TlvFilesRecord Record;
    bool Checked = true;
    bool Converted = false;    // converted by the batch that was running
    std::string TrimmedLength; // the row's "Trimmed Length" text
    std::string Failure;       // why the last batch left the row unconverted
};

struct TStoredList {
    bool BatchRunning = false; // a batch ran when the list was stored
    std::vector<TStoredRow> Rows;
};

// The file's name in the configuration folder.
inline constexpr char kListFileName[] = "vantrellist.txt";

std::string ListToText(const TStoredList& list);
// False, with the reason in `error`, when `text` is not a whole list of
// this version; `list` is then left unchanged.
bool ListFromText(const std::string& text, TStoredList& list, std::string& error);

// After a batch that did not end: the rows it converted lose their check
// mark (they are done), the others keep theirs, so Start continues where
// the batch stopped. The list no longer counts as in a batch.
void ResumeInterruptedBatch(TStoredList& list);

// Writes `text` to a temporary file beside `path`, flushes it to the disk
// and renames it to `path`; false with the reason in `error`.
bool WriteFileReplacing(const std::string& path, const std::string& text, std::string& error);

class TListStore {
public:
    explicit TListStore(std::string fileName);
    // Writes a list still waiting, then ends the writer.
    ~TListStore();
    TListStore(const TListStore&) = delete;
    TListStore& operator=(const TListStore&) = delete;

    const std::string& FileName() const { return FFileName; }

    // The stored list; empty when there is none. A file that is not a list
    // is renamed (".corrupt", then ".corrupt1", ...) and `problem` tells
    // the user what happened; empty `problem` otherwise.
    TStoredList Load(std::string& problem);
    // Queues the list for the writer; a list not written yet is replaced.
    void Save(TStoredList list);
    // Waits until the lists queued so far are on disk; false when that took
    // longer than `limit`.
    bool Flush(std::chrono::milliseconds limit);
    // The program ends normally: nothing more is written and the file goes,
    // so the next start begins with an empty list.
    void Discard();
    // Why the last write failed, empty after a good one.
    std::string LastError() const;

private:
    void Write();
    std::string SetAside();

    const std::string FFileName;
    // All fields below: FMutex. The user-interface thread queues, the
    // writer thread takes and writes.
    mutable std::mutex FMutex;
    std::condition_variable FWake;    // a list queued, or quit
    std::condition_variable FWritten; // the queued list is on disk
    std::optional<TStoredList> FPending;
    bool FWriting = false;
    bool FQuit = false;
    std::string FLastError;
    std::thread FWriter;
};
