#include "core/IniFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

class IniFileTest : public ::testing::Test {
protected:
    testsupport::TempDir Temp;
    std::string Path = Temp.file("test.ini");
    TIniFile Ini{Path};
};

TEST_F(IniFileTest, SectionsAndKeysIgnoreCase) {
    WriteFile(Path, "[Settings]\nPriority=3\nparaZoom=full\n");
    EXPECT_EQ(Ini.ReadInteger("settings", "priority", 1), 3);
    EXPECT_EQ(Ini.ReadString("SETTINGS", "parazoom", "lbox"), "full");
    EXPECT_TRUE(Ini.SectionExists("sEtTiNgS"));
    EXPECT_TRUE(Ini.ValueExists("settings", "PARAZOOM"));

    ASSERT_TRUE(Ini.WriteInteger("SETTINGS", "PRIORITY", 2));
    EXPECT_EQ(testsupport::ReadFileText(Path), "[Settings]\nPriority=2\nparaZoom=full\n");
    EXPECT_EQ(Ini.ReadSectionKeys("settings"), (std::vector<std::string>{"Priority", "paraZoom"}));
}

TEST_F(IniFileTest, IntegersAreDecimalOrHexadecimal) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"42", 42},
        {"-1", -1},
        {"+7", 7},
        {"0x1E", 30},
        {"0X1e", 30},
        {"  5  ", 5},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"0x7FFFFFFF", INT_MAX},
    };
    for (const auto& [text, expected] : cases) {
        WriteFile(Path, "[s]\nk=" + text + "\n");
        EXPECT_EQ(Ini.ReadInteger("s", "k", -99), expected) << text;
    }
}

TEST_F(IniFileTest, AnythingElseReadsAsTheDefault) {
    for (const std::string text : {"", "abc", "12abc", "1.5", "0x", "0xG1", "--1", "2147483648",
                                   "-2147483649", "0x80000000", "$1E", "1 2"}) {
        WriteFile(Path, "[s]\nk=" + text + "\n");
        EXPECT_EQ(Ini.ReadInteger("s", "k", -99), -99) << "'" << text << "'";
    }
    EXPECT_EQ(Ini.ReadInteger("s", "missing", 17), 17);
    EXPECT_EQ(Ini.ReadInteger("nosection", "k", 18), 18);
}

TEST_F(IniFileTest, BooleansAreIntegers) {
    ASSERT_TRUE(Ini.WriteBool("s", "on", true));
    ASSERT_TRUE(Ini.WriteBool("s", "off", false));
    EXPECT_EQ(testsupport::ReadFileText(Path), "[s]\non=1\noff=0\n");

    WriteFile(Path, "[s]\ntwo=2\nzero=0\nword=yes\nhex=0x10\n");
    EXPECT_TRUE(Ini.ReadBool("s", "two", false));
    EXPECT_FALSE(Ini.ReadBool("s", "zero", true));
    EXPECT_TRUE(Ini.ReadBool("s", "hex", false));
    EXPECT_TRUE(Ini.ReadBool("s", "word", true));
    EXPECT_FALSE(Ini.ReadBool("s", "word", false));
    EXPECT_TRUE(Ini.ReadBool("s", "missing", true));
}

TEST_F(IniFileTest, LongValuesAreCutWhenRead) {
    const std::string value(3000, 'a');
    ASSERT_TRUE(Ini.WriteString("s", "k", value));
    EXPECT_NE(testsupport::ReadFileText(Path).find(value), std::string::npos)
        << "the file keeps the whole value";
    EXPECT_EQ(Ini.ReadString("s", "k", ""), std::string(2047, 'a'));

    const std::string exact(2047, 'b');
    ASSERT_TRUE(Ini.WriteString("s", "exact", exact));
    EXPECT_EQ(Ini.ReadString("s", "exact", ""), exact);
}

TEST_F(IniFileTest, CutNeverSplitsAUtf8Character) {
    // "é" takes bytes 2046 and 2047; the cut after byte 2047 would split it.
    const std::string value = std::string(2046, 'a') + "\xC3\xA9" + "tail";
    ASSERT_TRUE(Ini.WriteString("s", "k", value));
    EXPECT_EQ(Ini.ReadString("s", "k", ""), std::string(2046, 'a'));
}

TEST_F(IniFileTest, MissingFileReadsAsDefaultsAndIsNotCreated) {
    EXPECT_EQ(Ini.ReadString("settings", "OutPutDir", "dflt"), "dflt");
    EXPECT_EQ(Ini.ReadInteger("settings", "volume", 5), 5);
    EXPECT_TRUE(Ini.ReadBool("settings", "mute", true));
    EXPECT_FALSE(Ini.SectionExists("settings"));
    EXPECT_FALSE(Ini.ValueExists("settings", "volume"));
    EXPECT_TRUE(Ini.ReadSectionKeys("settings").empty());
    EXPECT_FALSE(fs::exists(Path));
}

TEST_F(IniFileTest, MissingSectionOrKeyReadsAsDefault) {
    WriteFile(Path, "[other]\nk=1\n");
    EXPECT_EQ(Ini.ReadString("settings", "k", "d"), "d");
    EXPECT_EQ(Ini.ReadString("other", "j", "d"), "d");
}

TEST_F(IniFileTest, FirstWriteCreatesTheFileAndItsFolders) {
    const std::string nested = Temp.file("a/b/c/settings.ini");
    TIniFile ini(nested);
    ASSERT_TRUE(ini.WriteString("settings", "OutPutDir", "/data/out"));
    EXPECT_EQ(testsupport::ReadFileText(nested), "[settings]\nOutPutDir=/data/out\n");
    EXPECT_EQ(ini.ReadString("settings", "outputdir", ""), "/data/out");
}

TEST_F(IniFileTest, RewriteKeepsEverythingElseInPlace) {
    WriteFile(Path, "; top comment\n"
                    "[settings]\n"
                    "OutPutDir=/x\n"
                    "# note\n"
                    "weird line\n"
                    "\n"
                    "[formatInfo0]\n"
                    "Format=ipod\n"
                    "FileExt = mp4\n");
    ASSERT_TRUE(Ini.WriteString("settings", "volume", "64"));
    ASSERT_TRUE(Ini.WriteString("formatinfo0", "format", "avi"));
    ASSERT_TRUE(Ini.WriteString("lstformat", "0", "1"));
    EXPECT_EQ(testsupport::ReadFileText(Path), "; top comment\n"
                                               "[settings]\n"
                                               "OutPutDir=/x\n"
                                               "volume=64\n"
                                               "# note\n"
                                               "weird line\n"
                                               "\n"
                                               "[formatInfo0]\n"
                                               "Format=avi\n"
                                               "FileExt = mp4\n"
                                               "\n"
                                               "[lstformat]\n"
                                               "0=1\n");
    EXPECT_EQ(Ini.ReadString("formatInfo0", "FileExt", ""), "mp4");
}

TEST_F(IniFileTest, RewriteKeepsWindowsLineEndings) {
    WriteFile(Path, "[s]\r\na=1\r\n");
    ASSERT_TRUE(Ini.WriteString("s", "b", "2"));
    EXPECT_EQ(testsupport::ReadFileText(Path), "[s]\r\na=1\r\nb=2\r\n");
    EXPECT_EQ(Ini.ReadInteger("s", "a", 0), 1);
}

TEST_F(IniFileTest, RepeatedSectionsAndKeysUseTheFirstMatch) {
    WriteFile(Path, "[s]\na=1\na=2\n[t]\n[S]\nb=3\n");
    EXPECT_EQ(Ini.ReadInteger("s", "a", 0), 1);
    EXPECT_EQ(Ini.ReadInteger("s", "b", 0), 3);
    ASSERT_TRUE(Ini.WriteString("s", "b", "4"));
    ASSERT_TRUE(Ini.WriteString("s", "c", "5"));
    EXPECT_EQ(testsupport::ReadFileText(Path), "[s]\na=1\na=2\nc=5\n[t]\n[S]\nb=4\n");
    EXPECT_EQ(Ini.ReadSectionKeys("s"), (std::vector<std::string>{"a", "c", "b"}));
}

TEST_F(IniFileTest, EveryReadSeesTheFileAsItIsNow) {
    ASSERT_TRUE(Ini.WriteInteger("settings", "volume", 10));
    EXPECT_EQ(Ini.ReadInteger("settings", "volume", 0), 10);
    WriteFile(Path, "[settings]\nvolume=20\n");
    EXPECT_EQ(Ini.ReadInteger("settings", "volume", 0), 20);
    TIniFile other(Path);
    ASSERT_TRUE(other.WriteInteger("settings", "volume", 30));
    EXPECT_EQ(Ini.ReadInteger("settings", "volume", 0), 30);
}

// Programs writing one settings file at once (the processes of a batch
// spread over several runs) keep every key each of them wrote, also when the
// file and its folder do not exist yet.
TEST_F(IniFileTest, WritersAtOnceLoseNoKeys) {
    const std::string path = Temp.file("fresh/folder/settings.ini");
    constexpr int kWriters = 6, kKeys = 15;
    std::vector<std::thread> writers;
    std::vector<int> failures(kWriters, 0);
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            TIniFile own(path);
            for (int k = 0; k < kKeys; ++k)
                if (!own.WriteInteger("formatInfo" + std::to_string(w), "key" + std::to_string(k),
                                      k))
                    ++failures[w];
        });
    for (std::thread& writer : writers)
        writer.join();
    TIniFile ini(path);
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(failures[w], 0);
        const std::string section = "formatInfo" + std::to_string(w);
        EXPECT_EQ(ini.ReadSectionKeys(section).size(), static_cast<std::size_t>(kKeys)) << section;
    }
}

TEST_F(IniFileTest, SeveralKeysInOneWrite) {
    ASSERT_TRUE(Ini.WriteSectionValues("formatInfo204", {{"Format", "wav"}, {"FileExt", "wav"}}));
    ASSERT_TRUE(Ini.WriteSectionValues("empty", {}));
    EXPECT_EQ(testsupport::ReadFileText(Path),
              "[formatInfo204]\nFormat=wav\nFileExt=wav\n\n[empty]\n");
    EXPECT_TRUE(Ini.SectionExists("empty"));
    EXPECT_TRUE(Ini.ReadSectionKeys("empty").empty());
}

TEST_F(IniFileTest, WriteFailsWhenTheFileCannotBeWritten) {
    WriteFile(Temp.file("plain"), "x");
    TIniFile underFile(Temp.file("plain/settings.ini"));
    EXPECT_FALSE(underFile.WriteString("s", "k", "v"));

    fs::create_directory(Temp.file("folder.ini"));
    TIniFile folder(Temp.file("folder.ini"));
    EXPECT_FALSE(folder.WriteString("s", "k", "v"));
    EXPECT_TRUE(fs::is_directory(Temp.file("folder.ini")));
    EXPECT_EQ(folder.ReadString("s", "k", "d"), "d");
}

TEST_F(IniFileTest, TextsThatWouldBreakTheFileAreRefused) {
    WriteFile(Path, "[s]\nk=old\n");
    EXPECT_FALSE(Ini.WriteString("s", "k", "line1\nline2"));
    EXPECT_FALSE(Ini.WriteString("s", "k", "cr\rhere"));
    EXPECT_FALSE(Ini.WriteString("s", "a=b", "v"));
    EXPECT_FALSE(Ini.WriteString("s", "[x]", "v"));
    EXPECT_FALSE(Ini.WriteString("s", "", "v"));
    EXPECT_FALSE(Ini.WriteString("s]", "k", "v"));
    EXPECT_FALSE(Ini.WriteString("", "k", "v"));
    EXPECT_FALSE(Ini.WriteSectionValues("s", {{"good", "1"}, {"bad", "a\nb"}}));
    EXPECT_EQ(testsupport::ReadFileText(Path), "[s]\nk=old\n");
}

TEST_F(IniFileTest, WriteReplacesTheFileWholeAndKeepsItsMode) {
    WriteFile(Path, "[s]\nk=1\n");
    ASSERT_EQ(::chmod(Path.c_str(), 0600), 0);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(Ini.WriteInteger("s", "k" + std::to_string(i), i));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Temp.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"test.ini"}) << "no temporary file is left behind";
    struct stat st {};
    ASSERT_EQ(::stat(Path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(IniFileTest, WriteThroughASymbolicLinkKeepsTheLink) {
    const std::string real = Temp.file("real.ini");
    WriteFile(real, "[s]\nk=1\n");
    fs::create_symlink(real, Path);
    ASSERT_TRUE(Ini.WriteInteger("s", "k", 2));
    EXPECT_TRUE(fs::is_symlink(Path));
    EXPECT_EQ(testsupport::ReadFileText(real), "[s]\nk=2\n");
}

TEST_F(IniFileTest, ByteOrderMarkIsSkippedWhenReadAndKept) {
    WriteFile(Path, "\xEF\xBB\xBF[s]\nk=1\n");
    EXPECT_EQ(Ini.ReadInteger("s", "k", 0), 1);
    ASSERT_TRUE(Ini.WriteInteger("s", "k", 2));
    EXPECT_EQ(testsupport::ReadFileText(Path), "\xEF\xBB\xBF[s]\nk=2\n");
}

} // namespace
