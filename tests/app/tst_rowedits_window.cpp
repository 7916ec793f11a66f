// A row's picture effects, text layer and image layer drawn into the
// converted file through the main window's frame hook: output frames are
// decoded with ffmpeg and compared, region by region, with the source frame
// changed by the core's own arithmetic.
#include "DecodedFrame.h"
#include "WindowHarness.h"
#include "editing/FrameRenderer.h"
#include "effects/FrameEffects.h"

#include <QTimer>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

class TestRowEditsWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::string source_, image_;
    const int width_ = 160, height_ = 120;
    // Places of the layers in the frame.
    const QRect textBox_{10, 8, 80, 24};
    const QRect imageBox_{100, 70, 40, 30};

    TWmRec TextLayer() const {
        TWmRec layer;
        layer.Kind = kWmTextLayer;
        layer.Text = "Vantrel";
        layer.Font = TWmFont{"DejaVu Sans", 14, fsBold, 0xFFFFFF};
        layer.TextLeft = textBox_.left(), layer.TextTop = textBox_.top();
        layer.TextWidth = textBox_.width(), layer.TextHeight = textBox_.height();
        layer.UseBackColor = true;
        layer.BackColor = 0x2040C0; // red 0xC0, green 0x40, blue 0x20
        layer.TextAlpha = 255;
        layer.StartTime = 0, layer.EndTime = 1;
        return layer;
    }

    TWmRec ImageLayer() const {
        TWmRec layer;
        layer.Kind = kWmImageLayer;
        layer.ImageFile = image_;
        layer.ImageLeft = imageBox_.left(), layer.ImageTop = imageBox_.top();
        layer.ImageWidth = imageBox_.width(), layer.ImageHeight = imageBox_.height();
        layer.ImageAlpha = 200;
        layer.StartTime = 1, layer.EndTime = 1;
        return layer;
    }

    void SetEdits(TlvFilesRecord& row) const {
        row.Brightness = 300;
        row.Contrast = 20;
        row.Saturation = 180;
        row.Exposure = 60;
        row.Watermarks = {TextLayer(), ImageLayer()};
    }

    // The source frame with the row's effects and the layers visible at
    // `seconds`, drawn by the core functions (the text box by the renderer,
    // whose glyphs are the rasteriser's).
    Bitmap24 Expected(const Bitmap24& sourceFrame, const Bitmap24& image, int seconds) const {
        Bitmap24 frame = sourceFrame;
        AdjustColors(frame, 300, 20, 180);
        AdjustExposure(frame, 60.0f);
        TLayerImageCache cache;
        if (seconds <= 1) cache.DrawText(frame, TextLayer());
        if (seconds == 1) BlendBitmap(frame, image, imageBox_.left(), imageBox_.top(), 200);
        return frame;
    }

    // Region by region, the output frame is the expected picture, and
    // differs clearly from what it would be without each layer or without
    // the effects.
    void CheckFrame(int frameNumber, int seconds) {
        const std::string raw = h_->Home("frame.raw");
        const Bitmap24 source = DecodeFrame(source_, frameNumber, width_, height_, raw);
        const Bitmap24 output =
            DecodeFrame(h_->Output("gradient_(new).mp4"), frameNumber, width_, height_, raw);
        const Bitmap24 image = DecodeFrame(image_, 0, imageBox_.width(), imageBox_.height(), raw);
        QVERIFY(source.Width && output.Width && image.Width);
        const Bitmap24 expected = Expected(source, image, seconds);
        const QRect plain(0, 40, 90, 80); // no layer ever covers it
        const std::string at = " at frame " + std::to_string(frameNumber);
        // The encoder's loss; around the glyphs' sharp edges the halved
        // colour resolution of the output adds more.
        const double tolerance = 4, textTolerance = 12;
        const std::pair<QRect, double> areas[] = {
            {plain, tolerance}, {imageBox_, tolerance}, {textBox_, textTolerance}};
        for (const auto& [area, limit] : areas) {
            const double d = MeanDifference(output, expected, area);
            const std::string text = std::to_string(d) + at;
            QVERIFY2(d < limit, text.c_str());
        }
        QVERIFY(MeanDifference(source, expected, plain) > 5 * tolerance);
        const Bitmap24 withoutText = Expected(source, image, 2);
        const Bitmap24 otherImage = Expected(source, image, seconds == 1 ? 0 : 1);
        if (seconds <= 1)
            QVERIFY(MeanDifference(withoutText, expected, textBox_) > 5 * textTolerance);
        QVERIFY(MeanDifference(otherImage, expected, imageBox_) > 5 * tolerance);
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        source_ = h_->Media("gradient.avi");
        image_ = h_->MakeLogo("logo.bmp");
        // A still, smooth picture keeps the encoder's loss small.
        QVERIFY(testsupport::MakeMedia(
            source_, "-f lavfi -i nullsrc=s=160x120:r=25:d=3,format=gbrp,"
                     "geq=r='40+X':g='30+Y':b='170-X/2' -f lavfi -i sine=f=440:d=3 "
                     "-c:v ffv1 -pix_fmt yuv444p -c:a pcm_s16le"));
        QVERIFY(!image_.empty());
        h_->ChooseSourceSizedMpeg4();
    }

    void cleanupTestCase() { h_.reset(); }

    void init() { h_->Messages.clear(); }

    void effectsAndLayersLandInTheFile() {
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, {source_});
        QCOMPARE(window->lvFIles->RowCount(), 1);
        SetEdits(window->lvFIles->Row(0)->Record);
        TWindowHarness::PressStart(*window);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QCOMPARE(window->lvFIles->Row(0)->text(colProgress), QString("100%"));
        TWindowHarness::Dispose(window);
        CheckFrame(12, 0); // 0.48 s: the text layer
        CheckFrame(37, 1); // 1.48 s: both layers
        CheckFrame(62, 2); // 2.48 s: the effects alone
    }

    // An image that cannot be read passes its frames on unchanged; the batch
    // still ends and the file is written.
    void unreadableLayerPictureLeavesFramesAsDecoded() {
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, {source_});
        TlvFilesRecord& row = window->lvFIles->Row(0)->Record;
        TWmRec broken = ImageLayer();
        broken.ImageFile = h_->Media("missing.bmp");
        broken.StartTime = 0, broken.EndTime = 9;
        row.Watermarks = {broken};
        TWindowHarness::PressStart(*window);
        QCOMPARE(window->lvFIles->Row(0)->text(colProgress), QString("100%"));
        TWindowHarness::Dispose(window);
        const std::string raw = h_->Home("frame.raw");
        const Bitmap24 source = DecodeFrame(source_, 37, width_, height_, raw);
        const Bitmap24 output =
            DecodeFrame(h_->Output("gradient_(new_1).mp4"), 37, width_, height_, raw);
        QVERIFY(source.Width && output.Width);
        QVERIFY(MeanDifference(source, output, QRect(0, 0, width_, height_)) < 4);
    }
};

QTEST_MAIN(TestRowEditsWindow)
#include "tst_rowedits_window.moc"
