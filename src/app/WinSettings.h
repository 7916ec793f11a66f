// The format settings dialog: a format chooser of its own and the video and
// audio parameters of the chosen format. Every showing reloads everything
// from the two INI files; OK writes the format's section of the settings
// file and the chosen format, Cancel writes nothing.
#pragma once

#include "app/FormatChooser.h"

#include <QDialog>
#include <QStyledItemDelegate>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;
class TGlobalObject;
class TIniFile;
class TPassChoices;
class TQualityChoice;

// Draws the rows of the dialog's drop-down lists: the row under the pointer
// light blue with a blue frame, the others white.
class TSettingsRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// A box of the dialog with its label at (x, y) of `group`, its rows drawn
// by TSettingsRowDelegate; `keyWatcher` sees the keys and the loss of focus
// of a box that takes typed text.
QComboBox* NewSettingsCombo(QObject* keyWatcher, const char* name, const char* caption,
                            bool editable, QGroupBox* group, int x, int y);

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // The dialog takes the files and the title from the main window's
    // global object, once, at its creation.
    TfrmSettings(QWidget* mainWindow, const TGlobalObject& global);
    ~TfrmSettings() override;

    // Handlers.
    void FormShow();
    void btnOkClick();
    void btnCancelClick();
    void btnDefaultClick();
    void edt1Change();
    bool ApplicationEvents1Message(QObject* receiver, QEvent* event);
    void ApplicationEvents1Deactivate();
    // Key filters: true when the key is dropped.
    bool cmbVideoSizeKeyPress(char key);
    bool cmbVideoBitRateKeyPress(char key);
    bool cmbSamplerateKeyPress(char key);
    bool cmbAudioBitRateKeyPress(char key);
    // Exit checks.
    void cmbVideoSizeExit();
    void cmbVideoBitRateExit();
    void cmbAudioBitRateExit();
    void cmbSamplerateExit();

    // Fills the ten combos for the dialog's format code. With
    // `storedTexts`, a stored index below 0 puts the stored text into the
    // boxes that can hold a typed value.
    void LoadFormatLists(bool storedTexts = false);

    // The dialog's own choice, not yet written.
    const std::string& FormatName() const { return FFormatName; }
    const std::string& FormatCode() const { return FFormatCode; }
    TFormatChooser& Chooser() { return *FChooser; }

    TFormatEdit* edt1 = nullptr;
    QToolButton* imgbtn1 = nullptr;
    TFormatList* lst1 = nullptr;
    QGroupBox* grpVideo = nullptr;
    QGroupBox* grpAudio = nullptr;
    QComboBox* cmbVideoSize = nullptr;
    QComboBox* cmbVideoBitRate = nullptr;
    QComboBox* cmbFrameRate = nullptr;
    QComboBox* cmbVideoEncoder = nullptr;
    QComboBox* cmbZoom = nullptr;
    QComboBox* cmbSamplerate = nullptr;
    QComboBox* cmbAudioEncoder = nullptr;
    QComboBox* cmbChannel = nullptr;
    QComboBox* cmbAudioBitRate = nullptr;
    QComboBox* cmbVolume = nullptr;
    // The modern video formats' own choices, shown only for them
    // (QualityChoice.h).
    QComboBox* cmbQuality = nullptr;
    QCheckBox* chkSlower = nullptr;
    // The loudness target of the format: Off or one of kLoudnessPresets
    // (PassChoices.h).
    QComboBox* cmbLoudness = nullptr;
    // The size each file of a video format is encoded to fit: Off, a preset
    // of kTargetSizePresets or a typed number of MB.
    QComboBox* cmbTargetSize = nullptr;
    // Never shown; its selection goes to the main window's combo on OK.
    QComboBox* cbOutputFormat = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ConnectHandlers();
    void PickFormat(const std::string& caption, int code);
    void SetGroupEnabled(bool video, bool enabled);
    void ShowPlainMessage(const std::string& text);
    // Shows the message and selects the box's second item when it has one.
    void RefuseValue(QComboBox* combo, const char* message);
    bool FilterKey(QComboBox* combo, QKeyEvent* event);
    void CheckOnExit(QComboBox* combo);
    std::string Section() const;
    void ReportMissingEncoder();

    QWidget* FMainWindow;
    std::string FSettingsFile, FFormatFile, FTitle;
    TFormatChooser* FChooser = nullptr;
    // The dialog's format, loaded from "settings" when shown and changed by
    // its chooser.
    std::string FFormatName, FFormatCode;
    // Set while FormShow fills the controls: the chooser's new caption must
    // not reload the lists before the format code is known.
    bool FShowing = false;
    // Sees every event of the application for the dialog; removed first
    // when the dialog goes, so that nothing reaches a half-destroyed dialog.
    QObject* FAppWatcher = nullptr;
    // The quality step and speed of the modern formats; the loudness and
    // target size choices, keys of their own beside the format's lists.
    std::unique_ptr<TQualityChoice> FQuality;
    std::unique_ptr<TPassChoices> FPasses;
};
