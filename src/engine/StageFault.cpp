#include "engine/StageFault.h"

#include "engine/FFmpegRecords.h"

#include <cstdlib>
#include <mutex>

namespace {

std::mutex& HoldLock() {
    static std::mutex lock;
    return lock;
}

TStageFault::THold& Hold() { // HoldLock()
    static TStageFault::THold hold;
    return hold;
}

} // namespace

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
    if (++FSeen != FAt) return;
    THold hold;
    {
        const std::lock_guard lock(HoldLock());
        hold = Hold();
    }
    if (!hold) throw FFmpegException(FaultText(FStage));
    hold(FStage);
}

void TStageFault::SetHold(THold hold) {
    const std::lock_guard lock(HoldLock());
    Hold() = std::move(hold);
}

std::string TStageFault::FaultText(const std::string& stage) {
    return "A failure was injected into the " + stage + " stage";
}
