#include "FormatRow.h"

#include "core/DefaultFormats.h"
#include "core/FormatCatalogue.h"
#include "core/IniFile.h"
#include "core/OptionBuilder.h"

#include <ostream>
#include <stdexcept>

int ParseFormatCode(const std::string& text) {
    int code = 0;
    if (!ParseIniInteger(text, code) || FormatCaptionOf(code).empty())
        throw std::invalid_argument("Unknown format code: " + text);
    return code;
}

void InitSettingsStore(TGlobalObject& g) {
    InitGlobalObject(g);
    const std::string problem = EnsureDefaultFormatFiles(g);
    if (!problem.empty()) throw std::runtime_error(problem);
}

TMessageHandler AnswerNoOn(std::ostream& err) {
    return [&err](const std::string&, const std::string& text, TMsgIcon, TMsgButtons buttons) {
        if (buttons != TMsgButtons::YesNo) {
            err << text << '\n';
            return TMsgResult::Ok;
        }
        err << text << " No\n";
        return TMsgResult::No;
    };
}

TlvFilesRecord NewEditedRow(const TGlobalObject& g, int formatCode, const std::string& file,
                            int64_t durationUS, const std::vector<std::string>& edits,
                            const TTextMeasure& measure) {
    TlvFilesRecord row = NewFilesRecord(file, "", durationUS, FormatZoomMode(g, formatCode));
    ApplyRowEdits(edits, row, measure);
    return row;
}
