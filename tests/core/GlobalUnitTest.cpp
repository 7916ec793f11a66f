#include "core/GlobalUnit.h"

#include "AppCoreTestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using appcoretest::TAppCoreTest;
using appcoretest::TScopedEnv;

namespace {

// A folder that exists and cannot be written. Permissions do not stop the
// superuser, so for it a folder of the kernel's read-only file system is used.
std::string ReadOnlyFolder(const testsupport::TempDir& temp) {
    const std::string folder = temp.file("readonly");
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0555);
    const std::string probe = folder + "/probe";
    if (std::ofstream(probe)) {
        fs::remove(probe);
        return "/proc";
    }
    return folder;
}

std::string Setting(const TGlobalObject& g, const std::string& key) {
    return g.Settings().ReadString("settings", key, "<unset>");
}

using GlobalObjectTest = TAppCoreTest;

TEST_F(GlobalObjectTest, FilledLikeTheMainWindowDoes) {
    EXPECT_EQ(Global.SettingsFile(), Temp.file("config") + "/vantrel/vantrel.ini");
    EXPECT_EQ(Global.FormatFile(), Temp.file("config") + "/vantrel/vantrelformat.ini");
    EXPECT_EQ(Global.ProductName(), "Vantrel");
    EXPECT_EQ(Global.VersionText(), " ver 2.10 ");
    EXPECT_FALSE(Global.ProductPage().empty());
    EXPECT_FALSE(Global.HelpPage().empty());
}

TEST_F(GlobalObjectTest, SettersKeepTheOldValueForRefusedOnes) {
    EXPECT_FALSE(Global.SetSettingsFile("a/b"));
    EXPECT_FALSE(Global.SetFormatFile("/ab"));
    EXPECT_FALSE(Global.SetSettingsFile("/\xC3\xA9z")); // three characters in four bytes
    EXPECT_FALSE(Global.SetProductName(""));
    EXPECT_FALSE(Global.SetVersionText(""));
    EXPECT_FALSE(Global.SetHelpPage(""));
    EXPECT_FALSE(Global.SetProductPage(""));
    EXPECT_EQ(Global.SettingsFile(), Temp.file("config") + "/vantrel/vantrel.ini");
    EXPECT_EQ(Global.ProductName(), "Vantrel");
    EXPECT_EQ(Global.VersionText(), " ver 2.10 ");

    EXPECT_TRUE(Global.SetSettingsFile("/a.i"));
    EXPECT_EQ(Global.SettingsFile(), "/a.i");
    EXPECT_TRUE(Global.SetVersionText(" 1.000 "));
    EXPECT_EQ(Global.VersionText(), " 1.000 ");
}

TEST_F(GlobalObjectTest, ConfigurationFolderWithoutXdgIsUnderHome) {
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(TGlobalObject::GetSpecialFolder(TSpecialFolder::CommonAppData),
              HomeDir() + "/.config/vantrel/");
    TScopedEnv relative("XDG_CONFIG_HOME", "relative/path");
    EXPECT_EQ(TGlobalObject::GetSpecialFolder(TSpecialFolder::CommonAppData),
              HomeDir() + "/.config/vantrel/");
    EXPECT_EQ(TGlobalObject::GetSpecialFolder(TSpecialFolder::Videos), HomeDir() + "/Videos/");
}

TEST(VersionTextTest, NumbersFollowOneAnotherAfterTheFirstDot) {
    EXPECT_EQ(FormatVersionText(4, 8, 0, 16), " 4.8016 ");
    EXPECT_EQ(FormatVersionText(1, 0, 0, 0), " 1.000 ");
    EXPECT_EQ(TGlobalObject::GetVersionText(),
              FormatVersionText(VANTREL_VERSION_MAJOR, VANTREL_VERSION_MINOR, VANTREL_VERSION_PATCH,
                                VANTREL_VERSION_TWEAK));
}

TEST(PlatformHelpersTest, RightCharsCountsCharacters) {
    EXPECT_EQ(TGlobalObject::RightChars("/home/out/", 1), "/");
    EXPECT_EQ(TGlobalObject::RightChars("abc", 2), "bc");
    EXPECT_EQ(TGlobalObject::RightChars("abc", 10), "abc");
    EXPECT_EQ(TGlobalObject::RightChars("abc", 0), "");
    EXPECT_EQ(TGlobalObject::RightChars("", 1), "");
    EXPECT_EQ(TGlobalObject::RightChars("x\xC3\xA9", 1), "\xC3\xA9");
}

TEST(PlatformHelpersTest, LoginNameIsKnownAndShort) {
    const std::string name = TGlobalObject::GetLoginName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 253u);
}

TEST(PlatformHelpersTest, WriteAccessIsTestedWithAFileThatIsRemovedAgain) {
    testsupport::TempDir temp;
    EXPECT_TRUE(TGlobalObject::CanWriteToFolder(temp.path().string()));
    EXPECT_TRUE(TGlobalObject::CanWriteToFolder(temp.path().string() + "/"));
    EXPECT_TRUE(fs::is_empty(temp.path()));
    EXPECT_FALSE(TGlobalObject::CanWriteToFolder(temp.file("missing")));
    EXPECT_FALSE(TGlobalObject::CanWriteToFolder(ReadOnlyFolder(temp)));
    EXPECT_FALSE(TGlobalObject::CanWriteToFolder(""));
}

using FolderRuleTest = TAppCoreTest;

TEST_F(FolderRuleTest, DefaultAndFallbackFoldersFollowHome) {
    EXPECT_EQ(DefaultOutputFolder(), HomeDir() + "/Videos/tollivane");
    EXPECT_EQ(FallbackFolder(), HomeDir() + "/tollivane");
    ::unsetenv("HOME");
    EXPECT_EQ(FallbackFolder(), "/tmp/tollivane");
}

TEST_F(FolderRuleTest, ReadOnlyFolderIsReplacedSilentlyAtStart) {
    const std::string readOnly = ReadOnlyFolder(Temp);
    ASSERT_TRUE(Global.Settings().WriteString("settings", "OutPutDir", readOnly));
    CheckFolderAtStart(Global, "OutPutDir");
    EXPECT_EQ(Setting(Global, "OutPutDir"), HomeDir() + "/tollivane");
    EXPECT_FALSE(fs::exists(HomeDir() + "/tollivane")) << "the fall-back is not created here";
    EXPECT_TRUE(Messages.empty());
}

TEST_F(FolderRuleTest, WritableFolderIsKeptAtStart) {
    ASSERT_TRUE(Global.Settings().WriteString("settings", "SnapOutPutDir", Temp.path().string()));
    CheckFolderAtStart(Global, "snapoutputdir");
    EXPECT_EQ(Setting(Global, "SnapOutPutDir"), Temp.path().string());
}

TEST_F(FolderRuleTest, MissingDefaultFolderIsCreatedAtStart) {
    CheckFolderAtStart(Global, "SnapOutPutDir");
    EXPECT_TRUE(fs::is_directory(HomeDir() + "/Videos/tollivane"));
    EXPECT_EQ(Setting(Global, "SnapOutPutDir"), "<unset>");
    EXPECT_FALSE(fs::exists(HomeDir() + "/tollivane"));
    EXPECT_TRUE(Messages.empty());
}

// A hand-written settings file may name a folder that is not there yet:
// it is made and kept, not silently replaced by the fall-back.
TEST_F(FolderRuleTest, MissingChosenFolderIsCreatedAndKeptAtStart) {
    const std::string folder = Temp.file("chosen/out");
    ASSERT_TRUE(Global.Settings().WriteString("settings", "OutPutDir", folder));
    CheckFolderAtStart(Global, "OutPutDir");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(Setting(Global, "OutPutDir"), folder);
    EXPECT_FALSE(fs::exists(HomeDir() + "/tollivane"));
    // One that cannot be made (a file in its way) still falls back.
    std::ofstream(Temp.file("blocked")) << "a file";
    ASSERT_TRUE(Global.Settings().WriteString("settings", "OutPutDir", Temp.file("blocked/out")));
    CheckFolderAtStart(Global, "OutPutDir");
    EXPECT_EQ(Setting(Global, "OutPutDir"), HomeDir() + "/tollivane");
    EXPECT_TRUE(Messages.empty());
}

TEST_F(FolderRuleTest, DefaultFolderThatCannotBeMadeFallsBackAtStart) {
    fs::create_directories(HomeDir());
    std::ofstream(HomeDir() + "/Videos") << "a file where the folder would be";
    ASSERT_TRUE(fs::is_regular_file(HomeDir() + "/Videos"));
    CheckFolderAtStart(Global, "OutPutDir");
    EXPECT_EQ(Setting(Global, "OutPutDir"), HomeDir() + "/tollivane");
    EXPECT_TRUE(Messages.empty());
}

TEST_F(FolderRuleTest, EnsureFolderCreatesMissingParents) {
    const std::string folder = Temp.file("out/a/b");
    EXPECT_EQ(EnsureFolder(Global, "OutPutDir", folder), folder);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(Setting(Global, "OutPutDir"), "<unset>");
    EXPECT_TRUE(Messages.empty());
}

TEST_F(FolderRuleTest, FolderThatCannotBeCreatedFallsBackToTheDefault) {
    std::ofstream(Temp.file("plain")) << "x";
    const std::string folder = Temp.file("plain/out");
    const std::string def = HomeDir() + "/Videos/tollivane";
    EXPECT_EQ(EnsureFolder(Global, "SnapOutPutDir", folder), def);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Warning");
    EXPECT_EQ(Messages[0].Text, "Cannot create output directory:" + folder +
                                    ".It will create default directory " + def + "!");
    EXPECT_EQ(Messages[0].Buttons, TMsgButtons::Ok);
    EXPECT_TRUE(fs::is_directory(def));
    EXPECT_EQ(Setting(Global, "SnapOutPutDir"), def);
}

TEST_F(FolderRuleTest, ChosenDriveRootIsRefused) {
    ASSERT_TRUE(Global.Settings().WriteString("settings", "OutPutDir", "/old/folder"));
    for (const std::string root : {"/", "/ab"}) {
        Messages.clear();
        EXPECT_EQ(AcceptChosenFolder(Global, "OutPutDir", root, "/old/folder"), "/old/folder");
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].Caption, "Warning");
        EXPECT_EQ(Messages[0].Text, "The path " + root + " is not a valid directory.");
    }
    EXPECT_EQ(Setting(Global, "OutPutDir"), "/old/folder");
}

TEST_F(FolderRuleTest, CancelledOrUnchangedChoiceChangesNothing) {
    EXPECT_EQ(AcceptChosenFolder(Global, "OutPutDir", "", "/shown/now"), "/shown/now");
    EXPECT_EQ(AcceptChosenFolder(Global, "OutPutDir", "/shown/now", "/shown/now"), "/shown/now");
    EXPECT_TRUE(Messages.empty());
    EXPECT_FALSE(fs::exists(Global.SettingsFile()));
}

TEST_F(FolderRuleTest, WritableChoiceIsStored) {
    const std::string chosen = Temp.path().string();
    EXPECT_EQ(AcceptChosenFolder(Global, "SnapOutPutDir", chosen, "/before"), chosen);
    EXPECT_EQ(Setting(Global, "SnapOutPutDir"), chosen);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(FolderRuleTest, UnwritableChoiceNamesTheUserAndFallsBack) {
    for (const std::string& chosen : {ReadOnlyFolder(Temp), Temp.file("does/not/exist")}) {
        Messages.clear();
        EXPECT_EQ(AcceptChosenFolder(Global, "OutPutDir", chosen, "/before"),
                  HomeDir() + "/tollivane");
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].Caption, "Warning");
        EXPECT_EQ(Messages[0].Text,
                  "You login as " + TGlobalObject::GetLoginName() +
                      " .You don't have permission to write to directory:" + chosen);
        EXPECT_EQ(Setting(Global, "OutPutDir"), HomeDir() + "/tollivane");
    }
}

TEST(MessageSeamTest, WithoutHandlerOkAndYesAreAnswered) {
    TScopedMessageHandler none{nullptr};
    EXPECT_EQ(ShowMessageBox("Warning", "text", TMsgIcon::Warning, TMsgButtons::Ok),
              TMsgResult::Ok);
    EXPECT_EQ(ShowMessageBox("Warning", "Do you really want to exit?", TMsgIcon::Question,
                             TMsgButtons::YesNo),
              TMsgResult::Yes);
}

TEST(MessageSeamTest, InstalledHandlerAnswersAndIsRemovedAgain) {
    int calls = 0;
    {
        TScopedMessageHandler no{
            [&](const std::string&, const std::string&, TMsgIcon, TMsgButtons) {
                ++calls;
                return TMsgResult::No;
            }};
        EXPECT_EQ(ShowMessageBox("c", "t", TMsgIcon::Question, TMsgButtons::YesNo), TMsgResult::No);
    }
    EXPECT_EQ(ShowMessageBox("c", "t", TMsgIcon::Question, TMsgButtons::YesNo), TMsgResult::Yes);
    EXPECT_EQ(calls, 1);
}

} // namespace
