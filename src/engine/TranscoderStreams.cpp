#include "engine/TranscoderStreams.h"

#include "media/FFmpegLoader.h"

namespace ff {
void FilterGraphDeleter::operator()(AVFilterGraph* p) const {
    if (p && avfilter.avfilter_graph_free) avfilter.avfilter_graph_free(&p);
}
void SwrDeleter::operator()(SwrContext* p) const {
    if (p && swresample.swr_free) swresample.swr_free(&p);
}
void AudioFifoDeleter::operator()(AVAudioFifo* p) const {
    if (p && avutil.av_audio_fifo_free) avutil.av_audio_fifo_free(p);
}
void BsfDeleter::operator()(AVBSFContext* p) const {
    if (p && avcodec.av_bsf_free) avcodec.av_bsf_free(&p);
}
} // namespace ff
