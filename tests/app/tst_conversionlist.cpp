// The conversion list on real files: adding, removing and clearing rows,
// destination names.
#include "WindowHarness.h"
#include "engine/FFmpegVCL.h"

#include <QApplication>
#include <QHeaderView>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

class TestConversionList : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> harness_;
    std::string clip_, tone_, longTone_;

    std::string Home(const std::string& name) const { return harness_->Home(name); }
    TIniFile Settings() const { return harness_->Settings(); }
    std::unique_ptr<TfrmMain> NewWindow() const { return harness_->NewWindow(); }
    static void Dispose(std::unique_ptr<TfrmMain>& window) { TWindowHarness::Dispose(window); }
    static void AddFiles(TfrmMain& window, const std::vector<std::string>& files) {
        TWindowHarness::AddFiles(window, files);
    }

private slots:
    void initTestCase() {
        harness_ = std::make_unique<TWindowHarness>();
        clip_ = harness_->MakeClip("clip.avi");
        tone_ = harness_->MakeTone("tone.wav");
        QVERIFY(!clip_.empty() && !tone_.empty());
        longTone_ = harness_->Media("long.wav");
        QVERIFY(testsupport::MakeMedia(longTone_,
                                       "-f lavfi -i sine=f=220 -t 59.9 -ar 8000 -c:a pcm_s16le"));
    }

    void cleanupTestCase() { harness_.reset(); }

    void addingFilesMakesRowsOnce() {
        auto window = NewWindow();
        TFilesList* list = window->lvFIles;
        QVERIFY(list->isHeaderHidden());
        const std::string upper = Home("media/CLIP.avi");
        fs::copy_file(clip_, upper, fs::copy_options::overwrite_existing);
        const std::string junk = Home("media/junk.avi");
        {
            std::FILE* f = std::fopen(junk.c_str(), "wb");
            std::fputs("not media at all", f);
            std::fclose(f);
        }
        harness_->Messages.clear();
        AddFiles(*window, {clip_, clip_, Home("media"), upper, junk, longTone_});
        QCOMPARE(list->RowCount(), 3);
        // One message names the file that could not be added, and why.
        QCOMPARE(int(harness_->Messages.size()), 1);
        QCOMPARE(harness_->Messages[0].Caption, std::string("Warning"));
        QCOMPARE(harness_->Messages[0].Text, "This file could not be added:\n" + junk +
                                                 ": Invalid data found when processing input");
        QVERIFY(!list->isHeaderHidden());
        QCOMPARE(list->columnCount(), 5);
        QCOMPARE(list->headerItem()->text(3), QString("Destination File"));
        QCOMPARE(list->Row(0)->text(colDestination), QString("clip_(new).mp4"));
        QCOMPARE(list->Row(1)->text(colDestination), QString("CLIP_(new).mp4"));
        QCOMPARE(list->Row(0)->text(colLength), QString("0:00:02"));
        QCOMPARE(list->Row(2)->text(colLength), QString("0:00:59"));
        QCOMPARE(list->Row(2)->text(colTrimmed), QString("59"));
        QVERIFY(list->IsChecked(0) && list->IsChecked(2));
        QCOMPARE(list->SelectedRow(), 0);
        QCOMPARE(list->Row(0)->Record.ZoomMode,
                 Settings().ReadString("formatInfo1", "parazoom", "lbox"));
        // Adding the same file again changes nothing.
        AddFiles(*window, {clip_});
        QCOMPARE(list->RowCount(), 3);
        QCOMPARE(int(harness_->Messages.size()), 1);
        QCOMPARE(window->CCAVC->TaskCount(), 0);
        Dispose(window);
    }

    // The Source cell: the name first and whole, then the folder cut in its
    // middle; a name too long for the cell is cut at its end, without folder.
    void sourceCellShowsTheNameFirst() {
        const QFontMetrics metrics(QApplication::font());
        const QString path = "/home/ann/Videos/2024/holiday/beach/clip 0001.mp4";
        const int nameWidth = metrics.horizontalAdvance("clip 0001.mp4");
        auto wide = TFilesRowDelegate::SourceText(path, metrics, 2000);
        QCOMPARE(wide.Name, QString("clip 0001.mp4"));
        QCOMPARE(wide.Folder, QString("/home/ann/Videos/2024/holiday/beach"));
        auto narrow = TFilesRowDelegate::SourceText(path, metrics, nameWidth + 120);
        QCOMPARE(narrow.Name, QString("clip 0001.mp4"));
        QVERIFY(narrow.Folder.contains(QChar(0x2026)));
        QVERIFY(narrow.Folder.startsWith("/h") && narrow.Folder.endsWith("ch"));
        auto tight = TFilesRowDelegate::SourceText(path, metrics, nameWidth / 2);
        QVERIFY(tight.Name.startsWith("clip") && tight.Name.endsWith(QChar(0x2026)));
        QVERIFY(tight.Folder.isEmpty());
    }

    void destinationNamesSkipExistingFiles() {
        {
            std::FILE* f = std::fopen(Home("out/tone_(new).mp4").c_str(), "wb");
            std::fclose(f);
        }
        {
            std::FILE* f = std::fopen(Home("out/tone_(new_1).mp4").c_str(), "wb");
            std::fclose(f);
        }
        auto window = NewWindow();
        AddFiles(*window, {tone_});
        QCOMPARE(window->lvFIles->Row(0)->text(colDestination), QString("tone_(new_2).mp4"));
        fs::remove(Home("out/tone_(new).mp4"));
        fs::remove(Home("out/tone_(new_1).mp4"));
        Dispose(window);
    }

    void removingKeepsASelection() {
        auto window = NewWindow();
        TFilesList* list = window->lvFIles;
        AddFiles(*window, {clip_, tone_, longTone_});
        QCOMPARE(list->RowCount(), 3);
        list->SelectRow(2);
        window->btnRemoveClick();
        QCOMPARE(list->RowCount(), 2);
        QCOMPARE(list->SelectedRow(), 1);
        list->SelectRow(0);
        window->btnRemoveClick();
        QCOMPARE(list->SelectedRow(), 0);
        QCOMPARE(list->Row(0)->Record.SourceFile, tone_);
        window->btnRemoveClick();
        QCOMPARE(list->RowCount(), 0);
        QVERIFY(list->isHeaderHidden());
        window->btnRemoveClick(); // nothing selected, nothing happens
        AddFiles(*window, {clip_, tone_});
        window->btnClearClick();
        QCOMPARE(list->RowCount(), 0);
        QVERIFY(list->isHeaderHidden());
        Dispose(window);
    }
};

QTEST_MAIN(TestConversionList)
#include "tst_conversionlist.moc"
