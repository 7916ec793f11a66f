// The presets the program carries for its twenty output formats: the whole
// format file "vantrelformat.ini" and the initial per-format sections of the
// settings file "vantrel.ini". Every preset uses only encoders and muxers of
// the FFmpeg build the program runs on (Debian's FFmpeg 5.1) with frame
// sizes, rates and bit rates they accept.
#pragma once

#include "core/GlobalUnit.h"
#include "core/IniFile.h"

#include <string>

// Keys and values of the format file's section "formatInfo" + code, in
// file order; empty for a code outside the catalogue.
TIniFile::TKeyValues BuiltInFormatSection(int code);

// Keys and values of the settings file's section "formatInfo" + code: the
// user's parameters before the user has changed anything.
TIniFile::TKeyValues BuiltInSettingsSection(int code);

// The complete format file.
std::string BuiltInFormatFileText();

// At start: writes the format file when it does not exist; a format file
// that lacks sections or keys of the built-in copy (empty, garbage, an old
// or edited copy) gets them added, the keys it has keep their values. Adds
// every "formatInfo" section the settings file lacks. Returns an error text
// naming the file when either file is not a regular file (a folder, say) or
// could not be repaired; empty when both are usable.
std::string EnsureDefaultFormatFiles(const TGlobalObject& g);

// The file name extension of a format: "FileExt" of the format file, or the
// built-in copy's when the file has none, an empty one or one holding
// anything but letters and digits; "mp4" for a code outside the catalogue.
std::string FormatFileExt(const TGlobalObject& g, int code);
