#include "player/Subtitles.h"

#include "media/FFHandles.h"
#include "media/AVCodecEntries.h"
#include "media/AVFormatEntries.h"
#include "media/AVUtilEntries.h"
#include "media/FFmpegLoader.h"
#include "media/LiteralNames.h"
#include "media/NestedOpens.h"
#include "media/UnicodeProtocol.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>

namespace {

// RGBA palette entry (red in the lowest byte as the decoder gives it: the
// entry is A, R, G, B from the high byte down) to A, Y, U, V from the high
// byte down, in 10-bit fixed point at studio range.
std::uint32_t PaletteToYuva(std::uint32_t argb) {
    int a = static_cast<int>(argb >> 24) & 0xFF;
    int r = static_cast<int>(argb >> 16) & 0xFF;
    int g = static_cast<int>(argb >> 8) & 0xFF;
    int b = static_cast<int>(argb) & 0xFF;
    int y = (263 * r + 517 * g + 101 * b + 16896) >> 10;
    int u = ((-152 * r - 298 * g + 450 * b + 511) >> 10) + 128;
    int v = ((450 * r - 377 * g - 74 * b + 511) >> 10) + 128;
    return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(y & 0xFF) << 16 |
           static_cast<std::uint32_t>(u & 0xFF) << 8 | static_cast<std::uint32_t>(v & 0xFF);
}

std::uint8_t Mix(int under, int over, int alpha) {
    return static_cast<std::uint8_t>((under * (255 - alpha) + over * alpha + 127) / 255);
}

// Blends one palette-indexed rectangle into a planar YUV 4:2:0 picture; the
// chroma of each 2 x 2 block takes the average of its four pixels.
void BlendRect(AVFrame* picture, const AVSubtitleRect* rect) {
    const auto* palette = reinterpret_cast<const std::uint32_t*>(rect->data[1]);
    int x0 = std::max(0, rect->x), y0 = std::max(0, rect->y);
    int x1 = std::min(picture->width, rect->x + rect->w);
    int y1 = std::min(picture->height, rect->y + rect->h);
    auto entry = [&](int x, int y) {
        return palette[rect->data[0][(y - rect->y) * rect->linesize[0] + (x - rect->x)]];
    };
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            std::uint32_t c = entry(x, y);
            std::uint8_t& luma = picture->data[0][y * picture->linesize[0] + x];
            luma = Mix(luma, (c >> 16) & 0xFF, c >> 24);
        }
    for (int y = y0 & ~1; y < y1; y += 2)
        for (int x = x0 & ~1; x < x1; x += 2) {
            int a = 0, u = 0, v = 0, n = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    int px = x + dx, py = y + dy;
                    if (px < x0 || py < y0 || px >= x1 || py >= y1) continue;
                    std::uint32_t c = entry(px, py);
                    a += c >> 24;
                    u += (c >> 8) & 0xFF;
                    v += c & 0xFF;
                    ++n;
                }
            if (n == 0) continue;
            std::uint8_t& cb = picture->data[1][(y / 2) * picture->linesize[1] + x / 2];
            std::uint8_t& cr = picture->data[2][(y / 2) * picture->linesize[2] + x / 2];
            int alpha = a / 4;
            cb = Mix(cb, u / n, alpha);
            cr = Mix(cr, v / n, alpha);
        }
}

} // namespace

namespace {

// Hands the text events of a decoded subtitle to the text renderer.
void AddTextEvents(TTextSubtitles& text, const AVSubtitle& sub, double pts) {
    std::int64_t start = std::llround(pts * 1000) + sub.start_display_time;
    std::int64_t duration =
        static_cast<std::int64_t>(sub.end_display_time) - sub.start_display_time;
    if (sub.end_display_time == 0 || sub.end_display_time == UINT32_MAX || duration <= 0)
        duration = 5000;
    for (unsigned i = 0; i < sub.num_rects; ++i)
        if (sub.rects[i]->type == SUBTITLE_ASS && sub.rects[i]->ass)
            text.AddEvent(sub.rects[i]->ass, start, duration);
}

} // namespace

TSubtitles::TSubtitles(TPacketQueue& packets, const std::atomic<bool>& abort)
    : FPackets(packets), FAbort(abort) {}

TSubtitles::~TSubtitles() {
    Close();
}

std::string TSubtitles::Open(const TSource& source) {
    FSource = source;
    AVCodecContext* codec = source.Codec;
    FOpen = true;
    if (!codec->codec_descriptor || !(codec->codec_descriptor->props & AV_CODEC_PROP_TEXT_SUB))
        return {};
    FText = std::make_unique<TTextSubtitles>();
    if (FText->Start(codec->subtitle_header, codec->subtitle_header_size)) return {};
    FText.reset();
    return "Cannot start the text subtitle renderer";
}

void TSubtitles::Abort() {
    FPictures.RequestFlush();
    FPictures.Abort();
}

void TSubtitles::Close() {
    FOpen = false;
    {
        std::lock_guard lock(CodecLock());
        FLookbackCodec.reset();
    }
    FLookback.reset();
}

// ---- Subtitle thread ----

void TSubtitles::Run(const std::atomic<bool>& paused, const std::atomic<bool>& pausedAtSeek) {
    for (;;) {
        while (paused && !FPackets.Aborted() && !pausedAtSeek)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ff::PacketPtr packet;
        bool isFlush = false;
        if (FPackets.Get(packet, isFlush, true) < 0) break;
        if (isFlush) {
            // The text events were forgotten by the seek itself (read thread).
            ff::avcodec.avcodec_flush_buffers(FSource.Codec);
            continue;
        }
        double pts = packet->pts != AV_NOPTS_VALUE
                         ? av_q2d(FSource.Stream->time_base) * static_cast<double>(packet->pts)
                         : 0;
        AVSubtitle sub{};
        int got = 0;
        if (ff::avcodec.avcodec_decode_subtitle2(FSource.Codec, &sub, &got, packet.get()) < 0 ||
            !got)
            continue;
        if (sub.format != 0) {
            // Text: laid out and drawn at display time.
            if (FText) AddTextEvents(*FText, sub, pts);
            ff::avcodec.avsubtitle_free(&sub);
            continue;
        }
        for (unsigned i = 0; i < sub.num_rects; ++i) {
            AVSubtitleRect* rect = sub.rects[i];
            auto* palette = reinterpret_cast<std::uint32_t*>(rect->data[1]);
            for (int j = 0; j < rect->nb_colors && palette; ++j)
                palette[j] = PaletteToYuva(palette[j]);
        }
        if (!FPictures.Put(sub, pts)) break;
    }
    FPictures.Clear();
}

// ---- Display (playback thread) ----

void TSubtitles::Expire(double picturePts) {
    if (FOpen) FPictures.Expire(picturePts);
}

void TSubtitles::Blend(TPictureSlot& slot) {
    if (!FOpen || slot.SubtitleBlended) return;
    AVFrame* picture = slot.Overlay.get();
    if (FText) {
        FText->Draw(picture, std::llround(slot.PTS * 1000),
                    [picture] { return ff::avutil.av_frame_make_writable(picture) >= 0; });
        slot.SubtitleBlended = true;
        return;
    }
    if (FPictures.BlendDue(slot.PTS, [picture](const AVSubtitle& sub) {
            if (ff::avutil.av_frame_make_writable(picture) < 0) return false;
            for (unsigned i = 0; i < sub.num_rects; ++i)
                if (sub.rects[i]->type == SUBTITLE_BITMAP) BlendRect(picture, sub.rects[i]);
            return true;
        }))
        slot.SubtitleBlended = true;
}

// ---- Text subtitles at a seek target (read thread) ----

namespace {

// How far before a seek target a text subtitle may start and still be due.
constexpr double SubtitleLookbackSeconds = 10.0;

} // namespace

void TSubtitles::Seeked(double exact) {
    if (!FOpen || !FText) return;
    // Before the reading goes on, so the first picture after the seek has
    // the text due at it.
    FText->Flush();
    if (exact >= 0) CatchUp(exact);
}

bool TSubtitles::OpenLookback() {
    if (FLookbackFailed) return false;
    FLookbackFailed = true; // until it is open
    AVFormatContext* context = ff::avformat.avformat_alloc_context();
    if (!context) return false;
    context->interrupt_callback = FSource.Interrupt;
    std::string path = FromLibraryName(FSource.FileName);
    KeepNestedOpensInFolder(context, path);
    AVDictionary* rawOptions = nullptr;
    ReadExistingFileAsItself(path, &rawOptions);
    const int opened =
        ff::avformat.avformat_open_input(&context, path.c_str(), nullptr, &rawOptions);
    const ff::DictionaryPtr options(rawOptions);
    if (opened < 0) return false;
    FLookback.reset(context);
    // The streams as the header gives them must be those of the playing file.
    const AVCodecParameters* parameters = FSource.Stream->codecpar;
    int index = FSource.StreamIndex;
    if (index >= static_cast<int>(context->nb_streams) ||
        context->streams[index]->codecpar->codec_id != parameters->codec_id) {
        FLookback.reset();
        return false;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard =
            static_cast<int>(i) == index || static_cast<int>(i) == FSource.VideoIndex
                ? AVDISCARD_DEFAULT
                : AVDISCARD_ALL;
    const AVCodec* decoder = ff::avcodec.avcodec_find_decoder(parameters->codec_id);
    ff::CodecContextPtr codec(ff::avcodec.avcodec_alloc_context3(decoder));
    if (!decoder || !codec ||
        ff::avcodec.avcodec_parameters_to_context(codec.get(), parameters) < 0) {
        FLookback.reset();
        return false;
    }
    codec->pkt_timebase = FSource.Stream->time_base;
    {
        std::lock_guard lock(CodecLock());
        if (ff::avcodec.avcodec_open2(codec.get(), decoder, nullptr) < 0) {
            codec.reset();
            FLookback.reset();
            return false;
        }
    }
    FLookbackCodec = std::move(codec);
    FLookbackFailed = false;
    return true;
}

// Reads the subtitles from a while before `target` (seconds) up to it and
// hands their text to the renderer: the seek itself goes to the key frame
// before the target, and a subtitle shown since earlier is still due.
// Reading stops at the first packet past the target.
void TSubtitles::CatchUp(double target) {
    if (!FLookback && !OpenLookback()) return;
    AVFormatContext* context = FLookback.get();
    AVCodecContext* codec = FLookbackCodec.get();
    auto from =
        static_cast<std::int64_t>(std::llround((target - SubtitleLookbackSeconds) * AV_TIME_BASE));
    if (ff::avformat.avformat_seek_file(context, -1, INT64_MIN, from, from, 0) < 0 &&
        ff::avformat.av_seek_frame(context, -1, from, AVSEEK_FLAG_BACKWARD) < 0)
        return;
    ff::avcodec.avcodec_flush_buffers(codec);
    ff::PacketPtr packet(ff::avcodec.av_packet_alloc());
    if (!packet) return;
    while (!FAbort && ff::avformat.av_read_frame(context, packet.get()) >= 0) {
        AVStream* stream = context->streams[packet->stream_index];
        double pts = packet->pts != AV_NOPTS_VALUE
                         ? av_q2d(stream->time_base) * static_cast<double>(packet->pts)
                         : 0;
        bool subtitle = packet->stream_index == FSource.StreamIndex;
        if (pts > target) {
            ff::avcodec.av_packet_unref(packet.get());
            break;
        }
        AVSubtitle sub{};
        int got = 0;
        if (subtitle &&
            ff::avcodec.avcodec_decode_subtitle2(codec, &sub, &got, packet.get()) >= 0 && got) {
            if (sub.format != 0) AddTextEvents(*FText, sub, pts);
            ff::avcodec.avsubtitle_free(&sub);
        }
        ff::avcodec.av_packet_unref(packet.get());
    }
}
