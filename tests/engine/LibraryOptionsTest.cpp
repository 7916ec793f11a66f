// The library options on an option state alone: names no row knows, the
// options that wait for an output, and the rates the libraries share
// between kinds.
#include "EngineTestSupport.h"

#include "engine/LibraryOptions.h"
#include "media/FFHandles.h"

namespace {

class LibraryOptions : public ::testing::Test, protected LibrariesFirst {
protected:
    void SetUp() override {
        RequireLibraries();
        Library.ResetContexts();
        ASSERT_NE(Library.Contexts().CodecOptions[0], nullptr);
    }
    const AVCodec* Encoder(const char* name) {
        return ff::avcodec.avcodec_find_encoder_by_name(name);
    }
    bool Set(const std::string& name, const std::string& value, TMediaKind kind = TMediaKind::Any,
             const std::string& refusal = std::string()) {
        return Library.SetDefaultOrPrivateOption(name, value, kind, refusal);
    }
    TOptionState State;
    TLibraryOptions Library{State};
};

// Runs `action` on a muxer context of that format.
void WithMuxer(const char* format, const std::function<void(AVFormatContext*)>& action) {
    AVFormatContext* context = nullptr;
    ASSERT_GE(ff::avformat.avformat_alloc_output_context2(&context, nullptr, format, nullptr), 0);
    action(context);
    ff::avformat.avformat_free_context(context);
}

} // namespace

// An encoder's option given before its encoder waits; a later value of the
// same name and kind takes its place. The video encoder takes the waiting
// ones of any kind it knows and leaves the rest; one given for audio that
// the audio encoder does not know fails with its refusal, one without a
// refusal is only reported.
TEST_F(LibraryOptions, WaitingOptionsGoToTheEncoderThatKnowsThem) {
    EXPECT_TRUE(Set("mpeg_quant", "1"));
    EXPECT_TRUE(Set("mpeg_quant", "0"));
    EXPECT_TRUE(Set("mpeg_quant", "1", TMediaKind::Audio, "not for audio"));
    EXPECT_TRUE(Set("nosuchvideooption", "8", TMediaKind::Video));
    ASSERT_EQ(State.PendingOptions.size(), 3u);

    EngineLog log;
    TPrivateOptions video;
    Library.TakePendingEncoderOptions(Encoder("mpeg4"), video, TMediaKind::Video);
    EXPECT_EQ(video, (TPrivateOptions{{"mpeg_quant", "0"}}));
    EXPECT_TRUE(log.Contains("Option nosuchvideooption not found for encoder mpeg4"));
    ASSERT_EQ(State.PendingOptions.size(), 1u);
    EXPECT_EQ(State.PendingOptions[0].Kind, TMediaKind::Audio);

    TPrivateOptions audio;
    EXPECT_EQ(EngineError([&] {
                  Library.TakePendingEncoderOptions(Encoder("mp2"), audio, TMediaKind::Audio);
              }),
              "not for audio");
    EXPECT_TRUE(audio.empty());
    EXPECT_TRUE(State.PendingOptions.empty());
}

// Once the encoder is named, its own options are checked at once and kept
// for its next stream; a value it refuses is not kept.
TEST_F(LibraryOptions, NamedEncodersTakeTheirOptionsAtOnce) {
    State.HasVideoCodecName = true;
    State.VideoCodecName = "mpeg4";
    EXPECT_TRUE(Set("mpeg_quant", "1"));
    EXPECT_FALSE(Set("mpeg_quant", "abc"));
    EXPECT_TRUE(Library.SetPrivateOption(TMediaKind::Video, "mpeg_quant", "0"));
    EXPECT_EQ(State.PrivateOptions[TMediaKind::Video], (TPrivateOptions{{"mpeg_quant", "0"}}));
    EXPECT_FALSE(Library.SetPrivateOption(TMediaKind::Audio, "mpeg_quant", "0"));
    EXPECT_TRUE(State.PendingOptions.empty());
}

// The requested muxer's own options are kept for the next output; waiting
// ones it knows are set on it when it opens, the rest reported or refused,
// and those of one kind wait on for that kind's stream.
TEST_F(LibraryOptions, TheMuxerTakesWhatItKnows) {
    State.FormatName = "mpegts";
    EXPECT_TRUE(Set("mpegts_service_id", "9"));
    EXPECT_EQ(State.FormatPrivateOptions, (TPrivateOptions{{"mpegts_service_id", "9"}}));
    State.FormatName.clear();
    EXPECT_TRUE(Set("mpegts_transport_stream_id", "7"));
    EXPECT_TRUE(Set("nosuchmuxeroption", "1"));
    EXPECT_TRUE(Set("nosuchvideooption", "8", TMediaKind::Video, "video refusal"));
    EngineLog log;
    WithMuxer("mpegts", [&](AVFormatContext* context) {
        Library.TakePendingMuxerOptions(context);
        int64_t id = 0;
        ASSERT_GE(ff::avutil.av_opt_get_int(context, "mpegts_transport_stream_id",
                                            AV_OPT_SEARCH_CHILDREN, &id),
                  0);
        EXPECT_EQ(id, 7);
    });
    EXPECT_TRUE(log.Contains("Unrecognized option 'nosuchmuxeroption'"));
    ASSERT_EQ(State.PendingOptions.size(), 1u);
    EXPECT_EQ(State.PendingOptions[0].Name, "nosuchvideooption");

    EXPECT_TRUE(Set("mpegts_transport_stream_id", "abc", TMediaKind::Any, "bad id"));
    WithMuxer("mpegts", [&](AVFormatContext* context) {
        EXPECT_EQ(EngineError([&] { Library.TakePendingMuxerOptions(context); }), "bad id");
    });
}

// A rate the libraries share between kinds reaches only the kind it was
// given for: unprefixed it is video's, with a kind's letter that kind's.
TEST_F(LibraryOptions, SharedRatesReachOnlyTheirKind) {
    EXPECT_TRUE(Library.SetCodecOption("b", "64000", TMediaKind::Audio));
    EXPECT_EQ(Library.Contexts().CodecOptions[1]->bit_rate, 64000);
    EXPECT_TRUE(Library.RecordedOptionFor("b", TMediaKind::Audio));
    EXPECT_FALSE(Library.RecordedOptionFor("b", TMediaKind::Video));
    EXPECT_TRUE(Library.SetCodecOption("maxrate", "900000", TMediaKind::Any));
    EXPECT_TRUE(Library.RecordedOptionFor("maxrate", TMediaKind::Video));
    EXPECT_FALSE(Library.RecordedOptionFor("maxrate", TMediaKind::Audio));
    // The letter wins over the hint.
    EXPECT_TRUE(Library.SetCodecOption("vb", "500000", TMediaKind::Audio));
    EXPECT_EQ(Library.Contexts().CodecOptions[0]->bit_rate, 500000);
    EXPECT_EQ(Library.Contexts().CodecOptions[1]->bit_rate, 64000);
    EXPECT_TRUE(Library.RecordedOptionFor("b", TMediaKind::Video));
    EXPECT_TRUE(Library.RecordedOptionFor("g", TMediaKind::Audio)); // not shared
}
