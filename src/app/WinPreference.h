// The preferences dialog: the snapshot folder, sizes, file types and JPEG
// quality, the converter's work priority and how many conversions run at a
// time.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class TGlobalObject;

class TfrmPreference : public QDialog {
    Q_OBJECT
public:
    // Asks for a folder, starting from the one shown; empty when none.
    using TFolderChooser = std::function<std::string(const std::string& shown)>;
    TfrmPreference(QWidget* mainWindow, const TGlobalObject& global, TFolderChooser chooser);

    // Event handlers.
    void FormShow();
    void btnOkClick();
    void btnCancelClick();
    void btnDefaultClick();
    void btnBrowsClick();
    void btnOpenClick();
    void ckFullSizeClick();
    void ckSmallSizeClick();
    void ckBmpClick();
    void ckJpgClick();
    void trcCmpChange();
    void spedCmpChange();

    // The selected item of the work priority group, -1 when none.
    int PriorityIndex() const;

    QGroupBox* grpSnapshot = nullptr;
    QLineEdit* edtSnapDirectory = nullptr;
    QPushButton* btnBrows = nullptr;
    QPushButton* btnOpen = nullptr;
    QCheckBox* ckSmallSize = nullptr;
    QCheckBox* ckFullSize = nullptr;
    QCheckBox* ckBmp = nullptr;
    QCheckBox* ckJpg = nullptr;
    QSpinBox* spedCmp = nullptr;
    QSlider* trcCmp = nullptr;
    QGroupBox* rdGrpPriority = nullptr;
    QRadioButton* rdPriority[4] = {};
    // "Conversions at a time": 1 to the number of processor cores.
    QSpinBox* spedConcurrent = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateSnapshotGroup();
    void CreateQualityControls(QWidget* group);
    void CreatePriorityGroup();
    void CreateConcurrentControls();
    void CreateButtons();
    void ConnectHandlers();
    void SetQualityEnabled(bool enabled);
    void SetPriorityIndex(int index);
    // The pair rule: when both boxes are unchecked, `clicked` is checked again.
    static void KeepOneChecked(QCheckBox* clicked, QCheckBox* other);

    QWidget* FMainWindow;
    const TGlobalObject& FGlobal;
    TFolderChooser FChooser;
    QButtonGroup* FPriorityButtons = nullptr;
};
