#include "core/MessageSeam.h"

#include <iostream>
#include <mutex>

namespace {

std::mutex& HandlerLock() {
    static std::mutex lock;
    return lock;
}

TMessageHandler& CurrentHandler() {
    static TMessageHandler handler;
    return handler;
}

TCheckQuestionHandler& CurrentCheckHandler() {
    static TCheckQuestionHandler handler;
    return handler;
}

TMsgResult ShowOnStandardError(const std::string& caption, const std::string& text,
                               TMsgButtons buttons) {
    std::cerr << caption << ": " << text << std::endl;
    return buttons == TMsgButtons::YesNo ? TMsgResult::Yes : TMsgResult::Ok;
}

} // namespace

TMessageHandler SetMessageHandler(TMessageHandler handler) {
    std::lock_guard<std::mutex> guard(HandlerLock());
    TMessageHandler previous = std::move(CurrentHandler());
    CurrentHandler() = std::move(handler);
    return previous;
}

TMsgResult ShowMessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                          TMsgButtons buttons) {
    TMessageHandler handler;
    {
        std::lock_guard<std::mutex> guard(HandlerLock());
        handler = CurrentHandler();
    }
    if (!handler) return ShowOnStandardError(caption, text, buttons);
    return handler(caption, text, icon, buttons);
}

TCheckQuestionHandler SetCheckQuestionHandler(TCheckQuestionHandler handler) {
    std::lock_guard<std::mutex> guard(HandlerLock());
    TCheckQuestionHandler previous = std::move(CurrentCheckHandler());
    CurrentCheckHandler() = std::move(handler);
    return previous;
}

TMsgResult AskWithCheckBox(const std::string& caption, const std::string& text,
                           const std::string& checkCaption, bool& checked) {
    TCheckQuestionHandler handler;
    {
        std::lock_guard<std::mutex> guard(HandlerLock());
        handler = CurrentCheckHandler();
    }
    if (!handler) return ShowMessageBox(caption, text, TMsgIcon::Question, TMsgButtons::YesNo);
    return handler(caption, text, checkCaption, checked);
}
