#include "media/FrameHook.h"

#include "media/AVUtilEntries.h"
#include "media/FFmpegHeaders.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <fstream>
#include <link.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The module files loaded so far, by the name they were added with, and the
// libraries loaded from a module's folder for it (by full path). Guarded by
// Lock; handles are never closed, so entry points stay valid for the life
// of the process.
struct TLoadedModules {
    std::mutex Lock;
    std::vector<std::pair<std::string, void*>> Modules;
    std::set<std::string> FolderLibraries;
};

TLoadedModules& LoadedModules() {
    static TLoadedModules modules;
    return modules;
}

void LogError(const char* format, const char* text) {
    if (ff::avutil.av_log) ff::avutil.av_log(nullptr, AV_LOG_ERROR, format, text);
}

// Puts the current folder back when it goes, whatever happened meanwhile.
class TCurrentFolderGuard {
public:
    TCurrentFolderGuard() : FFolder(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~TCurrentFolderGuard() {
        if (FFolder < 0) return;
        if (FChanged && fchdir(FFolder) != 0) LogError("%s\n", std::strerror(errno));
        close(FFolder);
    }
    TCurrentFolderGuard(const TCurrentFolderGuard&) = delete;
    TCurrentFolderGuard& operator=(const TCurrentFolderGuard&) = delete;

    void ChangeTo(const std::string& folder) { FChanged = chdir(folder.c_str()) == 0 || FChanged; }

private:
    int FFolder;
    bool FChanged = false;
};

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool IsFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The path to hand to dlopen for `name`, made before the current folder
// changes: relative paths become absolute; a bare name is the file in the
// current folder when there is one, else left to the system's search.
std::string PathToLoad(const std::string& name) {
    if (!name.empty() && name.front() == '/') return name;
    const bool bare = name.find('/') == std::string::npos;
    if (bare && !IsFile(name)) return name;
    char* current = getcwd(nullptr, 0);
    if (!current) return name;
    std::string path = std::string(current) + "/" + name;
    free(current);
    return path;
}

template <class T> bool ReadAt(std::ifstream& file, uint64_t offset, T& value) {
    file.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(file.read(reinterpret_cast<char*>(&value), sizeof value));
}

std::string ReadTextAt(std::ifstream& file, uint64_t offset) {
    file.seekg(static_cast<std::streamoff>(offset));
    std::string text;
    char c = 0;
    while (text.size() < 4096 && file.get(c) && c != '\0')
        text += c;
    return text;
}

// The libraries a shared object names as its dependencies (DT_NEEDED), read
// from the file; empty for anything that is not an ELF file of this
// machine's class.
std::vector<std::string> NeededLibraries(const std::string& path) {
    std::vector<std::string> names;
    std::ifstream file(path, std::ios::binary);
    ElfW(Ehdr) header{};
    if (!ReadAt(file, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum > 512)
        return names;
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    const ElfW(Phdr)* dynamic = nullptr;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (!ReadAt(file, header.e_phoff + i * sizeof(ElfW(Phdr)), segments[i])) return names;
        if (segments[i].p_type == PT_DYNAMIC) dynamic = &segments[i];
    }
    if (!dynamic) return names;
    std::vector<uint64_t> needed;
    uint64_t strings = 0;
    for (uint64_t at = 0; at + sizeof(ElfW(Dyn)) <= dynamic->p_filesz; at += sizeof(ElfW(Dyn))) {
        ElfW(Dyn) entry{};
        if (!ReadAt(file, dynamic->p_offset + at, entry) || entry.d_tag == DT_NULL) break;
        if (entry.d_tag == DT_NEEDED) needed.push_back(entry.d_un.d_val);
        if (entry.d_tag == DT_STRTAB) strings = entry.d_un.d_ptr;
    }
    for (const ElfW(Phdr) & segment : segments) {
        if (segment.p_type != PT_LOAD || strings < segment.p_vaddr ||
            strings >= segment.p_vaddr + segment.p_filesz)
            continue;
        const uint64_t base = strings - segment.p_vaddr + segment.p_offset;
        for (uint64_t offset : needed)
            names.push_back(ReadTextAt(file, base + offset));
        break;
    }
    return names;
}

// Loads, deepest first, the dependencies of `path` that lie in `folder`, so
// that the module's own libraries beside it resolve to those copies (the
// system's search would not look there). Caller holds the module lock.
void LoadFolderLibraries(const std::string& path, const std::string& folder, int depth) {
    if (depth > 8) return;
    TLoadedModules& loaded = LoadedModules();
    for (const std::string& name : NeededLibraries(path)) {
        if (name.empty() || name.find('/') != std::string::npos) continue;
        const std::string beside = folder + "/" + name;
        if (loaded.FolderLibraries.count(beside) || !IsFile(beside)) continue;
        loaded.FolderLibraries.insert(beside);
        LoadFolderLibraries(beside, folder, depth + 1);
        dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL); // a failure shows when the module loads
    }
}

// The handle of module `name`, loading it on first use; nullptr (logged)
// when it cannot be loaded. Caller holds the module lock.
void* ModuleHandle(const std::string& name, const std::string& path) {
    TLoadedModules& loaded = LoadedModules();
    for (const auto& [known, handle] : loaded.Modules)
        if (known == name) return handle;
    const std::string folder = FolderOf(path);
    if (!folder.empty()) LoadFolderLibraries(path, folder, 0);
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* message = dlerror();
        LogError("%s\n", message ? message : "cannot load the module");
        return nullptr;
    }
    loaded.Modules.emplace_back(name, handle);
    return handle;
}

void FreeEntry(FrameHookEntry* entry) {
    if (ff::avutil.av_free) ff::avutil.av_free(entry);
}

} // namespace

int AddFrameHook(FrameHookEntry** list, int argc, char* argv[]) {
    if (argc <= 0 || !argv || !argv[0]) return -2;
    const std::string name = argv[0];
    const std::string path = PathToLoad(name);
    TLoadedModules& loaded = LoadedModules();
    std::lock_guard<std::mutex> lock(loaded.Lock);
    TCurrentFolderGuard currentFolder;
    if (name.find('/') != std::string::npos) currentFolder.ChangeTo(FolderOf(name));
    void* module = ModuleHandle(name, path);
    if (!module) return -1;

    auto* entry = static_cast<FrameHookEntry*>(
        ff::avutil.av_mallocz ? ff::avutil.av_mallocz(sizeof(FrameHookEntry)) : nullptr);
    if (!entry) return -12;
    entry->Configure = reinterpret_cast<FrameHookConfigureFn>(dlsym(module, "Configure"));
    entry->Process = reinterpret_cast<FrameHookProcessFn>(dlsym(module, "Process"));
    entry->Release = reinterpret_cast<FrameHookReleaseFn>(dlsym(module, "Release"));
    int result = 0;
    if (!entry->Process) {
        LogError("Failed to find Process entrypoint in %s\n", argv[0]);
        result = -2;
    } else if (!entry->Configure && argc > 1) {
        LogError("Failed to find Configure entrypoint in %s\n", argv[0]);
        result = -2;
    } else if (entry->Configure && entry->Configure(&entry->Context, argc, argv) != 0) {
        LogError("Failed to Configure %s\n", argv[0]);
        result = -22;
    }
    if (result != 0) {
        FreeEntry(entry);
        return result;
    }
    FrameHookEntry** last = list;
    while (*last)
        last = &(*last)->Next;
    *last = entry;
    return 0;
}

void ProcessFrameHooks(FrameHookEntry* list, FrameHookPicture* picture, int pixFmt, int width,
                       int height, int64_t pts) {
    for (FrameHookEntry* entry = list; entry; entry = entry->Next)
        entry->Process(entry->Context, picture, pixFmt, width, height, pts);
}

void ReleaseFrameHooks(FrameHookEntry** list) {
    while (*list) {
        FrameHookEntry* entry = *list;
        *list = entry->Next;
        if (entry->Release) entry->Release(entry->Context);
        FreeEntry(entry);
    }
}
