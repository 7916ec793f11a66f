#include "engine/StageFault.h"

#include "engine/FFmpegRecords.h"

#include <cstdlib>

TStageFault::TStageFault(const std::string& stage) : FStage(stage) {
    const char* value = std::getenv("VANTREL_STAGE_FAULT");
    if (!value) return;
    const std::string text(value);
    const std::size_t colon = text.find(':');
    if (text.substr(0, colon) != stage) return;
    FAt = 1;
    if (colon == std::string::npos) return;
    char* end = nullptr;
    const long long at = std::strtoll(text.c_str() + colon + 1, &end, 10);
    if (end && *end == '\0' && at > 0) FAt = at;
}

void TStageFault::Tick() {
    if (FAt == 0) return;
    if (++FSeen == FAt) throw FFmpegException(FaultText(FStage));
}

std::string TStageFault::FaultText(const std::string& stage) {
    return "A failure was injected into the " + stage + " stage";
}
