// The decoder's pictures laid out for an MPEG-family encoder: only where the
// encoder takes them unchanged, and the pictures and the coded output the
// same as with the decoder's own buffers.
#include "engine/DecoderPictureLayout.h"

#include "EngineTestSupport.h"
#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFHandles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 256; // 16 x 9 macroblocks
constexpr int kHeight = 144;

ff::CodecContextPtr Context(const AVCodec* codec, int width, int height, AVPixelFormat format) {
    ff::CodecContextPtr context(ff::avcodec.avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->pix_fmt = format;
    return context;
}

ff::CodecContextPtr Encoder(AVCodecID id, int width = kWidth, int height = kHeight,
                            AVPixelFormat format = AV_PIX_FMT_YUV420P) {
    return Context(ff::avcodec.avcodec_find_encoder(id), width, height, format);
}

ff::CodecContextPtr H264Decoder(int width = kWidth, int height = kHeight) {
    return Context(ff::avcodec.avcodec_find_decoder(AV_CODEC_ID_H264), width, height,
                   AV_PIX_FMT_YUV420P);
}

// Decodes every picture of the file's first video stream, the decoder laid
// out for `bufferWidth` (0: its own buffers) once it is open.
std::vector<ff::FramePtr> DecodeAll(const std::string& file, int bufferWidth) {
    std::vector<ff::FramePtr> pictures;
    AVFormatContext* raw = nullptr;
    if (ff::avformat.avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) return pictures;
    ff::InputContextPtr input(raw); // closes the file it opened
    ff::avformat.avformat_find_stream_info(raw, nullptr);
    const int stream =
        ff::avformat.av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) return pictures;
    const AVCodecParameters* par = raw->streams[stream]->codecpar;
    ff::CodecContextPtr decoder(
        ff::avcodec.avcodec_alloc_context3(ff::avcodec.avcodec_find_decoder(par->codec_id)));
    ff::avcodec.avcodec_parameters_to_context(decoder.get(), par);
    decoder->thread_count = 2; // the frame threads take up the layout too
    if (ff::avcodec.avcodec_open2(decoder.get(), decoder->codec, nullptr) < 0) return pictures;
    LayDecoderPictures(decoder.get(), bufferWidth);
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    auto receive = [&] {
        for (;;) {
            ff::FramePtr frame(ff::avutil.av_frame_alloc());
            if (ff::avcodec.avcodec_receive_frame(decoder.get(), frame.get()) < 0) return;
            pictures.push_back(std::move(frame));
        }
    };
    while (ff::avformat.av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == stream)
            ff::avcodec.avcodec_send_packet(decoder.get(), packet.get());
        ff::avcodec.av_packet_unref(packet.get());
        receive();
    }
    ff::avcodec.avcodec_send_packet(decoder.get(), nullptr);
    receive();
    return pictures;
}

bool SamePicture(const AVFrame& a, const AVFrame& b) {
    if (a.width != b.width || a.height != b.height || a.format != b.format) return false;
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane ? a.width / 2 : a.width;
        const int height = plane ? a.height / 2 : a.height;
        for (int y = 0; y < height; ++y)
            if (std::memcmp(a.data[plane] + y * a.linesize[plane],
                            b.data[plane] + y * b.linesize[plane], width) != 0)
                return false;
    }
    return true;
}

// The MPEG-2 stream the encoder makes of the pictures, packet after packet.
std::string EncodeMpeg2(const std::vector<ff::FramePtr>& pictures) {
    ff::CodecContextPtr encoder = Encoder(AV_CODEC_ID_MPEG2VIDEO);
    encoder->time_base = AVRational{1, 25};
    encoder->thread_count = 1;
    if (ff::avcodec.avcodec_open2(encoder.get(), encoder->codec, nullptr) < 0) return {};
    std::string coded;
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    auto receive = [&] {
        while (ff::avcodec.avcodec_receive_packet(encoder.get(), packet.get()) >= 0) {
            coded.append(reinterpret_cast<const char*>(packet->data),
                         static_cast<std::size_t>(packet->size));
            ff::avcodec.av_packet_unref(packet.get());
        }
    };
    int64_t pts = 0;
    for (const ff::FramePtr& picture : pictures) {
        picture->pts = pts++;
        picture->pict_type = AV_PICTURE_TYPE_NONE;
        ff::avcodec.avcodec_send_frame(encoder.get(), picture.get());
        receive();
    }
    ff::avcodec.avcodec_send_frame(encoder.get(), nullptr);
    receive();
    return coded;
}

std::vector<TOutputStream> VideoOutputs(std::vector<std::pair<int, AVCodecContext*>> streams) {
    std::vector<TOutputStream> outputs(streams.size());
    for (std::size_t i = 0; i < streams.size(); ++i) {
        TOutputStream& ost = outputs[i];
        ost.SourceIndex = streams[i].first;
        ost.Encoder = streams[i].second;
        ost.EncoderOpen = true;
        ost.EncodingNeeded = true;
        ost.MediaType = AVMEDIA_TYPE_VIDEO;
    }
    return outputs;
}

} // namespace

TEST(DecoderPictureLayout, WiderOnlyForAnEncoderThatTakesThePicturesAsTheyAre) {
    RequireLibraries();
    const ff::CodecContextPtr decoder = H264Decoder();
    // The border of 16 pixels on each side of the encoder's own pictures.
    EXPECT_EQ(DecoderBufferWidth(*decoder, *Encoder(AV_CODEC_ID_MPEG2VIDEO)), kWidth + 32);
    EXPECT_EQ(DecoderBufferWidth(*decoder, *Encoder(AV_CODEC_ID_MPEG4)), kWidth + 32);
    // Scaled, converted or not in whole macroblocks: the encoder gets
    // another picture or copies anyway.
    EXPECT_EQ(DecoderBufferWidth(*decoder, *Encoder(AV_CODEC_ID_MPEG2VIDEO, 320, 240)), 0);
    EXPECT_EQ(DecoderBufferWidth(
                  *decoder, *Encoder(AV_CODEC_ID_MPEG2VIDEO, kWidth, kHeight, AV_PIX_FMT_YUV422P)),
              0);
    EXPECT_EQ(DecoderBufferWidth(*H264Decoder(170, 144), *Encoder(AV_CODEC_ID_MPEG2VIDEO, 170)), 0);
    // An encoder of another kind.
    EXPECT_EQ(DecoderBufferWidth(*decoder, *Encoder(AV_CODEC_ID_FFV1)), 0);

    // For the decoder of input stream 1: the outputs of that stream decide.
    const ff::CodecContextPtr mpeg2 = Encoder(AV_CODEC_ID_MPEG2VIDEO);
    const ff::CodecContextPtr small = Encoder(AV_CODEC_ID_MPEG2VIDEO, 320, 240);
    ff::CodecContextPtr laid = H264Decoder();
    LayPicturesForEncoders(laid.get(), 1, VideoOutputs({{0, small.get()}, {1, mpeg2.get()}}));
    EXPECT_NE(laid->get_buffer2, decoder->get_buffer2);
    // One output of the stream copies anyway: the decoder keeps its buffers.
    ff::CodecContextPtr own = H264Decoder();
    LayPicturesForEncoders(own.get(), 1, VideoOutputs({{1, small.get()}, {1, mpeg2.get()}}));
    EXPECT_EQ(own->get_buffer2, decoder->get_buffer2);
}

TEST(DecoderPictureLayout, WidePicturesAreTheSamePicturesAndCodeTheSame) {
    RequireLibraries();
    testsupport::TempDir dir;
    const std::string source = dir.file("source.mp4");
    ASSERT_TRUE(testsupport::MakeMedia(
        source, "-f lavfi -i testsrc2=size=256x144:rate=25 -t 0.6 -pix_fmt yuv420p -c:v libx264"));
    const std::vector<ff::FramePtr> own = DecodeAll(source, 0);
    const std::vector<ff::FramePtr> wide = DecodeAll(source, kWidth + 32);
    ASSERT_EQ(own.size(), 15u);
    ASSERT_EQ(wide.size(), own.size());
    for (std::size_t i = 0; i < own.size(); ++i) {
        EXPECT_GE(wide[i]->linesize[0], kWidth + 32) << "picture " << i;
        EXPECT_GT(wide[i]->linesize[0], own[i]->linesize[0]) << "picture " << i;
        EXPECT_TRUE(SamePicture(*own[i], *wide[i])) << "picture " << i;
    }
    const std::string coded = EncodeMpeg2(own);
    EXPECT_FALSE(coded.empty());
    EXPECT_EQ(EncodeMpeg2(wide), coded);
}
