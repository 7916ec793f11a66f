#include "media/DisplayPicture.h"

#include "media/AVFilterEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FilterLink.h"
#include "media/ToneMap.h"

// "buffer" source, the tone-mapping filters, "buffersink"; what it was
// built for, so that a change of picture rebuilds it.
struct TDisplayToneMap::TGraph {
    AVFilterGraph* Graph = nullptr;
    AVFilterContext* Source = nullptr;
    AVFilterContext* Sink = nullptr;
    int Width = 0, Height = 0, Format = -1;
    TColourDescription Colour;

    ~TGraph() {
        if (Graph) ff::avfilter.avfilter_graph_free(&Graph);
    }

    bool Matches(const AVFrame& frame) const {
        const TColourDescription colour = ColourOf(frame);
        return frame.width == Width && frame.height == Height && frame.format == Format &&
               colour.Transfer == Colour.Transfer && colour.Primaries == Colour.Primaries &&
               colour.Matrix == Colour.Matrix && colour.Range == Colour.Range;
    }

    bool CreateEnds(const AVFrame& frame) {
        const std::string args = BufferSourceArgs(frame.width, frame.height, frame.format,
                                                  AVRational{1, 1}, frame.sample_aspect_ratio);
        return ff::avfilter.avfilter_graph_create_filter(
                   &Source, ff::avfilter.avfilter_get_by_name("buffer"), "in", args.c_str(),
                   nullptr, Graph) >= 0 &&
               ff::avfilter.avfilter_graph_create_filter(
                   &Sink, ff::avfilter.avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                   Graph) >= 0;
    }

    bool Build(const AVFrame& frame) {
        Graph = ff::avfilter.avfilter_graph_alloc();
        if (!Graph || !CreateEnds(frame)) return false;
        const std::string chain = ToneMapFilterText(ColourOf(frame), "yuv420p");
        if (LinkByText(Graph, chain.c_str(), Source, Sink) < 0 ||
            ff::avfilter.avfilter_graph_config(Graph, nullptr) < 0)
            return false;
        Width = frame.width;
        Height = frame.height;
        Format = frame.format;
        Colour = ColourOf(frame);
        return true;
    }
};

TDisplayToneMap::TDisplayToneMap() = default;
TDisplayToneMap::~TDisplayToneMap() = default;

void TDisplayToneMap::Reset() {
    FGraph.reset();
    FMapped.reset();
}

bool TDisplayToneMap::Ready(const AVFrame& hdr) {
    if (FGraph && FGraph->Matches(hdr)) return true;
    FGraph.reset();
    if (!ToneMapAvailable()) return false;
    auto graph = std::make_unique<TGraph>();
    if (!graph->Build(hdr)) return false;
    FGraph = std::move(graph);
    if (!FMapped) FMapped.reset(ff::avutil.av_frame_alloc());
    return FMapped != nullptr;
}

const AVFrame* TDisplayToneMap::Map(const AVFrame& hdr) {
    if (!Ready(hdr)) return nullptr;
    ff::avutil.av_frame_unref(FMapped.get());
    // The source takes a reference of its own: the picture given stays as
    // it is.
    if (ff::avfilter.av_buffersrc_add_frame_flags(FGraph->Source, const_cast<AVFrame*>(&hdr),
                                                  AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
        ff::avfilter.av_buffersink_get_frame(FGraph->Sink, FMapped.get()) < 0) {
        FGraph.reset(); // built again for the next picture
        return nullptr;
    }
    return FMapped.get();
}

void ResetDisplayContext(TDisplayContext& context) {
    ResetToRGBContext(context);
    context.ToneMap.Reset();
}

bool FrameToDisplayBitmap(TDisplayContext& context, const AVFrame* frame) {
    if (frame && IsHdr(ColourOf(*frame)))
        if (const AVFrame* mapped = context.ToneMap.Map(*frame))
            return FrameToBitmap(context, mapped);
    return FrameToBitmap(context, frame);
}
