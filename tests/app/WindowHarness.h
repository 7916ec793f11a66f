// What the window tests share: a home folder of their own with the settings
// and an output folder, recorded message boxes, opened folders and power-off
// requests, a main window shown offscreen, rows added through the file
// dialog's seam and the batch started with a click on Start.
#pragma once

#include "app/MainAdd.h"
#include "app/MainBatch.h"
#include "app/Shell.h"
#include "app/directory.h"
#include "app/winMain.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"
#include "media/MainThread.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TShownMessage {
    std::string Caption, Text;
    TMsgIcon Icon;
};

class TWindowHarness {
public:
    TWindowHarness() {
        qputenv("HOME", QByteArray::fromStdString(home_.path().string()));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Home("config")));
        SetMessageHandler([this](const std::string& caption, const std::string& text, TMsgIcon icon,
                                 TMsgButtons buttons) {
            Messages.push_back({caption, text, icon});
            return buttons == TMsgButtons::YesNo ? TMsgResult::Yes : TMsgResult::Ok;
        });
        SetUrlOpener([this](const std::string& url) { Opened.push_back(url); });
        TMainBatch::PowerOffCommand() = [this] { ++PowerOffs; };
        std::filesystem::create_directories(Home("media"));
        std::filesystem::create_directories(OutputFolder());
        Settings().WriteString("settings", "OutPutDir", OutputFolder());
    }
    ~TWindowHarness() {
        SetMessageHandler(nullptr);
        SetUrlOpener(nullptr);
        TMainBatch::PowerOffCommand() = nullptr;
    }
    TWindowHarness(const TWindowHarness&) = delete;
    TWindowHarness& operator=(const TWindowHarness&) = delete;

    std::string Home(const std::string& name) const { return home_.file(name); }
    std::string Media(const std::string& name) const { return Home("media/" + name); }
    std::string OutputFolder() const { return Home("out"); }
    std::string Output(const std::string& name) const { return Home("out/" + name); }
    TIniFile Settings() const { return TIniFile(Home("config/vantrel/vantrel.ini")); }
    void ChooseFormat(int code) const {
        Settings().WriteString("settings", "FormatCode", std::to_string(code));
    }

    // The two sources most window tests add, made in the media folder: a
    // 2 s 160x120 MPEG-4 + MP2 clip and a 1 s tone; empty when ffmpeg fails.
    std::string MakeClip(const std::string& name) const {
        return MadeMedia(name, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=f=440 "
                               "-t 2 -c:v mpeg4 -c:a mp2 -shortest");
    }
    std::string MakeTone(const std::string& name) const {
        return MadeMedia(name, "-f lavfi -i sine=f=330 -t 1 -c:a pcm_s16le");
    }

    // A 40 x 30 one-colour bitmap for image layers; empty when ffmpeg fails.
    std::string MakeLogo(const std::string& name) const {
        return MadeMedia(name, "-f lavfi -i color=c=0x30e0a0:s=40x30 -frames:v 1 -pix_fmt bgr24");
    }

    // A first window writes the formats' settings; then MPEG-4 is chosen at
    // the source's size and rate, with a bit rate far above what the small
    // test pictures need.
    void ChooseSourceSizedMpeg4() const {
        auto window = NewWindow();
        Dispose(window);
        const std::string section = "formatInfo102";
        Settings().WriteString(section, "paraVideoSize", "as source");
        Settings().WriteString(section, "paraFrameRate", "as source");
        Settings().WriteString(section, "paraVideoBitRate", "8000");
        ChooseFormat(102);
    }

    // Lets the window's timers and the player's hand-overs run for a while.
    static void RunEvents(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            ServiceMainThread(std::chrono::milliseconds(5));
        }
    }

    // Runs the events until `done` holds; false when `ms` pass first.
    static bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > ms) return false;
            RunEvents(20);
        }
        return true;
    }

    std::unique_ptr<TfrmMain> NewWindow() const {
        auto window = std::make_unique<TfrmMain>();
        window->show();
        QCoreApplication::processEvents();
        return window;
    }

    // Closes the window for good (the exit question is answered Yes).
    static void Dispose(std::unique_ptr<TfrmMain>& window) {
        window->close();
        window.reset();
    }

    // Adds files as if they were picked in the open dialog.
    static void AddFiles(TfrmMain& window, const std::vector<std::string>& files) {
        window.Add().SetFilesChooser([files] { return files; });
        QTest::mouseClick(window.btnAdd, Qt::LeftButton);
    }

    // Presses Start; returns when the modal progress window has closed (or
    // the start failed and the error reporter has shown why); false when the
    // batch did not end by the deadline (the test has failed then).
    static bool PressStart(TfrmMain& window) {
        QTest::mouseClick(window.btnStartBelow, Qt::LeftButton);
        return WaitForBatchEnd(window);
    }

    // Runs the reports still queued until the batch-end report has given
    // the list its buttons back. A batch that has not ended by the deadline
    // fails the test (false) instead of hanging it.
    static bool WaitForBatchEnd(TfrmMain& window,
                                std::chrono::seconds limit = std::chrono::seconds(120)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!window.btnAdd->isEnabled()) {
            if (std::chrono::steady_clock::now() >= until) {
                QTest::qFail("The batch did not end in time", __FILE__, __LINE__);
                return false;
            }
            ServiceMainThread(std::chrono::milliseconds(20));
            QCoreApplication::processEvents();
        }
        return true;
    }

    // Presses a Browse button and runs `act` on the folder chooser it shows
    // modally; a chooser `act` leaves open is cancelled. False when no
    // chooser was shown.
    static bool WithFolderChooser(TfrmMain& window, QAbstractButton* browse,
                                  const std::function<void(TfmDirectory&)>& act) {
        bool shown = false;
        QTimer::singleShot(0, &window, [&] {
            TfmDirectory* chooser = window.fmDirectory;
            shown = chooser && chooser->isVisible();
            if (!shown) return;
            act(*chooser);
            if (chooser->isVisible()) chooser->btnCancelClick();
        });
        browse->click();
        return shown;
    }

    // The first message shown, for failure reports.
    const char* FirstMessage() const {
        return Messages.empty() ? "" : Messages.front().Text.c_str();
    }

    // The one message shown since Messages was cleared; nullptr, with the
    // test failed, unless exactly one came, under `caption` with `icon`.
    const TShownMessage* OnlyMessage(const std::string& caption, TMsgIcon icon) const {
        std::string problem;
        if (Messages.size() != 1)
            problem = std::to_string(Messages.size()) + " messages instead of one";
        else if (Messages[0].Caption != caption || Messages[0].Icon != icon)
            problem = "the message came under \"" + Messages[0].Caption + "\" with icon " +
                      std::to_string(static_cast<int>(Messages[0].Icon));
        if (problem.empty()) return &Messages[0];
        QTest::qFail((problem + ": " + FirstMessage()).c_str(), __FILE__, __LINE__);
        return nullptr;
    }

    std::vector<TShownMessage> Messages;
    std::vector<std::string> Opened;
    int PowerOffs = 0;

private:
    std::string MadeMedia(const std::string& name, const std::string& arguments) const {
        const std::string path = Media(name);
        return testsupport::MakeMedia(path, arguments) ? path : std::string();
    }

    testsupport::TempDir home_;
};
