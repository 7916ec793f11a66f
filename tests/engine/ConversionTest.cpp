// End-to-end conversions through the converter component, each output
// checked with ffprobe.
#include "ConversionTestSupport.h"

#include <cmath>
#include <filesystem>

using testsupport::ProbeValue;
using testsupport::ProbeValues;

namespace {

class Conversion : public ::testing::Test {
protected:
    void SetUp() override {
        RequireLibraries();
        Media = &EngineMedia::Get();
    }
    EngineMedia* Media = nullptr;
    testsupport::TempDir Out;
    EngineLog Log;
};

TEST_F(Conversion, VideoWithAudioGetsTheRequestedCodecsSizeAndDuration) {
    RecordingConverter c;
    const std::string out = Out.file("out.mp4");
    ASSERT_EQ(
        c.Add(Media->AudioVideo, out, "vcodec=mpeg4\ns=320x240\nb=768000\nacodec=aac\nab=128000"),
        0)
        << c.Converter.LastErrMsg;
    ASSERT_TRUE(c.Run());
    const TTerminateInfo end = c.TaskEnd(0);
    EXPECT_TRUE(end.Finished) << end.ExceptionMsg;
    EXPECT_FALSE(end.ExceptionRaised) << end.ExceptionMsg;
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "v:0"), "mpeg4");
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), "aac");
    EXPECT_EQ(ProbeValue(out, "stream=width", "v:0"), "320");
    EXPECT_EQ(ProbeValue(out, "stream=height", "v:0"), "240");
    EXPECT_EQ(ProbeValue(out, "stream=nb_frames", "v:0"), "50");
    EXPECT_NEAR(ProbeDuration(out, "v:0"), 2.0, 0.05);
    EXPECT_NEAR(ProbeDuration(out, "a:0"), 2.0, 0.1);
}

} // namespace
