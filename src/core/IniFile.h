// Settings store: one INI text file, opened, read or written and closed by
// every operation, so the value on disk is always the current one.
//
// Sections and keys compare without regard to (ASCII) case. Integers are
// written in decimal and read as decimal or 0x/0X hexadecimal; booleans are
// integers written as "1" and "0". A value read as text is cut to
// kMaxValueBytes bytes (a 2048-byte buffer with its terminator), never in the
// middle of a UTF-8 character.
//
// A rewrite keeps every other line of the file as it was (comments, blank
// lines, unknown lines, order of sections and keys) and replaces the file
// atomically: the new text goes to a temporary file in the same folder,
// which is then renamed over the old one.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TIniFile {
public:
    // Longest text a read returns.
    static constexpr std::size_t kMaxValueBytes = 2047;

    using TKeyValues = std::vector<std::pair<std::string, std::string>>;

    explicit TIniFile(std::string path);

    const std::string& FileName() const { return FPath; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    // Each write creates the file and its missing folders when needed. It
    // returns false, and leaves the file as it was, when the file cannot be
    // read or written, or when a name or value cannot be stored in an INI
    // line (line breaks; "=" or a leading "[" in a key; "]" in a section).
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int value);
    bool WriteBool(const std::string& section, const std::string& key, bool value);
    // Several keys of one section in one rewrite of the file.
    bool WriteSectionValues(const std::string& section, const TKeyValues& values);

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // Key names of the section in file order, spelled as stored.
    std::vector<std::string> ReadSectionKeys(const std::string& section) const;

private:
    std::string FPath;
};

// Replaces (or creates, with its missing folders) the file with the text:
// the text goes to a temporary file in the same folder, which is renamed
// over the target. False, with the old file untouched, on any failure.
bool WriteTextFileAtomically(const std::string& path, const std::string& text);

// Parses an integer the way the settings store reads one: optional sign and
// decimal digits, or 0x/0X and hexadecimal digits, within the range of int.
// False for anything else.
bool ParseIniInteger(const std::string& text, int& value);
