// What an opened input takes from the option state and gives back, on a
// real file and without a task.
#include "EngineTestSupport.h"

#include "engine/InputSettings.h"
#include "media/FFHandles.h"

#include <string>
#include <vector>

namespace {

class InputSettings : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override {
        RequireLibraries();
        ASSERT_TRUE(AllocOptionContexts(Contexts, Options.SwsFlags));
        AVFormatContext* context = nullptr;
        ASSERT_GE(ff::avformat.avformat_open_input(&context, EngineMedia::Get().AudioVideo.c_str(),
                                                   nullptr, nullptr),
                  0);
        Input.reset(context);
        ASSERT_GE(ff::avformat.avformat_find_stream_info(context, nullptr), 0);
    }
    std::string Parameter(const ff::DictionaryPtr& parameters, const char* key) {
        const AVDictionaryEntry* entry = ff::avutil.av_dict_get(parameters.get(), key, nullptr, 0);
        return entry ? entry->value : "";
    }
    TOptionState Options;
    TOptionContexts Contexts;
    ff::InputContextPtr Input;
};

} // namespace

// The streams' parameters become the options the next output starts from;
// a disabled kind is not read, and every stream gets its kind's decoder.
TEST_F(InputSettings, StreamsGiveTheirParametersAndDisabledKindsAreDiscarded) {
    Options.AudioDisable = true;
    const AVCodec* videoDecoder = ff::avcodec.avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    TByKind<const AVCodec*> chosen;
    chosen[TMediaKind::Video] = videoDecoder;
    std::vector<const AVCodec*> decoders;
    TInputSettings(Options, Contexts).TakeStreams(Input.get(), decoders, chosen);
    ASSERT_EQ(decoders.size(), 2u);
    EXPECT_EQ(Options.FrameWidth, 160);
    EXPECT_EQ(Options.FrameHeight, 120);
    EXPECT_EQ(Options.FrameRateNum, 25);
    EXPECT_EQ(Options.FrameRateDen, 1);
    EXPECT_FLOAT_EQ(Options.FrameAspectRatio, 160.0f / 120.0f);
    EXPECT_EQ(Options.AudioChannels, 2);
    EXPECT_EQ(Options.AudioSampleRate, 44100);
    for (unsigned i = 0; i < Input->nb_streams; ++i) {
        const bool audio = Input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        EXPECT_EQ(decoders[i], audio ? nullptr : videoDecoder);
        EXPECT_EQ(Input->streams[i]->discard == AVDISCARD_ALL, audio);
    }
}

// A program the file does not have fails the input, and the request and
// the start time are used up by the input they were given for.
TEST_F(InputSettings, ProgramAndStartAreUsedUpByOneInput) {
    TInputSettings settings(Options, Contexts);
    EXPECT_TRUE(settings.SelectProgram(Input.get()));
    Options.OptProgramID = 7;
    EXPECT_FALSE(settings.SelectProgram(Input.get()));
    EXPECT_EQ(Options.OptProgramID, 0);
    EXPECT_EQ(Input->streams[0]->discard, AVDISCARD_ALL);

    Options.StartTime = 1000000;
    const int64_t start = Input->start_time == AV_NOPTS_VALUE ? 0 : Input->start_time;
    EXPECT_EQ(settings.SeekToStart(Input.get(), "av.avi"), start + 1000000);
    EXPECT_EQ(Options.StartTime, 0);
    EXPECT_EQ(settings.SeekToStart(Input.get(), "av.avi"), start);
}

// Raw formats and devices get the size, rate and format asked for; those
// not asked for are left out.
TEST_F(InputSettings, DemuxerParametersOnlyForWhatWasAskedFor) {
    ff::DictionaryPtr plain(TInputSettings(Options, Contexts).Parameters());
    EXPECT_EQ(Parameter(plain, "sample_rate"), "44100");
    EXPECT_EQ(Parameter(plain, "video_size"), "");
    EXPECT_EQ(Parameter(plain, "framerate"), "");
    EXPECT_EQ(Parameter(plain, "standard"), "");
    Options.FrameWidth = 320;
    Options.FrameHeight = 240;
    Options.FrameRateNum = 30000;
    Options.FrameRateDen = 1001;
    Options.FramePixFmt = AV_PIX_FMT_YUV422P;
    Options.HasVideoStandard = true;
    Options.VideoStandard = "PAL";
    ff::DictionaryPtr asked(TInputSettings(Options, Contexts).Parameters());
    EXPECT_EQ(Parameter(asked, "video_size"), "320x240");
    EXPECT_EQ(Parameter(asked, "framerate"), "30000/1001");
    EXPECT_EQ(Parameter(asked, "pixel_format"), "yuv422p");
    EXPECT_EQ(Parameter(asked, "standard"), "PAL");
}
