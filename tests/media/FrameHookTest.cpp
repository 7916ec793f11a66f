// Frame-hook modules: which entry points a module needs, the arguments and
// contexts it gets, list order, release, the current folder and the search
// of a module's own folder for its libraries.
#include "LogCollector.h"
#include "MediaTestSupport.h"
#include "media/FrameHook.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string CurrentFolder() {
    return std::filesystem::current_path().string();
}

// The test module's record of its calls (read through its handle).
struct ModuleTrace {
    explicit ModuleTrace(const char* path) {
        void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
        if (!handle) return;
        Text = static_cast<char*>(dlsym(handle, "HookTrace"));
        Contexts = static_cast<int*>(dlsym(handle, "HookContexts"));
        dlclose(handle); // drops only the count taken here
    }
    std::string Take() {
        if (!Text) return "not loaded";
        std::string text = Text;
        Text[0] = '\0';
        return text;
    }
    void Reset() {
        if (Text) Text[0] = '\0';
        if (Contexts) *Contexts = 0;
    }
    char* Text = nullptr;
    int* Contexts = nullptr;
};

class FrameHooks : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadSystemLibraries()); }
    void TearDown() override { ReleaseFrameHooks(&List.Head); }

    // Adds a module with its arguments through a 64-slot word array.
    int Add(const std::vector<std::string>& words) {
        Words = words;
        std::vector<char*> argv(64, nullptr);
        for (std::size_t i = 0; i < Words.size(); ++i)
            argv[i] = Words[i].data();
        return AddFrameHook(&List.Head, static_cast<int>(Words.size()), argv.data());
    }
    int Entries() const {
        int count = 0;
        for (FrameHookEntry* entry = List.Head; entry; entry = entry->Next)
            ++count;
        return count;
    }
    // Runs the list on a 4x2 grey picture; returns its first byte.
    int ProcessOnePicture(int64_t pts) {
        uint8_t pixels[8] = {};
        FrameHookPicture picture{};
        picture.data[0] = pixels;
        picture.linesize[0] = 4;
        ProcessFrameHooks(List.Head, &picture, 8, 4, 2, pts);
        return pixels[0];
    }

    LogCollector Log;
    TFrameHookList List;
    std::vector<std::string> Words;
};

} // namespace

TEST_F(FrameHooks, SameModuleTwiceHasTwoContextsCalledInOrderAndReleased) {
    const std::string folder = CurrentFolder();
    ASSERT_EQ(Add({HOOK_FULL, "a", "b"}), 0);
    ModuleTrace trace(HOOK_FULL);
    ASSERT_TRUE(trace.Text);
    trace.Reset();
    ReleaseFrameHooks(&List.Head);
    trace.Take();

    ASSERT_EQ(Add({HOOK_FULL, "one", "two words"}), 0);
    ASSERT_EQ(Add({HOOK_FULL}), 0);
    EXPECT_EQ(Entries(), 2);
    // Configure runs in the module's folder and sees argv[argc] null.
    EXPECT_EQ(trace.Take(),
              std::string("C1:3:one,two words,end@") + HOOK_DIR + ";C2:1:end@" + HOOK_DIR + ";");
    EXPECT_EQ(CurrentFolder(), folder);

    EXPECT_EQ(ProcessOnePicture(1234567), 2); // the later module wrote last
    EXPECT_EQ(trace.Take(), "P1/8/4x2/1234567;P2/8/4x2/1234567;");

    ReleaseFrameHooks(&List.Head);
    EXPECT_EQ(List.Head, nullptr);
    EXPECT_EQ(trace.Take(), "R1;R2;");
    ReleaseFrameHooks(&List.Head); // an empty list releases nothing
    EXPECT_EQ(trace.Take(), "");
}

TEST_F(FrameHooks, ReleaseAndConfigureAreOptionalWithoutArguments) {
    ASSERT_EQ(Add({HOOK_NO_RELEASE, "x"}), 0);
    ModuleTrace noRelease(HOOK_NO_RELEASE);
    EXPECT_NE(noRelease.Take().find(":2:x,end@"), std::string::npos);
    ASSERT_EQ(Add({HOOK_PROCESS_ONLY}), 0);
    ModuleTrace processOnly(HOOK_PROCESS_ONLY);
    EXPECT_EQ(Entries(), 2);
    ProcessOnePicture(5);
    EXPECT_EQ(processOnly.Take(), "P0/8/4x2/5;"); // no Configure: no context
    ReleaseFrameHooks(&List.Head);
    EXPECT_EQ(List.Head, nullptr);
    EXPECT_EQ(noRelease.Take().find('R'), std::string::npos);
    EXPECT_TRUE(Log.Take().empty());
}

TEST_F(FrameHooks, MissingEntryPointsAndRefusedConfigureAddNothing) {
    const std::string folder = CurrentFolder();
    EXPECT_EQ(Add({HOOK_PROCESS_ONLY, "arg"}), -2);
    EXPECT_TRUE(
        Log.Contains(std::string("Failed to find Configure entrypoint in ") + HOOK_PROCESS_ONLY));
    EXPECT_EQ(Add({HOOK_NO_PROCESS}), -2);
    EXPECT_TRUE(
        Log.Contains(std::string("Failed to find Process entrypoint in ") + HOOK_NO_PROCESS));
    EXPECT_EQ(Add({HOOK_FULL, "fail"}), -22);
    EXPECT_TRUE(Log.Contains(std::string("Failed to Configure ") + HOOK_FULL));
    EXPECT_EQ(Add({}), -2);
    EXPECT_EQ(List.Head, nullptr);
    EXPECT_EQ(CurrentFolder(), folder);
}

TEST_F(FrameHooks, ModuleThatCannotBeLoadedIsLoggedAndFolderKept) {
    const std::string folder = CurrentFolder();
    const std::string missing = std::string(HOOK_DIR) + "/no such module.so";
    EXPECT_EQ(Add({missing}), -1);
    EXPECT_EQ(CurrentFolder(), folder);
    EXPECT_EQ(Add({"/no/such/folder/module.so"}), -1);
    EXPECT_EQ(CurrentFolder(), folder);
    const std::vector<TLoggedLine> lines = Log.Take();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].Text.find(missing), std::string::npos) << lines[0].Text;
    EXPECT_EQ(lines[0].Level, llError);
    EXPECT_EQ(List.Head, nullptr);
}

TEST_F(FrameHooks, RelativePathLoadsFromTheCurrentFolder) {
    const std::string folder = CurrentFolder();
    const std::filesystem::path full(HOOK_FULL);
    ASSERT_EQ(chdir(full.parent_path().parent_path().c_str()), 0);
    const std::string relative = (full.parent_path().filename() / full.filename()).string();
    EXPECT_EQ(Add({relative, "r"}), 0);
    const std::string here = CurrentFolder();
    ASSERT_EQ(chdir(folder.c_str()), 0);
    EXPECT_EQ(here, full.parent_path().parent_path().string());
    EXPECT_EQ(Entries(), 1);
}

// The module's library lies only beside it, in a folder with a blank and a
// non-ASCII letter; the system's search alone would not find it.
TEST_F(FrameHooks, LibrariesBesideTheModuleResolve) {
    ASSERT_EQ(Add({HOOK_WITH_DEPENDENCY, "d"}), 0) << (Log.Take().empty() ? "" : "logged");
    ModuleTrace trace(HOOK_WITH_DEPENDENCY);
    trace.Take();
    EXPECT_EQ(ProcessOnePicture(0), 101);
    EXPECT_EQ(trace.Take(), "P101/8/4x2/0;");
}
