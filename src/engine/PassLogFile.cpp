#include "engine/PassLogFile.h"

#include "engine/PassTwoRate.h"
#include "media/FFmpegLoader.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cstdio>

namespace {

// The MPEG-family encoders of the libraries abort the program (their rate
// control is freed twice) when they refuse a second pass's rate as too low,
// so such a rate ends the task here, with the rate that would do.
void CheckPassTwoRate(const TOutputStream& ost, const std::string& stats) {
    const AVCodecContext* encoder = ost.Encoder;
    const AVCodec* codec = ost.Setup->Encoder ? ost.Setup->Encoder
                                              : ff::avcodec.avcodec_find_encoder(encoder->codec_id);
    if (!codec || !codec->name || !KeepsMpegFamilyStatistics(codec->name)) return;
    TPassTwoPicture picture;
    picture.BFrames = encoder->max_b_frames;
    picture.QMax = encoder->qmax;
    picture.BQuantFactor = encoder->b_quant_factor;
    picture.BQuantOffset = encoder->b_quant_offset;
    picture.IQuantFactor = encoder->i_quant_factor;
    picture.IQuantOffset = encoder->i_quant_offset;
    if (encoder->time_base.num > 0 && encoder->time_base.den > 0)
        picture.FrameRate = static_cast<double>(encoder->time_base.den) / encoder->time_base.num /
                            std::max(encoder->ticks_per_frame, 1);
    const int64_t lowest = LowestPassTwoBitRate(stats, picture);
    if (lowest < 0 || encoder->bit_rate >= lowest) return;
    throw FFmpegException(FormatText(
        "Video bit rate %lld b/s is too low for the second pass of output stream #%d.%d: "
        "its first pass needs at least %lld b/s",
        static_cast<long long>(encoder->bit_rate), ost.FileIndex, ost.StreamIndex,
        static_cast<long long>(lowest)));
}

} // namespace

void OpenPassLog(TOutputStream& ost, int index, const std::string& baseName) {
    AVCodecContext* encoder = ost.Encoder;
    if (!(encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
    std::string name = (baseName.empty() ? std::string("ffmpeg2pass") : baseName) + "-" +
                       std::to_string(index) + ".log";
    if (name.size() > 1023) name.resize(1023);
    // libx264 reads and writes its statistics itself, under this name
    // rather than a fixed one in the working folder.
    const AVCodec* codec = ost.Setup ? ost.Setup->Encoder : nullptr;
    if (codec && std::string(codec->name) == "libx264" && encoder->priv_data) {
        ff::avutil.av_opt_set(encoder->priv_data, "stats", name.c_str(), 0);
        return;
    }
    if (encoder->flags & AV_CODEC_FLAG_PASS1) {
        ost.Writing.PassLog = std::fopen(name.c_str(), "wb");
        if (!ost.Writing.PassLog)
            throw FFmpegException(
                FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return;
    }
    uint8_t* buffer = nullptr;
    int size = 0;
    const int code = ReadWholeFile(name, buffer, size);
    if (code == -12)
        throw FFmpegException(FormatText(
            "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
            name.c_str()));
    if (code < 0)
        throw FFmpegException(FormatText(
            "Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
    encoder->stats_in = reinterpret_cast<char*>(buffer); // freed when the encoder closes
    CheckPassTwoRate(ost, std::string(encoder->stats_in, static_cast<std::size_t>(size)));
}
