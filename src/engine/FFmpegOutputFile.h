// One output file of a task.
#pragma once

#include "engine/FFmpegOutputTarget.h"
#include "media/FFmpegHeaders.h"

#include <string>

// One output file (shared by every slot of a joined output). Owned by the
// task; opened on the caller's thread, written and closed on the worker.
// Its bytes go to Target's write name; closing it without keeping the
// result (a failure, a task removed) leaves the target as it was.
class TOutputFile {
public:
    explicit TOutputFile(AVFormatContext* context) : Context(context) {}
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Closes the byte stream. With `keep`, a file that holds something
    // replaces the target; returns the error text when writing or replacing
    // failed (the target then stays as it was), else an empty text.
    std::string Close(bool keep);
    // Muxers that read their own output back to finish it (moving the index
    // to the front) open it by the context's name: from now on that name is
    // the file being written.
    void NameTheWrittenFile();

    AVFormatContext* Context = nullptr; // owned
    std::string FileName;               // the target as given; empty for formats that write no file
    TFileIdentity Identity;             // of the target, to refuse an input that is this file
    TOutputTarget Target;
    bool Discard = false; // the file holds nothing: never kept, whatever its size
};
