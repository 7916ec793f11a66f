// Test helpers of the application core: a private home and configuration
// folder for each test, and a message handler that records and answers.
#pragma once

#include "core/GlobalUnit.h"
#include "core/MessageSeam.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace appcoretest {

using testsupport::TScopedEnv;

struct TRecordedMessage {
    std::string Caption;
    std::string Text;
    TMsgIcon Icon;
    TMsgButtons Buttons;
};

// HOME and XDG_CONFIG_HOME inside a temporary folder, a filled global
// object and a recording message handler.
class TAppCoreTest : public ::testing::Test {
protected:
    testsupport::TempDir Temp;
    TScopedEnv Home{"HOME", Temp.file("home")};
    TScopedEnv Config{"XDG_CONFIG_HOME", Temp.file("config")};
    std::vector<TRecordedMessage> Messages;
    TScopedMessageHandler Handler{[this](const std::string& caption, const std::string& text,
                                         TMsgIcon icon, TMsgButtons buttons) {
        Messages.push_back({caption, text, icon, buttons});
        return buttons == TMsgButtons::YesNo ? TMsgResult::Yes : TMsgResult::Ok;
    }};
    TGlobalObject Global;

    void SetUp() override { InitGlobalObject(Global); }

    std::string HomeDir() const { return Temp.file("home"); }
};

// The items of a comma-separated list as the format files write them, empty
// items kept.
inline std::vector<std::string> CommaItems(const std::string& list) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const auto comma = list.find(',', start);
        items.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

} // namespace appcoretest
