// The trim dialog on real files: the markers moved with the mouse on the
// range bar, the times in the two fields (shown, typed and stepped a frame
// at a time), Default, OK and Cancel, a source the player cannot open, and
// trimmed rows converted from the main window.
#include "WindowHarness.h"
#include "WindowShot.h"
#include "app/PlayerSurface.h"
#include "controls/Tracker2.h"
#include "editing/WinTrim.h"
#include "effects/TrimTimes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>
#include <cmath>
#include <functional>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Presses and releases the left button on the range bar at x.
void Click(TTrackBar2* bar, int x) {
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(x, 10));
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(x, 10));
}

// A move over the bar with the left button held.
void DragTo(TTrackBar2* bar, int x) {
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), bar->mapToGlobal(QPointF(x, 10)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
}

// The mean grey level of a file's first picture (after `seek`), -1 when
// ffmpeg cannot give it.
double MeanGrey(const std::string& file, const std::string& seek, const std::string& raw) {
    if (!testsupport::RunFfmpeg(seek + "-i " + testsupport::ShellQuote(file) +
                                " -frames:v 1 -vf format=gray -f rawvideo " +
                                testsupport::ShellQuote(raw)))
        return -1;
    std::ifstream in(raw, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.empty()) return -1;
    double sum = 0;
    for (char c : bytes)
        sum += static_cast<unsigned char>(c);
    return sum / bytes.size();
}

double Seconds(const std::string& text) {
    return text.empty() ? -1 : std::stod(text);
}

// Replaces a time field's text as typing would, then presses Enter.
void TypeTime(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

} // namespace

class TestTrimWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::unique_ptr<TfrmMain> window_;
    std::string clip_; // 60 s
    TfrmTrim* trim_ = nullptr;

    // Shows the dialog on the row as the Trim menu entry would, without
    // blocking the test in a modal loop.
    void OpenOn(int row) {
        window_->lvFIles->SelectRow(row);
        trim_->show();
        QVERIFY(QTest::qWaitForWindowExposed(trim_));
    }

    // Opens the dialog through the main window's Trim entry on the selected
    // row and runs `act` once the modal dialog has opened the row; gives up
    // after a deadline so that the test fails instead of waiting in the
    // dialog for ever. False when `act` did not run.
    bool TrimModally(const std::function<void()>& act) {
        bool acted = false;
        const int openings = trim_->Openings();
        QElapsedTimer waited;
        waited.start();
        QTimer poll;
        poll.setInterval(50);
        connect(&poll, &QTimer::timeout, trim_, [&] {
            if (waited.elapsed() > 15000) {
                poll.stop();
                trim_->reject();
                return;
            }
            if (QApplication::activeModalWidget() != trim_ || trim_->Openings() == openings) return;
            poll.stop();
            acted = true;
            act();
        });
        poll.start();
        window_->Trim1Click();
        return acted;
    }

    // The one file of the output folder whose name starts with `stem`.
    std::string OutputOf(const std::string& stem) {
        std::vector<std::string> outputs;
        for (const auto& entry : std::filesystem::directory_iterator(h_->OutputFolder()))
            if (entry.path().filename().string().rfind(stem, 0) == 0)
                outputs.push_back(entry.path().string());
        return outputs.size() == 1 ? outputs.front() : std::string();
    }
    QString Column(int row) { return window_->lvFIles->Row(row)->text(colTrimmed); }
    TlvFilesRecord& Record(int row) { return window_->lvFIles->Row(row)->Record; }
    // The row's stored trim (microseconds) and what its column shows.
    void ExpectStored(int row, std::int64_t start, std::int64_t length, const char* column) {
        QCOMPARE(Record(row).TrimStart, start);
        QCOMPARE(Record(row).TrimLength, length);
        QCOMPARE(Column(row), QString(column));
    }

    // Clicks from 200 towards the middle of the 0..30 s range move the
    // start marker up to 28 s; a click beyond the middle then moves the
    // end marker to 29 s.
    void SqueezeMarkersToOneSecond() {
        for (int x : {200, 300, 350, 378, 392, 399})
            Click(trim_->trcPosition, x);
        QCOMPARE(trim_->LeftMarkerX(), 393);
        QCOMPARE(trim_->Start(), 28);
        Click(trim_->trcPosition, 406);
        QCOMPARE(trim_->RightMarkerX(), 400);
        QCOMPARE(trim_->End(), 29);
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        clip_ = h_->Media("minute.mkv");
        // Every picture is one grey whose level grows with the time, so a
        // picture tells which moment of the source it shows.
        QVERIFY(testsupport::MakeMedia(
            clip_, "-f lavfi -i " +
                       testsupport::ShellQuote(
                           "nullsrc=s=160x120:r=10,geq=lum='mod(T*20,256)':cb=128:cr=128") +
                       " -f lavfi -i sine=f=440 -t 60 -c:v mpeg4 -q:v 2 -c:a mp2 -shortest"));
        // The first window writes the formats' settings; then MPEG-4 at the
        // source's size and rate.
        window_ = h_->NewWindow();
        TWindowHarness::Dispose(window_);
        h_->Settings().WriteString("formatInfo102", "paraVideoSize", "as source");
        h_->Settings().WriteString("formatInfo102", "paraFrameRate", "as source");
        h_->ChooseFormat(102);
        window_ = h_->NewWindow();
        // The list takes a file once: the second row gets a copy.
        const std::string copy = h_->Media("minute2.mkv");
        std::filesystem::copy_file(clip_, copy);
        TWindowHarness::AddFiles(*window_, {clip_, copy});
        QCOMPARE(window_->lvFIles->RowCount(), 2);
        trim_ = window_->frmTrim;
        QVERIFY(trim_);
    }

    void cleanupTestCase() {
        if (window_) TWindowHarness::Dispose(window_);
        h_.reset();
    }

    // Rows a case added go again, also after a failed check.
    void cleanup() {
        if (trim_->isVisible()) trim_->btnCancel->click();
        while (window_->lvFIles->RowCount() > 2)
            window_->lvFIles->RemoveRow(window_->lvFIles->RowCount() - 1);
    }

    // While the copying format is chosen the time fields' hints say that
    // the converted file starts at a key frame; with any other they do not.
    void copyingFormatHintSaysKeyFrame() {
        const char* const keyFrame = "starts at the key frame at or before Trim Start";
        h_->Settings().WriteInteger("settings", "FormatCode", 303);
        OpenOn(0);
        QVERIFY(trim_->edtStart->toolTip().contains(keyFrame));
        QVERIFY(trim_->edtTrimLength->toolTip().contains(keyFrame));
        trim_->btnCancel->click();
        h_->Settings().WriteInteger("settings", "FormatCode", 102);
        OpenOn(0);
        QVERIFY(!trim_->edtStart->toolTip().contains(keyFrame));
        QVERIFY(trim_->edtStart->toolTip().contains("Up and Down step one frame"));
        trim_->btnCancel->click();
    }

    // Without a trim the markers lie at both ends; OK keeps the row whole.
    void untrimmedSourceKeepsTheWholeLength() {
        OpenOn(0);
        QVERIFY(trim_->SourceOpened());
        QCOMPARE(trim_->Duration(), 60);
        QCOMPARE(trim_->trcPosition->geometry(), QRect(32, 473, 838, 20));
        QCOMPARE(trim_->UsableWidth(), 838 - trim_->imglistPosRight.width());
        QCOMPARE(trim_->LeftMarkerX(), 0);
        QCOMPARE(trim_->RightMarkerX(), trim_->UsableWidth());
        QCOMPARE(trim_->edtStart->text(), QString("0:00:00"));
        QCOMPARE(trim_->edtTrimLength->text(), QString("0:01:00"));
        QCOMPARE(trim_->lblPTS->text(), QString("0:01:00"));
        QVERIFY(!trim_->imgbtnPlay->isEnabled());
        QVERIFY(trim_->imgbtnpause->isEnabled());
        // The preview plays into the panel.
        QTRY_VERIFY_WITH_TIMEOUT(trim_->imgPreview->PicturesReceived() > 0, 10000);
        trim_->btnOk->click();
        QVERIFY(!trim_->isVisible());
        ExpectStored(0, 0, 0, "60");
    }

    // A click at 146 puts the start marker at 140: 140 / 838 x 60 = 10.02 s.
    // The release seeks the player to the start.
    void startMarkerAtTenSeconds() {
        OpenOn(0);
        // The player reports its first position once it plays.
        QTRY_VERIFY_WITH_TIMEOUT(!trim_->lblTime->text().isEmpty(), 10000);
        Click(trim_->trcPosition, 146);
        QCOMPARE(trim_->LeftMarkerX(), 140);
        QCOMPARE(trim_->Start(), 10);
        QCOMPARE(trim_->edtStart->text(), QString("0:00:10"));
        QCOMPARE(trim_->trcPreview->PositionL(), 10);
        QTRY_VERIFY_WITH_TIMEOUT(trim_->FFPlayer->CurrentPosition() >= 10000000 &&
                                     trim_->FFPlayer->CurrentPosition() < 13000000,
                                 10000);
        trim_->btnOk->click();
        ExpectStored(0, 10000000, 50000000, "50");
    }

    // The next opening starts from the row's values; a click below half the
    // marker's width puts the start at 0, and the end is scaled by the
    // usable width: 413 / 826 x 60 = 30 s.
    void markersAtZeroAndThirtySeconds() {
        OpenOn(0);
        QCOMPARE(trim_->Start(), 10);
        QCOMPARE(trim_->End(), 60);
        QCOMPARE(trim_->LeftMarkerX(), 138); // 10 / 60 x 826
        Click(trim_->trcPosition, 3);
        QCOMPARE(trim_->LeftMarkerX(), 0);
        QCOMPARE(trim_->Start(), 0);
        Click(trim_->trcPosition, 419);
        QCOMPARE(trim_->RightMarkerX(), 413);
        QCOMPARE(trim_->End(), 30);
        QCOMPARE(trim_->edtTrimLength->text(), QString("0:00:30"));
        trim_->btnOk->click();
        ExpectStored(0, 0, 30000000, "30");
    }

    // Dragging moves a marker while the range is 2 s or more; below that
    // only clicks move them. Cancel writes nothing.
    void draggingStopsUnderTwoSeconds() {
        OpenOn(1);
        DragTo(trim_->trcPosition, 146);
        QCOMPARE(trim_->Start(), 10);
        DragTo(trim_->trcPosition, 832); // usable width + half the marker
        QCOMPARE(trim_->RightMarkerX(), 826);
        QCOMPARE(trim_->End(), 60);
        Click(trim_->trcPosition, 3);   // start 0
        Click(trim_->trcPosition, 419); // end 30
        QCOMPARE(trim_->End(), 30);
        SqueezeMarkersToOneSecond();
        DragTo(trim_->trcPosition, 300);
        DragTo(trim_->trcPosition, 600);
        QCOMPARE(trim_->LeftMarkerX(), 393);
        QCOMPARE(trim_->RightMarkerX(), 400);
        QCOMPARE(trim_->Start(), 28);
        QCOMPARE(trim_->End(), 29);
        Click(trim_->trcPosition, 300);
        QCOMPARE(trim_->LeftMarkerX(), 294);
        QCOMPARE(trim_->Start(), 21);
        QCOMPARE(trim_->edtStart->text(), QString("0:00:21"));
        trim_->btnCancel->click();
        ExpectStored(1, 0, 0, "60");
    }

    // The end marker pulled to the left of the start marker: the row is
    // converted from the start to the end of the source, and the column
    // says how long that is.
    void endBeforeStartConvertsToTheEnd() {
        OpenOn(1);
        Click(trim_->trcPosition, 419);
        SqueezeMarkersToOneSecond();
        Click(trim_->trcPosition, 397); // end marker at 391, left of the start's 393
        QCOMPARE(trim_->End(), 28);
        trim_->btnOk->click();
        ExpectStored(1, 28000000, 0, "32");
    }

    // Pause, Stop and Play again: Play opens the source once more.
    void playbackButtons() {
        OpenOn(1);
        trim_->imgbtnpause->click();
        QVERIFY(trim_->FFPlayer->IsPaused());
        QVERIFY(trim_->imgbtnPlay->isEnabled());
        QVERIFY(!trim_->imgbtnpause->isEnabled());
        trim_->imgbtnStop->click();
        QVERIFY(!trim_->FFPlayer->FileOpen());
        QVERIFY(!trim_->trcPreview->isEnabled());
        QCOMPARE(trim_->trcPreview->PositionL(), 0);
        QCOMPARE(trim_->lblTime->text(), QString("00:00:00"));
        QCOMPARE(trim_->lblPTS->text(), QString("00:00:00"));
        QVERIFY(!trim_->imgbtnStop->isEnabled());
        const int shown = trim_->imgPreview->PicturesReceived();
        trim_->imgbtnPlay->click();
        QVERIFY(trim_->FFPlayer->FileOpen());
        QVERIFY(trim_->trcPreview->isEnabled());
        QCOMPARE(trim_->lblPTS->text(), QString("0:01:00"));
        QTRY_VERIFY_WITH_TIMEOUT(trim_->imgPreview->PicturesReceived() > shown, 10000);
        trim_->btnCancel->click();
        // Closing stops the player (without waiting for it).
        QTRY_VERIFY_WITH_TIMEOUT(!trim_->FFPlayer->FileOpen(), 10000);
    }

    // Times typed into the fields move the markers and are kept to the
    // microsecond; Up and Down and the step buttons move a time one frame
    // (the clip has 10 a second); text that is no time is refused with the
    // reason and changes nothing.
    void typedAndSteppedTimes() {
        OpenOn(1);
        QCOMPARE(trim_->FrameRate(), 10.0);
        for (QPushButton* b :
             {trim_->btnStartBack, trim_->btnStartForward, trim_->btnEndBack, trim_->btnEndForward})
            QVERIFY(!b->accessibleName().isEmpty());
        QVERIFY(trim_->edtStart->isEnabled() && trim_->edtTrimLength->isEnabled());
        TypeTime(trim_->edtStart, "0:00:12.340");
        QCOMPARE(trim_->StartUS(), 12340000);
        QCOMPARE(trim_->LeftMarkerX(), 170); // 12.34 / 60 x 826
        QCOMPARE(trim_->edtStart->text(), QString("0:00:12.340"));
        SaveShot(*trim_, "trim-typed");
        trim_->btnStartForward->click(); // nearest frame 12.3, then 12.4
        QCOMPARE(trim_->StartUS(), 12400000);
        QCOMPARE(trim_->edtStart->text(), QString("0:00:12.400"));
        QTest::keyClick(trim_->edtStart, Qt::Key_Down);
        QTest::keyClick(trim_->edtStart, Qt::Key_Down);
        QCOMPARE(trim_->StartUS(), 12200000);
        TypeTime(trim_->edtTrimLength, "15.5");
        QCOMPARE(trim_->EndUS(), 15500000);
        QCOMPARE(trim_->edtTrimLength->text(), QString("0:00:15.500"));
        QTest::keyClick(trim_->edtTrimLength, Qt::Key_Up);
        trim_->btnEndBack->click();
        trim_->btnEndBack->click();
        QCOMPARE(trim_->EndUS(), 15400000);
        // Not a time: the reason is shown, the start stays.
        TypeTime(trim_->edtStart, "0:00:1x");
        QCOMPARE(trim_->StartUS(), 12200000);
        QVERIFY(trim_->lblTimeError->text().contains("is not a time"));
        // OK takes no such text either.
        trim_->btnOk->click();
        QVERIFY(trim_->isVisible());
        TypeTime(trim_->edtStart, "0:00:12.2");
        QVERIFY(trim_->lblTimeError->text().isEmpty());
        // A time after the end is the end.
        TypeTime(trim_->edtTrimLength, "2:00:00");
        QVERIFY(trim_->EndUS() >= 60000000 && trim_->EndUS() < 60100000);
        QVERIFY(trim_->lblTimeError->text().contains("ends at"));
        TypeTime(trim_->edtTrimLength, "0:00:15.4");
        trim_->btnOk->click();
        QVERIFY(!trim_->isVisible());
        ExpectStored(1, 12200000, 3200000, "3.2");
        // The next opening shows the stored times to the millisecond.
        OpenOn(1);
        QCOMPARE(trim_->edtStart->text(), QString("0:00:12.200"));
        QCOMPARE(trim_->edtTrimLength->text(), QString("0:00:15.400"));
        trim_->btnDefault->click();
        trim_->btnOk->click();
        QCOMPARE(Record(1).TrimStart, 0);
        QCOMPARE(Record(1).TrimLength, 0);
    }

    // The time texts and the frame steps on their own.
    void timeTextsAndFrameSteps() {
        std::int64_t us = -1;
        QVERIFY(ParseTrimTime("1:02:03.5", us));
        QCOMPARE(us, 3723500000);
        QVERIFY(ParseTrimTime(" 75 ", us));
        QCOMPARE(us, 75000000);
        QVERIFY(ParseTrimTime("01:30.25", us));
        QCOMPARE(us, 90250000);
        for (const char* bad :
             {"", "1:60:00", "0:00:61", "-1", "1.2.3", "1:2:3:4", "0:00:0.1234567"})
            QVERIFY2(!ParseTrimTime(bad, us), bad);
        QCOMPARE(TrimTimeText(1480000), std::string("0:00:01.480"));
        QCOMPARE(TrimTimeText(3600000000), std::string("1:00:00"));
        // NTSC: frame 3 starts at 100.1 ms; the step lands at or just before
        // it, never after, so a cut there keeps the frame.
        const double ntsc = 30000.0 / 1001;
        QCOMPARE(StepFrames(66733, ntsc, 1), std::int64_t(100100));
        QCOMPARE(StepFrames(100100, ntsc, -1), std::int64_t(66733));
        QCOMPARE(StepFrames(20000, 25, -3), std::int64_t(0));
    }

    void defaultShowsTheFullDuration() {
        const std::string hour = h_->Media("hour.mkv");
        QVERIFY(testsupport::MakeMedia(
            hour, "-f lavfi -i color=c=gray:size=32x32:rate=2 -t 3725.5 -c:v mpeg4"));
        TWindowHarness::AddFiles(*window_, {hour});
        const int row = window_->lvFIles->RowCount() - 1;
        OpenOn(row);
        QCOMPARE(trim_->Duration(), 3726);
        Click(trim_->trcPosition, 146);
        QVERIFY(trim_->Start() > 0);
        trim_->btnDefault->click();
        QCOMPARE(trim_->edtStart->text(), QString("00:00:00"));
        QCOMPARE(trim_->edtTrimLength->text(), QString("01:02:05.500"));
        QCOMPARE(trim_->Start(), 0);
        QCOMPARE(trim_->End(), 3726);
        QCOMPARE(trim_->LeftMarkerX(), 140); // the markers stay
        trim_->btnOk->click();
        QCOMPARE(Record(row).TrimStart, 0);
        QCOMPARE(Record(row).TrimLength, 0);
    }

    // A source that no longer opens: the dialog keeps the last opening's
    // times, and OK must not write them into this row.
    void unopenableSourceWritesNothing() {
        const std::string broken = h_->Media("broken.mkv");
        QVERIFY(testsupport::MakeMedia(broken, "-f lavfi -i testsrc2=size=160x120:rate=10 "
                                               "-t 3 -c:v mpeg4"));
        TWindowHarness::AddFiles(*window_, {broken});
        const int row = window_->lvFIles->RowCount() - 1;
        OpenOn(0);
        Click(trim_->trcPosition, 146);
        trim_->btnCancel->click();
        std::ofstream(broken, std::ios::trunc) << "not a media file\n";
        OpenOn(row);
        QVERIFY(!trim_->SourceOpened());
        QCOMPARE(trim_->Start(), 10);
        trim_->btnOk->click();
        ExpectStored(row, 0, 0, "3");
    }

    // Through the main window: Trim on the row, markers at 10 s and 30 s,
    // OK, Start. The file covers 20 s and begins with the source's picture
    // at 10 s.
    void trimmedRowConvertsThatRange() {
        window_->lvFIles->SelectRow(1);
        window_->lvFIles->SetChecked(0, false);
        QCOMPARE(window_->lvFIles->RowCount(), 2);
        bool tenToThirty = false;
        const bool acted = TrimModally([&] {
            Click(trim_->trcPosition, 3);
            Click(trim_->trcPosition, 419);
            Click(trim_->trcPosition, 146);
            tenToThirty = trim_->Start() == 10 && trim_->End() == 30;
            trim_->btnOk->click();
        });
        QVERIFY(acted);
        QVERIFY(tenToThirty);
        ExpectStored(1, 10000000, 20000000, "20");
        h_->Messages.clear();
        TWindowHarness::PressStart(*window_);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        // The one checked row gives the one file of the output folder.
        std::vector<std::string> outputs;
        for (const auto& entry : std::filesystem::directory_iterator(h_->OutputFolder()))
            outputs.push_back(entry.path().string());
        QCOMPARE(outputs.size(), std::size_t(1));
        const std::string destination = outputs.front();
        const double length = Seconds(testsupport::ProbeValue(destination, "format=duration"));
        QVERIFY2(std::abs(length - 20.0) < 0.6, std::to_string(length).c_str());
        // The first picture is the source's picture at 10 s: its grey lies
        // within one frame's step of that picture's.
        const double first = MeanGrey(destination, "", h_->Home("first.raw"));
        const double atStart = MeanGrey(Record(1).SourceFile, "-ss 10 ", h_->Home("at10.raw"));
        QVERIFY(first >= 0 && atStart >= 0);
        QVERIFY2(std::abs(first - atStart) < 1.5,
                 (std::to_string(first) + " / " + std::to_string(atStart)).c_str());
    }

    // A start typed to the millisecond, 1.480 s into a clip of 25 pictures
    // a second whose every picture has a grey level of its own: the file
    // begins with the source's picture at 1.48 s and lasts to the typed
    // end.
    void typedTrimStartsOnThatFrame() {
        const std::string clip = h_->Media("frames25.mkv");
        QVERIFY(testsupport::MakeMedia(
            clip, "-f lavfi -i " +
                      testsupport::ShellQuote(
                          "nullsrc=s=160x120:r=25,geq=lum='mod(N*4,256)':cb=128:cr=128") +
                      " -f lavfi -i sine=f=440 -t 4 -c:v mpeg4 -q:v 2 -c:a mp2 -shortest"));
        TWindowHarness::AddFiles(*window_, {clip});
        const int row = window_->lvFIles->RowCount() - 1;
        for (int other = 0; other < row; ++other)
            window_->lvFIles->SetChecked(other, false);
        window_->lvFIles->SelectRow(row);
        const bool acted = TrimModally([this] {
            TypeTime(trim_->edtStart, "0:00:01.480");
            TypeTime(trim_->edtTrimLength, "0:00:03.000");
            trim_->btnOk->click();
        });
        QVERIFY(acted);
        ExpectStored(row, 1480000, 1520000, "1.52");
        h_->Messages.clear();
        TWindowHarness::PressStart(*window_);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        const std::string destination = OutputOf("frames25");
        QVERIFY(!destination.empty());
        // 1.48 s to 3 s hold 38 pictures.
        const auto pictures = testsupport::ProbeValues(destination, "packet=pts_time", "v:0");
        QVERIFY2(pictures.size() >= 37 && pictures.size() <= 39,
                 std::to_string(pictures.size()).c_str());
        // Neighbouring pictures differ by 4 levels (4.7 in full range).
        const double first = MeanGrey(destination, "", h_->Home("first25.raw"));
        const double atStart = MeanGrey(clip, "-ss 1.48 ", h_->Home("at148.raw"));
        QVERIFY(first >= 0 && atStart >= 0);
        // Picture 37 has the level 148, 153.7 once widened to full range.
        QVERIFY2(std::abs(atStart - (148 - 16) * 255 / 219.0) < 1.5,
                 std::to_string(atStart).c_str());
        QVERIFY2(std::abs(first - atStart) < 1.5,
                 (std::to_string(first) + " / " + std::to_string(atStart)).c_str());
    }
};

QTEST_MAIN(TestTrimWindow)
#include "tst_trim_window.moc"
