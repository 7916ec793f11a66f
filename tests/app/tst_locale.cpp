// A user with a decimal-comma locale (German) converts from the main
// window: the toolkit keeps the user's locale for its own texts, while every
// number the program and the media libraries read or write uses ".".
#include "WindowHarness.h"
#include "app/ErrorReporter.h"

#include <QLocale>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr const char* kLocale = "de_DE.UTF-8";

// Makes the German locale available to this process: the system's when it
// is installed, else one generated into the build folder.
bool PrepareDecimalCommaLocale() {
    ::setenv("LC_ALL", kLocale, 1);
    if (std::setlocale(LC_ALL, "")) return true;
    const std::string folder = VANTREL_LOCALE_DIR;
    const std::string target = folder + "/" + kLocale;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::exists(target + "/LC_NUMERIC"))
        std::system(
            ("localedef -i de_DE -f UTF-8 " + testsupport::ShellQuote(target) + " >/dev/null 2>&1")
                .c_str());
    ::setenv("LOCPATH", folder.c_str(), 1);
    return std::setlocale(LC_ALL, "") != nullptr;
}

} // namespace

class TestLocale : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;

private slots:
    void initTestCase() { h_ = std::make_unique<TWindowHarness>(); }
    void cleanupTestCase() { h_.reset(); }

    void toolkitKeepsTheLocaleNumbersDoNot() {
        QCOMPARE(QLocale().decimalPoint(), QString(","));
        QCOMPARE(std::string(std::localeconv()->decimal_point), std::string("."));
        QVERIFY(std::string(std::setlocale(LC_CTYPE, nullptr)).find("de_DE") == 0);
    }

    // MP4 with H.264: the libx264 preset's "i_qfactor=0.71", the format's
    // 29.97 frames per second and its bit rates all go through the
    // libraries' number reader.
    void h264ConversionFromTheWindow() {
        const std::string clip = h_->MakeClip("clip.avi");
        QVERIFY(!clip.empty());
        h_->ChooseFormat(103);
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, {clip});
        QCOMPARE(window->lvFIles->RowCount(), 1);
        TWindowHarness::PressStart(*window);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        const std::string out = h_->Output("clip_(new).mp4");
        QVERIFY(std::filesystem::exists(out));
        QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "v:0"), std::string("h264"));
        const std::string rate = testsupport::ProbeValue(out, "stream=avg_frame_rate", "v:0");
        const std::size_t slash = rate.find('/');
        QVERIFY2(slash != std::string::npos, rate.c_str());
        const double fps = std::stod(rate.substr(0, slash)) / std::stod(rate.substr(slash + 1));
        QVERIFY2(std::abs(fps - 29.97) < 0.01, rate.c_str());
        QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "a:0"), std::string("aac"));
        TWindowHarness::Dispose(window);
    }
};

int main(int argc, char** argv) {
    if (!PrepareDecimalCommaLocale()) {
        std::fprintf(stderr, "FAIL: the locale %s could not be installed or generated\n", kLocale);
        return 1;
    }
    std::setlocale(LC_NUMERIC, "C"); // as the program's own main does first
    TApplication application(argc, argv);
    QApplication::setApplicationName("Vantrel");
    TestLocale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_locale.moc"
