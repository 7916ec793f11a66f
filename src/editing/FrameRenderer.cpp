#include "editing/FrameRenderer.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

// Font sizes are points at the desktop's 96 pixels per inch.
constexpr double kPixelsPerPoint = 96.0 / 72.0;
constexpr uint32_t kSystemColorBit = 0x80000000u;

// System colour indexes of the stored colours and the palette roles that
// stand for them here.
QPalette::ColorRole SystemColorRole(uint32_t index) {
    switch (index) {
    case 5:
        return QPalette::Base;
    case 6:
    case 16:
        return QPalette::Dark;
    case 7:
        return QPalette::WindowText;
    case 8:
        return QPalette::Text;
    case 13:
        return QPalette::Highlight;
    case 14:
        return QPalette::HighlightedText;
    case 15:
        return QPalette::Button;
    case 17:
        return QPalette::PlaceholderText;
    case 18:
        return QPalette::ButtonText;
    case 20:
        return QPalette::Light;
    case 21:
        return QPalette::Shadow;
    case 22:
        return QPalette::Midlight;
    case 23:
        return QPalette::ToolTipText;
    case 24:
        return QPalette::ToolTipBase;
    default:
        return QPalette::Window;
    }
}

bool SameFont(const std::optional<TWmFont>& a, const std::optional<TWmFont>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->Name == b->Name && a->Size == b->Size && a->Style == b->Style &&
                  a->Color == b->Color);
}

// The layer fields a rendered text box depends on.
bool SameTextBox(const TWmRec& a, const TWmRec& b) {
    return a.Text == b.Text && SameFont(a.Font, b.Font) && a.TextLeft == b.TextLeft &&
           a.TextTop == b.TextTop && a.TextWidth == b.TextWidth && a.TextHeight == b.TextHeight &&
           a.UseBackColor == b.UseBackColor && a.BackColor == b.BackColor;
}

// The part of the layer's box that lies inside the frame, frame coordinates.
QRect BoxPart(const TWmRec& layer, const Bitmap24& frame) {
    const int64_t left = std::max<int64_t>(layer.TextLeft, 0);
    const int64_t top = std::max<int64_t>(layer.TextTop, 0);
    const int64_t right = std::min<int64_t>(int64_t{layer.TextLeft} + layer.TextWidth, frame.Width);
    const int64_t bottom =
        std::min<int64_t>(int64_t{layer.TextTop} + layer.TextHeight, frame.Height);
    if (right <= left || bottom <= top) return {};
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                 static_cast<int>(bottom - top));
}

// Pixels of a row side by side, Begin to just before End.
struct TPixelRun {
    int Row, Begin, End;
};

// The runs of an ARGB picture's pixels that are not wholly transparent.
std::vector<TPixelRun> OpaqueRuns(const QImage& picture) {
    std::vector<TPixelRun> runs;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        int x = 0;
        while (x < picture.width()) {
            while (x < picture.width() && qAlpha(line[x]) == 0)
                ++x;
            const int begin = x;
            while (x < picture.width() && qAlpha(line[x]) != 0)
                ++x;
            if (x > begin) runs.push_back({y, begin, x});
        }
    }
    return runs;
}

// A picture file (PNG, JPEG, BMP, ...) as 24-bit pixels, and the opacity
// of each pixel when the file has its own transparency (else empty). The
// colours under the opacity are the file's own, not multiplied by it.
std::pair<Bitmap24, std::vector<uint8_t>> ReadImage(const std::string& file) {
    const QImage read(QString::fromStdString(file));
    if (read.isNull()) throw std::runtime_error("Cannot read the image file \"" + file + "\"");
    const QImage image = read.convertToFormat(QImage::Format_BGR888);
    Bitmap24 bitmap;
    bitmap.SetSize(image.width(), image.height());
    const std::size_t bytes = static_cast<std::size_t>(bitmap.Width) * 3;
    for (int y = 0; y < bitmap.Height; ++y)
        std::memcpy(bitmap.Row(y), image.constScanLine(y), bytes);
    std::vector<uint8_t> opacity;
    if (read.hasAlphaChannel()) {
        const QImage alpha = read.convertToFormat(QImage::Format_Alpha8);
        opacity.resize(static_cast<std::size_t>(bitmap.Width) * bitmap.Height);
        for (int y = 0; y < bitmap.Height; ++y)
            std::memcpy(opacity.data() + static_cast<std::size_t>(y) * bitmap.Width,
                        alpha.constScanLine(y), static_cast<std::size_t>(bitmap.Width));
    }
    return {std::move(bitmap), std::move(opacity)};
}

} // namespace

// One text layer's box, clipped to the frame, with what it is drawn with.
struct TLayerImageCache::TTextBox {
    TWmRec Layer; // the layer as this box was made for
    int FrameWidth = 0;
    int FrameHeight = 0;
    QRect Part; // inside the frame
    QString Text;
    QFont Font;
    QColor Pen;
    QColor Back;
    Bitmap24 Pixels;             // the part's pixels
    QImage Image;                // over Pixels
    QImage Glyphs;               // transparent text: the text alone, drawn once
    std::vector<TPixelRun> Runs; // of Glyphs' pixels that are not transparent
    bool Ready = false;          // an opaque box (or the glyphs) is rendered once

    TTextBox(const TWmRec& layer, const Bitmap24& frame)
        : Layer(layer), FrameWidth(frame.Width), FrameHeight(frame.Height),
          Part(BoxPart(layer, frame)), Text(QString::fromStdString(layer.Text)),
          Font(LayerFont(layer.Font.value_or(TWmFont{}))),
          Pen(ResolveColor(layer.Font.value_or(TWmFont{}).Color)),
          Back(ResolveColor(layer.BackColor)) {
        Pixels.SetSize(Part.width(), Part.height());
        if (!Part.isEmpty()) Image = WrapBitmap(Pixels);
    }

    bool Fits(const TWmRec& layer, const Bitmap24& frame) const {
        return FrameWidth == frame.Width && FrameHeight == frame.Height &&
               SameTextBox(Layer, layer);
    }

    // Transparent text over the frame's own pixels: the glyphs are drawn
    // once onto a transparent picture; only its pixels that are not fully
    // transparent change the frame, so they are kept as runs of a row.
    void RenderGlyphs() {
        Glyphs = QImage(Image.size(), QImage::Format_ARGB32_Premultiplied);
        Glyphs.fill(Qt::transparent);
        Draw(Glyphs);
        Runs = OpaqueRuns(Glyphs);
    }

    // Each glyph pixel over the frame's pixel p (premultiplied: glyph + p x
    // (255 - its alpha) / 255), that mixed with p at the layer's opacity.
    // Elsewhere the mix of p with itself is p.
    void LayGlyphs(Bitmap24& frame, int alpha) const {
        const auto a = static_cast<uint32_t>(std::clamp(alpha, 0, 255));
        const uint32_t keep = 256 - a;
        for (const TPixelRun& run : Runs) {
            const auto* g = reinterpret_cast<const QRgb*>(Glyphs.constScanLine(run.Row));
            uint8_t* p = frame.Row(Part.y() + run.Row) + (Part.x() + run.Begin) * 3;
            for (int x = run.Begin; x < run.End; ++x, p += 3) {
                const QRgb c = g[x];
                const uint32_t rest = 255 - qAlpha(c);
                const uint8_t laid[3] = {
                    static_cast<uint8_t>(qBlue(c) + (p[0] * rest + 127) / 255),
                    static_cast<uint8_t>(qGreen(c) + (p[1] * rest + 127) / 255),
                    static_cast<uint8_t>(qRed(c) + (p[2] * rest + 127) / 255)};
                for (int i = 0; i < 3; ++i)
                    p[i] = static_cast<uint8_t>((keep * p[i] + a * laid[i]) >> 8);
            }
        }
    }

    // Draws the text at the box's (0, 0), over what the pixels hold (or over
    // the background colour), clipped to the box.
    void Render() {
        if (Layer.UseBackColor) {
            QPainter p(&Image);
            p.fillRect(Image.rect(), Back);
        }
        Draw(Image);
    }

    void Draw(QImage& target) {
        QPainter p(&target);
        p.translate(Layer.TextLeft - Part.x(), Layer.TextTop - Part.y());
        const QRect box(0, 0, Layer.TextWidth, Layer.TextHeight);
        p.setClipRect(box);
        p.setFont(Font);
        p.setPen(Pen);
        p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, Text);
    }
};

TLayerImageCache::TLayerImageCache() = default;
TLayerImageCache::~TLayerImageCache() = default;

const Bitmap24& TLayerImageCache::Image(const std::string& file) {
    if (const auto it = FImages.find(file); it != FImages.end()) return it->second;
    if (const auto it = FImageErrors.find(file); it != FImageErrors.end())
        throw std::runtime_error(it->second);
    try {
        auto [bitmap, opacity] = ReadImage(file);
        if (!opacity.empty()) FOpacities.emplace(file, std::move(opacity));
        return FImages.emplace(file, std::move(bitmap)).first->second;
    } catch (const std::runtime_error& e) {
        FImageErrors.emplace(file, e.what());
        throw;
    }
}

void TLayerImageCache::DrawText(Bitmap24& frame, const TWmRec& layer) {
    std::unique_ptr<TTextBox>& slot = FTextBoxes[&layer];
    if (!slot || !slot->Fits(layer, frame)) slot = std::make_unique<TTextBox>(layer, frame);
    TTextBox& box = *slot;
    if (box.Part.isEmpty()) return;
    if (!layer.UseBackColor) {
        if (!box.Ready) {
            box.RenderGlyphs();
            box.Ready = true;
        }
        box.LayGlyphs(frame, layer.TextAlpha);
        return;
    }
    if (!box.Ready) {
        box.Render();
        box.Ready = true;
    }
    BlendBitmap(frame, box.Pixels, box.Part.x(), box.Part.y(), layer.TextAlpha);
}

const std::vector<uint8_t>* TLayerImageCache::Opacity(const std::string& file) {
    Image(file);
    const auto it = FOpacities.find(file);
    return it == FOpacities.end() ? nullptr : &it->second;
}

void TLayerImageCache::Clear() {
    FImages.clear();
    FOpacities.clear();
    FImageErrors.clear();
    FTextBoxes.clear();
}

void DrawLayer(Bitmap24& frame, const TWmRec& layer, TLayerImageCache& cache) {
    if (layer.Kind == kWmTextLayer && !layer.Text.empty()) {
        cache.DrawText(frame, layer);
    } else if (layer.Kind == kWmImageLayer && !layer.ImageFile.empty()) {
        const Bitmap24& image = cache.Image(layer.ImageFile);
        if (const std::vector<uint8_t>* opacity = cache.Opacity(layer.ImageFile))
            BlendBitmapMasked(frame, image, *opacity, layer.ImageLeft, layer.ImageTop,
                              layer.ImageAlpha);
        else
            BlendBitmap(frame, image, layer.ImageLeft, layer.ImageTop, layer.ImageAlpha);
    }
}

void RenderRowFrame(const TlvFilesRecord& row, Bitmap24& frame, int64_t ptsUS,
                    TLayerImageCache& cache) {
    if (frame.Width <= 0 || frame.Height <= 0) return;
    // Every picture is read before the first pixel changes, so that an
    // unreadable file leaves the frame as it was even where the caller draws
    // straight into the decoded picture.
    for (const TWmRec& layer : row.Watermarks)
        if (layer.Kind == kWmImageLayer && !layer.ImageFile.empty() && IsLayerVisible(layer, ptsUS))
            cache.Image(layer.ImageFile);
    AdjustPicture(frame, row.Brightness, row.Contrast, row.Saturation, row.Exposure);
    for (const TWmRec& layer : row.Watermarks)
        if (IsLayerVisible(layer, ptsUS)) DrawLayer(frame, layer, cache);
}

QFont LayerFont(const TWmFont& font) {
    QFont f;
    if (!font.Name.empty()) f.setFamily(QString::fromStdString(font.Name));
    f.setPixelSize(std::max(1, static_cast<int>(RoundHalfEven(font.Size * kPixelsPerPoint))));
    f.setBold((font.Style & fsBold) != 0);
    f.setItalic((font.Style & fsItalic) != 0);
    f.setUnderline((font.Style & fsUnderline) != 0);
    f.setStrikeOut((font.Style & fsStrikeOut) != 0);
    return f;
}

QColor ResolveColor(uint32_t color) {
    if (color & kSystemColorBit) {
        const QPalette palette = qGuiApp ? QGuiApplication::palette() : QPalette();
        return palette.color(QPalette::Active, SystemColorRole(color & 0xFFu));
    }
    return QColor(static_cast<int>(color & 0xFFu), static_cast<int>((color >> 8) & 0xFFu),
                  static_cast<int>((color >> 16) & 0xFFu));
}

QImage WrapBitmap(Bitmap24& bitmap) {
    return QImage(bitmap.Data.data(), bitmap.Width, bitmap.Height, bitmap.Stride,
                  QImage::Format_BGR888);
}

std::optional<QRect> DrawFitted(QImage& canvas, const Bitmap24& bitmap) {
    if (int64_t{bitmap.Width} * bitmap.Height == 0) return std::nullopt;
    const TFitRect r =
        FitRect({0, 0, bitmap.Width, bitmap.Height}, {0, 0, canvas.width(), canvas.height()});
    const QRect target(r.Left, r.Top, r.Width(), r.Height());
    const QImage source(bitmap.Data.data(), bitmap.Width, bitmap.Height, bitmap.Stride,
                        QImage::Format_BGR888);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, source);
    return target.adjusted(1, 1, -1, -1);
}
