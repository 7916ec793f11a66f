#include "app/ErrorReporter.h"

#include "core/MessageSeam.h"
#include "engine/FFmpegRecords.h"

#include <QCheckBox>
#include <QMessageBox>
#include <clocale>
#include <QWidget>

std::string ErrorReportText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > 0x2E) return message + ".";
    return message;
}

void ReportException(const std::exception& error) {
    const bool engineError = dynamic_cast<const FFmpegException*>(&error) != nullptr;
    ShowMessageBox(QApplication::applicationName().toStdString(), ErrorReportText(error.what()),
                   engineError ? TMsgIcon::Warning : TMsgIcon::Error, TMsgButtons::Ok);
}

// The toolkit adopts the user's whole locale when it starts; the numbers go
// back to the "C" rules (its own locale-aware texts keep the user's locale).
TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    std::setlocale(LC_NUMERIC, "C");
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportException(error);
    } catch (...) {
        ReportException(std::runtime_error("Unknown error"));
    }
    return false;
}

namespace {

QMessageBox::Icon ToQtIcon(TMsgIcon icon) {
    switch (icon) {
    case TMsgIcon::Information:
        return QMessageBox::Information;
    case TMsgIcon::Warning:
        return QMessageBox::Warning;
    case TMsgIcon::Error:
        return QMessageBox::Critical;
    case TMsgIcon::Question:
        return QMessageBox::Question;
    case TMsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

TMsgResult ShowQtMessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                            TMsgButtons buttons) {
    QMessageBox box(ToQtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    buttons == TMsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                  : QMessageBox::Ok,
                    QApplication::activeWindow());
    const int answer = box.exec();
    if (buttons == TMsgButtons::Ok) return TMsgResult::Ok;
    return answer == QMessageBox::Yes ? TMsgResult::Yes : TMsgResult::No;
}

TMsgResult AskQtWithCheckBox(const std::string& caption, const std::string& text,
                             const std::string& checkCaption, bool& checked) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    auto* check = new QCheckBox(QString::fromStdString(checkCaption));
    check->setChecked(checked);
    box.setCheckBox(check);
    const int answer = box.exec();
    checked = check->isChecked();
    return answer == QMessageBox::Yes ? TMsgResult::Yes : TMsgResult::No;
}

} // namespace

void InstallGuiMessageHandler() {
    SetMessageHandler(ShowQtMessageBox);
    SetCheckQuestionHandler(AskQtWithCheckBox);
}
