#include "PrintOptions.h"
#include "FormatRow.h"

#include "engine/FFmpegRecordOptions.h"
#include "probe/AVProbe.h"

#include <ctime>
#include <iostream>
#include <ostream>
#include <sstream>

namespace {

// The options the engine is given, as name=value lines; an option whose
// field was left at its initial value (applied all the same) is left out.
std::string OptionLines(const TRecordOptions& options) {
    std::ostringstream text;
    for (const TRecordOption& option : options)
        if (option.Given) text << option.Name << '=' << OptionValueText(option.Value) << '\n';
    return text.str();
}

} // namespace

std::string InputOptionLines(const TInputOptions& in) {
    return OptionLines(InputRecordOptions(in));
}

std::string OutputOptionLines(const TOutputOptions& out) {
    return OptionLines(OutputRecordOptions(out, std::time(nullptr))) +
           OptionLines(NewStreamRecordOptions(out));
}

std::string TaskPlanText(const TTaskPlan& plan) {
    std::string text = "[input]\n" + InputOptionLines(plan.In);
    if (plan.HasPicture) text += "[picture]\n" + InputOptionLines(plan.Picture);
    if (plan.HasSilence) text += "[silence]\n" + InputOptionLines(plan.Silence);
    text += "[output]\n" + OutputOptionLines(plan.Out);
    if (plan.Out.CustomHook) text += "[record]\ncustomhook=1\n";
    return text;
}

int PrintConversionOptions(int formatCode, const std::string& file, std::ostream& out,
                           std::ostream& err, const std::vector<std::string>& edits) {
    const TScopedMessageHandler answer(AnswerNoOn(err));
    try {
        TGlobalObject g;
        InitSettingsStore(g);
        TAVProbe probe;
        TProbedFile probed;
        std::string error;
        if (!ProbeRowSource(probe, file, probed, error)) {
            err << error << '\n';
            return 1;
        }
        TlvFilesRecord row = NewEditedRow(g, formatCode, file, probed.Duration, edits, {});
        const TTaskPlan plan = PlanRowTask(g, formatCode, row, probed, nullptr);
        out << TaskPlanText(plan);
        return 0;
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return 1;
    }
}

int PrintConversionOptionsCommand(const std::string& formatCode, const std::string& file,
                                  const std::vector<std::string>& edits) {
    int code = 0;
    try {
        code = ParseFormatCode(formatCode);
    } catch (const std::invalid_argument& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return PrintConversionOptions(code, file, std::cout, std::cerr, edits);
}
