#include "media/FilterLink.h"

#include "media/AVFilterEntries.h"
#include "media/AVUtilEntries.h"
#include "media/MyUtils.h"

int LinkByText(AVFilterGraph* graph, const char* text, AVFilterContext* from, AVFilterContext* to) {
    AVFilterInOut* outputs = ff::avfilter.avfilter_inout_alloc();
    AVFilterInOut* inputs = ff::avfilter.avfilter_inout_alloc();
    int code = AVERROR(ENOMEM);
    if (outputs && inputs) {
        outputs->name = ff::avutil.av_strdup("in");
        outputs->filter_ctx = from;
        inputs->name = ff::avutil.av_strdup("out");
        inputs->filter_ctx = to;
        code = ff::avfilter.avfilter_graph_parse_ptr(graph, text, &inputs, &outputs, nullptr);
    }
    ff::avfilter.avfilter_inout_free(&outputs);
    ff::avfilter.avfilter_inout_free(&inputs);
    return code;
}

std::string BufferSourceArgs(int width, int height, int format, AVRational timeBase,
                             AVRational pixelAspect) {
    if (pixelAspect.den <= 0) pixelAspect = AVRational{0, 1};
    return FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", width,
                      height, format, timeBase.num, timeBase.den, pixelAspect.num, pixelAspect.den);
}

namespace {

std::string LayoutText(const AVChannelLayout& layout) {
    char text[128] = {};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC ||
        ff::avutil.av_channel_layout_describe(&layout, text, sizeof text) < 0) {
        AVChannelLayout fallback{};
        ff::avutil.av_channel_layout_default(&fallback, layout.nb_channels);
        ff::avutil.av_channel_layout_describe(&fallback, text, sizeof text);
    }
    return text;
}

} // namespace

std::string SoundSourceArgs(int sampleRate, int format, const AVChannelLayout& layout) {
    const char* name = ff::avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(format));
    return FormatText("time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s", sampleRate,
                      sampleRate, name ? name : "flt", LayoutText(layout).c_str());
}
