#include "app/Shell.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace {

TUrlOpener& CurrentOpener() {
    static TUrlOpener opener;
    return opener;
}

void OpenWithDesktop(const std::string& urlOrPath) {
    const QString text = QString::fromStdString(urlOrPath);
    const QUrl url = text.contains("://") ? QUrl(text) : QUrl::fromLocalFile(text);
    QDesktopServices::openUrl(url);
}

} // namespace

TUrlOpener SetUrlOpener(TUrlOpener opener) {
    TUrlOpener previous = CurrentOpener();
    CurrentOpener() = std::move(opener);
    return previous;
}

void OpenInDesktop(const std::string& urlOrPath) {
    if (CurrentOpener())
        CurrentOpener()(urlOrPath);
    else
        OpenWithDesktop(urlOrPath);
}
