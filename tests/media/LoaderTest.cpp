// The loader against the system's libraries and against stand-in libraries
// in LibAV folders beside this program.
#include "media/AVCodecEntries.h"
#include "media/AVFilterEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

std::string FixtureFolder(const std::string& name) {
    return (testsupport::ExecutableFolder() / name / "LibAV").string();
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        FFmpegLoader().UnloadLibraries(PlayerLibraries | LibraryBit(libAVDevice));
        FFmpegLoader().SetLibraryFolder(FixtureFolder("none"));
    }
    void TearDown() override { SetUp(); }

    static void ExpectNoneLoaded(TLibrarySet set) {
        for (int i = 0; i < LibraryCount; ++i) {
            if (set & LibraryBit(i)) {
                EXPECT_FALSE(FFmpegLoader().IsLoaded(i)) << "library " << i;
            }
        }
    }
};

TEST_F(LoaderTest, FileNamesCarryTheHeadersSonameMajor) {
    TFFmpegLoader& loader = FFmpegLoader();
    EXPECT_EQ(loader.LibraryFileName(libAVCodec),
              "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(loader.LibraryFileName(libSwScale),
              "libswscale.so." + std::to_string(LIBSWSCALE_VERSION_MAJOR));
    EXPECT_EQ(loader.LibraryFileName(libSwResample),
              "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR));
    EXPECT_EQ(loader.LibraryFileName(libSDL), "libSDL2-2.0.so.0");
    EXPECT_EQ(loader.LibraryFileName(libCRuntime), "libc.so.6");
    EXPECT_THROW(loader.LibraryFileName(LibraryCount), EAssertionFailed);
}

TEST_F(LoaderTest, DefaultFolderIsLibAVBesideTheProgram) {
    TFFmpegLoader fresh;
    EXPECT_EQ(fresh.GetLibraryFolder(), testsupport::ExecutableFolder().string() + "/LibAV");
}

TEST_F(LoaderTest, EmptySetIsAnAssertionFailure) {
    EXPECT_THROW(FFmpegLoader().LoadLibraries(0), EAssertionFailed);
    EXPECT_THROW(FFmpegLoader().AreLoaded(0), EAssertionFailed);
    EXPECT_THROW(FFmpegLoader().UnloadLibraries(0), EAssertionFailed);
}

TEST_F(LoaderTest, SystemLibrariesLoadAndBindEveryEntry) {
    ASSERT_TRUE(FFmpegLoader().LoadLibraries(PlayerLibraries)) << FFmpegLoader().GetLastError();
    EXPECT_TRUE(FFmpegLoader().AreLoaded(ConverterLibraries));
    EXPECT_TRUE(FFmpegLoader().AreLoaded(PlayerLibraries));
    EXPECT_FALSE(FFmpegLoader().IsLoaded(libAVDevice));
    ASSERT_NE(ff::avcodec.avcodec_version, nullptr);
    EXPECT_EQ(ff::avcodec.avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_NE(ff::avfilter.avfilter_graph_free, nullptr);
    EXPECT_EQ(FFmpegLoader().LibraryPath(libAVCodec), FFmpegLoader().LibraryFileName(libAVCodec));
}

TEST_F(LoaderTest, LoadingTwiceBindsNothingAgain) {
    ASSERT_TRUE(FFmpegLoader().LoadLibraries(ConverterLibraries));
    void* handle = FFmpegLoader().LibraryHandle(libAVCodec);
    // Mark a slot: binding again would overwrite it.
    auto bound = ff::avcodec.avcodec_version;
    ff::avcodec.avcodec_version = nullptr;
    EXPECT_TRUE(FFmpegLoader().LoadLibraries(ConverterLibraries));
    EXPECT_EQ(ff::avcodec.avcodec_version, nullptr);
    EXPECT_EQ(FFmpegLoader().LibraryHandle(libAVCodec), handle);
    ff::avcodec.avcodec_version = bound;
}

TEST_F(LoaderTest, UnloadClearsEveryTableSlot) {
    ASSERT_TRUE(FFmpegLoader().LoadLibraries(ConverterLibraries));
    FFmpegLoader().UnloadLibraries(ConverterLibraries);
    ExpectNoneLoaded(ConverterLibraries);
    EXPECT_EQ(ff::avcodec.avcodec_open2, nullptr);
    EXPECT_EQ(ff::avutil.av_log, nullptr);
    EXPECT_EQ(FFmpegLoader().LibraryHandle(libAVUtil), nullptr);
}

TEST_F(LoaderTest, MissingEntryPointUnloadsTheWholeSet) {
    FFmpegLoader().SetLibraryFolder(FixtureFolder("missing_entry"));
    EXPECT_FALSE(FFmpegLoader().LoadLibraries(ConverterLibraries));
    std::string expected = "Load function avfilter_graph_free@" +
                           FFmpegLoader().LibraryFileName(libAVFilter) + " error: ";
    EXPECT_EQ(FFmpegLoader().GetLastError().substr(0, expected.size()), expected);
    EXPECT_NE(FFmpegLoader().GetLastError().find("undefined symbol"), std::string::npos);
    ExpectNoneLoaded(ConverterLibraries);
    EXPECT_EQ(ff::avfilter.avfilter_version, nullptr);
}

TEST_F(LoaderTest, SingleLibraryLackingAnEntryIsNotLoaded) {
    FFmpegLoader().SetLibraryFolder(FixtureFolder("missing_entry"));
    EXPECT_FALSE(FFmpegLoader().LoadLibrary(libAVFilter));
    EXPECT_FALSE(FFmpegLoader().IsLoaded(libAVFilter));
    EXPECT_EQ(FFmpegLoader().LibraryHandle(libAVFilter), nullptr);
}

TEST_F(LoaderTest, FolderLibraryIsPreferredToTheSystems) {
    FFmpegLoader().SetLibraryFolder(FixtureFolder("complete"));
    ASSERT_TRUE(FFmpegLoader().LoadLibrary(libAVFilter)) << FFmpegLoader().GetLastError();
    EXPECT_EQ(FFmpegLoader().LibraryPath(libAVFilter),
              FixtureFolder("complete") + "/" + FFmpegLoader().LibraryFileName(libAVFilter));
    // The stand-in answers every entry with its version number.
    EXPECT_EQ(ff::avfilter.avfilter_version(), unsigned(LIBAVFILTER_VERSION_INT));
}

TEST_F(LoaderTest, OtherMajorVersionIsRefused) {
    FFmpegLoader().SetLibraryFolder(FixtureFolder("old_major"));
    EXPECT_FALSE(FFmpegLoader().LoadLibraries(ConverterLibraries));
    std::string path =
        FixtureFolder("old_major") + "/" + FFmpegLoader().LibraryFileName(libAVFilter);
    EXPECT_EQ(FFmpegLoader().GetLastError().rfind("Load library " + path + " error: ", 0), 0u)
        << FFmpegLoader().GetLastError();
    ExpectNoneLoaded(ConverterLibraries);
}

TEST_F(LoaderTest, OlderMinorVersionIsRefused) {
    FFmpegLoader().SetLibraryFolder(FixtureFolder("old_minor"));
    EXPECT_FALSE(FFmpegLoader().LoadLibrary(libAVFilter));
    EXPECT_EQ(FFmpegLoader().GetLastError().rfind("Load library ", 0), 0u);
    EXPECT_FALSE(FFmpegLoader().IsLoaded(libAVFilter));
}

TEST_F(LoaderTest, UnloadableLibraryFailsTheSetAndLeavesNoneLoaded) {
    testsupport::TempDir folder;
    std::string sdl = folder.file(FFmpegLoader().LibraryFileName(libSDL));
    std::ofstream(sdl) << "not a shared library";
    FFmpegLoader().SetLibraryFolder(folder.path().string());
    EXPECT_FALSE(FFmpegLoader().LoadLibraries(PlayerLibraries));
    EXPECT_EQ(FFmpegLoader().GetLastError().rfind("Load library " + sdl + " error: ", 0), 0u)
        << FFmpegLoader().GetLastError();
    ExpectNoneLoaded(PlayerLibraries);
    // The converter's set does not need SDL.
    EXPECT_TRUE(FFmpegLoader().LoadLibraries(ConverterLibraries));
}

TEST_F(LoaderTest, MissingFunctionAndVariableTexts) {
    ASSERT_TRUE(FFmpegLoader().LoadLibrary(libCRuntime));
    void* libc = FFmpegLoader().LibraryHandle(libCRuntime);
    try {
        BindFunction("libc.so.6", libc, "no_such_function");
        FAIL() << "no exception";
    } catch (const ELoadError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Load function no_such_function@libc.so.6 error: ", 0), 0u);
    }
    try {
        BindVariable("libc.so.6", libc, "no_such_variable");
        FAIL() << "no exception";
    } catch (const ELoadError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Load variable no_such_variable@libc.so.6 error: ", 0), 0u);
    }
    EXPECT_NE(BindVariable("libc.so.6", libc, "environ"), nullptr);
}

} // namespace

#if defined(__x86_64__) || defined(__i386__)
#include <fpu_control.h>

namespace {

TEST(LoaderUnit, FloatingPointControlWordIsSetForTheMediaCode) {
    FFmpegLoader();
    fpu_control_t word = 0;
    _FPU_GETCW(word);
    EXPECT_EQ(word & 0x1F3F, 0x133F);
}

} // namespace
#endif
