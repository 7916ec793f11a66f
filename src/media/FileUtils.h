// File, text and time helpers that need no media library: used by the
// loader below the media helpers as well as by everything above them.
#pragma once

#include <cstdint>
#include <string>

// The part of `text` before `delimiter` (all of it when absent); with
// `remove` the text keeps only the part after the delimiter.
std::string FetchToken(std::string& text, const std::string& delimiter, bool remove);
// True when the path exists and is not a directory.
bool IsExistingFile(const std::string& path);
// Why a batch cannot take the path as a source: a pipe, a socket or a
// terminal gives what it holds once (a probe would take it, or wait at the
// opening for a writer that never comes). Empty for any other path.
std::string ReadOnceSourceText(const std::string& path);
// Size of an existing file, -1 for a directory or a missing file.
std::int64_t GetFileSize64(const std::string& path);
// The local zone's standard offset from UTC in days.
double LocalTimeZoneOffset();
// Days since 1899-12-30, local standard time.
double UnixTimeToLocalDateTime(std::int64_t seconds);
// Formats a day count with yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s, zzz.
std::string DateTimeToText(const std::string& pattern, double dateTime);
