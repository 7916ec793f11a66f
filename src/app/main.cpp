// Program entry: the application object, the command line, one window per
// user, the main window and the cover.
#include "app/CommandLine.h"
#include "app/ErrorReporter.h"
#include "app/SingleInstance.h"
#include "app/WinCover.h"
#include "app/winMain.h"
#include "core/GlobalUnit.h"

#include <QDir>
#include <clocale>
#include <cstdio>

namespace {

std::vector<std::string> ToPaths(const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& file : files)
        paths.push_back(file.toStdString());
    return paths;
}

QStringList RawArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// --help and --version are answered before anything needs a display (Qt's
// own options, still among the raw arguments, do not count as errors yet).
bool AnswerHelpOrVersion(const TCommandLine& line) {
    if (line.Help) std::fputs(CommandLineUsage().toLocal8Bit().constData(), stdout);
    if (line.Version)
        std::printf("Vantrel %s\n", QString::fromStdString(TGlobalObject::GetVersionText())
                                        .trimmed()
                                        .toLocal8Bit()
                                        .constData());
    return line.Help || line.Version;
}

} // namespace

int main(int argc, char** argv) {
    // Numbers are read and written with a "." everywhere: the media libraries
    // parse option values with the C library's locale-dependent reader.
    std::setlocale(LC_NUMERIC, "C");
    if (AnswerHelpOrVersion(ParseCommandLine(RawArguments(argc, argv), QDir::currentPath())))
        return 0;
    TApplication application(argc, argv);
    QApplication::setApplicationName("Vantrel");
    // Ties the window to its menu entry (its icon and name on the desktop).
    QGuiApplication::setDesktopFileName("vantrel");
    const TCommandLine line = ParseCommandLine(QApplication::arguments(), QDir::currentPath());
    if (!line.Error.isEmpty()) {
        std::fputs(line.Error.toLocal8Bit().constData(), stderr);
        return 2;
    }

    // A window of this user is open already: it takes the files.
    TSingleInstance instance;
    if (instance.HandOver(line.Files)) return 0;
    if (!instance.Listen()) {
        if (instance.ErrorText().isEmpty() && instance.HandOver(line.Files)) return 0;
        const QString reason = instance.ErrorText().isEmpty()
                                   ? QString("the open window does not answer")
                                   : instance.ErrorText();
        std::fprintf(stderr, "vantrel: later starts open a window of their own (%s)\n",
                     reason.toLocal8Bit().constData());
    }
    InstallGuiMessageHandler();

    TfrmMain frmMain;
    // The main window makes the trim dialog with itself; the crop and
    // watermark dialogs are created here with their windows.
    QObject::connect(&instance, &TSingleInstance::FilesReceived, &frmMain,
                     [&frmMain](const QStringList& files) { frmMain.OpenFiles(ToPaths(files)); });

    TfrmCover frmCover(&frmMain);
    frmCover.show();
    frmCover.repaint();

    frmMain.show();
    frmCover.raise();
    // Added once the message loop runs, as the Add button would add them.
    if (!line.Files.isEmpty()) frmMain.OpenFiles(ToPaths(line.Files));
    return application.exec();
}
