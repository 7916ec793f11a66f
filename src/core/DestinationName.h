// Names of output files: the source's base name in the output folder with
// "_(new)" (or "_(new_N)" when that file exists) and a suffix.
#pragma once

#include "core/GlobalUnit.h"

#include <set>
#include <string>

// The first free name folder + base + "_(new)" + suffix, then
// "_(new_1)", "_(new_2)", ... The folder is "OutPutDir" of the settings,
// made usable by EnsureFolder. A name is free when no file has it and it is
// not among `reserved` (the names already given to other rows of the same
// batch, which are not on disk yet). A base name too long for a folder
// entry with what follows it (255 bytes) is cut at the start of a
// character.
std::string MakeDestinationName(const TGlobalObject& g, const std::string& sourceFile,
                                const std::string& suffix,
                                const std::set<std::string>& reserved = {});
