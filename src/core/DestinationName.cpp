#include "core/DestinationName.h"

#include "media/OutputClaim.h"

#include <filesystem>
#include <system_error>

namespace {

std::string OutputFolder(const TGlobalObject& g) {
    const std::string stored =
        g.Settings().ReadString(kSettingsSection, "OutPutDir", DefaultOutputFolder());
    std::string folder = EnsureFolder(g, "OutPutDir", stored);
    if (TGlobalObject::RightChars(folder, 1) != "/") folder += "/";
    return folder;
}

// File name without folder and without its last extension.
std::string BaseName(const std::string& sourceFile) {
    const std::string name = std::filesystem::path(sourceFile).filename().string();
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Anything of that name, a folder included, makes the name taken; so does
// a conversion that is writing it (its claim).
bool Taken(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec)) || IsClaimed(path);
}

} // namespace

std::string MakeDestinationName(const TGlobalObject& g, const std::string& sourceFile,
                                const std::string& suffix, const std::set<std::string>& reserved) {
    const std::string stem = OutputFolder(g) + BaseName(sourceFile);
    std::string candidate = stem + "_(new)" + suffix;
    for (long n = 1; Taken(candidate) || reserved.count(candidate) > 0; ++n)
        candidate = stem + "_(new_" + std::to_string(n) + ")" + suffix;
    return candidate;
}
