// The crop and effects dialog driven as a user drives it: the rectangle
// tracker dragged with the mouse over a playing 640 x 480 source, the
// margins and crop values it gives, the effect controls, resets, OK and
// Cancel, the sources it cannot use, and a conversion of the cropped,
// adjusted row checked frame by frame against ffmpeg's decoding.
#include "DecodedFrame.h"
#include "WindowHarness.h"
#include "controls/RectTracker.h"
#include "controls/Tracker2.h"
#include "editing/FrameRenderer.h"
#include "editing/WinCrop.h"
#include "effects/FrameEffects.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

Bitmap24 CropOf(const Bitmap24& frame, int left, int top, int width, int height) {
    Bitmap24 out;
    out.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::copy_n(frame.Row(y + top) + 3 * left, 3 * width, out.Row(y));
    return out;
}

// The mouse on the tracker, given in the dialog's coordinates and mapped
// to the tracker where it lies at each step (it moves while dragged).
struct TMouse {
    TRectTracker* Tracker;
    QPoint Local(QPoint onDialog) const { return Tracker->mapFromParent(onDialog); }
    void Drag(QPoint from, QPoint to) const {
        QTest::mousePress(Tracker, Qt::LeftButton, {}, Local(from));
        QTest::mouseMove(Tracker, Local(to));
        QTest::mouseRelease(Tracker, Qt::LeftButton, {}, Local(to));
    }
};

} // namespace

class TestCropWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::string source_, tone_;
    std::unique_ptr<TfrmMain> window_;

    // A fresh dialog on the window's first row, shown; the source opens
    // from the event loop once the dialog is shown, which the events
    // processed here run to its end.
    std::unique_ptr<TfrmCrop> OpenDialog() {
        auto dialog = std::make_unique<TfrmCrop>(window_.get(), window_->lvFIles,
                                                 h_->Home("config/vantrel/vantrel.ini"));
        dialog->show();
        QCoreApplication::processEvents();
        return dialog;
    }
    TlvFilesRecord& Row() { return window_->lvFIles->Row(0)->Record; }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        source_ = h_->Media("crop.avi");
        tone_ = h_->MakeTone("tone.wav");
        // A smooth picture keeps the encoder's loss small; every column and
        // row differs, so a shifted crop shows.
        QVERIFY(testsupport::MakeMedia(
            source_, "-f lavfi -i nullsrc=s=640x480:r=25:d=2,format=gbrp,"
                     "geq=r='20+X/3':g='30+Y/3':b='200-X/4' -f lavfi -i sine=f=440:d=2 "
                     "-c:v ffv1 -pix_fmt yuv444p -c:a pcm_s16le"));
        QVERIFY(!tone_.empty());
        window_ = h_->NewWindow();
        TWindowHarness::AddFiles(*window_, {source_});
        QCOMPARE(window_->lvFIles->RowCount(), 1);
    }

    void cleanupTestCase() {
        if (window_) TWindowHarness::Dispose(window_);
        h_.reset();
    }

    void init() {
        TlvFilesRecord& row = Row();
        row.SourceFile = source_;
        row.MarginUp = row.MarginLeft = row.MarginDown = row.MarginRight = 0;
        row.CropTop = row.CropLeft = row.CropBottom = row.CropRight = 0;
        row.Brightness = 255, row.Contrast = 0, row.Saturation = 255, row.Exposure = 0;
        row.ZoomMode = "lbox";
    }

    void marginsToCropValues() {
        QCOMPARE(TfrmCrop::MarginToCrop(10, 480, 301), 16);
        QCOMPARE(TfrmCrop::MarginToCrop(7, 301, 301), 6); // odd drops to even
        QCOMPARE(TfrmCrop::MarginToCrop(0, 480, 301), 0);
        QCOMPARE(TfrmCrop::MarginToCrop(20, 640, 402), 32); // 31.8
    }

    // The fitted picture of a 640 x 480 frame, and the top handle dragged
    // down by 10 pixels.
    void trackerResizeGivesMarginsAndCrop() {
        auto dialog = OpenDialog();
        QVERIFY(dialog->Opened());
        QCOMPARE(dialog->PictureRect(), QRect(12 + 9, 40 + 1, 402, 301));
        QCOMPARE(dialog->RectTracker->geometry(), dialog->PictureRect());
        QVERIFY(dialog->RectTracker->isVisible());
        TMouse{dialog->RectTracker}.Drag({222, 43}, {222, 53});
        QCOMPARE(dialog->RectTracker->geometry(), QRect(21, 51, 402, 291));
        QCOMPARE(dialog->spedUp->value(), 10);
        QCOMPARE(dialog->spedDown->value(), 0);
        QCOMPARE(dialog->CropTop(), 16);
        QCOMPARE(dialog->CropBottom(), 0);
    }

    // Shrunk by its top-left corner, moved off the top left and then off the
    // bottom right, resized past the bottom: it stays on the picture.
    void trackerStaysOnThePicture() {
        auto dialog = OpenDialog();
        QVERIFY(dialog->Opened());
        const TMouse mouse{dialog->RectTracker};
        mouse.Drag({23, 43}, {73, 93});
        QCOMPARE(dialog->RectTracker->geometry(), QRect(71, 91, 352, 251));
        mouse.Drag({200, 200}, {100, 100}); // moving past the top and left edges
        QCOMPARE(dialog->RectTracker->geometry(), QRect(21, 41, 352, 251));
        QCOMPARE(dialog->spedRight->value(), 50);
        QCOMPARE(dialog->spedDown->value(), 50);
        mouse.Drag({150, 150}, {350, 350}); // moving past the right and bottom edges
        QCOMPARE(dialog->RectTracker->geometry(), QRect(71, 91, 352, 251));
        QCOMPARE(dialog->spedUp->value(), 50);
        QCOMPARE(dialog->spedLeft->value(), 50);
        QCOMPARE(dialog->spedRight->value(), 0);
        mouse.Drag({246, 93}, {246, 143}); // top handle down
        QCOMPARE(dialog->RectTracker->geometry(), QRect(71, 141, 352, 201));
        mouse.Drag({247, 339}, {247, 400}); // bottom handle past the bottom
        QCOMPARE(dialog->RectTracker->geometry(), QRect(71, 141, 352, 201));
        QCOMPARE(dialog->spedDown->value(), 0);
        // Its inside reaching the bottom edge exactly snaps it back too.
        mouse.Drag({247, 339}, {247, 341});
        QCOMPARE(dialog->RectTracker->geometry(), QRect(71, 141, 352, 201));
        QCOMPARE(dialog->CropLeft(), 80); // 50 * 640 / 402 = 79.6
        QCOMPARE(dialog->CropRight(), 0);
        // "&Default" puts the tracker back on the whole picture.
        QTest::mouseClick(dialog->btnDefault, Qt::LeftButton);
        QCOMPARE(dialog->RectTracker->geometry(), dialog->PictureRect());
        QCOMPARE(dialog->spedUp->value() + dialog->spedLeft->value(), 0);
        QCOMPARE(dialog->CropTop() + dialog->CropLeft(), 0);
    }

    void tenPixelTrackerRefusesToShrink() {
        auto dialog = OpenDialog();
        QVERIFY(dialog->Opened());
        const QRect pic = dialog->PictureRect();
        dialog->RectTracker->setGeometry(pic.x(), pic.y(), pic.width(), 10);
        dialog->spedUp->setValue(5);
        QCOMPARE(dialog->spedUp->value(), 0);
        QCOMPARE(dialog->RectTracker->height(), 10);
        dialog->spedLeft->setValue(4); // the width is still large
        QCOMPARE(dialog->RectTracker->x(), pic.x() + 4);
        QCOMPARE(dialog->RectTracker->width(), pic.width() - 4);
    }

    void effectControlsMirrorAndReset() {
        auto dialog = OpenDialog();
        dialog->trcBrightness->setValue(300);
        QCOMPARE(dialog->spedtBrightness->value(), 300);
        dialog->spedtContrast->setValue(-40);
        QCOMPARE(dialog->trcContrast->value(), -40);
        dialog->spedtExposure->setValue(600);
        QCOMPARE(dialog->trcExposure->value(), 512);
        dialog->trcSaturation->setValue(10);
        QCOMPARE(dialog->spedtSaturation->text(), QString("10"));
        QTest::mouseClick(dialog->btnEffectReset, Qt::LeftButton);
        QCOMPARE(dialog->trcBrightness->value(), 255);
        QCOMPARE(dialog->spedtBrightness->text(), QString("255"));
        QCOMPARE(dialog->trcContrast->value(), 0);
        QCOMPARE(dialog->spedtSaturation->text(), QString("255"));
        QCOMPARE(dialog->spedtExposure->text(), QString("0"));
        Row().Brightness = 100; // what OK must overwrite
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        QVERIFY(!HasColorAdjust(Row()));
        QVERIFY(!HasExposure(Row()));
    }

    void cancelWritesNothingOkWritesTheRow() {
        Row().ZoomMode = "pan";
        {
            auto dialog = OpenDialog();
            TMouse{dialog->RectTracker}.Drag({222, 43}, {222, 53});
            dialog->spedtBrightness->setValue(300);
            QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
            QVERIFY(!dialog->isVisible());
        }
        QCOMPARE(Row().MarginUp, 0);
        QCOMPARE(Row().CropTop, 0);
        QCOMPARE(Row().Brightness, 255);
        QCOMPARE(Row().ZoomMode, std::string("pan"));
        {
            auto dialog = OpenDialog();
            QCOMPARE(dialog->cmbZoom->currentIndex(), 0);
            TMouse{dialog->RectTracker}.Drag({222, 43}, {222, 53});
            dialog->spedtBrightness->setValue(300);
            dialog->spedtContrast->setValue(12);
            QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        }
        QCOMPARE(Row().MarginUp, 10);
        QCOMPARE(Row().CropTop, 16);
        QCOMPARE(Row().CropBottom + Row().CropLeft + Row().CropRight, 0);
        QCOMPARE(Row().ZoomMode, std::string("full"));
        QCOMPARE(Row().Brightness, 300);
        QCOMPARE(Row().Contrast, 12);
        QCOMPARE(Row().Saturation, 255);
        // Opening again puts the tracker back where it was left.
        auto dialog = OpenDialog();
        QCOMPARE(dialog->RectTracker->geometry(), QRect(21, 51, 402, 291));
        QCOMPARE(dialog->spedtBrightness->value(), 300);
        QCOMPARE(dialog->CropTop(), 16);
    }

    // The right-hand view shows the crop of the playing frame.
    void outputViewShowsTheCrop() {
        auto dialog = OpenDialog();
        TMouse{dialog->RectTracker}.Drag({222, 43}, {222, 53});
        QTRY_COMPARE_WITH_TIMEOUT(dialog->OutputBitmap().size(), QSize(640, 480 - 16), 5000);
        const int drawn = dialog->OutputsDrawn();
        QTRY_VERIFY_WITH_TIMEOUT(dialog->OutputsDrawn() > drawn, 5000);
        // The picture is r = 20 + x / 3, g = 30 + y / 3, b = 200 - x / 4
        // (the player's colour conversion adds a little loss).
        const QImage out = dialog->OutputBitmap();
        for (const QPoint p : {QPoint(0, 0), QPoint(300, 100), QPoint(600, 400)}) {
            const QColor c = out.pixelColor(p);
            const int y = p.y() + 16;
            const QString text = QString("%1,%2: %3 %4 %5")
                                     .arg(p.x())
                                     .arg(p.y())
                                     .arg(c.red())
                                     .arg(c.green())
                                     .arg(c.blue());
            QVERIFY2(std::abs(c.red() - (20 + p.x() / 3)) <= 6, qPrintable(text));
            QVERIFY2(std::abs(c.green() - (30 + y / 3)) <= 6, qPrintable(text));
            QVERIFY2(std::abs(c.blue() - (200 - p.x() / 4)) <= 6, qPrintable(text));
        }
        QTest::mouseClick(dialog->imgbtnpause, Qt::LeftButton);
        QVERIFY(dialog->imgbtnPlay->isEnabled());
        QVERIFY(!dialog->imgbtnpause->isEnabled());
        // Volume and mute go to the settings at once.
        dialog->trcVolume->SetPositionL(90);
        QCOMPARE(h_->Settings().ReadInteger("settings", "volume", 0), 90);
        QCOMPARE(dialog->FFPlayer->AudioVolume.load(), 90);
        const int muted = h_->Settings().ReadInteger("settings", "mute", 0);
        QTest::mouseClick(dialog->imgbtnMute, Qt::LeftButton);
        QCOMPARE(h_->Settings().ReadInteger("settings", "mute", 0), 1 - muted);
        QCOMPARE(dialog->FFPlayer->Mute.load(), muted == 0);
        QTest::mouseClick(dialog->imgbtnMute, Qt::LeftButton);
        QCOMPARE(h_->Settings().ReadInteger("settings", "mute", 0), muted);
        QTest::mouseClick(dialog->imgbtnStop, Qt::LeftButton);
        QCOMPARE(dialog->lblTime->text(), QString("00:00:00"));
        QVERIFY(!dialog->imgbtnStop->isEnabled());
        // Play after Stop opens the source again and the views go on.
        QVERIFY(!dialog->FFPlayer->FileOpen());
        QTest::mouseClick(dialog->imgbtnPlay, Qt::LeftButton);
        QVERIFY(dialog->imgbtnpause->isEnabled());
        QVERIFY(dialog->FFPlayer->FileOpen());
    }

    // The output view shows the picture the conversion writes from the same
    // frame, to the level: with the exposure alone, and with every effect
    // at its untouched value.
    void outputViewDrawsTheConvertedPicture() {
        auto dialog = OpenDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog->OutputsDrawn() > 0, 5000);
        for (const int exposure : {40, 0}) {
            dialog->spedtExposure->setValue(exposure);
            const int drawn = dialog->OutputsDrawn();
            QTRY_VERIFY_WITH_TIMEOUT(dialog->OutputsDrawn() > drawn, 5000);
            TlvFilesRecord row;
            row.Exposure = exposure;
            Bitmap24 converted = dialog->OutputSource();
            TLayerImageCache layers;
            RenderRowFrame(row, converted, 0, layers);
            const QImage shown = dialog->OutputBitmap();
            QCOMPARE(shown.size(), QSize(converted.Width, converted.Height));
            int differing = 0;
            for (int y = 0; y < converted.Height; ++y)
                for (int x = 0; x < converted.Width; ++x) {
                    const uint8_t* bgr = converted.Row(y) + 3 * x;
                    differing += shown.pixelColor(x, y) != QColor(bgr[2], bgr[1], bgr[0]);
                }
            QVERIFY2(
                differing == 0,
                qPrintable(QString("exposure %1: %2 pixels differ").arg(exposure).arg(differing)));
        }
    }

    // A source the player cannot open: nothing to crop, and OK keeps the
    // row's own values. A source without pictures: no tracker, no effects.
    void unusableSources() {
        const std::string junk = h_->Media("junk.avi");
        std::ofstream(junk) << "not a media file";
        Row().SourceFile = junk;
        Row().Brightness = 300;
        Row().MarginUp = 7;
        {
            auto dialog = OpenDialog();
            QVERIFY(!dialog->Opened());
            QVERIFY(!dialog->imgbtnPlay->isEnabled());
            QVERIFY(!dialog->imgbtnpause->isEnabled());
            QVERIFY(!dialog->RectTracker->isVisible());
            QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        }
        QCOMPARE(Row().Brightness, 300);
        QCOMPARE(Row().MarginUp, 7);
        Row().SourceFile = tone_;
        auto dialog = OpenDialog();
        QVERIFY(dialog->Opened());
        QVERIFY(!dialog->RectTracker->isVisible());
        QVERIFY(!dialog->trcBrightness->isEnabled());
        QVERIFY(!dialog->chkProcessText->isEnabled());
        QCOMPARE(dialog->spedUp->value(), 0);
    }

    // A video whose pictures cannot be decoded gives no first picture: the
    // dialog shows the row's margins without a tracker, and OK keeps the
    // row's crop (the effects are still written).
    void noPictureKeepsTheRowsCrop() {
        const std::string undecodable = h_->Media("undecodable.avi");
        QVERIFY(testsupport::MakeMedia(
            undecodable, "-f lavfi -i testsrc2=size=640x480:rate=25:d=4 -f lavfi -i sine=d=4 "
                         "-c:v mjpeg -bsf:v noise=amount=1 -c:a pcm_s16le"));
        Row().SourceFile = undecodable;
        Row().MarginUp = 10, Row().CropTop = 16;
        Row().MarginLeft = 20, Row().CropLeft = 32;
        auto dialog = OpenDialog();
        QVERIFY(dialog->Opened());
        QVERIFY(!dialog->RectTracker->isVisible());
        QCOMPARE(dialog->spedUp->value(), 10);
        QCOMPARE(dialog->spedLeft->value(), 20);
        QCOMPARE(dialog->CropTop(), 16);
        QCOMPARE(dialog->CropLeft(), 32);
        dialog->spedtBrightness->setValue(280);
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        QCOMPARE(Row().MarginUp, 10);
        QCOMPARE(Row().CropTop, 16);
        QCOMPARE(Row().MarginLeft, 20);
        QCOMPARE(Row().CropLeft, 32);
        QCOMPARE(Row().MarginDown + Row().CropBottom + Row().MarginRight + Row().CropRight, 0);
        QCOMPARE(Row().Brightness, 280);
        // The first picture that comes later places the tracker at the
        // row's margins (here the row's source is replaced by one that
        // decodes, and played again after Stop).
        auto later = OpenDialog();
        QVERIFY(later->Opened());
        QVERIFY(!later->RectTracker->isVisible());
        Row().SourceFile = source_;
        QTest::mouseClick(later->imgbtnStop, Qt::LeftButton);
        QTest::mouseClick(later->imgbtnPlay, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(later->RectTracker->isVisible(), 15000);
        QCOMPARE(later->PictureRect(), QRect(12 + 9, 40 + 1, 402, 301));
        QCOMPARE(later->RectTracker->geometry(), QRect(21 + 20, 41 + 10, 402 - 20, 301 - 10));
        QCOMPARE(later->CropTop(), 16);
        QCOMPARE(later->CropLeft(), 32);
    }

    void everyControlHasAName() {
        auto dialog = OpenDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog->OutputsDrawn() > 0, 5000);
        for (QWidget* w : dialog->findChildren<QWidget*>()) {
            if (qobject_cast<QSpinBox*>(w) || qobject_cast<QSlider*>(w) ||
                qobject_cast<QAbstractButton*>(w) || qobject_cast<TTrackBar2*>(w) ||
                qobject_cast<QComboBox*>(w) || qobject_cast<TRectTracker*>(w))
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        }
        QCOMPARE(dialog->windowTitle(), QString("Crop"));
        QCOMPARE(dialog->imgbtnPlay->toolTip(), QString("Play"));
        // The adjustments' hints tell the range and the neutral value.
        QCOMPARE(dialog->spedtBrightness->toolTip(),
                 QString("Brightness: 0 to 512; 255 leaves the picture untouched (256 while "
                         "another adjustment is in use)."));
        QCOMPARE(dialog->trcContrast->toolTip(),
                 QString("Contrast: -100 to 100; 0 leaves the picture untouched."));
        const QImage shot = dialog->grab().toImage();
        QVERIFY(!shot.isNull());
        // To look at it: VANTREL_SCREENSHOT_DIR names a folder to keep it in.
        const QString folder = qEnvironmentVariable("VANTREL_SCREENSHOT_DIR");
        if (!folder.isEmpty()) QVERIFY(shot.save(folder + "/crop.png"));
    }

    // Cancel taken while the dialog is up and its opening has not ended
    // (from the events the opening services while it waits for the first
    // picture, or, on a slow machine, just before the opening starts): the
    // modal dialog ends and the Edit menu command returns, the row
    // unchanged. A dialog whose loop never ended is shown and cancelled
    // again after a deadline, which fails the test.
    void cancelWhileOpeningEndsTheDialog() {
        Row().MarginUp = 4;
        bool cancelled = false, stuck = false, returned = false;
        QTimer poll;
        poll.setInterval(0);
        connect(&poll, &QTimer::timeout, this, [this, &cancelled, &poll] {
            TfrmCrop* dialog = window_->frmCrop;
            if (!dialog || !dialog->isVisible()) return;
            if (dialog->Opened()) return;
            poll.stop();
            cancelled = true;
            QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
        });
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, this, [this, &stuck, &returned] {
            if (returned || !window_->frmCrop) return;
            stuck = true;
            window_->frmCrop->show();
            window_->frmCrop->reject();
        });
        poll.start();
        limit.start(20000);
        window_->lvFIles->SelectRow(0);
        window_->Crop2Click();
        returned = true;
        QVERIFY(cancelled);
        QVERIFY2(!stuck, "the dialog's loop went on after Cancel");
        QVERIFY(!window_->frmCrop->isVisible());
        QVERIFY(!window_->frmCrop->Opened());
        QVERIFY(!window_->frmCrop->FFPlayer->FileOpen());
        QVERIFY(!window_->frmCrop->Timer1->isActive());
        QCOMPARE(Row().MarginUp, 4);
    }

    // From the main window's Edit menu command to the converted file.
    void croppedAdjustedRowConverts() {
        // Acts once the dialog has opened and drawn its first output.
        bool acted = false;
        QTimer poll;
        poll.setInterval(50);
        connect(&poll, &QTimer::timeout, this, [this, &acted, &poll] {
            TfrmCrop* dialog = window_->frmCrop;
            if (acted || !dialog || dialog->OutputsDrawn() == 0) return;
            acted = true;
            poll.stop();
            TMouse{dialog->RectTracker}.Drag({23, 43}, {43, 73}); // left 20, up 30
            dialog->spedtBrightness->setValue(320);
            QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        });
        // A dialog that never draws is closed, which fails the test below.
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, this, [this, &acted] {
            if (!acted && window_->frmCrop) window_->frmCrop->reject();
        });
        poll.start();
        limit.start(20000);
        window_->lvFIles->SelectRow(0);
        window_->Crop2Click();
        QVERIFY(acted);
        const TlvFilesRecord& row = Row();
        QCOMPARE(row.CropLeft, 32); // 20 * 640 / 402 = 31.8
        QCOMPARE(row.CropTop, 48);  // 30 * 480 / 301 = 47.8
        QCOMPARE(row.Brightness, 320);
        const int w = 640 - row.CropLeft - row.CropRight, h = 480 - row.CropTop - row.CropBottom;
        const std::string section = "formatInfo102";
        h_->Settings().WriteString(section, "paraVideoSize",
                                   std::to_string(w) + "x" + std::to_string(h));
        h_->Settings().WriteString(section, "paraFrameRate", "as source");
        h_->Settings().WriteString(section, "paraVideoBitRate", "8000");
        h_->Settings().WriteString(section, "parazoom", "full");
        h_->ChooseFormat(102);
        QVERIFY(TWindowHarness::PressStart(*window_));
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        std::string output;
        for (const auto& entry : std::filesystem::directory_iterator(h_->OutputFolder()))
            if (entry.path().filename().string().rfind("crop", 0) == 0)
                output = entry.path().string();
        QVERIFY(!output.empty());
        QCOMPARE(testsupport::ProbeValue(output, "stream=width", "v:0"), std::to_string(w));
        QCOMPARE(testsupport::ProbeValue(output, "stream=height", "v:0"), std::to_string(h));
        const std::string raw = h_->Home("frame.raw");
        Bitmap24 source = DecodeFrame(source_, 25, 640, 480, raw);
        const Bitmap24 converted = DecodeFrame(output, 25, w, h, raw);
        QVERIFY(source.Width && converted.Width);
        const Bitmap24 plain = CropOf(source, 32, 48, w, h);
        const Bitmap24 shifted = CropOf(source, 0, 0, w, h);
        AdjustColors(source, 320, 0, 255);
        const Bitmap24 expected = CropOf(source, 32, 48, w, h);
        const double d = MeanDifference(converted, expected);
        QVERIFY2(d < 4, qPrintable(QString::number(d)));
        QVERIFY(MeanDifference(converted, plain) > 20);
        QVERIFY(MeanDifference(converted, shifted) > 20);
    }
};

QTEST_MAIN(TestCropWindow)
#include "tst_crop_window.moc"
