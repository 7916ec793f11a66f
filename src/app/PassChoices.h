// The settings dialog's choices of the passes around a conversion:
// "Loudness:" in the audio group (Off or a target the file is measured and
// brought to) and "Target size:" in the video group (Off, a preset or a
// typed number of MB each file is encoded to fit).
//
// Threads: user-interface thread only.
#pragma once

#include <string>

class TIniFile;
class TfrmSettings;

class TPassChoices {
public:
    explicit TPassChoices(TfrmSettings& dialog) : FDialog(dialog) {}

    // The dialog's `cmbLoudness` and `cmbTargetSize`.
    void Create();
    // The stored choices of the format `code`.
    void Load(const TIniFile& settings, int code);
    // Both Off.
    void Default();
    void SaveLoudness(TIniFile& settings, const std::string& section) const;
    // False with `error` set for a typed value that is no size; else writes
    // it and returns whether the file took it.
    bool SaveTargetSize(TIniFile& settings, const std::string& section, std::string& error) const;

private:
    void CreateLoudness();
    void CreateTargetSize();

    TfrmSettings& FDialog;
};
