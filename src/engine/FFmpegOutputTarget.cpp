#include "engine/FFmpegOutputTarget.h"

#include "engine/FFmpegLocalFiles.h"
#include "engine/FFmpegRecords.h"
#include "media/FFUtils.h"
#include "media/FFmpegHeaders.h"
#include "media/FFmpegLoader.h"
#include "media/OutputClaim.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <time.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr char kFilePrefix[] = "file:";

std::string ResolvedPath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) return path;
    // A link to a file not written yet (a new output, claimed) names that file.
    for (int hop = 0; hop < 40 && fs::is_symlink(absolute, ec) && !fs::exists(absolute, ec);
         ++hop) {
        const fs::path next = fs::read_symlink(absolute, ec);
        if (ec) break;
        absolute = next.is_absolute() ? next : absolute.parent_path() / next;
    }
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal().string() : resolved.string();
}

[[noreturn]] void ThrowSystemError(const std::string& path, int error) {
    throw FFmpegException(MediaErrorText(path, AVERROR(error)));
}

// Creates the temporary file; it gets the mode of the file it replaces.
std::string CreateTempFile(const std::string& target, const std::string& shownName, bool replaces,
                           mode_t mode) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = TemporaryNameOf(target);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            ThrowSystemError(shownName, errno);
        }
        if (replaces) ::fchmod(fd, mode & 07777);
        ::close(fd);
        return name;
    }
    ThrowSystemError(shownName, EEXIST);
}

} // namespace

std::string LocalPathOf(const std::string& libraryName) {
    if (libraryName.empty()) return {};
    if (libraryName.rfind(kFilePrefix, 0) == 0) return libraryName.substr(sizeof kFilePrefix - 1);
    const char* protocol = FFmpegLoader().IsLoaded(libAVFormat)
                               ? ff::avformat.avio_find_protocol_name(libraryName.c_str())
                               : "file";
    if (!protocol || std::strcmp(protocol, "file") != 0) return {};
    return libraryName;
}

namespace {

TFileIdentity IdentifyPath(const std::string& path) {
    TFileIdentity identity;
    if (path.empty()) return identity;
    identity.Local = true;
    identity.Resolved = ResolvedPath(path);
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        identity.Exists = true;
        identity.Device = status.st_dev;
        identity.Inode = status.st_ino;
    }
    return identity;
}

} // namespace

TFileIdentity IdentifyFile(const std::string& libraryName) {
    return IdentifyPath(LocalPathOf(libraryName));
}

std::vector<TFileIdentity> IdentifyFiles(const std::string& libraryName) {
    std::vector<TFileIdentity> files;
    for (const std::string& path : LocalFilesOf(libraryName))
        files.push_back(IdentifyPath(path));
    return files;
}

bool IsSameFile(const TFileIdentity& a, const TFileIdentity& b) {
    if (!a.Local || !b.Local) return false;
    if (a.Exists && b.Exists) return a.Device == b.Device && a.Inode == b.Inode;
    return a.Resolved == b.Resolved;
}

const TFileIdentity* SharedFile(const std::vector<TFileIdentity>& a,
                                const std::vector<TFileIdentity>& b) {
    for (const TFileIdentity& file : a)
        for (const TFileIdentity& other : b)
            if (IsSameFile(file, other)) return &file;
    return nullptr;
}

void TOutputTarget::Prepare(const std::string& libraryName, bool mustBeNew) {
    Discard();
    FWriteName = libraryName;
    const std::string path = LocalPathOf(libraryName);
    if (path.empty()) return; // pipe:, a network stream...
    struct stat status {};
    const bool exists = ::stat(path.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) ThrowSystemError(path, EISDIR);
    if (exists && !S_ISREG(status.st_mode)) return; // a device, a named pipe: written directly
    if (exists && mustBeNew) ThrowSystemError(path, EEXIST);
    if (exists && ::access(path.c_str(), W_OK) != 0) ThrowSystemError(path, errno);
    FTarget = ResolvedPath(path);
    RemoveDeadLeftovers(fs::path(FTarget).parent_path().string());
    if (!exists) {
        // A name taken meanwhile is replaced, unless the output must be new.
        const int error = FClaim.Take(FTarget);
        if (error != 0 && (error != EEXIST || mustBeNew)) ThrowSystemError(path, error);
    }
    try {
        FTemp = CreateTempFile(FTarget, path, exists, status.st_mode);
    } catch (...) {
        Discard();
        throw;
    }
    FWriteName = FTemp;
}

long long TOutputTarget::WrittenSize() const {
    struct stat status {};
    if (FTemp.empty()) return 0;
    if (::stat(FTemp.c_str(), &status) != 0) return -1;
    return static_cast<long long>(status.st_size);
}

std::string TOutputTarget::Commit() {
    if (FTemp.empty()) return {};
    if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) {
        const std::string error = MediaErrorText(FTarget, AVERROR(errno));
        Discard();
        return error;
    }
    FTemp.clear();
    FClaim.Release();
    return {};
}

void TOutputTarget::Discard() {
    if (!FTemp.empty()) ::unlink(FTemp.c_str());
    FTemp.clear();
    FClaim.Release();
}

namespace {

// The pause between two looks for a reader of a named pipe.
constexpr long kPipeRetryNs = 20'000'000;

bool IsNamedPipe(const std::string& path) {
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

} // namespace

bool TPipeWriterOpen::WaitForReader(const std::string& path, const std::function<bool()>& giveUp) {
    Release();
    if (!IsNamedPipe(path)) return true;
    for (;;) {
        if (giveUp && giveUp()) return false;
        FWriter = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (FWriter >= 0) break;
        if (errno != ENXIO && errno != EINTR) return true; // the libraries' open says why
        // A signal ends the pause early; the question above then answers it.
        const timespec pause{0, kPipeRetryNs};
        ::nanosleep(&pause, nullptr);
    }
    FReader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return true;
}

void TPipeWriterOpen::Release() {
    // The reader end first: while the guard's writer is open the pipe's
    // reader never sees the end of the data.
    if (FReader >= 0) ::close(FReader);
    if (FWriter >= 0) ::close(FWriter);
    FReader = FWriter = -1;
}
