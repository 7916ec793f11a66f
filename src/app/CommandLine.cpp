#include "app/CommandLine.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

QString AbsoluteFile(const QString& argument, const QString& workingFolder) {
    if (argument.startsWith("file:", Qt::CaseInsensitive)) {
        const QUrl url(argument);
        if (url.isLocalFile()) return QDir::cleanPath(url.toLocalFile());
    }
    return QDir::cleanPath(QDir(workingFolder).absoluteFilePath(argument));
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments, const QString& workingFolder) {
    TCommandLine line;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            line.Help = true;
        } else if (!optionsEnded && argument == "--version") {
            line.Version = true;
        } else if (!optionsEnded && argument.startsWith('-') && argument.size() > 1) {
            line.Error = "Unknown option: " + argument + "\n" + CommandLineUsage();
        } else if (!argument.isEmpty()) {
            line.Files << AbsoluteFile(argument, workingFolder);
        }
    }
    return line;
}

QString CommandLineUsage() {
    return "Usage: vantrel [--help] [--version] [FILE...]\n"
           "Starts the converter window with the files in its list. When the window is\n"
           "already open, the files are added to it instead.\n";
}
