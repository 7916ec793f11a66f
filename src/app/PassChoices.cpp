#include "app/PassChoices.h"

#include "app/WinSettings.h"
#include "core/FormatKeys.h"
#include "core/IniFile.h"
#include "core/LoudnessPass.h"
#include "core/TargetSize.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <cstdio>

namespace {

const char* const kTargetSizeOff = "Off";

} // namespace

void TPassChoices::Create() {
    CreateLoudness();
    CreateTargetSize();
}

void TPassChoices::CreateLoudness() {
    TfrmSettings& d = FDialog;
    QComboBox* box = d.cmbLoudness =
        NewSettingsCombo(&d, "cmbLoudness", "Loudness:", false, d.grpAudio, 230, 82);
    box->view()->setMinimumWidth(220);
    box->addItem("Off", 0);
    for (const TLoudnessPreset& preset : kLoudnessPresets)
        box->addItem(preset.Caption, preset.Target);
    const QString hint = "Each file is measured first and brought to this loudness (EBU R128), "
                         "its true peak at most -1 dBTP. The volume setting applies on top of "
                         "the target: choose 100% for files exactly at the target.";
    box->setToolTip(hint);
    box->setAccessibleDescription(hint);
}

void TPassChoices::CreateTargetSize() {
    TfrmSettings& d = FDialog;
    QComboBox* box = d.cmbTargetSize =
        NewSettingsCombo(&d, "cmbTargetSize", "Target size:", true, d.grpVideo, 230, 72);
    box->addItem(kTargetSizeOff);
    for (const int megabytes : kTargetSizePresets)
        box->addItem(QString("%1 MB").arg(megabytes));
    const QString hint =
        "Each file is encoded in two passes to fit this size (MB of 1,000,000 bytes), never "
        "larger and at most 10 % below it. Where the size leaves the picture too little, the "
        "audio goes down to as little as 32 kbit/s; the file's row then says which rate. Type "
        "another size in MB.";
    box->setToolTip(hint);
    box->setAccessibleDescription(hint);
}

void TPassChoices::Load(const TIniFile& settings, int code) {
    QComboBox* loudness = FDialog.cmbLoudness;
    const int target = StoredLoudnessTarget(settings, code);
    int index = loudness->findData(target);
    if (index < 0) {
        // A target of another preset (set by hand in the file) stays one.
        loudness->addItem(QString("%1 LUFS").arg(target), target);
        index = loudness->count() - 1;
    }
    loudness->setCurrentIndex(index);

    QComboBox* size = FDialog.cmbTargetSize;
    const double megabytes = StoredTargetSize(settings, code);
    if (megabytes <= 0) {
        size->setCurrentIndex(0);
        return;
    }
    const QString text = QString::number(megabytes) + " MB";
    const int sizeIndex = size->findText(text);
    if (sizeIndex >= 0)
        size->setCurrentIndex(sizeIndex);
    else
        size->setEditText(text);
}

void TPassChoices::Default() {
    FDialog.cmbLoudness->setCurrentIndex(0);
    FDialog.cmbTargetSize->setCurrentIndex(0);
}

void TPassChoices::SaveLoudness(TIniFile& settings, const std::string& section) const {
    settings.WriteString(section, kUserLoudnessTarget.Name,
                         std::to_string(FDialog.cmbLoudness->currentData().toInt()));
}

bool TPassChoices::SaveTargetSize(TIniFile& settings, const std::string& section,
                                  std::string& error) const {
    QString text = FDialog.cmbTargetSize->currentText().trimmed();
    double megabytes = 0;
    if (text.compare(kTargetSizeOff, Qt::CaseInsensitive) != 0 && !text.isEmpty()) {
        if (text.endsWith("MB", Qt::CaseInsensitive)) text = text.chopped(2).trimmed();
        if (!ParseTargetSize(text.toStdString(), megabytes)) {
            error = "Please type the target size in MB, for example 25.";
            return false;
        }
    }
    char value[32];
    std::snprintf(value, sizeof value, "%g", megabytes);
    return settings.WriteString(section, kUserTargetSize.Name, value);
}
