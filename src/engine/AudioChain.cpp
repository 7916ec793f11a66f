#include "engine/AudioChain.h"

#include "media/AVFilterEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFmpegHeaders.h"
#include "media/FilterLink.h"

#include <cstdio>

namespace {

std::string LayoutText(const AVFrame* samples) {
    char text[128] = {};
    if (samples->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
        ff::avutil.av_channel_layout_describe(&samples->ch_layout, text, sizeof text) < 0) {
        AVChannelLayout fallback{};
        ff::avutil.av_channel_layout_default(&fallback, samples->ch_layout.nb_channels);
        ff::avutil.av_channel_layout_describe(&fallback, text, sizeof text);
    }
    return text;
}

std::string SourceArgs(const AVFrame* samples, const std::string& layout) {
    const char* format =
        ff::avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(samples->format));
    char args[256];
    std::snprintf(
        args, sizeof args, "time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
        samples->sample_rate, samples->sample_rate, format ? format : "flt", layout.c_str());
    return args;
}

} // namespace

TAudioChain::~TAudioChain() {
    Free();
    if (FOut) ff::avutil.av_frame_free(&FOut);
}

void TAudioChain::SetText(const std::string& text) {
    if (text == FText) return;
    Free();
    FText = text;
}

void TAudioChain::Free() {
    if (FGraph) ff::avfilter.avfilter_graph_free(&FGraph);
    FSource = FSink = nullptr;
    FRate = FChannels = 0;
    FFormat = -1;
}

bool TAudioChain::Matches(const AVFrame* samples) const {
    return FGraph && FRate == samples->sample_rate && FFormat == samples->format &&
           FChannels == samples->ch_layout.nb_channels;
}

AVFrame* TAudioChain::Run(AVFrame* samples) {
    if (FText.empty()) return samples;
    if (!Matches(samples) && !Build(samples)) {
        FFailed = true;
        return nullptr;
    }
    if (!FOut) FOut = ff::avutil.av_frame_alloc();
    if (!FOut) {
        FFailed = true;
        return nullptr;
    }
    ff::avutil.av_frame_unref(FOut);
    if (ff::avfilter.av_buffersrc_add_frame_flags(FSource, samples, AV_BUFFERSRC_FLAG_KEEP_REF) <
        0) {
        FFailed = true;
        return nullptr;
    }
    const int code = ff::avfilter.av_buffersink_get_frame(FSink, FOut);
    if (code == AVERROR(EAGAIN)) return nullptr;
    if (code < 0) FFailed = true;
    return code < 0 ? nullptr : FOut;
}

bool TAudioChain::Build(const AVFrame* samples) {
    Free();
    FGraph = ff::avfilter.avfilter_graph_alloc();
    if (!FGraph) return false;
    const std::string layout = LayoutText(samples);
    const std::string args = SourceArgs(samples, layout);
    if (ff::avfilter.avfilter_graph_create_filter(&FSource,
                                                  ff::avfilter.avfilter_get_by_name("abuffer"),
                                                  "src", args.c_str(), nullptr, FGraph) < 0 ||
        ff::avfilter.avfilter_graph_create_filter(&FSink,
                                                  ff::avfilter.avfilter_get_by_name("abuffersink"),
                                                  "out", nullptr, nullptr, FGraph) < 0 ||
        LinkByText(FGraph, FText.c_str(), FSource, FSink) < 0 ||
        ff::avfilter.avfilter_graph_config(FGraph, nullptr) < 0) {
        Free();
        return false;
    }
    FRate = samples->sample_rate;
    FFormat = samples->format;
    FChannels = samples->ch_layout.nb_channels;
    return true;
}
