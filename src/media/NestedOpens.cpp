// The folder check of the files a demuxer opens for a local source.
#include "media/NestedOpens.h"

#include "media/FFUtils.h"
#include "media/FFmpegLogger.h"

#include <cctype>
#include <filesystem>
#include <mutex>
#include <functional>
#include <set>
#include <utility>

namespace {

namespace fs = std::filesystem;

using TOpenCallback = int (*)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);

// What a guarded context reads from: the folder its name is in, the one of
// the file it stands for when the name is a symbolic link, and the
// library's own opening it hands the allowed files to (taken from the
// context, so a library loaded anew brings its own). Kept for the whole
// run (one entry per distinct value), since child contexts of a demuxer
// copy the pointer and may outlive the context it was given to.
struct TGuard {
    std::string Own, Target;
    TOpenCallback Open = nullptr;
    bool operator<(const TGuard& other) const {
        if (Own != other.Own) return Own < other.Own;
        if (Target != other.Target) return Target < other.Target;
        return std::less<TOpenCallback>()(Open, other.Open);
    }
};

const TGuard* KeptGuard(TGuard guard) {
    static std::mutex lock; // guards kept
    static std::set<TGuard> kept;
    std::lock_guard hold(lock);
    return &*kept.insert(std::move(guard)).first;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool SchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// The local path a library name stands for, as the library's file
// protocol reads it; empty when the name is given to another protocol.
std::string LocalPath(const std::string& name) {
    if (StartsWith(name, "file:")) return name.substr(5);
    std::size_t scheme = 0;
    while (scheme < name.size() && SchemeChar(name[scheme]))
        ++scheme;
    if (scheme < name.size() && name[scheme] == ':') return {};
    if (StartsWith(name, "subfile,")) return {};
    return name;
}

// Absolute, with "..", "." and symbolic links resolved as far as the path
// exists; empty when that fails.
fs::path Resolved(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    if (ec) return {};
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    return ec ? fs::path() : resolved;
}

bool Inside(const fs::path& folder, const fs::path& file) {
    if (folder.empty() || file.empty()) return false;
    auto f = file.begin();
    for (const fs::path& part : folder) {
        if (part.empty()) continue; // a trailing separator
        if (f == file.end() || *f != part) return false;
        ++f;
    }
    return true;
}

// The first file refused since TakeRefusedOpen last ran on the thread.
thread_local std::string RefusedOpen;

int GuardedOpen(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                AVDictionary** options) {
    const auto* guard = static_cast<const TGuard*>(s->opaque);
    if (!guard) return AVERROR(EPERM);
    const std::string name = url ? url : "";
    if (!NestedOpenAllowed(guard->Own, name) && !NestedOpenAllowed(guard->Target, name)) {
        GetLogger().LogFmt(nullptr, llError,
                           "%s is not opened: it lies outside the folder of the source %s",
                           name.c_str(), s->url ? s->url : "");
        if (RefusedOpen.empty()) RefusedOpen = name;
        return AVERROR(EPERM);
    }
    return guard->Open(s, pb, url, flags, options);
}

} // namespace

bool NestedOpenAllowed(const std::string& folder, const std::string& url) {
    if (StartsWith(url, "data:")) return true;
    std::string rest = url;
    if (StartsWith(rest, "crypto+") || StartsWith(rest, "crypto:")) rest.erase(0, 7);
    const std::string path = LocalPath(rest);
    return !path.empty() && Inside(fs::path(folder), Resolved(path));
}

std::string TakeRefusedOpen() {
    return std::exchange(RefusedOpen, std::string());
}

std::string OpenFailureText(const std::string& file, int code) {
    const std::string refused = TakeRefusedOpen();
    if (refused.empty()) return MediaErrorText(file, code);
    return file + ": it is a list of other files, and " + refused +
           " lies outside its folder (such files are not read)";
}

void ShareNestedOpenCheck(AVFormatContext* second, const AVFormatContext& first) {
    second->io_open = first.io_open;
    second->opaque = first.opaque;
}

void KeepNestedOpensInFolder(AVFormatContext* context, const std::string& sourceName) {
    const std::string path = LocalPath(sourceName);
    if (!context || !context->io_open || context->io_open == &GuardedOpen || path.empty()) return;
    std::error_code ec;
    const fs::path own = Resolved(fs::absolute(path, ec).parent_path());
    const fs::path target = Resolved(path).parent_path();
    context->opaque =
        const_cast<TGuard*>(KeptGuard({own.string(), target.string(), context->io_open}));
    context->io_open = &GuardedOpen;
}
