// Where an output file's bytes go, and how a file is told apart from the
// task's other files.
//
// A regular file is written to a temporary file beside it and only put in
// place (renamed over the target) when the task keeps its result; a task
// that fails leaves an existing file as it was. A new target's name is held
// by a claim meanwhile, never by a file under that name (media/OutputClaim.h). Devices, named pipes
// and names of other protocols (pipe:, network streams) are written directly.
#pragma once

#include "media/OutputClaim.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// A file as the system sees it, for "is this the same file" questions.
struct TFileIdentity {
    bool Local = false;  // a name of the file protocol (a path)
    bool Exists = false; // Device and Inode are valid
    dev_t Device = 0;
    ino_t Inode = 0;
    std::string Resolved; // absolute, with links and dots resolved as far as the path exists
};

// The path of a library name of the file protocol ("file:" dropped), or an
// empty text for names of other protocols.
std::string LocalPathOf(const std::string& libraryName);
TFileIdentity IdentifyFile(const std::string& libraryName);
// Every local file the name reads or writes, also inside the names of the
// protocols that read other names (see LocalFilesOf).
std::vector<TFileIdentity> IdentifyFiles(const std::string& libraryName);
// Same device and inode; for names that do not exist, the same resolved path.
bool IsSameFile(const TFileIdentity& a, const TFileIdentity& b);
// The first file of `a` that is also one of `b`; null when they share none.
const TFileIdentity* SharedFile(const std::vector<TFileIdentity>& a,
                                const std::vector<TFileIdentity>& b);

// One output's target. Not thread-safe: owned by its output file, used by
// the thread that opens or closes that file.
class TOutputTarget {
public:
    TOutputTarget() = default;
    ~TOutputTarget() { Discard(); }
    TOutputTarget(const TOutputTarget&) = delete;
    TOutputTarget& operator=(const TOutputTarget&) = delete;

    // Decides how `libraryName` is written; for a regular file, removes what
    // dead runs left in its folder, creates the temporary file and claims a
    // new target's name, so later names made for the batch avoid it. Throws FFmpegException
    // with the system's reason when the target cannot be written, and with
    // `mustBeNew` when a file of that name exists (the test and the
    // reservation are one step, so two programs never take one name).
    void Prepare(const std::string& libraryName, bool mustBeNew = false);
    // The name to open for writing: the temporary file or the target.
    const std::string& WriteName() const { return FWriteName; }
    // The written file replaces the target on Commit.
    bool Replaces() const { return !FTemp.empty(); }
    // Size of the temporary file: 0 when there is none, -1 when it has
    // gone (removed with its folder while the task ran).
    long long WrittenSize() const;
    // Renames the temporary file onto the target. Returns the error text, or
    // an empty text.
    std::string Commit();
    // Removes the temporary file, and the claim made by Prepare.
    void Discard();

private:
    std::string FTarget;    // path of the target (links resolved)
    std::string FTemp;      // the temporary file; empty: written directly or done
    std::string FWriteName; // what the libraries open
    TOutputClaim FClaim;    // on a new target's name, until Commit or Discard
};

// Opening a named pipe for writing waits in the kernel until a reader comes,
// and such an open gives up only for a signal that lands inside it: one that
// came just before it would leave the program blocked for good. The guard
// waits for the reader itself with opens that do not block, asking whether
// to give up between tries, and then holds ends of its own (a writer, so
// the reader never sees the end of the data early, and a reader, so the
// libraries' own open returns at once even when the reader has left
// meanwhile) until it is released, after that open. Names that are not
// named pipes wait for nothing. Owned by the thread that opens the output.
class TPipeWriterOpen {
public:
    TPipeWriterOpen() = default;
    ~TPipeWriterOpen() { Release(); }
    TPipeWriterOpen(const TPipeWriterOpen&) = delete;
    TPipeWriterOpen& operator=(const TPipeWriterOpen&) = delete;

    // False when `giveUp` answered true before a reader of the pipe at
    // `path` came; true otherwise (an error other than a missing reader is
    // left to the libraries' open to report).
    bool WaitForReader(const std::string& path, const std::function<bool()>& giveUp);
    // Closes the ends the guard holds.
    void Release();

private:
    int FWriter = -1;
    int FReader = -1;
};
