// The main window's batch and vantrel-convert --format start from different
// rows: the window's row is made by its add and changed as the edit dialogs
// store their settings, the tool's is made from its command-line edits.
// Planned by the batch core as each of them plans, they must give the
// converter the same option records, field by field, for every format and
// every kind of edit.
#include "WindowHarness.h"

#include "FormatRow.h"
#include "core/BatchPlan.h"
#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "engine/FFmpegRecordOptions.h"
#include "engine/FFmpegVCL.h"

#include <functional>
#include <stdexcept>

namespace {

constexpr int64_t kSecond = 1000000;

// One kind of edit: the row as the window's dialogs leave it, the tool's
// arguments for the same edit, and the format's settings both read.
struct TEditCase {
    const char* Name;
    std::function<void(TlvFilesRecord&)> Window;
    std::vector<std::string> Tool;
    std::vector<std::pair<std::string, std::string>> FormatSettings;
};

QString Describe(const TRecordOption& option) {
    return QString::fromStdString(option.Name + "=" + OptionValueText(option.Value) +
                                  (option.Given ? "" : " (not given)"));
}

// Equal option by option; the first difference names the option.
void CompareOptions(const TRecordOptions& window, const TRecordOptions& tool, const char* what) {
    const int common = static_cast<int>(std::min(window.size(), tool.size()));
    for (int i = 0; i < common; ++i)
        QVERIFY2(Describe(window[i]) == Describe(tool[i]) && window[i].Route == tool[i].Route,
                 qPrintable(QString("%1 option %2: window %3, tool %4")
                                .arg(what)
                                .arg(i)
                                .arg(Describe(window[i]), Describe(tool[i]))));
    QVERIFY2(window.size() == tool.size(), qPrintable(QString("%1: window has %2 options, tool %3")
                                                          .arg(what)
                                                          .arg(window.size())
                                                          .arg(tool.size())));
}

} // namespace

class TestBatchPaths : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::string clip_, picture_;
    TlvFilesRecord listed_; // the clip's row as the window's add made it

    std::vector<TEditCase> Cases() const {
        const std::string picture = picture_;
        return {
            {"no edits", [](TlvFilesRecord&) {}, {}, {}},
            {"trim",
             [](TlvFilesRecord& row) {
                 row.TrimStart = 1 * kSecond;
                 row.TrimLength = 1 * kSecond;
             },
             {"--trim", "1,1"},
             {}},
            {"crop and effects",
             [](TlvFilesRecord& row) {
                 row.CropTop = 10, row.CropLeft = 20, row.CropBottom = 30, row.CropRight = 40;
                 row.Brightness = 300, row.Contrast = 20, row.Saturation = 180;
                 row.Exposure = 60;
             },
             {"--crop", "10,20,30,40", "--brightness", "300", "--contrast", "20", "--saturation",
              "180", "--exposure", "60"},
             {}},
            {"text layer",
             [](TlvFilesRecord& row) {
                 TWmRec layer;
                 layer.Kind = kWmTextLayer;
                 layer.Text = "Vantrel";
                 layer.TextLeft = 10, layer.TextTop = 8, layer.TextAlpha = 125;
                 layer.StartTime = 0, layer.EndTime = row.Duration;
                 row.Watermarks.push_back(layer);
             },
             {"--text", "Vantrel@10,8"},
             {}},
            {"image layer",
             [picture](TlvFilesRecord& row) {
                 TWmRec layer;
                 layer.Kind = kWmImageLayer;
                 layer.ImageFile = picture;
                 layer.ImageLeft = 100, layer.ImageTop = 70, layer.ImageAlpha = 200;
                 layer.StartTime = 0, layer.EndTime = row.Duration;
                 row.Watermarks.push_back(layer);
             },
             {"--image", picture + "@100,70,200"},
             {}},
            // The row's zoom mode was read when it was added; the plan reads
            // the format's again.
            {"frame size and zoom",
             [](TlvFilesRecord& row) { row.CropTop = 20, row.CropBottom = 20; },
             {"--crop", "20,0,20,0"},
             {{"paraVideoSize", "320x240"}, {"paraZoom", "pan"}}},
        };
    }

    void ComparePlans(int code, const TEditCase& edit) {
        TGlobalObject g;
        InitGlobalObject(g);
        for (const auto& [key, value] : edit.FormatSettings)
            QVERIFY(g.Settings().WriteString(FormatSectionName(code), key, value));
        TFFmpegVCL converter;
        // The window's way: its row, its rule for sources that do not open.
        TBatchPlan window(converter);
        window.KeepLastProbe = true;
        TlvFilesRecord windowRow = listed_;
        edit.Window(windowRow);
        std::string windowRefusal, toolRefusal;
        int windowTask = -1, toolTask = -1;
        try {
            windowTask = window.AddRow(g, code, windowRow, 0);
        } catch (const std::invalid_argument& e) {
            windowRefusal = e.what();
        }
        // The tool's way: its row from the probe's length and its edits.
        TBatchPlan tool(converter);
        TProbedFile probed;
        std::string error;
        QVERIFY2(ProbeRowSource(*converter.AVProbe(), clip_, probed, error), error.c_str());
        TlvFilesRecord toolRow = NewEditedRow(g, code, clip_, probed.Duration, edit.Tool, {});
        try {
            toolTask = tool.AddProbedRow(g, code, toolRow, 0, probed);
        } catch (const std::invalid_argument& e) {
            toolRefusal = e.what();
        }
        // A format that cannot take the edits (a copying one) refuses the row
        // with one message on both ways.
        QCOMPARE(toolRefusal, windowRefusal);
        if (!windowRefusal.empty()) {
            converter.ClearTasks();
            return;
        }

        const TTaskPlan& a = window.TaskPlan(windowTask);
        TTaskPlan b = tool.TaskPlan(toolTask);
        // Two tasks of one batch: the second output gets the next name.
        QVERIFY(a.Out.FileName != b.Out.FileName);
        b.Out.FileName = a.Out.FileName;
        CompareOptions(InputRecordOptions(a.In), InputRecordOptions(b.In), "input");
        CompareOptions(OutputRecordOptions(a.Out, 0), OutputRecordOptions(b.Out, 0), "output");
        CompareOptions(NewStreamRecordOptions(a.Out), NewStreamRecordOptions(b.Out), "new stream");
        QCOMPARE(a.Out.CustomHook, b.Out.CustomHook);
        QCOMPARE(a.HasPicture, b.HasPicture);
        if (a.HasPicture)
            CompareOptions(InputRecordOptions(a.Picture), InputRecordOptions(b.Picture), "picture");
        QCOMPARE(a.HasSilence, b.HasSilence);
        QCOMPARE(windowRow.ZoomMode, toolRow.ZoomMode);
        converter.ClearTasks();
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        clip_ = h_->MakeClip("clip.avi");
        picture_ = h_->Media("layer.bmp");
        QVERIFY(!clip_.empty());
        QVERIFY(testsupport::MakeMedia(picture_, "-f lavfi -i color=c=red:s=40x30 -frames:v 1"));
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, {clip_});
        QCOMPARE(window->lvFIles->RowCount(), 1);
        listed_ = window->lvFIles->Row(0)->Record;
        TWindowHarness::Dispose(window);
    }

    void cleanupTestCase() { h_.reset(); }

    // The window's batch passes an empty first sound track over for the
    // first one with sound, as the tool does, in an audio and a video format.
    void anEmptyFirstSoundTrackIsPassedOver() {
        const std::string source = h_->Media("empty first.mkv");
        QVERIFY(testsupport::MakeMedia(
            source, "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -f lavfi -i "
                    "sine=duration=1 -f lavfi -i sine=duration=1 -filter_complex "
                    "[1]atrim=end_sample=0[a] -map 0 -map [a] -map 2 -c:v mpeg4 -c:a aac"));
        auto window = h_->NewWindow();
        TWindowHarness::AddFiles(*window, {source});
        QCOMPARE(window->lvFIles->RowCount(), 1);
        TlvFilesRecord row = window->lvFIles->Row(0)->Record;
        TWindowHarness::Dispose(window);
        TGlobalObject g;
        InitGlobalObject(g);
        TFFmpegVCL converter;
        TBatchPlan plan(converter);
        plan.KeepLastProbe = true;
        for (int code : {200, 103}) {
            const TTaskPlan& task = plan.TaskPlan(plan.AddRow(g, code, row, 0));
            QVERIFY2(task.Out.ExtOptions.find("audio_source=2") != std::string::npos,
                     task.Out.ExtOptions.c_str());
        }
        converter.ClearTasks();
    }

    void everyFormatAndEditGivesTheSameOptions_data() {
        QTest::addColumn<int>("code");
        for (int code : FormatCodes())
            QTest::newRow(FormatCaptionOf(code).c_str()) << code;
    }

    void everyFormatAndEditGivesTheSameOptions() {
        QFETCH(int, code);
        for (const TEditCase& edit : Cases()) {
            ComparePlans(code, edit);
            if (QTest::currentTestFailed()) QFAIL(edit.Name);
        }
    }
};

QTEST_MAIN(TestBatchPaths)
#include "tst_batchpaths.moc"
