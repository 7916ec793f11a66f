// vantrel-convert: the command-line client of the media core.
//
//   vantrel-convert --info FILE   describe FILE (exit status 0), or print the
//                                 loader's or the probe's error (exit 1)
//   vantrel-convert --format CODE ...                        (FormatCommand.h)
//   vantrel-convert [options] -i INPUT ... [options] OUTPUT   (ConvertCommand.h)
//   vantrel-convert --help | -h | --list-formats                (ToolHelp.h)
#include "ConvertCommand.h"
#include "FormatCommand.h"
#include "ToolHelp.h"
#include "core/GlobalUnit.h"
#include "media/FFmpegLoader.h"
#include "media/MainThread.h"
#include "probe/AVProbe.h"

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: vantrel-convert --info FILE\n"
                 "       vantrel-convert --format CODE --print-options FILE [edits]\n"
                 "       vantrel-convert --format CODE [--output-dir DIR] [--jobs N] [--json] "
                 "[edits] FILE...\n"
                 "       vantrel-convert [options] -i INPUT ... [options] OUTPUT\n"
                 "       vantrel-convert --help | --list-formats\n");
}

// "--help", "-h" and "--list-formats" print to stdout; false for any other
// first argument.
bool ExplainItself(const std::string& first, int& status) {
    if (first == "--help" || first == "-h") {
        std::fputs(ConvertHelpText().c_str(), stdout);
    } else if (first == "--list-formats") {
        TGlobalObject g;
        InitGlobalObject(g);
        std::fputs(FormatListText(g).c_str(), stdout);
    } else {
        return false;
    }
    status = std::fflush(stdout) == 0 ? 0 : 1;
    return true;
}

bool LoadMediaLibraries() {
    if (FFmpegLoader().LoadLibraries(ConverterLibraries)) return true;
    std::fprintf(stderr, "%s\n", FFmpegLoader().GetLastError().c_str());
    return false;
}

int ShowInfo(const std::string& fileName) {
    if (!LoadMediaLibraries()) return 1;
    TAVProbe probe;
    if (!probe.LoadFile(fileName)) {
        std::fprintf(stderr, "%s\n", probe.LastErrMsg().c_str());
        return 1;
    }
    std::fputs(probe.GetFormatInfoText().c_str(), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_NUMERIC, "C"); // numbers with a "." whatever the user's locale
    SetMainThread();
    if (int status = 0; argc >= 2 && ExplainItself(argv[1], status)) return status;
    if (argc >= 2 && std::string(argv[1]) == "--format")
        return RunFormatCommand(std::vector<std::string>(argv + 2, argv + argc));
    if (argc >= 2 && std::string(argv[1]) != "--info") {
        try {
            return RunConvertCommand(std::vector<std::string>(argv + 1, argv + argc));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    if (argc != 3 || std::string(argv[1]) != "--info") {
        PrintUsage();
        return 2;
    }
    try {
        return ShowInfo(argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
