#include "media/FFmpegLoader.h"

#include "media/AVCodecEntries.h"
#include "media/AVDeviceEntries.h"
#include "media/AVFilterEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/CRuntimeEntries.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/SDLEntries.h"
#include "media/SwResampleEntries.h"
#include "media/SwScaleEntries.h"

#if defined(__x86_64__) || defined(__i386__)
#include <fpu_control.h>
#define VANTREL_X87_CONTROL_WORD 1
#endif
#include <libpostproc/version.h>

namespace {

// One row of the library table.
struct TLibraryItem {
    const char* BaseName;
    int Version;       // soname major, -1 for none
    int RequiredMinor; // oldest accepted minor; -1: no version check
    void (*Bind)(const std::string& libraryFile, void* module);
    void (*Unbind)();
    unsigned (*RuntimeVersion)(); // AV_VERSION_INT form
};

template <class Table, Table& table> void BindTable(const std::string& file, void* module) {
    table.Bind(file, module);
}
template <class Table, Table& table> void UnbindTable() {
    table = Table{};
}

unsigned SDLVersion() {
    SDL_version version{};
    ff::sdl.SDL_GetVersion(&version);
    return AV_VERSION_INT(version.major, version.minor, version.patch);
}

#define VANTREL_TABLE(type, object) &BindTable<type, ff::object>, &UnbindTable<type, ff::object>

const TLibraryItem LibraryItems[LibraryCount] = {
    {"avcodec", LIBAVCODEC_VERSION_MAJOR, LIBAVCODEC_VERSION_MINOR,
     VANTREL_TABLE(ff::AVCodecTable, avcodec), [] { return ff::avcodec.avcodec_version(); }},
    {"avdevice", LIBAVDEVICE_VERSION_MAJOR, LIBAVDEVICE_VERSION_MINOR,
     VANTREL_TABLE(ff::AVDeviceTable, avdevice), [] { return ff::avdevice.avdevice_version(); }},
    {"avfilter", LIBAVFILTER_VERSION_MAJOR, LIBAVFILTER_VERSION_MINOR,
     VANTREL_TABLE(ff::AVFilterTable, avfilter), [] { return ff::avfilter.avfilter_version(); }},
    {"avformat", LIBAVFORMAT_VERSION_MAJOR, LIBAVFORMAT_VERSION_MINOR,
     VANTREL_TABLE(ff::AVFormatTable, avformat), [] { return ff::avformat.avformat_version(); }},
    {"avutil", LIBAVUTIL_VERSION_MAJOR, LIBAVUTIL_VERSION_MINOR,
     VANTREL_TABLE(ff::AVUtilTable, avutil), [] { return ff::avutil.avutil_version(); }},
    {"swscale", LIBSWSCALE_VERSION_MAJOR, LIBSWSCALE_VERSION_MINOR,
     VANTREL_TABLE(ff::SwScaleTable, swscale), [] { return ff::swscale.swscale_version(); }},
    {"c", 6, -1, VANTREL_TABLE(ff::CRuntimeTable, crt), nullptr},
    {"SDL2-2.0", 0, 0, VANTREL_TABLE(ff::SDLTable, sdl), &SDLVersion},
    {"swresample", LIBSWRESAMPLE_VERSION_MAJOR, LIBSWRESAMPLE_VERSION_MINOR,
     VANTREL_TABLE(ff::SwResampleTable, swresample),
     [] { return ff::swresample.swresample_version(); }},
};

#undef VANTREL_TABLE

// Each library after the ones it needs.
const int LoadOrder[LibraryCount] = {libCRuntime, libAVUtil,   libSwResample,
                                     libSwScale,  libAVCodec,  libAVFormat,
                                     libAVFilter, libAVDevice, libSDL};

const char* const PostprocFileName = "libpostproc.so." AV_STRINGIFY(LIBPOSTPROC_VERSION_MAJOR);

#ifdef VANTREL_X87_CONTROL_WORD
// The floating-point control word while the media code runs: all exceptions
// masked, 64-bit precision, rounding to nearest.
class TFloatingPointSetting {
public:
    TFloatingPointSetting() {
        _FPU_GETCW(Saved);
        fpu_control_t wanted = 0x133F;
        _FPU_SETCW(wanted);
    }
    ~TFloatingPointSetting() { _FPU_SETCW(Saved); }

private:
    fpu_control_t Saved = 0;
};

TFloatingPointSetting FloatingPointSetting;
#endif

bool ValidIndex(int index) {
    return index >= 0 && index < LibraryCount;
}

} // namespace

TFFmpegLoader::TFFmpegLoader() : LibraryFolder(ExecutableFolder() + "/LibAV") {}

TFFmpegLoader::~TFFmpegLoader() = default;

void TFFmpegLoader::SetLibraryFolder(const std::string& folder) {
    LibraryFolder = folder;
}

std::string TFFmpegLoader::LibraryFileName(int index) const {
    Assert(ValidIndex(index));
    const TLibraryItem& item = LibraryItems[index];
    std::string name = std::string("lib") + item.BaseName + ".so";
    if (item.Version >= 0) name += "." + std::to_string(item.Version);
    return name;
}

bool TFFmpegLoader::LoadLibrary(int index) {
    Assert(ValidIndex(index));
    TLibraryStatus& status = Status[index];
    if (!status.Handle && !OpenModule(index)) return false;
    if (!status.Bound) BindTable(index);
    if (!status.Bound) UnloadLibrary(index);
    if (status.Bound) AfterBind(index);
    return status.Bound;
}

// Opens the module (libavfilter's libpostproc from the folder first when the
// folder holds it, so the folder's libavfilter uses it).
bool TFFmpegLoader::OpenModule(int index) {
    TLibraryStatus& status = Status[index];
    if (index == libAVFilter && !status.Companion) {
        TModuleLoad postproc = LoadModule(LibraryFolder, PostprocFileName);
        if (postproc.Handle && postproc.Path == PostprocFileName) {
            FreeModule(postproc.Handle); // not in the folder: let libavfilter find its own
        } else {
            status.Companion = postproc.Handle;
        }
    }
    TModuleLoad module = LoadModule(LibraryFolder, LibraryFileName(index));
    if (!module.Handle) {
        LastError =
            FormatText("Load library %s error: %s", module.Path.c_str(), module.Error.c_str());
        FreeModule(status.Companion);
        status.Companion = nullptr;
        return false;
    }
    status.Handle = module.Handle;
    LoadedPath[index] = module.Path;
    return true;
}

void TFFmpegLoader::BindTable(int index) {
    const TLibraryItem& item = LibraryItems[index];
    try {
        item.Bind(LibraryFileName(index), Status[index].Handle);
        CheckVersion(index);
        Status[index].Bound = true;
    } catch (const std::exception& e) {
        LastError = e.what();
        item.Unbind();
    }
}

// A library of another generation has other structure layouts: its major
// must equal the headers' and its minor must be at least theirs.
void TFFmpegLoader::CheckVersion(int index) const {
    const TLibraryItem& item = LibraryItems[index];
    if (item.RequiredMinor < 0 || !item.RuntimeVersion) return;
    unsigned version = item.RuntimeVersion();
    int major = static_cast<int>(version >> 16);
    int minor = static_cast<int>((version >> 8) & 0xFF);
    int required = index == libSDL ? SDL_MAJOR_VERSION : item.Version;
    if (major == required && minor >= item.RequiredMinor) return;
    std::string found =
        FormatText("version %d.%d.%d found, %d.%d or a later %d.x needed", major, minor,
                   static_cast<int>(version & 0xFF), required, item.RequiredMinor, required);
    throw ELoadError(
        FormatText("Load library %s error: %s", LoadedPath[index].c_str(), found.c_str()));
}

void TFFmpegLoader::AfterBind(int index) {
    if (index == libAVUtil && InstallLogOnUtility) InstallLibraryLog();
}

bool TFFmpegLoader::LoadLibraries(TLibrarySet set) {
    Assert(set != 0);
    for (int index : LoadOrder) {
        if (!(set & LibraryBit(index))) continue;
        if (!LoadLibrary(index)) {
            UnloadLibraries(set);
            return false;
        }
    }
    return true;
}

bool TFFmpegLoader::IsLoaded(int index) const {
    if (!ValidIndex(index)) return false;
    return Status[index].Handle && Status[index].Bound;
}

bool TFFmpegLoader::AreLoaded(TLibrarySet set) const {
    Assert(set != 0);
    for (int index = 0; index < LibraryCount; ++index)
        if ((set & LibraryBit(index)) && !IsLoaded(index)) return false;
    return true;
}

void TFFmpegLoader::UnloadLibrary(int index) {
    Assert(ValidIndex(index));
    TLibraryStatus& status = Status[index];
    if (status.Bound) {
        LibraryItems[index].Unbind();
        status.Bound = false;
    }
    FreeModule(status.Handle);
    FreeModule(status.Companion);
    status = TLibraryStatus{};
    LoadedPath[index].clear();
}

// Unloads in the reverse of the load order, users before what they use.
void TFFmpegLoader::UnloadLibraries(TLibrarySet set) {
    Assert(set != 0);
    for (int i = LibraryCount - 1; i >= 0; --i)
        if (set & LibraryBit(LoadOrder[i])) UnloadLibrary(LoadOrder[i]);
}

void* TFFmpegLoader::LibraryHandle(int index) const {
    return ValidIndex(index) ? Status[index].Handle : nullptr;
}

const std::string& TFFmpegLoader::LibraryPath(int index) const {
    Assert(ValidIndex(index));
    return LoadedPath[index];
}

TFFmpegLoader& FFmpegLoader() {
    static TFFmpegLoader loader;
    return loader;
}

std::mutex& CodecLock() {
    static std::mutex lock;
    return lock;
}
