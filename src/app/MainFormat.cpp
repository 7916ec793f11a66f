#include "app/MainFormat.h"

#include "core/FormatCatalogue.h"
#include "core/IniFile.h"

#include <QComboBox>
#include <algorithm>

namespace {

const char* const kSettings = "settings";
const char* const kDefaultFormatName = "Apple iPod Video MPEG-4 Movie (*.mp4)";

// Captions of the never-shown format combo.
const char* const kOutputFormatItems[] = {"ZUNE - MPEG-4 Video ( *.mp4)",
                                          "ZUNE - MPEG-4 AVC Video ( *.mp4)",
                                          "ZUNE WMV -Windows Media Video (*.wmv)",
                                          "MOV - QuickTime (*.mov)",
                                          "WAV - Waveform Audio (*.wav)",
                                          "WMA - Windows Meida Audio (*.wma)",
                                          "M4A MPEG-4 Audio (*.m4a)",
                                          "MP3 MPEG Layer-3 Audio (*.mp3)",
                                          "AAC Advenced Audio Codec (*.aac)",
                                          "OGG Vorbis Audio Codec (*.ogg)"};

} // namespace

std::string StoredFormatName(const std::string& settingsFile) {
    TIniFile settings(settingsFile);
    const std::string stored = settings.ReadString(kSettings, "FormatName", "");
    if (!stored.empty()) return stored;
    const std::string inUse = FormatCaptionOf(settings.ReadInteger(kSettings, "FormatCode", 1));
    return inUse.empty() ? kDefaultFormatName : inUse;
}

void StorePickedFormat(const std::string& settingsFile, const std::string& caption, int code) {
    TIniFile settings(settingsFile);
    settings.WriteString(kSettings, "FormatName", caption);
    settings.WriteString(kSettings, "FormatCode", std::to_string(code));
}

void FillOutputFormatCombo(QComboBox& combo, const std::string& settingsFile) {
    combo.clear();
    for (const char* caption : kOutputFormatItems)
        combo.addItem(caption);
    combo.setMaxVisibleItems(std::min(combo.count(), 20));
    TIniFile settings(settingsFile);
    combo.setCurrentIndex(settings.ReadInteger(kSettings, "OutPutFormat", 0));
}
