// The engine's option table: every option name with the kind of value it
// takes and what it sets. Option texts and the option records both act
// through it: a text is first read into the row's kind of value, a record
// gives that value already.
#pragma once

#include "engine/FFmpegOptions.h"
#include "engine/FFmpegRecordOptions.h"

#include <string>

class TOptionHandlers;

// Applies the option through the table row of that name, to the state's
// field of the row or through its handler. False when no row has the name.
// Errors raise FFmpegException; a typed value of a kind the row does not
// take is a mistake of the caller (std::logic_error).
bool ApplyTableOption(TOptionHandlers& handlers, TOptionState& state, const std::string& name,
                      const TOptionValue& value);

// Whether the option of that name is written alone on a command line, its
// value not looked at (a switch such as "an", "y" or "keep_hdr"). False for
// a name the table does not have.
bool IsFlagOption(const std::string& name);
