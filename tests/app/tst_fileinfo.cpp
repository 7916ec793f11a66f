// The file information dialog opened from the Edit menu on generated
// sources, its texts checked against ffprobe.
#include "WindowHarness.h"
#include "WindowShot.h"
#include "app/WinFileInfo.h"
#include "engine/FFmpegVCL.h"
#include "probe/StreamFacts.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct TShownInfo {
    bool Shown = false;
    QString Caption, Name, Length;
    QStringList Unnamed;
    QStringList Video, Audio; // codec, resolution, bit rate, frame rate, frames; audio four
};

QString Text(const std::string& value) {
    return QString::fromStdString(value);
}

QString DurationOf(const std::string& file) {
    const double seconds = std::stod(testsupport::ProbeValue(file, "format=duration"));
    const int64_t us = std::llround(seconds * 1e6);
    return QString::asprintf("%d.%.3d Second", int(us / 1000000), int((us / 1000) % 1000));
}

} // namespace

class TestFileInfo : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::unique_ptr<TfrmMain> window_;
    std::string clip_, tone_, silent_, wide_;
    int shots_ = 0;

    // Opens the dialog from the Edit menu for the selected row (none for
    // -1), reads what it shows and closes it with Ok.
    TShownInfo ShowInfo(int row) {
        if (row >= 0)
            window_->lvFIles->SelectRow(row);
        else
            window_->lvFIles->clearSelection();
        TShownInfo shown;
        QTimer::singleShot(0, window_.get(), [&] {
            TfrmFileInfo* d = window_->frmFileInfo;
            if (!d || !d->isVisible()) return;
            shown.Shown = true;
            shown.Caption = d->windowTitle();
            SaveShot(*d, "fileinfo-" + std::to_string(++shots_));
            shown.Unnamed = UnnamedControls(*d);
            shown.Name = d->lblSourceName->text();
            shown.Length = d->lblFileLength->text();
            for (QLineEdit* e :
                 {d->edtFormat, d->edtResloution, d->edtBitRate, d->edtFrameRate, d->edtTotalFrame})
                shown.Video << e->text();
            for (QLineEdit* e :
                 {d->edtAudioForamt, d->edtAudioBitRate, d->edtSampleRate, d->edtChannel})
                shown.Audio << e->text();
            QTest::mouseClick(d->btn1, Qt::LeftButton);
        });
        QAction* entry = nullptr;
        for (QAction* action : window_->suiPopupMenuEdit->actions())
            if (action->text() == "Video &Information") entry = action;
        if (entry) entry->trigger();
        return shown;
    }

    static QString Probed(const std::string& file, const std::string& entry,
                          const std::string& select) {
        return Text(testsupport::ProbeValue(file, entry, select));
    }

    // The codec's name, rate and frame count as a person reads them; the
    // picture size and bit rate as ffprobe gives them.
    static QStringList ProbedVideo(const std::string& file, const QString& codec,
                                   const QString& rate, const QString& frames) {
        return {codec,
                Probed(file, "stream=width", "v:0") + "x" + Probed(file, "stream=height", "v:0"),
                Probed(file, "stream=bit_rate", "v:0"), rate, frames};
    }

    static QStringList ProbedAudio(const std::string& file, const QString& codec) {
        return {codec, Probed(file, "stream=bit_rate", "a:0"),
                Probed(file, "stream=sample_rate", "a:0"), Probed(file, "stream=channels", "a:0")};
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        clip_ = h_->MakeClip("clip.avi");
        tone_ = h_->MakeTone("tone.wav");
        silent_ = h_->Media("silent.avi");
        QVERIFY(!clip_.empty() && !tone_.empty());
        QVERIFY(testsupport::MakeMedia(
            silent_,
            "-f lavfi -i testsrc2=size=176x144:rate=30000/1001 -t 1 -c:v mpeg4 -b:v 200k"));
        wide_ = h_->Media("wide.avi");
        QVERIFY(testsupport::MakeMedia(wide_, "-f lavfi -i testsrc2=size=360x240:rate=25 -vf "
                                              "setsar=32/27 -t 0.4 -c:v mpeg4"));
        window_ = h_->NewWindow();
        TWindowHarness::AddFiles(*window_, {clip_, tone_, silent_, wide_});
        QCOMPARE(window_->lvFIles->RowCount(), 4);
    }

    void cleanupTestCase() {
        TWindowHarness::Dispose(window_);
        h_.reset();
    }

    void shortNamesAndDurations() {
        const QString whole = "/" + QString(40, 'a') + ".avi";
        QCOMPARE(whole.size(), 45);
        QCOMPARE(TfrmFileInfo::ShortSourceName(whole), whole);
        const QString longer = "/" + QString(40, 'b') + ".mpeg"; // 46
        QCOMPARE(TfrmFileInfo::ShortSourceName(longer), longer.left(40) + "...mpeg  ");
        QCOMPARE(TfrmFileInfo::DurationText(83'520'000), QString("83.520 Second"));
        QCOMPARE(TfrmFileInfo::DurationText(-1), QString("0.000 Second"));
        QCOMPARE(TfrmFileInfo::DurationText(1'999'999), QString("1.999 Second"));
        QCOMPARE(CodecTitleOf("H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10", "High"),
                 std::string("H.264 (High)"));
        QCOMPARE(CodecTitleOf("MP2 (MPEG audio layer 2)", ""), std::string("MP2"));
        QCOMPARE(FrameRateText(30000.0 / 1001), std::string("29.97"));
        QCOMPARE(FrameRateText(24000.0 / 1001), std::string("23.976"));
        QCOMPARE(FrameRateText(12.5), std::string("12.5"));
        QCOMPARE(FrameRateText(0), std::string());
        QCOMPARE(FrameCountText(150, true), std::string("about 150"));
        QCOMPARE(FrameCountText(-1, false), std::string());
    }

    void clipShowsWhatFfprobeSays() {
        const TShownInfo shown = ShowInfo(0);
        QVERIFY(shown.Shown);
        QCOMPARE(shown.Caption, QString("File information"));
        QCOMPARE(shown.Unnamed, QStringList());
        QCOMPARE(shown.Name, TfrmFileInfo::ShortSourceName(Text(clip_)));
        QCOMPARE(shown.Length, DurationOf(clip_));
        QCOMPARE(shown.Video, ProbedVideo(clip_, "MPEG-4 part 2 (Simple Profile)", "25", "50"));
        QCOMPARE(shown.Audio, ProbedAudio(clip_, "MP2"));
        QCOMPARE(window_->frmFileInfo->CCAVC->TaskCount(), 0);
    }

    // Audio only: name and duration empty, the boxes as the last showing
    // left them. Then video only: the audio boxes empty. Each showing reads
    // the row selected now.
    void eachShowingReadsTheSelectedRow() {
        const TShownInfo clip = ShowInfo(0);
        const TShownInfo tone = ShowInfo(1);
        QVERIFY(tone.Shown);
        QVERIFY(tone.Name.isEmpty() && tone.Length.isEmpty());
        QCOMPARE(tone.Video, clip.Video);
        QCOMPARE(tone.Audio, clip.Audio);
        const TShownInfo silent = ShowInfo(2);
        QCOMPARE(silent.Name, TfrmFileInfo::ShortSourceName(Text(silent_)));
        QCOMPARE(silent.Length, DurationOf(silent_));
        // An NTSC rate reads as a rate, not as its numerator.
        QCOMPARE(silent.Video, ProbedVideo(silent_, "MPEG-4 part 2 (Simple Profile)", "29.97",
                                           Probed(silent_, "stream=nb_frames", "v:0")));
        QCOMPARE(silent.Audio, QStringList({"", "", "", ""}));
        const TShownInfo none = ShowInfo(-1);
        QVERIFY(none.Shown && none.Name.isEmpty() && none.Length.isEmpty());
        QCOMPARE(none.Video, silent.Video);
        QVERIFY(h_->Messages.empty());
    }

    // Six seconds at 25 frames a second: 150 frames, counted by the
    // container (AVI, MP4) or estimated from the duration (Matroska keeps
    // no count); the codecs by their names and profiles.
    void framesAndRateOfASixSecondClip() {
        const std::string avi = h_->Media("six.avi"), mp4 = h_->Media("six.mp4"),
                          mkv = h_->Media("six.mkv");
        const std::string picture = "-f lavfi -i testsrc2=size=160x120:rate=25 -t 6 ";
        QVERIFY(testsupport::MakeMedia(avi, picture + "-c:v mpeg4"));
        QVERIFY(testsupport::MakeMedia(
            mp4, picture + "-f lavfi -i sine -t 6 -c:v libx264 -profile:v high -c:a aac"));
        QVERIFY(testsupport::MakeMedia(mkv, picture + "-c:v mpeg4"));
        QCOMPARE(Probed(mkv, "stream=nb_frames", "v:0"), QString("N/A"));
        const int first = window_->lvFIles->RowCount();
        TWindowHarness::AddFiles(*window_, {avi, mp4, mkv});
        QCOMPARE(window_->lvFIles->RowCount(), first + 3);
        const TShownInfo shownAvi = ShowInfo(first);
        QCOMPARE(shownAvi.Video.value(3), QString("25"));
        QCOMPARE(shownAvi.Video.value(4), QString("150"));
        const TShownInfo shownMp4 = ShowInfo(first + 1);
        QCOMPARE(shownMp4.Video, ProbedVideo(mp4, "H.264 (High)", "25", "150"));
        QCOMPARE(shownMp4.Audio, ProbedAudio(mp4, "AAC (LC)"));
        const TShownInfo shownMkv = ShowInfo(first + 2);
        QCOMPARE(shownMkv.Video.value(3), QString("25"));
        QCOMPARE(shownMkv.Video.value(4), QString("about 150"));
        for (int row = first + 2; row >= first; --row) {
            window_->lvFIles->SelectRow(row);
            window_->btnRemoveClick();
        }
    }

    // An interlaced 25 frames a second MPEG-2 transport stream, as a TV
    // recording has it: 25 frames a second, counted from its duration.
    void interlacedTransportStreamRate() {
        const std::string ts = h_->Media("tv.ts");
        QVERIFY(testsupport::MakeMedia(
            ts, "-f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine -t 2 -c:v mpeg2video "
                "-flags +ilme+ildct -top 1 -c:a mp2 -f mpegts"));
        TWindowHarness::AddFiles(*window_, {ts});
        const int row = window_->lvFIles->RowCount() - 1;
        const TShownInfo shown = ShowInfo(row);
        QCOMPARE(shown.Video.value(0), QString("MPEG-2 video (Main)"));
        QCOMPARE(shown.Video.value(3), QString("25"));
        QCOMPARE(shown.Video.value(4), QString("about 50"));
        window_->lvFIles->SelectRow(row);
        window_->btnRemoveClick();
    }

    // Pixels of 32:27 (a 16:9 DVD's): the size as the picture is shown,
    // 360 x 32 / 27 = 426.7 pixels wide.
    void nonSquarePixelsShowTheShownSize() {
        const TShownInfo wide = ShowInfo(3);
        QVERIFY(wide.Shown);
        QCOMPARE(Probed(wide_, "stream=width", "v:0"), QString("360"));
        QCOMPARE(wide.Video.value(1), QString("427x240"));
    }

    void longNameIsShortened() {
        const std::string base = h_->Media("");
        const std::string name = base + std::string(60, 'n') + ".avi";
        fs::copy_file(clip_, name, fs::copy_options::overwrite_existing);
        TWindowHarness::AddFiles(*window_, {name});
        const int row = window_->lvFIles->RowCount() - 1;
        const TShownInfo shown = ShowInfo(row);
        QCOMPARE(shown.Name, Text(name).left(40) + "...avi  ");
        QCOMPARE(window_->frmFileInfo->lblSourceName->width(), 270);
        // A vanished source: nothing shown, no message.
        fs::remove(name);
        const TShownInfo gone = ShowInfo(row);
        QVERIFY(gone.Shown && gone.Name.isEmpty() && gone.Length.isEmpty());
        QVERIFY(h_->Messages.empty());
        window_->lvFIles->SelectRow(row);
        window_->btnRemoveClick();
    }
};

QTEST_MAIN(TestFileInfo)
#include "tst_fileinfo.moc"
