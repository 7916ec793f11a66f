// The subtitle output alone: a subtitle without a time ends the conversion
// only where errors must end it, and is otherwise left out; nothing is
// written for a stream whose encoder is not open.
#include "EngineTestSupport.h"
#include "engine/SubtitleOutput.h"

#include <gtest/gtest.h>

#include <string>

TEST(SubtitleOutput, ASubtitleWithoutATimeIsAnErrorOnlyWhereErrorsEndTheConversion) {
    RequireLibraries();
    TPacketWriter writer(false);
    TOutputStream ost;
    AVSubtitle subtitle{};
    TSubtitleOutput strict(writer, 0, true);
    try {
        strict.Output(ost, subtitle, AV_NOPTS_VALUE);
        ADD_FAILURE() << "a subtitle without a time was taken";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(std::string(e.what()), "Subtitle packets must have a pts");
    }
    TSubtitleOutput lenient(writer, 0, false);
    EXPECT_NO_THROW(lenient.Output(ost, subtitle, AV_NOPTS_VALUE));
    EXPECT_NO_THROW(lenient.Output(ost, subtitle, 1000000)) << "an encoder that is not open";
    EXPECT_EQ(ost.FrameNumber, 0);
    EXPECT_EQ(writer.PacketsWritten(), 0);
}
