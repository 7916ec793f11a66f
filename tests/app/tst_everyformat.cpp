// Every output format converts through the real main window: rows added
// through the open dialog's seam, Start pressed, the modal progress window
// left to run to the batch end, every output checked with ffprobe against
// the format's own settings. Also the start's bad-input cases.
#include "WindowHarness.h"
#include "app/ErrorReporter.h"
#include "app/WinProgress.h"
#include "core/FormatCatalogue.h"
#include "core/GlobalUnit.h"
#include "core/ModernFormats.h"

#include <QProgressBar>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The codec ffprobe names for what each converter encoder writes.
std::string CodecWrittenBy(const std::string& encoder) {
    static const std::map<std::string, std::string> codecs = {{"mpeg4", "mpeg4"},
                                                              {"libxvid", "mpeg4"},
                                                              {"libx264", "h264"},
                                                              {"wmv1", "wmv1"},
                                                              {"wmv2", "wmv2"},
                                                              {"mpeg1video", "mpeg1video"},
                                                              {"mpeg2video", "mpeg2video"},
                                                              {"dvvideo", "dvvideo"},
                                                              {"msmpeg4v2", "msmpeg4v2"},
                                                              {"aac", "aac"},
                                                              {"libfaac", "aac"},
                                                              {"libmp3lame", "mp3"},
                                                              {"mp2", "mp2"},
                                                              {"ac3", "ac3"},
                                                              {"wmav1", "wmav1"},
                                                              {"wmav2", "wmav2"},
                                                              {"pcm_s16le", "pcm_s16le"},
                                                              {"libvorbis", "vorbis"}};
    const auto found = codecs.find(encoder);
    return found == codecs.end() ? "unknown encoder " + encoder : found->second;
}

// The name ffprobe gives the container that a file extension stands for.
std::string ContainerOfExtension(const std::string& ext) {
    static const std::map<std::string, std::string> containers = {
        {"mp4", "mp4"},  {"m4a", "m4a"}, {"wmv", "asf"}, {"wma", "asf"},
        {"mpg", "mpeg"}, {"avi", "avi"}, {"dv", "dv"},   {"mp3", "mp3"},
        {"aac", "aac"},  {"wav", "wav"}, {"ogg", "ogg"}, {"ac3", "ac3"}};
    const auto found = containers.find(ext);
    return found == containers.end() ? "unknown extension " + ext : found->second;
}

bool NamesContainer(const std::string& formatNames, const std::string& container) {
    std::istringstream names(formatNames);
    for (std::string name; std::getline(names, name, ',');)
        if (name == container) return true;
    return false;
}

double Seconds(const std::string& text) {
    try {
        return std::stod(text);
    } catch (const std::exception&) {
        return -1;
    }
}

// Frames per second of a rate such as "30000/1001".
double Rate(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return Seconds(text);
    const double den = Seconds(text.substr(slash + 1));
    return den > 0 ? Seconds(text.substr(0, slash)) / den : -1;
}

using testsupport::FilesIn;

} // namespace

class TestEveryFormat : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::unique_ptr<TfrmMain> window_;
    std::string video_, audio_;
    std::string song_, tune_;   // sound only: MP3 and M4A
    const double length_ = 1.0; // seconds of both sources

    std::string User(int code, const char* key) const {
        return h_->Settings().ReadString(FormatSectionName(code), key, "");
    }
    std::string FileExt(int code) const {
        return TIniFile(window_->Global().FormatFile())
            .ReadString(FormatSectionName(code), "FileExt", "");
    }

    // Converts the given sources with one format into a folder of its own
    // (named by the prefix and the code); returns that folder.
    std::string ConvertWith(int code, const std::vector<std::string>& sources,
                            const std::string& prefix = "") {
        const std::string folder = h_->Output(prefix + std::to_string(code));
        fs::create_directories(folder);
        h_->Settings().WriteString("settings", "OutPutDir", folder);
        h_->ChooseFormat(code);
        window_->btnClearClick();
        TWindowHarness::AddFiles(*window_, sources);
        TWindowHarness::PressStart(*window_);
        return folder;
    }

    void CheckRowsFinished() {
        for (int row = 0; row < window_->lvFIles->RowCount(); ++row)
            QCOMPARE(window_->lvFIles->Row(row)->text(colProgress), QString("100%"));
        QCOMPARE(window_->frmProgress->progbarFile->value(), 100);
    }

    void CheckContainer(const std::string& file, const std::string& ext) {
        QVERIFY2(fs::exists(file), file.c_str());
        const std::string names = testsupport::ProbeValue(file, "format=format_name");
        QVERIFY2(NamesContainer(names, ContainerOfExtension(ext)), names.c_str());
    }

    // Within two frames of the source's length: the video's frames counted
    // at its rate, the audio by the file's duration (encoders pad their
    // last frame).
    void CheckVideoLength(const std::string& file) {
        const double fps = Rate(testsupport::ProbeValue(file, "stream=avg_frame_rate", "v:0"));
        const double frames = Seconds(CountedVideoFrames(file));
        const std::string text =
            file + ": " + std::to_string(frames) + " frames at " + std::to_string(fps) + " fps";
        QVERIFY2(fps > 0 && std::fabs(frames - length_ * fps) <= 2, text.c_str());
    }

    void CheckAudioLength(const std::string& file, double frameSeconds) {
        const double seconds = Seconds(testsupport::ProbeValue(file, "format=duration"));
        const std::string text = file + ": " + std::to_string(seconds) + " s";
        QVERIFY2(std::fabs(seconds - length_) <= 2 * frameSeconds, text.c_str());
    }

    static std::string CountedVideoFrames(const std::string& file) {
        return testsupport::RunCommand("ffprobe -v error -count_frames -select_streams v:0 "
                                       "-show_entries stream=nb_read_frames -of csv=p=0 " +
                                       testsupport::ShellQuote(file))
            .output;
    }

    void CheckAudioStream(const std::string& file, int code) {
        const std::string codec = testsupport::ProbeValue(file, "stream=codec_name", "a:0");
        QCOMPARE(codec, CodecWrittenBy(User(code, "paraAudioEncoder")));
        const std::string rate = User(code, "paraSampleRate");
        if (rate != "as source")
            QCOMPARE(testsupport::ProbeValue(file, "stream=sample_rate", "a:0"), rate);
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        video_ = h_->Media("clip.avi");
        audio_ = h_->Media("tone.wav");
        QVERIFY(testsupport::MakeMedia(
            video_, "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                    "sine=f=440:sample_rate=44100 -t 1 -ac 2 -c:v mpeg4 -q:v 3 -c:a pcm_s16le"));
        QVERIFY(testsupport::MakeMedia(
            audio_, "-f lavfi -i sine=f=330:sample_rate=44100 -t 1 -ac 2 -c:a pcm_s16le"));
        song_ = h_->Media("song.mp3");
        tune_ = h_->Media("tune.m4a");
        QVERIFY(testsupport::MakeMedia(
            song_, "-f lavfi -i sine=f=550:sample_rate=44100 -t 1 -ac 2 -c:a libmp3lame"));
        QVERIFY(testsupport::MakeMedia(
            tune_, "-f lavfi -i sine=f=660:sample_rate=44100 -t 1 -ac 2 -c:a aac"));
        window_ = h_->NewWindow();
    }

    void cleanupTestCase() {
        if (window_) TWindowHarness::Dispose(window_);
        h_.reset();
    }

    void init() { h_->Messages.clear(); }

    void videoFormatConverts_data() {
        QTest::addColumn<int>("code");
        for (int code : FormatCodes())
            if (code < 200) QTest::newRow(FormatCaptionOf(code).c_str()) << code;
    }

    void videoFormatConverts() {
        QFETCH(int, code);
        const std::string folder = ConvertWith(code, {video_});
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        CheckRowsFinished();
        const std::string out = folder + "/clip_(new)." + FileExt(code);
        CheckContainer(out, FileExt(code));
        QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "v:0"),
                 CodecWrittenBy(User(code, "paraVideoEncoder")));
        CheckAudioStream(out, code);
        // The letterbox pads the picture out to the format's frame.
        const std::string size = testsupport::ProbeValue(out, "stream=width", "v:0") + "x" +
                                 testsupport::ProbeValue(out, "stream=height", "v:0");
        QCOMPARE(size, User(code, "paraVideoSize"));
        CheckVideoLength(out);
        CheckAudioLength(out, 2048.0 / 44100);
        QCOMPARE(FilesIn(folder).size(), std::size_t(1));
    }

    // Audio formats take the audio of a video file too.
    void audioFormatConverts_data() {
        QTest::addColumn<int>("code");
        for (int code : FormatCodes())
            if (code >= 200 && !IsModernFormat(code))
                QTest::newRow(FormatCaptionOf(code).c_str()) << code;
    }

    void audioFormatConverts() {
        QFETCH(int, code);
        const std::string folder = ConvertWith(code, {audio_, video_});
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        CheckRowsFinished();
        for (const char* base : {"/tone_(new).", "/clip_(new)."}) {
            const std::string out = folder + base + FileExt(code);
            CheckContainer(out, FileExt(code));
            QVERIFY(testsupport::ProbeValue(out, "stream=codec_type", "v").empty());
            CheckAudioStream(out, code);
            // An audio frame is at most 2048 samples.
            CheckAudioLength(out, 2048.0 / 44100);
        }
        QCOMPARE(FilesIn(folder).size(), std::size_t(2));
    }

    // Sources without a picture convert into every format: the sound alone
    // where the container holds it, and in DV, which needs a picture in
    // every frame, a black one of the format's frame.
    void soundOnlySourceConverts_data() {
        QTest::addColumn<int>("code");
        for (int code : FormatCodes())
            if (!IsModernFormat(code)) QTest::newRow(FormatCaptionOf(code).c_str()) << code;
    }

    void soundOnlySourceConverts() {
        QFETCH(int, code);
        // The formats with a TV target or a picture of their own also take
        // an M4A; every format an MP3.
        const bool targeted = code == 101 || FileExt(code) == "dv";
        std::vector<std::string> sources = {song_};
        if (targeted) sources.push_back(tune_);
        const std::string folder = ConvertWith(code, sources, "sound");
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        CheckRowsFinished();
        for (const std::string& source : sources) {
            const std::string out =
                folder + "/" + fs::path(source).stem().string() + "_(new)." + FileExt(code);
            CheckContainer(out, FileExt(code));
            CheckAudioStream(out, code);
            CheckAudioLength(out, 2048.0 / 44100);
            const std::string video = testsupport::ProbeValue(out, "stream=codec_name", "v");
            if (FileExt(code) != "dv") {
                QCOMPARE(video, std::string());
                continue;
            }
            QCOMPARE(video, std::string("dvvideo"));
            const std::string size = testsupport::ProbeValue(out, "stream=width", "v:0") + "x" +
                                     testsupport::ProbeValue(out, "stream=height", "v:0");
            QCOMPARE(size, User(code, "paraVideoSize"));
            const std::string luma =
                testsupport::RunCommand(
                    "ffmpeg -v error -i " + testsupport::ShellQuote(out) +
                    " -frames:v 1 -vf signalstats,metadata=print:key=lavfi.signalstats.YMAX:file=- "
                    "-f null -")
                    .output;
            const std::size_t at = luma.find("YMAX=");
            QVERIFY2(at != std::string::npos, luma.c_str());
            QVERIFY2(Seconds(luma.substr(at + 5)) <= 20, luma.c_str()); // black
        }
        QCOMPARE(FilesIn(folder).size(), sources.size());
    }

    // The modern formats through the window: their codecs and containers,
    // outputs that decode without an error and last as long as the source.
    void modernFormatConverts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("audio");
        QTest::addColumn<QString>("container");
        const char* const mp4 = "mov,mp4,m4a,3gp,3g2,mj2";
        QTest::newRow("300") << 300 << "hevc"
                             << "aac" << mp4;
        QTest::newRow("301") << 301 << "av1"
                             << "aac" << mp4;
        QTest::newRow("302") << 302 << "vp9"
                             << "opus"
                             << "matroska,webm";
        QTest::newRow("303") << 303 << "mpeg4"
                             << "pcm_s16le"
                             << "matroska,webm";
        QTest::newRow("304") << 304 << ""
                             << "flac"
                             << "flac";
        QTest::newRow("305") << 305 << ""
                             << "opus"
                             << "ogg";
        QTest::newRow("306") << 306 << ""
                             << "alac" << mp4;
    }

    void modernFormatConverts() {
        QFETCH(int, code);
        QFETCH(QString, video);
        QFETCH(QString, audio);
        QFETCH(QString, container);
        const std::string folder = ConvertWith(code, {video_});
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        CheckRowsFinished();
        const std::string out = folder + "/clip_(new)." + FileExt(code);
        QVERIFY2(fs::exists(out), out.c_str());
        QCOMPARE(testsupport::ProbeValue(out, "format=format_name"), container.toStdString());
        QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "v:0"), video.toStdString());
        QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "a:0"), audio.toStdString());
        const std::string errors =
            testsupport::RunCommand("ffmpeg -nostdin -v error -i " + testsupport::ShellQuote(out) +
                                    " -f null -")
                .output;
        QVERIFY2(errors.empty(), errors.c_str());
        const double seconds = Seconds(testsupport::ProbeValue(out, "format=duration"));
        QVERIFY2(std::fabs(seconds - length_) <= 0.2, std::to_string(seconds).c_str());
    }

    // A modern format whose encoder the libraries lack stays in the chooser;
    // Start names the encoder and converts nothing.
    void modernMissingEncoderStopsTheStart() {
        const TEncoderLookup previous =
            SetEncoderLookup([](const std::string& name) { return name != "libsvtav1"; });
        h_->Messages.clear();
        const std::string folder = ConvertWith(301, {video_}, "missing");
        SetEncoderLookup(previous);
        QCOMPARE(int(h_->Messages.size()), 1);
        const std::string& text = h_->Messages[0].Text;
        QVERIFY2(text.find("clip.avi") != std::string::npos &&
                     text.find("The encoder libsvtav1 is not available in the loaded media "
                               "libraries") != std::string::npos,
                 text.c_str());
        QVERIFY(FilesIn(folder).empty());
    }

    // The converter's error reaches the error reporter and names the file;
    // no conversion starts.
    void vanishedSourceFailsTheStart() {
        const std::string gone = h_->Media("gone.avi");
        fs::copy_file(video_, gone, fs::copy_options::overwrite_existing);
        const std::string folder = h_->Output("vanished");
        fs::create_directories(folder);
        h_->Settings().WriteString("settings", "OutPutDir", folder);
        h_->ChooseFormat(102);
        window_->btnClearClick();
        TWindowHarness::AddFiles(*window_, {gone});
        fs::remove(gone);
        h_->Messages.clear();
        bool progressShown = false;
        QTimer::singleShot(0, window_.get(), [&] {
            progressShown = window_->frmProgress && window_->frmProgress->isVisible();
        });
        TWindowHarness::PressStart(*window_);
        QCoreApplication::processEvents();
        const TShownMessage* shown = h_->OnlyMessage("Vantrel", TMsgIcon::Warning);
        QVERIFY(shown);
        QVERIFY2(shown->Text.find("gone.avi") != std::string::npos, shown->Text.c_str());
        QVERIFY(!progressShown);
        QVERIFY(FilesIn(folder).empty());
        QCOMPARE(window_->lvFIles->RowCount(), 1);
        QCOMPARE(window_->lvFIles->Row(0)->text(colProgress), QString());
        QVERIFY(window_->btnAdd->isEnabled() && window_->btnStart->isEnabled());
    }

    // An encoder the installed libraries lack is refused when the task's
    // output is set: the error reporter names it and nothing is converted.
    void missingEncoderStopsTheStart() {
        const std::string section = FormatSectionName(104);
        const std::string encoder = User(104, "paraVideoEncoder");
        h_->Settings().WriteString(section, "paraVideoEncoder", "msmpeg4v1");
        const std::string folder = h_->Output("noencoder");
        fs::create_directories(folder);
        h_->Settings().WriteString("settings", "OutPutDir", folder);
        h_->ChooseFormat(104);
        window_->btnClearClick();
        TWindowHarness::AddFiles(*window_, {video_});
        h_->Messages.clear();
        TWindowHarness::PressStart(*window_);
        h_->Settings().WriteString(section, "paraVideoEncoder", encoder);
        QCOMPARE(int(h_->Messages.size()), 1);
        QCOMPARE(h_->Messages[0].Icon, TMsgIcon::Warning);
        QVERIFY2(h_->Messages[0].Text.find("msmpeg4v1") != std::string::npos, h_->FirstMessage());
        QCOMPARE(window_->lvFIles->Row(0)->text(colProgress), QString());
        QVERIFY(FilesIn(folder).empty());
    }

    // The folder rule: a warning, then the default folder takes the files.
    void outputFolderThatCannotBeCreated() {
        h_->ChooseFormat(204);
        window_->btnClearClick();
        h_->Settings().WriteString("settings", "OutPutDir", h_->Output("204"));
        TWindowHarness::AddFiles(*window_, {audio_});
        const std::string blocker = h_->Home("blocker");
        { std::ofstream(blocker) << "a file, not a folder"; }
        const std::string bad = blocker + "/out";
        h_->Settings().WriteString("settings", "OutPutDir", bad);
        h_->Messages.clear();
        TWindowHarness::PressStart(*window_);
        const std::string fallback = DefaultOutputFolder();
        QCOMPARE(int(h_->Messages.size()), 1);
        QCOMPARE(h_->Messages[0].Caption, std::string("Warning"));
        QCOMPARE(h_->Messages[0].Text, "Cannot create output directory:" + bad +
                                           ".It will create default directory " + fallback + "!");
        QCOMPARE(h_->Settings().ReadString("settings", "OutPutDir", ""), fallback);
        CheckRowsFinished();
        CheckContainer(fallback + "/tone_(new).wav", "wav");
    }
};

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    QApplication::setApplicationName("Vantrel");
    TestEveryFormat test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_everyformat.moc"
