#include "core/DestinationName.h"
#include "core/DefaultFormats.h"

#include "BuilderTestEnv.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class DestinationName : public buildertest::TBuilderTest {
protected:
    std::string Out;

    void SetUp() override {
        TBuilderTest::SetUp();
        Out = Temp.file("out");
        fs::create_directories(Out);
        ASSERT_TRUE(Global.Settings().WriteString(kSettingsSection, "OutPutDir", Out));
    }

    void Touch(const std::string& name) { std::ofstream(Out + "/" + name) << "x"; }
};

TEST_F(DestinationName, FirstFreeName) {
    EXPECT_EQ(MakeDestinationName(Global, "/media/clip.avi", "_ipod.mp4"),
              Out + "/clip_(new)_ipod.mp4");

    Touch("clip_(new)_ipod.mp4");
    Touch("clip_(new_1)_ipod.mp4");
    EXPECT_EQ(MakeDestinationName(Global, "/media/clip.avi", "_ipod.mp4"),
              Out + "/clip_(new_2)_ipod.mp4");

    // the batch start's suffix names other files
    EXPECT_EQ(MakeDestinationName(Global, "/media/clip.avi", ".mp4"), Out + "/clip_(new).mp4");
    EXPECT_TRUE(Questions.empty());
}

TEST_F(DestinationName, NamesGivenToOtherRowsAreTaken) {
    const std::set<std::string> reserved = {Out + "/clip_(new).mp4", Out + "/clip_(new_2).mp4"};
    EXPECT_EQ(MakeDestinationName(Global, "/a/clip.avi", ".mp4", reserved),
              Out + "/clip_(new_1).mp4");
    Touch("clip_(new_1).mp4");
    EXPECT_EQ(MakeDestinationName(Global, "/b/clip.mkv", ".mp4", reserved),
              Out + "/clip_(new_3).mp4");
}

TEST_F(DestinationName, FolderOfTheSameNameIsTaken) {
    fs::create_directories(Out + "/clip_(new).mp4");
    EXPECT_EQ(MakeDestinationName(Global, "clip.avi", ".mp4"), Out + "/clip_(new_1).mp4");
}

TEST_F(DestinationName, OnlyTheLastExtensionGoes) {
    EXPECT_EQ(MakeDestinationName(Global, "/m/holiday.part1.mpeg", ".avi"),
              Out + "/holiday.part1_(new).avi");
    EXPECT_EQ(MakeDestinationName(Global, "/m/noext", ".avi"), Out + "/noext_(new).avi");
}

TEST_F(DestinationName, TrailingSeparatorIsNotDoubled) {
    ASSERT_TRUE(Global.Settings().WriteString(kSettingsSection, "OutPutDir", Out + "/"));
    EXPECT_EQ(MakeDestinationName(Global, "a.wav", ".mp3"), Out + "/a_(new).mp3");
}

TEST_F(DestinationName, MissingFolderIsCreated) {
    const std::string deeper = Out + "/new/sub";
    ASSERT_TRUE(Global.Settings().WriteString(kSettingsSection, "OutPutDir", deeper));
    EXPECT_EQ(MakeDestinationName(Global, "a.wav", ".mp3"), deeper + "/a_(new).mp3");
    EXPECT_TRUE(fs::is_directory(deeper));
}

TEST_F(DestinationName, UnusableFolderFallsBackToTheDefault) {
    Touch("plainfile");
    const std::string home = Temp.file("home");
    const buildertest::TScopedEnv homeEnv("HOME", home);
    ASSERT_TRUE(
        Global.Settings().WriteString(kSettingsSection, "OutPutDir", Out + "/plainfile/sub"));

    EXPECT_EQ(MakeDestinationName(Global, "a.wav", ".mp3"), home + "/Videos/tollivane/a_(new).mp3");
    ASSERT_EQ(Questions.size(), 1u);
    EXPECT_EQ(Questions[0].Caption, "Warning");
    EXPECT_NE(Questions[0].Text.find("Cannot create output directory:"), std::string::npos);
}

} // namespace

// An extension from a hand-written format file that is not letters and
// digits only would name a file outside the naming scheme (another folder,
// a hidden file): the format's built-in extension is used instead.
TEST_F(DestinationName, FormatExtensionsOtherThanLettersAndDigitsAreNotUsed) {
    std::ofstream(Global.FormatFile()) << "[formatInfo101]\nFileExt=x/../y\n"
                                          "[formatInfo102]\nFileExt=../../evil\n"
                                          "[formatInfo200]\nFileExt=m p3\n"
                                          "[formatInfo201]\nFileExt=.hidden\n"
                                          "[formatInfo204]\nFileExt=Wave2\n";
    const std::pair<int, const char*> cases[] = {
        {101, "mpg"}, {102, "mp4"}, {200, "mp3"}, {201, "aac"}, {204, "Wave2"}};
    for (const auto& [code, ext] : cases) {
        SCOPED_TRACE(code);
        EXPECT_EQ(MakeDestinationName(Global, "/media/clip.avi", "." + FormatFileExt(Global, code)),
                  Out + "/clip_(new)." + ext);
    }
    EXPECT_EQ(fs::directory_iterator(Out), fs::directory_iterator());
}

// A source name near the limit of a folder entry (255 bytes) loses the end
// of its base name, never part of a character, and keeps "_(new)" and the
// extension; the numbered names are cut to fit as well.
TEST_F(DestinationName, LongNamesAreCutToFitAFolderEntry) {
    const std::string ascii(250, 'n');
    const std::string first = MakeDestinationName(Global, "/m/" + ascii + ".mp4", ".mp4");
    EXPECT_EQ(first, Out + "/" + std::string(245, 'n') + "_(new).mp4");
    Touch(fs::path(first).filename().string());
    EXPECT_EQ(MakeDestinationName(Global, "/m/" + ascii + ".mp4", ".mp4"),
              Out + "/" + std::string(243, 'n') + "_(new_1).mp4");

    // "é" is two bytes: 124 of them and "x" are 249 bytes; the cut keeps 122
    // whole ones rather than 122 and a half.
    std::string accented;
    for (int i = 0; i < 124; ++i)
        accented += "\xC3\xA9";
    const std::string name =
        fs::path(MakeDestinationName(Global, "/m/" + accented + "x.mkv", ".mp4"))
            .filename()
            .string();
    EXPECT_EQ(name, accented.substr(0, 244) + "_(new).mp4");
    EXPECT_LE(name.size(), 255u);

    const std::string fits(245, 'f');
    EXPECT_EQ(MakeDestinationName(Global, "/m/" + fits + ".avi", ".mp4"),
              Out + "/" + fits + "_(new).mp4");
}
