// "--format CODE --print-options FILE": the options a new row of FILE gets
// at batch start for the format CODE, one name=value line each.
#pragma once

#include "core/BatchPlan.h"
#include "engine/FFmpegRecords.h"

#include <iosfwd>
#include <string>
#include <vector>

// The options the engine applies for the input record, one name=value line
// each in the order it applies them (FFmpegRecordOptions.h), in the text
// form the option reads back.
std::string InputOptionLines(const TInputOptions& in);

// Likewise for the output record: the options applied before the file
// opens, then those of the streams that extra options add.
std::string OutputOptionLines(const TOutputOptions& out);

// Everything the engine is given for a planned task, in sections: "[input]"
// and the source's lines; "[picture]" and the lines of the black picture
// input that follows the source, when the plan has one; "[output]" and the
// output's lines; "[record]" with "customhook=1" when the pictures go
// through the frame hook (effects, layers), which is a switch of the output
// record and no option.
std::string TaskPlanText(const TTaskPlan& plan);

// Probes the file (the media libraries must be loaded), builds the options
// from the settings store with its built-in defaults and prints the task's
// TaskPlanText to `out`. The size
// question is answered No and said on `err`. Returns the exit status: 0, or
// 1 with the probe's or the builder's error text on `err`.
// `edits` are the per-file edits of RowEdits.h, applied to the new row.
int PrintConversionOptions(int formatCode, const std::string& file, std::ostream& out,
                           std::ostream& err, const std::vector<std::string>& edits = {});

// The command's entry: the code as given on the command line, printing to
// the standard streams. A code that is not an integer is an error (1).
int PrintConversionOptionsCommand(const std::string& formatCode, const std::string& file,
                                  const std::vector<std::string>& edits = {});
