#include "app/core/WorkPriority.h"

#include "app/core/GlobalUnit.h"
#include "app/core/IniFile.h"

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
