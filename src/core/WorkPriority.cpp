#include "core/WorkPriority.h"

#include "core/GlobalUnit.h"
#include "core/IniFile.h"

#include <algorithm>
#include <thread>

bool PriorityOfSetting(int setting, TThreadPriority& priority) {
    switch (setting) {
    case 0:
        priority = tpIdle;
        return true;
    case 1:
        priority = tpNormal;
        return true;
    case 2:
        priority = tpLower;
        return true;
    case 3:
        priority = tpLowest;
        return true;
    default:
        return false;
    }
}

bool StoredWorkPriority(const TIniFile& settings, TThreadPriority& priority) {
    return PriorityOfSetting(settings.ReadInteger(kSettingsSection, "priority", 1), priority);
}

int MaxConversionsAtATime() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int ConversionsAtATimeOfSetting(int setting) {
    return std::clamp(setting, 1, MaxConversionsAtATime());
}

int StoredConversionsAtATime(const TIniFile& settings) {
    return ConversionsAtATimeOfSetting(settings.ReadInteger(kSettingsSection, "MaxConcurrent", 1));
}
