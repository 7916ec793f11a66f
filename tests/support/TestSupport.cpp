#include "support/TestSupport.h"

#include <array>
#include <chrono>
#include <fstream>
#include <sys/syscall.h>
#include <thread>
#include <cstdio>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
    std::random_device rd;
    std::mt19937_64 gen(rd());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("vantrel-test-" + std::to_string(gen() % 100000000));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore permissions that a test may have taken away, then remove.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

CommandResult RunCommand(const std::string& commandLine) {
    CommandResult result;
    std::string full = commandLine + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool RunFfmpeg(const std::string& args) {
    CommandResult r = RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + args);
    if (r.exitCode != 0) std::cerr << "ffmpeg " << args << " failed:\n" << r.output << "\n";
    return r.exitCode == 0;
}

bool MakeMedia(const std::string& file, const std::string& inputs) {
    return RunFfmpeg(inputs + " " + ShellQuote(file));
}

std::vector<std::string> ProbeValues(const std::string& file, const std::string& entries,
                                     const std::string& select) {
    std::string cmd = "ffprobe -v error ";
    if (!select.empty()) cmd += "-select_streams " + select + " ";
    cmd +=
        "-show_entries " + entries + " -of default=noprint_wrappers=1:nokey=1 " + ShellQuote(file);
    CommandResult r = RunCommand(cmd);
    std::vector<std::string> lines;
    if (r.exitCode != 0) return lines;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string ProbeValue(const std::string& file, const std::string& entries,
                       const std::string& select) {
    auto lines = ProbeValues(file, entries, select);
    return lines.empty() ? std::string() : lines.front();
}

bool MakeOneSecondAvi(const std::string& file) {
    return MakeMedia(file, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                           "sine=sample_rate=44100 -ac 2 -t 1 -c:v mpeg4 -c:a mp2");
}

bool MakeTwoSecondClip(const std::string& file) {
    return MakeMedia(file, "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
                           "sine=frequency=440:sample_rate=44100 -ac 2 -t 2 -c:v mpeg4 -q:v 3 "
                           "-c:a pcm_s16le");
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double DurationSeconds(const std::string& file) {
    const std::string text = ProbeValue(file, "format=duration");
    return text.empty() ? -1.0 : std::strtod(text.c_str(), nullptr);
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    return names;
}

std::vector<std::string> PartFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".part") names.push_back(entry.path().string());
    return names;
}

fs::path ExecutableFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

namespace {

// The number of the system call the thread is in, -1 when it runs or the
// file cannot be read.
long CurrentSystemCall(int pid, int tid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return in >> number ? number : -1;
}

} // namespace

bool WaitsToOpen(int pid, int tid) {
    const auto waiting = [](long call) {
#ifdef SYS_open // not on every architecture
        if (call == SYS_open) return true;
#endif
        return call == SYS_openat || call == SYS_nanosleep || call == SYS_clock_nanosleep;
    };
    const long first = CurrentSystemCall(pid, tid);
    if (!waiting(first)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return CurrentSystemCall(pid, tid) == first;
}

} // namespace testsupport
