// Opening web pages, documents and folders with the desktop's default
// program. Tests replace the opener so that nothing is started.
#pragma once

#include <functional>
#include <string>

// What the desktop is asked to open: a web address, or a local file or
// folder, which is opened as a file whatever its text looks like (a folder
// named "http://..." is still a folder). It reads as its text, so an
// opener may take the text alone.
struct TDesktopTarget {
    std::string Text;
    bool LocalFile = false;
    operator const std::string&() const { return Text; }
};

using TUrlOpener = std::function<void(const TDesktopTarget& target)>;

// Installs an opener and returns the previous one (an empty opener restores
// the desktop's).
TUrlOpener SetUrlOpener(TUrlOpener opener);

// Opens a web address.
void OpenInDesktop(const std::string& webAddress);
// Opens a local file or folder.
void OpenLocalInDesktop(const std::string& path);
