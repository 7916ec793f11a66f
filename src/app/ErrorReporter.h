// The application object with its error reporter: every exception that
// escapes an event handler is shown in a message box and the program goes
// on.
#pragma once

#include <QApplication>
#include <exception>
#include <string>

// The message as the reporter shows it: a full stop is added when the last
// character sorts after ".".
std::string ErrorReportText(const std::string& message);

// Shows the box for one exception: a warning icon for the engine's
// exceptions, an error icon for any other.
void ReportException(const std::exception& error);

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Message boxes of the core's message seam are shown as Qt message boxes.
void InstallGuiMessageHandler();
