// The output format as the main window keeps it in the settings: the
// caption and code of the format picked in the chooser, and the old
// never-shown format combo with its stored index.
//
// Threads: user-interface thread only.
#pragma once

#include <string>

class QComboBox;

// The caption the chooser shows at start: the stored "FormatName", else the
// caption of the format in use ("FormatCode", default 1), else the default.
std::string StoredFormatName(const std::string& settingsFile);
// Stores the format picked in the chooser.
void StorePickedFormat(const std::string& settingsFile, const std::string& caption, int code);
// Fills the combo with its fixed captions and selects the stored index.
void FillOutputFormatCombo(QComboBox& combo, const std::string& settingsFile);
