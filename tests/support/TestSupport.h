// Helpers shared by the test programs: temporary folders, running the
// command-line oracles (ffmpeg, ffprobe) and reading their answers.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Sets an environment variable for its lifetime.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::string& value) : FName(name) {
        if (const char* old = std::getenv(name)) FOld = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~TScopedEnv() {
        if (FOld)
            ::setenv(FName, FOld->c_str(), 1);
        else
            ::unsetenv(FName);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* FName;
    std::optional<std::string> FOld;
};

// Result of a command run through the shell.
struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output and standard error together
};

// Runs a shell command line and collects what it prints.
CommandResult RunCommand(const std::string& commandLine);

// Quotes a text for the shell.
std::string ShellQuote(const std::string& text);

// The whole content of a file; empty when it cannot be read.
std::string ReadFileText(const std::string& path);

// Runs `ffmpeg -hide_banner -loglevel error -y <args>`; true on exit status 0.
bool RunFfmpeg(const std::string& args);

// Makes a small test file with lavfi sources: `inputs` are the lavfi inputs
// and codec options, for example
//   "-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 -c:v mpeg4".
// Returns false (and prints the command's output) when ffmpeg fails.
bool MakeMedia(const std::string& file, const std::string& inputs);

// One second of MPEG-4 pictures (160x120, 25 fps) and a stereo MP2 tone in
// an AVI file, for the command-line tools; false as MakeMedia.
bool MakeOneSecondAvi(const std::string& file);

// Two seconds of MPEG-4 pictures (320x240, 25 fps, a moving test card) and
// a stereo PCM tone (440 Hz, 44.1 kHz), for conversions that exercise every
// stage of the converter; false as MakeMedia.
bool MakeTwoSecondClip(const std::string& file);

// One value from ffprobe: `entries` as in -show_entries, for example
// "stream=codec_name" with `select` "v:0". Empty when ffprobe fails.
std::string ProbeValue(const std::string& file, const std::string& entries,
                       const std::string& select = "");

// Several values, one per line of ffprobe's answer.
std::vector<std::string> ProbeValues(const std::string& file, const std::string& entries,
                                     const std::string& select = "");

// Where the tests find the running program's build folder (for example to
// place a "LibAV" folder beside a test executable).
std::filesystem::path ExecutableFolder();

// The container's duration of a media file as ffprobe reads it; -1 when it
// gives none (no such file, not a media file).
double DurationSeconds(const std::string& file);

// The names (without the folder) of what `dir` holds, in the folder's order.
std::vector<std::string> FilesIn(const std::string& dir);

// The temporary files of a conversion (".part") in `dir`.
std::vector<std::string> PartFiles(const std::string& dir);

// Whether thread `tid` of process `pid` waits in the kernel to open a file
// or sleeps between tries of one: the system call it is in (an open or a
// sleep) is the same at two looks 50 ms apart. For tests that act once a
// program waits for a named pipe's other end.
bool WaitsToOpen(int pid, int tid);

} // namespace testsupport
