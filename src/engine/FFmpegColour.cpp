// The colour of encoded pictures: HDR sources (PQ, HLG) are tone-mapped to
// SDR BT.709 inside the stream's filter graph, or ahead of the frame hook
// when one is on, and the output is tagged so; SDR sources pass untouched.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/FilterLink.h"
#include "media/ToneMap.h"

#include <cmath>
#include <cstdio>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
}

void TTranscoder::PrepareToneMap(TInputStream& ist, TOutputStream& ost) {
    ost.Video.ToneMap.clear();
    if (KeepsHdr(ost)) {
        KeepHdrColours(ist, ost);
        return;
    }
    const TColourDescription colour = ColourOf(*ist.Stream->codecpar);
    if (!IsHdr(colour)) return;
    AVCodecContext* encoder = ost.Encoder;
    if (!ToneMapAvailable()) {
        Log(llWarning, FormatText("Stream #%d.%d is HDR but the filter library cannot tone-map "
                                  "(no zscale or lutrgb filter): its colours are kept as they are",
                                  ist.FileIndex, ist.StreamIndex));
        return;
    }
    if (HookOn()) {
        ToneMapAheadOfHook(ist);
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

bool TTranscoder::HookOn() const {
    return FEngine.OnHookCallback || FOptions.UsingVhook;
}

// An HDR source's pictures are tone-mapped before the hook sees them, into
// the source's own pixel format (the filter graphs and scalers after the
// hook are built for it).
void TTranscoder::ToneMapAheadOfHook(TInputStream& ist) {
    const TColourDescription colour = ColourOf(*ist.Stream->codecpar);
    if (!IsHdr(colour) || !ToneMapAvailable()) return;
    const char* format =
        ff::avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(ist.Stream->codecpar->format));
    if (!ist.HookToneMap) ist.HookToneMap = std::make_unique<TPictureChain>();
    ist.HookToneMap->SetText(ToneMapFilterText(colour, format ? format : "yuv420p"));
}

// Appends the filters of `text` after `last`; `last` becomes the chain's
// end (a pass-through filter, so that the chain can be followed by more).
int TTranscoder::LinkFilterChain(AVFilterGraph* graph, const std::string& text,
                                 AVFilterContext*& last) {
    AVFilterContext* end = nullptr;
    const AVFilter* pass = ff::avfilter.avfilter_get_by_name("null");
    if (!pass || ff::avfilter.avfilter_graph_create_filter(&end, pass, "tonemapped", nullptr,
                                                           nullptr, graph) < 0)
        return -1;
    const int code = LinkByText(graph, text.c_str(), last, end);
    if (code < 0) return code;
    last = end;
    return 0;
}

// ---- keeping HDR ------------------------------------------------------------

namespace {

int DepthOf(int format) {
    const AVPixFmtDescriptor* desc =
        ff::avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return desc ? desc->comp[0].depth : 8;
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

} // namespace

// With KeepHdr a deep source is encoded as 10-bit 4:2:0 where the encoder
// offers it, any other as 8-bit 4:2:0.
void TTranscoder::KeepSourceDepth(const TInputStream& ist, TOutputStream& ost) {
    if (!FOptions.KeepHdr) return;
    const AVPixelFormat wanted =
        DepthOf(ist.Stream->codecpar->format) > 8 ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
    if (Offers(ost.Setup->Encoder, wanted)) ost.Encoder->pix_fmt = wanted;
}

bool TTranscoder::KeepsHdr(const TOutputStream& ost) const {
    return FOptions.KeepHdr && DepthOf(ost.Encoder->pix_fmt) > 8;
}

// The source's colour description goes to the encoder and its mastering
// display and light levels to the stream (containers) and to the encoders
// that write them into the pictures.
void TTranscoder::KeepHdrColours(const TInputStream& ist, TOutputStream& ost) {
    const AVCodecParameters* in = ist.Stream->codecpar;
    AVCodecContext* encoder = ost.Encoder;
    encoder->color_primaries = in->color_primaries;
    encoder->color_trc = in->color_trc;
    encoder->colorspace = in->color_space;
    encoder->color_range =
        in->color_range == AVCOL_RANGE_JPEG ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    encoder->chroma_sample_location = in->chroma_location;
    PassHdrMetadata(ist, ost);
}

void TTranscoder::PassHdrMetadata(const TInputStream& ist, TOutputStream& ost) {
    const std::string name = ost.Encoder->codec   ? ost.Encoder->codec->name
                             : ost.Setup->Encoder ? ost.Setup->Encoder->name
                                                  : "";
    const bool x265 = name == "libx265", svt = name == "libsvtav1";
    const std::string option = x265 ? "x265-params" : "svtav1-params";
    TPrivateOptions& privates = ost.Setup->PrivateOptions;
    for (int i = 0; i < ist.Stream->nb_side_data; ++i) {
        const AVPacketSideData& data = ist.Stream->side_data[i];
        if (data.type != AV_PKT_DATA_MASTERING_DISPLAY_METADATA &&
            data.type != AV_PKT_DATA_CONTENT_LIGHT_LEVEL)
            continue;
        uint8_t* copy = ff::avformat.av_stream_new_side_data(ost.Stream, data.type, data.size);
        if (!copy) throw FFmpegException("av_mallocz fail");
        std::copy(data.data, data.data + data.size, copy);
        if (!x265 && !svt) continue;
        if (data.type == AV_PKT_DATA_MASTERING_DISPLAY_METADATA) {
            const auto* m = reinterpret_cast<const AVMasteringDisplayMetadata*>(data.data);
            if (m->has_primaries && m->has_luminance)
                AppendParameter(privates, option,
                                std::string(x265 ? "master-display=" : "mastering-display=") +
                                    MasteringText(*m, x265));
        } else {
            const auto* l = reinterpret_cast<const AVContentLightMetadata*>(data.data);
            AppendParameter(privates, option,
                            std::string(x265 ? "max-cll=" : "content-light=") +
                                std::to_string(l->MaxCLL) + "," + std::to_string(l->MaxFALL));
        }
    }
    Log(llVerbose, FormatText("Stream #%d.%d: bit depth and HDR colours kept", ist.FileIndex,
                              ist.StreamIndex));
}
