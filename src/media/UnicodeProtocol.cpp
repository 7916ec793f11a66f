#include "media/UnicodeProtocol.h"

#include <cstring>

namespace {

const std::size_t PrefixLength = std::strlen(UnicodePrefix);

bool HasPrefix(const std::string& name) {
    return name.compare(0, PrefixLength, UnicodePrefix) == 0;
}

// Drops everything up to and including the first ':', then again up to and
// including the next one.
std::string DropTwoParts(const std::string& name) {
    std::size_t first = name.find(':');
    if (first == std::string::npos) return name;
    std::size_t second = name.find(':', first + 1);
    if (second == std::string::npos) return name.substr(first + 1);
    return name.substr(second + 1);
}

} // namespace

bool IsNeverWrappedName(const std::string& name) {
    std::size_t colon = name.find(':');
    if (colon == std::string::npos) return false;
    static const std::string schemes = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
    return schemes.find(":" + name.substr(0, colon) + ":") != std::string::npos;
}

std::string ToLibraryName(const std::string& path) {
    if (path.size() > PrefixLength && HasPrefix(path)) return DropTwoParts(path);
    return path;
}

std::string FromLibraryName(const std::string& name) {
    if (name.size() >= PrefixLength + 1 && HasPrefix(name)) return DropTwoParts(name);
    return name;
}
