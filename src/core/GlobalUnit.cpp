#include "core/GlobalUnit.h"

#include "core/MessageSeam.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxLoginName = 253;
constexpr char kFolderName[] = "tollivane";
constexpr char kWarning[] = "Warning";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string WithSlash(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}

// $HOME, or the home folder of the user's account when it is not set.
std::string HomeFolder() {
    std::string home = Environment("HOME");
    if (!home.empty()) return home;
    const passwd* pw = ::getpwuid(::geteuid());
    return (pw && pw->pw_dir) ? std::string(pw->pw_dir) : std::string();
}

std::string ConfigFolder() {
    const std::string xdg = Environment("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg[0] == '/') return WithSlash(xdg) + "vantrel/";
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : WithSlash(home) + ".config/vantrel/";
}

std::string TempFolder() {
    const std::string tmp = Environment("TMPDIR");
    return WithSlash(tmp.empty() ? std::string("/tmp") : tmp);
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool CreateFolder(const std::string& folder) {
    if (folder.empty()) return false;
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return true;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

void Warn(const std::string& text) {
    ShowMessageBox(kWarning, text, TMsgIcon::Warning, TMsgButtons::Ok);
}

} // namespace

bool TGlobalObject::SetHelpPage(const std::string& value) {
    if (value.empty()) return false;
    FHelpPage = value;
    return true;
}

bool TGlobalObject::SetSettingsFile(const std::string& value) {
    if (CharCount(value) <= 3) return false;
    FSettingsFile = value;
    return true;
}

bool TGlobalObject::SetFormatFile(const std::string& value) {
    if (CharCount(value) <= 3) return false;
    FFormatFile = value;
    return true;
}

bool TGlobalObject::SetProductName(const std::string& value) {
    if (value.empty()) return false;
    FProductName = value;
    return true;
}

bool TGlobalObject::SetVersionText(const std::string& value) {
    if (value.empty()) return false;
    FVersionText = value;
    return true;
}

bool TGlobalObject::SetProductPage(const std::string& value) {
    if (value.empty()) return false;
    FProductPage = value;
    return true;
}

std::string TGlobalObject::GetVersionText() {
    return FormatVersionText(VANTREL_VERSION_MAJOR, VANTREL_VERSION_MINOR, VANTREL_VERSION_PATCH,
                             VANTREL_VERSION_TWEAK);
}

bool TGlobalObject::CanWriteToFolder(const std::string& folder) {
    if (folder.empty()) return false;
    std::string probe = WithSlash(folder) + "DAXXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return false;
    ::close(fd);
    return ::unlink(probe.c_str()) == 0;
}

std::string TGlobalObject::GetLoginName() {
    const passwd* pw = ::getpwuid(::geteuid());
    std::string name = (pw && pw->pw_name) ? std::string(pw->pw_name) : Environment("USER");
    if (name.size() <= kMaxLoginName) return name;
    std::size_t n = kMaxLoginName;
    while (n > 0 && IsUtf8Continuation(name[n]))
        --n;
    return name.substr(0, n);
}

std::string TGlobalObject::GetSpecialFolder(TSpecialFolder folder) {
    const std::string home = HomeFolder();
    switch (folder) {
    case TSpecialFolder::CommonAppData:
        return ConfigFolder();
    case TSpecialFolder::Home:
        return WithSlash(home);
    case TSpecialFolder::Videos:
        return home.empty() ? std::string() : WithSlash(home) + "Videos/";
    case TSpecialFolder::Temp:
        return TempFolder();
    }
    return {};
}

std::string TGlobalObject::RightChars(const std::string& text, int n) {
    if (n <= 0) return {};
    std::size_t start = text.size();
    for (int taken = 0; start > 0 && taken < n; ++taken) {
        --start;
        while (start > 0 && IsUtf8Continuation(text[start]))
            --start;
    }
    return text.substr(start);
}

std::string FormatVersionText(int major, int minor, int release, int build) {
    return " " + std::to_string(major) + "." + std::to_string(minor) + std::to_string(release) +
           std::to_string(build) + " ";
}

void InitGlobalObject(TGlobalObject& g) {
    const std::string folder = TGlobalObject::GetSpecialFolder(TSpecialFolder::CommonAppData);
    g.SetSettingsFile(folder + kSettingsFileName);
    g.SetFormatFile(folder + kFormatFileName);
    g.SetProductName(kVantrelProductName);
    g.SetVersionText(kVantrelInitialVersionText);
    g.SetProductPage(kVantrelProductPage);
    g.SetHelpPage(kVantrelHelpPage);
}

std::size_t CharCount(const std::string& text) {
    std::size_t count = 0;
    for (char c : text)
        if (!IsUtf8Continuation(c)) ++count;
    return count;
}

std::string DefaultOutputFolder() {
    const std::string videos = TGlobalObject::GetSpecialFolder(TSpecialFolder::Videos);
    return (videos.empty() ? std::string("/tmp/") : videos) + kFolderName;
}

std::string FallbackFolder() {
    const std::string home = Environment("HOME");
    return (home.empty() ? std::string("/tmp/") : WithSlash(home)) + kFolderName;
}

void CheckFolderAtStart(const TGlobalObject& g, const std::string& key) {
    TIniFile settings = g.Settings();
    const std::string folder = settings.ReadString(kSettingsSection, key, DefaultOutputFolder());
    // A folder that does not exist yet (the default on a fresh machine, or
    // one written into the settings by hand) is made instead of being
    // given up silently for the fall-back, which would send the files
    // somewhere the user does not look.
    std::error_code ec;
    if (!folder.empty() && !fs::exists(folder, ec)) CreateFolder(folder);
    if (!TGlobalObject::CanWriteToFolder(folder))
        settings.WriteString(kSettingsSection, key, FallbackFolder());
}

std::string EnsureFolder(const TGlobalObject& g, const std::string& key,
                         const std::string& folder) {
    if (CreateFolder(folder)) return folder;
    const std::string fallback = DefaultOutputFolder();
    Warn("Cannot create output directory:" + folder + ".It will create default directory " +
         fallback + "!");
    CreateFolder(fallback);
    g.Settings().WriteString(kSettingsSection, key, fallback);
    return fallback;
}

std::string AcceptChosenFolder(const TGlobalObject& g, const std::string& key,
                               const std::string& chosen, const std::string& shown) {
    if (chosen.empty() || chosen == shown) return shown;
    if (CharCount(chosen) <= 3) {
        Warn("The path " + chosen + " is not a valid directory.");
        return shown;
    }
    std::string folder = chosen;
    if (!TGlobalObject::CanWriteToFolder(chosen)) {
        Warn("You login as " + TrimBlanks(TGlobalObject::GetLoginName()) +
             " .You don't have permission to write to directory:" + chosen);
        folder = FallbackFolder();
    }
    g.Settings().WriteString(kSettingsSection, key, folder);
    return folder;
}
