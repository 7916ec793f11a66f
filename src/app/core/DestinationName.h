// Names of output files: the source's base name in the output folder with
// "_(new)" (or "_(new_N)" when that file exists) and a suffix.
#pragma once

#include "app/core/GlobalUnit.h"

#include <string>

// The first free name folder + base + "_(new)" + suffix, then
// "_(new_1)", "_(new_2)", ... The folder is "OutPutDir" of the settings,
// made usable by EnsureFolder. Used when a row is added (suffix "_ipod." +
// extension) and at batch start (suffix "." + extension).
std::string MakeDestinationName(const TGlobalObject& g, const std::string& sourceFile,
                                const std::string& suffix);
