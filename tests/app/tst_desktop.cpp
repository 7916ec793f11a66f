// The window on the desktop: files on the command line, one window per
// user, the keys, the tool tips and the open dialog.
#include "app/MainAdd.h"
#include "WindowHarness.h"

#include "app/CommandLine.h"
#include "app/OpenDialog.h"
#include "app/SingleInstance.h"
#include "core/GlobalUnit.h"
#include "media/DemuxerExtensions.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QHelpEvent>
#include <QMimeDatabase>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QToolTip>
#include <future>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kDeadlineMs = 30000;

std::vector<std::string> Paths(const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& f : files)
        paths.push_back(f.toStdString());
    return paths;
}

QString RowCaption(TfrmMain& window, int row) {
    return QString::fromStdString(window.lvFIles->Row(row)->Record.SourceFile);
}

// A socket file nobody listens on, as a crashed instance leaves it.
bool MakeStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) return false;
    std::copy(name.begin(), name.end(), address.sun_path);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFile::exists(path);
}

// Calls `answer` with the modal file dialog on every tick until it says it
// is done; when it is not done by the deadline, rejects whatever dialog is
// modal, so that the test fails instead of hanging.
void AnswerFileDialog(std::function<bool(QFileDialog*)> answer) {
    auto* poll = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, started, answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        bool done = dialog && answer(dialog);
        if (!done && started->elapsed() > kDeadlineMs) {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                modal->reject();
            done = true;
        }
        if (done) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(50);
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> harness;
    std::unique_ptr<TfrmMain> window;
    std::string clip, tone;

    // A folder only this user may enter, for the instance socket.
    QString PrivateRuntimeFolder() {
        const std::string folder = harness->Home("run");
        std::filesystem::create_directories(folder);
        ::chmod(folder.c_str(), 0700);
        return QString::fromStdString(folder);
    }

    bool WaitForRows(int count) {
        return QTest::qWaitFor([&] { return window->lvFIles->RowCount() == count; }, kDeadlineMs);
    }

    void ActivateWindow() {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    QByteArray runtimeDir_;

private slots:
    void initTestCase() { runtimeDir_ = qgetenv("XDG_RUNTIME_DIR"); }

    void init() {
        harness = std::make_unique<TWindowHarness>();
        clip = harness->MakeClip("clip.avi");
        tone = harness->MakeTone("tone.wav");
        QVERIFY(!clip.empty() && !tone.empty());
        window = harness->NewWindow();
    }

    void cleanup() {
        if (window) TWindowHarness::Dispose(window);
        harness.reset();
        if (runtimeDir_.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", runtimeDir_);
    }

    void commandLineGivesAbsoluteFilesAndOptions() {
        const TCommandLine line =
            ParseCommandLine({"vantrel", "clip.avi", "../up/x.mp4", "file:///tmp/a%20b.mkv",
                              "/abs/y.wav", "--", "--version", "-odd.mp3"},
                             "/home/me/media");
        QCOMPARE(line.Files, QStringList({"/home/me/media/clip.avi", "/home/me/up/x.mp4",
                                          "/tmp/a b.mkv", "/abs/y.wav", "/home/me/media/--version",
                                          "/home/me/media/-odd.mp3"}));
        QVERIFY(!line.Version && !line.Help && line.Error.isEmpty());
        const TCommandLine options = ParseCommandLine({"vantrel", "--help", "--version"}, "/");
        QVERIFY(options.Help && options.Version && options.Files.isEmpty());
        const TCommandLine wrong = ParseCommandLine({"vantrel", "-x", "a.mp4"}, "/");
        QVERIFY(wrong.Error.startsWith("Unknown option: -x"));
    }

    // As `vantrel clip.avi media/tone.wav clip.avi` started in the home folder.
    void filesOnTheCommandLineBecomeRowsAsTheAddButtonMakesThem() {
        const QString home = QString::fromStdString(harness->Home(""));
        const TCommandLine line = ParseCommandLine(
            {"vantrel", "media/clip.avi", "media/tone.wav", "media/clip.avi", "media/missing.avi"},
            home);
        window->OpenFiles(Paths(line.Files));
        QVERIFY(WaitForRows(2));
        QCOMPARE(RowCaption(*window, 0), QString::fromStdString(clip));
        QCOMPARE(RowCaption(*window, 1), QString::fromStdString(tone));
        QCOMPARE(window->lvFIles->Row(0)->Record.DestinationFile,
                 harness->Output("clip_(new).mp4"));
        QCOMPARE(window->lvFIles->Row(0)->Record.Duration, 2);
        // The file that cannot be opened is named, the others are added.
        QCOMPARE(harness->Messages.size(), size_t(1));
        QVERIFY(harness->Messages[0].Text.find("missing.avi") != std::string::npos);
        // Handed over again: a row already in the list is not added twice.
        const std::string other = harness->MakeTone("other.wav");
        window->OpenFiles({tone, other});
        QVERIFY(WaitForRows(3));
        QCOMPARE(RowCaption(*window, 2), QString::fromStdString(other));
    }

    void filesWaitWhileADialogIsOpen() {
        QDialog dialog(window.get());
        auto* retry = window->findChild<QTimer*>("pendingFilesTimer");
        QTimer::singleShot(0, &dialog, [&] {
            window->OpenFiles({tone});
            retry = window->findChild<QTimer*>("pendingFilesTimer");
            // The first try found the dialog open and tries again later.
            QVERIFY(retry &&
                    QTest::qWaitFor([&] { return retry->interval() == 250; }, kDeadlineMs));
            QCOMPARE(window->lvFIles->RowCount(), 0);
            dialog.reject();
        });
        dialog.exec();
        QVERIFY(retry);
        QVERIFY(WaitForRows(1));
    }

    // The program started a second time hands its file to this window and ends.
    void aSecondStartHandsItsFilesOver() {
        const QString runtime = PrivateRuntimeFolder();
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        TSingleInstance instance;
        QCOMPARE(instance.SocketName(), runtime + "/vantrel-instance");
        QVERIFY2(instance.Listen(), qPrintable(instance.ErrorText()));
        connect(&instance, &TSingleInstance::FilesReceived, window.get(),
                [this](const QStringList& files) { window->OpenFiles(Paths(files)); });
        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        second.setProcessEnvironment(environment);
        second.setWorkingDirectory(QString::fromStdString(harness->Home("media")));
        second.start(VANTREL_EXE, {"tone.wav"});
        QVERIFY(second.waitForStarted(kDeadlineMs));
        QVERIFY2(
            QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, kDeadlineMs),
            "the second start did not end");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(WaitForRows(1));
        QCOMPARE(RowCaption(*window, 0), QString::fromStdString(tone));
    }

    void aSocketLeftByACrashDoesNotBlockTheStart() {
        const QString name = PrivateRuntimeFolder() + "/stale";
        QVERIFY(MakeStaleSocket(name));
        TSingleInstance first(name);
        // Nobody answers on the stale socket: nothing to hand over to.
        QVERIFY(!first.HandOver({"/x.mp4"}, 500));
        QVERIFY2(first.Listen(), qPrintable(first.ErrorText()));
        QSignalSpy received(&first, &TSingleInstance::FilesReceived);
        // A later start sees the first one answering and hands over.
        TSingleInstance later(name);
        QVERIFY(!later.Listen());
        QVERIFY(later.ErrorText().isEmpty());
        auto handed = std::async(std::launch::async, [&later] {
            return later.HandOver({"/media/a.mp4", "/media/b c.mkv"});
        });
        QVERIFY(QTest::qWaitFor(
            [&] { return handed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            kDeadlineMs));
        QVERIFY(handed.get());
        QCOMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toStringList(), QStringList({"/media/a.mp4", "/media/b c.mkv"}));
    }

    void theSocketStaysInAFolderOfTheUsersOwn() {
        const std::string open = harness->Home("open");
        std::filesystem::create_directories(open);
        ::chmod(open.c_str(), 0755);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(open));
        const QString name = TSingleInstance::DefaultSocketName();
        QVERIFY(!name.startsWith(QString::fromStdString(open)));
        QVERIFY(name.endsWith("/vantrel-instance"));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(name).path()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 077, 0u);
        QCOMPARE(info.st_uid, ::geteuid());
    }

    void keysAddSelectRemoveAndHelp() {
        ActivateWindow();
        window->Add().SetFilesChooser([this] { return std::vector<std::string>{clip, tone}; });
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QVERIFY(WaitForRows(2));
        QCOMPARE(window->lvFIles->selectedItems().size(), 1);
        QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(window->lvFIles->selectedItems().size(), 2);
        QTest::keyClick(window.get(), Qt::Key_Delete);
        QCOMPARE(window->lvFIles->RowCount(), 0);
        // One selected row: Delete removes it as Remove does.
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QVERIFY(WaitForRows(2));
        window->lvFIles->SelectRow(1);
        QTest::keyClick(window.get(), Qt::Key_Delete);
        QCOMPARE(window->lvFIles->RowCount(), 1);
        QCOMPARE(RowCaption(*window, 0), QString::fromStdString(clip));
        QCOMPARE(window->lvFIles->SelectedRow(), 0);
        QTest::keyClick(window.get(), Qt::Key_F1);
        QCOMPARE(harness->Opened, std::vector<std::string>{kVantrelHelpPage});
    }

    void ctrlReturnStartsTheBatch() {
        ActivateWindow();
        TWindowHarness::AddFiles(*window, {tone});
        QVERIFY(WaitForRows(1));
        QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(TWindowHarness::WaitForBatchEnd(*window));
        const std::string output = window->lvFIles->Row(0)->Record.DestinationFile;
        QVERIFY2(std::filesystem::exists(output), output.c_str());
        QVERIFY(!testsupport::ProbeValue(output, "stream=codec_name", "a:0").empty());
    }

    void ctrlQAsksTheExitQuestion() {
        ActivateWindow();
        {
            TScopedMessageHandler no(
                [](const std::string&, const std::string& text, TMsgIcon, TMsgButtons) {
                    return text == "Do you really want to exit?" ? TMsgResult::No : TMsgResult::Ok;
                });
            QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
            QVERIFY(window->isVisible());
        }
        harness->Messages.clear();
        QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!window->isVisible());
        QCOMPARE(harness->Messages.size(), size_t(1));
        QCOMPARE(harness->Messages[0].Text, std::string("Do you really want to exit?"));
    }

    void menusShowTheKeysAndToolButtonsHaveTips() {
        const auto key = [](TPopupMenu* menu, const QString& text) {
            for (QAction* a : menu->actions())
                if (a->text() == text) return a->shortcut();
            return QKeySequence();
        };
        QCOMPARE(key(window->suiPopupMenuFile, "&Add"), QKeySequence("Ctrl+O"));
        QCOMPARE(key(window->suiPopupMenuFile, "&Remove"), QKeySequence(Qt::Key_Delete));
        QCOMPARE(key(window->suiPopupMenuFile, "&Start"), QKeySequence("Ctrl+Return"));
        QCOMPARE(key(window->suiPopupMenuFile, "&Exit"), QKeySequence("Ctrl+Q"));
        QCOMPARE(key(window->suiPopupMenuEdit, "&Add"), QKeySequence("Ctrl+O"));
        QCOMPARE(key(window->suiPopupMenuHelp, "&Help"), QKeySequence(Qt::Key_F1));
        for (skin::TImageButton* b : {window->btnAdd, window->btnRemove, window->btnClear,
                                      window->btnSettings, window->btnEdit, window->btnStart}) {
            QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName()));
            QCOMPARE(b->accessibleName(), b->text());
        }
        QVERIFY(window->btnAdd->toolTip().contains("Ctrl+O"));
    }

    void aCutOffPathShowsWholeInAToolTip() {
        const std::string deep = harness->Home(std::string(90, 'd'));
        std::filesystem::create_directories(deep);
        const std::string longTone = deep + "/tone.wav";
        std::filesystem::copy_file(tone, longTone);
        TWindowHarness::AddFiles(*window, {longTone});
        QVERIFY(WaitForRows(1));
        TFilesList* list = window->lvFIles;
        const QModelIndex source = list->model()->index(0, colSource);
        const QRect cell = list->visualRect(source);
        QHelpEvent help(QEvent::ToolTip, cell.center(),
                        list->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(list->viewport(), &help);
        QCOMPARE(QToolTip::text(), QString::fromStdString(longTone));
        // A text that fits has no tip.
        QStyleOptionViewItem option;
        option.initFrom(list);
        option.rect = list->visualRect(list->model()->index(0, colLength));
        QCOMPARE(TFilesRowDelegate::CutOffText(option, list->model()->index(0, colLength)),
                 QString());
        QToolTip::hideText();
    }

    void openDialogListsWhatTheLibrariesRead() {
        const QStringList entries = OpenDialogFilter(ReadableMediaExtensions()).split(";;");
        QVERIFY(entries[0].startsWith("All supported files ("));
        for (const char* pattern : {"*.webm", "*.mts", "*.m2ts", "*.opus", "*.m4b", "*.mka",
                                    "*.mp4", "*.MP4", "*.wav", "*.mpg"})
            QVERIFY2(entries[0].contains(QString(" ") + pattern) ||
                         entries[0].contains(QString("(") + pattern),
                     pattern);
        for (const char* notMedia : {"*.srt", "*.vtt", "*.txt", "*.nfo", "*.sub"})
            QVERIFY2(!entries[0].contains(QString(notMedia) + " "), notMedia);
        QVERIFY(entries[1].startsWith("All Supported Video Formats (*.avi *.AVI "));
        QCOMPARE(entries.last(), QString("All files (*.*) (*.*)"));
        QCOMPARE(entries.size(), 37);
    }

    void openDialogStartsInTheFolderUsedLast() {
        const std::string settings = window->Global().SettingsFile();
        const QString wanted = QString::fromStdString(tone);
        AnswerFileDialog([wanted](QFileDialog* dialog) {
            // Typed as a user would; the dialog's own check of the name runs
            // on accepting.
            auto* names = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!names) return false;
            names->setText(wanted);
            QMetaObject::invokeMethod(dialog, "accept");
            return true;
        });
        QCOMPARE(ChooseFilesToOpen(window.get(), settings), std::vector<std::string>{tone});
        const std::string folder = std::filesystem::path(tone).parent_path().string();
        QCOMPARE(TIniFile(settings).ReadString("settings", kLastOpenFolderKey, ""), folder);
        QString shownFolder, dialogName;
        AnswerFileDialog([&shownFolder, &dialogName](QFileDialog* dialog) {
            shownFolder = dialog->directory().absolutePath();
            dialogName = dialog->objectName();
            dialog->reject();
            return true;
        });
        QVERIFY(ChooseFilesToOpen(window.get(), settings).empty());
        QCOMPARE(shownFolder, QString::fromStdString(folder));
        QCOMPARE(dialogName, QString("OpenDialog1"));
    }

    // Every type the menu entry offers has a file name the libraries read.
    void desktopEntryTypesAreReadable() {
        QFile entry(VANTREL_SOURCE_DIR "/data/vantrel.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList types;
        for (const QString& line : QString::fromUtf8(entry.readAll()).split('\n'))
            if (line.startsWith("MimeType=")) types = line.mid(9).split(';', Qt::SkipEmptyParts);
        QVERIFY(types.size() > 30);
        const std::vector<std::string> readable = ReadableMediaExtensions();
        const std::set<std::string> known(readable.begin(), readable.end());
        QMimeDatabase mime;
        for (const QString& type : types) {
            const QMimeType t = mime.mimeTypeForName(type);
            QVERIFY2(t.isValid(), qPrintable(type));
            bool read = false;
            for (const QString& suffix : t.suffixes())
                read = read || known.count(suffix.toLower().toStdString()) > 0;
            QVERIFY2(read, qPrintable(type + ": " + t.suffixes().join(',')));
        }
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
