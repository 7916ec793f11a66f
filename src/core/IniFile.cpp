#include "core/IniFile.h"
#include "media/TextUtils.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// One line of the file as read, with what it means.
struct TIniLine {
    enum class TKind { Other, Section, Entry };
    std::string Raw; // the line as stored, without its line break
    TKind Kind = TKind::Other;
    std::string Name;  // section name or key, trimmed
    std::string Value; // value of an entry, trimmed
};

struct TIniDocument {
    std::vector<TIniLine> Lines;
    std::string Eol = "\n";
};

enum class TLoadResult { Missing, Loaded, Failed };

const std::string kBlanks = " \t\r\v\f";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

std::string WithoutBom(const std::string& text) {
    static const std::string bom = "\xEF\xBB\xBF";
    return text.compare(0, bom.size(), bom) == 0 ? text.substr(bom.size()) : text;
}

TIniLine ParseLine(const std::string& raw, bool first) {
    TIniLine line;
    line.Raw = raw;
    const std::string text = Trim(first ? WithoutBom(raw) : raw, kBlanks);
    if (text.empty() || text[0] == ';' || text[0] == '#') return line;
    if (text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) return line;
        line.Kind = TIniLine::TKind::Section;
        line.Name = Trim(text.substr(1, close - 1), kBlanks);
        return line;
    }
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return line;
    line.Kind = TIniLine::TKind::Entry;
    line.Name = Trim(text.substr(0, eq), kBlanks);
    line.Value = Trim(text.substr(eq + 1), kBlanks);
    return line;
}

void ParseDocument(const std::string& content, TIniDocument& doc) {
    std::size_t start = 0;
    while (start < content.size()) {
        auto end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string raw = content.substr(start, end - start);
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
            if (doc.Lines.empty()) doc.Eol = "\r\n";
        }
        doc.Lines.push_back(ParseLine(raw, doc.Lines.empty()));
        start = end + 1;
    }
}

TLoadResult LoadDocument(const std::string& path, TIniDocument& doc) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) return TLoadResult::Missing;
    if (ec || status.type() != fs::file_type::regular) return TLoadResult::Failed;
    std::ifstream in(path, std::ios::binary);
    if (!in) return TLoadResult::Failed;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return TLoadResult::Failed;
    ParseDocument(content.str(), doc);
    return TLoadResult::Loaded;
}

// Calls visit(index, line) for every entry of the named section(s).
template <typename Visit>
void ForEachEntry(const TIniDocument& doc, const std::string& section, Visit visit) {
    bool inside = false;
    for (std::size_t i = 0; i < doc.Lines.size(); ++i) {
        const TIniLine& line = doc.Lines[i];
        if (line.Kind == TIniLine::TKind::Section)
            inside = SameName(line.Name, section);
        else if (inside && line.Kind == TIniLine::TKind::Entry && !visit(i, line))
            return;
    }
}

const TIniLine* FindEntry(const TIniDocument& doc, const std::string& section,
                          const std::string& key) {
    const TIniLine* found = nullptr;
    ForEachEntry(doc, section, [&](std::size_t, const TIniLine& line) {
        if (SameName(line.Name, key)) found = &line;
        return found == nullptr;
    });
    return found;
}

// Index after which a new key of the section goes: its last entry, or its
// header when it has none; npos when the section does not exist.
std::size_t InsertionPoint(const TIniDocument& doc, const std::string& section) {
    std::size_t point = std::string::npos;
    for (std::size_t i = 0; i < doc.Lines.size(); ++i) {
        const TIniLine& line = doc.Lines[i];
        if (line.Kind == TIniLine::TKind::Section) {
            if (point != std::string::npos) return point;
            if (SameName(line.Name, section)) point = i;
        } else if (point != std::string::npos && line.Kind == TIniLine::TKind::Entry) {
            point = i;
        }
    }
    return point;
}

std::size_t AppendSection(TIniDocument& doc, const std::string& section) {
    if (!doc.Lines.empty() && !Trim(doc.Lines.back().Raw, kBlanks).empty()) doc.Lines.push_back({});
    doc.Lines.push_back(ParseLine("[" + section + "]", false));
    return doc.Lines.size() - 1;
}

void SetValue(TIniDocument& doc, const std::string& section, const std::string& key,
              const std::string& value) {
    std::size_t existing = std::string::npos;
    ForEachEntry(doc, section, [&](std::size_t i, const TIniLine& line) {
        if (SameName(line.Name, key)) existing = i;
        return existing == std::string::npos;
    });
    if (existing != std::string::npos) {
        const std::string name = doc.Lines[existing].Name;
        doc.Lines[existing] = ParseLine(name + "=" + value, false);
        return;
    }
    std::size_t point = InsertionPoint(doc, section);
    if (point == std::string::npos) point = AppendSection(doc, section);
    doc.Lines.insert(doc.Lines.begin() + static_cast<std::ptrdiff_t>(point) + 1,
                     ParseLine(key + "=" + value, false));
}

std::string RenderDocument(const TIniDocument& doc) {
    std::string text;
    for (const TIniLine& line : doc.Lines)
        text += line.Raw + doc.Eol;
    return text;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool WriteTextFileAtomically(const std::string& path, const std::string& text) {
    std::error_code ec;
    const bool link = fs::symlink_status(path, ec).type() == fs::file_type::symlink;
    ec.clear(); // a missing file is no error here
    const fs::path target = link ? fs::canonical(path, ec) : fs::path(path);
    if (ec) return false;
    const fs::path folder = target.parent_path();
    if (!folder.empty()) fs::create_directories(folder, ec);
    if (ec) return false;
    std::string tmp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    struct stat old {};
    const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

namespace {

// An advisory lock on the settings file's folder, held while a write reads,
// changes and replaces the file. Several programs writing one file at once
// (the processes of one batch spread over several vantrel-convert runs)
// would otherwise each replace the file with their own copy and lose the
// keys the others wrote meanwhile. The file itself cannot carry the lock
// (every write replaces it), and a lock file beside it would stay behind.
class TRewriteLock {
public:
    explicit TRewriteLock(const std::string& path) {
        std::error_code ec;
        const bool link = fs::symlink_status(path, ec).type() == fs::file_type::symlink;
        ec.clear(); // a missing file is no error here
        const fs::path target = link ? fs::canonical(path, ec) : fs::path(path);
        if (ec) return;
        const fs::path folder = target.parent_path().empty() ? "." : target.parent_path();
        // The folders of a first write may be made by another writer at the
        // same time, which can fail the making here once.
        for (int attempt = 0; attempt < 3 && FFd < 0; ++attempt) {
            fs::create_directories(folder, ec);
            FFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (FFd >= 0 && !Acquire()) {
            ::close(FFd);
            FFd = -1;
        }
    }
    ~TRewriteLock() {
        if (FFd >= 0) ::close(FFd); // closing releases the lock
    }
    TRewriteLock(const TRewriteLock&) = delete;
    TRewriteLock& operator=(const TRewriteLock&) = delete;

private:
    // A holder that does not let go within the limit (a program stopped in
    // the debugger) is written past rather than waited for without end.
    bool Acquire() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::flock(FFd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) return false;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    int FFd = -1;
};

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool StorableSection(const std::string& section) {
    return !Trim(section, kBlanks).empty() && !HasLineBreak(section) &&
           section.find(']') == std::string::npos;
}

bool StorableEntry(const std::string& key, const std::string& value) {
    const std::string name = Trim(key, kBlanks);
    if (name.empty() || HasLineBreak(key) || HasLineBreak(value)) return false;
    return name.find('=') == std::string::npos && name[0] != '[' && name[0] != ';' &&
           name[0] != '#';
}

std::string CutValue(const std::string& value) {
    if (value.size() <= TIniFile::kMaxValueBytes) return value;
    std::size_t n = TIniFile::kMaxValueBytes;
    // Step back over a character that would be split by the cut.
    while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80)
        --n;
    return value.substr(0, n);
}

bool ParseDigits(const std::string& digits, int base, std::int64_t limit, std::int64_t& value) {
    if (digits.empty() || digits.size() > 12) return false;
    value = 0;
    for (char c : digits) {
        const char l = LowerAscii(c);
        int d = -1;
        if (l >= '0' && l <= '9') d = l - '0';
        if (base == 16 && l >= 'a' && l <= 'f') d = l - 'a' + 10;
        if (d < 0) return false;
        value = value * base + d;
    }
    return value <= limit;
}

} // namespace

bool ParseIniInteger(const std::string& text, int& value) {
    std::int64_t parsed = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!ParseDigits(text.substr(2), 16, INT_MAX, parsed)) return false;
        value = static_cast<int>(parsed);
        return true;
    }
    const bool negative = !text.empty() && text[0] == '-';
    const bool sign = !text.empty() && (text[0] == '-' || text[0] == '+');
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    if (!ParseDigits(text.substr(sign ? 1 : 0), 10, limit, parsed)) return false;
    value = static_cast<int>(negative ? -parsed : parsed);
    return true;
}

TIniFile::TIniFile(std::string path) : FPath(std::move(path)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    TIniDocument doc;
    if (LoadDocument(FPath, doc) != TLoadResult::Loaded) return def;
    const TIniLine* entry = FindEntry(doc, section, key);
    return entry ? CutValue(entry->Value) : def;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    int value = 0;
    return ParseIniInteger(ReadString(section, key, ""), value) ? value : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    return WriteSectionValues(section, {{key, value}});
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::WriteSectionValues(const std::string& section, const TKeyValues& values) {
    if (!StorableSection(section)) return false;
    for (const auto& [key, value] : values)
        if (!StorableEntry(key, value)) return false;
    const TRewriteLock lock(FPath);
    TIniDocument doc;
    if (LoadDocument(FPath, doc) == TLoadResult::Failed) return false;
    if (values.empty() && InsertionPoint(doc, Trim(section, kBlanks)) == std::string::npos)
        AppendSection(doc, Trim(section, kBlanks));
    for (const auto& [key, value] : values)
        SetValue(doc, Trim(section, kBlanks), Trim(key, kBlanks), value);
    return WriteTextFileAtomically(FPath, RenderDocument(doc));
}

bool TIniFile::SectionExists(const std::string& section) const {
    TIniDocument doc;
    if (LoadDocument(FPath, doc) != TLoadResult::Loaded) return false;
    return InsertionPoint(doc, section) != std::string::npos;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    TIniDocument doc;
    if (LoadDocument(FPath, doc) != TLoadResult::Loaded) return false;
    return FindEntry(doc, section, key) != nullptr;
}

std::vector<std::string> TIniFile::ReadSectionKeys(const std::string& section) const {
    std::vector<std::string> keys;
    TIniDocument doc;
    if (LoadDocument(FPath, doc) != TLoadResult::Loaded) return keys;
    ForEachEntry(doc, section, [&](std::size_t, const TIniLine& line) {
        bool seen = false;
        for (const std::string& k : keys)
            seen = seen || SameName(k, line.Name);
        if (!seen) keys.push_back(line.Name);
        return true;
    });
    return keys;
}
