// The colour of encoded pictures: HDR sources (PQ, HLG) are tone-mapped to
// SDR BT.709 inside the stream's filter graph, or ahead of the frame hook
// when one is on, and the output is tagged so; SDR sources pass untouched.
#include "engine/FFmpegTranscoder.h"

#include "media/FFmpegLogger.h"
#include "media/FilterLink.h"
#include "media/ToneMap.h"

void TTranscoder::PrepareToneMap(TInputStream& ist, TOutputStream& ost) {
    ost.Video.ToneMap.clear();
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
