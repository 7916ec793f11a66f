// Opening web pages, documents and folders with the desktop's default
// program. Tests replace the opener so that nothing is started.
#pragma once

#include <functional>
#include <string>

using TUrlOpener = std::function<void(const std::string& urlOrPath)>;

// Installs an opener and returns the previous one (an empty opener restores
// the desktop's).
TUrlOpener SetUrlOpener(TUrlOpener opener);

// Opens a web address or a local file or folder path.
void OpenInDesktop(const std::string& urlOrPath);
