// The picture adjustments, blending and fitting on small frames.
#include "effects/FrameEffects.h"

#include "support/BitmapSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <vector>

namespace {

using testsupport::At;
using testsupport::Bgr;
using testsupport::Filled;

// A frame holding every byte value 0..255 in some channel, odd width so the
// rows carry padding.
Bitmap24 Ramp() {
    Bitmap24 b;
    b.SetSize(7, 37);
    for (int y = 0; y < b.Height; ++y)
        for (int i = 0; i < b.Width * 3; ++i)
            b.Row(y)[i] = static_cast<uint8_t>((y * 21 + i * 11) & 255);
    return b;
}

struct ColorCase {
    int brightness, contrast, saturation;
    Bgr in, out;
};

TEST(AdjustColors, KnownPixels) {
    const ColorCase cases[] = {
        {255, 0, 255, {255, 255, 255}, {254, 254, 254}},
        {255, 0, 255, {50, 100, 200}, {49, 99, 199}},
        {255, 0, 255, {128, 128, 128}, {127, 127, 127}},
        {256, -100, 256, {50, 100, 200}, {170, 170, 170}},
        {256, -100, 256, {0, 0, 0}, {170, 170, 170}},
        {0, 0, 256, {50, 100, 200}, {1, 1, 1}},
        {0, 0, 256, {255, 255, 255}, {1, 1, 1}},
        {256, 0, 0, {50, 100, 200}, {116, 116, 116}},
        // Saturation above 256 pushes the channels away from their grey.
        {256, 0, 512, {50, 100, 200}, {0, 84, 255}},
    };
    for (const ColorCase& c : cases) {
        Bitmap24 b = Filled(3, 2, c.in);
        AdjustColors(b, c.brightness, c.contrast, c.saturation);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(At(b, x, y), c.out)
                    << c.brightness << "/" << c.contrast << "/" << c.saturation;
    }
}

TEST(AdjustColors, NeutralValuesKeepEveryPixelAndThePadding) {
    Bitmap24 b = Ramp();
    const Bitmap24 before = b;
    AdjustColors(b, 256, 0, 256);
    EXPECT_EQ(b.Data, before.Data);
}

TEST(AdjustColors, ContrastHundredIsNinetyNine) {
    Bitmap24 a = Ramp(), b = Ramp();
    AdjustColors(a, 256, 100, 256);
    AdjustColors(b, 256, 99, 256);
    EXPECT_EQ(a.Data, b.Data);
    // Strong contrast spreads the levels around the pivot 170.
    Bitmap24 c = Filled(1, 1, {160, 170, 180});
    AdjustColors(c, 256, 99, 256);
    EXPECT_LT(At(c, 0, 0)[0], 160);
    EXPECT_EQ(At(c, 0, 0)[1], 170);
    EXPECT_GT(At(c, 0, 0)[2], 180);
}

TEST(AdjustColors, PositiveContrastRoundsHalvesToEven) {
    // Contrast 0 < C: k = 1 / cos(C pi / 200). For C = 50, k = sqrt(2).
    Bitmap24 b = Filled(1, 1, {160, 180, 169});
    AdjustColors(b, 256, 50, 256);
    EXPECT_EQ(At(b, 0, 0), (Bgr{156, 184, 169}));
}

TEST(AdjustExposure, KnownLevels) {
    const std::tuple<float, int, int> cases[] = {
        {100.0f, 64, 125},  {100.0f, 128, 196}, {100.0f, 192, 235},  {100.0f, 0, 0},
        {100.0f, 255, 255}, {-100.0f, 192, 52}, {-100.0f, 255, 255}, {-100.0f, 0, 0},
        {512.0f, 1, 8},     {-255.0f, 128, 0},
    };
    for (const auto& [x, in, out] : cases) {
        Bitmap24 b = Filled(2, 2, {in, in, in});
        AdjustExposure(b, x);
        EXPECT_EQ(At(b, 1, 1), (Bgr{out, out, out})) << x << " " << in;
    }
}

TEST(AdjustExposure, ZeroKeepsEveryByte) {
    Bitmap24 b = Ramp();
    const Bitmap24 before = b;
    AdjustExposure(b, 0.0f);
    EXPECT_EQ(b.Data, before.Data);
}

TEST(AdjustExposure, LevelsStayInOrder) {
    for (float x : {-255.0f, -40.0f, 40.0f, 512.0f}) {
        Bitmap24 b;
        b.SetSize(256, 1);
        for (int i = 0; i < 256; ++i)
            b.Row(0)[i * 3] = static_cast<uint8_t>(i);
        AdjustExposure(b, x);
        for (int i = 1; i < 256; ++i)
            EXPECT_LE(b.Row(0)[(i - 1) * 3], b.Row(0)[i * 3]) << x << " " << i;
    }
}

TEST(BlendBitmap, AlphaEnds) {
    Bitmap24 dst = Filled(4, 4, {10, 200, 100});
    const Bitmap24 src = Filled(2, 2, {250, 0, 60});
    BlendBitmap(dst, src, 1, 1, 0);
    EXPECT_EQ(At(dst, 1, 1), (Bgr{10, 200, 100}));
    BlendBitmap(dst, src, 1, 1, 255);
    // (dst + 255 src) >> 8: 1/256 of the frame remains.
    EXPECT_EQ(At(dst, 1, 1), (Bgr{(10 + 255 * 250) >> 8, 200 >> 8, (100 + 255 * 60) >> 8}));
    EXPECT_EQ(At(dst, 0, 0), (Bgr{10, 200, 100}));
    EXPECT_EQ(At(dst, 3, 3), (Bgr{10, 200, 100}));
    BlendBitmap(dst, src, 0, 0, 128);
    EXPECT_EQ(At(dst, 0, 0), (Bgr{(128 * 10 + 128 * 250) >> 8, 100, (128 * 100 + 128 * 60) >> 8}));
}

// Source pixel values encode their own position, so a blend at alpha 256
// (clamped to 255) shows which source pixel landed where.
Bitmap24 Positions(int w, int h) {
    Bitmap24 b;
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            b.Row(y)[x * 3] = static_cast<uint8_t>(x * 10);
            b.Row(y)[x * 3 + 1] = static_cast<uint8_t>(y * 10);
            b.Row(y)[x * 3 + 2] = 200;
        }
    return b;
}

TEST(BlendBitmap, PlacementAndClipping) {
    struct Case {
        int x, y;
        int dx, dy; // a destination pixel inside the overlap
        int sx, sy; // the source pixel expected there
    };
    const Case cases[] = {
        {-10, -5, 0, 0, 10, 5}, {-10, -5, 4, 9, 14, 14}, {0, 0, 0, 0, 0, 0},
        {12, 8, 19, 14, 7, 6},  {-3, 10, 0, 10, 3, 0},
    };
    for (const Case& c : cases) {
        Bitmap24 dst = Filled(20, 15, {0, 0, 0});
        const Bitmap24 src = Positions(16, 16);
        BlendBitmap(dst, src, c.x, c.y, 255);
        const Bgr s = At(src, c.sx, c.sy);
        EXPECT_EQ(At(dst, c.dx, c.dy), (Bgr{s[0] * 255 >> 8, s[1] * 255 >> 8, s[2] * 255 >> 8}))
            << c.x << "," << c.y;
    }
    // Outside the overlap nothing changes.
    Bitmap24 dst = Filled(20, 15, {0, 0, 0});
    BlendBitmap(dst, Positions(16, 16), -10, -5, 255);
    EXPECT_EQ(At(dst, 6, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(At(dst, 0, 11), (Bgr{0, 0, 0}));
}

TEST(BlendBitmap, WhollyOutsideOrEmptyDrawsNothing) {
    const Bitmap24 src = Filled(5, 5, {255, 255, 255});
    Bitmap24 empty;
    for (auto [x, y] :
         {std::pair{20, 0}, {0, 15}, {-5, 0}, {0, -5}, {-2147483647, 3}, {2147483647, 3}}) {
        Bitmap24 dst = Filled(20, 15, {1, 2, 3});
        const Bitmap24 before = dst;
        BlendBitmap(dst, src, x, y, 255);
        BlendBitmap(dst, empty, 0, 0, 255);
        EXPECT_EQ(dst.Data, before.Data) << x << "," << y;
    }
    BlendBitmap(empty, src, 0, 0, 255);
    EXPECT_TRUE(empty.Data.empty());
}

TEST(FitRect, KeepsProportionsAndCentres) {
    const std::tuple<TFitRect, TFitRect, TFitRect> cases[] = {
        {{0, 0, 320, 240}, {0, 0, 370, 240}, {25, 0, 345, 240}},
        {{0, 0, 1280, 720}, {10, 20, 330, 260}, {10, 50, 330, 230}},
        {{0, 0, 100, 100}, {0, 0, 50, 80}, {0, 15, 50, 65}},
        {{5, 5, 5, 9}, {0, 0, 40, 30}, {20, 15, 20, 15}},
    };
    for (const auto& [src, dst, want] : cases)
        EXPECT_EQ(FitRect(src, dst), want);
}

TEST(RoundHalfEven, Halves) {
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
    EXPECT_EQ(RoundHalfEven(2.4999), 2.0);
    EXPECT_EQ(RoundHalfEven(-0.6), -1.0);
}

} // namespace

namespace {

TEST(AdjustColorsAndExposure, SameAsOneAfterTheOther) {
    const std::tuple<int, int, int, float> cases[] = {{255, 0, 255, 100.0f},
                                                      {300, 40, 180, -60.0f},
                                                      {0, -100, 512, 512.0f},
                                                      {512, 100, 0, -255.0f}};
    for (const auto& [b, c, s, x] : cases) {
        Bitmap24 fused = Ramp(), apart = Ramp();
        AdjustColorsAndExposure(fused, b, c, s, x);
        AdjustColors(apart, b, c, s);
        AdjustExposure(apart, x);
        EXPECT_EQ(fused.Data, apart.Data) << b << "/" << c << "/" << s << "/" << x;
    }
}

} // namespace

namespace {

// Pixel k of a sequence that meets every blue/green pair and a spread of
// sums, laid out row by row in a frame of the given width.
Bitmap24 Sequence(int width) {
    constexpr int kPixels = 65536;
    Bitmap24 b;
    b.SetSize(width, (kPixels + width - 1) / width);
    for (int k = 0; k < b.Width * b.Height; ++k) {
        uint8_t* p = b.Row(k / width) + (k % width) * 3;
        p[0] = static_cast<uint8_t>(k);
        p[1] = static_cast<uint8_t>(k >> 8);
        p[2] = static_cast<uint8_t>(k * 7 + (k >> 8) * 13);
    }
    return b;
}

Bgr Pixel(const Bitmap24& b, int k) {
    return At(b, k % b.Width, k / b.Width);
}

// Rows long enough for whole runs of 64 pixels may take a faster pass; it has
// to give every pixel exactly what a row too short for one run gives.
TEST(AdjustColors, LongRowsGiveWhatShortRowsGive) {
    const std::tuple<int, int, int, float> cases[] = {
        {255, 0, 255, 0.0f},     {300, 20, 300, 20.0f}, {0, -100, 512, 0.0f},
        {512, 100, 0, -255.0f},  {256, 0, 256, -90.0f}, {256, 0, 16383, 0.0f},
        {200, -40, 20000, 0.0f}, {256, 0, 256, 90.0f}};
    for (const auto& [b, c, s, x] : cases) {
        Bitmap24 wide = Sequence(1000), narrow = Sequence(63);
        for (Bitmap24* f : {&wide, &narrow}) {
            if (b == 256 && c == 0 && s == 256)
                AdjustExposure(*f, x);
            else if (x != 0.0f)
                AdjustColorsAndExposure(*f, b, c, s, x);
            else
                AdjustColors(*f, b, c, s);
        }
        int differing = 0;
        for (int k = 0; k < 65536; ++k)
            if (Pixel(wide, k) != Pixel(narrow, k) && ++differing <= 3)
                ADD_FAILURE() << b << "/" << c << "/" << s << "/" << x << " pixel " << k;
        EXPECT_EQ(differing, 0);
    }
}

} // namespace

namespace {

// All blue/green pairs at one red level, `width` pixels a row (no padding
// for the widths used here, so two such frames hold the same bytes).
Bitmap24 Plane(int width, int red) {
    Bitmap24 b;
    b.SetSize(width, 65536 / width);
    for (int k = 0; k < 65536; ++k) {
        uint8_t* p = b.Data.data() + k * 3;
        p[0] = static_cast<uint8_t>(k);
        p[1] = static_cast<uint8_t>(k >> 8);
        p[2] = static_cast<uint8_t>(red);
    }
    return b;
}

// Every colour through a frame whose rows hold whole runs of 64 pixels and
// one whose rows hold none: the two ways through the colour pass agree, at
// the ends of the settings' ranges and next to their neutral values.
TEST(AdjustColors, EveryColourTheSameInLongAndShortRows) {
    const std::tuple<int, int, int, float> cases[] = {
        {300, 20, 300, 20.0f}, {0, -100, 0, 0.0f},  {512, 100, 512, 512.0f},
        {255, 0, 1, -255.0f},  {256, 0, 257, 0.0f}, {1, 99, 16383, 0.0f},
        {256, -1, 255, 1.0f},  {256, 0, 300, 0.0f}, {256, 0, 0, 0.0f}};
    for (const auto& [b, c, s, x] : cases) {
        for (int red = 0; red < 256; ++red) {
            Bitmap24 wide = Plane(256, red), narrow = Plane(32, red);
            for (Bitmap24* f : {&wide, &narrow})
                AdjustColorsAndExposure(*f, b, c, s, x);
            if (wide.Data == narrow.Data) continue;
            for (int k = 0, shown = 0; k < 65536 && shown < 3; ++k)
                if (Pixel(wide, k) != Pixel(narrow, k) && ++shown)
                    ADD_FAILURE() << b << "/" << c << "/" << s << "/" << x << " blue " << (k & 255)
                                  << " green " << (k >> 8) << " red " << red;
            break;
        }
    }
}

// Rows of several blocks and a rest, placed at odd offsets on both sides:
// every byte is ((256 - alpha) x frame + alpha x picture) >> 8, for every
// pair of byte values, at every opacity (clamped into 0..255).
TEST(BlendBitmap, EveryByteAndOpacityInLongRows) {
    Bitmap24 src;
    src.SetSize(260, 256);
    for (int y = 0; y < src.Height; ++y)
        for (int i = 0; i < src.Width * 3; ++i)
            src.Row(y)[i] = static_cast<uint8_t>(i + y);
    for (int alpha : {-7, 0, 1, 2, 127, 128, 129, 200, 254, 255, 256, 999}) {
        Bitmap24 dst;
        dst.SetSize(301, 258);
        for (int y = 0; y < dst.Height; ++y)
            for (int i = 0; i < dst.Width * 3; ++i)
                dst.Row(y)[i] = static_cast<uint8_t>(i / 3 * 5 + y);
        const Bitmap24 before = dst;
        BlendBitmap(dst, src, 37, 1, alpha);
        const int a = std::clamp(alpha, 0, 255);
        int wrong = 0;
        for (int y = 0; y < dst.Height; ++y)
            for (int i = 0; i < dst.Width * 3; ++i) {
                const int sx = i - 37 * 3, sy = y - 1;
                const int d = before.Row(y)[i];
                const bool inside = sx >= 0 && sx < src.Width * 3 && sy >= 0 && sy < src.Height;
                const int want = inside ? ((256 - a) * d + a * src.Row(sy)[sx]) >> 8 : d;
                if (dst.Row(y)[i] != want && ++wrong <= 3)
                    ADD_FAILURE() << "alpha " << alpha << " byte " << i << " of row " << y;
            }
        EXPECT_EQ(wrong, 0);
    }
}

} // namespace

namespace {

// A grey pixel keeps its grey at any saturation, so it shows the tone curve
// alone. At saturation 256 every byte of every colour follows that curve
// on its own, whatever the other two bytes of its pixel are.
TEST(AdjustColors, SaturationTwoFiftySixIsTheToneCurveOnEachByte) {
    const std::tuple<int, int, float> cases[] = {
        {300, 20, 20.0f}, {0, -100, 0.0f}, {512, 100, -255.0f}, {256, 0, 0.0f}, {200, 0, 512.0f}};
    for (const auto& [b, c, x] : cases) {
        Bitmap24 greys;
        greys.SetSize(256, 1);
        for (int v = 0; v < 256; ++v)
            for (int k = 0; k < 3; ++k)
                greys.Row(0)[v * 3 + k] = static_cast<uint8_t>(v);
        AdjustColorsAndExposure(greys, b, c, 300, x);
        for (int red : {0, 77, 255}) {
            Bitmap24 colours = Plane(256, red);
            const Bitmap24 before = colours;
            AdjustColorsAndExposure(colours, b, c, 256, x);
            int wrong = 0;
            for (std::size_t i = 0; i < colours.Data.size(); ++i)
                if (colours.Data[i] != greys.Row(0)[before.Data[i] * 3] && ++wrong <= 3)
                    ADD_FAILURE() << b << "/" << c << "/" << x << " byte " << i;
            EXPECT_EQ(wrong, 0);
        }
    }
}

} // namespace

namespace {

// A picture with its own transparency over long rows at odd offsets: each
// pixel's opacity is alpha x mask / 255 rounded, for every mask value and
// every pair of bytes, and where it comes to 0 the frame stays.
TEST(BlendBitmapMasked, EveryMaskValueAndByteInLongRows) {
    Bitmap24 src;
    src.SetSize(300, 256);
    std::vector<uint8_t> mask(static_cast<std::size_t>(src.Width) * src.Height);
    for (int y = 0; y < src.Height; ++y)
        for (int x = 0; x < src.Width; ++x) {
            mask[static_cast<std::size_t>(y) * src.Width + x] = static_cast<uint8_t>(x + 3 * y);
            for (int k = 0; k < 3; ++k)
                src.Row(y)[x * 3 + k] = static_cast<uint8_t>(x * 7 + y + k * 85);
        }
    for (int alpha : {-3, 0, 1, 2, 128, 200, 254, 255, 400}) {
        Bitmap24 dst;
        dst.SetSize(290, 250);
        for (int y = 0; y < dst.Height; ++y)
            for (int i = 0; i < dst.Width * 3; ++i)
                dst.Row(y)[i] = static_cast<uint8_t>(i + 2 * y);
        const Bitmap24 before = dst;
        BlendBitmapMasked(dst, src, mask, -5, 3, alpha);
        const int a = std::clamp(alpha, 0, 255);
        int wrong = 0;
        for (int y = 0; y < dst.Height; ++y)
            for (int x = 0; x < dst.Width; ++x) {
                const int sx = x + 5, sy = y - 3;
                const bool inside = sx < src.Width && sy >= 0;
                const int m = inside ? mask[static_cast<std::size_t>(sy) * src.Width + sx] : 0;
                const int pa = (a * m + 127) / 255;
                for (int k = 0; k < 3; ++k) {
                    const int d = before.Row(y)[x * 3 + k];
                    const int want =
                        pa == 0 ? d : ((256 - pa) * d + pa * src.Row(sy)[sx * 3 + k]) >> 8;
                    if (dst.Row(y)[x * 3 + k] != want && ++wrong <= 3)
                        ADD_FAILURE() << "alpha " << alpha << " pixel " << x << "," << y;
                }
            }
        EXPECT_EQ(wrong, 0);
    }
}

} // namespace
