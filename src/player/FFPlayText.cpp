#include "player/FFPlayText.h"

#include <ass/ass.h>

#include <algorithm>
#include <cstdarg>
#include <vector>

namespace {

// libass reports through our own callback only, so nothing reaches stderr.
void QuietMessages(int, const char*, va_list, void*) {}

std::uint8_t Mix(int under, int over, int alpha) {
    return static_cast<std::uint8_t>((under * (255 - alpha) + over * alpha + 127) / 255);
}

struct TYuv {
    int Y, U, V;
};

// Studio-range BT.601, the constants of the bitmap subtitles' palettes.
TYuv ToYuv(std::uint32_t rgba) {
    int r = static_cast<int>(rgba >> 24) & 0xFF;
    int g = static_cast<int>(rgba >> 16) & 0xFF;
    int b = static_cast<int>(rgba >> 8) & 0xFF;
    return TYuv{(263 * r + 517 * g + 101 * b + 16896) >> 10,
                ((-152 * r - 298 * g + 450 * b + 511) >> 10) + 128,
                ((450 * r - 377 * g - 74 * b + 511) >> 10) + 128};
}

// Blends one coverage mask of libass into the picture; the chroma of each
// 2 x 2 block takes the average coverage of its four pixels.
void BlendImage(AVFrame* picture, const ASS_Image* image) {
    int opacity = 255 - static_cast<int>(image->color & 0xFF);
    if (opacity <= 0) return;
    TYuv colour = ToYuv(image->color);
    int x0 = std::max(0, image->dst_x), y0 = std::max(0, image->dst_y);
    int x1 = std::min(picture->width, image->dst_x + image->w);
    int y1 = std::min(picture->height, image->dst_y + image->h);
    auto alpha = [&](int x, int y) {
        int cover = image->bitmap[(y - image->dst_y) * image->stride + (x - image->dst_x)];
        return cover * opacity / 255;
    };
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            std::uint8_t& luma = picture->data[0][y * picture->linesize[0] + x];
            luma = Mix(luma, colour.Y, alpha(x, y));
        }
    for (int y = y0 & ~1; y < y1; y += 2)
        for (int x = x0 & ~1; x < x1; x += 2) {
            int sum = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    int px = x + dx, py = y + dy;
                    if (px >= x0 && py >= y0 && px < x1 && py < y1) sum += alpha(px, py);
                }
            int a = sum / 4;
            if (a == 0) continue;
            std::uint8_t& cb = picture->data[1][(y / 2) * picture->linesize[1] + x / 2];
            std::uint8_t& cr = picture->data[2][(y / 2) * picture->linesize[2] + x / 2];
            cb = Mix(cb, colour.U, a);
            cr = Mix(cr, colour.V, a);
        }
}

} // namespace

TTextSubtitles::~TTextSubtitles() {
    std::lock_guard lock(FLock);
    Stop();
}

void TTextSubtitles::Stop() {
    if (FTrack) ass_free_track(FTrack);
    if (FRenderer) ass_renderer_done(FRenderer);
    if (FLibrary) ass_library_done(FLibrary);
    FTrack = nullptr;
    FRenderer = nullptr;
    FLibrary = nullptr;
}

bool TTextSubtitles::Start(const std::uint8_t* header, int headerSize) {
    std::lock_guard lock(FLock);
    Stop();
    FLibrary = ass_library_init();
    if (FLibrary) {
        ass_set_message_cb(FLibrary, QuietMessages, nullptr);
        FRenderer = ass_renderer_init(FLibrary);
    }
    if (FRenderer) FTrack = ass_new_track(FLibrary);
    if (!FTrack) {
        Stop();
        return false;
    }
    ass_set_fonts(FRenderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    if (header && headerSize > 0) {
        std::vector<char> text(header, header + headerSize);
        ass_process_codec_private(FTrack, text.data(), headerSize);
    }
    FWidth = FHeight = 0;
    FEvents.clear();
    return true;
}

void TTextSubtitles::AddEvent(const std::string& event, std::int64_t startMs,
                              std::int64_t durationMs) {
    std::lock_guard lock(FLock);
    if (!FTrack || event.empty()) return;
    std::string::size_type comma = event.find(',');
    std::string body = comma == std::string::npos ? event : event.substr(comma + 1);
    std::string key = std::to_string(startMs) + ':' + std::to_string(durationMs) + ':' + body;
    if (!FEvents.insert(key).second) return;
    std::string numbered = std::to_string(FReadOrder++) + ',' + body;
    std::vector<char> text(numbered.begin(), numbered.end());
    ass_process_chunk(FTrack, text.data(), static_cast<int>(text.size()), startMs, durationMs);
}

void TTextSubtitles::Flush() {
    std::lock_guard lock(FLock);
    if (FTrack) ass_flush_events(FTrack);
    FEvents.clear();
}

bool TTextSubtitles::Draw(AVFrame* picture, std::int64_t nowMs,
                          const std::function<bool()>& makeWritable) {
    std::lock_guard lock(FLock);
    if (!FTrack || picture->width <= 0 || picture->height <= 0) return false;
    if (picture->width != FWidth || picture->height != FHeight) {
        FWidth = picture->width;
        FHeight = picture->height;
        ass_set_frame_size(FRenderer, FWidth, FHeight);
        ass_set_storage_size(FRenderer, FWidth, FHeight);
    }
    int changed = 0;
    ASS_Image* images = ass_render_frame(FRenderer, FTrack, nowMs, &changed);
    if (!images || !makeWritable()) return false;
    for (ASS_Image* image = images; image; image = image->next)
        if (image->w > 0 && image->h > 0) BlendImage(picture, image);
    return true;
}
