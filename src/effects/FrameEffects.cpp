#include "effects/FrameEffects.h"

#include "effects/EditSettings.h"

#include "effects/FrameEffectsWide.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// The contrast factor's constant for contrast at or below 0.
constexpr double kContrastStep = 0.015708;
// The contrast curve turns around this level.
constexpr int kContrastPivot = 170;

uint8_t ClampByte(int64_t v) {
    return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

double ContrastFactor(int32_t contrast) {
    if (contrast == 100) contrast = 99;
    if (contrast > 0) return 1.0 / std::cos(contrast * std::numbers::pi / 200.0);
    return std::cos(contrast * kContrastStep);
}

// Brightness gain followed by the contrast curve, as one table.
std::array<uint8_t, 256> ToneTable(int32_t brightness, int32_t contrast) {
    const double k = ContrastFactor(contrast);
    std::array<uint8_t, 256> t1{};
    for (int i = 0; i < 256; ++i)
        t1[i] = ClampByte(
            static_cast<int64_t>(RoundHalfEven((i - kContrastPivot) * k + kContrastPivot)));
    std::array<uint8_t, 256> t2{};
    for (int j = 0; j < 256; ++j) {
        const int32_t x = (256 - brightness + brightness * j) / 256;
        t2[j] = t1[ClampByte(x)];
    }
    return t2;
}

// Runs `pass` over the rows of a large picture in two bands at once (the
// second on a helper thread), over a small one in one go. The wide passes
// take less time than starting the thread: they always run in one go.
template <class Pass> void ForRowBands(Bitmap24& bitmap, bool wide, const Pass& pass) {
    constexpr int kBandPixels = 256 * 1024;
    if (wide || static_cast<int64_t>(bitmap.Width) * bitmap.Height < 2 * kBandPixels ||
        std::thread::hardware_concurrency() < 2) {
        pass(0, bitmap.Height);
        return;
    }
    const int middle = bitmap.Height / 2;
    std::thread lower([&pass, middle, &bitmap] { pass(middle, bitmap.Height); });
    pass(0, middle);
    lower.join();
}

// Applies a per-byte table to every pixel byte of the frame.
void MapBytes(Bitmap24& bitmap, const std::array<uint8_t, 256>& table) {
    const int rowBytes = bitmap.Width * 3;
    const bool useWide = wide::Available();
    ForRowBands(bitmap, useWide, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint8_t* p = bitmap.Row(y);
            for (int i = useWide ? wide::MapRow(p, rowBytes, table.data()) : 0; i < rowBytes; ++i)
                p[i] = table[p[i]];
        }
    });
}

} // namespace

double RoundHalfEven(double value) {
    const double lower = std::floor(value);
    const double diff = value - lower;
    if (diff > 0.5) return lower + 1.0;
    if (diff < 0.5) return lower;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

namespace {

// The colour arithmetic with the tone table t2 (which may have the
// exposure folded in): each byte v of a pixel becomes t2[clamp(grey + w[v])]
// with grey = d[sum of the pixel's three bytes]. Everything but the pixel
// comes from (sum, v), so one table over both gives each byte with a single
// look-up; the table is kept while the parameters stay the same (a task's
// frames all use the same ones).
struct TColorTable {
    std::array<uint8_t, 256> Tone{};
    int32_t Saturation = -1;
    std::vector<uint8_t> Values; // [sum * 256 + v]

    void Build(const std::array<uint8_t, 256>& t2, int32_t saturation) {
        Tone = t2;
        Saturation = saturation;
        std::array<int32_t, 256> w{};
        const auto s = static_cast<uint32_t>(std::max(saturation, 0));
        for (int i = 0; i < 256; ++i)
            w[i] = static_cast<int32_t>(static_cast<uint16_t>((s * (i + 1)) >> 8));
        Values.resize(768 * 256);
        for (int sum = 0; sum < 768; ++sum) {
            const int32_t grey = sum / 3 - w[sum / 3];
            uint8_t* row = Values.data() + static_cast<std::size_t>(sum) * 256;
            for (int v = 0; v < 256; ++v)
                row[v] = t2[ClampByte(grey + w[v])];
        }
    }
    const uint8_t* For(const std::array<uint8_t, 256>& t2, int32_t saturation) {
        if (saturation != Saturation || t2 != Tone || Values.empty()) Build(t2, saturation);
        return Values.data();
    }
};

bool IsIdentity(const std::array<uint8_t, 256>& table) {
    for (int i = 0; i < 256; ++i)
        if (table[i] != i) return false;
    return true;
}

void ColorPass(Bitmap24& bitmap, const std::array<uint8_t, 256>& t2, int32_t saturation) {
    // At 256 a pixel's grey cancels out: w(v) = v + 1, grey = -1, so each
    // byte v becomes t2[v] on its own.
    if (saturation == 256) {
        if (!IsIdentity(t2)) MapBytes(bitmap, t2);
        return;
    }
    thread_local TColorTable cache;
    const uint8_t* const table = cache.For(t2, saturation);
    const auto s = static_cast<uint32_t>(std::max(saturation, 0));
    const bool useWide = wide::Available() && s <= wide::kMaxSaturation;
    const uint8_t* const tone = IsIdentity(t2) ? nullptr : t2.data();
    ForRowBands(bitmap, useWide, [&bitmap, table, tone, s, useWide](int first, int last) {
        const int width = bitmap.Width;
        for (int y = first; y < last; ++y) {
            uint8_t* const line = bitmap.Row(y);
            const int done = useWide ? wide::ColorRow(line, width, tone, s) : 0;
            uint8_t* p = line + done * 3;
            for (int x = done; x < width; ++x, p += 3) {
                const uint32_t b = p[0], g = p[1], r = p[2];
                const uint8_t* const row = table + (b + g + r) * 256;
                const uint8_t nb = row[b], ng = row[g], nr = row[r];
                p[0] = nb;
                p[1] = ng;
                p[2] = nr;
            }
        }
    });
}

std::array<uint8_t, 256> ExposureTable(float exposure) {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        const double e = std::exp(-(i / 128.0) * (static_cast<double>(exposure) / 128.0));
        const auto v = static_cast<int64_t>(RoundHalfEven((1.0 - e) * 256.0));
        const int64_t rest = 255 - i;
        const int64_t level = exposure >= 0 ? i + ((v * rest) >> 8) : i - ((-v * rest) >> 8);
        table[i] = ClampByte(level);
    }
    return table;
}

// The tone table with the exposure folded in (exposure 0 changes nothing),
// kept while the settings stay: every picture of a task uses the same.
const std::array<uint8_t, 256>& Tone(int32_t brightness, int32_t contrast, float exposure) {
    thread_local struct {
        bool Made = false;
        int32_t Brightness = 0, Contrast = 0;
        float Exposure = 0;
        std::array<uint8_t, 256> Table{};
    } cache;
    if (cache.Made && cache.Brightness == brightness && cache.Contrast == contrast &&
        cache.Exposure == exposure)
        return cache.Table;
    cache.Table = ToneTable(brightness, contrast);
    const std::array<uint8_t, 256> light = ExposureTable(exposure);
    for (uint8_t& v : cache.Table)
        v = light[v];
    cache.Made = true;
    cache.Brightness = brightness;
    cache.Contrast = contrast;
    cache.Exposure = exposure;
    return cache.Table;
}

} // namespace

void AdjustColors(Bitmap24& bitmap, int32_t brightness, int32_t contrast, int32_t saturation) {
    ColorPass(bitmap, Tone(brightness, contrast, 0.0f), saturation);
}

void AdjustColorsAndExposure(Bitmap24& bitmap, int32_t brightness, int32_t contrast,
                             int32_t saturation, float exposure) {
    ColorPass(bitmap, Tone(brightness, contrast, exposure), saturation);
}

void AdjustExposure(Bitmap24& bitmap, float exposure) {
    MapBytes(bitmap, ExposureTable(exposure));
}

void AdjustPicture(Bitmap24& bitmap, int32_t brightness, int32_t contrast, int32_t saturation,
                   int32_t exposure) {
    const bool colours = brightness != kUntouchedBrightness || contrast != kUntouchedContrast ||
                         saturation != kUntouchedSaturation;
    const bool light = exposure != kUntouchedExposure;
    if (colours && light)
        AdjustColorsAndExposure(bitmap, brightness, contrast, saturation,
                                static_cast<float>(exposure));
    else if (colours)
        AdjustColors(bitmap, brightness, contrast, saturation);
    else if (light)
        AdjustExposure(bitmap, static_cast<float>(exposure));
}

namespace {

// Overlap of a source span placed at `at` on a destination span: the count
// of elements, the first source and the first destination index.
struct TSpan {
    int64_t Count, Src, Dst;
};

TSpan Overlap(int64_t at, int64_t srcLen, int64_t dstLen) {
    const int64_t count = at < 0 ? std::min(srcLen + at, dstLen) : std::min(srcLen, dstLen - at);
    return {count, std::max<int64_t>(0, -at), std::max<int64_t>(0, at)};
}

// ((256 - w) x d + w x s) >> 8 for w 0..255: the sum stays below 2^16.
inline uint8_t Mix(uint8_t d, uint8_t s, uint16_t w) {
    return static_cast<uint8_t>(static_cast<uint16_t>((256 - w) * d + w * s) >> 8);
}

// Whole blocks of a fixed size go through local copies, which the compiler
// turns into vector code; then the rest.
constexpr int kBlock = 64;

// Mix of `count` bytes with one weight.
void BlendBytes(uint8_t* d, const uint8_t* s, int64_t count, uint16_t w) {
    int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        uint8_t db[kBlock], sb[kBlock];
        std::memcpy(db, d + i, kBlock);
        std::memcpy(sb, s + i, kBlock);
        for (int k = 0; k < kBlock; ++k)
            db[k] = Mix(db[k], sb[k], w);
        std::memcpy(d + i, db, kBlock);
    }
    for (; i < count; ++i)
        d[i] = Mix(d[i], s[i], w);
}

// Mix of `count` bytes, each with its own weight.
void BlendBytes(uint8_t* d, const uint8_t* s, int64_t count, const uint8_t* w) {
    int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        uint8_t db[kBlock], sb[kBlock], wb[kBlock];
        std::memcpy(db, d + i, kBlock);
        std::memcpy(sb, s + i, kBlock);
        std::memcpy(wb, w + i, kBlock);
        for (int k = 0; k < kBlock; ++k)
            db[k] = Mix(db[k], sb[k], wb[k]);
        std::memcpy(d + i, db, kBlock);
    }
    for (; i < count; ++i)
        d[i] = Mix(d[i], s[i], w[i]);
}

// The weights of a masked row: each pixel's opacity alpha x mask / 255,
// rounded, for each of its three bytes.
void MaskWeights(const uint8_t* mask, int64_t pixels, uint16_t alpha, std::vector<uint8_t>& w) {
    w.resize(static_cast<std::size_t>(pixels) * 3);
    for (int64_t c = 0; c < pixels; c += kBlock) {
        const int count = static_cast<int>(std::min<int64_t>(kBlock, pixels - c));
        uint8_t mb[kBlock] = {}, pa[kBlock];
        std::memcpy(mb, mask + c, count);
        for (int k = 0; k < kBlock; ++k)
            pa[k] = static_cast<uint8_t>(static_cast<uint16_t>(alpha * mb[k] + 127) / 255);
        uint8_t* out = w.data() + 3 * c;
        for (int k = 0; k < count; ++k)
            out[3 * k] = out[3 * k + 1] = out[3 * k + 2] = pa[k];
    }
}

} // namespace

void BlendBitmap(Bitmap24& dst, const Bitmap24& src, int x, int y, int alpha) {
    const TSpan rows = Overlap(y, src.Height, dst.Height);
    const TSpan cols = Overlap(x, src.Width, dst.Width);
    if (rows.Count <= 0 || cols.Count <= 0) return;
    const auto a = static_cast<uint16_t>(std::clamp(alpha, 0, 255));
    const int64_t bytes = cols.Count * 3;
    for (int64_t r = 0; r < rows.Count; ++r) {
        const uint8_t* s = src.Row(static_cast<int>(rows.Src + r)) + cols.Src * 3;
        uint8_t* d = dst.Row(static_cast<int>(rows.Dst + r)) + cols.Dst * 3;
        BlendBytes(d, s, bytes, a);
    }
}

void BlendBitmapMasked(Bitmap24& dst, const Bitmap24& src, const std::vector<uint8_t>& mask, int x,
                       int y, int alpha) {
    if (mask.size() < static_cast<std::size_t>(src.Width) * src.Height)
        throw std::invalid_argument("BlendBitmapMasked: the mask is smaller than the picture");
    const TSpan rows = Overlap(y, src.Height, dst.Height);
    const TSpan cols = Overlap(x, src.Width, dst.Width);
    if (rows.Count <= 0 || cols.Count <= 0) return;
    const auto a = static_cast<uint16_t>(std::clamp(alpha, 0, 255));
    std::vector<uint8_t> weights;
    for (int64_t r = 0; r < rows.Count; ++r) {
        const int64_t srcRow = rows.Src + r;
        MaskWeights(mask.data() + srcRow * src.Width + cols.Src, cols.Count, a, weights);
        const uint8_t* s = src.Row(static_cast<int>(srcRow)) + cols.Src * 3;
        uint8_t* d = dst.Row(static_cast<int>(rows.Dst + r)) + cols.Dst * 3;
        BlendBytes(d, s, cols.Count * 3, weights.data());
    }
}

TFitRect FitRect(const TFitRect& srcRect, const TFitRect& dstRect) {
    const int64_t sw = srcRect.Width(), sh = srcRect.Height();
    const int64_t dw = dstRect.Width(), dh = dstRect.Height();
    int64_t w = 0, h = 0;
    if (sw > 0 && sh > 0 && dw > 0 && dh > 0) {
        if (sw * dh > sh * dw) {
            w = dw;
            h = static_cast<int64_t>(RoundHalfEven(static_cast<double>(sh * dw) / sw));
        } else {
            h = dh;
            w = static_cast<int64_t>(RoundHalfEven(static_cast<double>(sw * dh) / sh));
        }
    }
    const int left = dstRect.Left + static_cast<int>((dw - w) / 2);
    const int top = dstRect.Top + static_cast<int>((dh - h) / 2);
    return {left, top, left + static_cast<int>(w), top + static_cast<int>(h)};
}
