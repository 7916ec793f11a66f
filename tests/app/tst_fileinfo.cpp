// The file information dialog opened from the Edit menu on generated
// sources, its texts checked against ffprobe.
#include "WindowHarness.h"
#include "WindowShot.h"
#include "app/WinFileInfo.h"
#include "engine/FFmpegVCL.h"

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
    QStringList Video, Audio; // format, resolution, bit rate, rate num, rate den; audio four
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

    static QStringList ProbedVideo(const std::string& file) {
        const QStringList rate = Probed(file, "stream=r_frame_rate", "v:0").split('/');
        return {Probed(file, "format=format_name", ""),
                Probed(file, "stream=width", "v:0") + "x" + Probed(file, "stream=height", "v:0"),
                Probed(file, "stream=bit_rate", "v:0"), rate.value(0), rate.value(1)};
    }

    static QStringList ProbedAudio(const std::string& file) {
        return {Probed(file, "stream=codec_name", "a:0"), Probed(file, "stream=bit_rate", "a:0"),
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
        QCOMPARE(TfrmFileInfo::AudioFormatWord("  Stream #0.1: Audio: mp3, 44100 Hz, stereo"),
                 QString("mp3"));
        QCOMPARE(TfrmFileInfo::AudioFormatWord("Video: h264, yuv420p"), QString());
        QCOMPARE(TfrmFileInfo::AudioFormatWord("Audio: flac"), QString());
        // The codec tag that follows the word is left out.
        QCOMPARE(TfrmFileInfo::AudioFormatWord("Stream #0, 1/44100: Audio: mp2 (P[0][0][0] / "
                                               "0x0050), 44100 Hz, mono, s16p, 64 kb/s"),
                 QString("mp2"));
    }

    void clipShowsWhatFfprobeSays() {
        const TShownInfo shown = ShowInfo(0);
        QVERIFY(shown.Shown);
        QCOMPARE(shown.Caption, QString("File information"));
        QCOMPARE(shown.Unnamed, QStringList());
        QCOMPARE(shown.Name, TfrmFileInfo::ShortSourceName(Text(clip_)));
        QCOMPARE(shown.Length, DurationOf(clip_));
        QCOMPARE(shown.Video, ProbedVideo(clip_));
        QCOMPARE(shown.Audio, ProbedAudio(clip_));
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
        QStringList video = ProbedVideo(silent_);
        QCOMPARE(video.value(3), QString("30000"));
        QCOMPARE(video.value(4), QString("1001"));
        QCOMPARE(silent.Video, video);
        QCOMPARE(silent.Audio, QStringList({"", "", "", ""}));
        const TShownInfo none = ShowInfo(-1);
        QVERIFY(none.Shown && none.Name.isEmpty() && none.Length.isEmpty());
        QCOMPARE(none.Video, silent.Video);
        QVERIFY(h_->Messages.empty());
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
