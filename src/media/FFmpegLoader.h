// Run-time loader of the media libraries.
//
// Use:
//   #include "media/FFmpegLoader.h"
//   if (!FFmpegLoader().LoadLibraries(ConverterLibraries))   // or PlayerLibraries
//       show(FFmpegLoader().GetLastError());
//   ff::avcodec.avcodec_open2(ctx, codec, &options);          // typed, bound by name
//   { std::lock_guard lock(CodecLock()); ff::avcodec.avcodec_open2(...); }
//
// Tables (one per library, each generated from the list in its *Entries.h):
//   ff::avcodec, ff::avdevice, ff::avfilter, ff::avformat, ff::avutil,
//   ff::swscale, ff::crt (the C library), ff::sdl, ff::swresample.
// A slot is nullptr while its library is not bound; code checks IsLoaded or
// AreLoaded for its set before calling. To bind another entry point, add its
// name on a line of its own to the library's list; header inline functions
// that call library functions (avio_tell, av_err2str, av_opt_set_int_list)
// must not be called directly: call the bound function they wrap.
//
// The libraries are searched in the library folder first (default: "LibAV"
// beside the executable), by full path, in dependency order, then through the
// system's search. A library whose major version differs from the headers' or
// whose minor is older is refused.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// Library indexes; a set of libraries has bit i for library i.
enum TLibraryIndex : int {
    libAVCodec = 0,
    libAVDevice = 1,
    libAVFilter = 2,
    libAVFormat = 3,
    libAVUtil = 4,
    libSwScale = 5,
    libCRuntime = 6,
    libSDL = 7,
    libSwResample = 8,
    LibraryCount = 9
};

using TLibrarySet = std::uint16_t;

inline constexpr TLibrarySet LibraryBit(int index) {
    return static_cast<TLibrarySet>(1u << index);
}

// The converter's set: codec, filter, format, utility, scaling, C runtime,
// resampling.
inline constexpr TLibrarySet ConverterLibraries = 0x17D;
// The player's set: the converter's plus SDL.
inline constexpr TLibrarySet PlayerLibraries = 0x1FD;

// Per library: the loaded module and whether its table is bound.
struct TLibraryStatus {
    void* Handle = nullptr;    // dlopen handle, nullptr when not loaded
    void* Companion = nullptr; // libpostproc opened from the folder for libavfilter
    bool Bound = false;
};

// The single loader. Loading and unloading happen on the main thread; the
// tables are written only then and only read by other threads.
class TFFmpegLoader {
public:
    TFFmpegLoader();
    ~TFFmpegLoader();
    TFFmpegLoader(const TFFmpegLoader&) = delete;
    TFFmpegLoader& operator=(const TFFmpegLoader&) = delete;

    // The folder searched first; empty means the system's search only.
    void SetLibraryFolder(const std::string& folder);
    const std::string& GetLibraryFolder() const { return LibraryFolder; }
    // The text of the last failure.
    const std::string& GetLastError() const { return LastError; }

    // "libavcodec.so.59", ..., "libc.so.6", "libSDL2-2.0.so.0".
    std::string LibraryFileName(int index) const;

    bool LoadLibrary(int index);
    // Loads the set in dependency order; on the first failure unloads the
    // whole set. An empty set is an assertion failure.
    bool LoadLibraries(TLibrarySet set);
    bool IsLoaded(int index) const;
    bool AreLoaded(TLibrarySet set) const;
    void UnloadLibrary(int index);
    void UnloadLibraries(TLibrarySet set);

    // The module handle of a loaded library (nullptr when not loaded).
    void* LibraryHandle(int index) const;
    // The path the library was opened by (full path when it came from the
    // folder), empty when not loaded.
    const std::string& LibraryPath(int index) const;

private:
    bool OpenModule(int index);
    void BindTable(int index);
    void CheckVersion(int index) const;
    void AfterBind(int index);

    std::string LastError;
    std::string LibraryFolder;
    bool InstallLogOnUtility = true;
    TLibraryStatus Status[LibraryCount];
    std::string LoadedPath[LibraryCount];
};

// The single loader, created on first use.
TFFmpegLoader& FFmpegLoader();

// The process-wide codec lock: every open and close of a decoder or encoder
// and every stream-info probe (avformat_find_stream_info) holds it. A plain
// lock: nothing done while it is held takes it again. The library calls
// made under it reach our code only through the interrupt callbacks (which
// read one atomic flag), the file protocol's reads and the library log; a
// log handler that runs in the logging thread (TriggerEventInMainThread
// off) must therefore not open codecs or probe files itself.
std::mutex& CodecLock();
