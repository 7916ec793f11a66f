// The preset reader: the built-in presets first, then a preset file.
#include "engine/PresetReader.h"

#include "engine/FFmpegPresets.h"

#include "media/FFUtils.h"
#include "media/MyUtils.h"
#include "media/TextUtils.h"

#include <cstdint>
#include <filesystem>

namespace {

// The codec whose built-in presets a short name may stand for: the kind's
// video or audio codec when one is chosen, else the subtitle codec.
std::string PresetCodec(const TPresetSource& source) {
    const char letter = source.Kind[0];
    if (letter == 'v' && !source.CodecNames[TMediaKind::Video].empty())
        return source.CodecNames[TMediaKind::Video];
    if (letter == 'a' && !source.CodecNames[TMediaKind::Audio].empty())
        return source.CodecNames[TMediaKind::Audio];
    return source.CodecNames[TMediaKind::Subtitle];
}

const TOptionsPreset* FindBuiltin(const TPresetSource& source) {
    if (source.Kind[0] == 'f') return nullptr;
    if (const TOptionsPreset* preset = FindBuiltinPreset(source.Value)) return preset;
    const std::string codec = PresetCodec(source);
    return codec.empty() ? nullptr : FindBuiltinPreset(codec + "-" + source.Value);
}

// The whole file; raises "not found" when it is not a file that can be read.
std::string ReadPresetFile(const std::string& name) {
    const std::string missing = FormatText("Preset \"%s\" not found", name.c_str());
    std::error_code error;
    if (!std::filesystem::is_regular_file(name, error)) throw FFmpegException(missing);
    std::uint8_t* buffer = nullptr;
    int size = 0;
    if (ReadWholeFile(name, buffer, size) != 0) throw FFmpegException(missing);
    const ff::AvBuffer owned(buffer);
    return std::string(reinterpret_cast<const char*>(buffer), size > 0 ? size - 1 : 0);
}

TPresetLine CutLine(const std::string& value, const std::string& line) {
    const std::size_t eq = line.find('=');
    TPresetLine cut{line, eq == std::string::npos ? line : line.substr(0, eq),
                    eq == std::string::npos ? std::string() : line.substr(eq + 1)};
    if (cut.Key.empty() || cut.Value.empty())
        throw FFmpegException(
            FormatText("%s: Invalid syntax: \"%s\"", value.c_str(), line.c_str()));
    return cut;
}

} // namespace

void ReadPreset(const TPresetSource& source,
                const std::function<void(const TPresetLine& line, bool builtin)>& take) {
    if (source.Kind.empty() || source.Value.empty()) return;
    const TOptionsPreset* preset = FindBuiltin(source);
    const std::string text =
        UnifyLineBreaks(Trim(preset ? preset->Text : ReadPresetFile(source.Value)));
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos) lf = text.size();
        const std::string line = Trim(text.substr(start, lf - start));
        start = lf + 1;
        if (!line.empty()) take(CutLine(source.Value, line), preset != nullptr);
    }
}
