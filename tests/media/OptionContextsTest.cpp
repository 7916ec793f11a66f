// Free-form options parsed into the option contexts and copied onto real
// contexts.
#include "LogCollector.h"
#include "MediaTestSupport.h"
#include "media/AVCodecEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFUtils.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class OptionContexts : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadSystemLibraries()); }
    void SetUp() override {
        ASSERT_TRUE(AllocOptionContexts(Contexts, SWS_BICUBIC));
        GetLogger().SetLogLevel(llInfo);
    }
    void TearDown() override { GetLogger().SetLogLevel(llInfo); }

    std::vector<std::string> Recorded() const {
        return {Contexts.OptionNames.begin(), Contexts.OptionNames.end()};
    }

    TOptionContexts Contexts;
};

TEST_F(OptionContexts, AllocatedContextsHaveTheirMediaTypes) {
    for (int i = 0; i < 5; ++i) {
        ASSERT_NE(Contexts.CodecOptions[i], nullptr);
        EXPECT_EQ(Contexts.CodecOptions[i]->codec_type, i);
    }
    EXPECT_NE(Contexts.FormatOptions, nullptr);
    EXPECT_NE(Contexts.ScalerOptions, nullptr);
    FreeOptionContexts(Contexts);
    EXPECT_EQ(Contexts.CodecOptions[0], nullptr);
    EXPECT_EQ(Contexts.FormatOptions, nullptr);
    EXPECT_EQ(Contexts.ScalerOptions, nullptr);
    EXPECT_EQ(Contexts.OptionNameCount, 0);
}

TEST_F(OptionContexts, BlankNameOrValueIsRefusedSilently) {
    LogCollector log;
    EXPECT_FALSE(SetDefaultOption(Contexts, "b", "  "));
    EXPECT_FALSE(SetDefaultOption(Contexts, " ", "100"));
    EXPECT_FALSE(SetDefaultOption(Contexts, "b", ""));
    EXPECT_EQ(Contexts.OptionNameCount, 0);
    EXPECT_TRUE(log.Take().empty());
}

TEST_F(OptionContexts, UnknownNameIsRefusedWithoutAMessage) {
    LogCollector log;
    EXPECT_FALSE(SetDefaultOption(Contexts, "nosuchoption", "1"));
    EXPECT_EQ(Contexts.OptionNameCount, 0);
    EXPECT_TRUE(log.Take().empty());
}

TEST_F(OptionContexts, BadValueLogsInvalidValueAndRecordsNothing) {
    LogCollector log;
    EXPECT_FALSE(SetDefaultOption(Contexts, "g", "twelve"));
    EXPECT_TRUE(log.Contains("Invalid value \"twelve\" for option \"g\""));
    EXPECT_EQ(Contexts.OptionNameCount, 0);
}

TEST_F(OptionContexts, CodecOptionIsSetOnEveryTypeItsFlagsFit) {
    ASSERT_TRUE(SetDefaultOption(Contexts, "b", "1000k"));
    EXPECT_EQ(Contexts.CodecOptions[0]->bit_rate, 1000000);
    EXPECT_EQ(Contexts.CodecOptions[1]->bit_rate, 1000000);
    EXPECT_EQ(Contexts.CodecOptions[2]->bit_rate, 1000000); // flags 0 fit every option
    ASSERT_TRUE(SetDefaultOption(Contexts, "ar", "22050"));
    EXPECT_EQ(Contexts.CodecOptions[1]->sample_rate, 22050);
    EXPECT_EQ(Contexts.CodecOptions[3]->sample_rate, 0); // not a subtitle option
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"b", "ar"}));
    EXPECT_EQ(Contexts.OptionNameCount, 2);
}

TEST_F(OptionContexts, FormatThenScalerOptions) {
    ASSERT_TRUE(SetDefaultOption(Contexts, "probesize", "123456"));
    EXPECT_EQ(Contexts.FormatOptions->probesize, 123456);
    ASSERT_TRUE(SetDefaultOption(Contexts, "sws_flags", "bilinear"));
    std::int64_t flags = 0;
    ASSERT_GE(ff::avutil.av_opt_get_int(Contexts.ScalerOptions, "sws_flags", 0, &flags), 0);
    EXPECT_EQ(flags & (SWS_BILINEAR | SWS_BICUBIC), SWS_BILINEAR);
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"probesize", "sws_flags"}));
}

TEST_F(OptionContexts, PrefixLetterNamesAreRecordedWithoutTheLetter) {
    std::int64_t audioRate = Contexts.CodecOptions[1]->bit_rate;
    ASSERT_TRUE(SetDefaultOption(Contexts, "vb", "300k"));
    EXPECT_EQ(Contexts.CodecOptions[0]->bit_rate, 300000);
    EXPECT_EQ(Contexts.CodecOptions[1]->bit_rate, audioRate);
    ASSERT_TRUE(SetDefaultOption(Contexts, "vg", "48"));
    EXPECT_EQ(Contexts.CodecOptions[0]->gop_size, 48);
    // A name the codec options know as it stands is not split.
    ASSERT_TRUE(SetDefaultOption(Contexts, "ab", "96k"));
    EXPECT_EQ(Contexts.CodecOptions[1]->bit_rate, 96000);
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"b", "g", "ab"}));
    EXPECT_FALSE(SetDefaultOption(Contexts, "xb", "128k"));
}

TEST_F(OptionContexts, DebugOptionRaisesTheLoggerToDebug) {
    ASSERT_TRUE(SetDefaultOption(Contexts, "debug", "pict"));
    EXPECT_EQ(GetLogger().GetLogLevel(), llDebug);
}

TEST_F(OptionContexts, RecordedOptionsAreCopiedByFlags) {
    ASSERT_TRUE(SetDefaultOption(Contexts, "b", "800k"));
    ASSERT_TRUE(SetDefaultOption(Contexts, "g", "25"));
    ASSERT_TRUE(SetDefaultOption(Contexts, "ar", "8000"));
    ff::CodecContextPtr video(ff::avcodec.avcodec_alloc_context3(nullptr));
    ff::CodecContextPtr audio(ff::avcodec.avcodec_alloc_context3(nullptr));
    int videoFlags = AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM;
    int audioFlags = AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM;
    ApplyRecordedOptions(Contexts, video.get(), Contexts.CodecOptions[0], videoFlags);
    ApplyRecordedOptions(Contexts, audio.get(), Contexts.CodecOptions[1], audioFlags);
    EXPECT_EQ(video->bit_rate, 800000);
    EXPECT_EQ(video->gop_size, 25);
    EXPECT_EQ(video->sample_rate, 0);
    EXPECT_EQ(audio->bit_rate, 800000);
    EXPECT_EQ(audio->sample_rate, 8000);
    EXPECT_NE(audio->gop_size, 25);
}

} // namespace
