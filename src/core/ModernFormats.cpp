#include "core/ModernFormats.h"

#include "core/FormatCatalogue.h"
#include "media/FFmpegLoader.h"
#include "media/AVCodecEntries.h"

#include <algorithm>
#include <array>
#include <mutex>

namespace {

constexpr std::array<TModernChoice, 5> kQualitySteps = {{
    {"veryhigh", "Quality: very high"},
    {"high", "Quality: high"},
    {"medium", "Quality: medium"},
    {"small", "Quality: small file"},
    {kBitRateStep, "Bit rate (choose below)"},
}};

constexpr std::array<TModernChoice, 2> kSpeeds = {{
    {"fast", "Speed: fast"},
    {"slower", "Speed: slower, smaller"},
}};

// One video encoder's scale: the constant-quality value of each step (the
// encoder's own "crf") and the options of each speed ("name=value" pairs
// separated by ",").
struct TEncoderScale {
    int Code;
    std::array<const char*, 4> Crf;    // very high .. small file
    std::array<const char*, 2> Preset; // fast, slower
};

// The fast speeds keep up with a 720p source on two cores: x265 only at
// "ultrafast" (its "veryfast" runs at a fifth of that), SVT-AV1 at 10, VP9
// only in libvpx's real-time mode (its quickest "good" speed is 6 times
// slower).
constexpr std::array<TEncoderScale, 3> kScales = {{
    {kModernHevc, {"20", "24", "28", "32"}, {"preset=ultrafast", "preset=fast"}},
    {kModernAv1, {"24", "30", "36", "44"}, {"preset=10", "preset=7"}},
    {kModernVp9,
     {"24", "31", "37", "45"},
     {"deadline=realtime,cpu-used=6", "deadline=good,cpu-used=4"}},
}};

const TEncoderScale* ScaleOf(int code) {
    for (const TEncoderScale& scale : kScales)
        if (scale.Code == code) return &scale;
    return nullptr;
}

// Position of the word among the choices; `fallback` for an unknown word.
std::size_t PositionOf(std::span<const TModernChoice> choices, const std::string& word,
                       std::size_t fallback) {
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (word == choices[i].Word) return i;
    return fallback;
}

// What each format always asks of its encoder.
void AddFixedOptions(int code, TOptionLines& lines) {
    if (code == kModernHevc) lines.emplace_back("vtag", "hvc1"); // Apple players need this tag
    if (code == kModernVp9) lines.emplace_back("row-mt", "1");
}

// The lookup in use, under its own lock (a batch and a dialog may ask).
struct TLookupSlot {
    std::mutex Lock;
    TEncoderLookup Lookup; // empty: the loaded libraries decide
};

TLookupSlot& LookupSlot() {
    static TLookupSlot slot;
    return slot;
}

bool InLoadedLibraries(const std::string& name) {
    if (!FFmpegLoader().IsLoaded(libAVCodec)) return true;
    return ff::avcodec.avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

} // namespace

std::span<const TModernChoice> QualitySteps() {
    return kQualitySteps;
}

std::span<const TModernChoice> SpeedChoices() {
    return kSpeeds;
}

bool HasQualitySteps(int code) {
    return ScaleOf(code) != nullptr;
}

TOptionLines ModernVideoOptions(int code, const std::string& step, const std::string& speed) {
    TOptionLines lines;
    const TEncoderScale* scale = ScaleOf(code);
    if (!scale) return lines;
    const std::size_t s = PositionOf(kQualitySteps, step, 1);
    if (s < scale->Crf.size()) {
        lines.emplace_back("crf", scale->Crf[s]);
        lines.emplace_back("b", "0"); // constant quality: no bit rate target
    }
    const std::string preset = scale->Preset[PositionOf(kSpeeds, speed, 0)];
    for (std::size_t start = 0; start < preset.size();) {
        const std::size_t comma = std::min(preset.find(',', start), preset.size());
        const std::string pair = preset.substr(start, comma - start);
        const std::size_t equals = pair.find('=');
        lines.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        start = comma + 1;
    }
    AddFixedOptions(code, lines);
    return lines;
}

TEncoderLookup SetEncoderLookup(TEncoderLookup lookup) {
    TLookupSlot& slot = LookupSlot();
    const std::lock_guard<std::mutex> hold(slot.Lock);
    std::swap(slot.Lookup, lookup);
    return lookup;
}

bool EncoderAvailable(const std::string& name) {
    TEncoderLookup lookup;
    {
        TLookupSlot& slot = LookupSlot();
        const std::lock_guard<std::mutex> hold(slot.Lock);
        lookup = slot.Lookup;
    }
    return lookup ? lookup(name) : InLoadedLibraries(name);
}

std::string MissingEncoderText(const std::vector<std::string>& encoders) {
    for (const std::string& name : encoders)
        if (!name.empty() && name != "copy" && !EncoderAvailable(name))
            return "The encoder " + name + " is not available in the loaded media libraries";
    return {};
}

std::string EditsNeedingEncoding(const TlvFilesRecord& row) {
    std::string words;
    const auto add = [&words](const char* what) {
        words += (words.empty() ? "" : ", ") + std::string(what);
    };
    if (HasCrop(row)) add("a crop");
    if (HasColorAdjust(row) || HasExposure(row)) add("effects");
    if (HasWatermark(row)) add("watermarks");
    return words;
}

std::string CopyRefusalText(const TlvFilesRecord& row, const std::string& edits) {
    return "'" + row.SourceFile + "' cannot be copied as it is (it has " + edits +
           "): the format \"" + FormatCaptionOf(kModernCopy) +
           "\" copies the streams without re-encoding. Remove these edits or choose another "
           "format";
}
