// Finds a preset, built in or in a file, and hands its option lines over
// one by one.
#pragma once

#include "engine/FFmpegOptions.h"

#include <functional>
#include <string>

// One option line of a preset: the line as written (trimmed), cut at its
// first "=" into a key and a value, neither of them empty.
struct TPresetLine {
    std::string Line;
    std::string Key;
    std::string Value;
};

// The preset `value` of option `kind` ("apre", "vpre", "spre", "fpre").
// Except for "fpre", a built-in preset of that name comes first, then the
// built-in one of the current codec's ("libx264-" + value): the kind's
// video or audio codec, else the subtitle codec; `codecNames` holds the
// codec names chosen so far, empty for none. Otherwise `value` names a file.
struct TPresetSource {
    std::string Kind;
    std::string Value;
    TByKind<std::string> CodecNames;
};

// Hands the preset's lines to `take` in their order; a line `take` fails
// on leaves the lines before it taken. Nothing when the kind or value is
// empty. Raises FFmpegException "Preset "..." not found" when the preset is
// neither built in nor a file, and "<value>: Invalid syntax: ..." at the
// first line without a key or a value. `builtin` tells the caller whether
// the lines are a built-in preset's (written for an older encoder).
void ReadPreset(const TPresetSource& source,
                const std::function<void(const TPresetLine& line, bool builtin)>& take);
