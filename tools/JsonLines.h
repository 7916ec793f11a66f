// The --json output of vantrel-convert --format: one JSON object a line on
// standard output for every task's progress and result, for scripts and
// job schedulers. Each object has the members
//   "file"     the source file as given
//   "state"    "queued", "converting", "finished", "stopped" or "failed"
//   "percent"  0..100, the output time reached of the expected length
//   "output"   the output file, or null when none was made for the file
//   "error"    the reason of a failure, else null
#pragma once

#include "BatchRun.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

// `text` as a JSON string with its quotes. Quotes, backslashes and control
// characters are escaped; bytes that are not UTF-8 become U+FFFD.
std::string JsonQuoted(const std::string& text);

// One line's content.
struct TJsonRecord {
    std::string File;
    std::string State;
    int Percent = 0;
    std::string Output; // empty: null
    std::string Error;  // empty: null
};

// The object of `record` on one line, without the line end.
std::string JsonLine(const TJsonRecord& record);

// The percentage of a progress report: 0 while the length is unknown, at
// most 100.
int JsonPercent(const TProgressInfo& info);

// Writes the lines of one batch. Threads: reports may come from any thread;
// FLock guards the tasks and the stream, and each line is flushed whole.
class TJsonLines : public TBatchObserver {
public:
    explicit TJsonLines(std::FILE* out = stdout) : FOut(out) {}

    // A task of the batch, before it starts: its line "queued".
    void AddTask(int task, const std::string& file, const std::string& output);
    // A file that got no task: its line "failed" with the reason.
    void FileFailed(const std::string& file, const std::string& error);

    void Progress(const TProgressInfo& info) override;
    void Ended(const TTerminateInfo& info) override;

private:
    void Write(const TJsonRecord& record); // with FLock held

    std::mutex FLock;
    std::FILE* FOut;
    std::map<int, TJsonRecord> FTasks; // the last line of each task
};
