// The encoder settings of a new output stream, made from an option state
// alone: what the encoder's own lists overrule and what they leave.
#include "EngineTestSupport.h"

#include "engine/EncoderSettings.h"
#include "media/FFHandles.h"

#include <string>

namespace {

class EncoderSettings : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override {
        RequireLibraries();
        ASSERT_TRUE(AllocOptionContexts(Contexts, Options.SwsFlags));
        AVFormatContext* context = nullptr;
        ff::avformat.avformat_alloc_output_context2(&context, nullptr, "mp4", nullptr);
        Output.reset(context);
        ASSERT_TRUE(Output);
        Stream = ff::avformat.avformat_new_stream(Output.get(), nullptr);
        ASSERT_TRUE(Stream);
    }
    ff::CodecContextPtr Encoder(const char* name) {
        Codec = ff::avcodec.avcodec_find_encoder_by_name(name);
        EXPECT_TRUE(Codec) << name;
        return ff::CodecContextPtr(ff::avcodec.avcodec_alloc_context3(Codec));
    }
    TOptionState Options;
    TOptionContexts Contexts;
    ff::FormatContextPtr Output;
    AVStream* Stream = nullptr;
    const AVCodec* Codec = nullptr;
};

} // namespace

// Rates and formats the encoder cannot take give way to its nearest or
// first own; a forced frame rate stays as asked.
TEST_F(EncoderSettings, EncoderListsOverruleTheOptionsUnlessForced) {
    Options.FrameRateNum = 26;
    Options.FrameRateDen = 1;
    Options.FramePixFmt = AV_PIX_FMT_YUV444P;
    Options.FrameWidth = 320;
    Options.FrameHeight = 240;
    auto video = Encoder("mpeg2video");
    TEncoderSettings(Options, Contexts).SetupVideo(video.get(), Codec, Stream);
    EXPECT_EQ(video->framerate.num, 25);
    EXPECT_EQ(video->framerate.den, 1);
    EXPECT_EQ(Stream->time_base.num, 1);
    EXPECT_EQ(Stream->time_base.den, 25);
    EXPECT_NE(video->pix_fmt, AV_PIX_FMT_YUV444P);
    EXPECT_EQ(video->width, 320);

    Options.ForceFps = true;
    auto forced = Encoder("mpeg2video");
    TEncoderSettings(Options, Contexts).SetupVideo(forced.get(), Codec, Stream);
    EXPECT_EQ(forced->framerate.num, 26);

    Options.AudioSampleRate = 44000;
    Options.AudioSampleFmt = AV_SAMPLE_FMT_DBL;
    Options.AudioChannels = 1;
    EngineLog log;
    auto audio = Encoder("mp2");
    TEncoderSettings(Options, Contexts).SetupAudio(audio.get(), Codec, Stream);
    EXPECT_EQ(audio->sample_rate, 44100);
    EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(audio->ch_layout.nb_channels, 1);
    EXPECT_EQ(Stream->time_base.den, 44100);
    EXPECT_TRUE(log.Contains("closest supported (44100)"));
}

// "rc_override" groups: a positive q is a fixed quantizer, else a quality
// factor; a group that does not read fails the stream.
TEST_F(EncoderSettings, RateControlOverrideGroups) {
    Options.HasRcOverride = true;
    Options.RcOverride = "0,10,5/11,20,-50";
    auto video = Encoder("mpeg4");
    TEncoderSettings(Options, Contexts).SetupVideo(video.get(), Codec, Stream);
    ASSERT_EQ(video->rc_override_count, 2);
    EXPECT_EQ(video->rc_override[0].qscale, 5);
    EXPECT_EQ(video->rc_override[1].start_frame, 11);
    EXPECT_EQ(video->rc_override[1].qscale, 0);
    EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 0.5f);

    Options.RcOverride = "0,10";
    auto bad = Encoder("mpeg4");
    EXPECT_EQ(EngineError([&] {
                  TEncoderSettings(Options, Contexts).SetupVideo(bad.get(), Codec, Stream);
              }),
              "error parsing rc_override");
}

// A format that wants global headers gets them on the encoder and on the
// recorded codec options; "vglobal" 2 asks local headers of video instead.
TEST_F(EncoderSettings, GlobalHeadersFollowTheFormatAndVglobal) {
    auto video = Encoder("mpeg4");
    auto audio = Encoder("mp2");
    const TEncoderSettings settings(Options, Contexts);
    settings.SetGlobalHeader(video.get(), Output.get(), true);
    settings.SetGlobalHeader(audio.get(), Output.get(), false);
    settings.SetGlobalHeader(nullptr, Output.get(), true); // a copied stream
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_FALSE(video->flags2 & AV_CODEC_FLAG2_LOCAL_HEADER);
    EXPECT_TRUE(audio->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_TRUE(Contexts.CodecOptions[0]->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_TRUE(Contexts.CodecOptions[1]->flags & AV_CODEC_FLAG_GLOBAL_HEADER);

    Options.VideoGlobalHeader = 2;
    auto local = Encoder("mpeg4");
    settings.SetGlobalHeader(local.get(), Output.get(), true);
    EXPECT_FALSE(local->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_TRUE(local->flags2 & AV_CODEC_FLAG2_LOCAL_HEADER);
    EXPECT_TRUE(Contexts.CodecOptions[0]->flags2 & AV_CODEC_FLAG2_LOCAL_HEADER);
    EXPECT_FALSE(Contexts.CodecOptions[1]->flags2 & AV_CODEC_FLAG2_LOCAL_HEADER);
}

// A source's channels that the encoder does not take are mixed to a layout
// it does: one of as many channels, else the largest below, else its
// first; encoders without a list keep any count up to their known limit.
// Channels the options gave are left for the encoder to refuse, and the
// refusal names the limit.
TEST_F(EncoderSettings, SourceChannelsAreFittedToTheEncoder) {
    struct TCase {
        const char* Encoder;
        uint64_t Source;
        const char* Expected;
        bool Mixed;
    };
    AVCodecParameters* source = Stream->codecpar;
    source->codec_type = AVMEDIA_TYPE_AUDIO;
    source->format = -1;
    source->sample_rate = 0;
    for (const TCase& c : {TCase{"libmp3lame", AV_CH_LAYOUT_5POINT1_BACK, "stereo", true},
                           TCase{"libmp3lame", AV_CH_LAYOUT_MONO, "mono", false},
                           TCase{"ac3", AV_CH_LAYOUT_7POINT1, "5.1(side)", true},
                           TCase{"ac3", AV_CH_LAYOUT_5POINT1_BACK, "5.1", false},
                           TCase{"alac", AV_CH_LAYOUT_7POINT1, "7.1(wide)", true},
                           TCase{"alac", AV_CH_LAYOUT_HEXADECAGONAL, "7.1(wide)", true},
                           TCase{"flac", AV_CH_LAYOUT_7POINT1, "7.1", false},
                           TCase{"flac", AV_CH_LAYOUT_HEXADECAGONAL, "7.1", true},
                           TCase{"aac", AV_CH_LAYOUT_HEXADECAGONAL, "hexadecagonal", false}}) {
        ff::CodecContextPtr encoder = Encoder(c.Encoder);
        ASSERT_TRUE(encoder);
        ff::avutil.av_channel_layout_uninit(&source->ch_layout);
        ASSERT_EQ(ff::avutil.av_channel_layout_from_mask(&source->ch_layout, c.Source), 0);
        const bool mixed = FollowSourceSound(encoder.get(), Codec, Stream, source, {});
        char name[64] = {};
        ff::avutil.av_channel_layout_describe(&encoder->ch_layout, name, sizeof name);
        EXPECT_EQ(std::string(name), c.Expected) << c.Encoder << " " << c.Source;
        EXPECT_EQ(mixed, c.Mixed) << c.Encoder << " " << c.Source;
    }
    ff::CodecContextPtr given = Encoder("libmp3lame");
    ASSERT_TRUE(given);
    ff::avutil.av_channel_layout_default(&given->ch_layout, 6);
    ff::avutil.av_channel_layout_uninit(&source->ch_layout);
    ff::avutil.av_channel_layout_default(&source->ch_layout, 6);
    EXPECT_FALSE(FollowSourceSound(given.get(), Codec, Stream, source, {false, true, false}));
    EXPECT_EQ(given->ch_layout.nb_channels, 6);
    EXPECT_EQ(EncoderFailureText("Failed", given.get(), Codec, 6),
              "Failed: the encoder libmp3lame cannot take 6 sound channels, it takes at most 2 (a "
              "channel count can be given with -ac)");
}
