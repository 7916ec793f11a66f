// The preset reader on its own: where a preset is found and how its lines
// are handed over.
#include "EngineTestSupport.h"

#include "engine/PresetReader.h"

#include <filesystem>
#include <fstream>

namespace {

class PresetReader : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override { RequireLibraries(); }
    // The lines handed over, each as "key|value", with a "*" for a built-in's.
    std::vector<std::string> Read(const std::string& kind, const std::string& value) {
        std::vector<std::string> lines;
        ReadPreset({kind, value, Codecs}, [&](const TPresetLine& line, bool builtin) {
            lines.push_back((builtin ? "*" : "") + line.Key + "|" + line.Value);
        });
        return lines;
    }
    std::string Error(const std::string& kind, const std::string& value) {
        return EngineError([&] { Read(kind, value); });
    }
    TByKind<std::string> Codecs;
    testsupport::TempDir Dir;
};

// Runs in a folder and goes back to the one it came from.
class TInFolder {
public:
    explicit TInFolder(const std::filesystem::path& folder)
        : FBefore(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~TInFolder() { std::filesystem::current_path(FBefore); }

private:
    std::filesystem::path FBefore;
};

} // namespace

// A built-in preset wins over a file of the same name in the working
// folder; "fpre" reads the file whatever its name.
TEST_F(PresetReader, BuiltinPresetsComeBeforeFilesExceptForFilePresets) {
    std::ofstream(Dir.file("libx264-main")) << "g=7\n";
    const TInFolder here(Dir.path());
    EXPECT_EQ(Read("vpre", "LIBX264-MAIN"), std::vector<std::string>{"*flags2|-dct8x8"});
    EXPECT_EQ(Read("fpre", "libx264-main"), std::vector<std::string>{"g|7"});
    EXPECT_EQ(Error("fpre", "libx264-fast"), "Preset \"libx264-fast\" not found");
}

// A short name stands for the preset of the kind's codec: video for "v",
// audio for "a", and the subtitle codec when the kind's own has none.
TEST_F(PresetReader, ShortNamesFollowTheKindsCodec) {
    Codecs[TMediaKind::Audio] = "libx264";
    EXPECT_EQ(Error("vpre", "main"), "Preset \"main\" not found");
    EXPECT_EQ(Read("apre", "main"), std::vector<std::string>{"*flags2|-dct8x8"});
    Codecs[TMediaKind::Subtitle] = "libx264";
    EXPECT_EQ(Read("vpre", "main"), std::vector<std::string>{"*flags2|-dct8x8"});
    Codecs[TMediaKind::Video] = "mpeg4";
    EXPECT_EQ(Error("vpre", "main"), "Preset \"main\" not found");
}

// Lone CRs end lines too; each line is trimmed, its key and value are not.
// The lines before a bad one are handed over before it fails; an empty
// kind or value reads nothing, an empty file gives no line.
TEST_F(PresetReader, LinesAreHandedOverUntilABadOne) {
    const std::string name = Dir.file("mixed.ffpreset");
    std::ofstream(name) << "a=1\r\n\r\n  b = 2 \rc\nd=4\n";
    std::vector<std::string> lines;
    const std::string error = EngineError([&] {
        ReadPreset({"fpre", name, {}},
                   [&](const TPresetLine& line, bool) { lines.push_back(line.Line); });
    });
    EXPECT_EQ(error, name + ": Invalid syntax: \"c\"");
    EXPECT_EQ(lines, (std::vector<std::string>{"a=1", "b = 2"}));
    std::ofstream(Dir.file("spaced.ffpreset")) << " b = 2 ";
    EXPECT_EQ(Read("fpre", Dir.file("spaced.ffpreset")), std::vector<std::string>{"b | 2"});

    EXPECT_TRUE(Read("", "nosuch").empty());
    EXPECT_TRUE(Read("vpre", "").empty());
    std::ofstream(Dir.file("empty.ffpreset")).flush();
    EXPECT_TRUE(Read("fpre", Dir.file("empty.ffpreset")).empty());
}
