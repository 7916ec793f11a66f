#include "FormatRow.h"

#include "app/core/DefaultFormats.h"
#include "app/core/DestinationName.h"
#include "app/core/FormatCatalogue.h"
#include "app/core/IniFile.h"
#include "app/core/OptionBuilder.h"
#include "app/core/ProbedSource.h"
#include "probe/AVProbe.h"

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

TFormatRow BuildFormatRow(const TGlobalObject& g, int formatCode, TAVProbe& probe,
                          const std::string& file, const std::vector<std::string>& edits,
                          const TTextMeasure& measure, bool nameOutput,
                          const std::set<std::string>& taken) {
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    TFormatRow row;
    row.Record = NewFilesRecord(file, "", info.Duration, FormatZoomMode(g, formatCode));
    ApplyRowEdits(edits, row.Record, measure);
    row.In.Reset();
    row.In.FileName = file;
    row.In.ForceFormat = probe.GetFormatName();
    row.Out.Reset();
    if (nameOutput) {
        const std::string ext = FormatFileExt(g, formatCode);
        row.Out.FileName = MakeDestinationName(g, probe.GetFileName(), "." + ext, taken);
    }
    row.Record.ZoomMode = FormatZoomMode(g, formatCode);
    HandOverRowEdits(row.Record, row.In, row.Out);
    const TProbedSource source = ProbedSourceOf(probe);
    BuildConversionOptions(g, row.Record, formatCode, row.Out, source, row.In);
    row.HasPicture = BlackPictureInput(g, formatCode, source, row.Picture);
    row.HasAudio = source.AudioStreamIndex >= 0;
    row.HasVideo = source.VideoStreamIndex >= 0;
    row.Duration = info.Duration;
    row.Out.CustomHook = NeedsFrameHook(row.Record);
    return row;
}
