#include "engine/StreamEnds.h"

#include "media/AVUtilEntries.h"

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

} // namespace

int64_t DeclaredStreamEnd(const AVStream* stream) {
    const AVDictionaryEntry* tag =
        ff::avutil.av_dict_get(stream->metadata, "DURATION", nullptr, AV_DICT_MATCH_CASE);
    if (tag) {
        int64_t length = 0;
        if (ff::avutil.av_parse_time(&length, tag->value, 1) < 0 || length <= 0)
            return AV_NOPTS_VALUE;
        return length;
    }
    if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) return AV_NOPTS_VALUE;
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    return ff::avutil.av_rescale_q(start + stream->duration, stream->time_base, kMicroseconds);
}

bool EndlessStream(const AVStream* stream, const AVFormatContext* file) {
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return true;
    int64_t loop = 0;
    return file->priv_data && file->iformat->priv_class &&
           ff::avutil.av_opt_get_int(file->priv_data, "loop", 0, &loop) >= 0 && loop != 0;
}

bool DecodedPastEnd(const AVPacket* packet, AVRational timeBase, int64_t end) {
    const int64_t time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    return end != kNoStreamEnd && time != AV_NOPTS_VALUE &&
           ff::avutil.av_compare_ts(time, timeBase, end, kMicroseconds) >= 0;
}
