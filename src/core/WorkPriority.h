// The converter settings of the preferences: "priority" (0 idle, 1 normal,
// 2 lower, 3 lowest) as the thread priority of the converter's workers, and
// "MaxConcurrent", the number of conversions that run at a time.
#pragma once

#include "engine/FFmpegRecords.h"

class TIniFile;

// False, and the priority left alone, for a value without meaning.
bool PriorityOfSetting(int setting, TThreadPriority& priority);

// The stored setting (1 when none) as a priority; false as above.
bool StoredWorkPriority(const TIniFile& settings, TThreadPriority& priority);

// The most conversions at a time the preferences offer: the number of
// processor cores (at least 1).
int MaxConversionsAtATime();
// `setting` kept within 1..MaxConversionsAtATime().
int ConversionsAtATimeOfSetting(int setting);
// The stored "MaxConcurrent" (1 when none), kept within that range.
int StoredConversionsAtATime(const TIniFile& settings);
