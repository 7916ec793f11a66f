// The folder chooser's path box and New Folder, used from the main window's
// Browse as a user would: a typed, pasted or "~" folder is taken, a folder
// that does not exist is refused with the reason, a new folder is made and
// chosen; the folder rules still decide what the window keeps.
#include "WindowHarness.h"
#include "WindowShot.h"
#include "app/directory.h"

#include <QApplication>
#include <QClipboard>
#include <QFileSystemModel>
#include <QSignalSpy>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <chrono>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

class TestDirectory : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::unique_ptr<TfrmMain> window_;

    std::string Setting(const std::string& key) const {
        return h_->Settings().ReadString("settings", key, "<none>");
    }
    std::string Shown() const { return window_->edDirectory->text().toStdString(); }

    // Presses Browse and runs `act` on the shown chooser; a chooser `act`
    // leaves open is cancelled.
    void WithChooser(const std::function<void(TfmDirectory&)>& act) {
        QVERIFY2(TWindowHarness::WithFolderChooser(*window_, window_->btnBrows, act),
                 "the folder chooser did not open modally");
    }

    // Replaces the path box's text as typing would.
    static void Type(QLineEdit* box, const QString& text) {
        box->selectAll();
        QTest::keyClicks(box, text);
    }

private slots:
    void initTestCase() {
        h_ = std::make_unique<TWindowHarness>();
        window_ = h_->NewWindow();
    }

    void cleanupTestCase() {
        TWindowHarness::Dispose(window_);
        h_.reset();
    }

    void init() { h_->Messages.clear(); }

    // Typed and Enter: the chooser closes and the window takes the folder.
    void typedFolderIsAccepted() {
        const std::string typed = h_->Home("typed/deeper");
        fs::create_directories(typed);
        WithChooser([&](TfmDirectory& c) {
            QCOMPARE(c.size(), QSize(322, 351));
            QCOMPARE(c.edtPath->text().toStdString(), Shown());
            QCOMPARE(UnnamedControls(c), QStringList());
            SaveShot(c, "directory-path");
            Type(c.edtPath, QString::fromStdString(typed) + "/");
            QTest::keyClick(c.edtPath, Qt::Key_Return);
            QVERIFY(!c.isVisible());
            QCOMPARE(c.Result(), typed);
        });
        QCOMPARE(Shown(), typed);
        QCOMPARE(Setting("OutPutDir"), typed);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        // The next opening starts there.
        WithChooser([&](TfmDirectory& c) {
            QCOMPARE(c.SelectedFolder(), typed);
            c.btnCancel->click();
        });
        QCOMPARE(Shown(), typed);
    }

    // A folder that does not exist keeps the chooser open with the reason;
    // "~" is the home folder; a pasted path works as a typed one.
    void missingFolderIsRefusedAndHomeIsKnown() {
        const std::string before = Shown();
        WithChooser([&](TfmDirectory& c) {
            Type(c.edtPath, QString::fromStdString(h_->Home("nowhere")));
            c.btnOk->click();
            QVERIFY(c.isVisible());
            QVERIFY(c.Result().empty());
            QCOMPARE(int(h_->Messages.size()), 1);
            QCOMPARE(h_->Messages[0].Text, "There is no folder " + h_->Home("nowhere") +
                                               ". Type an existing folder, or make it with "
                                               "New Folder.");
            Type(c.edtPath, "relative/path");
            c.btnOk->click();
            QVERIFY(c.isVisible());
            QCOMPARE(int(h_->Messages.size()), 2);
            c.btnCancel->click();
        });
        QCOMPARE(Shown(), before);
        const std::string pasted = h_->Home("pasted");
        fs::create_directories(pasted);
        WithChooser([&](TfmDirectory& c) {
            QApplication::clipboard()->setText(QString::fromStdString(pasted));
            c.edtPath->selectAll();
            QTest::keyClick(c.edtPath, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(c.edtPath->text().toStdString(), pasted);
            c.btnOk->click();
            QVERIFY(!c.isVisible());
        });
        QCOMPARE(Shown(), pasted);
        fs::create_directories(h_->Home("tilde"));
        WithChooser([&](TfmDirectory& c) {
            Type(c.edtPath, "~/tilde");
            c.btnOk->click();
        });
        QCOMPARE(Shown(), h_->Home("tilde"));
    }

    // The folder rules still decide: the root folder passes the chooser
    // and is refused by them.
    void folderRulesStillDecide() {
        const std::string before = Shown();
        WithChooser([&](TfmDirectory& c) {
            Type(c.edtPath, "/");
            c.btnOk->click();
            QVERIFY(!c.isVisible());
        });
        QCOMPARE(int(h_->Messages.size()), 1);
        QCOMPARE(h_->Messages[0].Text, std::string("The path / is not a valid directory."));
        QCOMPARE(Shown(), before);
    }

    // New Folder makes "New Folder", then "New Folder 2", in the selected
    // folder and selects it; Ok takes it.
    void newFolderIsMadeAndChosen() {
        const std::string parent = h_->Home("parent");
        fs::create_directories(parent);
        WithChooser([&](TfmDirectory& c) {
            QVERIFY(c.SelectFolder(parent));
            c.btnNewFolder->click();
            QVERIFY(fs::is_directory(parent + "/New Folder"));
            QCOMPARE(c.SelectedFolder(), parent + "/New Folder");
            QCOMPARE(c.edtPath->text().toStdString(), parent + "/New Folder");
            QVERIFY(c.SelectFolder(parent));
            c.btnNewFolder->click();
            QCOMPARE(c.SelectedFolder(), parent + "/New Folder 2");
            // The new name is being edited in the tree; Ok takes the folder.
            c.stview_selectdir->setFocus();
            c.btnOk->click();
            QVERIFY(!c.isVisible());
        });
        QCOMPARE(Shown(), parent + "/New Folder 2");
        QCOMPARE(Setting("OutPutDir"), parent + "/New Folder 2");
    }

    // The tree lists a folder in the background. A listing taken just
    // before a folder was made (selected by path, or by New Folder) arrives
    // after it and drops its entry; the selection must not move to a
    // neighbour.
    void selectionOutlivesAnOlderListing_data() {
        QTest::addColumn<bool>("byNewFolder");
        QTest::newRow("selected") << false;
        QTest::newRow("New Folder") << true;
    }
    void selectionOutlivesAnOlderListing() {
        QFETCH(bool, byNewFolder);
        std::string fresh;
        bool dropped = false;
        WithChooser([&](TfmDirectory& c) {
            auto* model = qobject_cast<QFileSystemModel*>(c.stview_selectdir->model());
            QVERIFY(model);
            // The older listing must be taken on the model's thread before
            // the folder is made, while this thread handles no events: each
            // round gives it longer, on a folder not listed yet, until the
            // model has dropped the new entry.
            for (int round = 1; round <= 3 && !dropped; ++round) {
                const std::string parent =
                    h_->Home((byNewFolder ? "crowded-new-" : "crowded-") + std::to_string(round));
                for (int i = 0; i < 200; ++i)
                    fs::create_directories(parent + "/f" + std::to_string(i));
                fresh = parent + (byNewFolder ? "/New Folder" : "/fresh");
                QVERIFY(c.SelectFolder(parent));
                const QModelIndex listed = model->index(QString::fromStdString(parent));
                QVERIFY(model->canFetchMore(listed));
                QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
                QSignalSpy removed(model, &QAbstractItemModel::rowsAboutToBeRemoved);
                model->fetchMore(listed);
                std::this_thread::sleep_for(std::chrono::milliseconds(250 << round));
                if (byNewFolder) {
                    c.btnNewFolder->click();
                    QVERIFY(fs::is_directory(fresh));
                } else {
                    fs::create_directory(fresh);
                    QVERIFY(c.SelectFolder(fresh));
                }
                QTRY_VERIFY_WITH_TIMEOUT(loaded.contains({QString::fromStdString(parent)}), 10000);
                for (const QList<QVariant>& removal : removed)
                    dropped = dropped || removal.at(0).toModelIndex() == listed;
                QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(c.SelectedFolder()),
                                          QString::fromStdString(fresh), 5000);
                QCOMPARE(c.edtPath->text(), QString::fromStdString(fresh));
            }
            QVERIFY2(dropped, "no listing taken before the folder was made arrived after it");
            c.stview_selectdir->setFocus();
            c.btnOk->click();
        });
        QCOMPARE(Shown(), fresh);
    }
};

QTEST_MAIN(TestDirectory)
#include "tst_directory.moc"
