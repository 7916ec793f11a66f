// The sound output driven alone with an MP2 encoder (whole frames of 1152
// samples, no short last frame): the samples are cut into the encoder's
// frames, the end is padded with silence, and the frames' times follow the
// sync stream only where it moves away by more than the drift threshold.
#include "engine/SoundOutput.h"
#include "EngineTestSupport.h"

#include <vector>

namespace {

constexpr int kRate = 44100;

struct SentFrame {
    int64_t Pts = 0;
    int Samples = 0;
    std::vector<int16_t> Data; // interleaved stereo
};

struct SoundOutput : ::testing::Test {
    TSoundOptions Options;
    AVFormatContext* Output = nullptr;
    ff::CodecContextPtr Encoder;
    TInputStream Source;
    TOutputStream Stream;
    std::vector<SentFrame> Sent;

    void SetUp() override {
        RequireLibraries();
        Options.AudioDriftThreshold = 0.1f;
        ASSERT_GE(ff::avformat.avformat_alloc_output_context2(&Output, nullptr, "null", nullptr),
                  0);
        const AVCodec* mp2 = ff::avcodec.avcodec_find_encoder(AV_CODEC_ID_MP2);
        ASSERT_NE(mp2, nullptr);
        Encoder.reset(ff::avcodec.avcodec_alloc_context3(mp2));
        Encoder->sample_fmt = AV_SAMPLE_FMT_S16;
        Encoder->sample_rate = kRate;
        Encoder->bit_rate = 128000;
        ff::avutil.av_channel_layout_default(&Encoder->ch_layout, 2);
        ASSERT_GE(ff::avcodec.avcodec_open2(Encoder.get(), mp2, nullptr), 0);
        ASSERT_EQ(Encoder->frame_size, 1152);
        Stream.Output = Output;
        Stream.Encoder = Encoder.get();
        Stream.EncoderOpen = true;
        Stream.Audio.Fifo.reset(ff::avutil.av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, 2, 1024));
        Stream.Audio.AudioFrame.reset(ff::avutil.av_frame_alloc());
    }
    void TearDown() override { ff::avformat.avformat_free_context(Output); }

    TSoundOutput Sound() {
        return TSoundOutput(Options, [this](TOutputStream&, AVFrame* frame) {
            SentFrame sent{frame->pts, frame->nb_samples, {}};
            const auto* data = reinterpret_cast<const int16_t*>(frame->data[0]);
            sent.Data.assign(data, data + 2 * frame->nb_samples);
            Sent.push_back(sent);
        });
    }
    // `count` stereo samples of `value`, the sync stream at `pts` microseconds.
    void Give(TSoundOutput& sound, int count, int16_t value, int64_t pts) {
        ff::FramePtr frame(ff::avutil.av_frame_alloc());
        frame->format = AV_SAMPLE_FMT_S16;
        frame->sample_rate = kRate;
        frame->nb_samples = count;
        ff::avutil.av_channel_layout_default(&frame->ch_layout, 2);
        ASSERT_GE(ff::avutil.av_frame_get_buffer(frame.get(), 0), 0);
        auto* data = reinterpret_cast<int16_t*>(frame->data[0]);
        std::fill(data, data + 2 * count, value);
        sound.Output(Stream, Source, pts, frame.get(), 0);
    }
};

} // namespace

TEST_F(SoundOutput, SamplesAreCutIntoWholeFramesAndTheEndIsPaddedWithSilence) {
    TSoundOutput sound = Sound();
    Give(sound, 1000, 1000, 0);
    EXPECT_TRUE(Sent.empty()); // less than a frame waits
    Give(sound, 1000, 1000, 1000000LL * 1000 / kRate);
    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Pts, 0);
    EXPECT_EQ(Sent[0].Samples, 1152);
    sound.Flush(Stream);
    ASSERT_EQ(Sent.size(), 2u);
    EXPECT_EQ(Sent[1].Pts, 1152);
    ASSERT_EQ(Sent[1].Samples, 1152);
    // 848 samples left, the rest of the frame silent.
    EXPECT_EQ(Sent[1].Data[2 * 847 + 1], 1000);
    EXPECT_EQ(Sent[1].Data[2 * 848], 0);
    EXPECT_EQ(Sent[1].Data[2 * 1151 + 1], 0);
    EXPECT_EQ(Stream.SyncOpts, 2304);
    EXPECT_EQ(Stream.FrameNumber, 2);
}

TEST_F(SoundOutput, FramesFollowTheSyncStreamOnlyBeyondTheDriftThreshold) {
    TSoundOutput sound = Sound();
    Give(sound, 1152, 1, 0);
    // A millisecond late: well inside the threshold, the samples go on.
    Give(sound, 1152, 1, 1000000LL * 1152 / kRate + 1000);
    // Two seconds on: the samples start at the sync stream's time.
    Give(sound, 1152, 1, 2000000);
    ASSERT_EQ(Sent.size(), 3u);
    EXPECT_EQ(Sent[0].Pts, 0);
    EXPECT_EQ(Sent[1].Pts, 1152);
    EXPECT_EQ(Sent[2].Pts, 2 * kRate);
}
