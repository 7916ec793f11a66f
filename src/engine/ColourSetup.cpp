#include "engine/ColourSetup.h"

#include "media/FFHandles.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/FilterLink.h"
#include "media/LiteralNames.h"
#include "media/NestedOpens.h"
#include "media/ToneMap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
}

TColourSetup::TColourSetup(bool keepHdr, TPictureWork& pictureWork)
    : FKeepHdr(keepHdr), FPictureWork(pictureWork) {}

namespace {

void Log(int level, const std::string& text) {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
}

} // namespace

void TColourSetup::Prepare(const TInputStream& ist, int index, const AVFormatContext& input,
                           TOutputStream& ost) {
    ost.Video.ToneMap.clear();
    const TColourDescription colour = ColourOf(*ist.Stream->codecpar);
    if (KeepsHdr(ost) && !EditsDropHdr(ist, colour)) {
        KeepHdrColours(ist, input, ost);
        return;
    }
    if (!IsHdr(colour)) return;
    AVCodecContext* encoder = ost.Encoder;
    if (!ToneMapAvailable()) {
        Log(llWarning, FormatText("Stream #%d.%d is HDR but the filter library cannot tone-map "
                                  "(no zscale or lutrgb filter): its colours are kept as they are",
                                  ist.FileIndex, ist.StreamIndex));
        return;
    }
    if (FPictureWork.HookOn()) {
        ToneMapAheadOfHook(ist, index);
    } else {
        const char* format = ff::avutil.av_get_pix_fmt_name(encoder->pix_fmt);
        ost.Video.ToneMap = ToneMapFilterText(colour, format ? format : "yuv420p");
    }
    encoder->color_primaries = AVCOL_PRI_BT709;
    encoder->color_trc = AVCOL_TRC_BT709;
    encoder->colorspace = AVCOL_SPC_BT709;
    encoder->color_range = AVCOL_RANGE_MPEG;
    Log(llVerbose, FormatText("Stream #%d.%d: HDR pictures tone-mapped to SDR BT.709",
                              ist.FileIndex, ist.StreamIndex));
}

// The hook edits 8-bit pictures on the SDR curve (effects, text and image
// layers): an HDR picture it edits is tone-mapped ahead of it and written
// as SDR even where HDR would be kept, since the edits' values mean nothing
// on the HDR curve (a white layer would come out at the peak of PQ).
bool TColourSetup::EditsDropHdr(const TInputStream& ist, const TColourDescription& colour) const {
    if (!IsHdr(colour) || !FPictureWork.HookOn() || !ToneMapAvailable()) return false;
    Log(llWarning, FormatText("Stream #%d.%d: HDR is not kept because the pictures are edited "
                              "(effects or watermarks); written as SDR BT.709",
                              ist.FileIndex, ist.StreamIndex));
    return true;
}

// An HDR source's pictures are tone-mapped before the hook sees them, into
// the source's own pixel format (the filter graphs and scalers after the
// hook are built for it).
void TColourSetup::ToneMapAheadOfHook(const TInputStream& ist, int index) {
    if (!FPictureWork.HookOn()) return;
    const TColourDescription colour = ColourOf(*ist.Stream->codecpar);
    if (!IsHdr(colour) || !ToneMapAvailable()) return;
    const char* format =
        ff::avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(ist.Stream->codecpar->format));
    FPictureWork.ToneMapAheadOfHook(index, ToneMapFilterText(colour, format ? format : "yuv420p"));
}

// ---- keeping HDR ------------------------------------------------------------

namespace {

int DepthOf(int format) {
    const AVPixFmtDescriptor* desc =
        ff::avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return desc ? desc->comp[0].depth : 8;
}

bool HasAlpha(int format) {
    const AVPixFmtDescriptor* desc =
        ff::avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA);
}

bool Offers(const AVCodec* codec, AVPixelFormat format) {
    if (!codec || !codec->pix_fmts) return false;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == format) return true;
    return false;
}

double Ratio(AVRational r) {
    return r.den ? static_cast<double>(r.num) / r.den : 0.0;
}

// The mastering display as x265 and SVT-AV1 take it: "G(x,y)B(x,y)R(x,y)
// WP(x,y)L(max,min)", x265 in its integer units, SVT-AV1 in plain numbers.
std::string MasteringText(const AVMasteringDisplayMetadata& m, bool integerUnits) {
    const auto xy = [&](const AVRational* p) {
        char text[64];
        if (integerUnits)
            std::snprintf(text, sizeof text, "(%ld,%ld)", std::lround(Ratio(p[0]) * 50000),
                          std::lround(Ratio(p[1]) * 50000));
        else
            std::snprintf(text, sizeof text, "(%.4f,%.4f)", Ratio(p[0]), Ratio(p[1]));
        return std::string(text);
    };
    char light[64];
    if (integerUnits)
        std::snprintf(light, sizeof light, "L(%ld,%ld)",
                      std::lround(Ratio(m.max_luminance) * 10000),
                      std::lround(Ratio(m.min_luminance) * 10000));
    else
        std::snprintf(light, sizeof light, "L(%.4f,%.4f)", Ratio(m.max_luminance),
                      Ratio(m.min_luminance));
    return "G" + xy(m.display_primaries[1]) + "B" + xy(m.display_primaries[2]) + "R" +
           xy(m.display_primaries[0]) + "WP" + xy(m.white_point) + light;
}

// Appends key=value to the ":"-separated parameter list of the private option.
void AppendParameter(TPrivateOptions& options, const std::string& option, const std::string& pair) {
    for (auto& [name, value] : options)
        if (name == option) {
            value += (value.empty() ? "" : ":") + pair;
            return;
        }
    options.emplace_back(option, pair);
}

// Side data of the kinds a container carries for HDR10.
struct THdrEntry {
    AVPacketSideDataType Type;
    std::vector<uint8_t> Bytes;
};

bool IsHdrMetadata(int type) {
    return type == AV_PKT_DATA_MASTERING_DISPLAY_METADATA ||
           type == AV_PKT_DATA_CONTENT_LIGHT_LEVEL;
}

std::vector<THdrEntry> StreamHdrEntries(const AVStream& stream) {
    std::vector<THdrEntry> entries;
    for (int i = 0; i < stream.nb_side_data; ++i) {
        const AVPacketSideData& data = stream.side_data[i];
        if (IsHdrMetadata(data.type))
            entries.push_back({data.type, {data.data, data.data + data.size}});
    }
    return entries;
}

// The first decoded picture of the stream, from a second opening of the
// file (the conversion's own reading has not started yet); null when none
// comes within a few hundred packets.
ff::FramePtr FirstPicture(const AVFormatContext& input, int streamIndex) {
    AVFormatContext* opened = ff::avformat.avformat_alloc_context();
    if (!opened) return nullptr;
    ShareNestedOpenCheck(opened, input);
    AVDictionary* rawOptions = nullptr;
    ReadExistingFileAsItself(input.url ? input.url : "", &rawOptions);
    const int code =
        ff::avformat.avformat_open_input(&opened, input.url, input.iformat, &rawOptions);
    const ff::DictionaryPtr options(rawOptions);
    if (code < 0) return nullptr;
    const ff::InputContextPtr file(opened);
    const AVCodecParameters* par = input.streams[streamIndex]->codecpar;
    if (static_cast<int>(file->nb_streams) <= streamIndex ||
        file->streams[streamIndex]->codecpar->codec_id != par->codec_id)
        return nullptr;
    const AVCodec* codec = ff::avcodec.avcodec_find_decoder(par->codec_id);
    ff::CodecContextPtr decoder(codec ? ff::avcodec.avcodec_alloc_context3(codec) : nullptr);
    ff::FramePtr frame(ff::avutil.av_frame_alloc());
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    if (!decoder || !frame || !packet ||
        ff::avcodec.avcodec_parameters_to_context(decoder.get(), par) < 0)
        return nullptr;
    {
        const std::lock_guard<std::mutex> lock(CodecLock());
        if (ff::avcodec.avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;
    }
    for (int read = 0; read < 300 && ff::avformat.av_read_frame(file.get(), packet.get()) >= 0;
         ++read) {
        const bool ours = packet->stream_index == streamIndex;
        const int sent = ours ? ff::avcodec.avcodec_send_packet(decoder.get(), packet.get()) : -1;
        ff::avcodec.av_packet_unref(packet.get());
        if (sent >= 0 && ff::avcodec.avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            const std::lock_guard<std::mutex> lock(CodecLock());
            decoder.reset();
            return frame;
        }
    }
    const std::lock_guard<std::mutex> lock(CodecLock());
    decoder.reset();
    return nullptr;
}

// HDR10 metadata that the source carries only in its pictures (HEVC's
// SEI messages, say) rather than in its container.
std::vector<THdrEntry> PictureHdrEntries(const AVFormatContext& input, int streamIndex) {
    std::vector<THdrEntry> entries;
    const ff::FramePtr frame = FirstPicture(input, streamIndex);
    if (!frame) return entries;
    for (int i = 0; i < frame->nb_side_data; ++i) {
        const AVFrameSideData& data = *frame->side_data[i];
        if (data.type == AV_FRAME_DATA_MASTERING_DISPLAY_METADATA)
            entries.push_back(
                {AV_PKT_DATA_MASTERING_DISPLAY_METADATA, {data.data, data.data + data.size}});
        else if (data.type == AV_FRAME_DATA_CONTENT_LIGHT_LEVEL)
            entries.push_back(
                {AV_PKT_DATA_CONTENT_LIGHT_LEVEL, {data.data, data.data + data.size}});
    }
    return entries;
}

} // namespace

// With KeepHdr a deep source is encoded as 10-bit 4:2:0 where the encoder
// offers it, any other as 8-bit 4:2:0. A transparent source keeps its
// transparency (8-bit 4:2:0 with alpha) where the encoder carries it (VP9),
// unless the hook draws on the pictures: its bitmaps are opaque.
void TColourSetup::KeepSourceDepth(const TInputStream& ist, TOutputStream& ost) const {
    if (!FKeepHdr) return;
    const int source = ist.Stream->codecpar->format;
    AVPixelFormat wanted = DepthOf(source) > 8 ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
    if (HasAlpha(source) && !FPictureWork.HookOn() &&
        Offers(ost.Setup->Encoder, AV_PIX_FMT_YUVA420P))
        wanted = AV_PIX_FMT_YUVA420P;
    if (Offers(ost.Setup->Encoder, wanted)) ost.Encoder->pix_fmt = wanted;
}

bool TColourSetup::KeepsHdr(const TOutputStream& ost) const {
    return FKeepHdr && DepthOf(ost.Encoder->pix_fmt) > 8;
}

// The source's colour description goes to the encoder and its mastering
// display and light levels to the stream (containers) and to the encoders
// that write them into the pictures.
void TColourSetup::KeepHdrColours(const TInputStream& ist, const AVFormatContext& input,
                                  TOutputStream& ost) {
    const AVCodecParameters* in = ist.Stream->codecpar;
    AVCodecContext* encoder = ost.Encoder;
    encoder->color_primaries = in->color_primaries;
    encoder->color_trc = in->color_trc;
    encoder->colorspace = in->color_space;
    encoder->color_range =
        in->color_range == AVCOL_RANGE_JPEG ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    encoder->chroma_sample_location = in->chroma_location;
    PassHdrMetadata(ist, input, ost);
}

void TColourSetup::PassHdrMetadata(const TInputStream& ist, const AVFormatContext& input,
                                   TOutputStream& ost) {
    const std::string name = ost.Encoder->codec   ? ost.Encoder->codec->name
                             : ost.Setup->Encoder ? ost.Setup->Encoder->name
                                                  : "";
    const bool x265 = name == "libx265", svt = name == "libsvtav1";
    const std::string option = x265 ? "x265-params" : "svtav1-params";
    TPrivateOptions& privates = ost.Setup->PrivateOptions;
    std::vector<THdrEntry> entries = StreamHdrEntries(*ist.Stream);
    if (entries.empty() && IsHdr(ColourOf(*ist.Stream->codecpar)))
        entries = PictureHdrEntries(input, ist.StreamIndex);
    for (const THdrEntry& entry : entries) {
        uint8_t* copy =
            ff::avformat.av_stream_new_side_data(ost.Stream, entry.Type, entry.Bytes.size());
        if (!copy) throw FFmpegException("av_mallocz fail");
        std::copy(entry.Bytes.begin(), entry.Bytes.end(), copy);
        if (!x265 && !svt) continue;
        if (entry.Type == AV_PKT_DATA_MASTERING_DISPLAY_METADATA) {
            AVMasteringDisplayMetadata m;
            std::memcpy(&m, entry.Bytes.data(), std::min(sizeof m, entry.Bytes.size()));
            if (m.has_primaries && m.has_luminance)
                AppendParameter(privates, option,
                                std::string(x265 ? "master-display=" : "mastering-display=") +
                                    MasteringText(m, x265));
        } else {
            AVContentLightMetadata l;
            std::memcpy(&l, entry.Bytes.data(), std::min(sizeof l, entry.Bytes.size()));
            AppendParameter(privates, option,
                            std::string(x265 ? "max-cll=" : "content-light=") +
                                std::to_string(l.MaxCLL) + "," + std::to_string(l.MaxFALL));
        }
    }
    Log(llVerbose, FormatText("Stream #%d.%d: bit depth and HDR colours kept", ist.FileIndex,
                              ist.StreamIndex));
}
