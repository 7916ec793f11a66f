// A '%' in a file name makes the library's picture demuxer read a numbered
// sequence ("shot%03d.png" reads shot001.png, shot002.png, ...). A file the
// user picked under such a name ("a%d.jpg", "100%.png") is read as itself,
// not as the sequence its name happens to spell; a name that is no file
// keeps the sequence reading the command line relies on.
#pragma once

#include "media/FFmpegHeaders.h"

#include <string>

// Adds "pattern_type=none" to `options` when `libraryName` (the name given
// to avformat_open_input) holds '%' and is an existing regular file. A
// pattern type already in `options` is kept. Demuxers other than the
// picture demuxer leave the entry unused.
void ReadExistingFileAsItself(const std::string& libraryName, AVDictionary** options);
