// The one way the core shows a message or asks a question. The GUI installs
// a handler that opens a message box; tests install one that records the
// message and answers; without a handler the text goes to the standard
// error stream and the answer is Ok (or Yes for a question).
#pragma once

#include <functional>
#include <string>

enum class TMsgIcon { None, Information, Warning, Error, Question };
enum class TMsgButtons { Ok, YesNo };
enum class TMsgResult { Ok, Yes, No };

using TMessageHandler = std::function<TMsgResult(
    const std::string& caption, const std::string& text, TMsgIcon icon, TMsgButtons buttons)>;

// Installs the handler (an empty one restores the default) and returns the
// previous one.
TMessageHandler SetMessageHandler(TMessageHandler handler);

TMsgResult ShowMessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                          TMsgButtons buttons);

// A Yes/No question with a check box under it. `checked` holds the box's
// state when the question opens and the user's choice when it closes.
using TCheckQuestionHandler =
    std::function<TMsgResult(const std::string& caption, const std::string& text,
                             const std::string& checkCaption, bool& checked)>;

// Installs the handler (an empty one restores the default) and returns the
// previous one. Without one the question goes to the message handler as a
// plain Yes/No question and the box keeps its state.
TCheckQuestionHandler SetCheckQuestionHandler(TCheckQuestionHandler handler);

TMsgResult AskWithCheckBox(const std::string& caption, const std::string& text,
                           const std::string& checkCaption, bool& checked);

// Installs a handler for its lifetime and puts the previous one back.
class TScopedMessageHandler {
public:
    explicit TScopedMessageHandler(TMessageHandler handler)
        : FPrevious(SetMessageHandler(std::move(handler))) {}
    ~TScopedMessageHandler() { SetMessageHandler(std::move(FPrevious)); }
    TScopedMessageHandler(const TScopedMessageHandler&) = delete;
    TScopedMessageHandler& operator=(const TScopedMessageHandler&) = delete;

private:
    TMessageHandler FPrevious;
};
