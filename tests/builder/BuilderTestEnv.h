// Test set-up of the option builder: both INI files in a temporary folder,
// the format's two sections written by each test, and a message handler
// that records every question and answers it as told.
#pragma once

#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"
#include "core/OptionBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace buildertest {

// A source with one video stream (index 0) and one audio stream (index 1).
inline TProbedSource VideoSource(int32_t width, int32_t height, int32_t videoBitRate = 1000000,
                                 int32_t sampleRate = 44100, int32_t audioBitRate = 128000) {
    TProbedSource src;
    src.VideoStreamIndex = 0;
    src.AudioStreamIndex = 1;
    src.VideoStreamCount = 1;
    src.VideoWidth = width;
    src.VideoHeight = height;
    src.VideoBitRate = videoBitRate;
    src.AudioSampleRate = sampleRate;
    src.AudioBitRate = audioBitRate;
    return src;
}

// A source with one audio stream only.
inline TProbedSource AudioSource(int32_t sampleRate = 44100, int32_t audioBitRate = 128000) {
    TProbedSource src;
    src.AudioStreamIndex = 0;
    src.AudioSampleRate = sampleRate;
    src.AudioBitRate = audioBitRate;
    return src;
}

struct TBuilt {
    TInputOptions In;
    TOutputOptions Out;
};

using testsupport::TScopedEnv;

struct TAskedQuestion {
    std::string Caption;
    std::string Text;
    TMsgIcon Icon;
    TMsgButtons Buttons;
};

class TBuilderTest : public ::testing::Test {
protected:
    static constexpr int kCode = 103;

    testsupport::TempDir Temp;
    TGlobalObject Global;
    std::vector<TAskedQuestion> Questions;
    TMsgResult Answer = TMsgResult::Yes;
    TScopedMessageHandler Handler{[this](const std::string& caption, const std::string& text,
                                         TMsgIcon icon, TMsgButtons buttons) {
        Questions.push_back({caption, text, icon, buttons});
        return buttons == TMsgButtons::YesNo ? Answer : TMsgResult::Ok;
    }};

    void SetUp() override {
        ASSERT_TRUE(Global.SetSettingsFile(Temp.file("vantrel.ini")));
        ASSERT_TRUE(Global.SetFormatFile(Temp.file("vantrelformat.ini")));
    }

    // The options a row gets at batch start: its edits handed over, then
    // the builder.
    TBuilt Build(const TlvFilesRecord& row, const TProbedSource& src) {
        TBuilt b;
        b.Out.FileName = Temp.file("out.mp4");
        HandOverRowEdits(row, b.In, b.Out);
        BuildConversionOptions(Global, row, kCode, b.Out, src, b.In);
        return b;
    }

    std::string Section() const { return "formatInfo" + std::to_string(kCode); }

    // The user's parameters of the format (settings file).
    void User(const TIniFile::TKeyValues& values) {
        ASSERT_TRUE(Global.Settings().WriteSectionValues(Section(), values));
    }
    // The format's preset (format file).
    void Preset(const TIniFile::TKeyValues& values) {
        ASSERT_TRUE(Global.Formats().WriteSectionValues(Section(), values));
    }
};

} // namespace buildertest
