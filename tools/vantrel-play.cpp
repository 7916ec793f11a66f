// vantrel-play: plays a media file in a window of its own, or writes one
// picture of it as a BMP file without a window.
//
//   vantrel-play FILE
//       space pauses and resumes, left and right seek 5 s, period steps one
//       frame, m mutes, q or closing the window quits.
//   vantrel-play --snapshot OUT.bmp [--seek SECONDS] FILE
//       opens FILE without a window, seeks with wait, writes the current
//       picture as a 24-bit BMP; exit status 0, or 1 with the reason.
//   vantrel-play --help (or -h)
//       the usage and the keys on stdout, exit status 0.
#include "app/PlayWindow.h"
#include "QuitRequest.h"
#include "app/MainThreadPump.h"
#include "media/FFmpegLoader.h"
#include "media/MainThread.h"
#include "media/MainThreadWait.h"
#include "player/FFPlay.h"

#include <QApplication>

#include <charconv>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

void PrintUsage(std::FILE* to) {
    std::fprintf(to, "usage: vantrel-play FILE\n"
                     "       vantrel-play --snapshot OUT.bmp [--seek SECONDS] FILE\n"
                     "       vantrel-play --help\n");
}

// The usage with what each form does and the keys of the window.
int PrintHelp() {
    PrintUsage(stdout);
    std::fputs("\n"
               "  FILE                   play FILE in a window of its own\n"
               "  --snapshot OUT.bmp     write one picture of FILE as a 24-bit BMP, no window\n"
               "  --seek SECONDS         the picture at SECONDS (for example 1.5) instead of\n"
               "                         the first one\n"
               "\n"
               "Keys while playing: space pauses and resumes, Left and Right seek 5 s back\n"
               "and forward, period steps one frame, m mutes, q or closing the window quits.\n",
               stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

std::string LibraryFolder() {
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("LibAV") : (self.parent_path() / "LibAV").string();
}

bool LoadLibraries(TFFPlayer& player) {
    if (player.LibrariesLoaded() || player.LoadLibraries(LibraryFolder())) return true;
    std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
    return false;
}

void PutLE(std::FILE* file, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        std::fputc(static_cast<int>((value >> (8 * i)) & 0xFF), file);
}

// A 24-bit bottom-up BMP of `bitmap`.
bool WriteBmp(const std::string& path, const Bitmap24& bitmap) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    std::uint32_t imageSize = static_cast<std::uint32_t>(bitmap.Stride) * bitmap.Height;
    std::fputs("BM", file);
    PutLE(file, 54 + imageSize, 4);
    PutLE(file, 0, 4);
    PutLE(file, 54, 4);
    PutLE(file, 40, 4);
    PutLE(file, static_cast<std::uint32_t>(bitmap.Width), 4);
    PutLE(file, static_cast<std::uint32_t>(bitmap.Height), 4);
    PutLE(file, 1, 2);
    PutLE(file, 24, 2);
    PutLE(file, 0, 4);
    PutLE(file, imageSize, 4);
    PutLE(file, 2835, 4);
    PutLE(file, 2835, 4);
    PutLE(file, 0, 4);
    PutLE(file, 0, 4);
    for (int y = bitmap.Height - 1; y >= 0; --y)
        std::fwrite(bitmap.Row(y), 1, static_cast<std::size_t>(bitmap.Stride), file);
    return std::fclose(file) == 0;
}

int Snapshot(const std::string& output, double seconds, const std::string& file) {
    SetMainThread();
    TFFPlayer player;
    if (!LoadLibraries(player)) return 1;
    player.DisableAudio = true;
    if (!player.Open(file, nullptr, true)) {
        std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
        return 1;
    }
    if (!ServeMainThreadUntil([&] { return player.ShownPictures > 0 || !player.FileOpen(); },
                              std::chrono::seconds(10))) {
        std::fprintf(stderr, "%s: no picture to show\n", file.c_str());
        return 1;
    }
    if (seconds > 0) {
        int shown = player.ShownPictures;
        player.Seek(0, true, static_cast<std::int64_t>(seconds * 1000000.0));
        if (!ServeMainThreadUntil(
                [&] { return player.ShownPictures > shown || !player.FileOpen(); },
                std::chrono::seconds(10))) {
            std::fprintf(stderr, "%s: no picture at %g seconds\n", file.c_str(), seconds);
            return 1;
        }
    }
    const Bitmap24& bitmap = player.CurrentFrame();
    if (bitmap.Width <= 0 || bitmap.Height <= 0) {
        std::fprintf(stderr, "%s: no picture to write\n", file.c_str());
        return 1;
    }
    if (!WriteBmp(output, bitmap)) {
        std::fprintf(stderr, "%s: cannot write the picture\n", output.c_str());
        return 1;
    }
    player.Close(true);
    return 0;
}

// Plays `file` until it ends or the user quits (q, closing the window,
// SIGINT, SIGTERM), which may come at any moment, also while it opens.
int Play(int argc, char** argv, const std::string& file) {
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    InstallMainThreadPump();
    TFFPlayer player;
    TPlayWindow window(player);
    window.OnClose = [] { quitrequest::Request(0); };
    quitrequest::Install([&window] {
        if (window.isVisible()) window.close();
        QApplication::quit();
    });
    if (!LoadLibraries(player)) return 1;
    window.resize(640, 480);
    window.show();
    player.OnState = [&window](TCustomPlayer*, const TPlayState state) {
        if (state == psStop) window.close();
    };
    const bool opened = player.Open(file, &window, false);
    if (quitrequest::Requested()) {
        // Asked to quit while the file opened: the event loop's quit came
        // before the loop ran.
        player.OnState = nullptr;
        player.Close(true);
        return quitrequest::Status();
    }
    if (!opened) {
        std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
        return 1;
    }
    int result = application.exec();
    player.OnState = nullptr;
    player.Close(true);
    return quitrequest::Requested() ? quitrequest::Status() : result;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_NUMERIC, "C");
    std::string output, file;
    double seconds = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return PrintHelp();
        if (arg == "--snapshot" && i + 1 < argc) {
            output = argv[++i];
        } else if (arg == "--seek" && i + 1 < argc) {
            std::string text = argv[++i];
            auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
            if (error != std::errc() || end != text.data() + text.size() || seconds < 0) {
                std::fprintf(stderr, "invalid seek time: %s\n", text.c_str());
                return 1;
            }
        } else if (file.empty() && (arg.empty() || arg[0] != '-')) {
            file = arg;
        } else {
            PrintUsage(stderr);
            return 1;
        }
    }
    if (file.empty()) {
        PrintUsage(stderr);
        return 1;
    }
    if (!output.empty()) return Snapshot(output, seconds, file);
    return Play(argc, argv, file);
}
