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
