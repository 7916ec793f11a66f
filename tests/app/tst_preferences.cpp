// The preferences dialog and the folder chooser, opened from the main
// window as the user opens them: the pair rules, what Default, Ok and Cancel
// leave in the settings file, the chooser's refusals, and the work priority
// as the converter's worker thread really runs with it.
#include "WindowHarness.h"
#include "support/TestSupport.h"
#include "WindowShot.h"
#include "app/WinPreference.h"
#include "app/WinProgress.h"
#include "app/directory.h"
#include "core/GlobalUnit.h"
#include "engine/FFmpegVCL.h"

#include <QCheckBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Nice value and scheduling policy of every thread of this process, read
// from /proc.
struct TThreadSched {
    int Nice, Policy;
};
std::vector<TThreadSched> ThreadScheds() {
    std::vector<TThreadSched> result;
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
        const std::string stat = testsupport::ReadFileText(entry.path().string() + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> values;
        for (std::string value; fields >> value;)
            values.push_back(value);
        // Fields after the name start with the 3rd: nice is the 19th and
        // the policy the 41st.
        if (values.size() < 39) continue;
        result.push_back({std::stoi(values[16]), std::stoi(values[38])});
    }
    return result;
}

constexpr int kSchedIdle = 5;

} // namespace

class TestPreferences : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::unique_ptr<TfrmMain> window_;
    std::string longClip_;

    std::string SettingsPath() const { return h_->Home("config/vantrel/vantrel.ini"); }
    std::string Setting(const std::string& key) const {
        return h_->Settings().ReadString("settings", key, "<none>");
    }

    // Opens the preferences from the menu row and runs `act` on the shown
    // dialog; `act` must close it.
    TfrmPreference* WithPreferences(const std::function<void(TfrmPreference&)>& act) {
        bool ran = false;
        QTimer::singleShot(0, window_.get(), [&] {
            ran = true;
            TfrmPreference* dialog = window_->frmPreference;
            if (!dialog || !dialog->isVisible()) return;
            act(*dialog);
            if (dialog->isVisible()) dialog->reject();
        });
        QTest::mouseClick(window_->menubtnPreference, Qt::LeftButton);
        if (!ran) QTest::qFail("the preferences did not open modally", __FILE__, __LINE__);
        return window_->frmPreference;
    }

    // Presses a Browse button and runs `act` on the shown folder chooser.
    void WithChooser(QAbstractButton* browse, const std::function<void(TfmDirectory&)>& act) {
        QVERIFY2(TWindowHarness::WithFolderChooser(*window_, browse, act),
                 "the folder chooser did not open modally");
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        longClip_ = h_->Media("long.avi");
        QVERIFY(testsupport::MakeMedia(
            longClip_, "-f lavfi -i testsrc2=size=160x120:rate=25 -t 30 -c:v mpeg4 -q:v 10"));
        window_ = h_->NewWindow();
    }

    void cleanupTestCase() {
        TWindowHarness::Dispose(window_);
        h_.reset();
    }

    void init() {
        h_->Messages.clear();
        TfmDirectory::SetCdRomCheck(nullptr);
    }

    void pairRulesAndQualityInStep() {
        TfrmPreference* dialog = WithPreferences([](TfrmPreference& d) {
            QCOMPARE(d.windowTitle(), QString("Preference"));
            QCOMPARE(d.size(), QSize(480, 424));
            SaveShot(d, "preference");
            QCOMPARE(UnnamedControls(d), QStringList());
            QVERIFY(d.ckBmp->isChecked() && d.ckJpg->isChecked());
            QVERIFY(d.ckFullSize->isChecked() && d.ckSmallSize->isChecked());
            QCOMPARE(d.spedCmp->value(), 30);
            QCOMPARE(d.trcCmp->value(), 30);
            QCOMPARE(d.PriorityIndex(), 1);
            QCOMPARE(d.spedConcurrent->value(), 1);
            QCOMPARE(d.spedConcurrent->minimum(), 1);
            QCOMPARE(d.spedConcurrent->maximum(),
                     std::max(1, int(std::thread::hardware_concurrency())));
            d.ckJpg->click();
            QVERIFY(!d.ckJpg->isChecked());
            QVERIFY(!d.spedCmp->isEnabled() && !d.trcCmp->isEnabled());
            d.ckBmp->click(); // the second uncheck is undone
            QVERIFY(d.ckBmp->isChecked() && !d.ckJpg->isChecked());
            d.ckJpg->click();
            QVERIFY(d.ckJpg->isChecked() && d.spedCmp->isEnabled() && d.trcCmp->isEnabled());
            d.ckBmp->click();
            d.ckJpg->click(); // JPG alone stays, and so do its quality controls
            QVERIFY(!d.ckBmp->isChecked() && d.ckJpg->isChecked() && d.spedCmp->isEnabled());
            d.ckSmallSize->click();
            d.ckFullSize->click();
            QVERIFY(d.ckFullSize->isChecked() && !d.ckSmallSize->isChecked());
            d.ckSmallSize->click();
            d.ckFullSize->click();
            d.ckSmallSize->click();
            QVERIFY(!d.ckFullSize->isChecked() && d.ckSmallSize->isChecked());
            d.trcCmp->setValue(55);
            QCOMPARE(d.spedCmp->value(), 55);
            d.spedCmp->setValue(72);
            QCOMPARE(d.trcCmp->value(), 72);
            d.btnCancel->click();
        });
        QVERIFY(dialog && !dialog->isVisible());
        QCOMPARE(Setting("snapBmp"), std::string("<none>"));
        QCOMPARE(Setting("jpgCmp"), std::string("<none>"));
    }

    void defaultThenCancelWritesNothing() {
        const std::string snaps = h_->Home("snapshots");
        fs::create_directories(snaps);
        h_->Settings().WriteString("settings", "SnapOutPutDir", snaps);
        h_->Settings().WriteString("settings", "jpgCmp", "0x2D");
        h_->Settings().WriteString("settings", "Priority", "3");
        h_->Settings().WriteString("settings", "snapBmp", "0");
        h_->Settings().WriteString("settings", "MaxConcurrent", "99");
        const std::string before = testsupport::ReadFileText(SettingsPath());
        WithPreferences([](TfrmPreference& d) {
            QCOMPARE(d.spedCmp->value(), 45);
            QCOMPARE(d.PriorityIndex(), 3);
            // More than the cores: as many as there are.
            QCOMPARE(d.spedConcurrent->value(), d.spedConcurrent->maximum());
            QVERIFY(!d.ckBmp->isChecked() && d.ckJpg->isChecked());
            d.btnDefault->click();
            QCOMPARE(d.spedConcurrent->value(), 1);
            QCOMPARE(d.spedCmp->value(), 20);
            QCOMPARE(d.trcCmp->value(), 20);
            QVERIFY(d.ckBmp->isChecked() && !d.ckJpg->isChecked() && !d.spedCmp->isEnabled());
            QVERIFY(d.ckFullSize->isChecked() && !d.ckSmallSize->isChecked());
            QCOMPARE(d.PriorityIndex(), 1);
            QCOMPARE(d.edtSnapDirectory->text().toStdString(), DefaultOutputFolder());
            d.btnCancel->click();
        });
        QCOMPARE(testsupport::ReadFileText(SettingsPath()), before);
        // A pair stored with both boxes off shows its first box on.
        h_->Settings().WriteString("settings", "snapJpg", "0");
        h_->Settings().WriteString("settings", "snapFullSize", "0");
        h_->Settings().WriteString("settings", "snapSmallSize", "0");
        WithPreferences([](TfrmPreference& d) {
            QVERIFY(d.ckBmp->isChecked() && !d.ckJpg->isChecked() && !d.trcCmp->isEnabled());
            QVERIFY(d.ckFullSize->isChecked() && !d.ckSmallSize->isChecked());
            d.btnCancel->click();
        });
    }

    void defaultThenOkWritesTheDefaults() {
        // Nothing stored for the quality.
        std::istringstream lines(testsupport::ReadFileText(SettingsPath()));
        std::string kept;
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("jpgCmp=", 0) != 0) kept += line + "\n";
        std::ofstream(SettingsPath(), std::ios::trunc) << kept;
        QCOMPARE(Setting("jpgCmp"), std::string("<none>"));
        WithPreferences([](TfrmPreference& d) {
            QCOMPARE(d.spedCmp->value(), 30);
            d.btnDefault->click();
            d.btnOk->click();
        });
        QVERIFY(!window_->frmPreference->isVisible());
        QCOMPARE(Setting("jpgCmp"), std::string("20"));
        QCOMPARE(Setting("snapBmp"), std::string("1"));
        QCOMPARE(Setting("snapJpg"), std::string("0"));
        QCOMPARE(Setting("snapFullSize"), std::string("1"));
        QCOMPARE(Setting("snapSmallSize"), std::string("0"));
        QCOMPARE(Setting("priority"), std::string("1"));
        QCOMPARE(Setting("MaxConcurrent"), std::string("1"));
        QCOMPARE(Setting("SnapOutPutDir"), DefaultOutputFolder());
        // Read back on the next showing, the dialog being the same one.
        TfrmPreference* first = window_->frmPreference;
        WithPreferences([](TfrmPreference& d) {
            QVERIFY(d.ckBmp->isChecked() && !d.ckJpg->isChecked());
            QCOMPARE(d.spedCmp->value(), 20);
            d.btnCancel->click();
        });
        QCOMPARE(window_->frmPreference, first);
    }

    // A restore from the task bar shows the dialog again without reading
    // the settings: the edits made so far stay.
    void restoredDialogKeepsItsEdits() {
        const std::string before = testsupport::ReadFileText(SettingsPath());
        WithPreferences([](TfrmPreference& d) {
            d.spedCmp->setValue(77);
            d.rdPriority[3]->click();
            d.setWindowState(Qt::WindowMinimized);
            d.setWindowState(Qt::WindowNoState);
            QVERIFY(d.isVisible() && !d.isMinimized());
            QCOMPARE(d.spedCmp->value(), 77);
            QCOMPARE(d.PriorityIndex(), 3);
            d.btnCancel->click();
        });
        QCOMPARE(testsupport::ReadFileText(SettingsPath()), before);
    }

    // OK writes every value in one rewrite of the settings file. A value the
    // file cannot hold (a folder name with a line break) or a file that
    // cannot be replaced writes nothing at all: the user is told, and the
    // dialog stays open with the edits until a write succeeds.
    void okWritesAllOrNothingAndSaysWhy() {
        const std::string odd = h_->Home("snap\nshots");
        fs::create_directories(odd);
        bool small = false;
        WithPreferences([&](TfrmPreference& d) {
            WithChooser(d.btnBrows, [&](TfmDirectory& c) {
                QVERIFY(c.SelectFolder(odd));
                c.btnOk->click();
            });
            QCOMPARE(d.edtSnapDirectory->text().toStdString(), odd);
            d.ckSmallSize->click();
            small = d.ckSmallSize->isChecked();
            d.spedCmp->setValue(64);
            const std::string before = testsupport::ReadFileText(SettingsPath());
            d.btnOk->click();
            QVERIFY(d.isVisible());
            QCOMPARE(testsupport::ReadFileText(SettingsPath()), before);
            QCOMPARE(int(h_->Messages.size()), 1);
            QVERIFY(h_->Messages[0].Text.find(SettingsPath()) != std::string::npos);
            // A writable folder, but the settings file is in the way.
            const std::string plain = h_->Home("snaps-ok");
            fs::create_directories(plain);
            WithChooser(d.btnBrows, [&](TfmDirectory& c) {
                QVERIFY(c.SelectFolder(plain));
                c.btnOk->click();
            });
            const std::string kept = testsupport::ReadFileText(SettingsPath());
            fs::remove(SettingsPath());
            fs::create_directory(SettingsPath());
            d.btnOk->click();
            QVERIFY(d.isVisible());
            QCOMPARE(int(h_->Messages.size()), 2);
            fs::remove(SettingsPath());
            std::ofstream(SettingsPath(), std::ios::binary) << kept;
            d.btnOk->click();
            QVERIFY(!d.isVisible());
        });
        QCOMPARE(Setting("SnapOutPutDir"), h_->Home("snaps-ok"));
        QCOMPARE(Setting("jpgCmp"), std::string("64"));
        QCOMPARE(Setting("snapSmallSize"), std::string(small ? "1" : "0"));
        QCOMPARE(int(h_->Messages.size()), 2);
    }

    void unwritableSnapshotFolderIsReplacedOnShow() {
        // A missing folder is made; one below a plain file cannot be.
        const std::string file = h_->Home("plain-file");
        std::ofstream(file) << "x";
        const std::string gone = file + "/folder";
        h_->Settings().WriteString("settings", "SnapOutPutDir", gone);
        WithPreferences([](TfrmPreference& d) {
            QCOMPARE(d.edtSnapDirectory->text().toStdString(), FallbackFolder());
            QVERIFY(d.edtSnapDirectory->isReadOnly());
            d.btnCancel->click();
        });
        QCOMPARE(Setting("SnapOutPutDir"), FallbackFolder());
        QVERIFY(h_->Messages.empty());
    }

    void chooserPicksTheSnapshotFolder() {
        const std::string folder = h_->Home("snaps");
        fs::create_directories(folder + "/inner");
        fs::create_directories(folder + "/other");
        std::ofstream(folder + "/file.txt") << "x";
        TfmDirectory* chooser = nullptr;
        WithPreferences([&](TfrmPreference& d) {
            WithChooser(d.btnBrows, [&](TfmDirectory& c) {
                chooser = &c;
                QCOMPARE(c.windowTitle(), QString("Browse"));
                QCOMPARE(c.size(), QSize(322, 351));
                QCOMPARE(c.lbl1->text(), QString("Please select an output directory:"));
                // Opened at the shown folder, or the nearest one that exists.
                fs::path shown = d.edtSnapDirectory->text().toStdString();
                while (!fs::is_directory(shown))
                    shown = shown.parent_path();
                // The tree lists folders in the background and may drop
                // and select again an entry it had listed before.
                QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(c.SelectedFolder()),
                                          QString::fromStdString(shown.string()), 5000);
                QVERIFY(c.btnOk->isEnabled());
                QVERIFY(c.SelectFolder(folder));
                // Folders only.
                QAbstractItemModel* model = c.stview_selectdir->model();
                const QModelIndex index = c.stview_selectdir->currentIndex();
                c.stview_selectdir->expand(index);
                QTRY_VERIFY_WITH_TIMEOUT(model->rowCount(index) >= 2, 10000);
                QStringList names;
                for (int row = 0; row < model->rowCount(index); ++row)
                    names << model->index(row, 0, index).data().toString();
                names.sort();
                QCOMPARE(names, QStringList({"inner", "other"}));
                QVERIFY(!model->index(0, 0, index).data(Qt::DecorationRole).isNull());
                SaveShot(c, "directory");
                QCOMPARE(UnnamedControls(c), QStringList());
                c.btnOk->click();
                QVERIFY(!c.isVisible());
            });
            QCOMPARE(d.edtSnapDirectory->text().toStdString(), folder);
            d.btnCancel->click();
        });
        // The chooser's folder rule wrote the choice at once.
        QCOMPARE(Setting("SnapOutPutDir"), folder);
        QVERIFY(h_->Messages.empty());
        // The main window's Browse uses the same chooser, opened at the
        // output folder.
        WithChooser(window_->btnBrows, [&](TfmDirectory& c) {
            QCOMPARE(&c, chooser);
            QCOMPARE(c.SelectedFolder(), window_->edDirectory->text().toStdString());
            c.btnCancelClick();
        });
    }

    void chooserRefusesCdRomAndRootFolders() {
        const std::string shown = window_->edDirectory->text().toStdString();
        const std::string disc = h_->Home("disc");
        fs::create_directories(disc);
        std::vector<std::string> asked;
        TfmDirectory::SetCdRomCheck([&](const std::string& folder) {
            asked.push_back(folder);
            return folder == disc;
        });
        WithChooser(window_->btnBrows, [&](TfmDirectory& c) {
            QVERIFY(c.SelectFolder(disc));
            c.btnOk->click();
            QVERIFY(c.isVisible()); // stays open
            QVERIFY(c.Result().empty());
            QCOMPARE(int(h_->Messages.size()), 1);
            QCOMPARE(h_->Messages[0].Text,
                     std::string("Output folder cannot be located in CD-ROM.Please select "
                                 "another folder."));
            QCOMPARE(h_->Messages[0].Caption, QCoreApplication::applicationName().toStdString());
            QCOMPARE(h_->Messages[0].Icon, TMsgIcon::Information);
            c.btnCancel->click();
        });
        QCOMPARE(asked, std::vector<std::string>{disc});
        QCOMPARE(window_->edDirectory->text().toStdString(), shown);
        QCOMPARE(int(h_->Messages.size()), 1);
        // The root folder passes the chooser and is refused by the folder rule.
        WithChooser(window_->btnBrows, [&](TfmDirectory& c) {
            QVERIFY(c.SelectFolder("/"));
            c.btnOk->click();
            QVERIFY(!c.isVisible());
        });
        QCOMPARE(int(h_->Messages.size()), 2);
        QCOMPARE(h_->Messages[1].Text, std::string("The path / is not a valid directory."));
        QCOMPARE(window_->edDirectory->text().toStdString(), shown);
        QCOMPARE(Setting("OutPutDir"), shown);
    }

    void realCdRomCheckKnowsOrdinaryFolders() {
        QVERIFY(!TfmDirectory::IsCdRomFolder(h_->Home("")));
        QVERIFY(!TfmDirectory::IsCdRomFolder(h_->Home("missing")));
    }

    // The priority chosen in the dialog, as the worker thread of the
    // batch runs: nice 10 for "Lowest", the idle class for "Idle".
    void priorityReachesTheWorkerThread_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("nice");
        QTest::addColumn<int>("policy");
        QTest::newRow("Lowest") << 3 << 10 << 0;
        QTest::newRow("Lower") << 2 << 5 << 0;
        QTest::newRow("Idle") << 0 << 0 << kSchedIdle;
    }
    void priorityReachesTheWorkerThread() {
        QFETCH(int, item);
        QFETCH(int, nice);
        QFETCH(int, policy);
        WithPreferences([item](TfrmPreference& d) {
            d.rdPriority[item]->click();
            d.btnOk->click();
        });
        QCOMPARE(Setting("priority"), std::to_string(item));
        h_->ChooseFormat(102);
        TWindowHarness::AddFiles(*window_, {longClip_});
        TfrmMain* w = window_.get();
        const TPreviewBitmapEvent shown = w->CCAVC->OnPreviewBitmap;
        bool found = false, cancelled = false;
        w->CCAVC->OnPreviewBitmap = [&](TCustomFFmpegVCL* s, const TPreviewInfo& i) {
            shown(s, i);
            if (cancelled) return;
            // The worker waits for this report, so it is surely alive.
            for (const TThreadSched& t : ThreadScheds())
                found = found || (t.Nice == nice && t.Policy == policy);
            cancelled = true;
            QTimer::singleShot(
                0, w, [w] { QTest::mouseClick(w->frmProgress->btnCancel, Qt::LeftButton); });
        };
        TWindowHarness::PressStart(*window_);
        w->CCAVC->OnPreviewBitmap = shown;
        QVERIFY2(cancelled, h_->FirstMessage());
        QVERIFY2(found, "no thread runs with the chosen priority");
        window_->btnClearClick();
    }
};

QTEST_MAIN(TestPreferences)
#include "tst_preferences.moc"
