#include "probe/StreamFacts.h"

#include "media/AVCodecEntries.h"
#include "media/FFmpegHeaders.h"
#include "media/MyUtils.h"
#include "probe/AVProbe.h"

#include <cmath>

namespace {

// The average rate the demuxer measured, else the base rate it guessed.
AVRational StreamRate(const AVStream* stream) {
    const AVRational average = stream->avg_frame_rate;
    if (average.num > 0 && average.den > 0) return average;
    return stream->r_frame_rate;
}

std::string ProfileName(const AVCodecDescriptor* descriptor, int profile) {
    if (!descriptor || !descriptor->profiles || profile == FF_PROFILE_UNKNOWN) return {};
    for (const AVProfile* p = descriptor->profiles; p->profile != FF_PROFILE_UNKNOWN; ++p)
        if (p->profile == profile) return p->name ? p->name : "";
    return {};
}

std::string CodecTitleOfStream(const AVCodecParameters* codec) {
    const AVCodecDescriptor* descriptor = ff::avcodec.avcodec_descriptor_get(codec->codec_id);
    if (!descriptor) return {};
    const std::string longName = descriptor->long_name ? descriptor->long_name : "";
    return CodecTitleOf(longName.empty() ? descriptor->name : longName,
                        ProfileName(descriptor, codec->profile));
}

// Microseconds of the stream, else of the container; -1 when neither knows.
std::int64_t DurationUS(const AVFormatContext* context, const AVStream* stream) {
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0 && stream->time_base.den > 0)
        return static_cast<std::int64_t>(
            std::llround(static_cast<double>(stream->duration) * stream->time_base.num * 1e6 /
                         stream->time_base.den));
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0) return context->duration;
    return -1;
}

void CountFrames(const AVFormatContext* context, const AVStream* stream, TStreamFacts& facts) {
    if (stream->nb_frames > 0) {
        facts.FrameCount = stream->nb_frames;
        return;
    }
    const std::int64_t duration = DurationUS(context, stream);
    if (duration <= 0 || facts.FrameRate <= 0) return;
    facts.FrameCount = std::llround(duration / 1e6 * facts.FrameRate);
    facts.FrameCountEstimated = true;
}

} // namespace

bool GetStreamFacts(TCustomAVProbe& probe, int streamIndex, TStreamFacts& facts) {
    facts = TStreamFacts{};
    const AVFormatContext* context = probe.FormatContext();
    if (!context || streamIndex < 0 || streamIndex >= static_cast<int>(context->nb_streams))
        return false;
    const AVStream* stream = context->streams[streamIndex];
    facts.CodecTitle = CodecTitleOfStream(stream->codecpar);
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return true;
    const AVRational rate = StreamRate(stream);
    if (rate.num > 0 && rate.den > 0) facts.FrameRate = static_cast<double>(rate.num) / rate.den;
    CountFrames(context, stream, facts);
    return true;
}

std::string CodecTitleOf(const std::string& longName, const std::string& profile) {
    std::string title = longName.substr(0, longName.find(" / "));
    title = title.substr(0, title.find(" ("));
    if (!profile.empty()) title += " (" + profile + ")";
    return title;
}

std::string FrameRateText(double rate) {
    if (!(rate > 0)) return {};
    std::string text = FormatText("%.3f", rate);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

std::string FrameCountText(std::int64_t count, bool estimated) {
    if (count < 0) return {};
    return (estimated ? "about " : "") + std::to_string(count);
}
