// The "priority" setting of the preferences (0 idle, 1 normal, 2 lower,
// 3 lowest) as the thread priority of the converter's workers.
#pragma once

#include "engine/FFmpegRecords.h"

class TIniFile;

// False, and the priority left alone, for a value without meaning.
bool PriorityOfSetting(int setting, TThreadPriority& priority);

// The stored setting (1 when none) as a priority; false as above.
bool StoredWorkPriority(const TIniFile& settings, TThreadPriority& priority);
