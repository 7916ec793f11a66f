// Fuzzes the option text of the engine and of the option builder: the
// ExtOptions lines (split, then every pair applied to a fresh task engine
// as its input or output side) and the value parsers on their own. A value
// may be refused with FFmpegException or std::invalid_argument; anything
// else (a crash, an undefined operation, another exception) is a fault.
#include "FuzzSupport.h"

#include "core/IniFile.h"
#include "core/OptionBuilder.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegOptions.h"
#include "engine/FFmpegRecords.h"

#include <stdexcept>

namespace {

// Runs one parser; the refusals its contract allows are no fault.
template <typename Parse> void Refusable(Parse parse) {
    try {
        parse();
    } catch (const FFmpegException&) {
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
}

void ParseValues(const std::string& text) {
    Refusable([&] { ParseIntValue(text); });
    Refusable([&] { ParseInt64Value(text); });
    Refusable([&] { ParseFloatValue(text); });
    Refusable([&] { ParseMatrix(text); });
    AspectFromText(text);
    ParseStreamMap(text);
    ParseMetaDataMap(text);
    ParseTsScale(text);
    SplitHookWords(text);
    if (text.size() == 4) TagFromText(text);
    IsInteger(text);
    IsNumber(text);
    int value = 0;
    ParseIniInteger(text, value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::LoadMediaLibraries(ConverterLibraries);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool inputSide = (data[0] & 1) != 0;
    const std::string text = fuzzsupport::TextOf(data + 1, size - 1);
    for (const auto& [name, value] : SplitOptionLines(text))
        ParseValues(value);
    TCustomFFmpeg engine;
    Refusable([&] { engine.ParseOptionLines(text, inputSide); });
    return 0;
}
