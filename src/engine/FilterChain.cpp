#include "engine/FilterChain.h"

#include "media/AVFilterEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFmpegHeaders.h"
#include "media/FilterLink.h"

TFilterChain::~TFilterChain() {
    Free();
    if (FOut) ff::avutil.av_frame_free(&FOut);
}

void TFilterChain::SetText(const std::string& text) {
    if (text == FText) return;
    Free();
    FText = text;
}

void TFilterChain::Free() {
    if (FGraph) ff::avfilter.avfilter_graph_free(&FGraph);
    FSource = FSink = nullptr;
    FShape = TShape{};
}

TFilterChain::TShape TFilterChain::ShapeOf(const AVFrame* frame) const {
    if (FMedia == TChainMedia::Pictures) return {frame->width, frame->height, frame->format};
    return {frame->sample_rate, frame->ch_layout.nb_channels, frame->format};
}

AVFrame* TFilterChain::Fail() {
    FFailed = true;
    return nullptr;
}

AVFrame* TFilterChain::Run(AVFrame* frame) {
    if (FText.empty()) return frame;
    if ((!FGraph || ShapeOf(frame) != FShape) && !Build(frame)) return Fail();
    if (!FOut) FOut = ff::avutil.av_frame_alloc();
    if (!FOut) return Fail();
    ff::avutil.av_frame_unref(FOut);
    if (ff::avfilter.av_buffersrc_add_frame_flags(FSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
        return Fail();
    const int code = ff::avfilter.av_buffersink_get_frame(FSink, FOut);
    if (code == AVERROR(EAGAIN)) return nullptr;
    return code < 0 ? Fail() : FOut;
}

// The graph's source, made for this frame, and its sink.
bool TFilterChain::AddEnds(const AVFrame* frame) {
    const bool pictures = FMedia == TChainMedia::Pictures;
    std::string args;
    if (pictures) {
        const AVRational sar =
            frame->sample_aspect_ratio.num ? frame->sample_aspect_ratio : AVRational{0, 1};
        args = BufferSourceArgs(frame->width, frame->height, frame->format,
                                AVRational{1, AV_TIME_BASE}, sar);
    } else {
        args = SoundSourceArgs(frame->sample_rate, frame->format, frame->ch_layout);
    }
    const AVFilter* source = ff::avfilter.avfilter_get_by_name(pictures ? "buffer" : "abuffer");
    const AVFilter* sink =
        ff::avfilter.avfilter_get_by_name(pictures ? "buffersink" : "abuffersink");
    return ff::avfilter.avfilter_graph_create_filter(&FSource, source, "src", args.c_str(), nullptr,
                                                     FGraph) >= 0 &&
           ff::avfilter.avfilter_graph_create_filter(&FSink, sink, "out", nullptr, nullptr,
                                                     FGraph) >= 0;
}

bool TFilterChain::Build(const AVFrame* frame) {
    Free();
    FGraph = ff::avfilter.avfilter_graph_alloc();
    if (!FGraph) return false;
    if (!AddEnds(frame) || LinkByText(FGraph, FText.c_str(), FSource, FSink) < 0 ||
        ff::avfilter.avfilter_graph_config(FGraph, nullptr) < 0) {
        Free();
        return false;
    }
    FShape = ShapeOf(frame);
    return true;
}
