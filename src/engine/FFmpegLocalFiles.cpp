#include "engine/FFmpegLocalFiles.h"

#include "engine/FFmpegOutputTarget.h"
#include "media/UnicodeProtocol.h"

#include <filesystem>
#include <fstream>

namespace {

constexpr int kMaxDepth = 8;                // wrappers inside wrappers
constexpr std::size_t kMaxListLines = 4096; // names read from a "concatf:" list

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const std::size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

// The name a "subfile" name reads: "subfile:NAME", or "subfile," followed
// by key/value pairs between separators (the character after the comma),
// an empty pair, and ":NAME". Empty when the options do not parse, as the
// library then refuses the name.
std::string SubfileTarget(const std::string& name) {
    const std::string rest = name.substr(std::string("subfile").size());
    if (StartsWith(rest, ":")) return rest.substr(1);
    if (rest.size() < 2) return {};
    const char separator = rest[1];
    std::size_t pos = 2;
    while (true) {
        const std::size_t key = rest.find(separator, pos);
        if (key == std::string::npos) return {};
        if (key == pos) {
            const std::string target = rest.substr(key + 1);
            return StartsWith(target, ":") ? target.substr(1) : "subfile" + target;
        }
        const std::size_t value = rest.find(separator, key + 1);
        if (value == std::string::npos) return {};
        pos = value + 1;
    }
}

class TLocalFiles {
public:
    std::vector<std::string> Files;

    void Add(const std::string& givenName, int depth) {
        if (depth > kMaxDepth) return;
        const std::string name = ToLibraryName(givenName);
        if (name != givenName) return Add(name, depth + 1);
        if (StartsWith(name, "concat:")) return AddParts(name.substr(7), depth);
        if (StartsWith(name, "concatf:")) return AddList(name.substr(8), depth);
        for (const char* wrapper : {"cache:", "async:", "crypto:", "crypto+"})
            if (StartsWith(name, wrapper) && name.find(':') != std::string::npos)
                return Add(name.substr(std::string(wrapper).size()), depth + 1);
        if (StartsWith(name, "subfile:") ||
            (StartsWith(name, "subfile,") && name.find(':') != std::string::npos)) {
            const std::string target = SubfileTarget(name);
            if (!target.empty()) Add(target, depth + 1);
            return;
        }
        const std::string path = LocalPathOf(name);
        if (!path.empty()) Files.push_back(path);
    }

private:
    void AddParts(const std::string& parts, int depth) {
        std::size_t start = 0;
        while (start <= parts.size()) {
            const std::size_t bar = parts.find('|', start);
            const std::string part =
                parts.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
            if (!part.empty()) Add(part, depth + 1);
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
    }

    // The list file itself, and each of its lines read as a name, as given
    // and beside the list.
    void AddList(const std::string& list, int depth) {
        const std::size_t before = Files.size();
        Add(list, depth + 1);
        if (Files.size() != before + 1) return; // not one local list
        const std::string path = Files.back();
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        std::ifstream in(path);
        std::string line;
        for (std::size_t count = 0; count < kMaxListLines && std::getline(in, line); ++count) {
            const std::string entry = Trimmed(line);
            if (entry.empty()) continue;
            Add(entry, depth + 1);
            if (!folder.empty() && entry[0] != '/') Add((folder / entry).string(), depth + 1);
        }
    }
};

} // namespace

std::vector<std::string> LocalFilesOf(const std::string& libraryName) {
    TLocalFiles files;
    files.Add(libraryName, 0);
    return files.Files;
}
