#include "app/QualityChoice.h"

#include "app/WinSettings.h"
#include "core/FormatKeys.h"
#include "core/IniFile.h"
#include "core/ModernFormats.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <algorithm>

namespace {

// Shows or hides a box together with its label.
void ShowWithLabel(QComboBox* combo, bool visible) {
    combo->setVisible(visible);
    for (QLabel* label : combo->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (label->buddy() == combo) label->setVisible(visible);
}

} // namespace

bool TQualityChoice::HasSteps(const std::string& code) {
    int number = 0;
    return ParseIniInteger(code, number) && HasQualitySteps(number);
}

void TQualityChoice::Create() {
    TfrmSettings& d = FDialog;
    d.cmbQuality = NewSettingsCombo(&d, "cmbQuality", "Quality:", false, d.grpVideo, 230, 98);
    for (const TModernChoice& step : QualitySteps())
        d.cmbQuality->addItem(step.Caption);
    d.cmbQuality->view()->setMinimumWidth(180);
    d.chkSlower = new QCheckBox(SpeedChoices()[1].Caption, &d);
    d.chkSlower->setObjectName("chkSlower");
    d.chkSlower->setAccessibleName(SpeedChoices()[1].Caption);
    d.chkSlower->setToolTip("The encoder takes more time and makes smaller files");
    d.chkSlower->setGeometry(110, 333, 168, 22);
    QObject::connect(d.cmbQuality, &QComboBox::currentIndexChanged, &d,
                     [this] { UpdateBitRateBox(FDialog.FormatCode()); });
    ShowWithLabel(d.cmbQuality, false);
    d.chkSlower->hide();
}

void TQualityChoice::SelectStep(const std::string& word) {
    const auto steps = QualitySteps();
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (word == steps[i].Word) FDialog.cmbQuality->setCurrentIndex(static_cast<int>(i));
}

void TQualityChoice::Load(const TIniFile& settings, const std::string& section,
                          const std::string& code) {
    const bool modern = HasSteps(code);
    ShowWithLabel(FDialog.cmbQuality, modern);
    FDialog.chkSlower->setVisible(modern);
    if (!modern) return;
    SelectStep(ReadFormatKey(settings, section, kUserQualityStep));
    FDialog.chkSlower->setChecked(ReadFormatKey(settings, section, kUserSpeed) ==
                                  SpeedChoices()[1].Word);
    UpdateBitRateBox(code);
}

void TQualityChoice::Default(const std::string& code) {
    if (!HasSteps(code)) return;
    SelectStep(kUserQualityStep.Default);
    FDialog.chkSlower->setChecked(false);
}

void TQualityChoice::UpdateBitRateBox(const std::string& code) const {
    QComboBox* bitRate = FDialog.cmbVideoBitRate;
    if (!HasSteps(code) || bitRate->count() == 0) return;
    const auto steps = QualitySteps();
    const int index = FDialog.cmbQuality->currentIndex();
    bitRate->setEnabled(index >= 0 && static_cast<std::size_t>(index) < steps.size() &&
                        std::string(steps[index].Word) == kBitRateStep);
}

bool TQualityChoice::Write(TIniFile& settings, const std::string& section,
                           const std::string& code) const {
    if (!HasSteps(code)) return true;
    const auto steps = QualitySteps();
    const int index =
        std::clamp(FDialog.cmbQuality->currentIndex(), 0, static_cast<int>(steps.size()) - 1);
    const TIniFile::TKeyValues values = {
        {kUserQualityStep.Name, steps[static_cast<std::size_t>(index)].Word},
        {kUserSpeed.Name, SpeedChoices()[FDialog.chkSlower->isChecked() ? 1 : 0].Word}};
    return settings.WriteSectionValues(section, values);
}
