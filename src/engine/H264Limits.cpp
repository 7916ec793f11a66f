#include "engine/H264Limits.h"

#include "engine/H264Level.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>

namespace {

double PictureRate(const AVCodecContext* encoder) {
    if (encoder->framerate.num > 0 && encoder->framerate.den > 0) return av_q2d(encoder->framerate);
    if (encoder->time_base.num > 0 && encoder->time_base.den > 0)
        return 1.0 / av_q2d(encoder->time_base);
    return 0.0;
}

void Log(int level, const std::string& text) {
    GetLogger().Log(nullptr, static_cast<TLogLevel>(level), text);
}

} // namespace

// A ceiling below the bit rate (a preset's) would make the encoder drop the
// chosen rate to it; a level below the demand (a preset's, chosen for small
// pictures) would be a false promise to the decoder. A stream without a
// level gets the encoder's own choice.
void FitH264Limits(AVCodecContext* encoder, int fileIndex, int streamIndex) {
    if (encoder->rc_max_rate > 0 && encoder->bit_rate > encoder->rc_max_rate) {
        Log(llVerbose,
            FormatText("Stream #%d.%d: maximum rate raised to the bit rate %lld", fileIndex,
                       streamIndex, static_cast<long long>(encoder->bit_rate)));
        encoder->rc_max_rate = encoder->bit_rate;
    }
    if (encoder->level <= 0) return;
    TH264Demand demand;
    demand.Width = encoder->width;
    demand.Height = encoder->height;
    demand.FrameRate = PictureRate(encoder);
    demand.MaxBitRate = encoder->rc_max_rate;
    demand.BufferSize = encoder->rc_buffer_size;
    demand.ReferenceFrames = std::max(encoder->refs, 1) + (encoder->max_b_frames > 1 ? 1 : 0);
    const int level = LowestH264Level(demand);
    if (level <= encoder->level) return;
    Log(llVerbose, FormatText("Stream #%d.%d: H.264 level %d raised to %d for %dx%d at %.3f fps",
                              fileIndex, streamIndex, encoder->level, level, encoder->width,
                              encoder->height, demand.FrameRate));
    encoder->level = level;
}
