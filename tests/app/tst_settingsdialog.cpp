// The format settings dialog driven offscreen through the main window's
// openers: reloading, the key filters and exit checks with their messages,
// Default, OK writing the format's keys (read back from the file on disk),
// Cancel writing nothing, and a conversion with parameters edited here.
#include "WindowHarness.h"
#include "support/TestSupport.h"
#include "app/ErrorReporter.h"
#include "app/WinSettings.h"
#include "core/FormatCatalogue.h"
#include "core/ModernFormats.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Replaces the box's text by typing it, key by key, as a user would.
void TypeInto(QComboBox* combo, const QString& text) {
    combo->setFocus(Qt::TabFocusReason);
    combo->lineEdit()->selectAll();
    QTest::keyClick(combo, Qt::Key_Backspace);
    QTest::keyClicks(combo, text);
}

// Moves the focus on, so that the box's exit check runs.
void LeaveBox(QWidget* next) {
    next->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
}

void Choose(QComboBox* combo, const QString& item) {
    const int index = combo->findText(item);
    QVERIFY2(index >= 0, qPrintable(item));
    combo->setCurrentIndex(index);
}

} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowHarness> h_;
    std::unique_ptr<TfrmMain> window_;

    std::string SettingsPath() const { return h_->Settings().FileName(); }
    TIniFile Formats() const { return TIniFile(h_->Home("config/vantrel/vantrelformat.ini")); }

    // Opens the dialog with `open`, runs `drive` on it while it is modal
    // and makes sure it is closed afterwards. False when it never opened.
    bool WhileOpen(const std::function<void()>& open,
                   const std::function<void(TfrmSettings&)>& drive) {
        bool ran = false;
        QTimer::singleShot(0, window_.get(), [&] {
            TfrmSettings* dialog = window_->frmSettings;
            if (!dialog || !dialog->isVisible()) return;
            ran = true;
            dialog->activateWindow();
            if (QTest::qWaitForWindowActive(dialog))
                drive(*dialog);
            else
                qWarning("the dialog did not become active");
            if (dialog->isVisible()) dialog->reject();
        });
        open();
        return ran;
    }
    bool WhileOpen(const std::function<void(TfrmSettings&)>& drive) {
        return WhileOpen([this] { window_->btnSettingsClick(); }, drive);
    }

    // Picks a format in the dialog's own chooser by clicking its row.
    static void PickInChooser(TfrmSettings& d, int code) {
        QTest::mouseClick(d.imgbtn1, Qt::LeftButton);
        QVERIFY(d.lst1->isVisible());
        const std::string caption = FormatCaptionOf(code);
        const int category = code / 100;
        // Expand the category with a press on its glyph when needed.
        auto rowOf = [&](const std::string& text) {
            for (int i = 0; i < d.lst1->count(); ++i)
                if (d.lst1->item(i)->text().toStdString() == text) return i;
            return -1;
        };
        if (rowOf(caption) < 0) {
            const int heading = rowOf(CategoryCaption(category));
            QVERIFY(heading >= 0);
            const QRect r = d.lst1->visualItemRect(d.lst1->item(heading));
            QTest::mousePress(d.lst1->viewport(), Qt::LeftButton, {}, QPoint(8, r.center().y()));
        }
        const int row = rowOf(caption);
        QVERIFY(row >= 0);
        const QRect r = d.lst1->visualItemRect(d.lst1->item(row));
        QTest::mousePress(d.lst1->viewport(), Qt::LeftButton, {}, QPoint(60, r.center().y()));
        QVERIFY(!d.lst1->isVisible());
        QCOMPARE(d.edt1->text().toStdString(), caption);
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

    void init() {
        h_->Messages.clear();
        h_->Settings().WriteString("settings", "FormatCode", "102");
        h_->Settings().WriteString("settings", "FormatName", FormatCaptionOf(102));
    }

    void everyOpenerShowsTheStoredFormat() {
        // btnOptions stores the main chooser's state first.
        h_->Settings().WriteBool("lstformat", "1", true);
        window_->Chooser().imgbtn1Click();
        const int heading = window_->Chooser().Model().FindRow(CategoryCaption(1));
        const QRect r = window_->lst1->visualItemRect(window_->lst1->item(heading));
        QTest::mousePress(window_->lst1->viewport(), Qt::LeftButton, {}, QPoint(8, r.center().y()));
        window_->Chooser().HideList();
        bool stateStored = false;
        QVERIFY(WhileOpen([this] { QTest::mouseClick(window_->btnOptions, Qt::LeftButton); },
                          [&](TfrmSettings& d) {
                              stateStored = !h_->Settings().ReadBool("lstformat", "1", true);
                              QCOMPARE(d.edt1->text().toStdString(), FormatCaptionOf(102));
                          }));
        QVERIFY(stateStored);

        QVERIFY(WhileOpen([this] { QTest::mouseClick(window_->btnSettings, Qt::LeftButton); },
                          [&](TfrmSettings& d) {
                              QCOMPARE(d.size(), QSize(475, 370));
                              QCOMPARE(d.geometry().center(), window_->geometry().center());
                              QCOMPARE(d.FormatCode(), std::string("102"));
                              // The general MPEG-4 preset: encoders from the format file.
                              QCOMPARE(d.cmbVideoEncoder->count(), 3);
                              QVERIFY(d.cmbVideoEncoder->isEnabled());
                              QCOMPARE(d.cmbVideoSize->currentText(), QString("640x480"));
                              QCOMPARE(d.cmbZoom->currentText(), QString("Letterbox"));
                              QCOMPARE(d.cmbChannel->currentText(), QString("stereo 2 channels"));
                              QCOMPARE(d.cmbVolume->currentText(), QString("100%"));
                              QCOMPARE(d.cmbVolume->maxVisibleItems(), 12);
                          }));

        QAction* item = nullptr;
        for (QAction* a : window_->suiPopupMenuFile->actions())
            if (a->text() == "Se&ttings") item = a;
        QVERIFY(item);
        QVERIFY(WhileOpen([item] { item->trigger(); },
                          [](TfrmSettings& d) { QVERIFY(d.isVisible()); }));
        QVERIFY(h_->Messages.empty());
    }

    // The modern video formats show their quality steps and speed (keys of
    // their own), the bit rate counts only when chosen instead of a step,
    // and the classic formats show neither.
    void modernFormatShowsQualityStepsAndSpeed() {
        QVERIFY(WhileOpen([this](TfrmSettings& d) {
            QVERIFY(!d.cmbQuality->isVisible());
            QVERIFY(!d.chkSlower->isVisible());
            PickInChooser(d, 301);
            QVERIFY(d.cmbQuality->isVisible());
            QVERIFY(d.chkSlower->isVisible());
            // The target size of the video formats has a place of its own.
            QVERIFY(d.cmbTargetSize->isVisible());
            QVERIFY(!d.cmbQuality->geometry().intersects(d.cmbTargetSize->geometry()));
            QVERIFY(d.rect().contains(d.btnOk->geometry()));
            QVERIFY(d.rect().contains(d.chkSlower->geometry()));
            QCOMPARE(d.cmbQuality->currentText(), QString("Quality: high"));
            QVERIFY(!d.cmbVideoBitRate->isEnabled());
            QCOMPARE(d.cmbVideoEncoder->currentText(), QString("av1"));
            Choose(d.cmbQuality, "Quality: small file");
            d.chkSlower->setChecked(true);
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        TIniFile settings(SettingsPath());
        QCOMPARE(settings.ReadString("formatInfo301", "paraQualityStep", ""), std::string("small"));
        QCOMPARE(settings.ReadString("formatInfo301", "paraSpeed", ""), std::string("slower"));
        QCOMPARE(settings.ReadString("settings", "FormatCode", ""), std::string("301"));
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            QCOMPARE(d.cmbQuality->currentText(), QString("Quality: small file"));
            QVERIFY(d.chkSlower->isChecked());
            Choose(d.cmbQuality, "Bit rate (choose below)");
            QVERIFY(d.cmbVideoBitRate->isEnabled());
            QTest::mouseClick(d.btnDefault, Qt::LeftButton);
            QCOMPARE(d.cmbQuality->currentText(), QString("Quality: high"));
            QVERIFY(!d.chkSlower->isChecked());
        }));
        QVERIFY(h_->Messages.empty());
    }

    // Picking a format whose encoder the libraries lack names the encoder.
    void missingEncoderIsNamedWhenPicked() {
        const TEncoderLookup previous =
            SetEncoderLookup([](const std::string& name) { return name != "libsvtav1"; });
        QVERIFY(WhileOpen([](TfrmSettings& d) { PickInChooser(d, 301); }));
        SetEncoderLookup(previous);
        QCOMPARE(h_->Messages.size(), size_t(1));
        QCOMPARE(
            h_->Messages[0].Text,
            std::string("The encoder libsvtav1 is not available in the loaded media libraries"));
    }

    void audioFormatDisablesTheVideoGroup() {
        h_->Settings().WriteString("settings", "FormatCode", "204");
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            QCOMPARE(d.cmbVideoEncoder->count(), 0);
            for (QComboBox* c :
                 {d.cmbVideoSize, d.cmbVideoBitRate, d.cmbFrameRate, d.cmbVideoEncoder, d.cmbZoom})
                QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
            QVERIFY(d.cmbAudioEncoder->isEnabled());
            QVERIFY(!d.cmbAudioBitRate->isEnabled()); // no bit rates for PCM
        }));
    }

    void frameSizeChecksCorrectAndRefuse() {
        QVERIFY(WhileOpen([this](TfrmSettings& d) {
            TypeInto(d.cmbVideoSize, "321x241");
            LeaveBox(d.cmbFrameRate);
            QCOMPARE(h_->Messages.size(), size_t(1));
            QCOMPARE(h_->Messages[0].Caption, std::string("Input Error!"));
            QCOMPARE(h_->Messages[0].Text,
                     std::string("Frame Size must be a multiple of 2.\nThe correct value:320x240"));
            QCOMPARE(d.cmbVideoSize->currentText(), QString("320x240"));

            TypeInto(d.cmbVideoSize, "0x0");
            LeaveBox(d.cmbFrameRate);
            QCOMPARE(d.cmbVideoSize->currentText(), QString("2x2"));

            // A second "x" and letters after the first key are dropped.
            TypeInto(d.cmbVideoSize, "64x4x8q");
            QCOMPARE(d.cmbVideoSize->currentText(), QString("64x48"));
            // While the box is empty any key goes in; the text is then refused.
            h_->Messages.clear();
            TypeInto(d.cmbVideoSize, "big");
            QCOMPARE(d.cmbVideoSize->currentText(), QString("b"));
            LeaveBox(d.cmbFrameRate);
            QCOMPARE(h_->Messages.size(), size_t(1));
            QCOMPARE(h_->Messages[0].Caption, std::string("Vantrel"));
            QCOMPARE(h_->Messages[0].Text, std::string("Frame Size is not a valid value!"));
            QCOMPARE(d.cmbVideoSize->currentIndex(), 1);
            QCOMPARE(d.cmbVideoSize->currentText(), d.cmbVideoSize->itemText(1));
            // "as source" in any case passes.
            h_->Messages.clear();
            d.cmbVideoSize->setEditText("As Source");
            d.cmbVideoSize->setFocus(Qt::TabFocusReason);
            LeaveBox(d.cmbFrameRate);
            QVERIFY(h_->Messages.empty());
        }));
    }

    void numericBoxesRefuseLettersAndBadValues() {
        QVERIFY(WhileOpen([this](TfrmSettings& d) {
            TypeInto(d.cmbVideoBitRate, "9a0");
            QCOMPARE(d.cmbVideoBitRate->currentText(), QString("90"));
            QCOMPARE(h_->Messages.size(), size_t(1));
            QCOMPARE(h_->Messages[0].Text, std::string("Please enter numerical."));
            QCOMPARE(h_->Messages[0].Caption, std::string("Vantrel"));
            LeaveBox(d.cmbFrameRate);
            QCOMPARE(h_->Messages.size(), size_t(1)); // 90 is a valid bit rate
            // Enter in a box neither confirms nor resets the dialog.
            QTest::keyClick(d.cmbVideoBitRate, Qt::Key_Return);
            QVERIFY(d.isVisible());
            QCOMPARE(d.cmbVideoBitRate->currentText(), QString("90"));

            h_->Messages.clear();
            TypeInto(d.cmbSamplerate, "4x");
            QCOMPARE(d.cmbSamplerate->currentText(), QString("4"));
            TypeInto(d.cmbAudioBitRate, "1.5");
            QCOMPARE(d.cmbAudioBitRate->currentText(), QString("15"));
            QCOMPARE(h_->Messages.size(), size_t(2));

            // Texts that did not come through the keys are checked on exit.
            h_->Messages.clear();
            d.cmbVideoBitRate->setEditText("fast");
            d.cmbVideoBitRate->setFocus(Qt::TabFocusReason);
            LeaveBox(d.cmbFrameRate);
            d.cmbSamplerate->setEditText("");
            d.cmbSamplerate->setFocus(Qt::TabFocusReason);
            LeaveBox(d.cmbFrameRate);
            d.cmbAudioBitRate->setEditText("128.5");
            d.cmbAudioBitRate->setFocus(Qt::TabFocusReason);
            LeaveBox(d.cmbFrameRate);
            d.cmbAudioBitRate->setEditText("1.2.8");
            d.cmbAudioBitRate->setFocus(Qt::TabFocusReason);
            LeaveBox(d.cmbFrameRate);
            QCOMPARE(h_->Messages.size(), size_t(3));
            QCOMPARE(h_->Messages[0].Text, std::string("Video BitRate is not a valid value!"));
            QCOMPARE(h_->Messages[1].Text, std::string("Audio SampleRate is not a valid value!"));
            QCOMPARE(h_->Messages[2].Text, std::string("Audio BitRate is not a valid value!"));
            QCOMPARE(d.cmbVideoBitRate->currentIndex(), 1);
            QCOMPARE(d.cmbSamplerate->currentIndex(), 1);
            QCOMPARE(d.cmbAudioBitRate->currentIndex(), 1);
        }));
    }

    void okWritesTheFormatsKeys() {
        // A preset with "gsm" among its encoders and H.264 extras to copy.
        TIniFile formats = Formats();
        const std::string section = FormatSectionName(102);
        QVERIFY(formats.WriteString(section, "AudioEncoder", "aac,mp3,gsm"));
        QVERIFY(formats.WriteString(section, "paraLevel", "0"));
        QVERIFY(formats.WriteString(section, "paraGop", "250"));
        TIniFile settings = h_->Settings();
        settings.WriteString("settings", "FormatCode", "0");
        settings.WriteString("settings", "FormatName", FormatCaptionOf(0));
        QVERIFY(!settings.ValueExists(section, "paraGop"));
        QVERIFY(WhileOpen([this](TfrmSettings& d) {
            QCOMPARE(d.FormatCode(), std::string("0"));
            PickInChooser(d, 102);
            QCOMPARE(d.FormatCode(), std::string("102"));
            // Picking in the dialog writes nothing yet.
            QCOMPARE(h_->Settings().ReadString("settings", "FormatCode", ""), std::string("0"));
            QCOMPARE(d.cmbAudioEncoder->count(), 3);
            TypeInto(d.cmbVideoSize, "500x400");
            TypeInto(d.cmbVideoBitRate, "700");
            Choose(d.cmbFrameRate, "25");
            Choose(d.cmbVideoEncoder, "h264");
            Choose(d.cmbZoom, "Pan and Scan");
            Choose(d.cmbAudioEncoder, "gsm");
            Choose(d.cmbChannel, "stereo 2 channels");
            Choose(d.cmbVolume, "150%");
            TypeInto(d.cmbAudioBitRate, "96");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
            QVERIFY(!d.isVisible());
        }));
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        settings = h_->Settings();
        auto value = [&](const char* key) { return settings.ReadString(section, key, "<none>"); };
        QCOMPARE(value("Description"), FormatCaptionOf(102));
        QCOMPARE(value("iVideoSize"), std::string("-1"));
        QCOMPARE(value("paraVideoSize"), std::string("500x400"));
        QCOMPARE(value("iVideoBitRate"), std::string("-1"));
        QCOMPARE(value("paraVideoBitRate"), std::string("700"));
        QCOMPARE(value("paraFrameRate"), std::string("25"));
        QCOMPARE(value("iVideoEncoder"), std::string("2"));
        QCOMPARE(value("paraVideoEncoder"), std::string("libx264"));
        QCOMPARE(value("paraGop"), std::string("250"));
        QCOMPARE(value("paraLevel"), std::string("<none>"));
        QCOMPARE(value("paraZoom"), std::string("pan"));
        QCOMPARE(value("iAudioEncoder"), std::string("2"));
        QCOMPARE(value("paraAudioEncoder"), std::string("libgsm"));
        QCOMPARE(value("paraSampleRate"), std::string("8000"));
        QCOMPARE(value("paraChannel"), std::string("1"));
        QCOMPARE(value("paraVolume"), std::string("384"));
        QCOMPARE(value("iAudioBitRate"), std::string("2"));
        QCOMPARE(value("paraAudioBitRate"), std::string("96"));
        QCOMPARE(settings.ReadString("settings", "FormatCode", ""), std::string("102"));
        QCOMPARE(settings.ReadString("settings", "FormatName", ""), FormatCaptionOf(102));
        // The dialog's chooser state and the main window's rebuilt chooser.
        QVERIFY(!settings.ReadBool("lstformat", "1", true));
        QCOMPARE(window_->edt1->text().toStdString(), FormatCaptionOf(102));
        QVERIFY(window_->Chooser().Model().FindRow(FormatCaptionOf(102)) >= 0);

        // Shown again, the dialog puts the typed values back into the boxes.
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            QCOMPARE(d.cmbVideoSize->currentText(), QString("500x400"));
            QCOMPARE(d.cmbVideoBitRate->currentText(), QString("700"));
            QCOMPARE(d.cmbAudioEncoder->currentText(), QString("gsm"));
            QCOMPARE(d.cmbZoom->currentIndex(), 2);
            // Also after picking another format and this one again.
            PickInChooser(d, 103);
            QCOMPARE(d.cmbVideoSize->currentText(), QString("640x480"));
            PickInChooser(d, 102);
            QCOMPARE(d.cmbVideoSize->currentText(), QString("500x400"));
            QCOMPARE(d.cmbVideoBitRate->currentText(), QString("700"));
        }));
        QVERIFY(formats.WriteString(section, "AudioEncoder", "aac,mp3"));
    }

    void cancelAndDefaultWriteNothing() {
        const std::string before = testsupport::ReadFileText(SettingsPath());
        QVERIFY(WhileOpen([this](TfrmSettings& d) {
            PickInChooser(d, 204);
            QCOMPARE(d.FormatCode(), std::string("204"));
            QVERIFY(!d.cmbVideoEncoder->isEnabled());
            PickInChooser(d, 103);
            TypeInto(d.cmbVideoSize, "720x576");
            Choose(d.cmbVolume, "25%");
            // Default: the preset's items, Zoom back to full screen.
            QTest::mouseClick(d.btnDefault, Qt::LeftButton);
            const TIniFile formats = Formats();
            const std::string section = FormatSectionName(103);
            QCOMPARE(d.cmbVideoSize->currentIndex(), formats.ReadInteger(section, "iVideoSize", 0));
            QCOMPARE(d.cmbVolume->currentText(), QString("100%"));
            QCOMPARE(d.cmbVideoEncoder->currentText(), QString("h264"));
            QCOMPARE(d.cmbZoom->currentText(), QString("Full screen"));
            QTest::mouseClick(d.btnCancel, Qt::LeftButton);
            QVERIFY(!d.isVisible());
        }));
        QCOMPARE(testsupport::ReadFileText(SettingsPath()), before);
        QCOMPARE(h_->Settings().ReadString("settings", "FormatCode", ""), std::string("102"));
        QVERIFY(WhileOpen([](TfrmSettings& d) { QCOMPARE(d.FormatCode(), std::string("102")); }));
    }

    void refusedVolumeLeavesTheSectionWhole() {
        TIniFile formats = Formats();
        const std::string section = FormatSectionName(102);
        QVERIFY(formats.WriteString(section, "Volume", "100%,loud!"));
        const std::string before = testsupport::ReadFileText(SettingsPath());
        QVERIFY(WhileOpen([this](TfrmSettings& d) {
            Choose(d.cmbVolume, "loud!");
            TypeInto(d.cmbVideoBitRate, "900");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
            QVERIFY(d.isVisible());
            QCOMPARE(h_->Messages.size(), size_t(1));
            QVERIFY(h_->Messages[0].Text.find("loud!") != std::string::npos);
        }));
        QCOMPARE(testsupport::ReadFileText(SettingsPath()), before);
        QVERIFY(formats.WriteString(section, "Volume",
                                    "25%,50%,75%,100%,125%,150%,175%,200%,250%,300%,350%,400%"));
    }

    void everyControlHasAnAccessibleName() {
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            for (QWidget* w : d.findChildren<QWidget*>()) {
                if (qobject_cast<QComboBox*>(w) || qobject_cast<QPushButton*>(w) ||
                    qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) ||
                    qobject_cast<QAbstractItemView*>(w)) {
                    const bool named = !w->accessibleName().isEmpty() || !w->toolTip().isEmpty() ||
                                       (qobject_cast<QAbstractButton*>(w) &&
                                        !static_cast<QAbstractButton*>(w)->text().isEmpty());
                    bool insideCombo = false;
                    for (QWidget* p = w->parentWidget(); p && p != &d; p = p->parentWidget())
                        insideCombo = insideCombo || qobject_cast<QComboBox*>(p);
                    if (insideCombo) continue; // parts of a combo speak through it
                    QVERIFY2(named, qPrintable(w->objectName()));
                }
            }
        }));
    }

    void pictureOfTheDialog() {
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            const QImage image = d.grab().toImage();
            QCOMPARE(image.size(), QSize(475, 370));
            QCOMPARE(image.pixelColor(240, 322), QColor(24, 52, 91));
            const QString shot = qEnvironmentVariable("VANTREL_SETTINGS_SCREENSHOT");
            if (!shot.isEmpty()) image.save(shot);

            // The chooser's list opens below the box, at most 247 high.
            QTest::mouseClick(d.imgbtn1, Qt::LeftButton);
            QVERIFY(d.lst1->isVisible());
            QCOMPARE(d.lst1->y(), d.edt1->geometry().bottom());
            const int rows = d.lst1->count();
            QCOMPARE(d.lst1->height(), rows * 20 > 247 ? 247 : rows * 20 + 20);
            if (!shot.isEmpty()) d.grab().save(QString(shot).replace(".png", "_list.png"));
            // A click elsewhere in the dialog closes it.
            QTest::mouseClick(d.grpAudio, Qt::LeftButton, {}, QPoint(300, 100));
            QVERIFY(!d.lst1->isVisible());

            // The drop-down rows: the current one light blue in a blue frame,
            // the others white.
            d.cmbVolume->setCurrentIndex(3);
            d.cmbVolume->showPopup();
            QAbstractItemView* view = d.cmbVolume->view();
            QTRY_VERIFY(view->isVisible());
            const QImage rowsImage = view->grab().toImage();
            const QRect current = view->visualRect(view->model()->index(3, 0));
            const QRect other = view->visualRect(view->model()->index(5, 0));
            QCOMPARE(current.height(), 20);
            QCOMPARE(rowsImage.pixelColor(current.right() - 5, current.top() + 4),
                     QColor(185, 204, 236));
            QCOMPARE(rowsImage.pixelColor(current.right() - 5, current.top() + 1),
                     QColor(122, 160, 218));
            QCOMPARE(rowsImage.pixelColor(other.right() - 5, other.top() + 4), QColor(Qt::white));
            if (!shot.isEmpty()) rowsImage.save(QString(shot).replace(".png", "_rows.png"));
            d.cmbVolume->hidePopup();
        }));
    }

    // Items whose encoder these libraries lack stay in the lists; a batch
    // with one fails at Start and names the encoder.
    void missingEncodersFailLoudly() {
        const std::string clip = h_->MakeClip("short.avi");
        QVERIFY(!clip.empty());
        TIniFile formats = Formats();
        const std::string section = FormatSectionName(102);
        QVERIFY(formats.WriteString(section, "VideoEncoder", "mpeg-4,xvid,h264,wmv3"));
        QVERIFY(formats.WriteString(section, "AudioEncoder", "aac,mp3,libamr_nb"));
        const std::pair<const char*, const char*> cases[] = {{"wmv3", "aac"},
                                                             {"mpeg-4", "libamr_nb"}};
        for (const auto& [video, audio] : cases) {
            const QString v = video, a = audio;
            QVERIFY(WhileOpen([&](TfrmSettings& d) {
                Choose(d.cmbVideoEncoder, v);
                Choose(d.cmbAudioEncoder, a);
                QTest::mouseClick(d.btnOk, Qt::LeftButton);
            }));
            h_->Messages.clear();
            window_->btnClearClick();
            TWindowHarness::AddFiles(*window_, {clip});
            TWindowHarness::PressStart(*window_);
            std::string all;
            for (const TShownMessage& m : h_->Messages)
                all += m.Text + "\n";
            for (int row = 0; row < window_->lvFIles->RowCount(); ++row)
                for (int col = 0; col < window_->lvFIles->columnCount(); ++col)
                    all += window_->lvFIles->Row(row)->text(col).toStdString() + "\n";
            const std::string named = std::string(video) == "wmv3" ? "wmv3" : "amrnb";
            QVERIFY2(all.find(named) != std::string::npos, all.c_str());
        }
        QVERIFY(formats.WriteString(section, "VideoEncoder", "mpeg-4,xvid,h264"));
        QVERIFY(formats.WriteString(section, "AudioEncoder", "aac,mp3"));
        QVERIFY(WhileOpen([&](TfrmSettings& d) {
            Choose(d.cmbVideoEncoder, "mpeg-4");
            Choose(d.cmbAudioEncoder, "aac");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        window_->btnClearClick();
    }

    void conversionUsesTheEditedParameters() {
        const std::string clip = h_->Media("clip6.avi");
        QVERIFY(testsupport::MakeMedia(clip, "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi "
                                             "-i sine=f=440 -t 6 -c:v mpeg4 -q:v 3 -c:a mp2 "
                                             "-shortest"));
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            Choose(d.cmbVideoEncoder, "mpeg-4");
            Choose(d.cmbAudioEncoder, "aac");
            TypeInto(d.cmbVideoSize, "400x300");
            TypeInto(d.cmbVideoBitRate, "300");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        std::set<fs::path> before;
        for (const auto& entry : fs::directory_iterator(h_->OutputFolder()))
            before.insert(entry.path());
        TWindowHarness::AddFiles(*window_, {clip});
        TWindowHarness::PressStart(*window_);
        QVERIFY2(h_->Messages.empty(), h_->FirstMessage());
        std::string out;
        for (const auto& entry : fs::directory_iterator(h_->OutputFolder()))
            if (!before.count(entry.path())) out = entry.path().string();
        QVERIFY(!out.empty());
        QCOMPARE(testsupport::ProbeValue(out, "stream=codec_name", "v:0"), std::string("mpeg4"));
        QCOMPARE(testsupport::ProbeValue(out, "stream=width", "v:0"), std::string("400"));
        QCOMPARE(testsupport::ProbeValue(out, "stream=height", "v:0"), std::string("300"));
        // The preset's 1200 kbit/s would give well over 1000 kbit/s here.
        const long rate = std::stol(testsupport::ProbeValue(out, "stream=bit_rate", "v:0"));
        QVERIFY2(rate > 150'000 && rate < 750'000, qPrintable(QString::number(rate)));
    }

    // The loudness target: a choice of each format, written on OK only,
    // shown again for its format, Off for the others and after Default.
    void loudnessChoiceKeptPerFormat() {
        const std::string section = "formatInfo102";
        // Earlier tests may have pressed OK on the format (writing Off).
        const std::string before =
            h_->Settings().ReadString(section, "paraLoudnessTarget", "<none>");
        QVERIFY(before == "<none>" || before == "0");
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            QCOMPARE(d.cmbLoudness->accessibleName(), QString("Loudness"));
            QVERIFY(d.cmbLoudness->toolTip().contains("volume setting applies on top"));
            QCOMPARE(d.cmbLoudness->currentText(), QString("Off"));
            QStringList items;
            for (int i = 0; i < d.cmbLoudness->count(); ++i)
                items << d.cmbLoudness->itemText(i);
            QCOMPARE(items, QStringList({"Off", "-23 LUFS (broadcast)", "-16 LUFS (podcasts, web)",
                                         "-14 LUFS (music streaming)"}));
            Choose(d.cmbLoudness, "-16 LUFS (podcasts, web)");
            QTest::mouseClick(d.btnCancel, Qt::LeftButton);
        }));
        QCOMPARE(h_->Settings().ReadString(section, "paraLoudnessTarget", "<none>"), before);
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            Choose(d.cmbLoudness, "-16 LUFS (podcasts, web)");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        QCOMPARE(h_->Settings().ReadString(section, "paraLoudnessTarget", "<none>"),
                 std::string("-16"));
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            QCOMPARE(d.cmbLoudness->currentText(), QString("-16 LUFS (podcasts, web)"));
            PickInChooser(d, 200);
            QCOMPARE(d.cmbLoudness->currentText(), QString("Off"));
            QVERIFY(d.cmbLoudness->isEnabled());
            PickInChooser(d, 102);
            QCOMPARE(d.cmbLoudness->currentText(), QString("-16 LUFS (podcasts, web)"));
            QTest::mouseClick(d.btnDefault, Qt::LeftButton);
            QCOMPARE(d.cmbLoudness->currentText(), QString("Off"));
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        QCOMPARE(h_->Settings().ReadString(section, "paraLoudnessTarget", "<none>"),
                 std::string("0"));
    }
    // The target size: presets and a typed number of MB, Off for none; a
    // typed text that is no size is refused; audio formats have none.
    void targetSizeChoiceKeptPerFormat() {
        const std::string section = "formatInfo102";
        const auto stored = [&] {
            return h_->Settings().ReadString(section, "paraTargetSize", "<none>");
        };
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            QCOMPARE(d.cmbTargetSize->accessibleName(), QString("Target size"));
            QVERIFY(d.cmbTargetSize->isEnabled());
            QStringList items;
            for (int i = 0; i < d.cmbTargetSize->count(); ++i)
                items << d.cmbTargetSize->itemText(i);
            QCOMPARE(items, QStringList({"Off", "8 MB", "25 MB", "50 MB", "100 MB", "500 MB"}));
            Choose(d.cmbTargetSize, "25 MB");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        QCOMPARE(stored(), std::string("25"));
        QVERIFY(WhileOpen([this](TfrmSettings& d) {
            QCOMPARE(d.cmbTargetSize->currentText(), QString("25 MB"));
            TypeInto(d.cmbTargetSize, "big");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
            QVERIFY(d.isVisible()); // refused
            QCOMPARE(int(h_->Messages.size()), 1);
            h_->Messages.clear();
            TypeInto(d.cmbTargetSize, "12.5");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        QCOMPARE(stored(), std::string("12.5"));
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            QCOMPARE(d.cmbTargetSize->currentText(), QString("12.5 MB"));
            PickInChooser(d, 200);
            QVERIFY(!d.cmbTargetSize->isEnabled());
            PickInChooser(d, 102);
            Choose(d.cmbTargetSize, "Off");
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        QCOMPARE(stored(), std::string("0"));
    }

    // The modern formats' block sits clear of the classic boxes and of the
    // buttons; the hook VANTREL_SETTINGS_SCREENSHOT saves it beside the
    // classic form.
    void pictureOfTheModernForm() {
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            PickInChooser(d, 301);
            const QRect slower = d.chkSlower->geometry();
            for (QWidget* button :
                 {static_cast<QWidget*>(d.btnDefault), static_cast<QWidget*>(d.btnOk),
                  static_cast<QWidget*>(d.btnCancel)})
                QVERIFY2(!slower.intersects(button->geometry()), qPrintable(button->objectName()));
            QVERIFY(d.grpVideo->rect().contains(d.cmbQuality->geometry()));
            bool labelShown = false;
            for (QLabel* label : d.grpVideo->findChildren<QLabel*>())
                if (label->buddy() == d.cmbQuality) labelShown = label->isVisible();
            QVERIFY(labelShown);
            const QString shot = qEnvironmentVariable("VANTREL_SETTINGS_SCREENSHOT");
            if (!shot.isEmpty()) d.grab().save(QString(shot).replace(".png", "_modern.png"));
            // Back to a classic format: the block and its label go.
            PickInChooser(d, 102);
            QVERIFY(!d.cmbQuality->isVisible() && !d.chkSlower->isVisible());
            for (QLabel* label : d.grpVideo->findChildren<QLabel*>())
                if (label->buddy() == d.cmbQuality) QVERIFY(!label->isVisible());
        }));
    }

    // A loudness target set by hand in the file is no preset: it is shown
    // as it is and OK keeps it.
    void handSetLoudnessTargetKept() {
        const std::string section = "formatInfo102";
        h_->Settings().WriteString(section, "paraLoudnessTarget", "-20");
        QVERIFY(WhileOpen([](TfrmSettings& d) {
            QCOMPARE(d.cmbLoudness->currentText(), QString("-20 LUFS"));
            QTest::mouseClick(d.btnOk, Qt::LeftButton);
        }));
        QCOMPARE(h_->Settings().ReadString(section, "paraLoudnessTarget", ""), std::string("-20"));
        h_->Settings().WriteString(section, "paraLoudnessTarget", "0");
    }
};

// The application object with the error reporter, as the program runs: an
// exception that escapes a handler becomes a message box.
int main(int argc, char** argv) {
    TApplication application(argc, argv);
    TestSettingsDialog test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_settingsdialog.moc"
