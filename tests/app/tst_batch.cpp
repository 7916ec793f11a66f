// The batch driver and the progress window on real conversions: which rows
// become tasks, what the reports do to the rows and the progress window,
// the end actions, pause, resume and cancel.
#include "app/MainBatch.h"
#include "WindowHarness.h"
#include "app/ErrorReporter.h"
#include "app/WinProgress.h"
#include "core/ListStore.h"
#include "engine/FFmpegVCL.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const QColor kPreviewBackground(166, 202, 240);

std::size_t FileCount(const std::string& folder) {
    const fs::directory_iterator entries(folder);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// "<pid>@<host>" of a process of this machine that has ended.
std::string DeadOwner() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return std::to_string(child) + "@" + host;
}

// ffmpeg's EBU R128 meter on a whole file: the integrated loudness (LUFS).
double IntegratedLoudness(const std::string& file) {
    const auto result =
        testsupport::RunCommand("ffmpeg -nostats -hide_banner -i " + testsupport::ShellQuote(file) +
                                " -af ebur128 -f null - 2>&1");
    const auto at = result.output.rfind("I:");
    return at == std::string::npos ? 0.0 : std::atof(result.output.c_str() + at + 2);
}

// A stereo sound of 3 s: pink noise bursts with pauses, at `gain` dB.
bool MakeNoise(const std::string& file, double gain) {
    return testsupport::MakeMedia(
        file, "-f lavfi -i anoisesrc=d=3:c=pink:a=0.1:r=44100 -af " +
                  testsupport::ShellQuote("volume='if(lt(mod(t,1),0.7),1,0)':eval=frame,"
                                          "pan=stereo|c0=c0|c1=c0,volume=" +
                                          std::to_string(gain) + "dB"));
}

// Row `row` of the stored conversion list, once the list on disk has it
// and `done` holds for it; false after a deadline.
template <class Done> bool StoredRowBecomes(const TWindowHarness& h, std::size_t row, Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        std::ifstream in(h.Home("config/vantrel/" + std::string(kListFileName)));
        std::ostringstream text;
        text << in.rdbuf();
        TStoredList list;
        std::string error;
        if (ListFromText(text.str(), list, error) && row < list.Rows.size() && done(list.Rows[row]))
            return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        QTest::qWait(20);
    }
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::string clip_, tone_, longClip_;

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        clip_ = h_->MakeClip("clip.avi");
        tone_ = h_->MakeTone("tone.wav");
        QVERIFY(!clip_.empty() && !tone_.empty());
        longClip_ = h_->Media("long.avi");
        QVERIFY(testsupport::MakeMedia(
            longClip_, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 30 -c:v mpeg4 -q:v 10"));
    }

    void cleanupTestCase() { h_.reset(); }

    void init() { h_->Messages.clear(); }

    void captionsPercentAndPreviewFit() {
        const QString longPath = QString(55, 'a') + ".mpeg"; // 60 characters
        QCOMPARE(TMainBatch::ShortFileCaption(longPath), QString(44, 'a') + "...mpeg");
        const QString fifty = QString(46, 'b') + ".avi";
        QCOMPARE(TMainBatch::ShortFileCaption(fifty), fifty);
        QCOMPARE(TMainBatch::ShortFileCaption(QString(51, 'c')), QString(44, 'c') + "..");
        QCOMPARE(TaskPercent(50, 200), 25);
        QCOMPARE(TaskPercent(199, 200), 99);
        QCOMPARE(TaskPercent(10, 0), 0);
        QCOMPARE(TaskPercent(10, -1), 0);
        // Beyond 32 bits: a 10-hour file.
        QCOMPARE(TaskPercent(18'000'000'000LL, 36'000'000'000LL), 50);
        QCOMPARE(FitPreviewRect(QSize(640, 360), QSize(372, 210)), QRect(0, 0, 372, 210));
        // 100 x 200 fills the height; 133.5 rounds to the even 134.
        QCOMPARE(FitPreviewRect(QSize(100, 200), QSize(372, 210)), QRect(134, 0, 104, 210));
        // 400 x 100 fills the width: (210 - 93) / 2 = 58.5 rounds to 58.
        QCOMPARE(FitPreviewRect(QSize(400, 100), QSize(372, 210)), QRect(0, 58, 372, 94));
        QCOMPARE(ClockText(3725), QString("01:02:05"));
        QCOMPARE(ClockText(-4), QString("00:00:00"));
    }

    void timeLeftFollowsEachTask() {
        TTimeLeftEstimate estimate;
        estimate.Begin(0, 0, 0);
        QCOMPARE(estimate.Report(0, 25, 1000), 3);
        QCOMPARE(estimate.Report(0, 25, 1500), 5); // 4.5 s rounded up
        // The next task starts its own estimate from its first report.
        QCOMPARE(estimate.Report(1, 10, 5000), -1);
        QCOMPARE(estimate.Report(1, 10, 5400), -1);
        QCOMPARE(estimate.Report(1, 40, 6000), 2);
        QCOMPARE(estimate.Report(1, 100, 6500), 0);
        QCOMPARE(estimate.Report(2, 0, 7000), -1);
        QCOMPARE(estimate.Report(2, 0, 9000), -1);
    }

    void priorityAndNoCheckedRow() {
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, {tone_});
        window->lvFIles->SetChecked(0, false);
        h_->Settings().WriteString("settings", "priority", "3");
        window->btnStartClick();
        QCOMPARE(window->CCAVC->GetThreadPriority(), tpLowest);
        h_->Settings().WriteString("settings", "priority", "0");
        window->btnStartClick();
        QCOMPARE(window->CCAVC->GetThreadPriority(), tpIdle);
        // A value without meaning keeps the priority.
        h_->Settings().WriteString("settings", "priority", "7");
        window->btnStartClick();
        QCOMPARE(window->CCAVC->GetThreadPriority(), tpIdle);
        h_->Settings().WriteString("settings", "priority", "1");
        QCOMPARE(int(h_->Messages.size()), 3);
        QCOMPARE(h_->Messages[0].Caption, std::string("Warning"));
        QCOMPARE(h_->Messages[0].Text,
                 std::string("Please select a file by clicking the check box!"));
        QCOMPARE(window->CCAVC->TaskCount(), 0);
        QVERIFY(window->TaskItems.empty());
        QVERIFY(!window->frmProgress);
        TWindowHarness::Dispose(window);
    }

    void batchConvertsCheckedRowsOnly() {
        h_->ChooseFormat(102); // MPEG-4 Video (*.mp4)
        auto window = h_->NewWindow();
        const std::string copy = h_->Media("clip.avi.copy.avi");
        fs::copy_file(clip_, copy, fs::copy_options::overwrite_existing);
        TWindowHarness::AddFiles(*window, {clip_, tone_, copy});
        window->lvFIles->SetChecked(1, false);
        h_->Opened.clear();
        h_->PowerOffs = 0;
        int shownTasks = -1;
        QTimer::singleShot(0, window.get(), [&] {
            shownTasks = window->CCAVC->TaskCount();
            window->frmProgress->ckShutDown->setChecked(true);
        });
        TWindowHarness::PressStart(*window);
        QCOMPARE(shownTasks, 2);
        QCOMPARE(window->TaskItems, (std::vector<int32_t>{0, 2}));
        TfrmProgress* progress = window->frmProgress;
        QVERIFY(!progress->isVisible());
        QCOMPARE(window->lvFIles->Row(0)->text(colProgress), QString("100%"));
        QCOMPARE(window->lvFIles->Row(1)->text(colProgress), QString());
        QCOMPARE(window->lvFIles->Row(2)->text(colProgress), QString("100%"));
        QCOMPARE(progress->progbarFile->value(), 100);
        // The labels of the last task's reports.
        QCOMPARE(progress->lblProgress->text(), QString("[2/2]"));
        const double seconds = std::stod(testsupport::ProbeValue(copy, "format=duration"));
        QCOMPARE(progress->lblLength->text(),
                 QString::number(static_cast<int64_t>(seconds * 1e6) / 1000000) + " Second");
        QCOMPARE(progress->lblOutput->text(),
                 TMainBatch::ShortFileCaption(QString::fromStdString(copy)));
        QVERIFY(progress->lblSize->text().endsWith(" kb"));
        QVERIFY(progress->lblSpeed->text().endsWith(" fps"));
        QVERIFY(window->btnAdd->isEnabled() && window->btnStart->isEnabled());
        QVERIFY(!window->btnStop->isEnabled() && !window->btnPause->isEnabled());
        QCOMPARE(window->CCAVC->TaskCount(), 0);
        // The end actions ran once, after the last task.
        QCOMPARE(h_->Opened, std::vector<std::string>{h_->OutputFolder()});
        QCOMPARE(h_->PowerOffs, 1);
        // The list shows the names the tasks wrote.
        QCOMPARE(window->lvFIles->Row(0)->text(colDestination), QString("clip_(new).mp4"));
        QCOMPARE(window->lvFIles->Row(2)->text(colDestination), QString("clip.avi.copy_(new).mp4"));
        const std::string out = h_->Output("clip_(new).mp4");
        QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "v:0"), std::string("mpeg4"));
        QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "a:0"), std::string("aac"));
        QVERIFY(fs::exists(h_->Output("clip.avi.copy_(new).mp4")));
        QVERIFY(!fs::exists(h_->Output("tone_(new).mp4")));

        // A report of task 1 belongs to row 2.
        TProgressInfo info;
        info.TaskIndex = 1;
        info.CurrentDuration = 500000;
        info.TotalDuration = 2000000;
        window->CCAVCProgress(window->CCAVC.get(), &info);
        QCOMPARE(window->lvFIles->Row(2)->text(colProgress), QString("25%"));
        QCOMPARE(window->lvFIles->Row(0)->text(colProgress), QString("100%"));

        // The next batch: "Open" is checked again, "Shut down" kept; both
        // outputs get new names beside the old ones.
        progress->ckOpen->setChecked(false);
        bool openChecked = false, shutDownChecked = false;
        QTimer::singleShot(0, window.get(), [&] {
            openChecked = progress->ckOpen->isChecked();
            shutDownChecked = progress->ckShutDown->isChecked();
            progress->ckShutDown->setChecked(false);
        });
        TWindowHarness::PressStart(*window);
        QVERIFY(openChecked && shutDownChecked);
        QCOMPARE(h_->PowerOffs, 1);
        QCOMPARE(int(h_->Opened.size()), 2);
        QVERIFY(fs::exists(h_->Output("clip_(new_1).mp4")));
        QCOMPARE(window->lvFIles->Row(0)->text(colDestination), QString("clip_(new_1).mp4"));
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        TWindowHarness::Dispose(window);
    }

    // With a loudness target every row is measured first ("Measuring
    // loudness" in its row and the progress window), then converted to the
    // target; Pause works in the measuring pass and a Cancel there ends the
    // batch with nothing converted.
    void loudnessTargetMeasuresThenConverts() {
        h_->ChooseFormat(202); // M4A
        QVERIFY(h_->Settings().WriteString("formatInfo202", "paraLoudnessTarget", "-16"));
        const std::string quiet = h_->Media("quiet.wav"), loud = h_->Media("loud.wav");
        QVERIFY(MakeNoise(quiet, -12) && MakeNoise(loud, 14));
        auto window = h_->NewWindow();
        TfrmMain* w = window.get();
        TWindowHarness::AddFiles(*window, {quiet, loud});
        const TProgressEvent shown = w->CCAVC->OnProgress;
        QString measuringRow, measuringCaption;
        bool paused = false;
        w->CCAVC->OnProgress = [&](TCustomFFmpegVCL* s, TProgressInfo* i) {
            shown(s, i);
            if (!i || !measuringRow.isEmpty()) return;
            measuringRow = w->lvFIles->Row(w->TaskItems[i->TaskIndex])->text(colProgress);
            measuringCaption = w->frmProgress->lblOutput->text();
            w->frmProgress->btnPauseClick();
            QTimer::singleShot(0, w, [&] {
                paused = !w->frmProgress->btnPause->isEnabled();
                w->frmProgress->btnResumeClick();
            });
        };
        TWindowHarness::PressStart(*window);
        QVERIFY2(measuringRow.startsWith("Measuring loudness"), qPrintable(measuringRow));
        QVERIFY2(measuringCaption.startsWith("Measuring loudness: "), qPrintable(measuringCaption));
        QVERIFY(paused);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QCOMPARE(w->lvFIles->Row(0)->text(colProgress), QString("100%"));
        QCOMPARE(w->lvFIles->Row(1)->text(colProgress), QString("100%"));
        QVERIFY(std::abs(IntegratedLoudness(quiet) - IntegratedLoudness(loud)) > 20);
        for (const char* name : {"quiet_(new).m4a", "loud_(new).m4a"}) {
            const double loudness = IntegratedLoudness(h_->Output(name));
            QVERIFY2(std::abs(loudness + 16) <= 1.0,
                     qPrintable(QString("%1: %2").arg(name).arg(loudness)));
        }

        // Cancelled while measuring: nothing converted.
        bool cancelled = false;
        w->CCAVC->OnProgress = [&](TCustomFFmpegVCL* s, TProgressInfo* i) {
            shown(s, i);
            if (cancelled || !i ||
                !w->lvFIles->Row(w->TaskItems[i->TaskIndex])
                     ->text(colProgress)
                     .startsWith("Measuring loudness"))
                return;
            cancelled = true;
            w->frmProgress->btnPauseClick();
            QTimer::singleShot(
                0, w, [w] { QTest::mouseClick(w->frmProgress->btnCancel, Qt::LeftButton); });
        };
        TWindowHarness::PressStart(*window);
        QVERIFY(cancelled);
        QVERIFY(!w->frmProgress->isVisible());
        QCOMPARE(w->CCAVC->TaskCount(), 0);
        QVERIFY(!fs::exists(h_->Output("quiet_(new_1).m4a")));
        QVERIFY(!fs::exists(h_->Output("loud_(new_1).m4a")));
        QVERIFY(w->btnStart->isEnabled());
        w->CCAVC->OnProgress = shown;
        h_->Settings().WriteString("formatInfo202", "paraLoudnessTarget", "0");
        TWindowHarness::Dispose(window);
    }

    // A target size: a target too small for a row refuses the start naming
    // the row and the smallest size, or ends the row after its first pass
    // when that shows that the encoder needs more; a target that fits gives
    // each row a first pass ("First pass" in its row) and a file within
    // 90-100 % of it.
    void targetSizeFirstPassThenFits() {
        h_->ChooseFormat(102); // MPEG-4 Video
        auto window = h_->NewWindow();
        TfrmMain* w = window.get();
        TWindowHarness::AddFiles(*window, {longClip_});
        QVERIFY(h_->Settings().WriteString("formatInfo102", "paraTargetSize", "0.05"));
        TWindowHarness::PressStart(*window);
        QCOMPARE(int(h_->Messages.size()), 1);
        const std::string& text = h_->Messages.front().Text;
        QVERIFY2(text.find(longClip_) != std::string::npos &&
                     text.find("the smallest size that works is ") != std::string::npos,
                 text.c_str());
        QCOMPARE(w->CCAVC->TaskCount(), 0);
        QVERIFY(!fs::exists(h_->Output("long_(new).mp4")));
        h_->Messages.clear();

        // 2 MB pass the check at Start, but the first pass shows that the
        // MPEG-4 encoder needs more: the row ends with the size that works
        // and no file, and is stored as not converted.
        QVERIFY(h_->Settings().WriteString("formatInfo102", "paraTargetSize", "2"));
        TWindowHarness::PressStart(*window);
        QCOMPARE(int(h_->Messages.size()), 1);
        const std::string& after = h_->Messages.front().Text;
        QVERIFY2(after.rfind(longClip_ + ": the target size is too small for its length; the "
                                         "smallest size that works is ",
                             0) == 0,
                 after.c_str());
        QCOMPARE(w->lvFIles->Row(0)->text(colProgress), QString("Target size too small"));
        QVERIFY(!fs::exists(h_->Output("long_(new).mp4")));
        QVERIFY(StoredRowBecomes(*h_, 0, [](const TStoredRow& row) {
            return !row.Converted && row.Failure == "Target size too small";
        }));
        h_->Messages.clear();

        QVERIFY(h_->Settings().WriteString("formatInfo102", "paraTargetSize", "3"));
        const TProgressEvent shown = w->CCAVC->OnProgress;
        QString firstPass;
        w->CCAVC->OnProgress = [&](TCustomFFmpegVCL* s, TProgressInfo* i) {
            shown(s, i);
            if (i && firstPass.isEmpty())
                firstPass = w->lvFIles->Row(w->TaskItems[i->TaskIndex])->text(colProgress);
        };
        TWindowHarness::PressStart(*window);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QVERIFY2(firstPass.startsWith("First pass"), qPrintable(firstPass));
        QCOMPARE(w->lvFIles->Row(0)->text(colProgress), QString("100%"));
        const auto size = fs::file_size(h_->Output("long_(new).mp4"));
        QVERIFY2(size <= 3'000'000 && size >= 2'700'000, qPrintable(QString::number(size)));
        w->CCAVC->OnProgress = shown;
        h_->Settings().WriteString("formatInfo102", "paraTargetSize", "0");
        TWindowHarness::Dispose(window);
    }

    // A file still larger than its target after the encodes again is
    // removed: its row says so and the stored list keeps it as not
    // converted, with why. (The test makes every file of the batch too
    // large as its task ends.)
    void fileRemovedAsTooLargeIsStoredAsNotConverted() {
        h_->ChooseFormat(102);
        auto window = h_->NewWindow();
        TfrmMain* w = window.get();
        TWindowHarness::AddFiles(*window, {clip_});
        QVERIFY(h_->Settings().WriteString("formatInfo102", "paraTargetSize", "1"));
        const TTerminateEvent ended = w->CCAVC->OnTerminate;
        w->CCAVC->OnTerminate = [&](TCustomFFmpegVCL* s, const TTerminateInfo& i) {
            const std::string& output = w->lvFIles->Row(0)->Record.DestinationFile;
            if (i.Finished && !output.empty() && fs::exists(output))
                std::ofstream(output, std::ios::binary | std::ios::trunc)
                    << std::string(1'000'001, 'x');
            ended(s, i);
        };
        TWindowHarness::PressStart(*window);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QCOMPARE(w->lvFIles->Row(0)->text(colProgress), QString("Too large, removed"));
        QVERIFY(!fs::exists(w->lvFIles->Row(0)->Record.DestinationFile));
        QVERIFY(StoredRowBecomes(*h_, 0, [](const TStoredRow& row) {
            return !row.Converted && row.Failure == "Too large, removed";
        }));
        w->CCAVC->OnTerminate = ended;
        h_->Settings().WriteString("formatInfo102", "paraTargetSize", "0");
        TWindowHarness::Dispose(window);
    }

    // A target that leaves the picture too little beside the audio lowers
    // the audio's rate, and the row says to what.
    void targetSizeLowersTheAudio() {
        h_->ChooseFormat(103); // H.264
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, {clip_});
        QVERIFY(h_->Settings().WriteString("formatInfo103", "paraTargetSize", "0.06"));
        TWindowHarness::PressStart(*window);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QCOMPARE(window->lvFIles->Row(0)->text(colProgress), QString("100% (audio 32 kbit/s)"));
        const std::string output = window->lvFIles->Row(0)->Record.DestinationFile;
        QVERIFY(fs::file_size(output) <= 60'000);
        fs::remove(output);
        h_->Settings().WriteString("formatInfo103", "paraTargetSize", "0");
        TWindowHarness::Dispose(window);
    }

    // Pausing from the first preview, so that the task is surely still
    // converting when Cancel is pressed.
    void pauseResumeAndCancel() {
        h_->ChooseFormat(102);
        auto window = h_->NewWindow();
        std::vector<std::string> copies;
        for (const char* name : {"first.avi", "second.avi", "third.avi"}) {
            copies.push_back(h_->Media(name));
            fs::copy_file(longClip_, copies.back(), fs::copy_options::overwrite_existing);
        }
        TWindowHarness::AddFiles(*window, copies);
        h_->Opened.clear();
        TfrmMain* w = window.get();
        const TPreviewBitmapEvent shown = w->CCAVC->OnPreviewBitmap;
        bool paused = false, resumed = false, previewDrawn = false;
        w->CCAVC->OnPreviewBitmap = [&](TCustomFFmpegVCL* s, const TPreviewInfo& i) {
            shown(s, i);
            if (w->frmProgress->btnResume->isEnabled()) return;
            w->frmProgress->btnPauseClick();
            QTimer::singleShot(0, w, [&] {
                TfrmProgress* p = w->frmProgress;
                paused = !p->btnPause->isEnabled() && p->btnResume->isEnabled() &&
                         !w->btnPause->isEnabled() && w->btnResume->isEnabled();
                p->Timer1Timer();
                const QImage& picture = p->PreviewPicture();
                previewDrawn = picture.pixelColor(picture.rect().center()) != kPreviewBackground;
                p->btnResumeClick();
                resumed = p->btnPause->isEnabled() && !p->btnResume->isEnabled() &&
                          w->btnPause->isEnabled() && !w->btnResume->isEnabled();
                p->btnPauseClick();
                QTest::mouseClick(p->btnCancel, Qt::LeftButton);
            });
        };
        TWindowHarness::PressStart(*window);
        QVERIFY(paused && resumed && previewDrawn);
        QVERIFY(!w->frmProgress->isVisible());
        QVERIFY(w->lvFIles->Row(0)->text(colProgress) != "100%");
        QCOMPARE(w->lvFIles->Row(1)->text(colProgress), QString());
        QCOMPARE(w->lvFIles->Row(2)->text(colProgress), QString());
        QVERIFY(!w->btnStop->isEnabled() && !w->btnPause->isEnabled() &&
                !w->btnResume->isEnabled());
        QVERIFY(w->btnAdd->isEnabled() && w->btnStart->isEnabled() &&
                w->btnStartBelow->isEnabled());
        QCOMPARE(w->CCAVC->TaskCount(), 0);
        QVERIFY(h_->Opened.empty());
        for (const std::string& source : copies)
            QCOMPARE(fs::file_size(source), fs::file_size(longClip_));
        w->CCAVC->OnPreviewBitmap = shown;
        TWindowHarness::Dispose(window);
    }

    // What a conversion killed with an earlier window left in the output
    // folder goes when the window starts. A source cut in the middle whose
    // index still claims 10 s converts as far as it goes, and its row shows
    // how far that was instead of "100%".
    void leftoversGoAtStartAndACutSourceShowsHowFarItGot() {
        h_->ChooseFormat(102); // MPEG-4 Video (*.mp4)
        const std::string cut = h_->Media("cut.mp4");
        QVERIFY(testsupport::MakeMedia(cut, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 10 "
                                            "-c:v mpeg4 -movflags +faststart"));
        fs::resize_file(cut, fs::file_size(cut) / 2);
        const std::string owner = DeadOwner();
        const std::string part = h_->OutputFolder() + "/.old_(new).mp4.0000000a." + owner + ".part";
        const std::string claim = h_->OutputFolder() + "/.old_(new).mp4.vantrel-claim";
        std::ofstream(part) << "half a file";
        std::ofstream(claim) << owner << "\n";
        auto window = h_->NewWindow();
        QVERIFY(!fs::exists(part));
        QVERIFY(!fs::exists(claim));
        TWindowHarness::AddFiles(*window, {cut});
        QVERIFY(TWindowHarness::PressStart(*window));
        const QString text = window->lvFIles->Row(0)->text(colProgress);
        QVERIFY2(text.endsWith("% (ended early)"), qPrintable(text));
        const int percent = text.section('%', 0, 0).toInt();
        QVERIFY2(percent > 20 && percent < 80, qPrintable(text));
        TWindowHarness::Dispose(window);
    }

    // Cancel asks, with the choice of keeping the partly converted file: by
    // default the row cut short says "Cancelled" and its file is gone; with
    // the box ticked the file stays, and the box is offered ticked next time.
    void cancelledRowIsMarkedAndItsFileGoesUnlessKept() {
        h_->ChooseFormat(102);
        const std::string source = h_->Media("cut short.avi");
        fs::copy_file(longClip_, source, fs::copy_options::overwrite_existing);
        // The handlers below use this function's variables: gone with it.
        struct TResetHandler {
            ~TResetHandler() { SetCheckQuestionHandler(nullptr); }
        } resetHandler;
        std::vector<bool> offered;
        bool tick = false;
        SetCheckQuestionHandler([&](const std::string&, const std::string& text,
                                    const std::string& checkCaption, bool& checked) {
            h_->Messages.push_back(
                {"Warning", text + " [" + checkCaption + "]", TMsgIcon::Question});
            offered.push_back(checked);
            checked = tick;
            return TMsgResult::Yes;
        });
        const auto cancelOnce = [&](bool keep) {
            tick = keep;
            auto window = h_->NewWindow();
            TWindowHarness::AddFiles(*window, {source});
            TfrmMain* w = window.get();
            const TPreviewBitmapEvent shown = w->CCAVC->OnPreviewBitmap;
            w->CCAVC->OnPreviewBitmap = [&](TCustomFFmpegVCL* s, const TPreviewInfo& i) {
                shown(s, i);
                if (!w->frmProgress->btnPause->isEnabled()) return;
                w->frmProgress->btnPauseClick(); // still converting when Cancel comes
                QTimer::singleShot(
                    0, w, [w] { QTest::mouseClick(w->frmProgress->btnCancel, Qt::LeftButton); });
            };
            const bool ended = TWindowHarness::PressStart(*window);
            const std::string output = w->lvFIles->Row(0)->Record.DestinationFile;
            const QString mark = w->lvFIles->Row(0)->text(colProgress);
            w->CCAVC->OnPreviewBitmap = shown;
            TWindowHarness::Dispose(window);
            QVERIFY(ended);
            QCOMPARE(mark, QString("Cancelled"));
            QCOMPARE(fs::exists(output), keep);
            if (keep) QVERIFY(fs::file_size(output) > 0);
        };
        cancelOnce(false);
        QCOMPARE(h_->Settings().ReadString("settings", "KeepCancelledFiles", ""), std::string("0"));
        cancelOnce(true);
        QCOMPARE(h_->Settings().ReadString("settings", "KeepCancelledFiles", ""), std::string("1"));
        SetCheckQuestionHandler(nullptr);
        QCOMPARE(offered, (std::vector<bool>{false, false}));
        QVERIFY(h_->Messages[0].Text.find("Do you really want to cancel the conversion? [Keep") ==
                0);
        // The choice is offered again as it was left.
        bool checked = false;
        SetCheckQuestionHandler(
            [&](const std::string&, const std::string&, const std::string&, bool& box) {
                checked = box;
                return TMsgResult::No;
            });
        auto window = h_->NewWindow();
        // Owned by the window, as the batch's own.
        auto* progress = new TfrmProgress(window.get(), window->CCAVC.get(), &window->PreviewBitmap,
                                          window->btnPause, window->btnResume);
        progress->btnCancelClick();
        SetCheckQuestionHandler(nullptr);
        QVERIFY(checked);
        QVERIFY(!progress->Cancelled());
        TWindowHarness::Dispose(window);
        QCOMPARE(fs::file_size(source), fs::file_size(longClip_));
    }

    // A settings file written by hand naming an output folder that does not
    // exist yet: the window starts with that folder, made, and the
    // converted file lands in it.
    void handWrittenMissingOutputFolderIsMadeAndUsed() {
        const std::string folder = h_->Home("by hand/videos");
        QVERIFY(!fs::exists(h_->Home("by hand")));
        {
            std::ofstream ini(h_->Home("config/vantrel/vantrel.ini"), std::ios::trunc);
            ini << "; written by hand\n[settings]\nOutPutDir=" << folder << "\nFormatCode=204\n";
        }
        const std::size_t filesBefore = FileCount(h_->OutputFolder());
        auto window = h_->NewWindow();
        QCOMPARE(window->edDirectory->text().toStdString(), folder);
        QVERIFY(fs::is_directory(folder));
        QCOMPARE(h_->Settings().ReadString("settings", "OutPutDir", ""), folder);
        TWindowHarness::AddFiles(*window, {tone_});
        QVERIFY(TWindowHarness::PressStart(*window));
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QCOMPARE(window->lvFIles->Row(0)->text(colProgress), QString("100%"));
        const std::string output = folder + "/tone_(new).wav";
        QCOMPARE(testsupport::ProbeValue(output, "format=format_name"), std::string("wav"));
        QCOMPARE(testsupport::ProbeValue(output, "stream=codec_type", "a:0"), std::string("audio"));
        QCOMPARE(FileCount(h_->OutputFolder()), filesBefore); // nothing went to the old one
        TWindowHarness::Dispose(window);
        h_->Settings().WriteString("settings", "OutPutDir", h_->OutputFolder());
    }
};

// The application object with the error reporter, as the program runs: a
// start that throws shows its message box.
int main(int argc, char** argv) {
    TApplication application(argc, argv);
    TestBatch test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_batch.moc"
