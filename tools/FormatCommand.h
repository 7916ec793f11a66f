// The format forms of vantrel-convert:
//   vantrel-convert --format CODE --print-options FILE [edits]
//   vantrel-convert --format CODE [--output-dir DIR] [--jobs N] [--json] [edits] FILE...
// The second converts each FILE as the window's batch does: the settings
// store with its built-in defaults, the destination naming, the option
// builder on a new row of the file with the edits of RowEdits.h, one task
// per file, and the frame hook drawing the row's effects and layers.
#pragma once

#include <string>
#include <vector>

struct TFormatCommand {
    std::string Code;
    bool PrintOptions = false;
    std::string OutputDir;          // empty: the stored output folder
    int Jobs = 0;                   // tasks at a time; 0: the stored preference
    bool Json = false;              // "--json": progress and results as JSON lines on stdout
    bool InvertHook = false;        // hidden "--invert-hook": the hook inverts instead of drawing
    int Loudness = 0;               // "--loudness LUFS": the target for this run; 0: the stored one
    double TargetSizeMB = 0;        // "--target-size MB": each video file's size; 0: none
    std::vector<std::string> Edits; // name, value, name, value, ...
    std::vector<std::string> Files;
    std::string Error; // empty when the line parsed
};

// `args` are the arguments after "--format". Options other than
// "--output-dir", "--jobs", "--json", "--loudness", "--target-size" and "--print-options" are taken
// as edits, each with the argument after it; every other argument is a file.
TFormatCommand ParseFormatCommand(const std::vector<std::string>& args);

// Runs either form. Converting prints each task's progress and result and
// a summary on stderr (with --json also the lines of JsonLines.h on stdout,
// a file that got no task included); returns 0 only when every file was
// converted to the
// end, else 1 (files that could not be converted are named with the
// reason, the others are converted all the same).
int RunFormatCommand(const std::vector<std::string>& args);
