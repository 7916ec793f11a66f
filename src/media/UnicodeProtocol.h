// File names given to and taken from the format library. Paths are UTF-8
// here and the library takes UTF-8 names, so nothing needs wrapping; the
// "unicode:utf8:" form that other code may keep is accepted everywhere a
// name is opened or shown, by removing the prefix.
#pragma once

#include <string>

inline constexpr const char* UnicodePrefix = "unicode:utf8:";

// True when the name's scheme (text before the first ':') is one that is
// never wrapped: unicode, stream, gopher, http, pipe, rtp, tcp, udp.
bool IsNeverWrappedName(const std::string& name);

// The name to hand to the format library: a "unicode:utf8:" name becomes
// its plain path, every other name passes unchanged.
std::string ToLibraryName(const std::string& path);

// The plain path of a name taken from the format library: a name of at
// least 14 bytes starting with "unicode:utf8:" loses the prefix.
std::string FromLibraryName(const std::string& name);
