// A "LibAV" folder holding real copies of the system's libraries is used in
// preference to the system's, and the copies use each other.
#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/FFmpegLoader.h"
#include "support/TestSupport.h"

#include <dlfcn.h>
#include <libpostproc/version.h>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

namespace fs = std::filesystem;

namespace {

// The system's file that dlopen would find for `name`.
fs::path SystemFile(const std::string& name) {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib"}) {
        fs::path candidate = fs::path(dir) / name;
        if (fs::exists(candidate)) return fs::canonical(candidate);
    }
    return {};
}

// Paths of mapped files whose name starts with `prefix`.
std::set<std::string> MappedFilesUnder(const std::string& prefix) {
    std::set<std::string> files;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        std::string path = line.substr(slash);
        if (path.rfind(prefix, 0) == 0) files.insert(path);
    }
    return files;
}

TEST(LoaderFolder, RealCopiesInTheFolderAreUsedInsteadOfTheSystems) {
    testsupport::TempDir temp;
    fs::path folder = temp.path() / "LibAV";
    fs::create_directory(folder);
    TFFmpegLoader& loader = FFmpegLoader();
    std::vector<std::string> names;
    for (int index : {libAVUtil, libSwResample, libSwScale, libAVCodec, libAVFormat, libAVFilter})
        names.push_back(loader.LibraryFileName(index));
    names.push_back("libpostproc.so." + std::to_string(LIBPOSTPROC_VERSION_MAJOR));
    for (const std::string& name : names) {
        fs::path source = SystemFile(name);
        ASSERT_FALSE(source.empty()) << name;
        fs::copy_file(source, folder / name);
    }
    loader.SetLibraryFolder(folder.string());
    ASSERT_TRUE(loader.LoadLibraries(ConverterLibraries)) << loader.GetLastError();

    EXPECT_EQ(loader.LibraryPath(libAVCodec), (folder / names[3]).string());
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(ff::avformat.avformat_open_input), &info), 0);
    EXPECT_EQ(std::string(info.dli_fname), (folder / names[4]).string());
    // Every library of the folder is mapped, including the ones loaded only
    // as dependencies of the others (libpostproc), and none from the system.
    std::set<std::string> mapped = MappedFilesUnder(folder.string());
    for (const std::string& name : names)
        EXPECT_EQ(mapped.count((folder / name).string()), 1u) << name;
    for (const std::string& name : names)
        EXPECT_TRUE(MappedFilesUnder(SystemFile(name).string()).empty()) << name;
    loader.UnloadLibraries(ConverterLibraries);
}

} // namespace
