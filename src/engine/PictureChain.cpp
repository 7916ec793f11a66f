#include "engine/PictureChain.h"

#include "media/AVFilterEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFmpegHeaders.h"
#include "media/FilterLink.h"
#include "engine/FFmpegOptions.h"

TPictureChain::~TPictureChain() {
    Free();
    if (FOut) ff::avutil.av_frame_free(&FOut);
}

void TPictureChain::SetText(const std::string& text) {
    if (text == FText) return;
    Free();
    FText = text;
}

void TPictureChain::Free() {
    if (FGraph) ff::avfilter.avfilter_graph_free(&FGraph);
    FSource = FSink = nullptr;
    FWidth = FHeight = 0;
    FFormat = -1;
}

AVFrame* TPictureChain::Run(AVFrame* picture) {
    if (FText.empty()) return picture;
    if ((!FGraph || FWidth != picture->width || FHeight != picture->height ||
         FFormat != picture->format) &&
        !Build(picture))
        return nullptr;
    if (!FOut) FOut = ff::avutil.av_frame_alloc();
    if (!FOut) return nullptr;
    ff::avutil.av_frame_unref(FOut);
    if (ff::avfilter.av_buffersrc_add_frame_flags(FSource, picture, AV_BUFFERSRC_FLAG_KEEP_REF) <
            0 ||
        ff::avfilter.av_buffersink_get_frame(FSink, FOut) < 0)
        return nullptr;
    return FOut;
}

bool TPictureChain::Build(const AVFrame* picture) {
    Free();
    FGraph = ff::avfilter.avfilter_graph_alloc();
    if (!FGraph) return false;
    const AVRational sar =
        picture->sample_aspect_ratio.num ? picture->sample_aspect_ratio : AVRational{0, 1};
    const std::string args = BufferSourceArgs(picture->width, picture->height, picture->format,
                                              AVRational{1, AV_TIME_BASE}, sar);
    if (ff::avfilter.avfilter_graph_create_filter(&FSource,
                                                  ff::avfilter.avfilter_get_by_name("buffer"),
                                                  "src", args.c_str(), nullptr, FGraph) < 0 ||
        ff::avfilter.avfilter_graph_create_filter(&FSink,
                                                  ff::avfilter.avfilter_get_by_name("buffersink"),
                                                  "out", nullptr, nullptr, FGraph) < 0)
        return false;
    const int code = LinkByText(FGraph, FText.c_str(), FSource, FSink);
    if (code < 0 || ff::avfilter.avfilter_graph_config(FGraph, nullptr) < 0) {
        Free();
        return false;
    }
    FWidth = picture->width;
    FHeight = picture->height;
    FFormat = picture->format;
    return true;
}
