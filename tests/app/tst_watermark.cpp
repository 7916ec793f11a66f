// The watermark editor driven offscreen on a generated clip: stored layers
// listed, layers added, moved, reordered and deleted, their time range in
// the playing view, OK and Cancel, and a conversion of the edited row whose
// frames carry the layers where the editor placed them.
#include "DecodedFrame.h"
#include "WindowHarness.h"
#include "WindowShot.h"
#include "controls/Tracker2.h"
#include "editing/FrameRenderer.h"
#include "editing/WinWaterMark.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDir>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <iterator>

namespace {

using Clock = std::chrono::steady_clock;

// Runs the event loop until `done` holds; false at the deadline.
template <class F> bool WaitFor(F done, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= until) return false;
        ServiceMainThread(std::chrono::milliseconds(5));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::string LibraryFolder() {
    return QDir(QCoreApplication::applicationDirPath()).filePath("LibAV").toStdString();
}

// Drags with the left button held from one view point to another.
void Drag(QWidget* viewport, QPoint from, QPoint to) {
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step) {
        const QPoint at = from + (to - from) * step / 4;
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &move);
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
}

} // namespace

class TestWaterMark : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::string clip_, image_;
    static constexpr int kWidth = 160, kHeight = 120;

    TWmRec Text(const std::string& text, int start, int end) const {
        TWmRec layer;
        layer.Kind = kWmTextLayer;
        layer.Text = text;
        layer.Font = TWmFont{"DejaVu Sans", 12, 0, 0xFFFFFF};
        layer.TextLeft = 10, layer.TextTop = 10, layer.TextWidth = 40, layer.TextHeight = 18;
        layer.StartTime = start, layer.EndTime = end;
        return layer;
    }

    std::unique_ptr<TfrmWaterMark> OpenEditor(TlvFilesRecord& row) {
        auto editor = std::make_unique<TfrmWaterMark>(&row, true, LibraryFolder());
        editor->show();
        if (!WaitFor([&] { return editor->FileOpened() && editor->FramesShown() > 0; }))
            return nullptr;
        return editor;
    }

    // Waits for a frame shown at a time inside [from, to) seconds.
    bool WaitForFrameIn(TfrmWaterMark& editor, double from, double to) {
        return WaitFor([&] {
            const double t = editor.ShownTime() / 1e6;
            return t >= from && t < to;
        });
    }

    // Seeks the editor's player by pressing the position bar at a second.
    static void PressPositionAt(TfrmWaterMark& editor, int second) {
        TTrackBar2* bar = editor.trcPreview;
        const double span = bar->width() - 6;
        const int x = static_cast<int>(std::ceil((second + 0.5) * span / bar->Max()));
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2));
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        clip_ = h_->Media("clip.avi");
        image_ = h_->MakeLogo("logo.bmp");
        // Every frame a key frame: seeks land on the asked second.
        QVERIFY(testsupport::MakeMedia(
            clip_, "-f lavfi -i testsrc2=size=160x120:rate=10:duration=10 -c:v mpeg4 -g 1 -q:v 3"));
        QVERIFY(!image_.empty());
        h_->ChooseSourceSizedMpeg4();
    }

    void cleanupTestCase() { h_.reset(); }

    void init() { h_->Messages.clear(); }

    void storedLayersAreListedInOrderWithTheLastSelected() {
        TlvFilesRecord row = NewFilesRecord(clip_, "", 10'000'000, "lbox");
        row.Watermarks = {Text("one", 0, 9), Text("two", 1, 2), Text("three", 3, 4)};
        auto editor = OpenEditor(row);
        QVERIFY(editor);
        QCOMPARE(editor->lsbox->count(), 3);
        QCOMPARE(editor->lsbox->item(0)->text(), QString("one"));
        QCOMPARE(editor->lsbox->item(2)->text(), QString("three"));
        QCOMPARE(editor->lsbox->currentRow(), 2);
        QCOMPARE(editor->SelectedLayer(), editor->Item(2).Layer);
        QCOMPARE(editor->trcRange->PositionL(), 3);
        QCOMPARE(editor->trcRange->PositionU(), 4);
        for (QWidget* w : std::initializer_list<QWidget*>{editor->trcRange, editor->trcTextHoriz,
                                                          editor->trcTextVert, editor->trcTextTran})
            QVERIFY(w->isEnabled());
        // Drawing order follows the list.
        QVERIFY(editor->Item(0).Layer->zValue() < editor->Item(1).Layer->zValue());
        QVERIFY(editor->Item(1).Layer->zValue() < editor->Item(2).Layer->zValue());
        // Every control of the window is named for assistive technology.
        const QStringList unnamed = UnnamedControls(*editor);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        SaveShot(*editor, "watermark");
        editor->btnCancel->click();
        QCOMPARE(row.Watermarks.size(), std::size_t{3});
    }

    void aLayerShowsOnlyInsideItsSeconds() {
        TlvFilesRecord row = NewFilesRecord(clip_, "", 10'000'000, "lbox");
        row.Watermarks = {Text("range", 5, 8)};
        auto editor = OpenEditor(row);
        QVERIFY(editor);
        QGraphicsPixmapItem* layer = editor->Item(0).Layer;
        const std::pair<int, bool> cases[] = {{4, false}, {5, true}, {8, true}, {9, false}};
        for (const auto& [second, visible] : cases) {
            PressPositionAt(*editor, second);
            QVERIFY2(WaitForFrameIn(*editor, second, second + 1), std::to_string(second).c_str());
            QCOMPARE(layer->isVisible(), visible);
        }
        editor->btnCancel->click();
    }

    void layersAreAddedReorderedAndDeleted() {
        TlvFilesRecord row = NewFilesRecord(clip_, "", 10'000'000, "lbox");
        auto editor = OpenEditor(row);
        QVERIFY(editor);
        QVERIFY(!editor->trcTextTran->isEnabled());
        // A cancelled choice adds nothing and the preview keeps running.
        editor->SetImageChooser([] { return std::string(); });
        editor->btnAddImage->click();
        QCOMPARE(editor->lsbox->count(), 0);
        const int frames = editor->FramesShown();
        QVERIFY(WaitFor([&] { return editor->FramesShown() > frames + 2; }));
        // A file that is no bitmap: a message naming it, no layer.
        const std::string broken = h_->Media("broken.bmp");
        std::ofstream(broken) << "not a bitmap";
        editor->SetImageChooser([broken] { return broken; });
        editor->btnAddImage->click();
        QCOMPARE(editor->lsbox->count(), 0);
        QCOMPARE(h_->Messages.size(), std::size_t{1});
        QVERIFY(h_->Messages[0].Text.find(broken) != std::string::npos);

        editor->btnAddText->click();
        editor->SetImageChooser([this] { return image_; });
        editor->btnAddImage->click();
        QCOMPARE(editor->lsbox->count(), 2);
        QCOMPARE(editor->lsbox->item(0)->text(), QString("Add Text"));
        QCOMPARE(editor->lsbox->item(1)->text(), QString::fromStdString(image_));
        QVERIFY(editor->Item(1).Rec.EndTime >= 9);
        QCOMPARE(editor->Item(1).Layer->pixmap().size(), QSize(40, 30));
        // Down on the last and Up on the first change nothing.
        editor->btnDown->click();
        QCOMPARE(editor->lsbox->item(1)->text(), QString::fromStdString(image_));
        editor->btnUp->click();
        QCOMPARE(editor->lsbox->item(0)->text(), QString::fromStdString(image_));
        QCOMPARE(editor->lsbox->currentRow(), 0);
        QVERIFY(editor->Item(0).Layer->zValue() < editor->Item(1).Layer->zValue());
        editor->btnUp->click();
        QCOMPARE(editor->lsbox->item(0)->text(), QString::fromStdString(image_));
        // The text edited in place renames the entry and redraws its layer.
        editor->lsbox->setCurrentRow(1);
        editor->lsboxClick();
        const int narrow = editor->Item(1).Layer->pixmap().width();
        editor->lsboxDblClick();
        QTest::keyClicks(editor->edt1, " and more");
        QCOMPARE(editor->lsbox->item(1)->text(), QString("Add Text and more"));
        QVERIFY(editor->Item(1).Layer->pixmap().width() > narrow);
        // Deleting both leaves an empty list and disabled controls.
        editor->btnDelete->click();
        QCOMPARE(editor->lsbox->count(), 1);
        QVERIFY(editor->trcTextTran->isEnabled());
        editor->btnDelete->click();
        QCOMPARE(editor->lsbox->count(), 0);
        QVERIFY(!editor->trcTextTran->isEnabled());
        QVERIFY(!editor->trcRange->isEnabled());
        editor->btnOk->click();
        QVERIFY(row.Watermarks.empty());
    }

    // A PNG logo with a hole: the view shows the frame through the hole and
    // the logo elsewhere; a JPEG is taken too. Enter, with the focus on Add
    // Text, presses Ok and adds nothing.
    void pictureLayersKeepTheirTransparencyAndEnterPressesOk() {
        QImage logo(40, 30, QImage::Format_ARGB32);
        logo.fill(QColor(200, 40, 40));
        for (int y = 8; y < 22; ++y)
            for (int x = 10; x < 30; ++x)
                logo.setPixelColor(x, y, QColor(0, 0, 0, 0));
        const std::string png = h_->Media("hole.png");
        QVERIFY(logo.save(QString::fromStdString(png)));
        const std::string jpeg = h_->Media("plain.jpg");
        QVERIFY(logo.convertToFormat(QImage::Format_RGB32).save(QString::fromStdString(jpeg)));
        TlvFilesRecord row = NewFilesRecord(clip_, "", 10'000'000, "lbox");
        auto editor = OpenEditor(row);
        QVERIFY(editor);
        editor->trcTextTran->setValue(255);
        editor->SetImageChooser([png] { return png; });
        editor->btnAddImage->click();
        editor->SetImageChooser([jpeg] { return jpeg; });
        editor->btnAddImage->click();
        QCOMPARE(editor->lsbox->count(), 2);
        QVERIFY(h_->Messages.empty());
        editor->Item(1).Layer->setVisible(false);
        TWmLayerItem* layer = editor->Item(0).Layer;
        QVERIFY(layer->pixmap().hasAlphaChannel());
        // Two pictures of the scene at one instant: without and with the logo.
        QGraphicsScene* scene = editor->ImgView->scene();
        const auto render = [scene] {
            QImage image(scene->sceneRect().size().toSize(), QImage::Format_RGB32);
            QPainter painter(&image);
            scene->render(&painter, QRectF(image.rect()), scene->sceneRect());
            return image;
        };
        layer->setVisible(false);
        const QImage without = render();
        layer->setVisible(true);
        const QImage with = render();
        const QPoint at = layer->pos().toPoint();
        QCOMPARE(with.pixelColor(at + QPoint(20, 15)), without.pixelColor(at + QPoint(20, 15)));
        const QColor opaque = with.pixelColor(at + QPoint(3, 3));
        QVERIFY2(std::abs(opaque.red() - 200) <= 2 && std::abs(opaque.green() - 40) <= 2,
                 qPrintable(opaque.name()));

        editor->btnAddText->setFocus();
        QTest::keyClick(editor->btnAddText, Qt::Key_Return);
        QCOMPARE(editor->lsbox->count(), 2);
        QCOMPARE(row.Watermarks.size(), std::size_t{2});
        QCOMPARE(row.Watermarks[0].ImageFile, png);
        QCOMPARE(row.Watermarks[1].ImageFile, jpeg);
    }

    void cancelWritesNothing() {
        TlvFilesRecord row = NewFilesRecord(clip_, "", 10'000'000, "lbox");
        row.Watermarks = {Text("kept", 0, 3)};
        auto editor = OpenEditor(row);
        QVERIFY(editor);
        editor->btnAddText->click();
        editor->btnCancel->click();
        QCOMPARE(row.Watermarks.size(), std::size_t{1});
        QCOMPARE(row.Watermarks[0].Text, std::string("kept"));
    }

    // Esc leaves like Cancel: the player stops with the editor, and the row
    // keeps its layers.
    void escapeStopsThePlayer() {
        TlvFilesRecord row = NewFilesRecord(clip_, "", 10'000'000, "lbox");
        row.Watermarks = {Text("kept", 0, 3)};
        auto editor = OpenEditor(row);
        QVERIFY(editor);
        QVERIFY(editor->PlayerOpen());
        editor->btnAddText->click();
        QTest::keyClick(editor.get(), Qt::Key_Escape);
        QVERIFY(!editor->isVisible());
        QVERIFY(!editor->PlayerOpen());
        QCOMPARE(row.Watermarks.size(), std::size_t{1});
    }

    // A stored image layer whose file has gone keeps its place in the list
    // and its stored size; moving it and OK write the new place only.
    void missingImageFileKeepsTheStoredSize() {
        TlvFilesRecord row = NewFilesRecord(clip_, "", 10'000'000, "lbox");
        TWmRec image;
        image.Kind = kWmImageLayer;
        image.ImageFile = h_->Media("gone.bmp");
        image.ImageLeft = 20, image.ImageTop = 10, image.ImageWidth = 40, image.ImageHeight = 30;
        image.ImageAlpha = 200, image.StartTime = 1, image.EndTime = 4;
        row.Watermarks = {Text("before", 0, 9), image};
        auto editor = OpenEditor(row);
        QVERIFY(editor);
        QCOMPARE(editor->lsbox->count(), 2);
        QCOMPARE(editor->lsbox->item(1)->text(), QString::fromStdString(image.ImageFile));
        QVERIFY(editor->lsbox->item(1)->toolTip().contains("gone.bmp"));
        QCOMPARE(editor->Item(1).Layer->sceneBoundingRect(), QRectF(20, 10, 40, 30));
        editor->trcTextHoriz->setValue(50);
        editor->btnOk->click();
        QCOMPARE(row.Watermarks.size(), std::size_t{2});
        const TWmRec& kept = row.Watermarks[1];
        QCOMPARE(kept.ImageFile, image.ImageFile);
        QCOMPARE(kept.ImageLeft, 50);
        QCOMPARE(kept.ImageTop, 10);
        QCOMPARE(kept.ImageWidth, 40);
        QCOMPARE(kept.ImageHeight, 30);
        QCOMPARE(kept.ImageAlpha, 200);
        QCOMPARE(kept.StartTime, 1);
        QCOMPARE(kept.EndTime, 4);
    }

    // A source the player cannot open loads no layer; OK keeps the row's.
    void okOnAnUnplayableSourceKeepsTheLayers() {
        const std::string broken = h_->Media("broken.avi");
        std::ofstream(broken) << "no media here";
        TlvFilesRecord row = NewFilesRecord(broken, "", 0, "lbox");
        row.Watermarks = {Text("kept", 0, 3)};
        TfrmWaterMark editor(&row, true, LibraryFolder());
        editor.show();
        QCoreApplication::processEvents();
        QVERIFY(!editor.FileOpened());
        QCOMPARE(editor.lsbox->count(), 0);
        // Nothing can be added that OK would then have to drop.
        QVERIFY(!editor.btnAddText->isEnabled());
        QVERIFY(!editor.btnAddImage->isEnabled());
        editor.btnAddText->click();
        editor.btnAddTextClick();
        QCOMPARE(editor.LayerCount(), 0);
        editor.btnOk->click();
        QCOMPARE(row.Watermarks.size(), std::size_t{1});
        QCOMPARE(row.Watermarks[0].Text, std::string("kept"));
    }

    // The editor opened from the main window: a text layer dragged to the
    // top-left corner and shown in the first two seconds, an image layer
    // placed with the sliders and shown from second 5; OK, then the row is
    // converted and its frames checked at the layers' places.
    void editedLayersLandInTheConvertedFile() {
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, {clip_});
        QCOMPARE(window->lvFIles->RowCount(), 1);
        bool driven = false;
        QPointF movedFrom;
        QImage editorText;
        // The editor is modal: it is driven from a timer once it is shown.
        // Driven only from the dialog's own loop once the source is open, never
        // from inside the opening's waits; given up after a minute.
        QTimer poll;
        poll.setInterval(50);
        const auto giveUp = Clock::now() + std::chrono::seconds(60);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            TfrmWaterMark* editor = window->findChild<TfrmWaterMark*>();
            if (!editor || !editor->isVisible()) return;
            if (!editor->FileOpened()) {
                if (Clock::now() < giveUp) return;
                poll.stop();
                editor->btnCancel->click();
                return;
            }
            poll.stop();
            editor->trcTextTran->setValue(255);
            editor->rb1->setChecked(true);
            editor->btnAddText->click();
            TWmLayerItem* text = editor->SelectedLayer();
            const QPointF centre = text->sceneBoundingRect().center();
            const QPointF topLeft = text->pos();
            movedFrom = topLeft;
            Drag(editor->ImgView->viewport(), editor->FrameToView(centre),
                 editor->FrameToView(centre - topLeft));
            editor->trcRange->SetPositionU(1);
            editor->SetImageChooser([this] { return image_; });
            editor->btnAddImage->click();
            editor->trcTextHoriz->setValue(100);
            editor->trcTextVert->setValue(70);
            editor->trcRange->SetPositionL(5);
            editorText = editor->Item(0).Layer->pixmap().toImage();
            driven = true;
            editor->btnOk->click();
        });
        poll.start();
        window->WaterMark1Click();
        QVERIFY(driven);
        QVERIFY(movedFrom.y() > 0); // the centred layer was dragged up
        const TlvFilesRecord& row = window->lvFIles->Row(0)->Record;
        QCOMPARE(row.Watermarks.size(), std::size_t{2});
        const TWmRec text = row.Watermarks[0];
        const TWmRec image = row.Watermarks[1];
        QCOMPARE(text.TextLeft, 0);
        QCOMPARE(text.TextTop, 0);
        QVERIFY(text.UseBackColor);
        QCOMPARE(text.TextAlpha, 255);
        QCOMPARE(text.StartTime, 0);
        QCOMPARE(text.EndTime, 1);
        QCOMPARE(image.ImageLeft, 100);
        QCOMPARE(image.ImageTop, 70);
        QCOMPARE(image.ImageWidth, 40);
        QCOMPARE(image.StartTime, 5);
        QVERIFY(image.EndTime >= 9);
        // The editor's picture of the text is the box the conversion draws.
        Bitmap24 box;
        box.SetSize(text.TextWidth, text.TextHeight);
        std::fill(box.Data.begin(), box.Data.end(), 0);
        TLayerImageCache cache;
        cache.DrawText(box, text);
        const QImage rendered = WrapBitmap(box).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(editorText.size(), rendered.size());
        int far = 0;
        for (int y = 0; y < rendered.height(); ++y)
            for (int x = 0; x < rendered.width(); ++x) {
                const QRgb a = editorText.pixel(x, y), b = rendered.pixel(x, y);
                if (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                        std::abs(qBlue(a) - qBlue(b)) >
                    12)
                    ++far;
            }
        QVERIFY2(far * 50 < rendered.width() * rendered.height(), std::to_string(far).c_str());

        TWindowHarness::PressStart(*window);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        TWindowHarness::Dispose(window);
        const std::string out = h_->Output("clip_(new).mp4");
        const std::string raw = h_->Home("frame.raw");
        const QRect textBox(0, 0, std::min(text.TextWidth, kWidth),
                            std::min(text.TextHeight, kHeight));
        const QRect imageBox(100, 70, 40, 30);
        Bitmap24 logo = DecodeFrame(image_, 0, 40, 30, raw);
        QVERIFY(logo.Width);
        struct Case {
            int frame;
            bool text, image;
        };
        for (const Case& c :
             {Case{5, true, false}, Case{30, false, false}, Case{60, false, true}}) {
            const Bitmap24 source = DecodeFrame(clip_, c.frame, kWidth, kHeight, raw);
            const Bitmap24 output = DecodeFrame(out, c.frame, kWidth, kHeight, raw);
            QVERIFY(source.Width && output.Width);
            Bitmap24 expected = source;
            TLayerImageCache frameCache;
            if (c.text) frameCache.DrawText(expected, text);
            if (c.image) BlendBitmap(expected, logo, 100, 70, image.ImageAlpha);
            const std::string at = " at frame " + std::to_string(c.frame);
            const double textDiff = MeanDifference(output, expected, textBox);
            const double imageDiff = MeanDifference(output, expected, imageBox);
            QVERIFY2(textDiff < 16, (std::to_string(textDiff) + at).c_str());
            QVERIFY2(imageDiff < 10, (std::to_string(imageDiff) + at).c_str());
            // The layers make a clear difference where they are drawn.
            if (c.text) QVERIFY(MeanDifference(source, expected, textBox) > 40);
            if (c.image) QVERIFY(MeanDifference(source, expected, imageBox) > 40);
        }
    }
};

QTEST_MAIN(TestWaterMark)
#include "tst_watermark.moc"
