// The names a conversion writes under before its output is done, and their
// clean-up after a run that died (killed, crashed, a file-size limit).
//
// While a task writes NAME, nothing that looks like a finished output
// exists: the bytes go to a temporary file ".NAME.<tag>.<pid>@<host>.part"
// beside it, renamed onto NAME at the end. A new name is held by a claim
// ".NAME.vantrel-claim" beside it, created exclusively (so two programs
// never take one name) and holding "<pid>@<host>" of its owner, who keeps
// it locked while it lives. A NAME too long to fit in them is cut there and
// followed by a hash of the whole name. Leftovers are removed only when they are of
// this machine and their owner process is gone; names of other machines
// (a shared folder) are left to those machines' runs.
#pragma once

#include <string>

// The claim file of `target` (a path).
std::string ClaimNameOf(const std::string& target);
// A fresh temporary name for `target`, carrying this process as its owner.
std::string TemporaryNameOf(const std::string& target);
// Whether a live run holds a claim on `target` (a dead run's claim is
// removed on the way).
bool IsClaimed(const std::string& target);
// Removes the claims and temporary files in `folder` whose owners are gone;
// the count removed. Names not made by TemporaryNameOf and ClaimNameOf are
// never touched.
int RemoveDeadLeftovers(const std::string& folder);

// A claim on a new target's name. Owned by one thread.
class TOutputClaim {
public:
    TOutputClaim() = default;
    ~TOutputClaim() { Release(); }
    TOutputClaim(const TOutputClaim&) = delete;
    TOutputClaim& operator=(const TOutputClaim&) = delete;

    // 0 when taken; else the errno (EEXIST: the target exists, or a live
    // run claims it).
    int Take(const std::string& target);
    // Removes the claim (after the output was renamed onto the target, or
    // discarded).
    void Release();

private:
    std::string FPath;
    int FFd = -1;
};
