// The classic command-line form of vantrel-convert:
//   vantrel-convert [input options] -i INPUT [[input options] -i INPUT ...]
//                   [output options] OUTPUT [[output options] OUTPUT ...]
#pragma once

#include "engine/FFmpegRecords.h"

#include <string>
#include <utility>
#include <vector>

// One parsed command line: the inputs with their options, the outputs
// with theirs. Options are "-name value" in the engine's vocabulary; the
// engine's option table says which names take no value. Each is
// kept as one pair, so a value holding a line break stays one value.
struct TConvertCommand {
    struct TFile {
        std::string FileName;
        TOptionPairs Options;
        bool Join = false; // outputs: "-join"
    };
    std::vector<TFile> Inputs;
    std::vector<TFile> Outputs; // "-" is standard output ("pipe:")
    bool Overwrite = false;     // "-y": existing output files are replaced
    std::string Error;          // empty when the line parsed
};

bool OptionTakesNoValue(const std::string& name);
TConvertCommand ParseConvertCommand(const std::vector<std::string>& args);

// Opens the inputs and outputs through the converter component, prints the
// output streams and converts on a worker thread, with progress lines and
// the result on stderr. Options no library knows, refused values and an
// existing output file without "-y" fail before anything is written.
// Returns 0 when the conversion finished; 1 when it failed (the error text
// on stderr) or was stopped by Ctrl-C, SIGTERM or SIGHUP. The hidden
// argument "--invert-hook" inverts every decoded picture in the frame hook.
int RunConvertCommand(const std::vector<std::string>& args);
