// The built-in option presets and the translation of their legacy libx264
// option lines onto the options of the current encoder.
#pragma once

#include <string>
#include <utility>
#include <vector>

// A named text of option lines (name=value, one per line).
struct TOptionsPreset {
    std::string Name;
    std::string Text;
};

// The 40 built-in presets.
const std::vector<TOptionsPreset>& BuiltinPresets();

// The preset of that name (compared without regard to case), or nullptr.
const TOptionsPreset* FindBuiltinPreset(const std::string& name);

// One option line of a built-in preset, translated for the current libx264.
// Lines whose option still exists come back unchanged; lines that name
// options current libx264 replaced come back as the replacement pairs
// (possibly several). Parts with no current equivalent are left out and
// named in `dropped` so the caller can warn about them.
struct TMappedPresetLine {
    std::vector<std::pair<std::string, std::string>> Options;
    std::vector<std::string> Dropped;
};
TMappedPresetLine MapLegacyPresetLine(const std::string& key, const std::string& value);
