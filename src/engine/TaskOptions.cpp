// The option state of one task: its life and the way in of every option.
#include "engine/TaskOptions.h"

#include "engine/FFmpegOptionTable.h"
#include "engine/OptionCheck.h"

TTaskOptions::TTaskOptions(const bool& strict, TOptionLinks links)
    : FStrict(strict), FLinks(std::move(links)) {
    Reset();
}

void TTaskOptions::Reset() {
    FState = TOptionState();
    FLibrary.ResetContexts();
}

void TTaskOptions::Apply(const std::string& name, const TOptionValue& value) {
    if (ApplyTableOption(FHandlers, FState, name, value)) return;
    const std::string text = OptionValueText(value);
    if (FStrict) RefuseUnknownName(Contexts(), FState, name); // before it could wait
    // A refused value then fails the option with its own message.
    const TQuietOptionRefusals quiet(FStrict);
    if (!FLibrary.SetDefaultOrPrivateOption(name, text, TMediaKind::Any) && FStrict)
        RefuseOption(Contexts(), FState, name, text);
}

void TTaskOptions::SetNumber(const std::string& name, int64_t value) {
    FLibrary.SetDefaultOrPrivateOption(name, std::to_string(value), TMediaKind::Any);
}
