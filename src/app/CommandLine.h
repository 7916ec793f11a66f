// The window program's command line: `vantrel [--help] [--version] [FILE...]`.
#pragma once

#include <QString>
#include <QStringList>

struct TCommandLine {
    // The files, as absolute paths, in the order given.
    QStringList Files;
    bool Help = false;
    bool Version = false;
    // An option the program does not know, with the usage; empty when none.
    QString Error;
};

// Reads the arguments (the program's name first, Qt's own options already
// taken out). Relative names are taken from `workingFolder`; "file:" URLs
// (as file managers may pass them) are turned into their local paths.
// Everything after "--" is a file, even when it starts with "-".
TCommandLine ParseCommandLine(const QStringList& arguments, const QString& workingFolder);

// The text of `vantrel --help`.
QString CommandLineUsage();
