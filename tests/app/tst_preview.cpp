// The main window's preview panel driven through its controls: playing,
// pausing, seeking by dragging, stepping rows, muting, the end of a file,
// stopping before the list changes, and snapshot files checked against
// ffmpeg's decoding of the same frame.
#include "app/MainAdd.h"
#include "WindowHarness.h"

#include "app/PlayerSurface.h"
#include "app/WinProgress.h"
#include "core/FormatSeconds.h"
#include "controls/Tracker2.h"
#include "engine/FFmpegVCL.h"
#include "player/FFPlay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using testsupport::RunFfmpeg;
using testsupport::ShellQuote;

namespace {

// Mean absolute difference of the colour channels of two same-sized images.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size() || x.isNull()) return 1e9;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(p[i]) - int(q[i]));
    }
    return sum / (double(x.width()) * x.height() * 3);
}

// Frame `index` of a file as ffmpeg decodes it, optionally scaled.
QImage FfmpegFrame(const std::string& file, int index, const std::string& folder, int width,
                   int height, bool scale) {
    const std::string raw = folder + "/frame.rgb";
    std::string filter = "select=eq(n\\," + std::to_string(index) + ")";
    if (scale) filter += ",scale=" + std::to_string(width) + ":" + std::to_string(height);
    if (!RunFfmpeg("-i " + ShellQuote(file) + " -vf " + ShellQuote(filter) +
                   " -frames:v 1 -f rawvideo -pix_fmt rgb24 " + ShellQuote(raw)))
        return {};
    std::ifstream in(raw, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != std::size_t(width) * height * 3) return {};
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), bytes.data() + std::size_t(y) * width * 3,
                    std::size_t(width) * 3);
    return image;
}

// Bits per pixel of a BMP file's info header; 0 when it is not a BMP.
int BmpBitsPerPixel(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[30] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return 0;
    if (header[0] != 'B' || header[1] != 'M') return 0;
    return header[28] | (header[29] << 8);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

class PreviewTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> harness;
    std::unique_ptr<TfrmMain> window;

    void WriteSnapKeys(int full, int small, int bmp, int jpg) {
        TIniFile settings = harness->Settings();
        settings.WriteString("settings", "snapFullSize", std::to_string(full));
        settings.WriteString("settings", "snapSmallSize", std::to_string(small));
        settings.WriteString("settings", "snapBmp", std::to_string(bmp));
        settings.WriteString("settings", "snapJpg", std::to_string(jpg));
    }
    std::string SnapFolder() const { return harness->Home("snaps"); }
    std::string Snap(const std::string& name) const { return SnapFolder() + "/" + name; }
    // Plays `row` with the Play button and waits for the first pictures.
    bool PlayAndWait() {
        QTest::mouseClick(window->imgbtnPlay, Qt::LeftButton);
        return TWindowHarness::WaitFor([this] {
            return window->pan1->PicturesReceived() >= 2 && window->FFPlayer->CurrentPosition() > 0;
        });
    }

    // A clip long enough to play through a test: 20 s at 96 x 64.
    std::string MakeLongClip(const std::string& name) {
        const std::string clip = harness->Media(name);
        return testsupport::MakeMedia(clip, "-f lavfi -i testsrc2=size=96x64:rate=10 -f lavfi "
                                            "-i sine=f=440 -t 20 -c:v mpeg4 -c:a mp2 -shortest")
                   ? clip
                   : std::string();
    }
    // Whether the player goes on: its position passes the present one.
    bool KeepsPlaying() {
        const int64_t now = window->FFPlayer->CurrentPosition();
        return window->FFPlayer->FileOpen() && TWindowHarness::WaitFor([&] {
                   return window->FFPlayer->CurrentPosition() > now + 200000;
               });
    }
    // Opens a menu of the menu row with Space on its button, as the
    // keyboard alone does, and runs `act` on it once it is open; the menu
    // must have closed when `act` returns (it is closed otherwise, so that
    // its loop ends, and the test fails).
    void WithMenuFromKeyboard(QAbstractButton* button, QMenu* menu,
                              const std::function<void(QMenu&)>& act) {
        bool acted = false, leftOpen = false;
        QTimer poll;
        poll.setInterval(10);
        QElapsedTimer clock;
        clock.start();
        connect(&poll, &QTimer::timeout, this, [&] {
            if (QApplication::activePopupWidget() != menu) {
                if (clock.elapsed() > 10000) poll.stop();
                return;
            }
            poll.stop();
            acted = true;
            act(*menu);
            leftOpen = menu->isVisible();
            if (leftOpen) menu->close();
        });
        poll.start();
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Space);
        QVERIFY2(TWindowHarness::WaitFor([&] { return acted && !menu->isVisible(); }),
                 "the menu did not open");
        QVERIFY2(!leftOpen, "the menu's key chose nothing");
    }

private slots:
    void init() {
        harness = std::make_unique<TWindowHarness>();
        fs::create_directories(SnapFolder());
        harness->Settings().WriteString("settings", "SnapOutPutDir", SnapFolder());
        window = harness->NewWindow();
    }
    void cleanup() {
        if (window) TWindowHarness::Dispose(window);
        harness.reset();
    }

    void TimesAreHoursMinutesSeconds() {
        QCOMPARE(FormatSeconds(65), std::string("0:01:05"));
        QCOMPARE(FormatSeconds(3661), std::string("1:01:01"));
        QCOMPARE(FormatSeconds(36000), std::string("10:00:00"));
        QCOMPARE(FormatSeconds(-4), std::string("0:00:00"));
    }

    void FreshSettingsGiveAnAudibleVolumeAndEveryControlIsNamed() {
        QCOMPARE(window->trcVolume->PositionL(), 64);
        for (QWidget* w : std::initializer_list<QWidget*>{
                 window->imgbtnPre, window->imgbtnPlay, window->imgbtnPause, window->imgbtnStop,
                 window->imgbtnNext, window->imgbtnSnap, window->imgbtnMute, window->trcPreview,
                 window->trcVolume, window->pan1}) {
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            QCOMPARE(w->toolTip(), w->accessibleName());
        }
        QCOMPARE(window->imgbtnPlay->accessibleName(), QString("Play"));
        QVERIFY(window->imgbtnPlay->isEnabled());
        QVERIFY(!window->imgbtnPause->isEnabled());
        QVERIFY(!window->trcPreview->isEnabled());
    }

    void PlayPauseResumeAndTheButtons() {
        const std::string clip = harness->Media("long.avi");
        QVERIFY(testsupport::MakeMedia(clip, "-f lavfi -i testsrc2=size=96x64:rate=10 -f lavfi "
                                             "-i sine=f=440 -t 65 -c:v mpeg4 -c:a mp2 -shortest"));
        TWindowHarness::AddFiles(*window, {clip});
        QVERIFY(PlayAndWait());
        QCOMPARE(window->lblPTS->text(), QString("0:01:05"));
        QVERIFY(!window->imgbtnPlay->isEnabled());
        QVERIFY(window->imgbtnPause->isEnabled() && window->imgbtnStop->isEnabled());
        QVERIFY(window->imgbtnSnap->isEnabled() && window->trcPreview->isEnabled());
        QVERIFY(!window->imgbtnPre->isEnabled() && !window->imgbtnNext->isEnabled());
        QCOMPARE(window->FFPlayer->AudioVolume.load(), 64);
        QTest::mouseClick(window->imgbtnPause, Qt::LeftButton);
        window->imgbtnPauseClick(); // a second pause changes nothing
        QVERIFY(window->Paused && window->FFPlayer->IsPaused());
        QVERIFY(window->imgbtnPlay->isEnabled() && !window->imgbtnPause->isEnabled());
        QVERIFY(window->imgbtnStop->isEnabled() && window->imgbtnSnap->isEnabled());
        TWindowHarness::RunEvents(200);
        const int64_t paused = window->FFPlayer->CurrentPosition();
        TWindowHarness::RunEvents(400);
        QCOMPARE(window->FFPlayer->CurrentPosition(), paused);
        QTest::mouseClick(window->imgbtnPlay, Qt::LeftButton);
        QVERIFY(!window->Paused && !window->FFPlayer->IsPaused());
        QVERIFY(
            TWindowHarness::WaitFor([&] { return window->FFPlayer->CurrentPosition() > paused; }));
        // Resumed where it stood, not opened again from the start.
        QVERIFY(window->FFPlayer->CurrentPosition() < paused + 2000000);
        // Space pauses and plays while the list does not have the focus.
        window->setFocus();
        QTest::keyClick(window.get(), Qt::Key_Space);
        QVERIFY(window->Paused);
        QTest::keyClick(window.get(), Qt::Key_Space);
        QVERIFY(!window->Paused);
        QTest::mouseClick(window->imgbtnStop, Qt::LeftButton);
        QVERIFY(!window->FFPlayer->FileOpen());
        QCOMPARE(window->lblTime->text(), QString("00:00:00"));
        QCOMPARE(window->trcPreview->PositionL(), 0);
        QVERIFY(!window->trcPreview->isEnabled() && window->imgbtnPlay->isEnabled());
    }

    void DraggingSeeksOnceOnRelease() {
        const std::string clip = harness->Media("long.avi");
        QVERIFY(testsupport::MakeMedia(clip, "-f lavfi -i testsrc2=size=96x64:rate=10 -f lavfi "
                                             "-i sine=f=440 -t 20 -c:v mpeg4 -c:a mp2 -shortest"));
        TWindowHarness::AddFiles(*window, {clip});
        QVERIFY(PlayAndWait());
        TTrackBar2* bar = window->trcPreview;
        QCOMPARE(bar->Max(), bar->width());
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(40, 10));
        QVERIFY(window->SeekDragging);
        QTest::mouseMove(bar, QPoint(187, 10));
        // x / (380 - 6) of the maximum.
        QCOMPARE(bar->PositionL(), 190);
        const int before = window->SeekCount;
        // Position reports keep arriving but leave the thumb where it was dragged.
        const int64_t shown = window->FFPlayer->CurrentPosition();
        QVERIFY(TWindowHarness::WaitFor(
            [&] { return window->FFPlayer->CurrentPosition() > shown + 300000; }));
        TWindowHarness::RunEvents(100);
        QCOMPARE(bar->PositionL(), 190);
        QCOMPARE(window->SeekCount, before);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(187, 10));
        QCOMPARE(window->SeekCount, before + 1);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(187, 10));
        QCOMPARE(window->SeekCount, before + 1);
        // The player went to half of the file, and the bar follows it again.
        QVERIFY(TWindowHarness::WaitFor([&] {
            const int64_t p = window->FFPlayer->CurrentPosition();
            return p > 9000000 && p < 12000000;
        }));
        QVERIFY(TWindowHarness::WaitFor(
            [&] { return !window->SeekDragging && bar->PositionL() >= 180; }));
        QVERIFY(bar->PositionL() < 240);
        // The arrow keys seek 5 s.
        const int64_t p = window->FFPlayer->CurrentPosition();
        window->setFocus();
        QTest::keyClick(window.get(), Qt::Key_Right);
        QVERIFY(TWindowHarness::WaitFor(
            [&] { return window->FFPlayer->CurrentPosition() > p + 4000000; }));
    }

    void StepsRowsAndStopsBeforeTheListChanges() {
        const std::string a = harness->MakeClip("a.avi");
        const std::string b = harness->MakeClip("b.avi");
        const std::string c = harness->MakeClip("c.avi");
        QVERIFY(!a.empty() && !b.empty() && !c.empty());
        TWindowHarness::AddFiles(*window, {a, b, c});
        QCOMPARE(window->lvFIles->RowCount(), 3);
        window->lvFIles->SelectRow(0);
        QVERIFY(PlayAndWait());
        QVERIFY(!window->imgbtnPre->isEnabled() && window->imgbtnNext->isEnabled());
        QTest::mouseClick(window->imgbtnNext, Qt::LeftButton);
        QCOMPARE(window->lvFIles->SelectedRow(), 1);
        QVERIFY(window->imgbtnPre->isEnabled() && window->imgbtnNext->isEnabled());
        QTest::mouseClick(window->imgbtnNext, Qt::LeftButton);
        QCOMPARE(window->lvFIles->SelectedRow(), 2);
        QVERIFY(window->imgbtnPre->isEnabled() && !window->imgbtnNext->isEnabled());
        QVERIFY(window->FFPlayer->FileOpen());
        QVERIFY(window->mmoLog->toPlainText().contains("frame size: 160x120"));
        QTest::mouseClick(window->imgbtnPre, Qt::LeftButton);
        QCOMPARE(window->lvFIles->SelectedRow(), 1);
        QVERIFY(window->FFPlayer->FileOpen());
        // Removing a row stops the player first.
        QTest::mouseClick(window->btnRemove, Qt::LeftButton);
        QVERIFY(!window->FFPlayer->FileOpen());
        QVERIFY(window->imgbtnPlay->isEnabled() && !window->imgbtnStop->isEnabled());
        QCOMPARE(window->lvFIles->RowCount(), 2);
        // Start stops it too.
        QVERIFY(PlayAndWait());
        window->lvFIles->SetChecked(0, false);
        TWindowHarness::PressStart(*window);
        QVERIFY(!window->FFPlayer->FileOpen());
        // And so does Clear.
        QVERIFY(PlayAndWait());
        QTest::mouseClick(window->btnClear, Qt::LeftButton);
        QVERIFY(!window->FFPlayer->FileOpen());
        QCOMPARE(window->lblPTS->text(), QString("00:00:00"));
    }

    // Removing a row that is not the one playing leaves the preview alone;
    // removing the playing one (also among several) stops it first.
    void RemovingAnotherRowKeepsPlaying() {
        const std::string a = MakeLongClip("a.avi"), b = MakeLongClip("b.avi");
        const std::string c = MakeLongClip("c.avi"), d = MakeLongClip("d.avi");
        QVERIFY(!a.empty() && !b.empty() && !c.empty() && !d.empty());
        TWindowHarness::AddFiles(*window, {a, b, c, d});
        QCOMPARE(window->lvFIles->RowCount(), 4);
        window->lvFIles->SelectRow(1);
        QVERIFY(PlayAndWait());
        window->lvFIles->SelectRow(3);
        QTest::mouseClick(window->btnRemove, Qt::LeftButton);
        QCOMPARE(window->lvFIles->RowCount(), 3);
        QVERIFY(window->imgbtnStop->isEnabled() && window->imgbtnPause->isEnabled());
        QVERIFY(KeepsPlaying());
        // The Edit menu's Remove on another row (by the Delete key) too.
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->lvFIles->SelectRow(0);
        QTest::keyClick(window->lvFIles, Qt::Key_Delete);
        QCOMPARE(window->lvFIles->RowCount(), 2);
        QCOMPARE(window->lvFIles->Row(0)->Record.SourceFile, b);
        QVERIFY(KeepsPlaying());
        // Several rows at once, the playing one among them.
        window->lvFIles->selectAll();
        QTest::keyClick(window->lvFIles, Qt::Key_Delete);
        QCOMPARE(window->lvFIles->RowCount(), 0);
        QVERIFY(!window->FFPlayer->FileOpen());
        QVERIFY(window->imgbtnPlay->isEnabled() && !window->imgbtnStop->isEnabled());
        // The playing row alone.
        TWindowHarness::AddFiles(*window, {a, b});
        window->lvFIles->SelectRow(1);
        QVERIFY(PlayAndWait());
        QTest::mouseClick(window->btnRemove, Qt::LeftButton);
        QVERIFY(!window->FFPlayer->FileOpen());
        QCOMPARE(window->lblPTS->text(), QString("00:00:00"));
    }

    // Delete on several rows that leave the playing one: it plays on, and
    // the rows after the removed ones move up.
    void RemovingSeveralOtherRowsKeepsPlaying() {
        const std::string a = MakeLongClip("a.avi"), b = MakeLongClip("b.avi");
        const std::string c = MakeLongClip("c.avi");
        QVERIFY(!a.empty() && !b.empty() && !c.empty());
        TWindowHarness::AddFiles(*window, {a, b, c});
        window->lvFIles->SelectRow(1);
        QVERIFY(PlayAndWait());
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->lvFIles->clearSelection();
        window->lvFIles->Row(0)->setSelected(true);
        window->lvFIles->Row(2)->setSelected(true);
        QTest::keyClick(window->lvFIles, Qt::Key_Delete);
        QCOMPARE(window->lvFIles->RowCount(), 1);
        QCOMPARE(window->lvFIles->Row(0)->Record.SourceFile, b);
        QVERIFY(window->imgbtnStop->isEnabled() && window->imgbtnPause->isEnabled());
        QVERIFY(KeepsPlaying());
    }

    // A double click on the paused row resumes it where it stood; on
    // another row it plays that one from its start.
    void DoubleClickResumesThePausedRow() {
        const std::string a = MakeLongClip("a.avi"), b = MakeLongClip("b.avi");
        QVERIFY(!a.empty() && !b.empty());
        TWindowHarness::AddFiles(*window, {a, b});
        window->lvFIles->SelectRow(0);
        QVERIFY(PlayAndWait());
        QVERIFY(
            TWindowHarness::WaitFor([&] { return window->FFPlayer->CurrentPosition() > 3000000; }));
        QTest::mouseClick(window->imgbtnPause, Qt::LeftButton);
        const int64_t paused = window->FFPlayer->CurrentPosition();
        // Every opening of a file writes its frame size to the log.
        const auto openings = [&] {
            return window->mmoLog->toPlainText().count("frame size: 96x64");
        };
        const int opened = openings();
        const auto doubleClick = [&](int row) {
            const QRect at = window->lvFIles->visualItemRect(window->lvFIles->Row(row));
            QTest::mouseClick(window->lvFIles->viewport(), Qt::LeftButton, {}, at.center());
            QTest::mouseDClick(window->lvFIles->viewport(), Qt::LeftButton, {}, at.center());
        };
        doubleClick(0);
        QVERIFY(!window->Paused && !window->FFPlayer->IsPaused());
        QCOMPARE(openings(), opened);
        QVERIFY(window->FFPlayer->CurrentPosition() >= paused);
        QVERIFY(
            TWindowHarness::WaitFor([&] { return window->FFPlayer->CurrentPosition() > paused; }));
        QTest::mouseClick(window->imgbtnPause, Qt::LeftButton);
        doubleClick(1);
        QVERIFY(!window->Paused);
        QCOMPARE(openings(), opened + 1);
        QVERIFY(window->FFPlayer->CurrentPosition() < 2000000);
    }

    // Space and the arrow keys go to the preview only when the control with
    // the focus has no use for them: a button presses on Space, a text box
    // moves its cursor, the list selects; the window itself plays and pauses.
    void KeysGoToTheFocusedControlFirst() {
        const std::string a = MakeLongClip("a.avi");
        QVERIFY(!a.empty());
        TWindowHarness::AddFiles(*window, {a});
        QVERIFY(PlayAndWait());
        const bool muted = window->Muted;
        QTest::keyClick(window->imgbtnMute, Qt::Key_Space);
        QCOMPARE(window->Muted, !muted);
        QVERIFY(!window->Paused);
        window->edDirectory->setCursorPosition(0);
        QTest::keyClick(window->edDirectory, Qt::Key_Right);
        QTest::keyClick(window->edDirectory, Qt::Key_Right);
        QCOMPARE(window->edDirectory->cursorPosition(), 2);
        QTest::keyClick(window->edDirectory, Qt::Key_Left);
        QCOMPARE(window->edDirectory->cursorPosition(), 1);
        QVERIFY(!window->Paused);
        QTest::keyClick(window->pan1, Qt::Key_Space);
        QVERIFY(window->Paused);
        QTest::keyClick(window.get(), Qt::Key_Space);
        QVERIFY(!window->Paused);
    }

    // The menus of the menu row with the keyboard alone: opened with Space
    // on their buttons; Space inside a menu is the menu's, not the
    // player's, and an item's underlined letter chooses it.
    void MenusTakeTheirOwnKeys() {
        const std::string a = MakeLongClip("a.avi"), b = MakeLongClip("b.avi");
        QVERIFY(!a.empty() && !b.empty());
        TWindowHarness::AddFiles(*window, {a, b});
        window->lvFIles->SelectRow(0);
        QVERIFY(PlayAndWait());
        harness->Opened.clear();
        WithMenuFromKeyboard(window->menubtnHelp, window->suiPopupMenuHelp, [&](QMenu& menu) {
            QTest::keyClick(&menu, Qt::Key_Space);
            QVERIFY(!window->Paused);
            if (menu.isVisible()) QTest::keyClick(&menu, Qt::Key_S); // "&Support and Contact"
        });
        QVERIFY(!window->Paused && !window->FFPlayer->IsPaused());
        QCOMPARE(harness->Opened.size(), std::size_t(1));
        QVERIFY(harness->Opened[0] != window->Global().HelpPage());
        window->lvFIles->SelectRow(1);
        WithMenuFromKeyboard(window->menubtnEdit, window->suiPopupMenuEdit,
                             [](QMenu& menu) { QTest::keyClick(&menu, Qt::Key_R); }); // "&Remove"
        QCOMPARE(window->lvFIles->RowCount(), 1);
        QCOMPARE(window->lvFIles->Row(0)->Record.SourceFile, a);
        QVERIFY(KeepsPlaying());
    }

    void EmptyListAddsThenPlaysAndTheEndRewinds() {
        const std::string clip = harness->MakeClip("clip.avi");
        QVERIFY(!clip.empty());
        window->Add().SetFilesChooser([clip] { return std::vector<std::string>{clip}; });
        QTest::mouseClick(window->imgbtnPlay, Qt::LeftButton);
        QCOMPARE(window->lvFIles->RowCount(), 1);
        QVERIFY(window->FFPlayer->FileOpen());
        QVERIFY(!window->PlayAfterAdd);
        QCOMPARE(window->lblPTS->text(), QString("0:00:02"));
        // The end of the 2 s file: back to the stopped buttons, rewound.
        QVERIFY(TWindowHarness::WaitFor([&] { return window->imgbtnPlay->isEnabled(); }));
        QVERIFY(!window->imgbtnPause->isEnabled() && !window->imgbtnStop->isEnabled());
        QVERIFY(!window->imgbtnSnap->isEnabled() && !window->trcPreview->isEnabled());
        QCOMPARE(window->lblTime->text(), QString("00:00:00"));
        QCOMPARE(window->trcPreview->PositionL(), 0);
        QVERIFY(!window->Paused);
        // Play opens it again from the start.
        QVERIFY(PlayAndWait());
        QVERIFY(window->FFPlayer->CurrentPosition() < 1500000);
    }

    void VanishedSourceIsLoggedAndNothingPlays() {
        const std::string clip = harness->MakeClip("gone.avi");
        TWindowHarness::AddFiles(*window, {clip});
        fs::remove(clip);
        const QString before = window->mmoLog->toPlainText();
        QTest::mouseClick(window->imgbtnPlay, Qt::LeftButton);
        QVERIFY(!window->FFPlayer->FileOpen());
        QVERIFY(window->mmoLog->toPlainText().size() > before.size());
        QVERIFY(window->mmoLog->toPlainText().contains("No such file"));
        QVERIFY(window->imgbtnPlay->isEnabled() && !window->imgbtnStop->isEnabled());
        QVERIFY(!window->imgbtnSnap->isEnabled());
    }

    void MuteAndVolumeAreRemembered() {
        QVERIFY(!window->Muted);
        QTest::mouseClick(window->imgbtnMute, Qt::LeftButton);
        QVERIFY(window->Muted && window->FFPlayer->Mute.load());
        QCOMPARE(harness->Settings().ReadInteger("settings", "mute", -1), 1);
        QTest::mouseClick(window->imgbtnMute, Qt::RightButton); // any button
        QVERIFY(!window->Muted && !window->FFPlayer->Mute.load());
        QCOMPARE(harness->Settings().ReadInteger("settings", "mute", -1), 0);
        QTest::mousePress(window->trcVolume, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(window->trcVolume, QPoint(42, 10));
        QTest::mouseRelease(window->trcVolume, Qt::LeftButton, {}, QPoint(42, 10));
        QCOMPARE(window->trcVolume->PositionL(), 85); // 42 / 63 * 128
        QCOMPARE(window->FFPlayer->AudioVolume.load(), 85);
        QCOMPARE(harness->Settings().ReadInteger("settings", "volume", -1), 85);
        // A new window shows what was stored.
        TWindowHarness::Dispose(window);
        window = harness->NewWindow();
        QCOMPARE(window->trcVolume->PositionL(), 85);
    }

    void SnapshotsMatchTheDecodedFrame() {
        const std::string clip = harness->MakeClip("clip.avi");
        TWindowHarness::AddFiles(*window, {clip});
        QVERIFY(PlayAndWait());
        QTest::mouseClick(window->imgbtnPause, Qt::LeftButton);
        TWindowHarness::RunEvents(200);
        int64_t pts = -1;
        window->FFPlayer->CurrentFrame(pts);
        QVERIFY(pts >= 0);
        harness->Opened.clear();
        QTest::mouseClick(window->imgbtnSnap, Qt::LeftButton);
        for (const char* name :
             {"Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg", "Snapshot_small.jpg"})
            QVERIFY2(fs::exists(Snap(name)), name);
        QCOMPARE(harness->Opened.size(), std::size_t(1));
        QCOMPARE(fs::path(harness->Opened[0]).lexically_normal(),
                 fs::path(SnapFolder() + "/").lexically_normal());
        QCOMPARE(BmpBitsPerPixel(Snap("Snapshot_full.bmp")), 24);
        QCOMPARE(BmpBitsPerPixel(Snap("Snapshot_small.bmp")), 24);
        using Sizes = std::vector<std::string>;
        QCOMPARE(testsupport::ProbeValues(Snap("Snapshot_full.bmp"), "stream=width,height", "v:0"),
                 (Sizes{"160", "120"}));
        QCOMPARE(testsupport::ProbeValues(Snap("Snapshot_small.jpg"), "stream=width,height", "v:0"),
                 (Sizes{"370", "240"}));
        const int index = static_cast<int>(std::llround(pts / 1e6 * 25));
        const QImage expected = FfmpegFrame(clip, index, harness->Home(""), 160, 120, false);
        QVERIFY(!expected.isNull());
        QVERIFY(MeanDifference(QImage(QString::fromStdString(Snap("Snapshot_full.bmp"))),
                               expected) < 4);
        QVERIFY(MeanDifference(QImage(QString::fromStdString(Snap("Snapshot_full.jpg"))),
                               expected) < 16);
        // A neighbouring frame differs clearly, so the comparison can fail.
        const QImage other = FfmpegFrame(clip, index + 12, harness->Home(""), 160, 120, false);
        QVERIFY(MeanDifference(QImage(QString::fromStdString(Snap("Snapshot_full.bmp"))), other) >
                8);
        const QImage scaled = FfmpegFrame(clip, index, harness->Home(""), 370, 240, true);
        QVERIFY(MeanDifference(QImage(QString::fromStdString(Snap("Snapshot_small.bmp"))), scaled) <
                10);
        // The JPEG quality follows "jpgCmp".
        const auto small30 = fs::file_size(Snap("Snapshot_full.jpg"));
        harness->Settings().WriteString("settings", "jpgCmp", "95");
        QTest::mouseClick(window->imgbtnSnap, Qt::LeftButton);
        QVERIFY(fs::file_size(Snap("Snapshot_full.jpg")) > small30);
    }

    void SnapshotKeysChooseTheFiles() {
        const std::string clip = harness->MakeClip("clip.avi");
        TWindowHarness::AddFiles(*window, {clip});
        QVERIFY(PlayAndWait());
        QTest::mouseClick(window->imgbtnPause, Qt::LeftButton);
        WriteSnapKeys(1, 0, 0, 1);
        std::ofstream(Snap("Snapshot_full.jpg")) << "old";
        QTest::mouseClick(window->imgbtnSnap, Qt::LeftButton);
        QVERIFY(ReadAll(Snap("Snapshot_full.jpg")) != "old");
        QCOMPARE(testsupport::ProbeValue(Snap("Snapshot_full.jpg"), "stream=width", "v:0"),
                 std::string("160"));
        for (const char* name : {"Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_small.jpg"})
            QVERIFY2(!fs::exists(Snap(name)), name);
        fs::remove(Snap("Snapshot_full.jpg"));
        WriteSnapKeys(0, 0, 0, 0);
        harness->Opened.clear();
        QTest::mouseClick(window->imgbtnSnap, Qt::LeftButton);
        QVERIFY(fs::is_empty(SnapFolder()));
        QCOMPARE(harness->Opened.size(), std::size_t(1)); // the folder still opens
        // Stopped: no frame, nothing written.
        WriteSnapKeys(1, 1, 1, 1);
        QTest::mouseClick(window->imgbtnStop, Qt::LeftButton);
        window->imgbtnSnapClick();
        QVERIFY(fs::is_empty(SnapFolder()));
    }

    void ProgressWindowSnapshotNeverOpensTheFolder() {
        TfrmProgress progress(window.get(), window->CCAVC.get(), &window->PreviewBitmap,
                              window->btnPause, window->btnResume);
        harness->Opened.clear();
        progress.imgbtnSnapClick(); // no preview frame yet
        QVERIFY(fs::is_empty(SnapFolder()));
        QImage frame(64, 48, QImage::Format_RGB888);
        frame.fill(QColor(200, 40, 10));
        window->PreviewBitmap = frame;
        progress.imgbtnSnapClick();
        QVERIFY(harness->Opened.empty());
        const QImage full(QString::fromStdString(Snap("Snapshot_full.bmp")));
        QCOMPARE(full.size(), QSize(64, 48));
        QCOMPARE(full.pixelColor(10, 10), QColor(200, 40, 10));
        QCOMPARE(QImage(QString::fromStdString(Snap("Snapshot_small.bmp"))).size(),
                 progress.imgPreview->size());
        QVERIFY(fs::exists(Snap("Snapshot_small.jpg")));
    }
};

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
