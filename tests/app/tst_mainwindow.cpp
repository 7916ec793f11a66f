// The main window driven offscreen: format chooser, menus, closing, error
// reporter and a picture of the whole window.
#include "app/ErrorReporter.h"
#include "app/JpegIO.h"
#include "app/PlayerSurface.h"
#include "app/Skin.h"
#include "app/Shell.h"
#include "app/WinCover.h"
#include "app/MainMenus.h"
#include "app/winMain.h"
#include "core/GlobalUnit.h"
#include "core/IniFile.h"
#include "core/MessageSeam.h"
#include "controls/Tracker2.h"
#include "engine/FFmpegRecords.h"
#include "media/FFmpegLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

namespace {

struct TShownMessage {
    std::string caption, text;
    TMsgIcon icon;
    TMsgButtons buttons;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home_;
    std::vector<TShownMessage> messages_;
    TMsgResult answer_ = TMsgResult::Yes;
    std::vector<std::string> opened_;

    std::unique_ptr<TfrmMain> NewWindow() {
        auto window = std::make_unique<TfrmMain>();
        window->show();
        QCoreApplication::processEvents();
        return window;
    }

    // Closes the window for good, answering the exit question with Yes.
    static void Dispose(std::unique_ptr<TfrmMain>& window, TestMainWindow* self) {
        self->answer_ = TMsgResult::Yes;
        window->close();
        window.reset();
    }

    TIniFile Settings() const {
        return TIniFile(QDir(home_->path()).filePath("config/vantrel/vantrel.ini").toStdString());
    }

    // Presses the left button on a list row at horizontal position x.
    static void PressRow(TFormatList* list, int row, int x) {
        const QRect r = list->visualItemRect(list->item(row));
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, QPoint(x, r.center().y()));
    }

private slots:
    void initTestCase() {
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        qputenv("HOME", home_->path().toUtf8());
        qputenv("XDG_CONFIG_HOME", QDir(home_->path()).filePath("config").toUtf8());
        SetMessageHandler([this](const std::string& caption, const std::string& text, TMsgIcon icon,
                                 TMsgButtons buttons) {
            messages_.push_back({caption, text, icon, buttons});
            return buttons == TMsgButtons::YesNo ? answer_ : TMsgResult::Ok;
        });
        SetUrlOpener([this](const std::string& url) { opened_.push_back(url); });
    }

    void cleanupTestCase() {
        SetMessageHandler(nullptr);
        SetUrlOpener(nullptr);
    }

    void init() { messages_.clear(); }

    void chooserModelRowsAndHeights() {
        TIniFile settings = Settings();
        TFormatChooserModel model;
        model.Build(settings);
        QCOMPARE(int(model.Rows.size()), 4);
        for (const TChooserRow& row : model.Rows)
            QVERIFY(row.Info.IsCategory && row.Info.Collapsed);
        QCOMPARE(QString::fromStdString(model.Rows[1].Text), QString("General Video formates"));
        QCOMPARE(QString::fromStdString(model.Rows[3].Text), QString("Modern formats"));

        model.ExpandCategory(1);
        QCOMPARE(int(model.Rows.size()), 14);
        for (int i = 0; i < 10; ++i) {
            QVERIFY(model.Rows[2 + i].Info.IsEntry);
            QCOMPARE(model.Rows[2 + i].Info.Code, 100 + i);
        }
        QCOMPARE(model.FindRow("  mpeg-2 video (*.mpg) "), 3);
        model.CollapseCategory(1);
        QCOMPARE(int(model.Rows.size()), 4);
        QVERIFY(model.Rows[1].Info.Collapsed);
        // The modern formats open with their codes from 300.
        model.ExpandCategory(3);
        QCOMPARE(int(model.Rows.size()), 11);
        QCOMPARE(model.Rows[4].Info.Code, 300);
        QCOMPARE(model.Rows[10].Info.Code, 306);
        model.CollapseCategory(3);

        QCOMPARE(TFormatChooserModel::ListHeight(30, 422), 422);
        QCOMPARE(TFormatChooserModel::ListHeight(5, 422), 120);
        QCOMPARE(TFormatChooserModel::ListHeight(22, 422), 422);
        QCOMPARE(TFormatChooserModel::ListHeight(21, 422), 440);
        QCOMPARE(TFormatChooserModel::ListHeight(20, 422), 420);
    }

    // A fresh machine: the caption of the format in use (code 1) and the
    // default output folder, made where it was missing.
    void chooserStartsWithDefaultCaption() {
        const QString folder = QDir(home_->path()).filePath("Videos/tollivane");
        QVERIFY(!QDir(folder).exists());
        auto window = NewWindow();
        QCOMPARE(window->edt1->text(), QString("ZUNE - MPEG-4 AVC Video (*.mp4)"));
        QCOMPARE(window->lst1->currentRow(), -1);
        QVERIFY(QDir(folder).exists());
        QCOMPARE(window->edDirectory->text(), folder);
        QCOMPARE(Settings().ReadString("settings", "OutPutDir", "<unset>"), std::string("<unset>"));
        QVERIFY(!window->lst1->isVisible());
        QVERIFY(window->lbl_appname->text().startsWith("Vantrel "));
        QCOMPARE(window->lbl_appname->text(),
                 QString::fromStdString("Vantrel" + TGlobalObject::GetVersionText()));
        QVERIFY(!window->edDirectory->text().isEmpty());
        // The media libraries came from the system: nothing was logged.
        QVERIFY(FFmpegLoader().AreLoaded(PlayerLibraries));
        QCOMPARE(window->mmoLog->toPlainText(), QString());
        Dispose(window, this);
    }

    void chooserPicksFormatAndKeepsItOverRestart() {
        auto window = NewWindow();
        TFormatList* list = window->lst1;
        window->imgbtn1->click();
        QVERIFY(list->isVisible());
        QCOMPARE(list->count(), 4); // the four categories, collapsed
        QCOMPARE(list->height(), 100);
        QCOMPARE(list->geometry().bottom() + 1, window->edt1->y());

        // Beside the glyph nothing happens.
        PressRow(list, 2, 25);
        QCOMPARE(list->count(), 4);
        QVERIFY(list->isVisible());

        // On the glyph the audio category opens.
        PressRow(list, 2, 5);
        QCOMPARE(list->count(), 11);
        QCOMPARE(list->height(), 240);
        int wav = -1;
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text() == "WAV - Waveform Audio (*.wav)") wav = i;
        QVERIFY(wav > 2);
        PressRow(list, wav, 60);
        QVERIFY(!list->isVisible());
        QCOMPARE(window->edt1->text(), QString("WAV - Waveform Audio (*.wav)"));
        TIniFile settings = Settings();
        QCOMPARE(settings.ReadString("settings", "FormatCode", ""), std::string("204"));
        QCOMPARE(settings.ReadString("settings", "FormatName", ""),
                 std::string("WAV - Waveform Audio (*.wav)"));
        Dispose(window, this); // saves the expanded audio category

        window = NewWindow();
        QCOMPARE(window->edt1->text(), QString("WAV - Waveform Audio (*.wav)"));
        QCOMPARE(window->lst1->count(), 11);
        QCOMPARE(window->lst1->currentItem()->text(), QString("WAV - Waveform Audio (*.wav)"));
        Dispose(window, this);
    }

    void collapsedStateNeedsConfirmedClose() {
        auto window = NewWindow();
        const int before = window->lst1->count();
        window->imgbtn1->click();
        PressRow(window->lst1, 1, 5); // expand the video category
        QCOMPARE(window->lst1->count(), before + 10);

        answer_ = TMsgResult::No;
        window->close();
        QVERIFY(window->isVisible());
        QCOMPARE(int(messages_.size()), 1);
        QCOMPARE(QString::fromStdString(messages_[0].text), QString("Do you really want to exit?"));
        QCOMPARE(QString::fromStdString(messages_[0].caption), QString("Warning"));
        QVERIFY(messages_[0].buttons == TMsgButtons::YesNo);
        QVERIFY(messages_[0].icon == TMsgIcon::Question);
        QVERIFY(Settings().ReadBool("lstformat", "1", true));

        Dispose(window, this);
        QVERIFY(!Settings().ReadBool("lstformat", "1", true));
        window = NewWindow();
        QCOMPARE(window->lst1->count(), before + 10);
        // Put the category back for the other cases.
        window->imgbtn1->click();
        PressRow(window->lst1, 1, 5);
        Dispose(window, this);
    }

    void clickElsewhereHidesList() {
        auto window = NewWindow();
        window->imgbtn1->click();
        QVERIFY(window->lst1->isVisible());
        QTest::mouseClick(window->lvFIles->viewport(), Qt::LeftButton);
        QVERIFY(!window->lst1->isVisible());
        // A click on the box opens the list, the next one closes it.
        QTest::mouseClick(window->edt1, Qt::LeftButton);
        QVERIFY(window->lst1->isVisible());
        QTest::mouseClick(window->edt1, Qt::LeftButton);
        QVERIFY(!window->lst1->isVisible());
        Dispose(window, this);
    }

    void menuTagSwallowsOnlyTheDismissingClick() {
        TPopupMenu menu("suiPopupMenuFile", nullptr);
        QVERIFY(TMainMenus::TakeOpeningClick(&menu, false));
        // Closed by a press on its button: that click opens nothing, the next
        // one opens the menu again.
        TMainMenus::MenuClosed(&menu, true);
        QVERIFY(!TMainMenus::TakeOpeningClick(&menu, true));
        QVERIFY(TMainMenus::TakeOpeningClick(&menu, true));
        // A later click of its own, or a menu closed by an item or Escape,
        // opens at once.
        TMainMenus::MenuClosed(&menu, true);
        QVERIFY(TMainMenus::TakeOpeningClick(&menu, false));
        QCOMPARE(menu.Tag, 0);
        TMainMenus::MenuClosed(&menu, false);
        QVERIFY(TMainMenus::TakeOpeningClick(&menu, true));
    }

    void editMenuNeedsSelectedRow() {
        auto window = NewWindow();
        window->suiPopupMenuEditPopup();
        int enabled = 0;
        for (QAction* a : window->suiPopupMenuEdit->actions())
            if (!a->isSeparator() && a->isEnabled()) {
                ++enabled;
                QCOMPARE(a->text(), QString("&Add"));
            }
        QCOMPARE(enabled, 1);
        Dispose(window, this);
    }

    void webLinksCarryTheProductPage() {
        auto window = NewWindow();
        opened_.clear();
        window->imgbtnfc->click();
        window->imgbtnreddit->click();
        window->menubtnWebsite->click();
        QCOMPARE(int(opened_.size()), 3);
        QVERIFY(QString::fromStdString(opened_[0]).contains("u=https%3A%2F%2Fvantrel.org%2F"));
        QVERIFY(
            QString::fromStdString(opened_[1]).contains("url=https%3A%2F%2Fvantrel.org%2F&title="));
        QCOMPARE(opened_[2], window->Global().ProductPage());
        Dispose(window, this);
    }

    void errorReporterFullStopAndIcons() {
        QCOMPARE(ErrorReportText("File not found"), std::string("File not found."));
        QCOMPARE(ErrorReportText("Done."), std::string("Done."));
        QCOMPARE(ErrorReportText("Stop!"), std::string("Stop!"));
        QCOMPARE(ErrorReportText("trailing "), std::string("trailing "));
        QCOMPARE(ErrorReportText("code 7"), std::string("code 7."));
        QCOMPARE(ErrorReportText(""), std::string(""));

        ReportException(FFmpegException("Cannot open"));
        ReportException(std::runtime_error("Bad value"));
        QCOMPARE(int(messages_.size()), 2);
        QVERIFY(messages_[0].icon == TMsgIcon::Warning);
        QCOMPARE(messages_[0].text, std::string("Cannot open."));
        QVERIFY(messages_[1].icon == TMsgIcon::Error);
        QCOMPARE(messages_[1].caption, QCoreApplication::applicationName().toStdString());
    }

    void browseRefusesRootAndAcceptsWritableFolder() {
        auto window = NewWindow();
        const QString before = window->edDirectory->text();
        window->SetFolderChooser([](const std::string&) { return std::string("/ab"); });
        window->btnBrowsClick();
        QCOMPARE(window->edDirectory->text(), before);
        QCOMPARE(int(messages_.size()), 1);
        QCOMPARE(messages_[0].text, std::string("The path /ab is not a valid directory."));

        const std::string target = QDir(home_->path()).filePath("out").toStdString();
        QVERIFY(QDir().mkpath(QString::fromStdString(target)));
        window->SetFolderChooser([target](const std::string&) { return target; });
        window->btnBrowsClick();
        QCOMPARE(window->edDirectory->text().toStdString(), target);
        QCOMPARE(Settings().ReadString("settings", "OutPutDir", ""), target);
        opened_.clear();
        window->btnOpenClick();
        QCOMPARE(int(opened_.size()), 1);
        QCOMPARE(opened_[0], target);
        Dispose(window, this);
    }

    // A folder whose name reads like a web address is opened as a folder;
    // web links stay web addresses.
    void openButtonOpensTheFolderAsALocalFile() {
        auto window = NewWindow();
        const std::string target = home_->path().toStdString() + "/out/http://example.com";
        QVERIFY(QDir().mkpath(QString::fromStdString(target)));
        window->SetFolderChooser([target](const std::string&) { return target; });
        window->btnBrowsClick();
        QCOMPARE(Settings().ReadString("settings", "OutPutDir", ""), target);
        std::vector<TDesktopTarget> targets;
        const TUrlOpener before =
            SetUrlOpener([&targets](const TDesktopTarget& t) { targets.push_back(t); });
        window->btnOpenClick();
        window->menubtnWebsite->click();
        SetUrlOpener(before);
        QCOMPARE(int(targets.size()), 2);
        QCOMPARE(targets[0].Text, target);
        QVERIFY(targets[0].LocalFile);
        QCOMPARE(targets[1].Text, window->Global().ProductPage());
        QVERIFY(!targets[1].LocalFile);
        Dispose(window, this);
    }

    void coverPicture() {
        TfrmCover cover(nullptr);
        QCOMPARE(cover.Picture().size(), QSize(399, 239));

        const QString skinDir = QDir(QCoreApplication::applicationDirPath()).filePath("skin");
        QVERIFY(QDir().mkpath(skinDir));
        QImage picture(200, 100, QImage::Format_RGB32);
        picture.fill(QColor(200, 30, 30));
        const std::string file = QDir(skinDir).filePath("vantrelcover.jpg").toStdString();
        QVERIFY(WriteJpegFile(file, picture, 90));
        TfrmCover fromFile(nullptr);
        QDir(skinDir).removeRecursively();
        QCOMPARE(fromFile.Picture().size(), QSize(200, 100));
        const QColor centre = fromFile.Picture().pixelColor(100, 50);
        QVERIFY(qAbs(centre.red() - 200) < 8 && qAbs(centre.green() - 30) < 8);
        QVERIFY(ReadJpegFile(QDir(home_->path()).filePath("missing.jpg").toStdString()).isNull());
    }

    void windowPicture() {
        auto window = NewWindow();
        QCOMPARE(window->size(), QSize(914, 566));
        const QImage image = window->grab().toImage();
        QCOMPARE(image.size(), QSize(914, 566));
        // Background between the preview and the bottom rows.
        QCOMPARE(image.pixelColor(700, 458), QColor(24, 52, 91));
        // The preview panel is black inside.
        QCOMPARE(image.pixelColor(700, 250), QColor(0, 0, 0));
        const QString shot = qEnvironmentVariable("VANTREL_SCREENSHOT");
        if (!shot.isEmpty()) image.save(shot);
        Dispose(window, this);
    }

    // A row, so that the list has its columns.
    static void AddRow(TfrmMain& window) {
        TlvFilesRecord record;
        record.SourceFile = "/media/camera/DCIM/100MEDIA/a rather long clip name.mp4";
        record.DestinationFile = "/tmp/a rather long clip name_(new).mp4";
        record.Duration = 3725;
        window.lvFIles->AppendRow(std::move(record));
    }

    // Every shown label and captioned button holds its whole text, and every
    // column header its caption.
    static void CheckNothingCut(TfrmMain& window) {
        for (QLabel* label : window.findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().isEmpty()) continue;
            const int need = label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(need <= label->contentsRect().width(), qPrintable(label->text()));
        }
        for (auto* button : window.findChildren<QToolButton*>()) {
            if (!button->isVisible() || button->text().isEmpty()) continue;
            const int need = button->fontMetrics().horizontalAdvance(button->text());
            QVERIFY2(need <= button->width() - 4, qPrintable(button->text()));
        }
        const QHeaderView* header = window.lvFIles->header();
        for (int c = 1; c < header->count(); ++c)
            QVERIFY2(header->sectionSize(c) >= header->sectionSizeHint(c),
                     qPrintable(window.lvFIles->headerItem()->text(c)));
    }

    // The window grows from its designed size: the list and the preview take
    // the room, the bottom rows and the title buttons keep their distance
    // from the edges. A new window comes back at the size the last one had.
    // The frame the window draws itself: resize cursors on the rim only,
    // the maximise button and a double click on the title row switching
    // between maximised and normal, the button's tip naming what it does.
    void frameCursorsAndMaximising() {
        auto window = NewWindow();
        const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button) {
            QMouseEvent event(type, at, window->mapToGlobal(at), button, button, Qt::NoModifier);
            QCoreApplication::sendEvent(window.get(), &event);
        };
        const auto hover = [&](QPoint at) {
            send(QEvent::MouseMove, at, Qt::NoButton);
            return window->testAttribute(Qt::WA_SetCursor) ? window->cursor().shape()
                                                           : Qt::ArrowCursor;
        };
        const int w = window->width(), h = window->height();
        QCOMPARE(hover(QPoint(1, h / 2)), Qt::SizeHorCursor);
        QCOMPARE(hover(QPoint(w / 2, h - 2)), Qt::SizeVerCursor);
        QCOMPARE(hover(QPoint(1, 1)), Qt::SizeFDiagCursor);
        QCOMPARE(hover(QPoint(w - 2, 1)), Qt::SizeBDiagCursor);
        QCOMPARE(hover(QPoint(w / 2, h / 2)), Qt::ArrowCursor);

        QCOMPARE(window->btnMaximize->accessibleName(), QString("Maximize"));
        QTest::mouseClick(window->btnMaximize, Qt::LeftButton);
        QTRY_VERIFY(window->isMaximized());
        QCOMPARE(window->btnMaximize->toolTip(), QString("Restore"));
        QCOMPARE(window->btnMaximize->accessibleName(), QString("Restore"));
        // Below the title row a double click does nothing to the window.
        send(QEvent::MouseButtonDblClick, QPoint(w / 2, 40), Qt::LeftButton);
        QVERIFY(window->isMaximized());
        send(QEvent::MouseButtonDblClick, QPoint(w / 2, 10), Qt::LeftButton);
        QTRY_VERIFY(!window->isMaximized());
        QCOMPARE(window->btnMaximize->accessibleName(), QString("Maximize"));
    }

    void windowGrowsAndRemembersItsSize() {
        auto window = NewWindow();
        QCOMPARE(window->size(), QSize(914, 566));
        QCOMPARE(window->minimumSize(), QSize(914, 566));
        QVERIFY(window->maximumWidth() > 1600);
        AddRow(*window);
        const QRect list = window->lvFIles->geometry();
        const QRect preview = window->pan1->geometry();
        const int sourceColumn = window->lvFIles->columnWidth(colSource);
        const int positionBar = window->trcPreview->width();
        const int startBelowBottom = window->height() - window->btnStartBelow->geometry().bottom();
        const int closeRight = window->width() - window->btnClose->x();
        CheckNothingCut(*window);

        window->resize(1600, 1000);
        QTRY_COMPARE(window->lvFIles->height(), list.height() + 434);
        QVERIFY(window->lvFIles->width() > list.width() + 300);
        QVERIFY(window->pan1->width() > preview.width() + 250);
        QCOMPARE(window->pan1->height(), preview.height() + 434);
        QVERIFY(!window->lvFIles->geometry().intersects(window->pan1->geometry()));
        QVERIFY(window->lvFIles->columnWidth(colSource) > sourceColumn + 300);
        QCOMPARE(window->trcPreview->width() - positionBar,
                 window->pan1->width() - preview.width());
        QCOMPARE(window->trcPreview->Max(), window->trcPreview->width());
        QCOMPARE(window->height() - window->btnStartBelow->geometry().bottom(), startBelowBottom);
        QCOMPARE(window->width() - window->btnClose->x(), closeRight);
        for (QWidget* child : window->findChildren<QWidget*>())
            if (child->isVisible() && child->parentWidget() == window.get())
                QVERIFY2(window->rect().contains(child->geometry()),
                         qPrintable(child->objectName()));
        CheckNothingCut(*window);
        const QImage grown = window->grab().toImage();
        const qreal ratio = grown.devicePixelRatio();
        QCOMPARE(grown.pixelColor(QPoint(1200, 300) * ratio), QColor(0, 0, 0)); // wider preview
        const QString shot = qEnvironmentVariable("VANTREL_GROWN_SCREENSHOT");
        if (!shot.isEmpty()) grown.save(shot);
        Dispose(window, this);
        QCOMPARE(Settings().ReadString("MainWindow", "Width", ""), std::string("1600"));
        QCOMPARE(Settings().ReadString("MainWindow", "Height", ""), std::string("1000"));

        window = NewWindow();
        QCOMPARE(window->size(), QSize(1600, 1000));
        QCOMPARE(window->lvFIles->height(), list.height() + 434);
        window->resize(914, 566);
        QTRY_COMPARE(window->lvFIles->geometry(), list);
        QCOMPARE(window->pan1->geometry(), preview);
        QCOMPARE(window->trcPreview->width(), positionBar);
        Dispose(window, this);
        window = NewWindow();
        QCOMPARE(window->size(), QSize(914, 566));
        Dispose(window, this);

        // A stored size below the designed one is not taken.
        TIniFile settings = Settings();
        settings.WriteString("MainWindow", "Width", "300");
        window = NewWindow();
        QCOMPARE(window->size(), QSize(914, 566));
        Dispose(window, this);
    }

    // Run with QT_SCALE_FACTOR=2 (its own test): pictures have twice the
    // pixels, and texts still fit.
    void windowAtDoubleDensity() {
        if (qApp->devicePixelRatio() < 2)
            QSKIP("needs a screen of pixel ratio 2 (QT_SCALE_FACTOR=2)");
        const QPixmap add = skin::Pixmap("add", 26);
        QCOMPARE(add.devicePixelRatio(), 2.0);
        QCOMPARE(add.size(), QSize(52, 52));
        auto window = NewWindow();
        QCOMPARE(window->size(), QSize(914, 566));
        QCOMPARE(window->btnAdd->icon().pixmap(QSize(26, 26), 2.0).size(), QSize(52, 52));
        AddRow(*window);
        CheckNothingCut(*window);
        const QImage image = window->grab().toImage();
        QCOMPARE(image.size(), QSize(1828, 1132));
        Dispose(window, this);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
