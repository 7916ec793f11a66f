// The zoom modes of the output formats and the TV pixel aspects.
#include "core/FrameZoom.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace {

// The whole text as a positive decimal number, 0 for anything else.
int32_t PositiveNumber(const std::string& text) {
    int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && value > 0 ? value : 0;
}

std::string AspectText(int32_t w, int32_t h) {
    return std::to_string(w) + ":" + std::to_string(h);
}

void RequireUsableGeometry(const TFrameGeometry& g) {
    if (g.W <= 0 || g.H <= 0 || g.SW <= 0 || g.SH <= 0)
        throw std::invalid_argument("Cannot fit a " + SizeText(g.SW, g.SH) +
                                    " picture into a frame of " + SizeText(g.W, g.H));
}

struct TPads {
    int32_t T = 0, B = 0, L = 0, R = 0;
};

// The fitting arithmetic: ratios are stored as doubles and divided at the
// precision of long double, the division results truncated.
struct TFit {
    const TFrameGeometry& G;
    double R1, R2;

    explicit TFit(const TFrameGeometry& g)
        : G(g), R1(static_cast<double>(static_cast<long double>(g.SW) / g.W)),
          R2(static_cast<double>(static_cast<long double>(g.SH) / g.H)) {}

    // A side that would shrink below two pixels (a picture far wider or
    // taller than the frame) keeps two, so that it still shows as a line.
    static int32_t Fit(int32_t size, double r) {
        const auto fitted = static_cast<int32_t>(std::trunc(size / static_cast<long double>(r)));
        return std::max(2, 2 * (fitted / 2));
    }
    int32_t PadV(double r) const { return 2 * ((G.H - Fit(G.SH, r)) / 4); }
    int32_t PadH(double r) const { return 2 * ((G.W - Fit(G.SW, r)) / 4); }

    bool Narrower() const { return G.W <= G.SW && G.H >= G.SH; }
    bool Wider() const { return G.W >= G.SW && G.H <= G.SH; }
    bool Larger() const { return G.W >= G.SW && G.H >= G.SH; }
    bool Smaller() const { return G.W <= G.SW && G.H <= G.SH; }
    bool Same() const { return G.W == G.SW && G.H == G.SH; }
};

TPads LetterboxPads(const TFit& f) {
    TPads p;
    if (f.Narrower()) p = {f.PadV(f.R1), f.PadV(f.R1), 0, 0};
    if (f.Wider()) p = {0, 0, f.PadH(f.R2), f.PadH(f.R2)};
    if (f.Larger() || f.Smaller()) {
        if (f.R1 > f.R2)
            p = {f.PadV(f.R1), f.PadV(f.R1), 0, 0};
        else if (f.R1 < f.R2)
            p = {0, 0, f.PadH(f.R2), f.PadH(f.R2)};
        else
            p = {f.PadV(f.R1), f.PadV(f.R1), f.PadH(f.R2), f.PadH(f.R2)};
    }
    if (f.Same()) p = {};
    return p;
}

std::string ZoomFull(const TFrameGeometry& g, const TZoomCrop& c, TOutputOptions& out) {
    if (c.Any()) {
        out.CropTop = c.T, out.CropBottom = c.B, out.CropLeft = c.L, out.CropRight = c.R;
    }
    out.FrameSize = SizeText(g.W, g.H);
    out.FrameAspectRatio = AspectText(g.W, g.H);
    return {};
}

TTvAspect TvSampleAspect(int32_t w, int32_t h, bool wide) {
    const bool full = (w == 720 || w == 704 || w == 480 || w == 352) && (h == 480 || h == 576);
    const bool half = w == 352 && (h == 240 || h == 288);
    if (!full && !half) return {};
    if (w == 352 && h == 288 && !wide) return {59, 54};
    int32_t num = (wide ? 16 : 4) * h, den = (wide ? 9 : 3) * w;
    for (int32_t a = num, b = den; b != 0;) {
        const int32_t r = a % b;
        a = b, b = r;
        if (b == 0) num /= a, den /= a;
    }
    return {num, den};
}

// The letterbox of a TV frame is worked out on the picture as the TV shows
// it (its width scaled by the sample aspect), then the side bars are taken
// back to stored pixels.
TPads TvLetterboxPads(const TFrameGeometry& g, const TTvAspect& sar) {
    TFrameGeometry shown = g;
    shown.W = static_cast<int32_t>(std::lround(static_cast<double>(g.W) * sar.Num / sar.Den));
    TPads p = LetterboxPads(TFit(shown));
    p.L = p.R = 2 * static_cast<int32_t>(std::lround(static_cast<double>(p.L) * g.W / shown.W / 2));
    return p;
}

// Without a frame size the engine measures the aspect against the source's
// stored frame: for a source of non-square pixels it is given so that the
// filter's output gets square pixels (or those of the TV's shape).
std::string StoredFrameAspect(const TFrameGeometry& g, const TTvAspect& tv) {
    const TTvAspect pixels = tv ? tv : TTvAspect{1, 1};
    return AspectText(pixels.Num * g.StoredSW, pixels.Den * g.SH);
}

std::string ZoomLetterbox(const TFrameGeometry& g, const TZoomCrop& c, const TTvAspect& tv,
                          TOutputOptions& out) {
    RequireUsableGeometry(g);
    const TPads p = tv ? TvLetterboxPads(g, tv) : LetterboxPads(TFit(g));
    const int32_t w = g.W - p.L - p.R, h = g.H - p.T - p.B;
    out.FrameAspectRatio = tv ? AspectText(tv.Num * w, tv.Den * h) : AspectText(w, h);
    const std::string pad = "pad=" + std::to_string(g.W) + ":" + std::to_string(g.H) + ":" +
                            std::to_string(p.L) + ":" + std::to_string(p.T);
    if (!c.Any()) {
        out.FrameSize = SizeText(w, h);
        return pad;
    }
    // The filter crops the picture itself, so the engine must not crop first.
    out.CropTop = out.CropBottom = out.CropLeft = out.CropRight = 0;
    if (g.SW != g.StoredSW) out.FrameAspectRatio = StoredFrameAspect(g, tv);
    // The crop filter of the libraries takes width:height:x:y.
    return "crop=" + std::to_string(g.StoredSW - c.L - c.R) + ":" +
           std::to_string(g.SH - c.T - c.B) + ":" + std::to_string(c.L) + ":" +
           std::to_string(c.T) + ",scale=" + std::to_string(w) + ":" + std::to_string(h) + "," +
           pad;
}

int32_t EvenTowardZero(int64_t value) {
    return static_cast<int32_t>(value / 2 * 2);
}

std::string ZoomPanScan(const TFrameGeometry& g, const TZoomCrop& c, TOutputOptions& out) {
    const int32_t cw = g.StoredSW - c.L - c.R, ch = g.SH - c.T - c.B;
    if (cw <= 0 || ch <= 0)
        throw std::invalid_argument("Cannot pan and scan a cropped picture of " + SizeText(cw, ch));
    out.CropTop = c.T, out.CropBottom = c.B, out.CropLeft = c.L, out.CropRight = c.R;
    // The shape is the shown one; the side crop goes back to stored pixels.
    const long double shown = cw / g.StoredPerShown();
    const long double aspect = shown / ch, standard = 4.0L / 3.0L;
    if (aspect > standard) {
        const int64_t k = static_cast<int64_t>(std::trunc((aspect - standard) * shown)) / 2;
        const auto stored = static_cast<int64_t>(std::trunc(std::llabs(k) * g.StoredPerShown()));
        out.CropLeft = out.CropRight = EvenTowardZero(stored + c.L);
    } else if (aspect < standard) {
        const long double tall = ch / shown;
        const int64_t k = static_cast<int64_t>(std::trunc((tall - standard) * ch)) / 2;
        out.CropTop = out.CropBottom = EvenTowardZero(std::llabs(k) + c.T);
    }
    out.FrameSize = SizeText(g.W, g.H);
    out.FrameAspectRatio = AspectText(g.W, g.H);
    return {};
}

// The padded size is even: the filter cannot pad a picture of two by two
// colour samples to an odd size at least as large as an odd source.
std::string CenterPad(int32_t a, int32_t b, int32_t c, int32_t d) {
    return "pad=" + std::to_string(TFrameGeometry::EvenUpward(a)) + ":" +
           std::to_string(TFrameGeometry::EvenUpward(b)) + ":" + std::to_string(c) + ":" +
           std::to_string(d) + ":black";
}

// One case of the center mode: its frame size and pad filter.
struct TCenterCase {
    std::string Size, Filter;
};

TCenterCase CenterTall(const TFrameGeometry& g, TPads& p, const TFit& f) {
    p.T = p.B = f.PadV(f.R1);
    return {SizeText(g.W, g.H - 2 * p.R), CenterPad(g.SW, g.SH + p.T + p.B, 0, p.T)};
}

TCenterCase CenterWide(const TFrameGeometry& g, TPads& p, const TFit& f) {
    p.L = p.R = f.PadH(f.R2);
    return {SizeText(g.W - p.L - p.R, g.H), CenterPad(g.SW + p.L + p.R, g.SH, p.L, 0)};
}

TCenterCase CenterBoth(const TFrameGeometry& g, TPads& p, const TFit& f) {
    p.T = p.B = f.PadV(f.R1);
    p.L = p.R = f.PadH(f.R2);
    return {SizeText(g.W - p.L - p.R, g.H - 2 * p.R),
            CenterPad(g.SW + p.L + p.R, g.SH + p.T + p.B, p.L, p.T)};
}

TCenterCase CenterSmallTall(const TFrameGeometry& g, TPads& p, const TFit& f) {
    p.T = f.PadV(f.R1);
    return {SizeText(g.W, g.H - 2 * p.R), CenterPad(g.W, g.H, 0, p.T)};
}

// The cases are tested in order; the pads carry over from one to the next.
TCenterCase CenterCases(const TFrameGeometry& g, const TFit& f) {
    TPads p;
    TCenterCase last;
    if (f.Narrower()) last = CenterTall(g, p, f);
    if (f.Wider()) last = CenterWide(g, p, f);
    if (f.Larger())
        last = f.R1 > f.R2 ? CenterTall(g, p, f)
                           : (f.R1 < f.R2 ? CenterWide(g, p, f) : CenterBoth(g, p, f));
    if (f.Smaller())
        last = f.R1 > f.R2 ? CenterSmallTall(g, p, f)
                           : (f.R1 < f.R2 ? CenterWide(g, p, f) : CenterBoth(g, p, f));
    return last;
}

std::string ZoomCenter(const TFrameGeometry& g, TOutputOptions& out) {
    RequireUsableGeometry(g);
    const TFit fit(g);
    const TCenterCase chosen = CenterCases(g, fit);
    out.FrameSize = fit.Same() ? SizeText(g.W, g.H) : chosen.Size;
    out.FrameAspectRatio = AspectText(g.W, g.H);
    return chosen.Filter;
}

} // namespace

std::string SizeText(int32_t w, int32_t h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

std::string ApplyZoom(const std::string& mode, const TFrameGeometry& g, const TZoomCrop& crop,
                      const TTvAspect& tv, TOutputOptions& out) {
    if (mode == "full") return ZoomFull(g, crop, out);
    if (mode == "lbox") return ZoomLetterbox(g, crop, tv, out);
    if (mode == "pan") return ZoomPanScan(g, crop, out);
    if (mode == "center") return ZoomCenter(g, out);
    return {};
}

// The aspect of the scaled picture is the one its pixels of the TV's shape
// give it.
TTvAspect TvAspectOf(const TFrameGeometry& g, const std::string& encoder,
                     const TOutputOptions& out) {
    const bool tv = encoder == "mpeg1video" || encoder == "mpeg2video" || encoder == "dvvideo" ||
                    (out.TargetType >= 1 && out.TargetType <= 3);
    const bool wide = out.TargetType == 3 && out.FrameAspectRatio == "16:9";
    return tv ? TvSampleAspect(g.W, g.H, wide) : TTvAspect{};
}

void MarkTvAspect(const TTvAspect& tv, TOutputOptions& out) {
    const std::size_t x = out.FrameSize.find('x');
    if (!tv || x == std::string::npos) return;
    const int32_t w = PositiveNumber(out.FrameSize.substr(0, x));
    const int32_t h = PositiveNumber(out.FrameSize.substr(x + 1));
    if (w > 0 && h > 0) out.FrameAspectRatio = AspectText(tv.Num * w, tv.Den * h);
}
