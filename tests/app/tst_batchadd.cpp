// Adding many files at once and finding the list again after a crash: rows
// in the chosen order while probes run on several threads, an add that can
// be stopped, a long typed selection that keeps every name, and the stored
// list with the marks of an interrupted batch.
#include "app/MainAdd.h"
#include "WindowHarness.h"
#include "support/TestSupport.h"
#include "core/ListStore.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Runs the window's events until `done` holds; false after the deadline.
template <class Done>
bool WaitFor(Done done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        ServiceMainThread(std::chrono::milliseconds(10));
        QCoreApplication::processEvents();
    }
    return true;
}

} // namespace

class TestBatchAdd : public QObject {
    Q_OBJECT

    testsupport::TempDir media_;
    std::string tone_;

    // `count` copies of the one-second tone in `folder`, named n_0.wav ...
    static std::vector<std::string> Copies(const std::string& tone, const std::string& folder,
                                           int count) {
        fs::create_directories(folder);
        std::vector<std::string> files;
        for (int i = 0; i < count; ++i) {
            files.push_back(folder + "/n_" + std::to_string(i) + ".wav");
            fs::copy_file(tone, files.back(), fs::copy_options::overwrite_existing);
        }
        return files;
    }
    static std::string ListFile(const TWindowHarness& h) {
        return h.Home("config/vantrel/" + std::string(kListFileName));
    }
    static std::vector<std::string> Captions(const TfrmMain& window) {
        std::vector<std::string> captions;
        for (int row = 0; row < window.lvFIles->RowCount(); ++row)
            captions.push_back(window.lvFIles->Row(row)->Record.SourceFile);
        return captions;
    }

private slots:
    void initTestCase() {
        tone_ = media_.file("tone.wav");
        QVERIFY(testsupport::MakeMedia(tone_, "-f lavfi -i sine=f=330 -t 1 -c:a pcm_s16le"));
    }

    void rowsComeInTheChosenOrderWithTheListsRules() {
        TWindowHarness h;
        auto window = h.NewWindow();
        std::vector<std::string> files = Copies(tone_, h.Home("media/a"), 40);
        std::reverse(files.begin(), files.end());
        std::swap(files[3], files[30]);
        const std::string junk = h.Media("junk.wav");
        std::ofstream(junk) << "not media";
        const std::string twin = Copies(tone_, h.Home("media/b"), 4).back(); // b/n_3.wav
        std::vector<std::string> chosen = files;
        chosen.insert(chosen.begin() + 5, junk);
        chosen.insert(chosen.begin() + 10, h.Home("media/a"));
        chosen.insert(chosen.begin() + 12, files[0]);
        chosen.push_back(twin);
        TWindowHarness::AddFiles(*window, chosen);
        std::vector<std::string> expected = files;
        expected.push_back(twin);
        QCOMPARE(Captions(*window), expected);
        QVERIFY(!window->Add().Adding());
        QVERIFY(!window->pnlAdding->isVisible());
        QCOMPARE(window->lvFIles->SelectedRow(), 0);
        QCOMPARE(window->lvFIles->Row(7)->text(colLength), QString("0:00:01"));
        QVERIFY(window->lvFIles->IsChecked(39));
        // Two sources of one base name: the later one gets the next name.
        const auto& a3 =
            window->lvFIles->Row(window->lvFIles->FindCaption(h.Home("media/a/n_3.wav")));
        const auto& b3 = window->lvFIles->Row(window->lvFIles->FindCaption(twin));
        QCOMPARE(fs::path(a3->Record.DestinationFile).filename().string(),
                 std::string("n_3_(new).mp4"));
        QCOMPARE(fs::path(b3->Record.DestinationFile).filename().string(),
                 std::string("n_3_(new_1).mp4"));
        QCOMPARE(int(h.Messages.size()), 1);
        QCOMPARE(h.Messages[0].Text, "This file could not be added:\n" + junk +
                                         ": Invalid data found when processing input");
        TWindowHarness::Dispose(window);
    }

    void anAddCanBeStoppedAndTheWindowStaysLive() {
        TWindowHarness h;
        auto window = h.NewWindow();
        const std::vector<std::string> files = Copies(tone_, h.Home("media/many"), 300);
        QString shown;
        bool panelShown = false;
        int ticks = 0;
        // Runs inside the add: the window's event loop keeps running.
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, [&] {
            ++ticks;
            if (!window->Add().Adding() || !shown.isEmpty()) return;
            panelShown = window->pnlAdding->isVisible();
            shown = window->lblAdding->text();
            QTest::mouseClick(window->btnStopAdding, Qt::LeftButton);
        });
        watcher.start();
        TWindowHarness::AddFiles(*window, files);
        watcher.stop();
        QVERIFY(panelShown);
        QVERIFY2(shown.startsWith("Adding ") && shown.endsWith(" of 300 ..."), qPrintable(shown));
        QVERIFY(ticks > 0);
        const int stoppedAt = window->lvFIles->RowCount();
        QVERIFY2(stoppedAt < 300, qPrintable(QString::number(stoppedAt)));
        QVERIFY(!window->pnlAdding->isVisible());
        QVERIFY(h.Messages.empty());
        // Adding the same files again adds only those still missing.
        TWindowHarness::AddFiles(*window, files);
        QCOMPARE(Captions(*window), files);
        TWindowHarness::Dispose(window);
    }

    void probesOnSeveralThreadsAgreeWithOneAtATime() {
        TWindowHarness h;
        auto window = h.NewWindow(); // loads the media libraries
        const std::vector<std::string> files = Copies(tone_, h.Home("media/p"), 24);
        std::vector<TAddProbe> results(files.size());
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (std::size_t i = t; i < files.size(); i += 4)
                    results[i] = TMainAdd::ProbeForList(files[i]);
            });
        for (std::thread& thread : threads)
            thread.join();
        for (const TAddProbe& r : results) {
            QVERIFY2(r.Opened, r.Error.c_str());
            QVERIFY(r.DurationUS >= 990000 && r.DurationUS <= 1010000);
        }
        const TAddProbe missing = TMainAdd::ProbeForList(h.Media("none.wav"));
        QVERIFY(!missing.Opened);
        QVERIFY(missing.Error.find("none.wav") != std::string::npos);
        TWindowHarness::Dispose(window);
    }

    // Typed as one quoted selection, 300 long names are more than the name
    // box used to take: the last one was cut off and never added.
    void aLongTypedSelectionKeepsEveryName() {
        TWindowHarness h;
        auto window = h.NewWindow();
        const std::string folder = h.Home("media/holiday videos of the long summer of the year");
        fs::create_directories(folder);
        QStringList names;
        QString typed;
        for (int i = 0; i < 300; ++i) {
            const std::string name = folder + "/camera roll of the afternoon at the beach number " +
                                     std::to_string(i) + ".wav";
            std::ofstream(name) << "x";
            names << QString::fromStdString(name);
            typed += "\"" + names.back() + "\" ";
        }
        QVERIFY(typed.size() > 32767);
        std::unique_ptr<QFileDialog> dialog = window->Add().NewOpenDialog();
        dialog->setNameFilter("All files (*)");
        dialog->setDirectory(QString::fromStdString(folder));
        QTimer::singleShot(0, dialog.get(), [&] {
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typed);
            QMetaObject::invokeMethod(dialog.get(), "accept");
        });
        // Only against a hang: the dialog takes seconds over 300 names in a
        // checker build on a busy machine.
        QTimer::singleShot(120000, dialog.get(), [&] { dialog->reject(); });
        QCOMPARE(dialog->exec(), int(QDialog::Accepted));
        const QStringList chosen = dialog->selectedFiles();
        QCOMPARE(chosen.size(), 300);
        QVERIFY(chosen.contains(names.back()));
        dialog.reset(); // before its parent, the window
        TWindowHarness::Dispose(window);
    }

    void theListSurvivesACrash() {
        TWindowHarness h;
        auto window = h.NewWindow();
        const std::vector<std::string> files = Copies(tone_, h.Home("media/c"), 3);
        TWindowHarness::AddFiles(*window, files);
        TFilesList* list = window->lvFIles;
        list->SetChecked(1, false);
        TlvFilesRecord& edited = list->Row(2)->Record;
        edited.Brightness = 300;
        edited.TrimStart = 1000000;
        TWmRec layer;
        layer.Text = "Sunday";
        layer.Font = TWmFont{"Sans", 12, fsBold, 0x0000FFu};
        edited.Watermarks.push_back(layer);
        list->Row(2)->setText(colTrimmed, "0");
        list->NotifyChanged();
        const std::string stored = ListFile(h);
        QVERIFY(WaitFor([&] {
            const std::string text = testsupport::ReadFileText(stored);
            return text.find("Brightness=300") != std::string::npos &&
                   text.find("Checked=0") != std::string::npos;
        }));
        // The crash: the window's end never comes, the stored list stays.
        const std::string atCrash = testsupport::ReadFileText(stored);
        const std::string destination = edited.DestinationFile;
        TWindowHarness::Dispose(window);
        QVERIFY(!fs::exists(stored)); // a normal end leaves nothing behind
        std::ofstream(stored, std::ios::binary) << atCrash;

        auto again = h.NewWindow();
        TFilesList* restored = again->lvFIles;
        QCOMPARE(Captions(*again), files);
        QVERIFY(restored->IsChecked(0) && !restored->IsChecked(1) && restored->IsChecked(2));
        const TlvFilesRecord& back = restored->Row(2)->Record;
        QCOMPARE(back.Brightness, 300);
        QCOMPARE(back.TrimStart, int64_t(1000000));
        QCOMPARE(int(back.Watermarks.size()), 1);
        QCOMPARE(back.Watermarks[0].Text, std::string("Sunday"));
        QCOMPARE(back.Watermarks[0].Font->Style, uint32_t(fsBold));
        QCOMPARE(back.DestinationFile, destination);
        QCOMPARE(restored->Row(2)->text(colTrimmed), QString("0"));
        QCOMPARE(restored->Row(0)->text(colLength), QString("0:00:01"));
        QVERIFY(again->btnStart->isEnabled() && again->btnRemove->isEnabled());
        QCOMPARE(restored->SelectedRow(), 0);
        TWindowHarness::Dispose(again);
    }

    void anInterruptedBatchContinuesWhereItStopped() {
        TWindowHarness h;
        const std::vector<std::string> files = Copies(tone_, h.Home("media/i"), 3);
        TStoredList crashed;
        crashed.BatchRunning = true;
        for (int i = 0; i < 3; ++i) {
            TStoredRow row;
            row.Record = NewFilesRecord(files[i], h.Output("n_" + std::to_string(i) + "_(new).mp4"),
                                        1000000, "lbox");
            row.TrimmedLength = "1";
            crashed.Rows.push_back(row);
        }
        crashed.Rows[0].Converted = true;               // finished before the power cut
        crashed.Rows[2].Checked = false;                // not in the batch
        crashed.Rows[2].Failure = "Too large, removed"; // by a batch before
        std::string error;
        QVERIFY(WriteFileReplacing(ListFile(h), ListToText(crashed), error));

        auto window = h.NewWindow();
        TFilesList* list = window->lvFIles;
        QCOMPARE(list->RowCount(), 3);
        QVERIFY(!list->IsChecked(0) && list->IsChecked(1) && !list->IsChecked(2));
        QCOMPARE(list->Row(0)->text(colProgress), QString("100%"));
        QCOMPARE(list->Row(1)->text(colProgress), QString());
        QCOMPARE(list->Row(2)->text(colProgress), QString("Too large, removed"));
        // The list on disk no longer counts as in a batch.
        QVERIFY(WaitFor([&] {
            return testsupport::ReadFileText(ListFile(h)).find("BatchRunning=0") !=
                   std::string::npos;
        }));
        QVERIFY(TWindowHarness::PressStart(*window));
        QVERIFY2(h.Messages.empty(), h.FirstMessage());
        const std::string converted = list->Row(1)->Record.DestinationFile;
        QVERIFY(fs::exists(converted));
        QVERIFY(!testsupport::ProbeValue(converted, "format=duration").empty());
        QVERIFY(!fs::exists(list->Row(0)->Record.DestinationFile));
        QVERIFY(!fs::exists(list->Row(2)->Record.DestinationFile));
        // The batch told the stored list which row it converted, and that
        // it has ended.
        QVERIFY(WaitFor([&] {
            TStoredList now;
            std::string why;
            return ListFromText(testsupport::ReadFileText(ListFile(h)), now, why) &&
                   !now.BatchRunning && now.Rows.size() == 3 && now.Rows[1].Converted &&
                   !now.Rows[2].Converted;
        }));
        TWindowHarness::Dispose(window);
    }

    void aDamagedStoredListIsSetAside() {
        TWindowHarness h;
        fs::create_directories(h.Home("config/vantrel"));
        std::ofstream(ListFile(h)) << "Vantrel conversion list 1\nRows=1\n[row]\nDuration=x\n";
        auto window = h.NewWindow();
        QCOMPARE(window->lvFIles->RowCount(), 0);
        QCOMPARE(int(h.Messages.size()), 1);
        QVERIFY2(h.Messages[0].Text.find(ListFile(h) + ".corrupt") != std::string::npos,
                 h.FirstMessage());
        QVERIFY(fs::exists(ListFile(h) + ".corrupt"));
        // The window goes on as usual.
        TWindowHarness::AddFiles(*window, Copies(tone_, h.Home("media/d"), 1));
        QCOMPARE(window->lvFIles->RowCount(), 1);
        TWindowHarness::Dispose(window);
    }
};

QTEST_MAIN(TestBatchAdd)
#include "tst_batchadd.moc"
