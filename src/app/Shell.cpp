#include "app/Shell.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace {

TUrlOpener& CurrentOpener() {
    static TUrlOpener opener;
    return opener;
}

void OpenWithDesktop(const TDesktopTarget& target) {
    const QString text = QString::fromStdString(target.Text);
    QDesktopServices::openUrl(target.LocalFile ? QUrl::fromLocalFile(text) : QUrl(text));
}

void Open(const TDesktopTarget& target) {
    if (CurrentOpener())
        CurrentOpener()(target);
    else
        OpenWithDesktop(target);
}

} // namespace

TUrlOpener SetUrlOpener(TUrlOpener opener) {
    TUrlOpener previous = CurrentOpener();
    CurrentOpener() = std::move(opener);
    return previous;
}

void OpenInDesktop(const std::string& webAddress) {
    Open({webAddress, false});
}

void OpenLocalInDesktop(const std::string& path) {
    Open({path, true});
}
