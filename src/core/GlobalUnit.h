// The program's global object (paths of the two INI files, product name,
// version text and web addresses), a few platform helpers, and the rules
// that keep the output and snapshot folders usable.
#pragma once

#include "core/IniFile.h"

#include <string>

// Web addresses of the product, in one place.
inline constexpr char kVantrelProductPage[] = "https://vantrel.org/";
inline constexpr char kVantrelHelpPage[] = "https://vantrel.org/help/";
inline constexpr char kVantrelSupportPage[] = "https://vantrel.org/support/";

inline constexpr char kVantrelProductName[] = "Vantrel";
// Shown until the version of the running program replaces it.
inline constexpr char kVantrelInitialVersionText[] = " ver 2.10 ";

inline constexpr char kSettingsFileName[] = "vantrel.ini";
inline constexpr char kFormatFileName[] = "vantrelformat.ini";
inline constexpr char kSettingsSection[] = "settings";

// Folders that GetSpecialFolder knows.
enum class TSpecialFolder {
    CommonAppData, // where the two INI files live: $XDG_CONFIG_HOME/vantrel/
    Home,          // $HOME/
    Videos,        // $HOME/Videos/
    Temp           // $TMPDIR/ or /tmp/
};

class TGlobalObject {
public:
    const std::string& HelpPage() const { return FHelpPage; }
    const std::string& SettingsFile() const { return FSettingsFile; }
    const std::string& FormatFile() const { return FFormatFile; }
    const std::string& ProductName() const { return FProductName; }
    const std::string& VersionText() const { return FVersionText; }
    const std::string& ProductPage() const { return FProductPage; }

    // Each setter keeps the old value, and returns false, when the new one
    // fails its rule: texts must not be empty, file paths must be longer
    // than 3 characters.
    bool SetHelpPage(const std::string& value);
    bool SetSettingsFile(const std::string& value);
    bool SetFormatFile(const std::string& value);
    bool SetProductName(const std::string& value);
    bool SetVersionText(const std::string& value);
    bool SetProductPage(const std::string& value);

    // The settings file and the format file as stores.
    TIniFile Settings() const { return TIniFile(FSettingsFile); }
    TIniFile Formats() const { return TIniFile(FFormatFile); }

    // " major.minorreleasebuild " of the running program.
    static std::string GetVersionText();
    // True when a new file can be made in the folder and removed again.
    static bool CanWriteToFolder(const std::string& folder);
    // Name of the user the program runs as, at most 253 characters.
    static std::string GetLoginName();
    // The folder's path with a trailing "/", or empty when it is unknown.
    static std::string GetSpecialFolder(TSpecialFolder folder);
    // The last n characters of the text (the whole text when shorter).
    static std::string RightChars(const std::string& text, int n);

private:
    std::string FHelpPage;
    std::string FSettingsFile;
    std::string FFormatFile;
    std::string FProductName;
    std::string FVersionText;
    std::string FProductPage;
};

// " 4.8016 " for version 4.8.0.16.
std::string FormatVersionText(int major, int minor, int release, int build);

// Fills the object as the main window does when it is created: both INI
// paths in the application-data folder, product name, the initial version
// text and the web addresses.
void InitGlobalObject(TGlobalObject& g);

// Number of characters of a UTF-8 text.
std::size_t CharCount(const std::string& text);

// $HOME/Videos/tollivane: the output and snapshot folder when none is set.
std::string DefaultOutputFolder();
// $HOME/tollivane (or /tmp/tollivane without a home folder): used when a
// folder cannot be written.
std::string FallbackFolder();

// Start-up check of "OutPutDir" or "SnapOutPutDir": a folder that cannot be
// written is silently replaced in the settings by the fall-back folder.
void CheckFolderAtStart(const TGlobalObject& g, const std::string& key);

// Before files are written into a folder: returns the folder when it exists
// or could be created; otherwise tells the user, creates the default folder,
// stores it under the key and returns it.
std::string EnsureFolder(const TGlobalObject& g, const std::string& key, const std::string& folder);

// After the folder chooser returned `chosen` while `shown` is displayed:
// stores an acceptable choice under the key (or the fall-back folder for a
// folder that cannot be written) and returns the folder to display.
std::string AcceptChosenFolder(const TGlobalObject& g, const std::string& key,
                               const std::string& chosen, const std::string& shown);
