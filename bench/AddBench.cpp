// Adds many one-second files to the main window's list the way Add does and
// reports how long it took until the last row appeared and the longest time
// the window's event loop did not run (measured with a 1 ms timer).
//
//   vantrel-add-bench [COUNT]        (default 1000; needs ffmpeg on the PATH)
#include "app/Shell.h"
#include "app/MainAdd.h"
#include "app/winMain.h"
#include "core/AddQueue.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int Count(int argc, char** argv) {
    int count = 1000;
    if (argc > 1)
        std::from_chars(argv[1], argv[1] + std::char_traits<char>::length(argv[1]), count);
    return count > 0 ? count : 1000;
}

// One generated file, copied `count` times.
std::vector<std::string> MakeFiles(const fs::path& folder, int count) {
    fs::create_directories(folder);
    const fs::path first = folder / "clip_0.mp4";
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=size=160x120:rate=25 "
                                "-f lavfi -i sine=f=440 -t 1 -c:v mpeg4 -c:a aac -shortest '" +
                                first.string() + "'";
    if (std::system(command.c_str()) != 0) return {};
    std::vector<std::string> files{first.string()};
    for (int i = 1; i < count; ++i) {
        const fs::path copy = folder / ("clip_" + std::to_string(i) + ".mp4");
        fs::copy_file(first, copy, fs::copy_options::overwrite_existing);
        files.push_back(copy.string());
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_NUMERIC, "C");
    const int count = Count(argc, argv);
    char pattern[] = "/tmp/vantrel-add-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path home(pattern);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::vector<std::string> files = MakeFiles(home / "media", count);
    if (files.empty()) {
        std::fprintf(stderr, "ffmpeg could not make the test file\n");
        return 1;
    }
    fs::create_directories(home / "out");
    fs::create_directories(home / "config/vantrel");
    TIniFile((home / "config/vantrel/vantrel.ini").string())
        .WriteString("settings", "OutPutDir", (home / "out").string());
    int messages = 0;
    SetMessageHandler([&](const std::string&, const std::string& text, TMsgIcon, TMsgButtons) {
        ++messages;
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return TMsgResult::Yes;
    });

    auto window = std::make_unique<TfrmMain>();
    window->show();
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    qint64 lastTick = -1, longestStall = 0, lastRowAt = -1;
    QTimer meter;
    meter.setTimerType(Qt::PreciseTimer);
    meter.setInterval(1);
    QObject::connect(&meter, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0) longestStall = std::max(longestStall, now - lastTick);
        lastTick = now;
    });
    QObject::connect(window->lvFIles->model(), &QAbstractItemModel::rowsInserted, [&] {
        if (window->lvFIles->RowCount() == count) lastRowAt = clock.nsecsElapsed();
    });
    window->Add().SetFilesChooser([&] { return files; });
    clock.start();
    meter.start();
    window->btnAdd->click();
    const qint64 endedAt = clock.nsecsElapsed();
    meter.stop();

    std::printf("files %d, worker threads %d, rows %d, messages %d\n", count,
                TAddQueue::DefaultThreadCount(), window->lvFIles->RowCount(), messages);
    std::printf("time to last row: %.3f s (add ended after %.3f s)\n",
                lastRowAt < 0 ? -1.0 : lastRowAt / 1e9, endedAt / 1e9);
    std::printf("longest event-loop stall: %.1f ms\n", longestStall / 1e6);
    SetMessageHandler(nullptr);
    window.reset();
    fs::remove_all(home);
    return window || lastRowAt < 0 ? 1 : 0;
}
