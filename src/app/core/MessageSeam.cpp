#include "app/core/MessageSeam.h"

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
