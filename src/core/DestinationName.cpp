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

// The longest name of a folder entry on the usual file systems, in bytes.
constexpr std::size_t kNameMax = 255;

// `base` followed by `tail`, the base cut at the start of a (UTF-8)
// character where the whole would not fit in a folder entry.
std::string FittedName(const std::string& base, const std::string& tail) {
    if (base.size() + tail.size() <= kNameMax) return base + tail;
    std::size_t keep = kNameMax > tail.size() ? kNameMax - tail.size() : 0;
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80)
        --keep;
    return base.substr(0, keep) + tail;
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
    const std::string folder = OutputFolder(g);
    const std::string base = BaseName(sourceFile);
    std::string candidate = folder + FittedName(base, "_(new)" + suffix);
    for (long n = 1; Taken(candidate) || reserved.count(candidate) > 0; ++n)
        candidate = folder + FittedName(base, "_(new_" + std::to_string(n) + ")" + suffix);
    return candidate;
}
