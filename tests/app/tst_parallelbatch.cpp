// Several conversions at a time from the window: the preference runs the
// batch two at a time, the progress window lists the running tasks with a
// bar of the whole batch, pause holds both, every row ends with its own
// output, and a cancel while two convert leaves no half file looking done.
#include "WindowHarness.h"
#include "app/WinProgress.h"
#include "core/BatchRunner.h"
#include "engine/FFmpegVCL.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

class TestParallelBatch : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::string clip_, shortClip_;

    // Copies of the clip under new names in the media folder.
    std::vector<std::string> Copies(const std::vector<std::string>& names,
                                    const std::string& from = {}) {
        std::vector<std::string> copies;
        for (const std::string& name : names) {
            copies.push_back(h_->Media(name));
            fs::copy_file(from.empty() ? clip_ : from, copies.back(),
                          fs::copy_options::overwrite_existing);
        }
        return copies;
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        clip_ = h_->Media("ten.avi");
        QVERIFY(testsupport::MakeMedia(
            clip_, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=f=440 -t 10 "
                   "-c:v mpeg4 -q:v 10 -c:a mp2 -shortest"));
        shortClip_ = h_->MakeClip("short.avi");
        QVERIFY(!shortClip_.empty());
        h_->ChooseFormat(102); // MPEG-4 Video (*.mp4)
    }

    void cleanupTestCase() { h_.reset(); }

    void init() {
        h_->Messages.clear();
        h_->Opened.clear();
    }

    void cleanup() { h_->Settings().WriteString("settings", "MaxConcurrent", "1"); }

    void batchProgressWeighsEveryTaskTheSame() {
        TBatchProgress batch;
        batch.Begin(4);
        QCOMPARE(batch.Percent(), 0);
        QCOMPARE(batch.SecondsLeft(1000), qint64(-1));
        batch.Report(0, 50);
        batch.Report(1, 30);
        QCOMPARE(batch.Percent(), 20); // 80 of 400
        QCOMPARE(batch.SecondsLeft(8000), qint64(32));
        // A report of 100% is not an end; an ended task is done whatever it
        // reported, and reports after its end change nothing.
        batch.Report(2, 100);
        QCOMPARE(batch.Percent(), (50 + 30 + 99) / 4);
        batch.Ended(0);
        batch.Report(0, 10);
        batch.Ended(1);
        batch.Ended(2);
        batch.Ended(3);
        QCOMPARE(batch.Percent(), 100);
        QCOMPARE(batch.SecondsLeft(5000), qint64(0));
        batch.Report(7, 50); // no such task
        batch.Ended(-1);
        QCOMPARE(batch.Percent(), 100);
    }

    // One at a time, as before: the window keeps its size and shows no
    // task list.
    void oneAtATimeKeepsTheWindow() {
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, Copies({"single.avi"}));
        QSize shown;
        bool listShown = true;
        QTimer::singleShot(0, window.get(), [&] {
            shown = window->frmProgress->size();
            listShown = window->frmProgress->lstTasks->isVisible() ||
                        window->frmProgress->progbarBatch->isVisible();
        });
        QVERIFY(TWindowHarness::PressStart(*window));
        QCOMPARE(shown, QSize(420, 460));
        QVERIFY(!listShown);
        QCOMPARE(window->frmProgress->ConversionsAtATime(), 1);
        TWindowHarness::Dispose(window);
    }

    void twoAtATimeConvertEveryRow() {
        if (std::thread::hardware_concurrency() < 2) QSKIP("one processor core");
        h_->Settings().WriteString("settings", "MaxConcurrent", "2");
        auto window = h_->NewWindow();
        const std::vector<std::string> sources = Copies({"p1.avi", "p2.avi", "p3.avi"});
        TWindowHarness::AddFiles(*window, sources);
        TfrmMain* w = window.get();
        w->CCAVC->SetProgressInterval(100);
        const TProgressEvent shown = w->CCAVC->OnProgress;
        int mostLines = 0;
        bool bothPaused = false, heldBoth = false;
        w->CCAVC->OnProgress = [&](TCustomFFmpegVCL* s, TProgressInfo* i) {
            shown(s, i);
            TfrmProgress* p = w->frmProgress;
            mostLines = std::max(mostLines, p->lstTasks->count());
            if (heldBoth || p->lstTasks->count() < 2) return;
            // Both running: pause holds both, resume lets both go.
            heldBoth = true;
            p->btnPauseClick();
            bothPaused = w->CCAVC->Task(0)->Paused() && w->CCAVC->Task(1)->Paused();
            p->btnResumeClick();
        };
        // The preview keeps to one task until it ends.
        const TPreviewBitmapEvent preview = w->CCAVC->OnPreviewBitmap;
        std::vector<int> previewed;
        w->CCAVC->OnPreviewBitmap = [&](TCustomFFmpegVCL* s, const TPreviewInfo& i) {
            const qint64 before = w->PreviewBitmap.cacheKey();
            preview(s, i);
            if (w->PreviewBitmap.cacheKey() != before) previewed.push_back(i.TaskIndex);
        };
        QSize size;
        QTimer::singleShot(0, w, [&] { size = w->frmProgress->size(); });
        QVERIFY(TWindowHarness::PressStart(*window));
        w->CCAVC->OnPreviewBitmap = preview;
        QVERIFY(!previewed.empty());
        std::vector<int> runs{previewed.front()};
        for (int task : previewed)
            if (task != runs.back()) runs.push_back(task);
        std::vector<int> distinct = runs;
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        QCOMPARE(runs.size(), distinct.size()); // no task came back after another
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QVERIFY(size.height() > 460);
        QCOMPARE(mostLines, 2);
        QVERIFY(bothPaused);
        TfrmProgress* p = w->frmProgress;
        QCOMPARE(p->lstTasks->count(), 0);
        QCOMPARE(p->progbarBatch->value(), 100);
        QCOMPARE(p->lstTasks->accessibleName(), QString("Running conversions"));
        QCOMPARE(p->progbarBatch->accessibleName(), QString("Whole batch"));
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(w->lvFIles->Row(row)->text(colProgress), QString("100%"));
            const std::string out =
                h_->Output(fs::path(sources[row]).stem().string() + "_(new).mp4");
            QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "v:0"),
                     std::string("mpeg4"));
            QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "a:0"), std::string("aac"));
            QVERIFY(std::abs(testsupport::DurationSeconds(out) - 10.0) < 0.3);
        }
        // The folder opened once, after the last of the three.
        QCOMPARE(h_->Opened, std::vector<std::string>{h_->OutputFolder()});
        QCOMPARE(testsupport::PartFiles(h_->OutputFolder()), std::vector<std::string>{});
        w->CCAVC->OnProgress = shown;
        TWindowHarness::Dispose(window);
    }

    // While two convert, the picture comes from one of them; the file name,
    // times and bar above the task lines describe that same task, not
    // whichever reported last.
    void labelsDescribeThePicturesTask() {
        if (std::thread::hardware_concurrency() < 2) QSKIP("one processor core");
        h_->Settings().WriteString("settings", "MaxConcurrent", "2");
        auto window = h_->NewWindow();
        const std::vector<std::string> sources = Copies({"l1.avi", "l2.avi"});
        TWindowHarness::AddFiles(*window, sources);
        TfrmMain* w = window.get();
        w->CCAVC->SetProgressInterval(100);
        int pictureTask = -1;
        bool pictureReported = false; // its task reported since the picture came
        const TPreviewBitmapEvent preview = w->CCAVC->OnPreviewBitmap;
        w->CCAVC->OnPreviewBitmap = [&](TCustomFFmpegVCL* s, const TPreviewInfo& i) {
            const qint64 before = w->PreviewBitmap.cacheKey();
            preview(s, i);
            if (w->PreviewBitmap.cacheKey() == before || i.TaskIndex == pictureTask) return;
            pictureTask = i.TaskIndex;
            pictureReported = false;
        };
        const TProgressEvent shown = w->CCAVC->OnProgress;
        int otherReports = 0, pictureBar = 0;
        std::vector<QString> wrong;
        w->CCAVC->OnProgress = [&](TCustomFFmpegVCL* s, TProgressInfo* i) {
            shown(s, i);
            TfrmProgress* p = w->frmProgress;
            if (pictureTask < 0) return;
            if (i->TaskIndex == pictureTask) {
                pictureReported = true;
                pictureBar = p->progbarFile->value();
                return;
            }
            if (!pictureReported || p->lstTasks->count() < 2) return;
            ++otherReports;
            const QString expected = TMainBatch::ShortFileCaption(
                QString::fromStdString(sources[static_cast<std::size_t>(pictureTask)]));
            if (p->lblOutput->text() != expected) wrong.push_back(p->lblOutput->text());
            if (p->progbarFile->value() != pictureBar)
                wrong.push_back(QString("bar %1").arg(p->progbarFile->value()));
        };
        QVERIFY(TWindowHarness::PressStart(*window));
        w->CCAVC->OnPreviewBitmap = preview;
        w->CCAVC->OnProgress = shown;
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QVERIFY(otherReports > 0); // the other task did report meanwhile
        QVERIFY2(wrong.empty(), qPrintable(wrong.empty() ? QString() : wrong.front()));
        for (int row = 0; row < 2; ++row)
            QCOMPARE(w->lvFIles->Row(row)->text(colProgress), QString("100%"));
        TWindowHarness::Dispose(window);
    }

    // The file bar belongs to the task the labels describe: with several at
    // a time another task's end moves only the list; one at a time every
    // finished task fills it.
    void fileBarKeepsToTheLabelledTask() {
        auto window = h_->NewWindow();
        // Owned by the window, as the batch's own.
        auto* progress = new TfrmProgress(window.get(), window->CCAVC.get(), &window->PreviewBitmap,
                                          window->btnPause, window->btnResume);
        progress->SetConversionsAtATime(2);
        TProgressInfo info;
        info.TaskIndex = 0;
        info.CurrentDuration = 4000000;
        info.TotalDuration = 10000000;
        progress->ShowReport(TTaskReport{0, 2, 0, 40, &info}, "first.avi");
        progress->ShowTaskLine(1, 2, "second.avi", 70);
        QCOMPARE(progress->lstTasks->count(), 2);
        TTerminateInfo ended;
        ended.TaskIndex = 1;
        ended.Finished = true;
        progress->TaskEnded(ended);
        QCOMPARE(progress->progbarFile->value(), 40);
        QCOMPARE(progress->lblOutput->text(), QString("first.avi"));
        QCOMPARE(progress->lstTasks->count(), 1);
        ended.TaskIndex = 0;
        ended.EndedEarly = "the source ended early";
        ended.ReachedPercent = 93;
        progress->TaskEnded(ended);
        QCOMPARE(progress->progbarFile->value(), 93);
        QCOMPARE(progress->lstTasks->count(), 0);
        progress->SetConversionsAtATime(1);
        progress->progbarFile->setValue(10);
        ended.TaskIndex = 3; // never reported
        ended.EndedEarly.clear();
        progress->TaskEnded(ended);
        QCOMPARE(progress->progbarFile->value(), 100);
        TWindowHarness::Dispose(window);
    }

    // A long first file and two short ones: the last task ends while the
    // first still converts. The folder opens (and the computer would shut
    // down) only once the first has ended too.
    void endActionsWaitForEveryTask() {
        if (std::thread::hardware_concurrency() < 2) QSKIP("one processor core");
        h_->Settings().WriteString("settings", "MaxConcurrent", "2");
        auto window = h_->NewWindow();
        std::vector<std::string> sources = Copies({"long1.avi"});
        for (const std::string& copy : Copies({"short1.avi", "short2.avi"}, shortClip_))
            sources.push_back(copy);
        TWindowHarness::AddFiles(*window, sources);
        QCOMPARE(window->lvFIles->RowCount(), 3);
        TfrmMain* w = window.get();
        std::vector<QString> firstRowWhenOpened;
        SetUrlOpener([&](const std::string&) {
            firstRowWhenOpened.push_back(w->lvFIles->Row(0)->text(colProgress));
        });
        h_->PowerOffs = 0;
        QTimer::singleShot(0, w, [&] { w->frmProgress->ckShutDown->setChecked(true); });
        QVERIFY(TWindowHarness::PressStart(*window));
        SetUrlOpener([this](const std::string& url) { h_->Opened.push_back(url); });
        QCOMPARE(firstRowWhenOpened, std::vector<QString>{"100%"});
        QCOMPARE(h_->PowerOffs, 1);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(w->lvFIles->Row(row)->text(colProgress), QString("100%"));
        w->frmProgress->ckShutDown->setChecked(false);
        TWindowHarness::Dispose(window);
    }

    // Cancel once both tasks are converting, keeping the partly converted
    // files: both rows say "Cancelled" and their files are readable and
    // shorter; the third never starts and leaves no file; no end action runs.
    void cancelWhileTwoConvert() {
        if (std::thread::hardware_concurrency() < 2) QSKIP("one processor core");
        SetCheckQuestionHandler(
            [](const std::string&, const std::string&, const std::string&, bool& keep) {
                keep = true;
                return TMsgResult::Yes;
            });
        struct TResetHandler {
            ~TResetHandler() { SetCheckQuestionHandler(nullptr); }
        } resetHandler;
        h_->Settings().WriteString("settings", "MaxConcurrent", "2");
        auto window = h_->NewWindow();
        const std::vector<std::string> sources = Copies({"s1.avi", "s2.avi", "s3.avi"});
        TWindowHarness::AddFiles(*window, sources);
        TfrmMain* w = window.get();
        w->CCAVC->SetProgressInterval(100);
        const TProgressEvent shown = w->CCAVC->OnProgress;
        bool cancelled = false;
        w->CCAVC->OnProgress = [&](TCustomFFmpegVCL* s, TProgressInfo* i) {
            shown(s, i);
            if (cancelled || w->frmProgress->lstTasks->count() < 2) return;
            cancelled = true;
            // Paused first, so that neither can finish before the cancel.
            w->frmProgress->btnPauseClick();
            QTimer::singleShot(
                0, w, [w] { QTest::mouseClick(w->frmProgress->btnCancel, Qt::LeftButton); });
        };
        QVERIFY(TWindowHarness::PressStart(*window));
        QVERIFY(cancelled);
        for (int row = 0; row < 2; ++row) {
            QCOMPARE(w->lvFIles->Row(row)->text(colProgress), QString("Cancelled"));
            const std::string out =
                h_->Output(fs::path(sources[row]).stem().string() + "_(new).mp4");
            QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "v:0"),
                     std::string("mpeg4"));
            QVERIFY(testsupport::DurationSeconds(out) < 9.5);
        }
        QCOMPARE(w->lvFIles->Row(2)->text(colProgress), QString());
        QVERIFY(!fs::exists(h_->Output("s3_(new).mp4")));
        QCOMPARE(testsupport::PartFiles(h_->OutputFolder()), std::vector<std::string>{});
        QVERIFY(h_->Opened.empty());
        QVERIFY(w->btnStart->isEnabled());
        QCOMPARE(w->CCAVC->TaskCount(), 0);
        for (const std::string& source : sources)
            QCOMPARE(fs::file_size(source), fs::file_size(clip_));
        w->CCAVC->OnProgress = shown;
        TWindowHarness::Dispose(window);
    }
};

QTEST_MAIN(TestParallelBatch)
#include "tst_parallelbatch.moc"
