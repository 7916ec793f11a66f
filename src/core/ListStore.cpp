#include "core/ListStore.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <type_traits>
#include <unistd.h>

namespace {

const char* const kHeader = "Vantrel conversion list 1";

// ---- fields ----

// Calls `f(key, field)` for every stored field of a row, in record order.
template <class Row, class F> void RowFields(Row& row, F&& f) {
    f("Checked", row.Checked);
    f("Converted", row.Converted);
    f("TrimmedLength", row.TrimmedLength);
    auto& r = row.Record;
    f("SourceFile", r.SourceFile);
    f("DestinationFile", r.DestinationFile);
    f("Duration", r.Duration);
    f("TrimStart", r.TrimStart);
    f("TrimLength", r.TrimLength);
    f("ZoomMode", r.ZoomMode);
    f("CropTop", r.CropTop);
    f("CropLeft", r.CropLeft);
    f("CropBottom", r.CropBottom);
    f("CropRight", r.CropRight);
    f("MarginUp", r.MarginUp);
    f("MarginLeft", r.MarginLeft);
    f("MarginDown", r.MarginDown);
    f("MarginRight", r.MarginRight);
    f("Brightness", r.Brightness);
    f("Contrast", r.Contrast);
    f("Saturation", r.Saturation);
    f("Exposure", r.Exposure);
    f("ProcessText", r.ProcessText);
    f("ProcessImage", r.ProcessImage);
}

template <class Layer, class F> void LayerFields(Layer& w, F&& f) {
    f("Text", w.Text);
    f("TextLeft", w.TextLeft);
    f("TextTop", w.TextTop);
    f("TextWidth", w.TextWidth);
    f("TextHeight", w.TextHeight);
    f("TextAlpha", w.TextAlpha);
    f("BackColor", w.BackColor);
    f("UseBackColor", w.UseBackColor);
    f("ImageFile", w.ImageFile);
    f("ImageLeft", w.ImageLeft);
    f("ImageTop", w.ImageTop);
    f("ImageWidth", w.ImageWidth);
    f("ImageHeight", w.ImageHeight);
    f("ImageAlpha", w.ImageAlpha);
    f("Kind", w.Kind);
    f("StartTime", w.StartTime);
    f("EndTime", w.EndTime);
}

template <class Font, class F> void FontFields(Font& font, F&& f) {
    f("FontName", font.Name);
    f("FontSize", font.Size);
    f("FontStyle", font.Style);
    f("FontColor", font.Color);
}

// ---- writing ----

std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

template <class T> std::string ValueText(const T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        return Escaped(value);
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? "1" : "0";
    } else {
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        return std::string(buffer, end);
    }
}

struct TLineWriter {
    std::string& Out;
    template <class T> void operator()(const char* key, const T& value) {
        Out += key;
        Out += '=';
        Out += ValueText(value);
        Out += '\n';
    }
};

// ---- reading ----

bool Unescaped(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

template <class T> bool ParseValue(const std::string& text, T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        return Unescaped(text, value);
    } else if constexpr (std::is_same_v<T, bool>) {
        if (text != "0" && text != "1") return false;
        value = text == "1";
        return true;
    } else {
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, value);
        return ec == std::errc() && ptr == end && !text.empty();
    }
}

// The "key=value" lines of one block.
class TBlock {
public:
    bool Add(const std::string& line, std::string& error) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "a line is not key=value: \"" + line.substr(0, 60) + "\"";
            return false;
        }
        if (!FValues.emplace(line.substr(0, eq), line.substr(eq + 1)).second) {
            error = "\"" + line.substr(0, eq) + "\" appears twice in a block";
            return false;
        }
        return true;
    }
    bool Has(const std::string& key) const { return FValues.count(key) != 0; }
    // Reads every field that `visit` names; every key must be used.
    template <class Visit> bool Read(Visit&& visit, std::string& error) {
        std::size_t used = 0;
        visit([&](const char* key, auto& field) {
            if (!error.empty()) return;
            const auto it = FValues.find(key);
            if (it == FValues.end()) {
                error = std::string("\"") + key + "\" is missing";
                return;
            }
            ++used;
            if (!ParseValue(it->second, field))
                error = std::string("\"") + key + "\" has a bad value \"" +
                        it->second.substr(0, 60) + "\"";
        });
        if (error.empty() && used != FValues.size()) error = "a block has unknown keys";
        return error.empty();
    }

private:
    std::map<std::string, std::string> FValues;
};

struct TRawLayer {
    TBlock Block;
};
struct TRawRow {
    TBlock Block;
    std::vector<TRawLayer> Layers;
};

// Splits the text into its header block, rows and layers.
bool SplitBlocks(const std::string& text, TBlock& head, std::vector<TRawRow>& rows,
                 std::string& error) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader) {
        error = "it does not start with \"" + std::string(kHeader) + "\"";
        return false;
    }
    TBlock* block = &head;
    bool ended = false;
    while (std::getline(in, line)) {
        if (ended) {
            if (!line.empty()) error = "there is text after \"[end]\"";
            if (!error.empty()) return false;
            continue;
        }
        if (line == "[end]") {
            ended = true;
        } else if (line == "[row]") {
            rows.emplace_back();
            block = &rows.back().Block;
        } else if (line == "[layer]") {
            if (rows.empty()) {
                error = "a layer comes before any row";
                return false;
            }
            rows.back().Layers.emplace_back();
            block = &rows.back().Layers.back().Block;
        } else if (!block->Add(line, error)) {
            return false;
        }
    }
    if (!ended) error = "it ends before \"[end]\"";
    return ended;
}

bool ReadLayer(TRawLayer& raw, TWmRec& layer, std::string& error) {
    bool hasFont = false;
    TWmFont font;
    const bool ok = raw.Block.Read(
        [&](auto&& f) {
            f("HasFont", hasFont);
            LayerFields(layer, f);
            if (raw.Block.Has("FontName")) FontFields(font, f);
        },
        error);
    if (!ok) return false;
    if (hasFont != raw.Block.Has("FontName")) {
        error = "a layer's font is incomplete";
        return false;
    }
    if (hasFont) layer.Font = font;
    return true;
}

bool ReadRow(TRawRow& raw, TStoredRow& row, std::string& error) {
    std::size_t layers = 0;
    if (!raw.Block.Read(
            [&](auto&& f) {
                RowFields(row, f);
                f("Layers", layers);
                // Lists written before rows kept their failure lack it.
                if (raw.Block.Has("Failure")) f("Failure", row.Failure);
            },
            error))
        return false;
    if (layers != raw.Layers.size()) {
        error = "a row has " + std::to_string(raw.Layers.size()) + " layers instead of " +
                std::to_string(layers);
        return false;
    }
    for (TRawLayer& rawLayer : raw.Layers) {
        row.Record.Watermarks.emplace_back();
        if (!ReadLayer(rawLayer, row.Record.Watermarks.back(), error)) return false;
    }
    return true;
}

} // namespace

std::string ListToText(const TStoredList& list) {
    std::string out = std::string(kHeader) + "\n";
    TLineWriter write{out};
    write("BatchRunning", list.BatchRunning);
    write("Rows", list.Rows.size());
    for (const TStoredRow& row : list.Rows) {
        out += "[row]\n";
        RowFields(row, write);
        write("Layers", row.Record.Watermarks.size());
        if (!row.Failure.empty()) write("Failure", row.Failure);
        for (const TWmRec& layer : row.Record.Watermarks) {
            out += "[layer]\n";
            write("HasFont", layer.Font.has_value());
            LayerFields(layer, write);
            if (layer.Font) FontFields(*layer.Font, write);
        }
    }
    out += "[end]\n";
    return out;
}

bool ListFromText(const std::string& text, TStoredList& list, std::string& error) {
    error.clear();
    TBlock head;
    std::vector<TRawRow> rawRows;
    if (!SplitBlocks(text, head, rawRows, error)) return false;
    TStoredList read;
    std::size_t count = 0;
    if (!head.Read(
            [&](auto&& f) {
                f("BatchRunning", read.BatchRunning);
                f("Rows", count);
            },
            error))
        return false;
    if (count != rawRows.size()) {
        error = "it holds " + std::to_string(rawRows.size()) + " rows instead of " +
                std::to_string(count);
        return false;
    }
    for (TRawRow& raw : rawRows) {
        read.Rows.emplace_back();
        if (!ReadRow(raw, read.Rows.back(), error)) return false;
    }
    list = std::move(read);
    return true;
}

void ResumeInterruptedBatch(TStoredList& list) {
    if (!list.BatchRunning) return;
    for (TStoredRow& row : list.Rows)
        if (row.Converted) row.Checked = false;
    list.BatchRunning = false;
}

bool WriteFileReplacing(const std::string& path, const std::string& text, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    error = path + ": " + std::strerror(ok ? errno : savedErrno);
    std::remove(temporary.c_str());
    return false;
}

// ---- TListStore ----

TListStore::TListStore(std::string fileName) : FFileName(std::move(fileName)) {
    FWriter = std::thread([this] { Write(); });
}

TListStore::~TListStore() {
    {
        std::lock_guard lock(FMutex);
        FQuit = true;
    }
    FWake.notify_all();
    FWriter.join();
}

TStoredList TListStore::Load(std::string& problem) {
    problem.clear();
    TStoredList list;
    std::error_code ec;
    if (!std::filesystem::exists(FFileName, ec)) return list;
    std::ifstream in(FFileName, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    if (!in.bad() && ListFromText(text.str(), list, error)) return list;
    if (error.empty()) error = "it cannot be read";
    const std::string aside = SetAside();
    problem = "The conversion list of the last session could not be restored: " + error + ".";
    problem += aside.empty() ? " The file " + FFileName + " could not be moved aside either."
                             : " It was kept as " + aside + ".";
    return TStoredList{};
}

// Renames the unreadable file to the first free ".corrupt" name.
std::string TListStore::SetAside() {
    std::error_code ec;
    for (int n = 0; n < 1000; ++n) {
        const std::string name = FFileName + ".corrupt" + (n ? std::to_string(n) : "");
        if (std::filesystem::exists(name, ec)) continue;
        std::filesystem::rename(FFileName, name, ec);
        return ec ? std::string() : name;
    }
    return std::string();
}

void TListStore::Save(TStoredList list) {
    {
        std::lock_guard lock(FMutex);
        FPending = std::move(list);
    }
    FWake.notify_all();
}

bool TListStore::Flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(FMutex);
    return FWritten.wait_for(lock, limit, [this] { return !FPending && !FWriting; });
}

void TListStore::Discard() {
    std::unique_lock lock(FMutex);
    FPending.reset();
    FWritten.wait_for(lock, std::chrono::seconds(10), [this] { return !FWriting; });
    std::error_code ec;
    std::filesystem::remove(FFileName, ec);
}

std::string TListStore::LastError() const {
    std::lock_guard lock(FMutex);
    return FLastError;
}

// The writer: takes the newest list, writes it without the lock.
void TListStore::Write() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FQuit || FPending; });
        if (!FPending) return; // quit with nothing left to write
        TStoredList list = std::move(*FPending);
        FPending.reset();
        FWriting = true;
        lock.unlock();
        std::string error;
        const bool ok = WriteFileReplacing(FFileName, ListToText(list), error);
        lock.lock();
        FWriting = false;
        FLastError = ok ? std::string() : error;
        FWritten.notify_all();
    }
}
