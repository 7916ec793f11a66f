#include "engine/VideoFilterGraph.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"
#include "media/FilterLink.h"

namespace {

// Appends the filters of `text` after `last`; `last` becomes the chain's
// end (a pass-through filter, so that the chain can be followed by more).
int LinkFilterChain(AVFilterGraph* graph, const std::string& text, AVFilterContext*& last) {
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

int BuildSteps(const TInputStream& ist, TOutputStream& ost, const TVideoFilterOptions& options,
               std::string& error) {
    AVFilterContext* last = nullptr;
    AVFilterGraph* graph = ost.Video.Graph.get();
    const AVCodecParameters* in = ist.Stream->codecpar;
    AVCodecContext* encoder = ost.Encoder;
    // The graph gets the upright picture.
    const bool turned = IsQuarterTurn(ist.Rotation);
    const int inWidth = turned ? in->height : in->width;
    const int inHeight = turned ? in->width : in->height;
    AVRational sar = in->sample_aspect_ratio.num ? in->sample_aspect_ratio : AVRational{0, 1};
    if (turned && sar.num) sar = AVRational{sar.den, sar.num};
    const std::string sourceArgs =
        BufferSourceArgs(inWidth, inHeight, in->format, AVRational{1, AV_TIME_BASE}, sar);
    auto create = [&](const char* filter, const char* name, const std::string& args,
                      AVFilterContext** context) {
        const AVFilter* f = ff::avfilter.avfilter_get_by_name(filter);
        if (!f) return -1;
        return ff::avfilter.avfilter_graph_create_filter(
            context, f, name, args.empty() ? nullptr : args.c_str(), nullptr, graph);
    };
    if (create("buffer", "src", sourceArgs, &ost.Video.FilterSource) < 0) return -1;
    if (create("buffersink", "out", "", &ost.Video.FilterSink) < 0) return -1;
    const AVPixelFormat formats[] = {encoder->pix_fmt};
    if (ff::avutil.av_opt_set_bin(ost.Video.FilterSink, "pix_fmts",
                                  reinterpret_cast<const uint8_t*>(formats), sizeof(formats),
                                  AV_OPT_SEARCH_CHILDREN) < 0)
        return -1;
    last = ost.Video.FilterSource;
    auto link = [&](const char* filter, const char* name, const std::string& args) {
        AVFilterContext* next = nullptr;
        if (create(filter, name, args, &next) < 0) return -1;
        if (ff::avfilter.avfilter_link(last, 0, next, 0) < 0) return -1;
        last = next;
        return 0;
    };
    const int width = inWidth - ost.Video.LeftBand - ost.Video.RightBand;
    const int height = inHeight - ost.Video.TopBand - ost.Video.BottomBand;
    if (ost.Video.Crop &&
        link("crop", "crop",
             FormatText("%d:%d:%d:%d", width, height, ost.Video.LeftBand, ost.Video.TopBand)) < 0)
        return -1;
    // The output size is made before the given filters, except a target's:
    // filters that crop and letterbox by themselves (counting in the decoded
    // picture's pixels) come first, and their result is brought to the
    // target's size.
    const bool resize = width != encoder->width || height != encoder->height;
    const bool resizeLast = resize && options.FrameSizeOfTarget && !options.Filters.empty();
    const std::string resizeArgs =
        FormatText("%d:%d:flags=0x%X", encoder->width, encoder->height, options.SwsFlags);
    if (resize && !resizeLast && link("scale", "scale", resizeArgs) < 0) return -1;
    if (!ost.Video.ToneMap.empty() && LinkFilterChain(graph, ost.Video.ToneMap, last) < 0)
        return -1;
    AVFilterContext* tail = ost.Video.FilterSink;
    if (resizeLast && (create("scale", "scale", resizeArgs, &tail) < 0 ||
                       ff::avfilter.avfilter_link(tail, 0, ost.Video.FilterSink, 0) < 0))
        return -1;
    const std::string scaleOptions = FormatText("flags=0x%X", options.SwsFlags);
    ff::avutil.av_opt_set(graph, "scale_sws_opts", scaleOptions.c_str(), 0);
    if (!options.Filters.empty()) {
        const int code = LinkByText(graph, options.Filters.c_str(), last, tail);
        if (code < 0) {
            error = MediaErrorText(options.Filters, code);
            return -1;
        }
    } else if (ff::avfilter.avfilter_link(last, 0, ost.Video.FilterSink, 0) < 0) {
        return -1;
    }
    if (ff::avfilter.avfilter_graph_config(graph, nullptr) < 0) return -1;
    encoder->width = ff::avfilter.av_buffersink_get_w(ost.Video.FilterSink);
    encoder->height = ff::avfilter.av_buffersink_get_h(ost.Video.FilterSink);
    return 0;
}

} // namespace

int BuildVideoFilterGraph(const TInputStream& ist, TOutputStream& ost,
                          const TVideoFilterOptions& options, std::string& error) {
    ost.Video.Graph.reset(ff::avfilter.avfilter_graph_alloc());
    if (!ost.Video.Graph) return -1;
    if (BuildSteps(ist, ost, options, error) < 0) {
        ost.Video.Graph.reset();
        ost.Video.FilterSource = ost.Video.FilterSink = nullptr;
        return -1;
    }
    return 0;
}
