// The encoder settings the option state asks for (EncoderSettings.h).
#include "engine/EncoderSettings.h"

#include "media/EncoderLimits.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/MyUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kGeneralEncoderFailure[] =
    " - maybe incorrect parameters such as bit_rate, rate, width or height. Please check error "
    "log message to find out more detail information.";

AVRational InverseRate(int num, int den) {
    return AVRational{den, num};
}

// The rate of those the codec takes nearest to `wanted` (any rate when the
// codec lists none).
int NearestSampleRate(const AVCodec* codec, int wanted) {
    if (!codec || !codec->supported_samplerates) return wanted;
    int best = codec->supported_samplerates[0];
    for (const int* rate = codec->supported_samplerates; *rate; ++rate)
        if (std::abs(*rate - wanted) < std::abs(best - wanted)) best = *rate;
    if (best != wanted)
        GetLogger().Log(
            nullptr, llWarning,
            FormatText("Requested sampling rate unsupported using closest supported (%d)", best));
    return best;
}

// Whether the codec takes the sample format (any, when it lists none).
bool TakesSampleFormat(const AVCodec* codec, int format) {
    if (!codec || !codec->sample_fmts) return true;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

void SetChannels(AVChannelLayout& layout, const AVChannelLayout& source) {
    ff::avutil.av_channel_layout_uninit(&layout);
    if (source.order == AV_CHANNEL_ORDER_NATIVE)
        ff::avutil.av_channel_layout_from_mask(&layout, source.u.mask);
    else
        ff::avutil.av_channel_layout_default(&layout, source.nb_channels);
}

// Colour or grey like the source, at the source's depth.
bool SameKindOfPicture(const AVPixFmtDescriptor* a, const AVPixFmtDescriptor* b) {
    return a && b && (a->nb_components >= 3) == (b->nb_components >= 3) &&
           a->comp[0].depth == b->comp[0].depth;
}

// A picture with an odd side, in a format the codec does not take: the
// codec's first format of the source's kind with a colour sample for each
// pixel on that side, else the codec's first format.
int FormatForOddSize(const AVCodec* codec, int wanted, int width, int height) {
    const AVPixFmtDescriptor* source =
        ff::avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(wanted));
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (WholeChromaSamples(*p, width, height) &&
            SameKindOfPicture(ff::avutil.av_pix_fmt_desc_get(*p), source))
            return *p;
    return codec->pix_fmts[0];
}

// The most channels the codec takes, 0 when it is not known.
int MostChannels(const AVCodec* codec) {
    if (!codec->ch_layouts) return MostSoundChannels(codec->name);
    int most = 0;
    for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels > 0; ++l)
        most = std::max(most, l->nb_channels);
    return most;
}

bool TakesChannelCount(const AVCodec* codec, int channels) {
    if (!codec->ch_layouts) {
        const int most = MostChannels(codec);
        return most == 0 || channels <= most;
    }
    for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels > 0; ++l)
        if (l->nb_channels == channels) return true;
    return false;
}

// Of the layouts the codec lists, the one a sound of `layout` is mixed to:
// one of as many channels, else the one with the most channels below
// that, else the codec's first. Null when the codec takes `layout` itself.
const AVChannelLayout* ListedLayoutFor(const AVCodec* codec, const AVChannelLayout& layout) {
    const AVChannelLayout *same = nullptr, *fewer = nullptr;
    for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels > 0; ++l) {
        if (ff::avutil.av_channel_layout_compare(l, &layout) == 0) return nullptr;
        if (!same && l->nb_channels == layout.nb_channels) same = l;
        if (l->nb_channels < layout.nb_channels && (!fewer || l->nb_channels > fewer->nb_channels))
            fewer = l;
    }
    return same ? same : fewer ? fewer : codec->ch_layouts;
}

// The source's channels, mixed to a layout the codec takes when it takes
// no sound of that shape; true when they were.
bool FitChannels(AVChannelLayout& layout, const AVCodec* codec) {
    if (!codec) return false;
    if (codec->ch_layouts) {
        const AVChannelLayout* listed = ListedLayoutFor(codec, layout);
        if (!listed) return false;
        ff::avutil.av_channel_layout_uninit(&layout);
        ff::avutil.av_channel_layout_copy(&layout, listed);
        return true;
    }
    const int most = MostChannels(codec);
    if (most == 0 || layout.nb_channels <= most) return false;
    ff::avutil.av_channel_layout_uninit(&layout);
    ff::avutil.av_channel_layout_default(&layout, most);
    return true;
}

} // namespace

bool WholeChromaSamples(int format, int width, int height) {
    const AVPixFmtDescriptor* d =
        ff::avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    if (!d) return true;
    return width % (1 << d->log2_chroma_w) == 0 && height % (1 << d->log2_chroma_h) == 0;
}

bool FollowSourceSound(AVCodecContext* encoder, const AVCodec* codec, AVStream* stream,
                       const AVCodecParameters* source, TSoundSettingsGiven given) {
    bool mixed = false;
    if (!given.Channels && source->ch_layout.nb_channels > 0) {
        if (ff::avutil.av_channel_layout_compare(&encoder->ch_layout, &source->ch_layout) != 0)
            SetChannels(encoder->ch_layout, source->ch_layout);
        mixed = FitChannels(encoder->ch_layout, codec);
    }
    if (!given.SampleFmt && source->format >= 0 && TakesSampleFormat(codec, source->format))
        encoder->sample_fmt = static_cast<AVSampleFormat>(source->format);
    if (given.SampleRate || source->sample_rate <= 0 || source->sample_rate == encoder->sample_rate)
        return mixed;
    encoder->sample_rate = NearestSampleRate(codec, source->sample_rate);
    encoder->time_base = AVRational{1, encoder->sample_rate};
    stream->time_base = encoder->time_base;
    return mixed;
}

AVRational SampleAspect(float aspect, int width, int height) {
    const double value = width == 0 || height == 0 ? aspect * 3.0 / 4.0
                                                   : static_cast<double>(aspect) * height / width;
    int num = 0, den = 1;
    ff::avutil.av_reduce(&num, &den, static_cast<int64_t>(std::llround(value * 255 * 255 * 8)),
                         255 * 255 * 8, 255);
    return AVRational{num, den};
}

void TEncoderSettings::SetGlobalHeader(AVCodecContext* encoder, const AVFormatContext* context,
                                       bool video) const {
    const bool wanted = (context->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    AVCodecContext* options = FContexts.CodecOptions[video ? 0 : 1];
    const bool global =
        video ? ((FOptions.VideoGlobalHeader & 1) || (FOptions.VideoGlobalHeader == 0 && wanted))
              : wanted;
    if (global) {
        if (encoder) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (options) options->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (video && (FOptions.VideoGlobalHeader & 2)) {
        if (encoder) encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (options) options->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
}

AVRational TEncoderSettings::ChooseFrameRate(const AVCodec* codec) const {
    AVRational rate{FOptions.FrameRateNum, FOptions.FrameRateDen};
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
    if (codec && codec->supported_framerates && !FOptions.ForceFps)
        rate = codec->supported_framerates[ff::avutil.av_find_nearest_q_idx(
            rate, codec->supported_framerates)];
    return rate;
}

int TEncoderSettings::ChoosePixelFormat(const AVCodec* codec, int strictness) const {
    const int wanted = FOptions.FramePixFmt;
    if (!codec || !codec->pix_fmts) return wanted;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == wanted) return wanted;
    if (codec->id == AV_CODEC_ID_MJPEG && strictness < 0 &&
        (wanted == AV_PIX_FMT_YUV420P || wanted == AV_PIX_FMT_YUV422P))
        return wanted;
    const int width = FOptions.FrameWidth, height = FOptions.FrameHeight;
    if (!WholeChromaSamples(codec->pix_fmts[0], width, height))
        return FormatForOddSize(codec, wanted, width, height);
    return codec->pix_fmts[0];
}

void TEncoderSettings::SetupVideo(AVCodecContext* encoder, const AVCodec* codec,
                                  AVStream* stream) const {
    const AVRational rate = ChooseFrameRate(codec);
    encoder->framerate = rate;
    encoder->time_base = InverseRate(rate.num, rate.den);
    encoder->width = FOptions.FrameWidth;
    encoder->height = FOptions.FrameHeight;
    encoder->sample_aspect_ratio =
        SampleAspect(FOptions.FrameAspectRatio, FOptions.FrameWidth, FOptions.FrameHeight);
    stream->sample_aspect_ratio = encoder->sample_aspect_ratio;
    stream->time_base = encoder->time_base;
    encoder->pix_fmt =
        static_cast<AVPixelFormat>(ChoosePixelFormat(codec, encoder->strict_std_compliance));
    if (FOptions.IntraOnly) encoder->gop_size = 0;
    if (FOptions.VideoQScale != 0.0f || FOptions.SameQuality) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * FOptions.VideoQScale);
    }
    encoder->intra_matrix = CopyMatrix(FOptions.IntraMatrix.get());
    encoder->inter_matrix = CopyMatrix(FOptions.InterMatrix.get());
    if (FOptions.HasRcOverride) SetRcOverride(encoder);
    if (encoder->rc_initial_buffer_occupancy == 0)
        encoder->rc_initial_buffer_occupancy = encoder->rc_buffer_size * 3 / 4;
    encoder->intra_dc_precision = FOptions.IntraDcPrecision - 8;
    if (FOptions.DoPsnr) encoder->flags |= AV_CODEC_FLAG_PSNR;
    if (FOptions.DoPass == 1)
        encoder->flags |= AV_CODEC_FLAG_PASS1;
    else if (FOptions.DoPass == 2)
        encoder->flags |= AV_CODEC_FLAG_PASS2;
}

// A copy in library memory (the codec context frees it), or nullptr.
uint16_t* TEncoderSettings::CopyMatrix(const std::array<uint16_t, 64>* matrix) {
    if (!matrix) return nullptr;
    auto* copy = static_cast<uint16_t*>(ff::avutil.av_mallocz(sizeof(uint16_t) * 64));
    if (!copy) throw FFmpegException("av_mallocz fail");
    std::copy(matrix->begin(), matrix->end(), copy);
    return copy;
}

// "start,end,q/start,end,q...": q > 0 a fixed quantizer, else a quality factor of -q/100.
void TEncoderSettings::SetRcOverride(AVCodecContext* encoder) const {
    std::vector<RcOverride> groups;
    const std::string& text = FOptions.RcOverride;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        std::size_t slash = text.find('/', start);
        if (slash == std::string::npos) slash = text.size();
        int first = 0, last = 0, q = 0;
        if (std::sscanf(text.substr(start, slash - start).c_str(), "%d,%d,%d", &first, &last, &q) !=
            3)
            throw FFmpegException("error parsing rc_override");
        RcOverride group{};
        group.start_frame = first;
        group.end_frame = last;
        if (q > 0) {
            group.qscale = q;
            group.quality_factor = 1.0f;
        } else {
            group.qscale = 0;
            group.quality_factor = -q / 100.0f;
        }
        groups.push_back(group);
        start = slash + 1;
    }
    if (groups.empty()) return;
    auto* list =
        static_cast<RcOverride*>(ff::avutil.av_mallocz(sizeof(RcOverride) * groups.size()));
    if (!list) throw FFmpegException("av_mallocz fail");
    std::copy(groups.begin(), groups.end(), list);
    ff::avutil.av_freep(&encoder->rc_override);
    encoder->rc_override = list;
    encoder->rc_override_count = static_cast<int>(groups.size());
}

int TEncoderSettings::ChooseSampleRate(const AVCodec* codec) const {
    return NearestSampleRate(codec, FOptions.AudioSampleRate);
}

void TEncoderSettings::SetupAudio(AVCodecContext* encoder, const AVCodec* codec,
                                  AVStream* stream) const {
    if (FOptions.AudioQScale > -99999.0f) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = static_cast<int>(FF_QP2LAMBDA * FOptions.AudioQScale);
    }
    const uint64_t layout = static_cast<uint64_t>(FOptions.AudioChannelLayout);
    if (layout != 0 && __builtin_popcountll(layout) == FOptions.AudioChannels)
        ff::avutil.av_channel_layout_from_mask(&encoder->ch_layout, layout);
    else
        ff::avutil.av_channel_layout_default(&encoder->ch_layout, FOptions.AudioChannels);
    int format = FOptions.AudioSampleFmt;
    if (!TakesSampleFormat(codec, format)) format = codec->sample_fmts[0];
    encoder->sample_fmt = static_cast<AVSampleFormat>(format);
    encoder->sample_rate = ChooseSampleRate(codec);
    encoder->time_base = AVRational{1, encoder->sample_rate > 0 ? encoder->sample_rate : 1};
    stream->time_base = encoder->time_base;
}

std::string EncoderFailureText(const std::string& head, const AVCodecContext* c,
                               const AVCodec* codec, int channels) {
    if (codec->type == AVMEDIA_TYPE_AUDIO && channels > 0 && !TakesChannelCount(codec, channels))
        return head + FormatText(": the encoder %s cannot take %d sound channels, it takes at "
                                 "most %d (a channel count can be given with -ac)",
                                 codec->name, channels, MostChannels(codec));
    if (codec->type != AVMEDIA_TYPE_VIDEO) return head + kGeneralEncoderFailure;
    const int least = SmallestPictureSide(codec->name);
    if (c->width < least || c->height < least)
        return head +
               FormatText(": the encoder %s cannot take the picture size %dx%d, it needs at "
                          "least %d pixels on each side (a larger size can be given with -s)",
                          codec->name, c->width, c->height, least);
    if (WholeChromaSamples(c->pix_fmt, c->width, c->height)) return head + kGeneralEncoderFailure;
    const char* format = ff::avutil.av_get_pix_fmt_name(c->pix_fmt);
    return head + FormatText(": the encoder %s cannot take the picture size %dx%d, it needs even "
                             "sizes in the pixel format %s (an even size can be given with -s)",
                             codec->name, c->width, c->height, format ? format : "?");
}

namespace {

std::string LayoutName(const AVChannelLayout& layout) {
    char name[128] = {};
    if (ff::avutil.av_channel_layout_describe(&layout, name, sizeof name) < 0)
        return FormatText("%d channels", layout.nb_channels);
    return name;
}

} // namespace

std::string ChannelsMixedText(const AVCodec* codec, const AVChannelLayout& from,
                              const AVChannelLayout& to, int file, int stream) {
    return FormatText("The encoder %s takes no %s sound: output stream #%d.%d is mixed to %s",
                      codec->name, LayoutName(from).c_str(), file, stream, LayoutName(to).c_str());
}

void SetX265LogLevel(TPrivateOptions& options) {
    const int level = LibraryFilterLevel();
    const char* x265 = level <= AV_LOG_QUIET    ? "none"
                       : level <= AV_LOG_ERROR  ? "error"
                       : level < AV_LOG_VERBOSE ? "warning"
                       : level < AV_LOG_DEBUG   ? "info"
                                                : "debug";
    const std::string pair = std::string("log-level=") + x265;
    for (auto& [name, value] : options)
        if (name == "x265-params") {
            if (value.find("log-level=") == std::string::npos)
                value += (value.empty() ? "" : ":") + pair;
            return;
        }
    options.emplace_back("x265-params", pair);
}
