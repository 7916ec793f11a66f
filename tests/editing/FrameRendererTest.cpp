// The frame renderer on Bitmap24 frames: effects before layers, text and
// image layers, their time ranges and clipping, the layer cache.
#include "editing/FrameRenderer.h"

#include "support/BitmapSupport.h"
#include "support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <gtest/gtest.h>

#include <array>
#include <vector>
#include <stdexcept>
#include <thread>

namespace {

// The renderer needs fonts, so a QGuiApplication lives through the tests.
class GuiEnvironment : public testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "vantrel_effects_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QGuiApplication> app_;
};
const auto* const kGui = testing::AddGlobalTestEnvironment(new GuiEnvironment);

using testsupport::At;
using testsupport::Bgr;
using testsupport::Filled;

int Blend(int dst, int src, int alpha) {
    return ((256 - alpha) * dst + alpha * src) >> 8;
}

// Writes a w x h ".bmp" of one colour.
std::string WriteBmp(const testsupport::TempDir& dir, const std::string& name, int w, int h,
                     Bgr c) {
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(QColor(c[2], c[1], c[0]));
    const std::string file = dir.file(name);
    EXPECT_TRUE(image.save(QString::fromStdString(file), "BMP"));
    return file;
}

TWmRec ImageLayer(const std::string& file, int x, int y, int alpha, int start, int end) {
    TWmRec l;
    l.Kind = kWmImageLayer;
    l.ImageFile = file;
    l.ImageLeft = x;
    l.ImageTop = y;
    l.ImageAlpha = alpha;
    l.StartTime = start;
    l.EndTime = end;
    return l;
}

TWmRec TextLayer(const std::string& text, int x, int y, bool opaque, uint32_t back) {
    TWmRec l;
    l.Kind = kWmTextLayer;
    l.Text = text;
    l.Font = TWmFont{"DejaVu Sans", 20, fsBold, 0x0000FFu};
    l.TextLeft = x;
    l.TextTop = y;
    l.TextWidth = 60;
    l.TextHeight = 30;
    l.TextAlpha = 255;
    l.UseBackColor = opaque;
    l.BackColor = back;
    l.StartTime = 0;
    l.EndTime = 100;
    return l;
}

TEST(RenderRowFrame, EffectsComeBeforeTheLayers) {
    testsupport::TempDir dir;
    TlvFilesRecord row;
    row.Contrast = -100; // every pixel grey 170 (with brightness and saturation 255)
    row.Watermarks.push_back(
        ImageLayer(WriteBmp(dir, "a.bmp", 4, 3, {0, 0, 250}), 2, 1, 200, 0, 10));
    Bitmap24 frame = Filled(10, 8, {10, 90, 30});
    TLayerImageCache cache;
    RenderRowFrame(row, frame, 0, cache);
    EXPECT_EQ(At(frame, 0, 0), (Bgr{170, 170, 170}));
    EXPECT_EQ(At(frame, 9, 7), (Bgr{170, 170, 170}));
    const Bgr inside{Blend(170, 0, 200), Blend(170, 0, 200), Blend(170, 250, 200)};
    EXPECT_EQ(At(frame, 2, 1), inside);
    EXPECT_EQ(At(frame, 5, 3), inside);
    EXPECT_EQ(At(frame, 6, 3), (Bgr{170, 170, 170}));
    EXPECT_EQ(At(frame, 2, 4), (Bgr{170, 170, 170}));
}

TEST(RenderRowFrame, ExposureAfterColours) {
    TlvFilesRecord row;
    row.Brightness = 0; // every pixel 1
    row.Exposure = 100;
    Bitmap24 frame = Filled(3, 3, {200, 100, 0});
    TLayerImageCache cache;
    RenderRowFrame(row, frame, 0, cache);
    // 1 + ((V * 254) >> 8) with V = round((1 - exp(-(1/128)(100/128))) 256) = 2.
    EXPECT_EQ(At(frame, 1, 1), (Bgr{2, 2, 2}));
}

TEST(RenderRowFrame, LayersOnlyWithinTheirSeconds) {
    testsupport::TempDir dir;
    const std::string file = WriteBmp(dir, "t.bmp", 2, 2, {255, 255, 255});
    struct Case {
        int start, end;
        int64_t pts;
        bool drawn;
    };
    const Case cases[] = {
        {3, 3, 2999999, false}, {3, 3, 3000000, true},  {3, 3, 3999999, true},
        {3, 3, 4000000, false}, {5, 8, 4999999, false}, {5, 8, 5000000, true},
        {5, 8, 8999999, true},  {5, 8, 9000000, false},
    };
    for (const Case& c : cases) {
        TlvFilesRecord row;
        row.Watermarks.push_back(ImageLayer(file, 0, 0, 255, c.start, c.end));
        Bitmap24 frame = Filled(4, 4, {0, 0, 0});
        TLayerImageCache cache;
        RenderRowFrame(row, frame, c.pts, cache);
        EXPECT_EQ(At(frame, 1, 1)[0], c.drawn ? 254 : 0)
            << c.start << ".." << c.end << " @" << c.pts;
    }
}

TEST(RenderRowFrame, LaterLayersOverEarlierAndEmptyLayersDrawNothing) {
    testsupport::TempDir dir;
    TlvFilesRecord row;
    TWmRec emptyText = TextLayer("", 0, 0, true, 0x00FF00u);
    TWmRec emptyImage = ImageLayer("", 0, 0, 255, 0, 10);
    TWmRec textKindWithImage =
        ImageLayer(WriteBmp(dir, "x.bmp", 8, 8, {9, 9, 9}), 0, 0, 255, 0, 10);
    textKindWithImage.Kind = kWmTextLayer; // a text layer uses only its text fields
    row.Watermarks = {emptyText, emptyImage, textKindWithImage,
                      ImageLayer(WriteBmp(dir, "a.bmp", 3, 3, {0, 0, 200}), 0, 0, 255, 0, 10),
                      ImageLayer(WriteBmp(dir, "b.bmp", 2, 2, {100, 0, 0}), 1, 1, 128, 0, 10)};
    Bitmap24 frame = Filled(5, 5, {0, 0, 0});
    TLayerImageCache cache;
    RenderRowFrame(row, frame, 1000000, cache);
    const int red = Blend(0, 200, 255);
    EXPECT_EQ(At(frame, 0, 0), (Bgr{0, 0, red}));
    EXPECT_EQ(At(frame, 1, 1), (Bgr{Blend(0, 100, 128), 0, Blend(red, 0, 128)}));
    EXPECT_EQ(At(frame, 4, 4), (Bgr{0, 0, 0}));
}

// A PNG's own opacity goes under the layer's: a clear pixel leaves the
// frame, a half-clear one blends at half the layer's opacity, an opaque one
// as a picture without transparency would. A JPEG has no opacity of its own.
TEST(RenderRowFrame, PictureTransparencyUnderTheLayerOpacity) {
    testsupport::TempDir dir;
    QImage logo(3, 1, QImage::Format_ARGB32);
    logo.setPixelColor(0, 0, QColor(250, 10, 90, 0));
    logo.setPixelColor(1, 0, QColor(250, 10, 90, 128));
    logo.setPixelColor(2, 0, QColor(250, 10, 90, 255));
    const std::string png = dir.file("logo.png");
    ASSERT_TRUE(logo.save(QString::fromStdString(png), "PNG"));
    const std::string jpeg = dir.file("logo.jpg");
    ASSERT_TRUE(logo.convertToFormat(QImage::Format_RGB32).save(QString::fromStdString(jpeg)));
    TlvFilesRecord row;
    row.Watermarks = {ImageLayer(png, 1, 1, 200, 0, 10)};
    Bitmap24 frame = Filled(5, 3, {40, 80, 120});
    TLayerImageCache cache;
    RenderRowFrame(row, frame, 0, cache);
    EXPECT_EQ(At(frame, 1, 1), (Bgr{40, 80, 120}));
    const int half = (200 * 128 + 127) / 255;
    EXPECT_EQ(At(frame, 2, 1),
              (Bgr{Blend(40, 90, half), Blend(80, 10, half), Blend(120, 250, half)}));
    EXPECT_EQ(At(frame, 3, 1), (Bgr{Blend(40, 90, 200), Blend(80, 10, 200), Blend(120, 250, 200)}));
    EXPECT_EQ(At(frame, 0, 1), (Bgr{40, 80, 120}));
    EXPECT_NE(cache.Opacity(png), nullptr);
    EXPECT_EQ(cache.Opacity(jpeg), nullptr);
    EXPECT_EQ(cache.Image(jpeg).Width, 3);
}

TEST(BlendBitmapMasked, FullMaskIsThePlainBlendAndClips) {
    const Bitmap24 src = Filled(4, 4, {200, 100, 50});
    Bitmap24 plain = Filled(6, 5, {10, 20, 30});
    Bitmap24 masked = plain;
    BlendBitmap(plain, src, -1, 3, 77);
    BlendBitmapMasked(masked, src, std::vector<uint8_t>(16, 255), -1, 3, 77);
    EXPECT_EQ(plain.Data, masked.Data);
    EXPECT_THROW(BlendBitmapMasked(masked, src, std::vector<uint8_t>(15, 255), 0, 0, 77),
                 std::invalid_argument);
}

TEST(RenderRowFrame, UnreadableImageThrowsEveryTime) {
    testsupport::TempDir dir;
    TlvFilesRecord row;
    row.Contrast = 50;
    row.Watermarks.push_back(TextLayer("T", 0, 0, true, 0xFFFFFFu));
    row.Watermarks.push_back(ImageLayer(dir.file("missing.bmp"), 0, 0, 255, 0, 10));
    TLayerImageCache cache;
    for (int i = 0; i < 2; ++i) {
        Bitmap24 frame = Filled(4, 4, {1, 2, 3});
        const Bitmap24 before = frame;
        try {
            RenderRowFrame(row, frame, 0, cache);
            ADD_FAILURE() << "no error for a missing layer file";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("missing.bmp"), std::string::npos) << e.what();
        }
        EXPECT_EQ(frame.Data, before.Data) << "pixels changed before the error";
    }
    // A layer out of its time range reads nothing and raises nothing.
    row.Watermarks[1].StartTime = 5;
    Bitmap24 frame = Filled(4, 4, {1, 2, 3});
    EXPECT_NO_THROW(RenderRowFrame(row, frame, 0, cache));
}

TEST(TextLayer, OpaqueBoxCoversItsRectangleOnly) {
    Bitmap24 frame = Filled(100, 60, {40, 40, 40});
    TLayerImageCache cache;
    const TWmRec layer = TextLayer("I", 20, 10, true, 0x00FF00u); // green back, red text
    DrawLayer(frame, layer, cache);
    EXPECT_EQ(At(frame, 79, 39), (Bgr{Blend(40, 0, 255), Blend(40, 255, 255), Blend(40, 0, 255)}));
    EXPECT_EQ(At(frame, 80, 39), (Bgr{40, 40, 40}));
    EXPECT_EQ(At(frame, 79, 40), (Bgr{40, 40, 40}));
    EXPECT_EQ(At(frame, 19, 10), (Bgr{40, 40, 40}));
    int reddish = 0;
    for (int y = 10; y < 40; ++y)
        for (int x = 20; x < 80; ++x)
            reddish += At(frame, x, y)[2] > 128;
    EXPECT_GT(reddish, 10);
}

TEST(TextLayer, TransparentBoxChangesOnlyGlyphs) {
    Bitmap24 frame;
    frame.SetSize(100, 60);
    for (int y = 0; y < 60; ++y)
        for (int i = 0; i < 300; ++i)
            frame.Row(y)[i] = static_cast<uint8_t>((y * 7 + i) % 90);
    const Bitmap24 before = frame;
    TLayerImageCache cache;
    DrawLayer(frame, TextLayer("Wm", 20, 10, false, 0x00FF00u), cache);
    int changed = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x) {
            if (At(frame, x, y) == At(before, x, y)) continue;
            ++changed;
            EXPECT_TRUE(x >= 20 && x < 80 && y >= 10 && y < 40) << x << "," << y;
            EXPECT_LE(At(frame, x, y)[1], At(before, x, y)[1]) << "glyphs carry no green";
        }
    EXPECT_GT(changed, 20);
}

// The text alone on transparency, as a 60 x 30 layer box holds it.
QImage GlyphPicture(const TWmRec& layer) {
    QImage glyphs(layer.TextWidth, layer.TextHeight, QImage::Format_ARGB32_Premultiplied);
    glyphs.fill(Qt::transparent);
    QPainter p(&glyphs);
    p.setFont(LayerFont(*layer.Font));
    p.setPen(ResolveColor(layer.Font->Color));
    p.drawText(glyphs.rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
               QString::fromStdString(layer.Text));
    return glyphs;
}

// Transparent text: each pixel of the box is the frame's pixel under the
// premultiplied glyph pixel, that mixed with the frame's pixel at the
// layer's opacity, whether the box lies inside the frame or across its edge.
TEST(TextLayer, TransparentTextIsTheGlyphsOverTheFrameAtTheOpacity) {
    Bitmap24 source;
    source.SetSize(90, 50);
    for (int y = 0; y < source.Height; ++y)
        for (int i = 0; i < source.Width * 3; ++i)
            source.Row(y)[i] = static_cast<uint8_t>(y * 37 + i * 13);
    for (const auto& [x0, y0, alpha] : {std::array{20, 10, 255}, std::array{-9, -4, 200},
                                        std::array{50, 30, 1}, std::array{5, 5, 0}}) {
        TWmRec layer = TextLayer("W&g", x0, y0, false, 0);
        layer.TextAlpha = alpha;
        const QImage glyphs = GlyphPicture(layer);
        Bitmap24 frame = source;
        TLayerImageCache cache;
        DrawLayer(frame, layer, cache);
        int wrong = 0, glyphPixels = 0;
        for (int y = 0; y < frame.Height; ++y)
            for (int x = 0; x < frame.Width; ++x) {
                const int gx = x - x0, gy = y - y0;
                const bool inBox =
                    gx >= 0 && gx < glyphs.width() && gy >= 0 && gy < glyphs.height();
                const QRgb g = inBox ? glyphs.pixel(gx, gy) : 0;
                glyphPixels += qAlpha(g) != 0;
                const Bgr was = At(source, x, y);
                const int glyph[3] = {qBlue(g), qGreen(g), qRed(g)};
                Bgr want;
                for (int k = 0; k < 3; ++k)
                    want[k] =
                        Blend(was[k], glyph[k] + (was[k] * (255 - qAlpha(g)) + 127) / 255, alpha);
                if (At(frame, x, y) != want && ++wrong <= 3)
                    ADD_FAILURE() << "layer at " << x0 << "," << y0 << " pixel " << x << "," << y;
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(glyphPixels, 30);
    }
}

TEST(TextLayer, NegativePlacementCutsTheBoxEdges) {
    // The layer at (-10, -5) equals the same layer at (0, 0) shifted.
    for (bool opaque : {true, false}) {
        Bitmap24 placed = Filled(70, 40, {30, 60, 90});
        Bitmap24 reference = Filled(70, 40, {30, 60, 90});
        TLayerImageCache cache;
        const TWmRec cut = TextLayer("Ag", -10, -5, opaque, 0xFFFF00u);
        const TWmRec whole = TextLayer("Ag", 0, 0, opaque, 0xFFFF00u);
        DrawLayer(placed, cut, cache);
        DrawLayer(reference, whole, cache);
        for (int y = 0; y < 25; ++y)
            for (int x = 0; x < 50; ++x)
                ASSERT_EQ(At(placed, x, y), At(reference, x + 10, y + 5)) << x << "," << y;
        EXPECT_EQ(At(placed, 50, 10), (Bgr{30, 60, 90}));
        EXPECT_EQ(At(placed, 10, 25), (Bgr{30, 60, 90}));
    }
}

TEST(TextLayer, ChangedLayerIsRenderedAgain) {
    TLayerImageCache cache;
    TWmRec layer = TextLayer(" ", 0, 0, true, 0x0000FFu);
    Bitmap24 frame = Filled(80, 40, {0, 0, 0});
    DrawLayer(frame, layer, cache);
    EXPECT_EQ(At(frame, 50, 20), (Bgr{0, 0, 254}));
    layer.BackColor = 0xFF0000u;
    frame = Filled(80, 40, {0, 0, 0});
    DrawLayer(frame, layer, cache);
    EXPECT_EQ(At(frame, 50, 20), (Bgr{254, 0, 0}));
    // A layer wholly outside the frame draws nothing.
    layer.TextLeft = 80;
    frame = Filled(80, 40, {0, 0, 0});
    DrawLayer(frame, layer, cache);
    EXPECT_EQ(frame.Data, Filled(80, 40, {0, 0, 0}).Data);
}

TEST(DrawFitted, FitsAndShrinks) {
    QImage canvas(370, 240, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    EXPECT_FALSE(DrawFitted(canvas, Bitmap24{}).has_value());
    EXPECT_EQ(canvas.pixel(185, 120), QColor(Qt::black).rgb());
    const std::optional<QRect> r = DrawFitted(canvas, Filled(320, 240, {0, 0, 255}));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, QRect(26, 1, 318, 238));
    EXPECT_EQ(canvas.pixel(185, 120), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(10, 120), QColor(Qt::black).rgb());
}

TEST(ResolveColor, RedInTheLowestByte) {
    EXPECT_EQ(ResolveColor(0x0000FFu), QColor(255, 0, 0));
    EXPECT_EQ(ResolveColor(0x804020u), QColor(0x20, 0x40, 0x80));
    EXPECT_EQ(ResolveColor(0x80000005u), QGuiApplication::palette().color(QPalette::Base));
}

} // namespace

namespace {

// The converter calls the hook on its worker thread: the same layers drawn
// there give the same pixels as on this thread.
TEST(RenderRowFrame, SamePixelsOnAWorkerThread) {
    testsupport::TempDir dir;
    TlvFilesRecord row;
    row.Saturation = 300;
    row.Exposure = -30;
    row.Watermarks = {TextLayer("Wm", 5, 5, false, 0), TextLayer("Op", 30, 20, true, 0x00FFFFu),
                      ImageLayer(WriteBmp(dir, "w.bmp", 9, 7, {20, 220, 120}), 60, 40, 90, 0, 10)};
    const Bitmap24 source = Filled(96, 64, {80, 120, 160});
    Bitmap24 here = source, there = source;
    TLayerImageCache hereCache, thereCache;
    RenderRowFrame(row, here, 2000000, hereCache);
    std::thread worker([&] { RenderRowFrame(row, there, 2000000, thereCache); });
    worker.join();
    EXPECT_EQ(here.Data, there.Data);
    EXPECT_NE(here.Data, source.Data);
}

} // namespace
