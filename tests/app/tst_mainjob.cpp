// The main job as a user meets it, through the real main window: the names
// the list shows, the messages of an add and of a start that stops, what a
// stopped start leaves on disk, the TV shape of the MPEG formats' pictures
// and the progress window's questions.
#include "WindowHarness.h"
#include "app/ErrorReporter.h"
#include "app/WinProgress.h"
#include "core/GlobalUnit.h"
#include "engine/FFmpegVCL.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

using testsupport::FilesIn;

void WriteRandomBytes(const std::string& file) {
    std::mt19937 random(23);
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < 20000; ++i)
        out.put(static_cast<char>(random() & 0xFF));
}

// Presses the left button on a row of the format list at horizontal position x.
void PressRow(TFormatList* list, int row, int x) {
    const QRect r = list->visualItemRect(list->item(row));
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, QPoint(x, r.center().y()));
}

int RowOf(TFormatList* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == text) return i;
    return -1;
}

// Width x height of the picture inside the black bars of a file's first
// frames, as ffmpeg's crop detection sees it.
std::string PictureInsideBars(const std::string& file) {
    const std::string log =
        testsupport::RunCommand("ffmpeg -hide_banner -i " + testsupport::ShellQuote(file) +
                                " -vf cropdetect=limit=0.1:round=2:reset=0 -frames:v 5 -f null -")
            .output;
    const std::size_t at = log.rfind("crop=");
    if (at == std::string::npos) return log;
    const std::string crop =
        log.substr(at + 5, log.find_first_not_of("0123456789:", at + 5) - at - 5);
    const std::size_t colon = crop.find(':');
    return crop.substr(0, colon) + "x" +
           crop.substr(colon + 1, crop.find(':', colon + 1) - colon - 1);
}

double Ratio(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return -1;
    const double den = std::atof(text.c_str() + colon + 1);
    return den > 0 ? std::atof(text.c_str()) / den : -1;
}

} // namespace

class TestMainJob : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::unique_ptr<TfrmMain> window_;
    std::string clip_, tone_, wide_, longClip_;
    TMsgResult answer_ = TMsgResult::Yes;

    std::string Folder(const std::string& name) {
        const std::string folder = h_->Output(name);
        fs::create_directories(folder);
        h_->Settings().WriteString("settings", "OutPutDir", folder);
        return folder;
    }

    QString Destination(int row) const { return window_->lvFIles->Row(row)->text(colDestination); }
    QString Progress(int row) const { return window_->lvFIles->Row(row)->text(colProgress); }

    // Picks a format of the video category in the chooser, as a user does.
    void PickVideoFormat(const QString& caption) {
        TFormatList* list = window_->lst1;
        window_->imgbtn1->click();
        QVERIFY(list->isVisible());
        if (RowOf(list, caption) < 0) PressRow(list, 1, 5); // open the category
        const int row = RowOf(list, caption);
        QVERIFY(row > 0);
        PressRow(list, row, 60);
        QCOMPARE(window_->edt1->text(), caption);
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        SetMessageHandler([this](const std::string& caption, const std::string& text, TMsgIcon icon,
                                 TMsgButtons buttons) {
            h_->Messages.push_back({caption, text, icon});
            return buttons == TMsgButtons::YesNo ? answer_ : TMsgResult::Ok;
        });
        clip_ = h_->MakeClip("clip.avi");
        tone_ = h_->MakeTone("tone.wav");
        wide_ = h_->Media("wide.avi");
        longClip_ = h_->Media("long.avi");
        QVERIFY(!clip_.empty() && !tone_.empty());
        QVERIFY(testsupport::MakeMedia(wide_, "-f lavfi -i color=c=white:s=320x180:rate=25 -f "
                                              "lavfi -i sine -t 1 -c:v mpeg4 -q:v 2 -c:a mp2"));
        QVERIFY(testsupport::MakeMedia(
            longClip_, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 30 -c:v mpeg4 -q:v 10"));
        window_ = h_->NewWindow();
    }

    void cleanupTestCase() {
        answer_ = TMsgResult::Yes;
        if (window_) TWindowHarness::Dispose(window_);
        h_.reset();
    }

    void init() {
        answer_ = TMsgResult::Yes;
        h_->Messages.clear();
        window_->btnClearClick();
    }

    // Random bytes named ".mp4" among good files: the good ones are added,
    // one message says which were not and why.
    void addReportsTheFilesItSkips() {
        Folder("add");
        const std::string broken = h_->Media("random.mp4");
        const std::string empty = h_->Media("empty.mp4");
        WriteRandomBytes(broken);
        { std::ofstream touch(empty); }
        TWindowHarness::AddFiles(*window_, {clip_, broken, tone_, empty});
        QCOMPARE(window_->lvFIles->RowCount(), 2);
        QCOMPARE(int(h_->Messages.size()), 1);
        const TShownMessage& shown = h_->Messages[0];
        QCOMPARE(shown.Caption, std::string("Warning"));
        QCOMPARE(shown.Icon, TMsgIcon::Warning);
        const std::string expected = "These files could not be added:\n" + broken +
                                     ": Invalid data found when processing input\n" + empty + ": ";
        QCOMPARE(shown.Text.substr(0, expected.size()), expected);
        QVERIFY2(shown.Text.find('\n', expected.size()) == std::string::npos, shown.Text.c_str());
        // Nothing to report: no message.
        h_->Messages.clear();
        TWindowHarness::AddFiles(*window_, {h_->MakeTone("second.wav")});
        QCOMPARE(window_->lvFIles->RowCount(), 3);
        QVERIFY(h_->Messages.empty());
    }

    // The column names the file the format in use writes, follows a change
    // of format, and after Start shows what each task wrote; two sources of
    // one name never share an output.
    void destinationColumnTellsTheTruth() {
        const std::string folder = Folder("names");
        h_->ChooseFormat(102);
        const std::string twin = h_->Media("other/clip.avi");
        fs::create_directories(fs::path(twin).parent_path());
        fs::copy_file(clip_, twin, fs::copy_options::overwrite_existing);
        TWindowHarness::AddFiles(*window_, {clip_, twin});
        QCOMPARE(Destination(0), QString("clip_(new).mp4"));
        QCOMPARE(Destination(1), QString("clip_(new_1).mp4"));
        PickVideoFormat("AVI Video (*.avi)");
        QCOMPARE(Destination(0), QString("clip_(new).avi"));
        QCOMPARE(Destination(1), QString("clip_(new_1).avi"));
        TWindowHarness::PressStart(*window_);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        QCOMPARE(FilesIn(folder).size(), std::size_t(2));
        QVERIFY(fs::exists(folder + "/clip_(new).avi") && fs::exists(folder + "/clip_(new_1).avi"));
        QCOMPARE(window_->lvFIles->Row(1)->Record.DestinationFile, folder + "/clip_(new_1).avi");
        // The next start writes beside them and says so.
        TWindowHarness::PressStart(*window_);
        QCOMPARE(Destination(0), QString("clip_(new_2).avi"));
        QCOMPARE(Destination(1), QString("clip_(new_3).avi"));
        QVERIFY(fs::exists(folder + "/clip_(new_2).avi") &&
                fs::exists(folder + "/clip_(new_3).avi"));
    }

    // A start that stops on a row names the row's file and the reason,
    // leaves no file behind, and has cleared the Progress column of the
    // checked rows; an unchecked row keeps what it had.
    void stoppedStartLeavesNothing() {
        const std::string folder = Folder("stopped");
        h_->ChooseFormat(102);
        const std::string doomed = h_->Media("doomed.avi");
        fs::copy_file(clip_, doomed, fs::copy_options::overwrite_existing);
        TWindowHarness::AddFiles(*window_, {clip_, tone_, doomed});
        TWindowHarness::PressStart(*window_);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(Progress(row), QString("100%"));
        for (const std::string& name : FilesIn(folder))
            fs::remove(folder + "/" + name);
        window_->lvFIles->SetChecked(1, false);
        fs::remove(doomed);
        h_->Messages.clear();
        TWindowHarness::PressStart(*window_);
        QCoreApplication::processEvents();
        const TShownMessage* shown = h_->OnlyMessage("Vantrel", TMsgIcon::Warning);
        QVERIFY(shown);
        QCOMPARE(shown->Text, "Cannot convert " + doomed + ": No such file or directory.");
        QCOMPARE(FilesIn(folder), std::vector<std::string>());
        QCOMPARE(Progress(0), QString());
        QCOMPARE(Progress(1), QString("100%"));
        QCOMPARE(Progress(2), QString());
        QCOMPARE(window_->CCAVC->TaskCount(), 0);
        QVERIFY(window_->btnAdd->isEnabled() && window_->btnStart->isEnabled());
    }

    // DVD and VCD pictures have the TV's 4:3 shape: a 16:9 source takes
    // three quarters of the lines between black bars.
    void tvFormatsLetterboxInFourByThree_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("sampleAspect");
        QTest::addColumn<QString>("picture");
        QTest::newRow("MPEG-2 720x480") << 101 << "8:9"
                                        << "720x360";
        // MPEG-1 keeps the nearest pixel shape of its table to 10:11.
        QTest::newRow("MPEG-1 352x240") << 100 << "200:219"
                                        << "352x180";
    }

    void tvFormatsLetterboxInFourByThree() {
        QFETCH(int, code);
        QFETCH(QString, sampleAspect);
        QFETCH(QString, picture);
        const std::string folder = Folder("tv" + std::to_string(code));
        h_->ChooseFormat(code);
        TWindowHarness::AddFiles(*window_, {wide_});
        TWindowHarness::PressStart(*window_);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        const std::string out = folder + "/wide_(new).mpg";
        const std::string sar = testsupport::ProbeValue(out, "stream=sample_aspect_ratio", "v:0");
        QCOMPARE(QString::fromStdString(sar), sampleAspect);
        const std::string dar = testsupport::ProbeValue(out, "stream=display_aspect_ratio", "v:0");
        QVERIFY2(std::abs(Ratio(dar) - 4.0 / 3.0) < 0.01, dar.c_str());
        QCOMPARE(QString::fromStdString(PictureInsideBars(out)), picture);
    }

    // Escape and the title bar's close ask first; "No" goes on converting.
    // The heading says when the batch is paused.
    void progressWindowAsksBeforeCancelling() {
        Folder("asked");
        h_->ChooseFormat(102);
        TWindowHarness::AddFiles(*window_, {longClip_});
        TfrmMain* w = window_.get();
        const TPreviewBitmapEvent shown = w->CCAVC->OnPreviewBitmap;
        QString pausedHeading, resumedHeading;
        bool keptAfterEscape = false, keptAfterClose = false;
        w->CCAVC->OnPreviewBitmap = [&](TCustomFFmpegVCL* s, const TPreviewInfo& i) {
            shown(s, i);
            if (w->frmProgress->btnResume->isEnabled() || !pausedHeading.isEmpty()) return;
            w->frmProgress->btnPauseClick();
            QTimer::singleShot(0, w, [&] {
                TfrmProgress* p = w->frmProgress;
                pausedHeading = p->lblHeading->text();
                answer_ = TMsgResult::No;
                QTest::keyClick(p, Qt::Key_Escape);
                keptAfterEscape = p->isVisible();
                if (p->windowHandle()) p->windowHandle()->close();
                keptAfterClose = p->isVisible();
                p->btnResumeClick();
                resumedHeading = p->lblHeading->text();
                p->btnPauseClick();
                answer_ = TMsgResult::Yes;
                QTest::keyClick(p, Qt::Key_Escape);
            });
        };
        TWindowHarness::PressStart(*window_);
        w->CCAVC->OnPreviewBitmap = shown;
        QCOMPARE(pausedHeading, QString("Paused"));
        QCOMPARE(resumedHeading, QString("Converting"));
        QVERIFY(keptAfterEscape);
        QVERIFY(keptAfterClose);
        QVERIFY(!w->frmProgress->isVisible());
        QVERIFY(Progress(0) != "100%");
        QCOMPARE(int(h_->Messages.size()), 3);
        for (const TShownMessage& m : h_->Messages) {
            QCOMPARE(m.Text, std::string("Do you really want to cancel the conversion?"));
            QCOMPARE(m.Icon, TMsgIcon::Question);
        }
    }
};

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    QApplication::setApplicationName("Vantrel");
    TestMainJob test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainjob.moc"
