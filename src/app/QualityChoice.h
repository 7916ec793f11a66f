// The settings dialog's choices of the modern video formats: "Quality:" (a
// quality step, or the bit rate box) in the video group and "Slower, smaller
// files" beside the dialog's buttons. Both are shown only for a format with
// quality steps; the others keep their classic form.
//
// Threads: user-interface thread only.
#pragma once

#include <string>

class TIniFile;
class TfrmSettings;

class TQualityChoice {
public:
    explicit TQualityChoice(TfrmSettings& dialog) : FDialog(dialog) {}

    // The dialog's `cmbQuality` and `chkSlower`, hidden until a modern format
    // is loaded.
    void Create();
    // Shows or hides the two for the format `code` and loads its stored
    // choices from `section` of the settings.
    void Load(const TIniFile& settings, const std::string& section, const std::string& code);
    // The format's default step, at normal speed.
    void Default(const std::string& code);
    // Writes the step and the speed of a modern format; true when nothing
    // was to be written.
    bool Write(TIniFile& settings, const std::string& section, const std::string& code) const;
    // The bit rate box counts only when the bit rate is chosen instead of a
    // quality step.
    void UpdateBitRateBox(const std::string& code) const;

    // Whether the format `code` (as the settings file writes it) has steps.
    static bool HasSteps(const std::string& code);

private:
    void SelectStep(const std::string& word);

    TfrmSettings& FDialog;
};
