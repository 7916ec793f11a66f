#include "media/OutputClaim.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr char kClaimSuffix[] = ".vantrel-claim";
constexpr char kPartSuffix[] = ".part";
// A claim whose owner has not yet written itself into it is that young.
constexpr std::time_t kClaimBirthSeconds = 60;
// The longest name of a folder entry on the usual file systems, in bytes.
constexpr std::size_t kNameMax = 255;

// 64-bit FNV-1a: a text gives the same number in every run and program.
std::uint64_t NameHash(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// The target's name inside a hidden name that adds `added` bytes to it:
// whole when that fits in a folder entry, else cut at the start of a
// character and followed by a hash of the whole name, so that one target
// always gives one hidden name.
std::string NameInside(const fs::path& target, std::size_t added) {
    const std::string name = target.filename().string();
    if (name.size() + added <= kNameMax) return name;
    char hash[24];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(NameHash(name)));
    const std::size_t room = kNameMax - std::min(kNameMax, added + std::strlen(hash));
    std::size_t keep = std::min(room, name.size());
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.substr(0, keep) + hash;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string host(name);
    for (char& c : host)
        if (c == '/' || c == '@') c = '_';
    return host;
}

std::string Owner() {
    return std::to_string(::getpid()) + "@" + HostName();
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether "<pid>@<host>" names a process of this machine that has ended.
bool OwnerGone(const std::string& owner) {
    const std::size_t at = owner.find('@');
    if (at == std::string::npos || owner.substr(at + 1) != HostName()) return false;
    int pid = 0;
    const auto [end, error] = std::from_chars(owner.data(), owner.data() + at, pid);
    if (error != std::errc() || end != owner.data() + at || pid <= 0) return false;
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// The owner part of a temporary name ".NAME.<tag>.<pid>@<host>.part".
std::string PartOwner(const std::string& name) {
    if (name.empty() || name[0] != '.' || !EndsWith(name, kPartSuffix)) return {};
    const std::string stem = name.substr(0, name.size() - (sizeof kPartSuffix - 1));
    const std::size_t at = stem.rfind('@');
    if (at == std::string::npos) return {};
    const std::size_t dot = stem.rfind('.', at);
    if (dot == std::string::npos || dot == 0) return {};
    return stem.substr(dot + 1);
}

// Removes the claim at `path` when its owner is gone: it is not locked, and
// it names a process of this machine that has ended (one that has not yet
// named its owner counts as gone only when old). True when it was removed
// or has gone meanwhile.
bool RemoveDeadClaim(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT;
    bool removed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        char text[300] = {};
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        std::string owner(text, n > 0 ? static_cast<std::size_t>(n) : 0);
        while (!owner.empty() && (owner.back() == '\n' || owner.back() == '\0'))
            owner.pop_back();
        struct stat opened {
        }, named{};
        const bool same = ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
                          opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
        const bool unnamedAndOld =
            owner.empty() && std::time(nullptr) - opened.st_mtime > kClaimBirthSeconds;
        if (same && (OwnerGone(owner) || unnamedAndOld)) removed = ::unlink(path.c_str()) == 0;
    }
    ::close(fd);
    return removed;
}

} // namespace

std::string ClaimNameOf(const std::string& target) {
    const fs::path path(target);
    const std::size_t added = 1 + std::strlen(kClaimSuffix);
    return (path.parent_path() / ("." + NameInside(path, added) + kClaimSuffix)).string();
}

std::string TemporaryNameOf(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937 random{std::random_device{}()};
    const unsigned tag = random() ^ (counter.fetch_add(1) * 2654435761u);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", tag);
    const fs::path path(target);
    const std::string tail = "." + std::string(hex) + "." + Owner() + kPartSuffix;
    return (path.parent_path() / ("." + NameInside(path, 1 + tail.size()) + tail)).string();
}

bool IsClaimed(const std::string& target) {
    const std::string claim = ClaimNameOf(target);
    struct stat status {};
    if (::lstat(claim.c_str(), &status) != 0) return false;
    return !RemoveDeadClaim(claim);
}

int RemoveDeadLeftovers(const std::string& folder) {
    std::error_code error;
    int removed = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] != '.') continue;
        const std::string path = it->path().string();
        if (EndsWith(name, kClaimSuffix)) {
            struct stat status {};
            if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
                RemoveDeadClaim(path))
                ++removed;
            continue;
        }
        const std::string owner = PartOwner(name);
        struct stat status {};
        if (!owner.empty() && OwnerGone(owner) && ::lstat(path.c_str(), &status) == 0 &&
            S_ISREG(status.st_mode) && ::unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

int TOutputClaim::Take(const std::string& target) {
    Release();
    const std::string path = ClaimNameOf(target);
    for (int attempt = 0;; ++attempt) {
        FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (FFd >= 0) break;
        // A dead run's claim is cleared once, then taken.
        const int error = errno;
        if (error != EEXIST || attempt > 0 || !RemoveDeadClaim(path)) return error;
    }
    ::flock(FFd, LOCK_EX | LOCK_NB);
    const std::string owner = Owner() + "\n";
    if (::write(FFd, owner.data(), owner.size()) != static_cast<ssize_t>(owner.size())) {
        const int error = errno ? errno : EIO;
        ::unlink(path.c_str());
        ::close(FFd);
        FFd = -1;
        return error;
    }
    FPath = path;
    // The test for the target comes after the claim: a program that wrote
    // it without claiming (the user, another tool) keeps it.
    struct stat status {};
    if (::lstat(target.c_str(), &status) == 0) {
        Release();
        return EEXIST;
    }
    return 0;
}

void TOutputClaim::Release() {
    if (FFd < 0) return;
    ::unlink(FPath.c_str());
    ::close(FFd);
    FFd = -1;
    FPath.clear();
}
